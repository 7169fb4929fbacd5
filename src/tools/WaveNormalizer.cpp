#include "WaveNormalizer.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "MMPCMSup.h"
#include "TMMWave.h"
#include "TempFile.h"

namespace tv {

namespace {

constexpr int32_t kBlock = 4096;

int Percent(int64_t done, int64_t total) {
  if (total <= 0) return 100;
  return static_cast<int>(std::llround(static_cast<double>(done) * 100.0 / static_cast<double>(total)));
}

int32_t Magnitude(int32_t raw, bool eightBit) {
  const int32_t v = eightBit ? raw - 128 : raw;
  return v < 0 ? -v : v;
}

// The loudest raw sample of one channel result of a block. An 8-bit block
// of pure silence comes back as raw 0, which would read as full scale.
bool Genuine(int32_t raw, bool eightBit, const uint8_t* block, int32_t bytes) {
  return !(eightBit && raw == 0 && std::memchr(block, 0, static_cast<size_t>(bytes)) == nullptr);
}

void Scale(uint8_t* block, int32_t bytes, bool eightBit, long double gain) {
  if (eightBit) {
    for (int32_t i = 0; i < bytes; ++i) {
      const long v = std::lrint(static_cast<long double>(block[i] - 128) * gain) + 128;
      block[i] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
    return;
  }
  for (int32_t i = 0; i + 1 < bytes; i += 2) {
    int16_t s;
    std::memcpy(&s, block + i, 2);
    long v = std::lrint(static_cast<long double>(s) * gain);
    v = v < -32768 ? -32768 : (v > 32767 ? 32767 : v);
    s = static_cast<int16_t>(v);
    std::memcpy(block + i, &s, 2);
  }
}

}  // namespace

std::string WaveNormalizer::GainText(long double gain) {
  char text[64];
  std::snprintf(text, sizeof text, "%7.4Lf db", gain);
  return text;
}

NormalizeOutcome WaveNormalizer::Normalize(const std::string& source,
                                           const std::function<std::string()>& chooseDestination) {
  NormalizeOutcome out;
  TMMWave src;
  src.SetTimeFormat(tfByte);
  src.SetFileName(source);
  const WAVEFORMATEX* f = src.PWaveFormat();
  if (f == nullptr || f->wFormatTag != WAVE_FORMAT_PCM) return out;
  out.pcm = true;
  const bool eightBit = f->wBitsPerSample == 8;
  out.fullScale = eightBit ? 127 : 32767;
  out.peak = eightBit ? 128 : 0;
  const int64_t total = src.DataSize();
  std::vector<uint8_t> block(kBlock);

  src.OpenFile();
  int64_t remaining = total;
  int64_t processed = 0;
  while (remaining > 0) {
    const int32_t n = src.ReadData(block.data(), static_cast<int32_t>(std::min<int64_t>(remaining, kBlock)));
    if (n <= 0) {
      out.truncated = true;
      break;
    }
    int32_t first = 0, second = 0;
    FindPeakSamples(block.data(), n, f, first, second);
    for (int32_t raw : {first, second}) {
      if (Genuine(raw, eightBit, block.data(), n) &&
          Magnitude(raw, eightBit) > Magnitude(out.peak, eightBit)) {
        out.peak = raw;
      }
    }
    remaining -= n;
    processed += n;
    if (OnProgress) OnProgress(NormalizePhase::Scanning, Percent(processed, total));
  }
  out.magnitude = Magnitude(out.peak, eightBit);
  // A silent file has nothing to scale; one at full scale needs nothing.
  out.needsGain = out.magnitude > 0 && out.magnitude < out.fullScale;
  if (!out.needsGain) {
    (void)src.CloseFile();  // only read
    if (OnPeakFound) OnPeakFound(out);
    return out;
  }
  out.gain = static_cast<long double>(out.fullScale) / out.magnitude;
  if (OnPeakFound) OnPeakFound(out);

  const std::string target = chooseDestination ? chooseDestination() : std::string();
  // Written under a work name beside the target and renamed when complete:
  // a failed run leaves an older file of the target's name as it was, and a
  // reader of that name never sees a half-written file.
  std::optional<TempFile> work;
  TMMWave dst;
  dst.SetTimeFormat(tfByte);
  if (!target.empty()) {
    work.emplace(target);
    dst.SetFileMustExist(false);
    dst.CreateFile(work->Name(), f);
  }
  src.SetPosition(0);
  remaining = total;
  processed = 0;
  bool writeFailed = false;
  errno = 0;
  while (remaining > 0) {
    const int32_t n = src.ReadData(block.data(), static_cast<int32_t>(std::min<int64_t>(remaining, kBlock)));
    if (n <= 0) {
      out.truncated = true;
      break;
    }
    Scale(block.data(), n, eightBit, out.gain);
    if (!target.empty() && dst.WriteData(block.data(), n) != n) writeFailed = true;
    remaining -= n;
    processed += n;
    if (OnProgress) OnProgress(NormalizePhase::Normalizing, Percent(processed, total));
    if (writeFailed) break;
  }
  (void)src.CloseFile();  // only read
  if (!target.empty()) {
    // A file that could not be finished is not handed on as the result.
    if (!dst.CloseFile()) writeFailed = true;
    const int cause = errno;
    if (writeFailed) {
      work->Discard();
      std::string why = "Unable to write " + target;
      if (cause == ENOSPC || cause == EDQUOT) why += ": the disk is full";
      else if (cause != 0) why += std::string(": ") + std::strerror(cause);
      throw EMMWaveError(why);
    }
    dst.SetFileName({});
    if (!work->Commit()) throw EMMWaveError("Unable to write " + target);
    out.destination = target;
  }
  return out;
}

}  // namespace tv
