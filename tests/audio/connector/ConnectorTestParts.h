// Parts for the connector's tests: a clock moved by hand, displays that
// record what they are fed, and buffers in the chain's block layout.
#pragma once

#include <atomic>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "MMDSPObj.h"
#include "TMMConnector.h"

namespace tv::test {

class ManualClock final : public TMMClock {
 public:
  int64_t Microseconds() const override { return now_.load(); }
  void SetMilliseconds(int64_t ms) { now_.store(ms * 1000); }

 private:
  std::atomic<int64_t> now_{0};
};

struct Feed {
  int64_t at;  // microseconds on the display's clock
  std::vector<uint8_t> bytes;
};

// Keeps every chunk it is fed, with the time it came.
class RecordingDisplay : public TMMDisplay {
 public:
  RecordingDisplay(int32_t frameBytes, const TMMClock* clock)
      : frameBytes_(frameBytes), clock_(clock) {}
  ~RecordingDisplay() override { TMMConnector::DisplayRemoved(this); }
  RecordingDisplay(const RecordingDisplay&) = delete;
  RecordingDisplay& operator=(const RecordingDisplay&) = delete;

  void AssignFormat(const WAVEFORMATEX* format) override {
    std::lock_guard lock(lock_);
    formats.push_back(*format);
  }
  int32_t FrameBytes() const override { return frameBytes_; }
  void FeedPCM(const void* data) override {
    if (throwOnFeed) throw std::runtime_error("display failed");
    const auto* p = static_cast<const uint8_t*>(data);
    std::lock_guard lock(lock_);
    feeds.push_back({clock_->Microseconds(), std::vector<uint8_t>(p, p + frameBytes_)});
  }
  void ResetDisplay() override { resets.fetch_add(1); }
  bool Scrolling() const override { return scrolling; }
  bool Accelerated() const override { return accelerated; }
  int32_t FFTLength() const override { return fftLength; }

  size_t FeedCount() {
    std::lock_guard lock(lock_);
    return feeds.size();
  }

  std::vector<WAVEFORMATEX> formats;
  std::vector<Feed> feeds;
  std::atomic<int> resets{0};
  bool throwOnFeed = false;
  bool scrolling = false;
  bool accelerated = false;
  int32_t fftLength = 0;

 private:
  int32_t frameBytes_;
  const TMMClock* clock_;
  std::mutex lock_;
};

// One buffer block: the header followed by its bytes.
class Buffer {
 public:
  explicit Buffer(const std::vector<uint8_t>& bytes)
      : block_(kBufferHeaderSize + bytes.size() + 8) {
    auto* h = Header();
    InitBufferHeader(h, static_cast<uint32_t>(bytes.size()));
    if (!bytes.empty()) std::memcpy(h->lpData, bytes.data(), bytes.size());
    h->dwBytesRecorded = static_cast<uint32_t>(bytes.size());
  }
  TMMBufferHeader* Header() { return reinterpret_cast<TMMBufferHeader*>(block_.data()); }

 private:
  std::vector<uint8_t> block_;  // operator new aligns it for the header's pointers
};

// A downstream neighbour that counts what reaches it.
class Sink : public TMMDSPComponent {
 public:
  Sink() : TMMDSPComponent("Sink") {}
  ~Sink() override { Unlink(); }
  std::span<const LinkProperty> LinkProperties() const override { return kPublishInputOutput; }
  void BufferReady(PWaveHdr buffer) override {
    if (OnData) OnData(buffer);
    buffers.fetch_add(1);
  }
  std::function<void(PWaveHdr)> OnData;
  std::atomic<int> buffers{0};
};

// Bytes that tell where in the buffer they came from.
inline std::vector<uint8_t> Counting(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
  return v;
}

}  // namespace tv::test
