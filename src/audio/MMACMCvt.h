// The codec service: turns the wave formats that are not plain 8/16-bit PCM
// into PCM through a chain of small stages (decoder, sample width, channels,
// rate). It stands where the desktop platform offers a codec manager: the
// audio file source places a TMMACMConverter behind a reader whose stream is
// not PCM, and the connector opens a conversion for the displays.
//
// Decoded: G.711 mu-law and A-law, IMA ADPCM, Microsoft ADPCM, 24- and
// 32-bit integer PCM, 32- and 64-bit float, and the extensible header that
// names one of them.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "MMDSPObj.h"
#include "MMErrors.h"
#include "MMPCMSup.h"

namespace tv {

TV_DECLARE_ERROR(EMMACMError);

inline constexpr uint16_t WAVE_FORMAT_ADPCM = 0x0002;
inline constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 0x0003;
inline constexpr uint16_t WAVE_FORMAT_ALAW = 0x0006;
inline constexpr uint16_t WAVE_FORMAT_MULAW = 0x0007;
inline constexpr uint16_t WAVE_FORMAT_IMA_ADPCM = 0x0011;
inline constexpr uint16_t WAVE_FORMAT_MPEG = 0x0050;
inline constexpr uint16_t WAVE_FORMAT_MPEGLAYER3 = 0x0055;
inline constexpr uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

// The PCM format a source is best decoded to: the source itself when it is
// 8- or 16-bit PCM, else 16-bit PCM with the source's rate and channels
// (more than two channels become two). Empty when the service cannot
// decode the source (unknown tag or a header that does not add up).
WaveFormatPtr SuggestPcm(const WAVEFORMATEX* source);

// True when a conversion from source to target can be opened: equal
// formats, or a decodable source and an 8/16-bit PCM target.
bool CanConvert(const WAVEFORMATEX* source, const WAVEFORMATEX* target);

// Why a format cannot be decoded, for messages ("" when it can): names the
// format and what is wrong with it.
std::string ConversionProblem(const WAVEFORMATEX* source);

class TMMCodecStage;

// An open conversion: one or more stages run in order. Bytes a stage could
// not use yet (part of a block or a frame) are carried over to its next
// call, so data may arrive in any split.
class TMMConversion {
 public:
  ~TMMConversion();
  TMMConversion(const TMMConversion&) = delete;
  TMMConversion& operator=(const TMMConversion&) = delete;

  const WAVEFORMATEX* Source() const { return source_.get(); }
  const WAVEFORMATEX* Target() const { return target_.get(); }
  size_t StageCount() const { return stages_.size(); }

  // The fixed-buffer form the connector uses: fill SourceBuffer with up to
  // SourceSize bytes, Convert(bytes), read the answer from OutputBuffer.
  uint8_t* SourceBuffer() { return sourceBuffer_.data(); }
  int32_t SourceSize() const { return static_cast<int32_t>(sourceBuffer_.size()); }
  const uint8_t* OutputBuffer() const { return outputBuffer_.data(); }
  int32_t OutputSize() const { return static_cast<int32_t>(outputBuffer_.size()); }
  // Converts the first `bytes` bytes of SourceBuffer; answers the bytes
  // now in OutputBuffer (0 while a block is still incomplete, -1 for a
  // count outside the buffer).
  int32_t Convert(int32_t bytes);

  // The streaming form: converts `data` and appends the result to `out`.
  void Convert(std::span<const uint8_t> data, std::vector<uint8_t>& out);

  // Forgets carried bytes and decoder state (after a seek).
  void Reset();
  // Releases the stages; Convert then produces nothing.
  void Close();

 private:
  friend std::unique_ptr<TMMConversion> OpenConversion(const WAVEFORMATEX*, const WAVEFORMATEX*,
                                                       int32_t);
  TMMConversion() = default;

  WaveFormatPtr source_;
  WaveFormatPtr target_;
  std::vector<std::unique_ptr<TMMCodecStage>> stages_;
  std::vector<std::vector<uint8_t>> carry_;  // per stage
  std::vector<uint8_t> sourceBuffer_;
  std::vector<uint8_t> outputBuffer_;
  std::vector<uint8_t> work_[2];
  std::vector<uint8_t> result_;
};

// Opens a conversion from source to target (8/16-bit PCM). bufferSize is
// the size of SourceBuffer, rounded down to whole source blocks (at least
// one). Raises EMMACMError with ConversionProblem's text when the formats
// cannot be converted.
std::unique_ptr<TMMConversion> OpenConversion(const WAVEFORMATEX* source,
                                              const WAVEFORMATEX* target, int32_t bufferSize);

// A chain component that decodes the stream of its Input into the PCM
// format SuggestPcm gives for it: the decoding stage the audio file source
// places behind a reader of compressed data.
class TMMACMConverter : public TMMDSPComponent {
 public:
  explicit TMMACMConverter(std::string name = "ACMConverter");
  ~TMMACMConverter() override;

  std::span<const LinkProperty> LinkProperties() const override { return kPublishInputOutput; }

  // The format arriving from upstream; PWaveFormat is the decoded one.
  const WAVEFORMATEX* SourceFormat() const { return source_.get(); }

  void ReceiveFormat(const WAVEFORMATEX* format) override;
  void Open() override;
  void Start() override;
  void BufferLoad(PWaveHdr buffer, bool& moreBuffers) override;

 private:
  void ResetConversion();

  WaveFormatPtr source_;
  std::unique_ptr<TMMConversion> conversion_;
  std::vector<uint8_t> pending_;
  size_t pendingAt_ = 0;
  std::vector<uint8_t> block_;  // header and bytes of the pulls from upstream
  bool inputMore_ = true;
};

// The decoder the audio file source asks for a reader whose stream is not
// 8/16-bit PCM; nullptr when the format cannot be decoded.
std::unique_ptr<TMMDSPComponent> CreateCodecDecoder(const WAVEFORMATEX* source);

}  // namespace tv
