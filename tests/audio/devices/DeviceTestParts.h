// Chain parts and a fixture for the device components' tests: a source of
// numbered frames, a sink that keeps what reaches it, and a main-thread
// loop to run the posted notifications on.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "MMDSPObj.h"
#include "MMDispatch.h"
#include "MMErrors.h"
#include "TMMVirtualDevices.h"

namespace tv::test {

using namespace std::chrono_literals;

// Frame k of 16-bit stereo carries k itself: low half left, high half right,
// so that a lost, doubled or reordered stretch shows.
inline uint32_t FrameValue(uint64_t k) { return static_cast<uint32_t>(k); }

// Serves numbered 16-bit stereo frames: `frames` of them, or endlessly.
// Rewind starts the numbering again; the lifecycle calls are logged.
class FrameSource : public TMMDSPComponent {
 public:
  explicit FrameSource(uint64_t frames = UINT64_MAX, int rate = 44100)
      : TMMDSPComponent("Source"), frames_(frames) {
    WaveFormatPtr f = MakePcmFormat(16, 2, rate);
    SetPWaveFormat(f.get());
  }
  ~FrameSource() override { Unlink(); }
  std::span<const LinkProperty> LinkProperties() const override { return kPublishOutput; }

  void Open() override {
    Log("open");
    TMMDSPComponent::Open();
  }
  void Close() override {
    Log("close");
    TMMDSPComponent::Close();
  }
  void Start() override {
    Log("start");
    TMMDSPComponent::Start();
  }
  void Stop() override {
    Log("stop");
    TMMDSPComponent::Stop();
  }
  void Rewind() override {
    Log("rewind");
    next_.store(0);
  }
  void BufferLoad(PWaveHdr buffer, bool& moreBuffers) override {
    const uint64_t next = next_.load();
    const uint64_t n = std::min<uint64_t>(buffer->dwBufferLength / 4, frames_ - next);
    for (uint64_t i = 0; i < n; ++i) {
      const uint32_t v = FrameValue(next + i);
      std::memcpy(buffer->lpData + 4 * i, &v, 4);
    }
    next_.store(next + n);
    buffer->dwBytesRecorded = static_cast<uint32_t>(n * 4);
    moreBuffers = next + n < frames_;
  }
  std::vector<std::string> Calls() {
    std::lock_guard lock(lock_);
    return calls_;
  }

 private:
  void Log(const std::string& what) {
    std::lock_guard lock(lock_);
    calls_.push_back(what);
  }
  const uint64_t frames_;
  std::atomic<uint64_t> next_{0};
  std::mutex lock_;
  std::vector<std::string> calls_;
};

// Keeps the bytes and the sizes of the buffers that reach it.
class Collector : public TMMDSPComponent {
 public:
  Collector() : TMMDSPComponent("Collector") {}
  ~Collector() override { Unlink(); }
  std::span<const LinkProperty> LinkProperties() const override { return kPublishInputOutput; }

  void BufferReady(PWaveHdr buffer) override {
    {
      std::lock_guard lock(lock_);
      bytes_.insert(bytes_.end(), buffer->lpData, buffer->lpData + buffer->dwBytesRecorded);
      sizes_.push_back(buffer->dwBytesRecorded);
      onMain_.push_back(MainDispatcher().IsMainThread());
      nextInRing_.push_back(buffer->NextInRing);
    }
    TMMDSPComponent::BufferReady(buffer);
  }
  std::vector<uint8_t> Bytes() {
    std::lock_guard lock(lock_);
    return bytes_;
  }
  std::vector<uint32_t> Frames() {
    std::lock_guard lock(lock_);
    std::vector<uint32_t> frames(bytes_.size() / 4);
    if (!frames.empty()) std::memcpy(frames.data(), bytes_.data(), frames.size() * 4);
    return frames;
  }
  std::vector<uint32_t> Sizes() {
    std::lock_guard lock(lock_);
    return sizes_;
  }
  std::vector<bool> OnMain() {
    std::lock_guard lock(lock_);
    return onMain_;
  }
  std::vector<PWaveHdr> NextInRing() {
    std::lock_guard lock(lock_);
    return nextInRing_;
  }
  size_t Count() {
    std::lock_guard lock(lock_);
    return sizes_.size();
  }
  size_t ByteCount() {
    std::lock_guard lock(lock_);
    return bytes_.size();
  }
  void Clear() {
    std::lock_guard lock(lock_);
    bytes_.clear();
    sizes_.clear();
    onMain_.clear();
    nextInRing_.clear();
  }

 private:
  std::mutex lock_;
  std::vector<uint8_t> bytes_;
  std::vector<uint32_t> sizes_;
  std::vector<bool> onMain_;
  std::vector<PWaveHdr> nextInRing_;
};

// Holds the device's thread inside the chain for 200 ms at each buffer, so
// that a Close can meet a handler still running.
class SlowSink : public TMMDSPComponent {
 public:
  SlowSink() : TMMDSPComponent("SlowSink") {}
  ~SlowSink() override { Unlink(); }
  std::span<const LinkProperty> LinkProperties() const override { return kPublishInputOutput; }
  void BufferReady(PWaveHdr buffer) override {
    inside.store(true);
    entered.fetch_add(1);
    std::this_thread::sleep_for(200ms);
    inside.store(false);
    TMMDSPComponent::BufferReady(buffer);
  }
  std::atomic<bool> inside{false};
  std::atomic<int> entered{0};
};

class EventLog {
 public:
  void Add(const std::string& what) {
    std::lock_guard lock(lock_);
    events_.push_back(what);
  }
  std::function<void(TMMDSPComponent*)> Recorder(const std::string& what) {
    return [this, what](TMMDSPComponent*) { Add(what); };
  }
  int Count(const std::string& what) {
    std::lock_guard lock(lock_);
    return static_cast<int>(std::count(events_.begin(), events_.end(), what));
  }
  std::vector<std::string> All() {
    std::lock_guard lock(lock_);
    return events_;
  }

 private:
  std::mutex lock_;
  std::vector<std::string> events_;
};

// Where `frames` continue the numbering without a gap or a repeat, from
// their first frame on; answers the index of the first break, or size.
inline size_t ContinuousUpTo(const std::vector<uint32_t>& frames) {
  for (size_t i = 1; i < frames.size(); ++i) {
    if (frames[i] != frames[i - 1] + 1) return i;
  }
  return frames.size();
}

// The position of the first numbered frame (value `first`) in a recording.
inline size_t FindFrame(const std::vector<uint32_t>& frames, uint32_t first) {
  for (size_t i = 0; i + 1 < frames.size(); ++i) {
    if (frames[i] == first && frames[i + 1] == first + 1) return i;
  }
  return frames.size();
}

// The messages that reached the application's error handler.
class ApplicationErrors {
 public:
  ApplicationErrors() {
    SetApplicationErrorHandler([this](const std::string& m) {
      std::lock_guard lock(lock_);
      messages_.push_back(m);
    });
  }
  ~ApplicationErrors() { SetApplicationErrorHandler(nullptr); }
  std::vector<std::string> Messages() {
    std::lock_guard lock(lock_);
    return messages_;
  }

 private:
  std::mutex lock_;
  std::vector<std::string> messages_;
};

// Names the callback-mode instances of a parameterised test.
inline std::string ModeName(const ::testing::TestParamInfo<TMMCBMode>& mode) {
  return mode.param == cmWindow ? "Window" : "Thread";
}

class DeviceTest : public ::testing::Test {
 public:
  // Lets the devices run for a while of real time, serving the main thread.
  void RunFor(std::chrono::milliseconds time) {
    loop.RunUntil([] { return false; }, time);
  }

 protected:
  void SetUp() override {
    SetMainDispatcher(&loop);
    devices.SetSpeed(20);
  }
  void TearDown() override {
    loop.ProcessPending();
    SetMainDispatcher(nullptr);
  }
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    return loop.RunUntil(done, timeout);
  }

  // Starts a device whose thread feeds `sink`, closes it while the thread is
  // inside the sink, and checks that Close waited for the handler to leave
  // and that nothing reaches the sink afterwards.
  template <class Device>
  void ExpectCloseWaitsForTheHandler(Device& device, SlowSink& sink) {
    device.Start();
    ASSERT_TRUE(RunUntil([&] { return sink.inside.load(); }));
    device.Close();
    EXPECT_FALSE(sink.inside.load());
    EXPECT_FALSE(device.IsOpen());
    const int calls = sink.entered.load();
    RunFor(100ms);
    EXPECT_EQ(sink.entered.load(), calls);
  }

  LoopDispatcher loop;
  TMMVirtualDevices devices;
  ApplicationErrors appErrors;
};

}  // namespace tv::test
