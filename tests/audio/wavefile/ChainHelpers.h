// Small chain parts for the file component tests: a buffer block, a driver
// that pulls or pushes on the calling thread, and a source of test frames.
#pragma once

#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "MMDSPObj.h"

namespace tv::test {

// A buffer block: header followed by its sample bytes.
class Buffer {
 public:
  explicit Buffer(uint32_t capacity) : block_(kBufferHeaderSize + capacity) { Reset(capacity); }
  void Reset(uint32_t capacity) {
    InitBufferHeader(Header(), capacity);
  }
  TMMBufferHeader* Header() { return reinterpret_cast<TMMBufferHeader*>(block_.data()); }
  std::vector<uint8_t> Data() {
    const auto* p = reinterpret_cast<const uint8_t*>(Header()->lpData);
    return std::vector<uint8_t>(p, p + Header()->dwBytesRecorded);
  }

 private:
  std::vector<uint8_t> block_;  // heap blocks are aligned for the header
};

class TestDriver : public TMMCustomSoundComponent {
 public:
  explicit TestDriver(std::string name = "Driver") : TMMCustomSoundComponent(std::move(name)) {}
  ~TestDriver() override { Unlink(); }
  std::span<const LinkProperty> LinkProperties() const override { return kPublishInputOutput; }

  // One pull from upstream into a fresh buffer of the effective size.
  bool Pull(Buffer& b, bool loop = false, int loopCount = 0) {
    b.Reset(static_cast<uint32_t>(BufferSize()));
    if (loop) {
      b.Header()->LoopEnabled = -1;
      b.Header()->LoopCount = loopCount;
      b.Header()->LoopCounter = loopCount;
    }
    bool more = false;
    BufferLoad(b.Header(), more);
    return more;
  }
};

// A source that hands out the bytes it was given, in whole requests.
class FrameSource : public TMMDSPComponent {
 public:
  FrameSource() : TMMDSPComponent("Frames") {}
  ~FrameSource() override { Unlink(); }
  std::span<const LinkProperty> LinkProperties() const override { return kPublishOutput; }
  std::vector<uint8_t> Bytes;
  void BufferLoad(PWaveHdr b, bool& more) override {
    const size_t n = std::min<size_t>(b->dwBufferLength, Bytes.size() - at_);
    std::memcpy(b->lpData, Bytes.data() + at_, n);
    at_ += n;
    b->dwBytesRecorded = static_cast<uint32_t>(n);
    more = at_ < Bytes.size();
  }

 private:
  size_t at_ = 0;
};

}  // namespace tv::test
