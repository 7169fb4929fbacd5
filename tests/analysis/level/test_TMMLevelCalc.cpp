#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "MMPCMSup.h"
#include "MMTimerList.h"
#include "TMMLevelCalc.h"

namespace tv {
namespace {

// 16-bit stereo sample frames holding the given left and right values.
std::vector<int16_t> Flat(int16_t left, int16_t right, int frames = 50) {
  std::vector<int16_t> s(2 * static_cast<size_t>(frames));
  for (int i = 0; i < frames; ++i) {
    s[2 * i] = left;
    s[2 * i + 1] = right;
  }
  return s;
}

// One frame of a 441 Hz sine at 44100 Hz (100 samples a period): sample 25
// falls on the crest, so the frame's peak is exactly the amplitude.
std::vector<int16_t> Sine(double amplitude) {
  std::vector<int16_t> s(100);
  for (int i = 0; i < 50; ++i)
    s[2 * i] = s[2 * i + 1] =
        static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * i / 100.0)));
  return s;
}

void Feed(TMMLevelCalc& m, const std::vector<int16_t>& s) {
  m.FeedPCM(s.data(), static_cast<int32_t>(s.size() * sizeof(int16_t)));
}

// Meters on a manual timer, so that peak hold and fall are counted in ticks.
class LevelCalc : public ::testing::Test {
 protected:
  void SetUp() override { TimerList::SetTickSource(&ticks_); }
  void TearDown() override { TimerList::SetTickSource(nullptr); }

  // The decoder meter: 16-bit stereo, left channel, -60 dB, and a bar of
  // 80 pixels in 1-pixel spots with 1-pixel gaps: 40 spots.
  static void FortySpots(TMMLevelCalc& m) {
    const auto f = MakePcmFormat(16, 2, 44100);
    m.AssignFormat(f.get());
    m.SetChannel(chLeft);
    m.SetSensitivy(-60);
    m.SetBarLength(80);
    ASSERT_EQ(m.Spots(), 40);
  }
  void Tick(int n) {
    for (int i = 0; i < n; ++i) ASSERT_TRUE(ticks_.Fire());
  }

  ManualTickSource ticks_;
};

TEST_F(LevelCalc, FormatFrameBytesAndSpotLayout) {
  TMMLevelCalc m;
  EXPECT_EQ(m.FrameBytes(), 50);  // 8-bit mono, 50 samples
  auto f = MakePcmFormat(16, 2, 44100);
  m.AssignFormat(f.get());
  EXPECT_EQ(m.FrameBytes(), 2 * 2 * 50);
  f = MakePcmFormat(16, 4, 8000);
  m.AssignFormat(f.get());
  EXPECT_EQ(m.FrameBytes(), 2 * 4 * 50);
  f->wFormatTag = 2;
  try {
    m.AssignFormat(f.get());
    FAIL() << "a non-PCM format was taken";
  } catch (const EMMLevelError& e) {
    EXPECT_STREQ(e.what(), "Invalid WaveFormat");
  }

  EXPECT_EQ(m.Spots(), 100);  // 200 pixels, 1 + 1 per spot
  m.SetSpotWidth(3);
  m.SetSpotSpace(2);
  // (200 + 2) div 5 = 40 spots taking 198 pixels: one pixel of margin;
  // zones at 50 % and 85 % of them.
  EXPECT_EQ(m.Spots(), 40);
  EXPECT_EQ(m.Margin(), 1);
  EXPECT_EQ(m.Zone1(), 20);
  EXPECT_EQ(m.Zone2(), 34);
  m.SetSpotWidth(100);
  EXPECT_EQ(m.SpotWidth(), 66);  // a third of the bar
  m.SetSpotSpace(11);
  EXPECT_EQ(m.SpotSpace(), 10);
  m.SetBarLength(0);  // a control squeezed to nothing still has one spot
  EXPECT_EQ(m.Spots(), 1);
}

TEST_F(LevelCalc, SpotsOnTheDecibelAndLinearScales) {
  TMMLevelCalc m;
  FortySpots(m);
  struct Case {
    bool logAmp;
    int sensitivy;
    double amplitude;
    int lit;
  };
  // dB: Round((20 log10(g / 32767) - S) * 40 / -S); linear, with the floor
  // F = 32767 / 10^(-S / 20): Round((g - F) * 40 / (32767 - F)).
  const Case cases[] = {
      {true, -60, 32767, 40}, {true, -60, 3277, 27},  {true, -60, 32, 0},
      {true, -35, 3277, 17},  {false, -60, 32767, 40}, {false, -60, 16384, 20},
      {false, -60, 3277, 4},  {false, -60, 32, 0},
  };
  for (const Case& c : cases) {
    m.SetLogAmp(c.logAmp);
    m.SetSensitivy(c.sensitivy);
    Feed(m, Sine(c.amplitude));
    EXPECT_EQ(m.PeakValue(), static_cast<int>(c.amplitude));
    EXPECT_EQ(m.Lit(), c.lit) << (c.logAmp ? "dB " : "linear ") << c.sensitivy << " "
                              << c.amplitude;
  }
  m.SetSensitivy(-200);
  EXPECT_EQ(m.Sensitivy(), -90);
  m.SetSensitivy(0);
  EXPECT_EQ(m.Sensitivy(), -9);
}

TEST_F(LevelCalc, OverflowEventsGainAndSymmetry) {
  TMMLevelCalc m;
  FortySpots(m);
  int pcm = 0;
  int gain = 0;
  m.OnPcmOverflow = [&](TMMLevelCalc* sender) {
    EXPECT_EQ(sender, &m);
    ++pcm;
  };
  m.OnGainOverflow = [&](TMMLevelCalc*) { ++gain; };
  Feed(m, Flat(32766, 0));
  EXPECT_EQ(pcm, 0);
  Feed(m, Flat(32767, 0));
  EXPECT_EQ(pcm, 1);  // once per frame, not per sample
  Feed(m, Flat(-32768, 0));
  EXPECT_EQ(pcm, 2);
  EXPECT_EQ(m.Lit(), 40);  // measuring goes on

  Feed(m, Flat(20000, 0));
  EXPECT_EQ(m.Lit(), 37);
  m.SetGain(8);  // (8 + 8) / 8: doubled, past full scale
  Feed(m, Flat(20000, 0));
  EXPECT_EQ(m.Lit(), 40);
  EXPECT_EQ(gain, 1);
  m.SetGain(40);  // out of range: ignored
  EXPECT_EQ(m.Gain(), 8);
  m.SetGain(0);

  m.SetDirection(dirSymetric);  // half the spots of the ordinary bar
  Feed(m, Sine(3277));
  EXPECT_EQ(m.Lit(), 27 / 2);
  Feed(m, Sine(32767));
  EXPECT_EQ(m.Lit(), 20);
  EXPECT_EQ(gain, 1);
}

TEST_F(LevelCalc, ChannelsOffsetsEightBitAndShortFrames) {
  TMMLevelCalc m;
  auto f = MakePcmFormat(16, 2, 44100);
  m.AssignFormat(f.get());
  const std::vector<int16_t> s = Flat(1001, -5000);
  const std::pair<TMMChannel, int> channels[] = {{chLeft, 1001}, {chRight, 5000}, {chBoth, 1999}};
  for (auto [channel, peak] : channels) {  // both: (1001 - 5000) / 2, truncated
    m.SetChannel(channel);
    Feed(m, s);
    EXPECT_EQ(m.PeakValue(), peak) << channel;
  }
  m.SetDCOffsetL(-1001);
  m.SetDCOffsetR(5000);
  Feed(m, s);
  EXPECT_EQ(m.PeakValue(), 0);
  m.SetDCOffsetL(0);
  m.SetDCOffsetR(0);

  // Only the whole sample frames handed over are read: 7 bytes hold one.
  m.SetChannel(chLeft);
  std::vector<uint8_t> shortFrame(7, 0);
  const int16_t one = 300;
  std::memcpy(shortFrame.data(), &one, 2);
  m.FeedPCM(shortFrame.data(), 7);
  EXPECT_EQ(m.PeakValue(), 300);
  m.FeedPCM(shortFrame.data(), 3);
  m.FeedPCM(nullptr, 200);
  EXPECT_EQ(m.PeakValue(), 300);
  m.SetSamples(2);  // and no more than Samples of them
  std::vector<int16_t> longer = Flat(10, 0, 4);
  longer[2 * 3] = 9000;
  Feed(m, longer);
  EXPECT_EQ(m.PeakValue(), 10);

  // 8-bit: (byte - 128) * 256; both channels average the bytes first.
  f = MakePcmFormat(8, 2, 8000);
  m.AssignFormat(f.get());
  m.SetSamples(50);
  m.SetSensitivy(-60);
  m.SetBarLength(80);
  int pcm = 0;
  m.OnPcmOverflow = [&](TMMLevelCalc*) { ++pcm; };
  std::vector<uint8_t> b(100, 128);
  b[20] = 141;  // 13 * 256 = 3328: -19.87 dB, 26.76 spots
  m.FeedPCM(b.data(), 100);
  EXPECT_EQ(m.PeakValue(), 3328);
  EXPECT_EQ(m.Lit(), 27);
  b[20] = 255;  // 32512: loud, not full scale
  m.FeedPCM(b.data(), 100);
  EXPECT_EQ(pcm, 0);
  b[22] = 0;  // -32768
  m.FeedPCM(b.data(), 100);
  EXPECT_EQ(pcm, 1);
  m.SetChannel(chBoth);
  b.assign(100, 128);
  b[0] = 200;
  b[1] = 100;  // (200 + 100) div 2 = 150
  m.FeedPCM(b.data(), 100);
  EXPECT_EQ(m.PeakValue(), 22 * 256);
}

TEST_F(LevelCalc, DecayModesOverSeveralFrames) {
  const auto silence = Flat(0, 0);
  TMMLevelCalc m;
  FortySpots(m);
  // A new meter keeps the first factor until Decay is changed.
  EXPECT_FLOAT_EQ(m.DecayFactor(), 0.0001f);
  EXPECT_EQ(m.AverageLength(), 1);
  m.SetDecay(10);  // 0.0001^(1/1024) and 2 * 10 - 2 frames
  const double f10 = std::pow(0.0001, 1.0 / 1024);
  EXPECT_NEAR(m.DecayFactor(), 0.99104, 1e-5);
  EXPECT_EQ(m.AverageLength(), 18);

  m.SetDecayMode(dmStepUp);
  Feed(m, Flat(20000, 0));
  EXPECT_EQ(m.Level(), 20000);
  for (int n = 1; n <= 5; ++n) {
    Feed(m, silence);
    EXPECT_NEAR(m.Level(), std::trunc(20000 * std::pow(f10, n)), 1.0) << "frame " << n;
  }
  Feed(m, Flat(19999, 0));  // above the decayed level: taken at once
  EXPECT_EQ(m.Level(), 19999);
  Feed(m, Flat(19000, 0));  // below it: the decay goes on
  EXPECT_NEAR(m.Level(), std::trunc(19999 * f10), 1.0);

  m.SetDecayMode(dmExponential);
  m.SetDecay(3);
  const double f3 = std::pow(0.0001, 1.0 / 8);
  double state = 0;
  for (int n = 0; n < 4; ++n) {
    Feed(m, Flat(10000, 0));
    state = state * f3 + (1 - f3) * 10000;
    EXPECT_NEAR(m.Level(), std::floor(state), 1.0) << "frame " << n;
  }

  m.SetDecayMode(dmUniform);  // the last 4 frames, divided by those seen so far
  for (auto [value, level] : {std::pair{8000, 8000}, {4000, 6000}, {8000, 6666}, {8000, 7000},
                              {8000, 7000}, {8000, 8000}, {0, 6000}, {0, 4000}, {0, 2000},
                              {0, 0}}) {
    Feed(m, Flat(static_cast<int16_t>(value), 0));
    EXPECT_EQ(m.Level(), level) << "after " << value;
  }
}

TEST_F(LevelCalc, PeakHoldsThenFallsOnTheTimer) {
  std::atomic<int> moved{0};
  TMMLevelCalc m([&] { ++moved; });
  FortySpots(m);
  m.SetPeakDelay(2);  // hold: 2 * 2 + 1 = 5 ticks
  m.SetPeakSpeed(3);  // then one spot every 3 ticks
  Feed(m, Sine(3277));
  Feed(m, Flat(0, 0));
  EXPECT_EQ(m.Lit(), 0);
  EXPECT_EQ(m.PeakSpot(), 27);
  Tick(4);
  EXPECT_EQ(m.PeakSpot(), 27);
  EXPECT_EQ(moved.load(), 0);
  Tick(1);
  EXPECT_EQ(m.PeakSpot(), 26);
  EXPECT_EQ(moved.load(), 1);  // the widget is told to repaint
  Tick(2);
  EXPECT_EQ(m.PeakSpot(), 26);
  Tick(1);
  EXPECT_EQ(m.PeakSpot(), 25);

  Feed(m, Sine(32767));  // higher: taken, and held again
  Tick(4);
  Feed(m, Sine(32767));  // equal: the hold starts again
  Tick(4);
  EXPECT_EQ(m.PeakSpot(), 40);
  m.SetPeakSpeed(0);  // without a fall speed the peak vanishes after its hold
  Tick(1);
  EXPECT_EQ(m.PeakSpot(), 0);

  m.SetNumPeaks(0);
  Feed(m, Sine(32767));
  EXPECT_EQ(m.PeakSpot(), 0);
  m.SetNumPeaks(9);
  EXPECT_EQ(m.NumPeaks(), 5);
  m.SetPeakDelay(0);
  m.SetPeakSpeed(1);
  Feed(m, Sine(32767));
  m.SetEnabled(false);  // clears the meter and stops the countdown
  EXPECT_EQ(m.Lit(), 0);
  EXPECT_EQ(m.PeakSpot(), 0);
  Feed(m, Sine(32767));
  EXPECT_EQ(m.Lit(), 0);
  m.SetEnabled(true);
  Feed(m, Sine(32767));
  Tick(1);
  EXPECT_EQ(m.PeakSpot(), 39);
  m.SetVisible(false);  // a hidden meter measures nothing
  Feed(m, Sine(3277));
  EXPECT_EQ(m.Lit(), 40);
}

TEST_F(LevelCalc, RedrawsValueAndIntegral) {
  TMMLevelCalc m;
  FortySpots(m);
  int changes = 0;
  m.OnChange = [&](TMMLevelCalc*) { ++changes; };
  Feed(m, Flat(0, 0));
  EXPECT_EQ(changes, 0);  // silence on an empty meter does no work
  Feed(m, Sine(3277));
  Feed(m, Sine(3277));  // same spots, same peak
  EXPECT_EQ(changes, 1);
  Feed(m, Flat(0, 0));  // the spots go, the peak stays
  EXPECT_EQ(changes, 2);
  m.ResetDisplay();  // always repaints, and forgets
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(m.PeakSpot(), 0);
  EXPECT_EQ(m.PeakValue(), 0);
  m.SetValue(10);  // 3276 of 32767: -20.0 dB, 26.67 spots
  EXPECT_EQ(m.Lit(), 27);
  m.SetValue(250);
  EXPECT_EQ(m.Value(), 100);
  EXPECT_EQ(m.Lit(), 40);

  // The history: positions 0 .. 58 on the first pass, then 1 .. 58.
  TMMLevelCalc h;
  FortySpots(h);
  int integrals = 0;
  std::vector<int32_t> seen;
  h.OnIntegral = [&](TMMLevelCalc* sender) {
    ++integrals;
    seen.assign(sender->History().begin(), sender->History().end());
  };
  for (int i = 0; i < 58; ++i) Feed(h, Flat(static_cast<int16_t>(i + 1), 0));
  EXPECT_EQ(integrals, 0);
  Feed(h, Flat(59, 0));
  ASSERT_EQ(integrals, 1);
  EXPECT_EQ(seen[0], 1);
  EXPECT_EQ(seen[58], 59);
  for (int i = 0; i < 57; ++i) Feed(h, Flat(7, 0));
  EXPECT_EQ(integrals, 1);
  Feed(h, Flat(7, 0));
  EXPECT_EQ(integrals, 2);
  EXPECT_EQ(seen[0], 1);  // position 0 is written only once
}

// The countdown on the real timer thread while frames arrive on this one.
TEST(LevelCalcTimer, PeakFallsOnTheSharedTimerWhileFeeding) {
  std::atomic<int> moved{0};
  TMMLevelCalc m([&] { ++moved; });
  const auto f = MakePcmFormat(16, 2, 44100);
  m.AssignFormat(f.get());
  m.SetBarLength(20);  // 10 spots
  m.SetPeakDelay(0);
  m.SetPeakSpeed(1);
  const std::vector<int16_t> loud = Flat(32000, 32000);
  const std::vector<int16_t> quiet = Flat(0, 0);
  m.FeedPCM(loud.data(), m.FrameBytes());
  ASSERT_EQ(m.PeakSpot(), 10);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (m.PeakSpot() > 0 && std::chrono::steady_clock::now() < deadline) {
    m.FeedPCM(quiet.data(), m.FrameBytes());
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(m.PeakSpot(), 0);
  EXPECT_GE(moved.load(), 10);
}

}  // namespace
}  // namespace tv
