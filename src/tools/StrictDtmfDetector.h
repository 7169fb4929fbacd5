// The strict DTMF detector: a streaming receiver that holds keys to the
// telephone receiver limits (frequency within 1.5 % accepted and 3.5 %
// rejected, tones and pauses of 40 ms, twist +4 / -8 dB, 15 dB signal to
// noise, a wide level range) and refuses speech and music. It takes 8- or
// 16-bit PCM of any rate and channel count, buffer by buffer, with memory
// bounded whatever the stream's length, and reports every key with its
// start and end, its channel, its level and its twist.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tv {

class StrictDtmfChannel;

// Which channels of a stream are decoded. A mono stream is decoded once,
// whatever the choice.
enum class DtmfChannelChoice { Left, Right, Mix, Each };

// Parses "left", "right", "mix" or "each"; false for anything else.
bool ParseDtmfChannelChoice(const std::string& text, DtmfChannelChoice& choice);
const char* DtmfChannelChoiceName(DtmfChannelChoice choice);

// The channel value of a key decoded from the mix of all channels.
inline constexpr int kMixChannel = -1;

struct StrictDtmfKey {
  char key = 0;          // '0'..'9', '*', '#', 'A'..'D'
  int channel = 0;       // 0-based channel of the stream, or kMixChannel
  double startMs = 0;    // from the start of the stream
  double endMs = 0;
  double levelDb = 0;    // the pair's RMS level in dBFS (a full-scale sine reads 0)
  double lowDb = 0;      // each tone's level in dBFS
  double highDb = 0;
  double twistDb = 0;    // high group minus low group
  double lowHz = 0;      // measured frequencies
  double highHz = 0;
};

// "mono" for a one-channel stream, "left" / "right" for two, "mix", else
// "channel N" counting from 1.
std::string DtmfChannelName(int channel, int streamChannels);

// The limits a tone pair must meet. The defaults sit between what the
// telephone receiver rules require to be accepted and to be rejected.
struct StrictDtmfOptions {
  DtmfChannelChoice channel = DtmfChannelChoice::Mix;
  double minToneMs = 30;          // shorter tones are not keys; 40 ms are
  double minPauseMs = 30;         // shorter breaks do not part two keys; 40 ms do
  double maxDeviationPct = 2.0;   // each tone's distance from its nominal frequency
  double maxTwistDb = 6;          // high group louder than the low group by at most
  double maxReverseTwistDb = 10;  // high group weaker than the low group by at most
  double minLevelDb = -50;        // each tone, dBFS
  // Share of the signal's energy that the two tones hold: 0.88 lets tones
  // through down to about 9 dB signal to noise, while speech and chords
  // that land on a key's frequencies stay near 0.8.
  double minPurity = 0.88;
};

class StrictDtmfDetector {
 public:
  explicit StrictDtmfDetector(const StrictDtmfOptions& options = {});
  ~StrictDtmfDetector();
  StrictDtmfDetector(const StrictDtmfDetector&) = delete;
  StrictDtmfDetector& operator=(const StrictDtmfDetector&) = delete;

  // Reported in time order (by start, then channel), at most a few tenths
  // of a second after the tone ended; on the thread that feeds.
  std::function<void(const StrictDtmfKey&)> OnKey;

  // Options take effect at the next Start.
  void SetOptions(const StrictDtmfOptions& options) { options_ = options; }
  const StrictDtmfOptions& Options() const { return options_; }

  // Begins a stream: forgets everything of an earlier one and sets up the
  // analysis (the only place that allocates). Throws std::invalid_argument
  // for a rate outside 4000..384000 Hz, no channels, or other than 8 or 16
  // bits.
  void Start(int sampleRate, int channels, int bits = 16);
  // Interleaved 16-bit frames.
  void Feed(const int16_t* frames, size_t frameCount);
  // Little-endian PCM bytes of the started format, in pieces of any size:
  // a frame split between two calls is joined.
  void FeedBytes(const void* data, size_t bytes);
  // Ends the stream: reports the keys still held back. Feeding again needs
  // a new Start.
  void Finish();

  bool Started() const { return started_; }
  int SampleRate() const { return rate_; }
  int StreamChannels() const { return streamChannels_; }
  int64_t FramesFed() const { return frames_; }

 private:
  void FeedFloat(const int16_t* frames16, const uint8_t* frames8, size_t frameCount);
  void Collect(const StrictDtmfKey& key);
  void Release(bool all);

  StrictDtmfOptions options_;
  bool started_ = false;
  int rate_ = 0;
  int streamChannels_ = 0;
  int bits_ = 16;
  int64_t frames_ = 0;
  // One analysis per decoded channel; source_ names the stream channel
  // that feeds it, kMixChannel for the average of all.
  std::vector<std::unique_ptr<StrictDtmfChannel>> analyses_;
  std::vector<int> source_;
  std::vector<float> scratch_;        // kChunk samples per analysis
  std::vector<StrictDtmfKey> queue_;  // keys waiting for the other channels
  uint8_t carry_[16] = {};
  size_t carryBytes_ = 0;
};

}  // namespace tv
