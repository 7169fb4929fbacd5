// The per-buffer DTMF decision: sixteen key scores from eight bins of the
// peak detector, the threshold, and the one-buffer release rule. The desktop
// program and the command-line decoder both decide with this class.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "DtmfKeys.h"

namespace tv {

class TMMPeakDetect;

class DtmfDecision {
 public:
  DtmfDecision();

  // Standard frequencies and key characters, as at the window's first show.
  void SetStandard();
  // Frequencies in Hz, columns then rows: the frequency dialog's n1..n8.
  void SetFrequencies(const std::array<int32_t, 4>& columns, const std::array<int32_t, 4>& rows);
  int32_t ColumnFreq(int i) const { return columnFreq_[static_cast<size_t>(i)].load(); }
  int32_t RowFreq(int i) const { return rowFreq_[static_cast<size_t>(i)].load(); }
  void SetKeyChar(int index, const std::string& text);
  std::string KeyChar(int index) const;

  // Decides one buffer from the detector's bins. Answers the key index to
  // append, or -1. Runs on the scan's worker thread; allocates nothing.
  int Decide(const TMMPeakDetect& detector, int32_t threshold);
  // The same decision over any source of bin values: `binAt(hz)` answers
  // the value of the bin that holds the frequency.
  template <class BinAt>
  int DecideWith(const BinAt& binAt, int32_t threshold);

  int32_t KeySum(int index) const { return keySum_[static_cast<size_t>(index)]; }
  bool KeyReleased() const { return keyReleased_; }
  void SetKeyReleased(bool value) { keyReleased_ = value; }

 private:
  // Written by the user-interface thread, read by the worker without a
  // lock: a change made during a scan applies from the next buffer.
  std::array<std::atomic<int32_t>, 4> columnFreq_;
  std::array<std::atomic<int32_t>, 4> rowFreq_;
  std::array<int32_t, 16> keySum_{};
  mutable std::mutex charsLock_;
  std::array<std::string, 16> keyChar_;
  bool keyReleased_ = false;
};

template <class BinAt>
int DtmfDecision::DecideWith(const BinAt& binAt, int32_t threshold) {
  for (size_t k = 0; k < kDtmfKeys.size(); ++k) {
    const DtmfKey& key = kDtmfKeys[k];
    keySum_[k] = binAt(static_cast<float>(columnFreq_[static_cast<size_t>(key.column)].load())) +
                 binAt(static_cast<float>(rowFreq_[static_cast<size_t>(key.row)].load()));
  }
  int32_t best = 0;
  int bestIndex = 0;
  for (size_t k = 0; k < keySum_.size(); ++k) {
    if (keySum_[k] > best) {  // strictly greater: ties go to the lower index
      best = keySum_[k];
      bestIndex = static_cast<int>(k);
    }
  }
  if (threshold > best) {
    keyReleased_ = true;
  } else if (threshold < best && keyReleased_) {
    keyReleased_ = false;
    return bestIndex;
  }
  return -1;
}

}  // namespace tv
