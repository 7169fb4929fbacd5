#include "MMACMCvt.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace tv {

// ---------------------------------------------------------------------------
// Stages

// One step of a conversion. Process uses whole input units only and answers
// how many input bytes it used; the conversion carries the rest.
class TMMCodecStage {
 public:
  virtual ~TMMCodecStage() = default;
  virtual size_t Process(const uint8_t* in, size_t bytes, std::vector<uint8_t>& out) = 0;
  // Bytes of one input unit (a block or a frame).
  virtual size_t Unit() const = 0;
  // Most output bytes for `bytes` input bytes.
  virtual size_t MaxOutput(size_t bytes) const = 0;
  virtual void Reset() {}
};

namespace {

constexpr int kMaxChannels = 8;
constexpr uint32_t kMinRate = 1000;
constexpr uint32_t kMaxRate = 384000;

inline int16_t Load16(const uint8_t* p) {
  return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

inline void Put16(std::vector<uint8_t>& out, int32_t v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}

inline int32_t Clamp16(int32_t v) { return std::clamp(v, -32768, 32767); }

// G.711 expansion, as the recommendation defines it for 16-bit linear
// output (the 14- and 13-bit code values shifted to the top of the word).
int16_t MuLawToLinear(uint8_t code) {
  const int u = ~code & 0xFF;
  int t = ((u & 0x0F) << 3) + 0x84;
  t <<= (u & 0x70) >> 4;
  return static_cast<int16_t>((u & 0x80) != 0 ? 0x84 - t : t - 0x84);
}

int16_t ALawToLinear(uint8_t code) {
  const int a = code ^ 0x55;
  int t = (a & 0x0F) << 4;
  const int seg = (a & 0x70) >> 4;
  if (seg == 0) {
    t += 8;
  } else {
    t += 0x108;
    if (seg > 1) t <<= seg - 1;
  }
  return static_cast<int16_t>((a & 0x80) != 0 ? t : -t);
}

class G711Stage final : public TMMCodecStage {
 public:
  explicit G711Stage(bool alaw) {
    for (int c = 0; c < 256; ++c) {
      table_[static_cast<size_t>(c)] =
          alaw ? ALawToLinear(static_cast<uint8_t>(c)) : MuLawToLinear(static_cast<uint8_t>(c));
    }
  }
  size_t Process(const uint8_t* in, size_t bytes, std::vector<uint8_t>& out) override {
    for (size_t i = 0; i < bytes; ++i) Put16(out, table_[in[i]]);
    return bytes;
  }
  size_t Unit() const override { return 1; }
  size_t MaxOutput(size_t bytes) const override { return bytes * 2; }

 private:
  std::array<int16_t, 256> table_{};
};

constexpr std::array<int, 89> kImaSteps = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr std::array<int, 16> kImaIndex = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

// IMA ADPCM as wave files hold it: per block and channel a 4-byte header
// (first sample, step index, reserved), then the channels' codes in
// interleaved runs of 4 bytes (8 samples), low nibble first.
class ImaStage final : public TMMCodecStage {
 public:
  ImaStage(int channels, int blockAlign, int samplesPerBlock)
      : channels_(channels), blockAlign_(blockAlign), samplesPerBlock_(samplesPerBlock),
        samples_(static_cast<size_t>(channels) * static_cast<size_t>(samplesPerBlock)) {}

  size_t Process(const uint8_t* in, size_t bytes, std::vector<uint8_t>& out) override {
    const size_t block = static_cast<size_t>(blockAlign_);
    size_t used = 0;
    for (; used + block <= bytes; used += block) DecodeBlock(in + used, out);
    return used;
  }
  size_t Unit() const override { return static_cast<size_t>(blockAlign_); }
  size_t MaxOutput(size_t bytes) const override {
    return bytes / static_cast<size_t>(blockAlign_) * static_cast<size_t>(samplesPerBlock_) *
           static_cast<size_t>(channels_) * 2;
  }

 private:
  void DecodeBlock(const uint8_t* b, std::vector<uint8_t>& out) {
    const int ch = channels_;
    const size_t spb = static_cast<size_t>(samplesPerBlock_);
    for (int c = 0; c < ch; ++c) {
      const uint8_t* h = b + 4 * c;
      int predictor = Load16(h);
      // A corrupt index is limited, as decoders commonly do, rather than
      // refused: one bad block should not end the whole stream.
      int index = std::min<int>(h[2], 88);
      int16_t* s = samples_.data() + static_cast<size_t>(c) * spb;
      s[0] = static_cast<int16_t>(predictor);
      const uint8_t* data = b + 4 * ch;
      for (size_t n = 1; n < spb; ++n) {
        // Sample n of this channel: run (n-1)/8 of the channel, nibble (n-1)%8.
        const size_t k = n - 1;
        const size_t byte = (k / 8) * 4 * static_cast<size_t>(ch) + static_cast<size_t>(c) * 4 + (k % 8) / 2;
        const int code = (k % 2 == 0) ? (data[byte] & 0x0F) : (data[byte] >> 4);
        const int step = kImaSteps[static_cast<size_t>(index)];
        int diff = step >> 3;
        if ((code & 4) != 0) diff += step;
        if ((code & 2) != 0) diff += step >> 1;
        if ((code & 1) != 0) diff += step >> 2;
        predictor = Clamp16((code & 8) != 0 ? predictor - diff : predictor + diff);
        index = std::clamp(index + kImaIndex[static_cast<size_t>(code)], 0, 88);
        s[n] = static_cast<int16_t>(predictor);
      }
    }
    for (size_t n = 0; n < spb; ++n) {
      for (int c = 0; c < ch; ++c) Put16(out, samples_[static_cast<size_t>(c) * spb + n]);
    }
  }

  int channels_;
  int blockAlign_;
  int samplesPerBlock_;
  std::vector<int16_t> samples_;
};

// Far above any step a real stream reaches (the largest 16-bit difference).
constexpr int64_t kMaxMsDelta = 1 << 20;
constexpr std::array<int, 16> kMsAdapt = {230, 230, 230, 230, 307, 409, 512, 614,
                                          768, 614, 512, 409, 307, 230, 230, 230};

// Microsoft ADPCM: per block a predictor number per channel, then the
// channels' deltas, second and first samples (16 bits each); the two header
// samples come out first (older one first), then one nibble per sample,
// high nibble first, channels interleaved.
class MsAdpcmStage final : public TMMCodecStage {
 public:
  MsAdpcmStage(int channels, int blockAlign, int samplesPerBlock, std::vector<int> coef1,
               std::vector<int> coef2)
      : channels_(channels), blockAlign_(blockAlign), samplesPerBlock_(samplesPerBlock),
        coef1_(std::move(coef1)), coef2_(std::move(coef2)) {}

  size_t Process(const uint8_t* in, size_t bytes, std::vector<uint8_t>& out) override {
    const size_t block = static_cast<size_t>(blockAlign_);
    size_t used = 0;
    for (; used + block <= bytes; used += block) DecodeBlock(in + used, out);
    return used;
  }
  size_t Unit() const override { return static_cast<size_t>(blockAlign_); }
  size_t MaxOutput(size_t bytes) const override {
    return bytes / static_cast<size_t>(blockAlign_) * static_cast<size_t>(samplesPerBlock_) *
           static_cast<size_t>(channels_) * 2;
  }

 private:
  void DecodeBlock(const uint8_t* b, std::vector<uint8_t>& out) {
    const int ch = channels_;
    std::array<int, kMaxChannels> c1{}, c2{}, delta{}, s1{}, s2{};
    const int numCoef = static_cast<int>(coef1_.size());
    for (int c = 0; c < ch; ++c) {
      // An out-of-range predictor number is taken modulo the table so that
      // a damaged block decodes to noise instead of reading past the table.
      const int p = b[c] % numCoef;
      c1[static_cast<size_t>(c)] = coef1_[static_cast<size_t>(p)];
      c2[static_cast<size_t>(c)] = coef2_[static_cast<size_t>(p)];
      delta[static_cast<size_t>(c)] = Load16(b + ch + 2 * c);
      s1[static_cast<size_t>(c)] = Load16(b + 3 * ch + 2 * c);
      s2[static_cast<size_t>(c)] = Load16(b + 5 * ch + 2 * c);
    }
    for (int c = 0; c < ch; ++c) Put16(out, s2[static_cast<size_t>(c)]);
    for (int c = 0; c < ch; ++c) Put16(out, s1[static_cast<size_t>(c)]);
    const uint8_t* data = b + 7 * ch;
    const size_t codes = static_cast<size_t>(samplesPerBlock_ - 2) * static_cast<size_t>(ch);
    for (size_t k = 0; k < codes; ++k) {
      const size_t c = k % static_cast<size_t>(ch);
      const int nibble = (k % 2 == 0) ? (data[k / 2] >> 4) : (data[k / 2] & 0x0F);
      const int signedNibble = nibble >= 8 ? nibble - 16 : nibble;
      // Wide arithmetic: a damaged block can drive the step far beyond
      // anything an encoder writes.
      const int64_t guess = (int64_t{s1[c]} * c1[c] + int64_t{s2[c]} * c2[c]) >> 8;
      const auto predictor =
          static_cast<int32_t>(std::clamp<int64_t>(guess + int64_t{signedNibble} * delta[c], -32768, 32767));
      s2[c] = s1[c];
      s1[c] = predictor;
      Put16(out, predictor);
      const int64_t next = int64_t{kMsAdapt[static_cast<size_t>(nibble)]} * delta[c] / 256;
      delta[c] = static_cast<int>(std::clamp<int64_t>(next, 16, kMaxMsDelta));
    }
  }

  int channels_;
  int blockAlign_;
  int samplesPerBlock_;
  std::vector<int> coef1_, coef2_;
};

enum class SampleKind { U8, S16, S24, S32, F32, F64 };

// Any linear sample layout to 16-bit: wider integers are rounded to the
// nearest 16-bit value, floats are scaled by 32768 and limited.
class ToInt16Stage final : public TMMCodecStage {
 public:
  ToInt16Stage(SampleKind kind, int channels) : kind_(kind), channels_(channels) {}

  size_t Process(const uint8_t* in, size_t bytes, std::vector<uint8_t>& out) override {
    const size_t width = Width();
    const size_t used = bytes - bytes % Unit();
    for (size_t i = 0; i < used; i += width) Put16(out, Sample(in + i));
    return used;
  }
  size_t Unit() const override { return Width() * static_cast<size_t>(channels_); }
  size_t MaxOutput(size_t bytes) const override { return bytes / Width() * 2; }

 private:
  size_t Width() const {
    switch (kind_) {
      case SampleKind::U8: return 1;
      case SampleKind::S16: return 2;
      case SampleKind::S24: return 3;
      case SampleKind::S32:
      case SampleKind::F32: return 4;
      case SampleKind::F64: return 8;
    }
    return 1;
  }

  int32_t Sample(const uint8_t* p) const {
    switch (kind_) {
      case SampleKind::U8: return (int32_t{p[0]} - 128) * 256;
      case SampleKind::S16: return Load16(p);
      case SampleKind::S24: {
        const int32_t v = static_cast<int32_t>((uint32_t{p[0]} << 8) | (uint32_t{p[1]} << 16) |
                                               (uint32_t{p[2]} << 24)) >> 8;
        return Clamp16((v + 128) >> 8);
      }
      case SampleKind::S32: {
        int32_t v;
        std::memcpy(&v, p, 4);
        return Clamp16(static_cast<int32_t>((int64_t{v} + 32768) >> 16));
      }
      case SampleKind::F32: {
        float v;
        std::memcpy(&v, p, 4);
        return FromFloat(v);
      }
      case SampleKind::F64: {
        double v;
        std::memcpy(&v, p, 8);
        return FromFloat(v);
      }
    }
    return 0;
  }

  static int32_t FromFloat(double v) {
    if (!(v == v)) return 0;  // NaN
    const double s = std::nearbyint(v * 32768.0);
    return static_cast<int32_t>(std::clamp(s, -32768.0, 32767.0));
  }

  SampleKind kind_;
  int channels_;
};

// 16-bit frames to another channel count: one channel is the mean of all,
// more channels repeat the source's in turn.
class ChannelStage final : public TMMCodecStage {
 public:
  ChannelStage(int from, int to) : from_(from), to_(to) {}
  size_t Process(const uint8_t* in, size_t bytes, std::vector<uint8_t>& out) override {
    const size_t unit = Unit();
    const size_t used = bytes - bytes % unit;
    for (size_t f = 0; f < used; f += unit) {
      const uint8_t* frame = in + f;
      if (to_ == 1) {
        int32_t sum = 0;
        for (int c = 0; c < from_; ++c) sum += Load16(frame + 2 * c);
        // Rounds toward minus infinity like the wave converter's mono mix.
        const int32_t mean = sum >= 0 ? sum / from_ : -((-sum + from_ - 1) / from_);
        Put16(out, mean);
      } else {
        for (int c = 0; c < to_; ++c) Put16(out, Load16(frame + 2 * (c % from_)));
      }
    }
    return used;
  }
  size_t Unit() const override { return 2 * static_cast<size_t>(from_); }
  size_t MaxOutput(size_t bytes) const override { return bytes / Unit() * 2 * static_cast<size_t>(to_); }

 private:
  int from_, to_;
};

// 16-bit frames to another rate by linear interpolation between
// neighbouring frames; the phase runs on across calls.
class RateStage final : public TMMCodecStage {
 public:
  RateStage(int channels, uint32_t from, uint32_t to)
      : channels_(channels), from_(from), to_(to), prev_(static_cast<size_t>(channels)) {}

  size_t Process(const uint8_t* in, size_t bytes, std::vector<uint8_t>& out) override {
    const size_t unit = Unit();
    const size_t used = bytes - bytes % unit;
    const int64_t to = to_;
    for (size_t f = 0; f < used; f += unit) {
      const uint8_t* frame = in + f;
      if (!havePrev_) {
        for (int c = 0; c < channels_; ++c) prev_[static_cast<size_t>(c)] = Load16(frame + 2 * c);
        havePrev_ = true;
        continue;
      }
      // Outputs that fall between the previous frame (phase 0) and this one (phase `to`).
      while (phase_ < to) {
        for (int c = 0; c < channels_; ++c) {
          const int64_t a = prev_[static_cast<size_t>(c)];
          const int64_t b = Load16(frame + 2 * c);
          const int64_t num = a * (to - phase_) + b * phase_;
          Put16(out, static_cast<int32_t>(num >= 0 ? (num + to / 2) / to : -((-num + to / 2) / to)));
        }
        phase_ += from_;
      }
      phase_ -= to;
      for (int c = 0; c < channels_; ++c) prev_[static_cast<size_t>(c)] = Load16(frame + 2 * c);
    }
    return used;
  }
  size_t Unit() const override { return 2 * static_cast<size_t>(channels_); }
  size_t MaxOutput(size_t bytes) const override {
    const uint64_t frames = bytes / Unit() + 1;
    return static_cast<size_t>((frames * to_ / from_ + 2) * Unit());
  }
  void Reset() override {
    havePrev_ = false;
    phase_ = 0;
  }

 private:
  int channels_;
  uint32_t from_, to_;
  std::vector<int32_t> prev_;
  bool havePrev_ = false;
  int64_t phase_ = 0;
};

class To8BitStage final : public TMMCodecStage {
 public:
  size_t Process(const uint8_t* in, size_t bytes, std::vector<uint8_t>& out) override {
    const size_t used = bytes & ~size_t{1};
    const size_t at = out.size();
    out.resize(at + used / 2);
    ConvertSampleWidth(8, out.data() + at, 16, static_cast<int32_t>(used), in);
    return used;
  }
  size_t Unit() const override { return 2; }
  size_t MaxOutput(size_t bytes) const override { return bytes / 2; }
};

// What a format holds, as far as decoding needs to know.
struct Layout {
  enum Kind { kNone, kLinear, kMuLaw, kALaw, kIma, kMsAdpcm } kind = kNone;
  SampleKind sample = SampleKind::S16;
  int channels = 0;
  uint32_t rate = 0;
  int blockAlign = 0;
  int samplesPerBlock = 0;
  std::vector<int> coef1, coef2;
  std::string problem;
};

uint16_t Get16u(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

std::string TagText(uint16_t tag) {
  WAVEFORMATEX f{};
  f.wFormatTag = tag;
  const std::string name = FormatTagName(&f);
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%04X", tag);
  return name == "Unknown" ? std::string("format tag ") + hex : name;
}

// The tag an extensible header names through its sub-format, or 0.
uint16_t ExtensibleTag(const WAVEFORMATEX* f) {
  static constexpr uint8_t kBaseGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  if (f->cbSize < 22) return 0;
  const uint8_t* guid = WaveFormatExtra(f) + 6;
  if (std::memcmp(guid + 2, kBaseGuidTail, sizeof kBaseGuidTail) != 0) return 0;
  return Get16u(guid);
}

Layout Describe(const WAVEFORMATEX* f) {
  Layout l;
  if (f == nullptr) {
    l.problem = "no format";
    return l;
  }
  uint16_t tag = f->wFormatTag;
  const std::string name = TagText(tag);
  if (tag == WAVE_FORMAT_EXTENSIBLE) {
    tag = ExtensibleTag(f);
    if (tag == 0) {
      l.problem = "an extensible wave format with an unknown sub-format";
      return l;
    }
  }
  l.channels = f->nChannels;
  l.rate = f->nSamplesPerSec;
  l.blockAlign = f->nBlockAlign;
  if (l.channels < 1 || l.channels > kMaxChannels) {
    l.problem = name + " with " + std::to_string(l.channels) + " channels";
    return l;
  }
  if (l.rate < kMinRate || l.rate > kMaxRate) {
    l.problem = name + " at " + std::to_string(l.rate) + " Hz";
    return l;
  }
  const int bits = f->wBitsPerSample;
  auto bad = [&](const std::string& what) {
    l.problem = name + " (" + what + ")";
    return l;
  };
  switch (tag) {
    case WAVE_FORMAT_PCM:
    case WAVE_FORMAT_IEEE_FLOAT: {
      const bool isFloat = tag == WAVE_FORMAT_IEEE_FLOAT;
      if (!isFloat && bits == 8) l.sample = SampleKind::U8;
      else if (!isFloat && bits == 16) l.sample = SampleKind::S16;
      else if (!isFloat && bits == 24) l.sample = SampleKind::S24;
      else if (!isFloat && bits == 32) l.sample = SampleKind::S32;
      else if (isFloat && bits == 32) l.sample = SampleKind::F32;
      else if (isFloat && bits == 64) l.sample = SampleKind::F64;
      else return bad(std::to_string(bits) + " bits per sample");
      if (l.blockAlign != bits / 8 * l.channels) return bad("block size does not match");
      l.kind = Layout::kLinear;
      return l;
    }
    case WAVE_FORMAT_MULAW:
    case WAVE_FORMAT_ALAW:
      if (bits != 8 || l.blockAlign != l.channels) return bad("not 8 bits per sample");
      l.kind = tag == WAVE_FORMAT_MULAW ? Layout::kMuLaw : Layout::kALaw;
      return l;
    case WAVE_FORMAT_IMA_ADPCM: {
      if (bits != 4) return bad(std::to_string(bits) + " bits per sample");
      const int header = 4 * l.channels;
      if (l.blockAlign <= header || (l.blockAlign - header) % header != 0) {
        return bad("block size does not match");
      }
      const int most = (l.blockAlign - header) * 8 / (4 * l.channels) + 1;
      int spb = most;
      if (f->cbSize >= 2) spb = Get16u(WaveFormatExtra(f));
      if (spb < 1 || spb > most) return bad("samples per block do not match");
      l.samplesPerBlock = spb;
      l.kind = Layout::kIma;
      return l;
    }
    case WAVE_FORMAT_ADPCM: {
      if (bits != 4) return bad(std::to_string(bits) + " bits per sample");
      const int header = 7 * l.channels;
      if (l.blockAlign < header) return bad("block size does not match");
      const int most = (l.blockAlign - header) * 2 / l.channels + 2;
      static constexpr int kStd1[7] = {256, 512, 0, 192, 240, 460, 392};
      static constexpr int kStd2[7] = {0, -256, 0, 64, 0, -208, -232};
      int spb = most;
      if (f->cbSize >= 4) {
        const uint8_t* x = WaveFormatExtra(f);
        spb = Get16u(x);
        const int numCoef = Get16u(x + 2);
        if (numCoef < 1 || numCoef > 256 || f->cbSize < 4 + 4 * numCoef) {
          return bad("coefficient table does not match");
        }
        for (int i = 0; i < numCoef; ++i) {
          l.coef1.push_back(static_cast<int16_t>(Get16u(x + 4 + 4 * i)));
          l.coef2.push_back(static_cast<int16_t>(Get16u(x + 6 + 4 * i)));
        }
      } else {
        l.coef1.assign(std::begin(kStd1), std::end(kStd1));
        l.coef2.assign(std::begin(kStd2), std::end(kStd2));
      }
      if (spb < 2 || spb > most) return bad("samples per block do not match");
      l.samplesPerBlock = spb;
      l.kind = Layout::kMsAdpcm;
      return l;
    }
    default:
      l.problem = name;
      return l;
  }
}

bool PlainPcm(const WAVEFORMATEX* f) {
  return f != nullptr && f->wFormatTag == WAVE_FORMAT_PCM &&
         (f->wBitsPerSample == 8 || f->wBitsPerSample == 16) && f->nChannels >= 1 &&
         f->nChannels <= kMaxChannels && f->nSamplesPerSec >= kMinRate &&
         f->nSamplesPerSec <= kMaxRate && f->nBlockAlign == f->wBitsPerSample / 8 * f->nChannels;
}

bool SameFormat(const WAVEFORMATEX* a, const WAVEFORMATEX* b) {
  return a->wFormatTag == b->wFormatTag && a->wBitsPerSample == b->wBitsPerSample &&
         a->nChannels == b->nChannels && a->nSamplesPerSec == b->nSamplesPerSec;
}

}  // namespace

// ---------------------------------------------------------------------------
// The service

WaveFormatPtr SuggestPcm(const WAVEFORMATEX* source) {
  if (PlainPcm(source)) return CopyWaveFormat(source);
  const Layout l = Describe(source);
  if (l.kind == Layout::kNone) return nullptr;
  return MakePcmFormat(16, std::min(l.channels, 2), static_cast<int>(l.rate));
}

bool CanConvert(const WAVEFORMATEX* source, const WAVEFORMATEX* target) {
  if (source == nullptr || target == nullptr) return false;
  if (SameFormat(source, target) && PlainPcm(source)) return true;
  return PlainPcm(target) && Describe(source).kind != Layout::kNone;
}

std::string ConversionProblem(const WAVEFORMATEX* source) {
  if (PlainPcm(source)) return {};
  return Describe(source).problem;
}

std::unique_ptr<TMMConversion> OpenConversion(const WAVEFORMATEX* source,
                                              const WAVEFORMATEX* target, int32_t bufferSize) {
  if (source == nullptr || target == nullptr) throw EMMACMError(LoadResString(SInvalidParam));
  if (!PlainPcm(target)) {
    throw EMMACMError(LoadResString(SNoCodecConversion) + ": " + Describe(target).problem);
  }
  const Layout l = Describe(source);
  if (l.kind == Layout::kNone) {
    throw EMMACMError(LoadResString(SNoCodecConversion) + ": " + l.problem);
  }
  std::unique_ptr<TMMConversion> conv(new TMMConversion());
  conv->source_ = CopyWaveFormat(source);
  conv->target_ = MakePcmFormat(target->wBitsPerSample, target->nChannels,
                                static_cast<int>(target->nSamplesPerSec));
  auto& st = conv->stages_;
  const bool identical = SameFormat(source, target) && PlainPcm(source);
  if (!identical) {
    switch (l.kind) {
      case Layout::kMuLaw: st.push_back(std::make_unique<G711Stage>(false)); break;
      case Layout::kALaw: st.push_back(std::make_unique<G711Stage>(true)); break;
      case Layout::kIma:
        st.push_back(std::make_unique<ImaStage>(l.channels, l.blockAlign, l.samplesPerBlock));
        break;
      case Layout::kMsAdpcm:
        st.push_back(std::make_unique<MsAdpcmStage>(l.channels, l.blockAlign, l.samplesPerBlock,
                                                    l.coef1, l.coef2));
        break;
      case Layout::kLinear:
        if (l.sample != SampleKind::S16) st.push_back(std::make_unique<ToInt16Stage>(l.sample, l.channels));
        break;
      case Layout::kNone: break;
    }
    const int to = conv->target_->nChannels;
    if (l.channels != to) st.push_back(std::make_unique<ChannelStage>(l.channels, to));
    if (l.rate != conv->target_->nSamplesPerSec) {
      const uint32_t rate = conv->target_->nSamplesPerSec;
      st.push_back(std::make_unique<RateStage>(to, l.rate, rate));
    }
    if (conv->target_->wBitsPerSample == 8) st.push_back(std::make_unique<To8BitStage>());
  }
  conv->carry_.resize(st.size());
  const size_t unit = st.empty() ? static_cast<size_t>(std::max<int>(source->nBlockAlign, 1))
                                 : st.front()->Unit();
  size_t size = static_cast<size_t>(std::max(bufferSize, 0));
  size = std::max(size - size % unit, unit);
  conv->sourceBuffer_.resize(size);
  // The most one call can produce: the buffer plus what the stages may
  // still carry from the call before.
  size_t most = size;
  for (const auto& s : st) most = s->MaxOutput(most + s->Unit() - 1);
  conv->outputBuffer_.resize(std::max<size_t>(most, 1));
  return conv;
}

TMMConversion::~TMMConversion() = default;

void TMMConversion::Convert(std::span<const uint8_t> data, std::vector<uint8_t>& out) {
  if (stages_.empty()) {
    // Closed, or equal formats.
    if (source_) out.insert(out.end(), data.begin(), data.end());
    return;
  }
  const uint8_t* in = data.data();
  size_t bytes = data.size();
  for (size_t i = 0; i < stages_.size(); ++i) {
    std::vector<uint8_t>& carry = carry_[i];
    const bool last = i + 1 == stages_.size();
    std::vector<uint8_t>& dest = last ? out : work_[i % 2];
    if (!last) dest.clear();
    if (!carry.empty()) {
      carry.insert(carry.end(), in, in + bytes);
      const size_t used = stages_[i]->Process(carry.data(), carry.size(), dest);
      carry.erase(carry.begin(), carry.begin() + static_cast<std::ptrdiff_t>(used));
    } else {
      const size_t used = stages_[i]->Process(in, bytes, dest);
      carry.assign(in + used, in + bytes);
    }
    if (!last) {
      in = dest.data();
      bytes = dest.size();
    }
  }
}

int32_t TMMConversion::Convert(int32_t bytes) {
  if (bytes < 0 || bytes > SourceSize()) return -1;
  std::vector<uint8_t>& result = result_;
  result.clear();
  Convert(std::span<const uint8_t>(sourceBuffer_.data(), static_cast<size_t>(bytes)), result);
  // The buffer was sized for the worst case; the guard keeps a miscount
  // from ever writing past it.
  const size_t n = std::min(result.size(), outputBuffer_.size());
  if (n > 0) std::memcpy(outputBuffer_.data(), result.data(), n);
  return static_cast<int32_t>(n);
}

void TMMConversion::Reset() {
  for (auto& c : carry_) c.clear();
  for (auto& s : stages_) s->Reset();
}

void TMMConversion::Close() {
  stages_.clear();
  carry_.clear();
  source_.reset();
}

// ---------------------------------------------------------------------------
// The chain component

TMMACMConverter::TMMACMConverter(std::string name) : TMMDSPComponent(std::move(name)) {}

TMMACMConverter::~TMMACMConverter() { Unlink(); }

void TMMACMConverter::ReceiveFormat(const WAVEFORMATEX* format) {
  source_ = CopyWaveFormat(format);
  conversion_.reset();
  WaveFormatPtr pcm = SuggestPcm(format);
  SetPWaveFormat(pcm.get());
}

void TMMACMConverter::ResetConversion() {
  conversion_.reset();
  pending_.clear();
  pendingAt_ = 0;
  inputMore_ = true;
  const WAVEFORMATEX* target = PWaveFormat();
  if (source_ && target != nullptr) {
    conversion_ = OpenConversion(source_.get(), target, 0);
  }
}

void TMMACMConverter::Open() {
  const bool was = Opened();
  TMMDSPComponent::Open();
  if (!was) ResetConversion();
}

void TMMACMConverter::Start() {
  const bool was = Started();
  TMMDSPComponent::Start();
  if (!was && Started()) ResetConversion();
}

void TMMACMConverter::BufferLoad(PWaveHdr buffer, bool& moreBuffers) {
  if (OnBufferLoad) OnBufferLoad(this, buffer, moreBuffers);
  TMMDSPComponent* in = Input();
  if (!conversion_ && source_ && PWaveFormat() != nullptr) ResetConversion();
  if (in == nullptr || !conversion_) {
    buffer->dwBytesRecorded = 0;
    return;
  }
  const WAVEFORMATEX* src = source_.get();
  const WAVEFORMATEX* dst = PWaveFormat();
  const size_t want = buffer->dwBufferLength;
  // Enough source for about one output buffer, in whole source blocks.
  const size_t align = std::max<size_t>(src->nBlockAlign, 1);
  size_t chunk = static_cast<size_t>(static_cast<uint64_t>(want) * std::max<uint32_t>(src->nAvgBytesPerSec, 1) /
                                     std::max<uint32_t>(dst->nAvgBytesPerSec, 1));
  chunk = std::clamp<size_t>(chunk - chunk % align, align, std::max<size_t>(align, size_t{1} << 20));
  if (block_.size() < kBufferHeaderSize + chunk) block_.resize(kBufferHeaderSize + chunk);
  auto* hdr = reinterpret_cast<TMMBufferHeader*>(block_.data());
  int emptyPulls = 0;
  while (pending_.size() - pendingAt_ < want && inputMore_ && emptyPulls < 2) {
    InitBufferHeader(hdr, static_cast<uint32_t>(chunk));
    hdr->LoopEnabled = buffer->LoopEnabled;
    hdr->LoopCount = buffer->LoopCount;
    hdr->LoopCounter = buffer->LoopCounter;
    bool more = false;
    in->BufferLoad(hdr, more);
    buffer->LoopCounter = hdr->LoopCounter;
    if (hdr->LoopRestarted != 0) {
      buffer->LoopRestarted = hdr->LoopRestarted;
      // A wrapped file starts a fresh stream: no half block from its end.
      conversion_->Reset();
    }
    const size_t got = std::min<size_t>(hdr->dwBytesRecorded, chunk);
    if (pendingAt_ > 0 && pendingAt_ == pending_.size()) {
      pending_.clear();
      pendingAt_ = 0;
    }
    if (got > 0) {
      conversion_->Convert(std::span<const uint8_t>(reinterpret_cast<uint8_t*>(hdr->lpData), got),
                           pending_);
      emptyPulls = 0;
    } else {
      ++emptyPulls;
    }
    inputMore_ = more;
  }
  const size_t have = pending_.size() - pendingAt_;
  size_t n = std::min(want, have);
  n -= n % std::max<size_t>(dst->nBlockAlign, 1);
  if (n == 0 && have > 0 && !inputMore_) n = std::min(want, have);
  if (n > 0) std::memcpy(buffer->lpData, pending_.data() + pendingAt_, n);
  pendingAt_ += n;
  if (pendingAt_ == pending_.size()) {
    pending_.clear();
    pendingAt_ = 0;
  } else if (pendingAt_ > (size_t{1} << 20)) {
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pendingAt_));
    pendingAt_ = 0;
  }
  buffer->dwBytesRecorded = static_cast<uint32_t>(n);
  moreBuffers = inputMore_ || pendingAt_ < pending_.size();
}

std::unique_ptr<TMMDSPComponent> CreateCodecDecoder(const WAVEFORMATEX* source) {
  if (source == nullptr || PlainPcm(source) || !SuggestPcm(source)) return nullptr;
  return std::make_unique<TMMACMConverter>("Decoder");
}

}  // namespace tv
