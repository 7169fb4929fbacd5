// A DTMF scan of one wave file: the chain file -> trigger -> peak detector,
// with the decision run for every buffer the trigger hands on.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DtmfDecision.h"
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
  std::string keys;
  std::vector<ScanKey> events;
};

class DtmfScanner {
 public:
  DtmfScanner();
  ~DtmfScanner();
  DtmfScanner(const DtmfScanner&) = delete;
  DtmfScanner& operator=(const DtmfScanner&) = delete;

  // Threshold in the detector's bin units (the desktop slider: 50..525).
  int32_t Threshold = 50;
  // Batch use hands buffers on back to back; the desktop program paces.
  bool Paced = true;
  DtmfDecision Decision;
  // Percent of the file scanned, from the worker thread.
  std::function<void(int percent)> OnProgress;

  // Scans a PCM file from start to end on the calling thread's dispatcher
  // loop (which must be the main dispatcher) and answers the keys found.
  // Errors of the file and the chain propagate.
  ScanResult Scan(const std::string& fileName);

  TMMWaveFile& WavePlayer() { return *wavePlayer_; }
  TMMTrigger& Trigger() { return *trigger_; }
  TMMPeakDetect& PeakDetect() { return *peakDetect_; }

 private:
  std::unique_ptr<TMMWaveFile> wavePlayer_;
  std::unique_ptr<TMMTrigger> trigger_;
  std::unique_ptr<TMMPeakDetect> peakDetect_;
};

}  // namespace tv
