#include "MMPCMSup.h"

#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "MMByteOrder.h"
#include "MMUtils.h"

namespace tv {

void WaveFormatDeleter::operator()(WAVEFORMATEX* p) const noexcept {
  delete[] reinterpret_cast<uint8_t*>(p);
}

WaveFormatPtr AllocWaveFormat(size_t bytes) {
  if (bytes < sizeof(WAVEFORMATEX)) bytes = sizeof(WAVEFORMATEX);
  auto* raw = new uint8_t[bytes]();
  return WaveFormatPtr(new (raw) WAVEFORMATEX{});
}

bool PcmFormatSupported(const WAVEFORMATEX* f) {
  return f != nullptr && f->wFormatTag == WAVE_FORMAT_PCM &&
         (f->wBitsPerSample == 8 || f->wBitsPerSample == 16) &&
         (f->nChannels == 1 || f->nChannels == 2 || f->nChannels == 4) &&
         f->nSamplesPerSec >= 4000 && f->nSamplesPerSec <= 100000;
}

WAVEFORMATEX& MakePcmFormat(WAVEFORMATEX& f, int bits, int channels, int rate) {
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = static_cast<uint16_t>(channels);
  f.nSamplesPerSec = static_cast<uint32_t>(rate);
  f.wBitsPerSample = static_cast<uint16_t>(bits);
  f.nBlockAlign = static_cast<uint16_t>(static_cast<uint16_t>(channels * bits) / 8);
  f.nAvgBytesPerSec = uint32_t{f.nBlockAlign} * static_cast<uint32_t>(rate);
  f.cbSize = 0;
  return f;
}

WaveFormatPtr MakePcmFormat(int bits, int channels, int rate) {
  WaveFormatPtr f = AllocWaveFormat(sizeof(WAVEFORMATEX));
  MakePcmFormat(*f, bits, channels, rate);
  return f;
}

uint32_t WaveFormatSize(const WAVEFORMATEX* f) {
  if (f == nullptr) return 0;
  if (f->wFormatTag == WAVE_FORMAT_PCM) return sizeof(WAVEFORMATEX);
  return sizeof(WAVEFORMATEX) + f->cbSize;
}

WaveFormatPtr CopyWaveFormat(const WAVEFORMATEX* f) {
  const uint32_t size = WaveFormatSize(f);
  if (size == 0) return nullptr;
  WaveFormatPtr copy = AllocWaveFormat(size);
  std::memcpy(copy.get(), f, size);
  if (copy->wFormatTag == WAVE_FORMAT_PCM) copy->cbSize = 0;
  return copy;
}

bool SameWaveFormat(const WAVEFORMATEX* a, const WAVEFORMATEX* b) {
  if (a == nullptr || b == nullptr) return a == b;
  const uint32_t size = WaveFormatSize(a);
  if (size != WaveFormatSize(b)) return false;
  if (a->wFormatTag == WAVE_FORMAT_PCM) return std::memcmp(a, b, 16) == 0;
  return std::memcmp(a, b, size) == 0;
}

uint8_t SilenceByte(const WAVEFORMATEX* f) {
  return (f != nullptr && f->wFormatTag == WAVE_FORMAT_PCM && f->wBitsPerSample == 8) ? 128 : 0;
}

namespace {

struct TagName {
  uint16_t tag;
  const char* name;
};

// Searched from the top; 0x0011 appears twice and the first row wins.
constexpr TagName kTagNames[] = {
    {0x0000, "Unknown"},
    {0x0001, "PCM"},
    {0x020C, "PCM 32"},
    {0x0002, "Microsoft ADPCM"},
    {0x0003, "Mediavision's ADPCM"},
    {0x0005, "IBM CVSD"},
    {0x0006, "CCITT A-Law"},
    {0x0007, "CCITT mu-Law"},
    {0x0010, "OKI ADPCM"},
    {0x0011, "IMA ADPCM"},
    {0x0011, "DVI ADPCM"},
    {0x0012, "Mediaspace's ADPCM"},
    {0x0013, "Sierra's ADPCM"},
    {0x0014, "CCITT G.723 ADPCM"},
    {0x0015, "Digisound DIGISTD"},
    {0x0016, "Digisound DIGIFIX"},
    {0x0017, "Dialogic OKI ADPCM"},
    {0x0020, "Yamaha ADPCM"},
    {0x0021, "Sonarc"},
    {0x0022, "DSP Group's Truespeech"},
    {0x0023, "Echo SC1"},
    {0x0024, "Audiofile AF36"},
    {0x0025, "Audio Processing Technology"},
    {0x0026, "Audiofile AF10"},
    {0x0030, "Dolby AC2"},
    {0x0209, "Dolby AC2"},
    {0x0031, "GSM 6.10"},
    {0x0033, "Antex ADPCME"},
    {0x0039, "CS IMA ADPCM"},
    {0x0040, "CCITT G.721 ADPCM"},
    {0x0050, "MPEG 1"},
    {0x0055, "MPEG Layer-3"},
    {0x0200, "Creative's ADPCM"},
    {0x1001, "Olivetti's ADPCM"},
    {0x0204, "CDI-C"},
    {0x0205, "CDI-B"},
    {0x0206, "Antex-DVI-OKI ADPCME"},
    {0xFFFF, "*DEVELOPMENT ONLY TAG*"},
};
static_assert(std::size(kTagNames) == 38);

std::atomic<char> gDecimal{'.'};
std::atomic<char> gList{','};
std::mutex gSourceLock;
SeparatorSource gSource;

void DefaultSeparators(char& decimal, char& list) {
  const std::lconv* lc = std::localeconv();
  if (lc != nullptr && lc->decimal_point != nullptr && lc->decimal_point[0] != '\0' &&
      lc->decimal_point[1] == '\0') {
    decimal = lc->decimal_point[0];
  }
  // Regions that write decimals with a comma separate lists with a semicolon.
  list = decimal == ',' ? ';' : ',';
}

void RefreshSeparators() {
  char decimal = gDecimal.load();
  char list = gList.load();
  {
    std::lock_guard lock(gSourceLock);
    if (gSource) {
      gSource(decimal, list);
    } else {
      DefaultSeparators(decimal, list);
    }
  }
  gDecimal.store(decimal);
  gList.store(list);
}

std::atomic<bool> gClip{false};


}  // namespace

std::string FormatTagName(const WAVEFORMATEX* f) {
  if (f == nullptr) return "Unknown";
  for (const TagName& row : kTagNames) {
    if (row.tag == f->wFormatTag) return row.name;
  }
  return "Unknown";
}

void SetSeparatorSource(SeparatorSource source) {
  std::lock_guard lock(gSourceLock);
  gSource = std::move(source);
}

char DecimalSeparator() { return gDecimal.load(); }
char ListSeparator() { return gList.load(); }

std::string WaveFormatText(const WAVEFORMATEX* f) {
  if (f == nullptr) return "Unknown";
  RefreshSeparators();
  const char decimal[2] = {gDecimal.load(), '\0'};
  const char list[2] = {gList.load(), '\0'};
  // A corrupt record must not divide by zero; such a format has no width.
  uint32_t bits = 0;
  if (f->nSamplesPerSec != 0 && f->nChannels != 0) {
    bits = (f->nAvgBytesPerSec * 8u) / f->nSamplesPerSec / f->nChannels;
  }
  const int bits16 = static_cast<uint16_t>(bits);
  const int khz = static_cast<int>(f->nSamplesPerSec / 1000);
  const int fraction = static_cast<int>(f->nSamplesPerSec % 1000);
  char text[128];
  if (f->nChannels == 1 || f->nChannels == 2) {
    std::snprintf(text, sizeof text, "%d%s%.03d kHz%s %d Bit%s %s", khz, decimal, fraction, list,
                  bits16, list, f->nChannels == 1 ? "Mono" : "Stereo");
  } else {
    std::snprintf(text, sizeof text, "%d%s%.03d kHz%s %d Bit%s %d Channels", khz, decimal,
                  fraction, list, bits16, list, int{f->nChannels});
  }
  return text;
}

namespace {

inline int32_t Rate(const WAVEFORMATEX* f) { return static_cast<int32_t>(f->nSamplesPerSec); }
inline int32_t Avg(const WAVEFORMATEX* f) { return static_cast<int32_t>(f->nAvgBytesPerSec); }

int32_t RoundUpToFrame(const WAVEFORMATEX* f, int32_t bytes) {
  const int32_t align = f->nBlockAlign;
  if (align == 0) return bytes;
  return ((bytes + align - 1) / align) * align;
}

}  // namespace

int32_t BytesToSamples(const WAVEFORMATEX* f, int32_t bytes) {
  return f ? MulDivRound(bytes, Rate(f), Avg(f)) : 0;
}

int32_t BytesToMilliseconds(const WAVEFORMATEX* f, int32_t bytes) {
  return f ? MulDivRound(bytes, 1000, Avg(f)) : 0;
}

int32_t SamplesToBytes(const WAVEFORMATEX* f, int32_t samples) {
  return f ? RoundUpToFrame(f, MulDivRound(samples, Avg(f), Rate(f))) : 0;
}

int32_t SamplesToMilliseconds(const WAVEFORMATEX* f, int32_t samples) {
  return f ? MulDivRound(samples, 1000, Rate(f)) : 0;
}

int32_t MillisecondsToSamples(const WAVEFORMATEX* f, int32_t ms) {
  return f ? MulDivRound(ms, Rate(f), 1000) : 0;
}

int32_t MillisecondsToBytes(const WAVEFORMATEX* f, int32_t ms) {
  return f ? RoundUpToFrame(f, MulDivRound(ms, Avg(f), 1000)) : 0;
}

int64_t SamplesToBytes64(const WAVEFORMATEX* f, int64_t samples) {
  if (f == nullptr) return 0;
  const int64_t b = MulDiv64(samples, f->nAvgBytesPerSec, f->nSamplesPerSec);
  const int64_t align = f->nBlockAlign;
  if (align == 0) return b;
  return ((b + align - 1) / align) * align;
}

int64_t SamplesToMilliseconds64(const WAVEFORMATEX* f, int64_t samples) {
  return f ? MulDiv64(samples, 1000, f->nSamplesPerSec) : 0;
}

bool ClipIndicator() { return gClip.load(std::memory_order_relaxed); }
void SetClipIndicator(bool value) { gClip.store(value, std::memory_order_relaxed); }

int32_t ClipTo8(int32_t value) {
  if (value < -128) {
    SetClipIndicator(true);
    return -128;
  }
  if (value > 127) {
    SetClipIndicator(true);
    return 127;
  }
  return value;
}

int32_t ClipTo16(int32_t value) {
  if (value < -32768) {
    SetClipIndicator(true);
    return -32768;
  }
  if (value > 32767) {
    SetClipIndicator(true);
    return 32767;
  }
  return value;
}

int32_t ConvertSampleWidth(int targetBits, void* dest, int sourceBits, int32_t sourceBytes,
                           const void* source) {
  if (sourceBytes <= 0 || dest == nullptr || source == nullptr) return 0;
  auto* out = static_cast<uint8_t*>(dest);
  const auto* in = static_cast<const uint8_t*>(source);
  if (targetBits == sourceBits) {
    std::memmove(out, in, static_cast<size_t>(sourceBytes));
    return sourceBytes;
  }
  if (sourceBits == 16 && targetBits == 8) {
    const int32_t n = sourceBytes / 2;
    for (int32_t i = 0; i < n; ++i) {
      const int32_t d = LoadLE16s(in + 2 * i);
      const int32_t q = d < 0 ? (d + 255) >> 8 : d >> 8;
      out[i] = static_cast<uint8_t>(q + 128);
    }
    return n;
  }
  if (sourceBits == 8 && targetBits == 16) {
    // Backwards, so that converting in place within one block is safe.
    for (int32_t i = sourceBytes - 1; i >= 0; --i) {
      StoreLE16(out + 2 * i, static_cast<uint16_t>(in[i] * 256 - 32768));
    }
    return sourceBytes * 2;
  }
  return 0;
}

void FindPeakSamples(const void* data, int32_t byteCount, const WAVEFORMATEX* f, int32_t& first,
                     int32_t& second) {
  first = 0;
  second = 0;
  if (f == nullptr || data == nullptr || f->nBlockAlign == 0 || f->nChannels == 0) return;
  const bool eightBit = f->wBitsPerSample == 8;
  const int bytesPerSample = eightBit ? 1 : 2;
  const int channels = f->nChannels;
  const int frame = f->nBlockAlign;
  if (frame < bytesPerSample * channels || byteCount <= 0) return;
  const int32_t frames = byteCount / frame;
  const auto* p = static_cast<const uint8_t*>(data);
  const int tracked = channels >= 2 ? 2 : 1;
  int32_t best[2] = {0, 0};
  int32_t raw[2] = {0, 0};
  for (int32_t k = 0; k < frames; ++k) {
    const uint8_t* fp = p + static_cast<ptrdiff_t>(k) * frame;
    for (int c = 0; c < tracked; ++c) {
      int32_t s;
      int32_t mag;
      if (eightBit) {
        s = fp[c];
        mag = s >= 128 ? s - 128 : 128 - s;
      } else {
        s = LoadLE16s(fp + 2 * c);
        mag = s < 0 ? -s : s;
      }
      if (mag > best[c]) {
        best[c] = mag;
        raw[c] = s;
      }
    }
  }
  first = raw[0];
  second = tracked == 2 ? raw[1] : raw[0];
}

int32_t FindTriggerPoint(const WAVEFORMATEX* f, const void* data, int32_t byteCount,
                         int levelPercent, int mode, int channel) {
  if (mode == 0 || byteCount <= 0 || f == nullptr || data == nullptr) return -1;
  if (mode != 1 && mode != 2) return -1;
  const bool eightBit = f->wBitsPerSample == 8;
  const int bytesPerSample = eightBit ? 1 : 2;
  int level = Clamp(levelPercent, -100, 100);
  if (mode == 2) level = -level;
  const int32_t threshold = eightBit ? (level * 127 / 100) + 128 : level * 327;
  const bool rising = mode == 1;
  const auto* p = static_cast<const uint8_t*>(data);
  auto sample = [&](int32_t offset) -> int32_t {
    return eightBit ? int32_t{p[offset]} : int32_t{LoadLE16s(p + offset)};
  };
  auto crosses = [&](int32_t a, int32_t b) {
    return rising ? (a < threshold && b >= threshold) : (a > threshold && b <= threshold);
  };

  if (f->nChannels <= 1) {
    const int32_t n = byteCount / bytesPerSample;
    for (int32_t i = 0; i + 2 < n; ++i) {
      const int32_t ob = (i + 1) * bytesPerSample;
      if (crosses(sample(i * bytesPerSample), sample(ob))) return ob;
    }
    return -1;
  }

  const int32_t frame = f->nBlockAlign;
  if (frame < 2 * bytesPerSample) return -1;
  const int32_t frames = byteCount / frame;
  const bool testFirst = channel == 0 || channel == 1;
  const bool testSecond = channel == 0 || channel == 2;
  for (int32_t k = 0; k + 2 < frames; ++k) {
    const int32_t fa = k * frame;
    const int32_t fb = fa + frame;
    if (testFirst && crosses(sample(fa), sample(fb))) return fb;
    if (testSecond && crosses(sample(fa + bytesPerSample), sample(fb + bytesPerSample))) {
      return fb + bytesPerSample;
    }
  }
  return -1;
}

}  // namespace tv
