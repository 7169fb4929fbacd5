#include "TMMCodecConversionProvider.h"

#include <algorithm>
#include <cstring>

#include "MMACMCvt.h"

namespace tv {

namespace {

// Feeds the codec's fixed source buffer piece by piece and gathers what it
// answers; the buffers are sized when the conversion opens, so nothing here
// allocates on the delivering thread.
class CodecConversion : public TMMPcmConversion {
 public:
  explicit CodecConversion(std::unique_ptr<TMMConversion> conversion)
      : conversion_(std::move(conversion)) {}

  int32_t Convert(const void* source, int32_t bytes, void* dest, int32_t capacity) override {
    const auto* in = static_cast<const uint8_t*>(source);
    auto* out = static_cast<uint8_t*>(dest);
    int32_t written = 0;
    while (bytes > 0 && written < capacity) {
      const int32_t piece = std::min(bytes, conversion_->SourceSize());
      std::memcpy(conversion_->SourceBuffer(), in, static_cast<size_t>(piece));
      const int32_t n = conversion_->Convert(piece);
      if (n < 0) return written > 0 ? written : n;
      const int32_t take = std::min(n, capacity - written);
      std::memcpy(out + written, conversion_->OutputBuffer(), static_cast<size_t>(take));
      written += take;
      in += piece;
      bytes -= piece;
    }
    return written;
  }

 private:
  std::unique_ptr<TMMConversion> conversion_;
};

class CodecProvider : public TMMPcmConversionProvider {
 public:
  WaveFormatPtr SuggestPcm(const WAVEFORMATEX* source) override { return tv::SuggestPcm(source); }

  bool CanConvert(const WAVEFORMATEX* source, const WAVEFORMATEX* target) override {
    return tv::CanConvert(source, target);
  }

  std::unique_ptr<TMMPcmConversion> Open(const WAVEFORMATEX* source, const WAVEFORMATEX* target,
                                         int32_t sourceBytes, int32_t& outputBytes) override {
    try {
      auto conversion = OpenConversion(source, target, sourceBytes);
      // A piece larger than the source buffer is converted in several
      // rounds; the output grows in proportion.
      const int32_t rounds =
          (sourceBytes + conversion->SourceSize() - 1) / std::max(conversion->SourceSize(), 1);
      outputBytes = conversion->OutputSize() * std::max(rounds, 1);
      return std::make_unique<CodecConversion>(std::move(conversion));
    } catch (const EMMACMError&) {
      return nullptr;
    }
  }
};

}  // namespace

TMMPcmConversionProvider& CodecConversionProvider() {
  static CodecProvider provider;
  return provider;
}

}  // namespace tv
