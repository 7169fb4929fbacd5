#include "DtmfScanner.h"

#include <atomic>
#include <chrono>
#include <mutex>

#include "MMDispatch.h"
#include "TMMPeakDetect.h"
#include "TMMTrigger.h"
#include "TMMWave.h"
#include "TMMWaveFile.h"

namespace tv {

int32_t ScanBufferSize(const WAVEFORMATEX* f) {
  if (f == nullptr || f->nSamplesPerSec != 44100) return 4096;
  if (f->wBitsPerSample == 16 && f->nChannels == 2) return 6144;
  return 2048;
}

DtmfScanner::DtmfScanner()
    : wavePlayer_(std::make_unique<TMMWaveFile>("WavePlayer")),
      trigger_(std::make_unique<TMMTrigger>("Trigger")),
      peakDetect_(std::make_unique<TMMPeakDetect>("MMPeakDetect1")) {
  wavePlayer_->Wave().SetTimeFormat(tfMillisecond);
  trigger_->SetInterval(5);
  peakDetect_->SetFFTLength(16384);
  peakDetect_->SetWindow(fwWelch);
}

DtmfScanner::~DtmfScanner() {
  trigger_->Close();
  trigger_.reset();
}

ScanResult DtmfScanner::Scan(const std::string& fileName) {
  ScanResult result;
  wavePlayer_->Wave().SetFileName(fileName);
  const WAVEFORMATEX* format = wavePlayer_->Wave().PWaveFormat();

  // The scan chain: nothing after the detector.
  trigger_->Close();
  trigger_->SetInput(wavePlayer_.get());
  trigger_->SetOutput(peakDetect_.get());
  peakDetect_->SetOutput(nullptr);
  peakDetect_->SetEnabled(true);
  trigger_->SetPaced(Paced);
  trigger_->SetBufferSize(0);
  trigger_->SetBufferSize(ScanBufferSize(format));

  const int64_t bytesPerSecond = format != nullptr ? format->nAvgBytesPerSec : 0;
  const int64_t lengthMs = wavePlayer_->Wave().DataSize();
  std::mutex lock;
  int64_t offset = 0;  // bytes handed on before the current buffer
  std::atomic<bool> stopped{false};
  trigger_->OnBufferReady = [&](TMMDSPComponent*, PWaveHdr buffer) {
    const int index = Decision.Decide(*peakDetect_, Threshold);
    if (index >= 0) {
      const int64_t ms = bytesPerSecond > 0 ? offset * 1000 / bytesPerSecond : 0;
      std::lock_guard guard(lock);
      const std::string key = Decision.KeyChar(index);
      result.keys += key;
      result.events.push_back(ScanKey{key, ms});
    }
    offset += buffer->dwBytesRecorded;
    if (OnProgress && lengthMs > 0) {
      OnProgress(static_cast<int>(wavePlayer_->Wave().Position() * 100 / lengthMs));
    }
  };
  trigger_->OnStop = [&](TMMDSPComponent*) { stopped.store(true); };
  trigger_->Start();

  Dispatcher& main = MainDispatcher();
  auto* loop = dynamic_cast<LoopDispatcher*>(&main);
  while (!stopped.load()) {
    if (loop != nullptr) {
      loop->RunUntil([&] { return stopped.load(); }, std::chrono::seconds(1));
    } else {
      main.ProcessMessages();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  trigger_->Close();
  trigger_->OnBufferReady = nullptr;
  trigger_->OnStop = nullptr;
  std::lock_guard guard(lock);
  return result;
}

}  // namespace tv
