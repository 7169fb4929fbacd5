// Keys decoded from a live stream on a thread of the decoder's own: the
// keys as heard, a decoder switched on and off mid-stream, the end of a
// stream, and a worker that falls behind.
#include "LiveKeyDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DtmfSynth.h"

namespace tv {
namespace {

using namespace std::chrono_literals;

// 44100 Hz 16-bit stereo, as live capture delivers it.
WAVEFORMATEX LineFormat() {
  WAVEFORMATEX f{};
  return MakePcmFormat(f, 16, 2, 44100);
}

std::vector<uint8_t> Line(const std::string& keys, double leadMs, double tailMs) {
  DtmfSignalOptions o;
  o.rate = 44100;
  o.channels = 2;
  o.toneMs = 70;
  o.gapMs = 80;
  o.leadMs = leadMs;
  o.tailMs = tailMs;
  o.levelDb = -12;
  o.noiseDb = -50;
  return PcmBytes(SynthesizeDtmf(keys, o), o);
}

// The keys reported so far, read on the test's thread.
class Heard {
 public:
  explicit Heard(LiveKeyDecoder& d) {
    d.OnKey = [this](LiveKeyDecoder*, const StrictDtmfKey& k) {
      std::lock_guard lock(lock_);
      keys_ += k.key;
    };
  }
  std::string Keys() const {
    std::lock_guard lock(lock_);
    return keys_;
  }

 private:
  mutable std::mutex lock_;
  std::string keys_;
};

// Hands `bytes` to the decoder in capture-sized buffers from a thread of
// its own, as a sound input does.
void Capture(LiveKeyDecoder& d, const std::vector<uint8_t>& bytes, const WAVEFORMATEX& format) {
  std::thread input([&] {
    for (size_t at = 0; at < bytes.size(); at += 8192) {
      const size_t n = std::min<size_t>(8192, bytes.size() - at);
      d.Tap(&format, bytes.data() + at, static_cast<int32_t>(n));
    }
  });
  input.join();
}

TEST(LiveKeyDecoder, KeysComeAsHeardAndTheEndOfTheStreamReleasesTheLast) {
  LiveKeyDecoder d;
  Heard heard(d);
  d.SetEnabled(true);
  const WAVEFORMATEX f = LineFormat();
  // A second of quiet after the keys: every key is out before the end.
  Capture(d, Line("159D*#", 300, 1000), f);
  ASSERT_TRUE(d.WaitIdle(10s));
  EXPECT_EQ(heard.Keys(), "159D*#");
  // Ended right after its tone, the last key waits for the stream's end.
  Capture(d, Line("0", 100, 0), f);
  ASSERT_TRUE(d.WaitIdle(10s));
  EXPECT_EQ(heard.Keys(), "159D*#");
  d.EndStream();
  ASSERT_TRUE(d.WaitIdle(10s));
  EXPECT_EQ(heard.Keys(), "159D*#0");
  // The next buffer begins a new stream, in another format.
  WAVEFORMATEX mono{};
  MakePcmFormat(mono, 16, 1, 8000);
  DtmfSignalOptions o;
  o.levelDb = -12;
  Capture(d, PcmBytes(SynthesizeDtmf("A", o), o), mono);
  d.EndStream();
  ASSERT_TRUE(d.WaitIdle(10s));
  EXPECT_EQ(heard.Keys(), "159D*#0A");
  EXPECT_EQ(d.Overruns(), 0);
}

TEST(LiveKeyDecoder, OnlyWhileSwitchedOnAndNothingOfADroppedStream) {
  LiveKeyDecoder d;
  Heard heard(d);
  const WAVEFORMATEX f = LineFormat();
  Capture(d, Line("12", 100, 500), f);
  d.EndStream();
  ASSERT_TRUE(d.WaitIdle(10s));
  EXPECT_EQ(heard.Keys(), "");

  d.SetEnabled(true);
  Capture(d, Line("34", 100, 500), f);
  ASSERT_TRUE(d.WaitIdle(10s));
  EXPECT_EQ(heard.Keys(), "34");

  // A key still held when the decoder is switched off is forgotten, also
  // when it is switched on again and that stream ends.
  Capture(d, Line("7", 100, 0), f);
  ASSERT_TRUE(d.WaitIdle(10s));
  d.SetEnabled(false);
  d.SetEnabled(true);
  d.EndStream();
  ASSERT_TRUE(d.WaitIdle(10s));
  EXPECT_EQ(heard.Keys(), "34");

  // Formats the detector cannot take are passed over.
  WAVEFORMATEX floats = f;
  floats.wFormatTag = 3;
  floats.wBitsPerSample = 32;
  const std::vector<uint8_t> line = Line("8", 100, 500);
  Capture(d, line, floats);
  d.EndStream();
  ASSERT_TRUE(d.WaitIdle(10s));
  EXPECT_EQ(heard.Keys(), "34");
}

TEST(LiveKeyDecoder, AStalledWorkerNeverHoldsUpTheInputAndStartsOverCleanly) {
  // Room for about 1.5 s of the line.
  LiveKeyDecoder d({}, 262144);
  std::mutex lock;
  std::condition_variable changed;
  bool inHandler = false, release = false;
  std::string keys;
  d.OnKey = [&](LiveKeyDecoder*, const StrictDtmfKey& k) {
    std::unique_lock l(lock);
    keys += k.key;
    inHandler = true;
    changed.notify_all();
    changed.wait(l, [&] { return release; });
  };
  d.SetEnabled(true);
  const WAVEFORMATEX f = LineFormat();
  Capture(d, Line("6", 100, 600), f);
  {
    std::unique_lock l(lock);
    ASSERT_TRUE(changed.wait_for(l, 10s, [&] { return inHandler; }));
  }
  // More than the ring holds arrives while the worker is stuck in the
  // handler: the input goes on, and what waited is dropped.
  const std::vector<uint8_t> quiet(8192, 0);
  for (int i = 0; i < 64 && d.Overruns() == 0; ++i) d.Tap(&f, quiet.data(), 8192);
  EXPECT_EQ(d.Overruns(), 1);
  Capture(d, Line("B", 200, 400), f);
  {
    std::lock_guard l(lock);
    release = true;
  }
  changed.notify_all();
  d.EndStream();
  ASSERT_TRUE(d.WaitIdle(10s));
  std::lock_guard l(lock);
  EXPECT_EQ(keys, "6B");
}

}  // namespace
}  // namespace tv
