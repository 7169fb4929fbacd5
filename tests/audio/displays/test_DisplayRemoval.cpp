// The displays' computing halves unlink themselves from every connector when
// they go, so a running connector never feeds a display that is gone (the
// sanitizer builds see a feed of a freed display).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "MMDispatch.h"
#include "TMMConnector.h"
#include "TMMLevelCalc.h"
#include "TMMOscopeCalc.h"
#include "TMMSpectrumCalc.h"

namespace tv {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kBufferBytes = 4096;

// A buffer block of 16-bit stereo: a ramp, so that every display has data.
class RampBuffer {
 public:
  RampBuffer() : block_(kBufferHeaderSize + kBufferBytes) {
    InitBufferHeader(Header(), kBufferBytes);
    auto* samples = reinterpret_cast<int16_t*>(Header()->lpData);
    for (uint32_t i = 0; i < kBufferBytes / 2; ++i) samples[i] = static_cast<int16_t>(i * 13);
    Header()->dwBytesRecorded = kBufferBytes;
  }
  TMMBufferHeader* Header() { return reinterpret_cast<TMMBufferHeader*>(block_.data()); }

 private:
  std::vector<uint8_t> block_;
};

// Feeds buffers to a connector from a thread of its own, as a driver does.
class Feeder {
 public:
  Feeder(TMMConnector& con, std::chrono::milliseconds gap)
      : thread_([this, &con, gap] {
          RampBuffer buffer;
          while (!quit_.load()) {
            con.BufferReady(buffer.Header());
            fed_.fetch_add(1);
            std::this_thread::sleep_for(gap);
          }
        }) {}
  ~Feeder() {
    quit_.store(true);
    thread_.join();
  }
  int Fed() const { return fed_.load(); }

 private:
  std::atomic<bool> quit_{false};
  std::atomic<int> fed_{0};
  std::thread thread_;
};

struct Displays {
  std::unique_ptr<TMMLevelCalc> level = std::make_unique<TMMLevelCalc>();
  std::unique_ptr<TMMOscopeCalc> oscope = std::make_unique<TMMOscopeCalc>();
  std::unique_ptr<TMMSpectrumCalc> spectrum = std::make_unique<TMMSpectrumCalc>();
  void Link(TMMConnector& con) {
    con.SetLevel1(level.get());
    con.SetOscope1(oscope.get());
    con.SetSpectrum1(spectrum.get());
  }
};

class DisplayRemovalTest : public ::testing::Test {
 protected:
  void SetUp() override { SetMainDispatcher(&loop); }
  void TearDown() override {
    con.reset();
    loop.ProcessPending();
    SetMainDispatcher(nullptr);
  }
  void Start(bool realTime) {
    const WaveFormatPtr f = MakePcmFormat(16, 2, 44100);
    con->SetRealTime(realTime);
    con->SetPWaveFormat(f.get());
    con->SetBufferSize(static_cast<int32_t>(kBufferBytes));
    con->Open();
    con->Start();
    loop.ProcessPending();
  }

  LoopDispatcher loop;
  std::unique_ptr<TMMConnector> con = std::make_unique<TMMConnector>("MMConnector1");
};

// Served on the delivering thread: each display goes while the feeder
// serves the others.
TEST_F(DisplayRemovalTest, DisplaysDestroyedWhileTheDeliveringThreadServesThem) {
  for (int round = 0; round < 20; ++round) {
    Displays d;
    d.Link(*con);
    if (round == 0) Start(false);
    Feeder feeder(*con, 0ms);
    while (feeder.Fed() < 3) std::this_thread::yield();
    d.spectrum.reset();
    EXPECT_EQ(con->Spectrum1(), nullptr);
    const int fed = feeder.Fed();
    while (feeder.Fed() < fed + 3) std::this_thread::yield();
    d.oscope.reset();
    d.level.reset();
    EXPECT_EQ(con->Oscope1(), nullptr);
    EXPECT_EQ(con->Level1(), nullptr);
  }
  EXPECT_GT(con->Deliveries(dkLevel), 0);
}

// Served by the pump on the main thread, paced in real time: a display that
// goes between two passes is not fed again, and the others go on.
TEST_F(DisplayRemovalTest, ADisplayDestroyedBetweenPassesIsNotFedAgain) {
  Displays d;
  d.Link(*con);
  Start(true);
  Feeder feeder(*con, 10ms);
  ASSERT_TRUE(loop.RunUntil([&] { return con->Deliveries(dkSpectrum) > 2; }, 10s));
  d.spectrum.reset();
  d.oscope.reset();
  EXPECT_EQ(con->Spectrum1(), nullptr);
  const int levels = con->Deliveries(dkLevel);
  const int spectra = con->Deliveries(dkSpectrum);
  ASSERT_TRUE(loop.RunUntil([&] { return con->Deliveries(dkLevel) > levels + 20; }, 10s));
  EXPECT_EQ(con->Deliveries(dkSpectrum), spectra);
}

}  // namespace
}  // namespace tv
