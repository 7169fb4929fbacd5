#include "DtmfScanner.h"

#include <chrono>
#include <stdexcept>

#include "MMDispatch.h"
#include "TMMPeakDetect.h"
#include "TMMTrigger.h"
#include "TMMWave.h"
#include "TMMWaveFile.h"

namespace tv {

namespace {

std::unique_ptr<TMMWaveFile> MakePlayer() {
  auto player = std::make_unique<TMMWaveFile>("WavePlayer");
  player->Wave().SetTimeFormat(tfMillisecond);
  return player;
}

std::unique_ptr<TMMPeakDetect> MakeDetector() {
  auto detector = std::make_unique<TMMPeakDetect>("MMPeakDetect1");
  detector->SetFFTLength(16384);
  detector->SetWindow(fwWelch);
  return detector;
}

}  // namespace

int32_t ScanBufferSize(const WAVEFORMATEX* f) {
  if (f == nullptr || f->nSamplesPerSec != 44100) return 4096;
  if (f->wBitsPerSample == 16 && f->nChannels == 2) return 6144;
  return 2048;
}

DtmfScanner::DtmfScanner()
    : ownPlayer_(MakePlayer()),
      ownDetector_(MakeDetector()),
      wavePlayer_(*ownPlayer_),
      peakDetect_(*ownDetector_),
      trigger_(std::make_unique<TMMTrigger>("Trigger")) {
  WireTrigger();
}

DtmfScanner::DtmfScanner(TMMWaveFile& wavePlayer, TMMPeakDetect& peakDetect)
    : wavePlayer_(wavePlayer),
      peakDetect_(peakDetect),
      trigger_(std::make_unique<TMMTrigger>("Trigger")) {
  WireTrigger();
}

void DtmfScanner::WireTrigger() {
  trigger_->SetInterval(5);
  trigger_->OnBufferReady = [this](TMMDSPComponent* s, PWaveHdr h) { TriggerBufferReady(s, h); };
  trigger_->OnStop = [this](TMMDSPComponent* s) { TriggerStop(s); };
  // The error that ends a run is this scan's to report, not the
  // application's: it comes back with the result.
  trigger_->OnWorkerError = [this](TMMDSPComponent*, const std::exception_ptr& error) {
    std::lock_guard guard(runLock_);
    run_.result.error = error;
  };
}

DtmfScanner::~DtmfScanner() {
  alive_.reset();
  trigger_->OnStop = nullptr;
  {
    std::lock_guard guard(runLock_);
    run_.result.cancelled = true;
  }
  trigger_.reset();
}

void DtmfScanner::PrepareFileScan() {
  peakDetect_.SetEnabled(true);
  wavePlayer_.SetOutput(trigger_.get());
  trigger_->SetOutput(&peakDetect_);
  peakDetect_.SetOutput(nullptr);
}

bool DtmfScanner::Busy() const {
  std::lock_guard guard(runLock_);
  return run_.busy;
}

void DtmfScanner::Start() {
  if (Busy()) throw std::logic_error("A scan is already under way");
  TMMWave& wave = wavePlayer_.Wave();
  const WAVEFORMATEX* format = wave.PWaveFormat();
  trigger_->Close();
  PrepareFileScan();
  trigger_->SetPaced(paced_.load());
  trigger_->SetBufferSize(0);
  trigger_->SetBufferSize(ScanBufferSize(format));
  {
    std::lock_guard guard(runLock_);
    run_ = Run{};
    run_.result.fileName = wave.FileName();
    run_.bytesPerSecond = format != nullptr ? format->nAvgBytesPerSec : 0;
    run_.length = wave.DataSize();
    run_.busy = true;
  }
  try {
    trigger_->Start();
  } catch (...) {
    std::lock_guard guard(runLock_);
    run_.busy = false;
    throw;
  }
}

void DtmfScanner::Cancel() {
  {
    std::lock_guard guard(runLock_);
    if (!run_.busy || run_.stopped || run_.result.cancelled) return;
    run_.result.cancelled = true;
  }
  // With a buffer in flight the close completes once it is through.
  trigger_->Close();
}

void DtmfScanner::TriggerBufferReady(TMMDSPComponent*, PWaveHdr buffer) {
  // The trigger fires OnBufferReady before it hands the buffer on to the
  // detector: the bins read here are those of the previous buffer (all
  // zero at the first call of a scan), and this buffer's bins are read at
  // the next call. So the buffer that ends the file never decides a key.
  const int index = decision_.Decide(peakDetect_, threshold_.load());
  std::lock_guard guard(runLock_);
  if (run_.result.cancelled) return;
  if (index >= 0) {
    const int64_t ms = run_.bytesPerSecond > 0 ? run_.offset * 1000 / run_.bytesPerSecond : 0;
    ScanKey key{decision_.KeyChar(index), ms};
    run_.result.keys += key.key;
    run_.result.events.push_back(key);
    if (OnKey) OnKey(this, key);
  }
  run_.offset += buffer->dwBytesRecorded;
  if (run_.length > 0) {
    const auto percent = static_cast<int>(wavePlayer_.Wave().Position() * 100 / run_.length);
    if (percent != run_.percent) {
      run_.percent = percent;
      if (OnProgress) OnProgress(this, percent);
    }
  }
}

void DtmfScanner::TriggerStop(TMMDSPComponent*) {
  {
    std::lock_guard guard(runLock_);
    if (!run_.busy) return;
    run_.stopped = true;
  }
  // The trigger is in the middle of stopping: it is closed, and the scan
  // reported finished, once that is through.
  std::weak_ptr<int> alive = alive_;
  MainDispatcher().Post([this, alive] {
    if (!alive.expired()) Finish();
  });
}

void DtmfScanner::Finish() {
  trigger_->Close();
  // A close that waits behind a buffer in flight ends with another stop,
  // which finishes the scan then.
  if (trigger_->IsOpen()) return;
  ScanResult result;
  {
    std::lock_guard guard(runLock_);
    if (!run_.busy) return;
    run_.busy = false;
    result = std::move(run_.result);
  }
  last_ = result;
  if (OnFinished) OnFinished(this, result);
}

ScanResult DtmfScanner::Scan(const std::string& fileName) {
  wavePlayer_.Wave().SetFileName(fileName);
  Start();
  Dispatcher& main = MainDispatcher();
  while (!main.RunUntil([this] { return !Busy(); }, std::chrono::seconds(1))) {
  }
  if (last_.error) std::rethrow_exception(last_.error);
  return last_;
}

}  // namespace tv
