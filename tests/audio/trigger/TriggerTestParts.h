// Chain parts for the offline driver's tests: a source that serves bytes
// from memory and a sink that keeps what reaches it.
#pragma once

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

#include "MMDSPObj.h"

namespace tv::test {

class MemorySource : public TMMDSPComponent {
 public:
  explicit MemorySource(std::vector<uint8_t> bytes, int bits = 16, int channels = 2,
                        int rate = 44100)
      : TMMDSPComponent("Source"), bytes_(std::move(bytes)) {
    WaveFormatPtr f = MakePcmFormat(bits, channels, rate);
    SetPWaveFormat(f.get());
  }
  ~MemorySource() override { Unlink(); }
  std::span<const LinkProperty> LinkProperties() const override { return kPublishOutput; }

  void Start() override {
    TMMDSPComponent::Start();
    position_ = 0;
  }
  void BufferLoad(PWaveHdr buffer, bool& moreBuffers) override {
    loads.fetch_add(1);
    const size_t left = bytes_.size() - position_;
    const size_t n = std::min<size_t>(left, buffer->dwBufferLength);
    if (n > 0) std::memcpy(buffer->lpData, bytes_.data() + position_, n);
    position_ += n;
    buffer->dwBytesRecorded = static_cast<uint32_t>(n);
    moreBuffers = position_ < bytes_.size();
  }
  std::atomic<int> loads{0};

 private:
  std::vector<uint8_t> bytes_;
  size_t position_ = 0;
};

class Sink : public TMMDSPComponent {
 public:
  Sink() : TMMDSPComponent("Sink") {}
  ~Sink() override { Unlink(); }
  std::span<const LinkProperty> LinkProperties() const override { return kPublishInputOutput; }

  void BufferReady(PWaveHdr buffer) override {
    if (OnData) OnData(buffer);
    {
      std::lock_guard lock(lock_);
      received_.insert(received_.end(), buffer->lpData, buffer->lpData + buffer->dwBytesRecorded);
    }
    buffers.fetch_add(1);
    TMMDSPComponent::BufferReady(buffer);
  }
  void Reset() {
    std::lock_guard lock(lock_);
    received_.clear();
    buffers = 0;
  }
  std::vector<uint8_t> Received() {
    std::lock_guard lock(lock_);
    return received_;
  }
  std::function<void(PWaveHdr)> OnData;
  std::atomic<int> buffers{0};

 private:
  std::mutex lock_;
  std::vector<uint8_t> received_;
};

inline std::vector<uint8_t> Counting(size_t n) {
  // A pattern that does not repeat within a buffer, so that a lost, doubled
  // or reordered block shows.
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
  return v;
}

}  // namespace tv::test
