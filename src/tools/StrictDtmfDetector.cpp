#include "StrictDtmfDetector.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <stdexcept>

#include "StrictDtmfChannel.h"

namespace tv {

namespace {

constexpr size_t kChunk = 1024;  // frames converted at a time
constexpr size_t kQueueRoom = 64;

}  // namespace

bool ParseDtmfChannelChoice(const std::string& text, DtmfChannelChoice& choice) {
  if (text == "left") {
    choice = DtmfChannelChoice::Left;
  } else if (text == "right") {
    choice = DtmfChannelChoice::Right;
  } else if (text == "mix") {
    choice = DtmfChannelChoice::Mix;
  } else if (text == "each") {
    choice = DtmfChannelChoice::Each;
  } else {
    return false;
  }
  return true;
}

const char* DtmfChannelChoiceName(DtmfChannelChoice choice) {
  switch (choice) {
    case DtmfChannelChoice::Left: return "left";
    case DtmfChannelChoice::Right: return "right";
    case DtmfChannelChoice::Mix: return "mix";
    case DtmfChannelChoice::Each: return "each";
  }
  return "mix";
}

std::string DtmfChannelName(int channel, int streamChannels) {
  if (channel == kMixChannel) return "mix";
  if (streamChannels == 1) return "mono";
  if (streamChannels == 2) return channel == 0 ? "left" : "right";
  return "channel " + std::to_string(channel + 1);
}

StrictDtmfDetector::StrictDtmfDetector(const StrictDtmfOptions& options) : options_(options) {}

StrictDtmfDetector::~StrictDtmfDetector() = default;

void StrictDtmfDetector::Start(int sampleRate, int channels, int bits) {
  if (sampleRate < 4000 || sampleRate > 384000) {
    throw std::invalid_argument("sample rate " + std::to_string(sampleRate) +
                                " Hz is outside 4000..384000 Hz");
  }
  if (channels < 1 || channels > 8) {
    throw std::invalid_argument(std::to_string(channels) + " channels; 1 to 8 can be decoded");
  }
  if (bits != 8 && bits != 16) {
    throw std::invalid_argument(std::to_string(bits) + "-bit samples; 8 or 16 bits can be decoded");
  }
  rate_ = sampleRate;
  streamChannels_ = channels;
  bits_ = bits;
  frames_ = 0;
  carryBytes_ = 0;

  source_.clear();
  if (channels == 1) {
    source_.push_back(0);
  } else {
    switch (options_.channel) {
      case DtmfChannelChoice::Left: source_.push_back(0); break;
      case DtmfChannelChoice::Right: source_.push_back(1); break;
      case DtmfChannelChoice::Mix: source_.push_back(kMixChannel); break;
      case DtmfChannelChoice::Each:
        for (int c = 0; c < channels; ++c) source_.push_back(c);
        break;
    }
  }
  analyses_.clear();
  for (int channel : source_) {
    auto a = std::make_unique<StrictDtmfChannel>();
    a->Setup(sampleRate, options_, channel);
    a->OnKey = [this](const StrictDtmfKey& k) { Collect(k); };
    analyses_.push_back(std::move(a));
  }
  scratch_.assign(kChunk * source_.size(), 0.0f);
  queue_.clear();
  queue_.reserve(kQueueRoom);
  started_ = true;
}

void StrictDtmfDetector::Feed(const int16_t* frames, size_t frameCount) {
  if (!started_) throw std::logic_error("StrictDtmfDetector: Feed before Start");
  if (bits_ != 16) throw std::logic_error("StrictDtmfDetector: Feed needs a 16-bit stream");
  FeedFloat(frames, nullptr, frameCount);
}

void StrictDtmfDetector::FeedBytes(const void* data, size_t bytes) {
  if (!started_) throw std::logic_error("StrictDtmfDetector: FeedBytes before Start");
  const size_t frameBytes = static_cast<size_t>(streamChannels_) * (bits_ / 8);
  const auto* p = static_cast<const uint8_t*>(data);
  // Complete a frame begun by the previous call.
  if (carryBytes_ > 0) {
    const size_t take = std::min(frameBytes - carryBytes_, bytes);
    std::copy(p, p + take, carry_ + carryBytes_);
    carryBytes_ += take;
    p += take;
    bytes -= take;
    if (carryBytes_ < frameBytes) return;
    carryBytes_ = 0;
    if (bits_ == 16) {
      int16_t frame[8];
      for (size_t c = 0; c < static_cast<size_t>(streamChannels_); ++c) {
        frame[c] = static_cast<int16_t>(carry_[2 * c] | (carry_[2 * c + 1] << 8));
      }
      FeedFloat(frame, nullptr, 1);
    } else {
      FeedFloat(nullptr, carry_, 1);
    }
  }
  const size_t whole = bytes / frameBytes;
  if (whole > 0) {
    if (bits_ == 16) {
      // Little-endian hosts read aligned bytes in place; otherwise frame by frame.
      if (std::endian::native == std::endian::little &&
          reinterpret_cast<uintptr_t>(p) % alignof(int16_t) == 0) {
        FeedFloat(reinterpret_cast<const int16_t*>(p), nullptr, whole);
      } else {
        int16_t frame[8];
        for (size_t f = 0; f < whole; ++f) {
          for (size_t c = 0; c < static_cast<size_t>(streamChannels_); ++c) {
            const uint8_t* s = p + f * frameBytes + 2 * c;
            frame[c] = static_cast<int16_t>(s[0] | (s[1] << 8));
          }
          FeedFloat(frame, nullptr, 1);
        }
      }
    } else {
      FeedFloat(nullptr, p, whole);
    }
  }
  const size_t rest = bytes - whole * frameBytes;
  std::copy(p + whole * frameBytes, p + bytes, carry_);
  carryBytes_ = rest;
}

void StrictDtmfDetector::FeedFloat(const int16_t* frames16, const uint8_t* frames8,
                                   size_t frameCount) {
  const size_t channels = static_cast<size_t>(streamChannels_);
  const float mixScale = 1.0f / static_cast<float>(channels);
  auto sample = [&](size_t frame, size_t c) -> float {
    const size_t i = frame * channels + c;
    return frames16 != nullptr ? static_cast<float>(frames16[i]) * (1.0f / 32768.0f)
                               : static_cast<float>(static_cast<int>(frames8[i]) - 128) * (1.0f / 128.0f);
  };
  for (size_t done = 0; done < frameCount;) {
    const size_t n = std::min(kChunk, frameCount - done);
    for (size_t a = 0; a < analyses_.size(); ++a) {
      float* out = scratch_.data() + a * kChunk;
      const int src = source_[a];
      if (src == kMixChannel) {
        for (size_t f = 0; f < n; ++f) {
          float sum = 0;
          for (size_t c = 0; c < channels; ++c) sum += sample(done + f, c);
          out[f] = sum * mixScale;
        }
      } else {
        for (size_t f = 0; f < n; ++f) out[f] = sample(done + f, static_cast<size_t>(src));
      }
    }
    for (size_t a = 0; a < analyses_.size(); ++a) {
      analyses_[a]->Process(scratch_.data() + a * kChunk, n);
    }
    done += n;
    frames_ += static_cast<int64_t>(n);
    Release(false);
  }
}

void StrictDtmfDetector::Finish() {
  if (!started_) return;
  for (auto& a : analyses_) a->Flush();
  Release(true);
  started_ = false;
}

void StrictDtmfDetector::Collect(const StrictDtmfKey& key) {
  if (analyses_.size() == 1) {
    if (OnKey) OnKey(key);
    return;
  }
  if (queue_.size() == queue_.capacity()) Release(true);  // never seen in practice
  queue_.push_back(key);
}

void StrictDtmfDetector::Release(bool all) {
  if (queue_.empty()) return;
  double until = 0;
  if (!all) {
    until = analyses_.front()->Watermark();
    for (const auto& a : analyses_) until = std::min(until, a->Watermark());
  }
  // Insertion sort: a handful of keys, and no allocation.
  auto before = [](const StrictDtmfKey& a, const StrictDtmfKey& b) {
    return a.startMs != b.startMs ? a.startMs < b.startMs : a.channel < b.channel;
  };
  for (size_t i = 1; i < queue_.size(); ++i) {
    for (size_t j = i; j > 0 && before(queue_[j], queue_[j - 1]); --j) std::swap(queue_[j], queue_[j - 1]);
  }
  size_t sent = 0;
  while (sent < queue_.size() && (all || queue_[sent].startMs <= until)) {
    if (OnKey) OnKey(queue_[sent]);
    ++sent;
  }
  queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(sent));
}

}  // namespace tv
