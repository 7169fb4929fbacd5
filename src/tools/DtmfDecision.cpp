#include "DtmfDecision.h"

#include "TMMPeakDetect.h"

namespace tv {

DtmfDecision::DtmfDecision() {
  for (auto& f : columnFreq_) f.store(0);
  for (auto& f : rowFreq_) f.store(0);
  SetStandard();
  keyReleased_ = false;
}

void DtmfDecision::SetStandard() {
  SetFrequencies(kStandardColumnFreq, kStandardRowFreq);
  std::lock_guard lock(charsLock_);
  keyChar_ = StandardKeyChars();
}

void DtmfDecision::SetFrequencies(const std::array<int32_t, 4>& columns,
                                  const std::array<int32_t, 4>& rows) {
  for (size_t i = 0; i < 4; ++i) {
    columnFreq_[i].store(columns[i]);
    rowFreq_[i].store(rows[i]);
  }
}

void DtmfDecision::SetKeyChar(int index, const std::string& text) {
  std::lock_guard lock(charsLock_);
  keyChar_.at(static_cast<size_t>(index)) = text;
}

std::string DtmfDecision::KeyChar(int index) const {
  std::lock_guard lock(charsLock_);
  return keyChar_.at(static_cast<size_t>(index));
}

int DtmfDecision::Decide(const TMMPeakDetect& detector, int32_t threshold) {
  return DecideWith(
      [&detector](float hz) { return detector.BinValue(detector.FrequencyToIndex(hz)); },
      threshold);
}

}  // namespace tv
