#include "AudioFileConverter.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <filesystem>
#include <thread>

#include "TMMAudioFile.h"
#include "MMDispatch.h"
#include "TMMTrigger.h"
#include "TMMWaveFile.h"
#include "TempFile.h"

namespace tv {

namespace {

std::string CurrentMessage() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return LoadResString(SUnableToConvert);
  }
}

}  // namespace

AudioFileConverter::AudioFileConverter()
    : audioFile_(std::make_unique<TMMAudioFile>("AudioFile")),
      trigger_(std::make_unique<TMMTrigger>("Trigger")),
      waveFile_(std::make_unique<TMMWaveFile>("WaveFile")) {
  audioFile_->SetMpegTrailingHeader(0);
  waveFile_->Wave().SetFileMustExist(false);
  trigger_->SetBufferSize(kBufferSize);
  // Offline work: as fast as the decoder goes.
  trigger_->SetPaced(false);

  // Reading errors arrive on the worker thread, inside the reader's catch.
  audioFile_->OnError = [this](TMMDSPComponent*, bool& handled) {
    Fail(CurrentMessage());
    handled = true;
  };
  trigger_->OnErrorEx = [this](TMMDSPComponent*, bool& handled) {
    Fail(CurrentMessage());
    handled = true;
  };
  trigger_->OnBufferReady = [this](TMMDSPComponent*, PWaveHdr) {
    const int64_t length = audioFile_->FileLength();
    if (length <= 0 || !OnProgress) return;
    const int percent = static_cast<int>(std::clamp<int64_t>(
        (audioFile_->PositionMs() * 100 + length / 2) / length, 0, 100));
    if (lastPercent_.exchange(percent) == percent) return;
    std::weak_ptr<int> alive = alive_;
    MainDispatcher().Post([this, alive, percent] {
      if (!alive.expired() && running_.load() && OnProgress) OnProgress(percent);
    });
  };
  trigger_->OnStop = [this](TMMDSPComponent*) { stopped_.store(true); };
  // The writer closes itself when the disk is full: the file is short.
  waveFile_->OnClose = [this](TMMDSPComponent*) {
    if (running_.load() && !stopRequested_.load() && !stopped_.load() && trigger_->IsStarted()) {
      Fail(LoadResString(SUnableToConvert));
    }
  };
}

AudioFileConverter::~AudioFileConverter() {
  alive_.reset();
  trigger_->Close();
  trigger_->SetInput(nullptr);
  trigger_->SetOutput(nullptr);
}

void AudioFileConverter::Load(const std::string& source) {
  trigger_->Close();
  trigger_->SetInput(nullptr);
  audioFile_->SetFileName({});
  audioFile_->SetFileName(source);
}

std::string AudioFileConverter::Source() const { return audioFile_->FileName(); }

void AudioFileConverter::Fail(const std::string& message) {
  {
    std::lock_guard guard(lock_);
    if (failure_.empty()) failure_ = message;
  }
  RequestStop();
}

void AudioFileConverter::RequestStop() {
  if (stopRequested_.exchange(true)) return;
  std::weak_ptr<int> alive = alive_;
  MainDispatcher().Post([this, alive] {
    if (alive.expired()) return;
    try {
      trigger_->Stop();
    } catch (...) {
      HandleApplicationError();
    }
  });
}

void AudioFileConverter::Cancel() {
  if (!running_.load()) return;
  cancelled_.store(true);
  RequestStop();
}

void AudioFileConverter::Convert(const std::string& target) {
  const std::string source = audioFile_->FileName();
  if (source.empty() || target.empty()) throw EMMWaveError(LoadResString(SInvalidParam));
  if (SameFile(source, target)) throw EMMWaveError(LoadResString(SWouldOverwriteSource));
  if (running_.load()) return;

  TempFile work(std::filesystem::absolute(target).string());
  {
    std::lock_guard guard(lock_);
    failure_.clear();
  }
  stopped_.store(false);
  cancelled_.store(false);
  stopRequested_.store(false);
  lastPercent_.store(-1);

  waveFile_->Wave().SetFileName(work.Name());
  trigger_->SetInput(audioFile_.get());
  trigger_->SetOutput(waveFile_.get());
  running_.store(true);
  struct Finish {
    AudioFileConverter* self;
    ~Finish() {
      self->running_.store(false);
      try {
        self->trigger_->Close();
      } catch (...) {
      }
      self->waveFile_->Wave().SetFileName({});
      if (self->OnFinish) self->OnFinish();
    }
  } finish{this};
  if (OnStart) OnStart();
  if (OnProgress) OnProgress(0);
  audioFile_->SetPositionMs(0);
  trigger_->Start();

  Dispatcher& main = MainDispatcher();
  auto* loop = dynamic_cast<LoopDispatcher*>(&main);
  while (!stopped_.load()) {
    if (loop != nullptr) {
      loop->RunUntil([&] { return stopped_.load(); }, std::chrono::seconds(1));
    } else {
      main.ProcessMessages();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  // Closing the chain finalises the wave file.
  trigger_->Close();
  main.ProcessMessages();
  std::string failure;
  {
    std::lock_guard guard(lock_);
    failure = failure_;
  }
  if (cancelled_.load()) throw EMMWaveError(LoadResString(SConversionAborted));
  if (!failure.empty()) throw EMMWaveError(failure);
  waveFile_->Wave().SetFileName({});
  if (!work.Commit()) throw EMMWaveError(LoadResString(SUnableToConvert));
  if (OnProgress) OnProgress(100);
}

}  // namespace tv
