// The DTMF scan of one wave file: the chain WavePlayer -> Trigger ->
// MMPeakDetect1, with a detector run for every buffer the trigger hands on:
// the described decision over the peak detector's bins, or the strict
// detector fed with the buffer's samples. The scan runs on the trigger's
// worker thread; the desktop program follows it through the scanner's
// events, the command-line decoder waits for it with Scan.
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
#include "StrictDtmfDetector.h"

namespace tv {

class TMMWaveFile;
class TMMTrigger;
class TMMPeakDetect;
class DecisionBins;

// Bytes per scan buffer for a file's format: 6144 for 44100 Hz 16-bit
// stereo, 2048 for other 44100 Hz files, 4096 for every other rate.
int32_t ScanBufferSize(const WAVEFORMATEX* format);

// Which detector a scan runs.
enum class DtmfDetectorKind { Described, Strict };

// Parses "described" or "strict"; false for anything else.
bool ParseDtmfDetectorKind(const std::string& text, DtmfDetectorKind& kind);
const char* DtmfDetectorKindName(DtmfDetectorKind kind);

struct ScanKey {
  std::string key;
  // Described keys: the start of the buffer whose decision reported the
  // key. Strict keys: the tone's start, rounded to the millisecond.
  int64_t positionMs = 0;
  // The rest is measured by the strict detector only.
  bool strict = false;
  double startMs = 0;
  double endMs = 0;
  int channel = 0;          // 0-based channel of the stream, or kMixChannel
  std::string channelName;  // "mono", "left", "right", "mix", ...
  double levelDb = 0;       // the pair's level, dBFS
  double twistDb = 0;       // high group minus low group
  double lowHz = 0;         // measured frequencies
  double highHz = 0;
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

  // The detector of the scans that start from now on (main thread). The
  // described one is the default, as in the desktop program.
  DtmfDetectorKind Detector() const { return detector_; }
  void SetDetector(DtmfDetectorKind value) { detector_ = value; }
  // The strict detector's limits and channel choice, from the next scan on.
  const StrictDtmfOptions& StrictOptions() const { return strictOptions_; }
  void SetStrictOptions(const StrictDtmfOptions& value) { strictOptions_ = value; }
  // For owners whose peak detector nobody else reads (the command-line
  // decoder): the described scan computes only the bins its decision
  // reads, from the same windowed samples, instead of the whole transform.
  // The keys are the same; a bin may differ from the transform's by
  // rounding.
  bool DecisionBinsOnly() const { return binsOnly_; }
  void SetDecisionBinsOnly(bool value) { binsOnly_ = value; }

  // On the scan's worker thread; they must not wait for the main thread.
  // No key and no progress comes after Cancel has returned. (Strict keys
  // still held when a file ends before its header says come from the main
  // thread, just before OnFinished.)
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
  // The described scan of a PCM wave file without writing a file: it is
  // converted to 16-bit stereo 44100 Hz and normalised as a load does,
  // block by block in memory (one pass for the peak, one for the scan),
  // and the decision runs on the scan's buffers from its own bins, with the
  // peak detector's length, window and channel. The keys and positions are
  // those of scanning the converted and normalised files; memory stays
  // bounded whatever the length. Runs on the calling thread, OnKey and
  // OnProgress with it; no OnFinished. Errors of the wave file layer are
  // thrown.
  ScanResult ScanConvertedInMemory(const std::string& fileName);
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
  void Report(const ScanKey& key);
  void StrictKey(const StrictDtmfKey& key);
  void ComputeDecisionBins(const uint8_t* data, int64_t bytes);

  std::unique_ptr<TMMWaveFile> ownPlayer_;
  std::unique_ptr<TMMPeakDetect> ownDetector_;
  TMMWaveFile& wavePlayer_;
  TMMPeakDetect& peakDetect_;
  std::unique_ptr<TMMTrigger> trigger_;
  DtmfDecision decision_;
  std::atomic<int32_t> threshold_{50};
  std::atomic<bool> paced_{true};
  DtmfDetectorKind detector_ = DtmfDetectorKind::Described;
  StrictDtmfOptions strictOptions_;
  bool binsOnly_ = false;
  // Worker-side state of the scan under way (set up by Start).
  StrictDtmfDetector strict_;
  std::unique_ptr<DecisionBins> bins_;

  // The scan under way, shared with the worker.
  struct Run {
    ScanResult result;
    int64_t bytesPerSecond = 0;
    int64_t length = 0;  // of the data, in the wave's time unit
    int64_t offset = 0;  // bytes handed on before the current buffer
    int percent = -1;
    DtmfDetectorKind detector = DtmfDetectorKind::Described;
    bool binsOnly = false;
    int64_t dataBytes = 0;
    int64_t fed = 0;          // bytes given to the strict detector
    bool strictDone = false;  // its Finish has run
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
