// The wave format record, its size and time conversions, the texts that name
// a format, and the small PCM sample routines the components share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "MMTypes.h"

namespace tv {

constexpr uint16_t WAVE_FORMAT_PCM = 1;

// Little-endian, packed: identical to the record stored in a "fmt " chunk.
struct __attribute__((packed)) WAVEFORMATEX {
  uint16_t wFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
  uint16_t wBitsPerSample;
  uint16_t cbSize;
};
static_assert(sizeof(WAVEFORMATEX) == 18);

// An owned format record; non-PCM records carry cbSize extra bytes after it.
struct WaveFormatDeleter {
  void operator()(WAVEFORMATEX* p) const noexcept;
};
using WaveFormatPtr = std::unique_ptr<WAVEFORMATEX, WaveFormatDeleter>;

// A zero-filled record block of max(bytes, 18) bytes.
WaveFormatPtr AllocWaveFormat(size_t bytes);
// Pointer to the format-specific bytes that follow cbSize.
inline uint8_t* WaveFormatExtra(WAVEFORMATEX* f) { return reinterpret_cast<uint8_t*>(f) + 18; }
inline const uint8_t* WaveFormatExtra(const WAVEFORMATEX* f) {
  return reinterpret_cast<const uint8_t*>(f) + 18;
}

bool PcmFormatSupported(const WAVEFORMATEX* f);
WAVEFORMATEX& MakePcmFormat(WAVEFORMATEX& f, int bits, int channels, int rate);
WaveFormatPtr MakePcmFormat(int bits, int channels, int rate);
uint32_t WaveFormatSize(const WAVEFORMATEX* f);
WaveFormatPtr CopyWaveFormat(const WAVEFORMATEX* f);
bool SameWaveFormat(const WAVEFORMATEX* a, const WAVEFORMATEX* b);
// 128 for 8-bit PCM, 0 for everything else.
uint8_t SilenceByte(const WAVEFORMATEX* f);

std::string FormatTagName(const WAVEFORMATEX* f);
std::string WaveFormatText(const WAVEFORMATEX* f);

// The regional separators used by WaveFormatText. Each call of WaveFormatText
// asks the source for fresh values; the source receives the current ones as
// defaults. Without a source the C library locale's decimal point is used.
using SeparatorSource = std::function<void(char& decimal, char& list)>;
void SetSeparatorSource(SeparatorSource source);
char DecimalSeparator();
char ListSeparator();

// Size and time conversions; all answer 0 without a format.
int32_t BytesToSamples(const WAVEFORMATEX* f, int32_t bytes);
int32_t BytesToMilliseconds(const WAVEFORMATEX* f, int32_t bytes);
int32_t SamplesToBytes(const WAVEFORMATEX* f, int32_t samples);
int32_t SamplesToMilliseconds(const WAVEFORMATEX* f, int32_t samples);
int32_t MillisecondsToSamples(const WAVEFORMATEX* f, int32_t ms);
int32_t MillisecondsToBytes(const WAVEFORMATEX* f, int32_t ms);
int64_t SamplesToBytes64(const WAVEFORMATEX* f, int64_t samples);
int64_t SamplesToMilliseconds64(const WAVEFORMATEX* f, int64_t samples);

// Process-wide clip indicator, set whenever a clipping routine limited a value.
bool ClipIndicator();
void SetClipIndicator(bool value);

int32_t ConvertSampleWidth(int targetBits, void* dest, int sourceBits, int32_t sourceBytes,
                           const void* source);
int32_t ClipTo8(int32_t value);
int32_t ClipTo16(int32_t value);

// Raw sample of largest magnitude per channel (the first of equal peaks).
void FindPeakSamples(const void* data, int32_t byteCount, const WAVEFORMATEX* f, int32_t& first,
                     int32_t& second);

// Byte offset of the sample that completes an edge through the level, or -1.
// mode: 0 none, 1 rising, 2 falling; channel: 0 both, 1 first, 2 second.
int32_t FindTriggerPoint(const WAVEFORMATEX* f, const void* data, int32_t byteCount,
                         int levelPercent, int mode, int channel);

}  // namespace tv
