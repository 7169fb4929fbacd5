// The DTMF scan of one wave file: the chain WavePlayer -> Trigger ->
// MMPeakDetect1, with the decision run for every buffer the trigger hands
// on. The scan runs on the trigger's worker thread; the desktop program
// follows it through the scanner's events, the command-line decoder waits
// for it with Scan.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DtmfDecision.h"
#include "MMDSPObj.h"
#include "MMPCMSup.h"

namespace tv {

class TMMWaveFile;
class TMMTrigger;
class TMMPeakDetect;

// Bytes per scan buffer for a file's format: 6144 for 44100 Hz 16-bit
// stereo, 2048 for other 44100 Hz files, 4096 for every other rate.
int32_t ScanBufferSize(const WAVEFORMATEX* format);

struct ScanKey {
  std::string key;
  int64_t positionMs = 0;  // start of the buffer whose decision reported the key
};

struct ScanResult {
  std::string fileName;  // the file scanned, full path
  std::string keys;
  std::vector<ScanKey> events;
  bool cancelled = false;    // ended by Cancel before the end of the file
  std::exception_ptr error;  // what ended the scan early, if anything did
};

class DtmfScanner {
 public:
  using TScanKeyEvent = std::function<void(DtmfScanner* sender, const ScanKey& key)>;
  using TScanProgressEvent = std::function<void(DtmfScanner* sender, int percent)>;
  using TScanFinishedEvent = std::function<void(DtmfScanner* sender, const ScanResult& result)>;

  // A scanner with a chain of its own.
  DtmfScanner();
  // A scanner that runs its trigger between components its owner keeps
  // (the desktop program's player and detector, which other chains use
  // too). They must outlive the scanner.
  DtmfScanner(TMMWaveFile& wavePlayer, TMMPeakDetect& peakDetect);
  ~DtmfScanner();
  DtmfScanner(const DtmfScanner&) = delete;
  DtmfScanner& operator=(const DtmfScanner&) = delete;

  // The decision threshold in the detector's bin units (the desktop
  // slider: 50..525). It may change during a scan: it applies from the
  // next buffer.
  int32_t Threshold() const { return threshold_.load(); }
  void SetThreshold(int32_t value) { threshold_.store(value); }
  // Batch use hands buffers on back to back; the desktop program paces.
  bool Paced() const { return paced_.load(); }
  void SetPaced(bool value) { paced_.store(value); }
  DtmfDecision& Decision() { return decision_; }

  // On the scan's worker thread; they must not wait for the main thread.
  // No key and no progress comes after Cancel has returned.
  TScanKeyEvent OnKey;
  TScanProgressEvent OnProgress;  // each change of the percentage scanned
  // On the main thread, once for every scan that started, after its
  // trigger has closed: with every key reported, or the error that ended it.
  TScanFinishedEvent OnFinished;

  // Builds the chain WavePlayer -> Trigger -> MMPeakDetect1, nothing after
  // the detector.
  void PrepareFileScan();
  // Scans WavePlayer's file from the start (main thread). An error while
  // starting (no data, the chain refused to open) is thrown here, and then
  // no OnFinished follows. Refused while a scan is under way.
  void Start();
  // Ends the scan under way; OnFinished reports what was found up to here.
  void Cancel();
  // From Start until OnFinished has run.
  bool Busy() const;
  // Scans a file and waits for the end, running the main dispatcher (call
  // it on the main thread). An error that ended the scan is thrown here.
  ScanResult Scan(const std::string& fileName);
  // The result of the last scan that finished.
  const ScanResult& LastResult() const { return last_; }

  // The trigger's events: the decision for every buffer (worker thread),
  // the end of the run (main thread).
  void TriggerBufferReady(TMMDSPComponent* sender, PWaveHdr lpWaveHdr);
  void TriggerStop(TMMDSPComponent* sender);

  TMMWaveFile& WavePlayer() { return wavePlayer_; }
  TMMTrigger& Trigger() { return *trigger_; }
  TMMPeakDetect& PeakDetect() { return peakDetect_; }

 private:
  void WireTrigger();
  void Finish();

  std::unique_ptr<TMMWaveFile> ownPlayer_;
  std::unique_ptr<TMMPeakDetect> ownDetector_;
  TMMWaveFile& wavePlayer_;
  TMMPeakDetect& peakDetect_;
  std::unique_ptr<TMMTrigger> trigger_;
  DtmfDecision decision_;
  std::atomic<int32_t> threshold_{50};
  std::atomic<bool> paced_{true};

  // The scan under way, shared with the worker.
  struct Run {
    ScanResult result;
    int64_t bytesPerSecond = 0;
    int64_t length = 0;  // of the data, in the wave's time unit
    int64_t offset = 0;  // bytes handed on before the current buffer
    int percent = -1;
    bool busy = false;
    bool stopped = false;  // the trigger has stopped; the end is on its way
  };
  mutable std::mutex runLock_;
  Run run_;
  ScanResult last_;
  // Posted calls check it, so that none runs after the scanner is gone.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace tv
