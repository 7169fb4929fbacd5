#include "TMMWaveRecorder.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "MMDispatch.h"
#include "MMErrors.h"
#include "MMNotice.h"
#include "MMPCMSup.h"

namespace tv {

TMMWaveRecorder::TMMWaveRecorder(std::string name)
    : TMMDSPComponent(std::move(name)), waveIn_("WaveIn"), writer_("WaveFile") {
  Wire();
}

TMMWaveRecorder::TMMWaveRecorder(std::string name, TMMWaveDevices& devices)
    : TMMDSPComponent(std::move(name)), waveIn_("WaveIn", devices), writer_("WaveFile") {
  Wire();
}

TMMWaveRecorder::~TMMWaveRecorder() {
  // Whoever listened may be gone already.
  OnStart = OnStop = OnPause = OnRestart = OnChange = OnError = nullptr;
  OnData = nullptr;
  try {
    Stop();
    waveIn_.Close();
  } catch (const std::exception&) {
    // The input is closed whatever its stop said; the file is finished.
  }
  writer_.OnChange = writer_.OnChanged = writer_.OnClose = nullptr;
  waveIn_.SetOutput(nullptr);
  writer_.SetOutput(nullptr);
  Unlink();
}

void TMMWaveRecorder::Wire() {
  Wave().SetFileMustExist(false);
  waveIn_.SetOutput(&writer_);
  // The recorder publishes no Input: it takes the writer as its upstream
  // neighbour by leave of this one link.
  AcceptsInputLink = true;
  writer_.SetOutput(this);
  AcceptsInputLink = false;

  waveIn_.OnOpen = [this](TMMDSPComponent*) {
    if (OnStart) OnStart(this);
  };
  // A stop of the input's own (MaxRecordTime, a deferred stop) ends the
  // recording as Stop does.
  waveIn_.OnStop = [this](TMMDSPComponent*) {
    waveIn_.Close();
    if (OnStop) OnStop(this);
  };
  waveIn_.OnPause = [this](TMMDSPComponent*) {
    if (OnPause) OnPause(this);
  };
  waveIn_.OnRestart = [this](TMMDSPComponent*) {
    if (OnRestart) OnRestart(this);
  };
  waveIn_.OnError = [this](TMMDSPComponent*) {
    if (OnError) OnError(this);
  };
  waveIn_.OnBufferReady = [this](TMMDSPComponent*, PWaveHdr buffer) {
    if (OnData) OnData(this, buffer);
  };
  writer_.OnChange = [this](TMMDSPComponent*) {
    changing_.store(true);
    Stop();
    if (OnChange) OnChange(this);
  };
  writer_.OnChanged = [this](TMMDSPComponent*) { changing_.store(false); };
  writer_.OnClose = [this](TMMDSPComponent*) { WriterClosed(); };
}

void TMMWaveRecorder::WriterClosed() {
  // The writer closes itself when the disk fills or a write fails: the
  // capture must end with it. The delivery that stored the last buffer may
  // be waiting for this very call, so the stop is not waited for.
  StopRecording(false);
  const std::string error = writer_.WriteError();
  if (error.empty() || errorReported_.exchange(true)) return;
  if (OnError) OnError(this);
  try {
    throw EMMWaveError(error);
  } catch (const EMMWaveError&) {
    HandleApplicationError();
  }
}

void TMMWaveRecorder::Record() {
  if (waveIn_.IsStarted() || Wave().FileName().empty()) return;
  errorReported_.store(false);
  // What the file holds already, when the recording is appended to it.
  startPosition_ = OverwriteExisting() ? 0 : std::max<int64_t>(0, Wave().DataSize());
  waveIn_.Start();
}

void TMMWaveRecorder::Stop() { StopRecording(true); }

void TMMWaveRecorder::StopRecording(bool wait) {
  // The input's own stop walk reaches here too, its started bit already
  // cleared: then only this node's flags change.
  if (waveIn_.IsStarted() || waveIn_.IsPaused()) {
    waveIn_.Stop();
    waveIn_.Close();
    // A delivery under way on the capture thread defers the stop to the
    // main thread. The caller expects a finished file when Stop returns
    // (the window loads it at once), so the main thread waits for it.
    if (wait && waveIn_.IsOpen() && waveIn_.CallBackMode() == cmThread &&
        MainDispatcher().IsMainThread()) {
      MainDispatcher().RunUntil([this] { return !waveIn_.IsOpen(); }, std::chrono::seconds(5));
    }
  }
  TMMDSPComponent::Stop();
}

void TMMWaveRecorder::Pause() {
  // The input's pause walk comes back here with the input already paused.
  if (waveIn_.IsStarted() && !waveIn_.IsPaused()) {
    waveIn_.Pause();
  } else {
    TMMDSPComponent::Pause();
  }
}

void TMMWaveRecorder::Restart() {
  if (waveIn_.IsStarted() && waveIn_.IsPaused()) {
    waveIn_.Restart();
  } else {
    TMMDSPComponent::Restart();
  }
}

int64_t TMMWaveRecorder::Position() const {
  if (waveIn_.IsOpen()) {
    int64_t p = waveIn_.Position();
    if (!OverwriteExisting()) p += startPosition_;
    return p;
  }
  return OverwriteExisting() ? 0 : std::max<int64_t>(0, Wave().Position());
}

void TMMWaveRecorder::SetBufferSize(int32_t value) {
  // A driver's open walk hands down the input's own size: nothing to pass on.
  if (value != waveIn_.BufferSize()) waveIn_.SetBufferSize(value);
  StoreBufferSize(value);
}

void TMMWaveRecorder::SetTimeFormat(TMMTimeFormats value) {
  waveIn_.SetTimeFormat(value);
  Wave().SetTimeFormat(value);
}

std::string TMMWaveRecorder::InputFormat() const {
  const WAVEFORMATEX* f = waveIn_.PWaveFormat();
  const std::string unknown = "Unknown";
  if (f == nullptr) return unknown;
  const std::string text = WaveFormatText(f);
  if (text.empty() || text == unknown) return unknown;
  return FormatTagName(f) + " " + text;
}

void TMMWaveRecorder::SetInputFormat(const std::string&) {
  ShowInformation(Name().empty() ? "TMMWaveRecorder" : Name(),
                  LoadResString(SReadOnlyInputFormat));
}

void TMMWaveRecorder::SetPWaveFormat(const WAVEFORMATEX* value) {
  // A file being loaded into the Wave does not change what is recorded.
  if (changing_.load()) return;
  if (value != nullptr && !SameWaveFormat(waveIn_.PWaveFormat(), value)) {
    // The input hands it down through the writer, back to here.
    waveIn_.SetPWaveFormat(value);
    return;
  }
  TMMDSPComponent::SetPWaveFormat(value);
}

std::vector<uint8_t> TMMWaveRecorder::StoredWaveFormat() const {
  const WAVEFORMATEX* f = waveIn_.PWaveFormat();
  if (f == nullptr || f->wFormatTag == WAVE_FORMAT_PCM) return {};
  const auto* bytes = reinterpret_cast<const uint8_t*>(f);
  return std::vector<uint8_t>(bytes, bytes + WaveFormatSize(f));
}

void TMMWaveRecorder::LoadStoredWaveFormat(std::span<const uint8_t> bytes) {
  if (bytes.size() < 18) return;
  WaveFormatPtr f = AllocWaveFormat(bytes.size());
  std::memcpy(f.get(), bytes.data(), bytes.size());
  // A record that claims more extra bytes than were stored is damaged.
  if (WaveFormatSize(f.get()) > bytes.size()) return;
  waveIn_.SetPWaveFormat(f.get());
}

}  // namespace tv
