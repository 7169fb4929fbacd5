// The conversion of a compressed or otherwise non-PCM stream to PCM, as the
// connector needs it to feed its displays. The codec service installs a
// provider; while none is installed only PCM streams reach the displays.
#pragma once

#include <cstdint>
#include <memory>

#include "MMPCMSup.h"

namespace tv {

// One open conversion stream. Convert runs on the thread that delivers the
// audio, so it must not allocate or wait.
class TMMPcmConversion {
 public:
  virtual ~TMMPcmConversion() = default;
  // Converts `bytes` bytes of the source stream into `dest` (room for
  // `capacity` bytes); answers the PCM bytes written, 0 or less on failure.
  virtual int32_t Convert(const void* source, int32_t bytes, void* dest, int32_t capacity) = 0;
};

class TMMPcmConversionProvider {
 public:
  virtual ~TMMPcmConversionProvider() = default;
  // The PCM format suggested for `source`, or none.
  virtual WaveFormatPtr SuggestPcm(const WAVEFORMATEX* source) = 0;
  virtual bool CanConvert(const WAVEFORMATEX* source, const WAVEFORMATEX* target) = 0;
  // A conversion for pieces of up to `sourceBytes` bytes; `outputBytes`
  // receives the most PCM one piece can give. None when it cannot be had.
  virtual std::unique_ptr<TMMPcmConversion> Open(const WAVEFORMATEX* source,
                                                 const WAVEFORMATEX* target, int32_t sourceBytes,
                                                 int32_t& outputBytes) = 0;
};

// The installed provider (nullptr: none). The caller keeps ownership and
// uninstalls it before destroying it.
void SetPcmConversionProvider(TMMPcmConversionProvider* provider);
TMMPcmConversionProvider* PcmConversionProvider();

}  // namespace tv
