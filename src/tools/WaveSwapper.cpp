#include "WaveSwapper.h"

#include <cmath>
#include <utility>
#include <vector>

#include "MMErrors.h"
#include "TMMWave.h"
#include "TempFile.h"
#include "WaveNames.h"

namespace tv {

std::string WaveSwapper::SwapName(const std::string& source) { return DerivedFileName(source, "_Swap"); }

SwapOutcome WaveSwapper::Swap(const std::string& source) {
  SwapOutcome out;
  TMMWave src;
  src.SetTimeFormat(tfByte);
  src.SetFileName(source);
  const WAVEFORMATEX* f = src.PWaveFormat();
  // Any other layout would come out as noise: 16-bit stereo PCM only.
  if (f == nullptr || f->wFormatTag != WAVE_FORMAT_PCM || f->wBitsPerSample != 16 || src.Mode() != mStereo) {
    return out;
  }
  out.valid = true;
  TempFile work(SwapName(src.FileName()));
  TMMWave dst;
  dst.SetFileMustExist(false);
  dst.SetTimeFormat(tfByte);
  dst.CreateFile(work.Name(), f);
  const int64_t total = src.DataSize();
  src.OpenFile();
  std::vector<uint8_t> block(kBlock);
  int64_t remaining = total;
  bool failed = false;
  while (remaining > 0) {
    const int64_t before = src.BytesLeft();
    const int32_t n = src.ReadData(block.data(), static_cast<int32_t>(std::min<int64_t>(remaining, kBlock)));
    if (n <= 0 || (src.BytesLeft() == 0 && before > n)) {
      out.truncated = true;
      break;
    }
    for (int32_t i = 0; i + 4 <= n; i += 4) {
      std::swap(block[static_cast<size_t>(i)], block[static_cast<size_t>(i + 2)]);
      std::swap(block[static_cast<size_t>(i + 1)], block[static_cast<size_t>(i + 3)]);
    }
    if (dst.WriteData(block.data(), n) != n) {
      failed = true;
      break;
    }
    remaining -= n;
    bool cancel = false;
    if (OnProgress) {
      OnProgress(static_cast<int>(std::llround(static_cast<double>(total - remaining) * 100.0 /
                                                static_cast<double>(total))),
                 cancel);
    }
    if (cancel) {
      out.cancelled = true;
      break;
    }
  }
  (void)src.CloseFile();  // only read: nothing of it can be lost
  if (!dst.CloseFile()) failed = true;
  if (failed) throw EMMWaveError(LoadResString(SUnableToConvert));
  if (out.cancelled) return out;
  out.bytes = dst.DataSize();
  dst.SetFileName({});
  if (!work.Commit()) throw EMMWaveError(LoadResString(SUnableToCreateWaveFile));
  out.destination = work.Target();
  return out;
}

}  // namespace tv
