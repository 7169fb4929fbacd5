#include "WaveSplitter.h"

#include <cmath>
#include <vector>

#include "MMErrors.h"
#include "TMMWave.h"
#include "TempFile.h"
#include "WaveNames.h"

namespace tv {

namespace {

int Percent(int64_t done, int64_t total) {
  if (total <= 0) return 100;
  return static_cast<int>(std::llround(static_cast<double>(done) * 100.0 / static_cast<double>(total)));
}

}  // namespace

std::string WaveSplitter::LeftName(const std::string& source) { return DerivedFileName(source, "_L"); }
std::string WaveSplitter::RightName(const std::string& source) { return DerivedFileName(source, "_R"); }

SplitOutcome WaveSplitter::Split(const std::string& source) {
  SplitOutcome out;
  TMMWave src;
  src.SetTimeFormat(tfByte);
  src.SetFileName(source);
  const WAVEFORMATEX* f = src.PWaveFormat();
  if (f == nullptr || f->wFormatTag != WAVE_FORMAT_PCM || f->wBitsPerSample != 16 || src.Mode() != mStereo) {
    return out;
  }
  out.valid = true;
  const std::string full = src.FileName();
  WaveFormatPtr mono = MakePcmFormat(16, 1, static_cast<int>(f->nSamplesPerSec));
  TempFile leftWork(LeftName(full)), rightWork(RightName(full));
  TMMWave left, right;
  for (TMMWave* w : {&left, &right}) {
    w->SetFileMustExist(false);
    w->SetTimeFormat(tfByte);
  }
  left.CreateFile(leftWork.Name(), mono.get());
  right.CreateFile(rightWork.Name(), mono.get());

  const int64_t total = src.DataSize();
  src.OpenFile();
  std::vector<uint8_t> block(kBlock), l(kBlock / 2), r(kBlock / 2);
  int64_t remaining = total;
  bool failed = false;
  while (remaining > 0) {
    const int64_t before = src.BytesLeft();
    const int32_t n = src.ReadData(block.data(), static_cast<int32_t>(std::min<int64_t>(remaining, kBlock)));
    if (n <= 0) {
      out.truncated = true;
      break;
    }
    // The file ended early: what came back is the wave's end marker, not audio.
    if (src.BytesLeft() == 0 && before > n) {
      out.truncated = true;
      break;
    }
    const int32_t frames = n / 4;
    for (int32_t i = 0; i < frames; ++i) {
      l[static_cast<size_t>(2 * i)] = block[static_cast<size_t>(4 * i)];
      l[static_cast<size_t>(2 * i + 1)] = block[static_cast<size_t>(4 * i + 1)];
      r[static_cast<size_t>(2 * i)] = block[static_cast<size_t>(4 * i + 2)];
      r[static_cast<size_t>(2 * i + 1)] = block[static_cast<size_t>(4 * i + 3)];
    }
    if (frames > 0 && (left.WriteData(l.data(), 2 * frames) != 2 * frames ||
                       right.WriteData(r.data(), 2 * frames) != 2 * frames)) {
      failed = true;
      break;
    }
    remaining -= n;
    bool cancel = false;
    if (OnProgress) OnProgress(Percent(total - remaining, total), cancel);
    if (cancel) {
      out.cancelled = true;
      break;
    }
  }
  (void)src.CloseFile();  // only read: nothing of it can be lost
  if (!left.CloseFile()) failed = true;
  if (!right.CloseFile()) failed = true;
  if (failed) throw EMMWaveError(LoadResString(SUnableToConvert));
  if (out.cancelled) return out;
  out.leftBytes = left.DataSize();
  out.rightBytes = right.DataSize();
  left.SetFileName({});
  right.SetFileName({});
  if (!leftWork.Commit() || !rightWork.Commit()) throw EMMWaveError(LoadResString(SUnableToCreateWaveFile));
  out.left = leftWork.Target();
  out.right = rightWork.Target();
  return out;
}

}  // namespace tv
