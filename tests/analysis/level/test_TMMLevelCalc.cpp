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

// A 16-bit stereo frame of 50 sample frames with the given left and right
// values in every frame.
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
  for (int i = 0; i < 50; ++i) {
    const auto v = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * i / 100.0)));
    s[2 * i] = v;
    s[2 * i + 1] = v;
  }
  return s;
}

// Meters on a manual timer, so that peak hold and fall are counted in ticks.
class LevelCalc : public ::testing::Test {
 protected:
  void SetUp() override { TimerList::SetTickSource(&ticks_); }
  void TearDown() override { TimerList::SetTickSource(nullptr); }

  // The main window's decoder meter: 16-bit stereo, left channel, -60 dB,
  // and a bar of 80 pixels in 1-pixel spots with 1-pixel gaps: 40 spots.
  static void FortySpots(TMMLevelCalc& m) {
    const auto f = MakePcmFormat(16, 2, 44100);
    m.AssignFormat(f.get());
    m.SetChannel(chLeft);
    m.SetSensitivy(-60);
    m.SetBarLength(80);
    ASSERT_EQ(m.Spots(), 40);
  }
  static void Feed(TMMLevelCalc& m, const std::vector<int16_t>& s) {
    m.FeedPCM(s.data(), static_cast<int32_t>(s.size() * sizeof(int16_t)));
  }
  void Tick(int n) {
    for (int i = 0; i < n; ++i) ASSERT_TRUE(ticks_.Fire());
  }

  ManualTickSource ticks_;
};

TEST_F(LevelCalc, FormatSetsLayoutAndFrameBytes) {
  TMMLevelCalc m;
  EXPECT_EQ(m.FrameBytes(), 50);  // 8-bit mono, 50 samples
  auto f = MakePcmFormat(16, 2, 44100);
  m.AssignFormat(f.get());
  EXPECT_EQ(m.BitLength(), b16Bit);
  EXPECT_EQ(m.Mode(), mStereo);
  EXPECT_EQ(m.FrameBytes(), 2 * 2 * 50);
  m.SetSamples(0);
  EXPECT_EQ(m.FrameBytes(), 4);
  f = MakePcmFormat(16, 4, 8000);
  m.AssignFormat(f.get());
  EXPECT_EQ(m.FrameBytes(), 2 * 4);

  f->wFormatTag = 2;  // not PCM
  try {
    m.AssignFormat(f.get());
    FAIL() << "a non-PCM format was taken";
  } catch (const EMMLevelError& e) {
    EXPECT_STREQ(e.what(), "Invalid WaveFormat");
  }
  auto odd = MakePcmFormat(24, 2, 44100);
  EXPECT_THROW(m.AssignFormat(odd.get()), EMMLevelError);
  EXPECT_EQ(m.BitLength(), b16Bit);  // unchanged by the refused formats
}

TEST_F(LevelCalc, SpotLayoutFromBarLength) {
  TMMLevelCalc m;
  EXPECT_EQ(m.Spots(), 100);  // 200 pixels, 1 + 1 per spot
  m.SetSpotWidth(3);
  m.SetSpotSpace(2);
  // (200 + 2) div 5 = 40 spots taking 198 pixels: one pixel of margin.
  EXPECT_EQ(m.Spots(), 40);
  EXPECT_EQ(m.Margin(), 1);
  EXPECT_EQ(m.Zone1(), 20);  // 50 % of 40
  EXPECT_EQ(m.Zone2(), 34);  // 85 % of 40, truncated
  m.SetPoint2(99);
  EXPECT_EQ(m.Zone2(), 39);
  m.SetSpotWidth(100);
  EXPECT_EQ(m.SpotWidth(), 66);  // a third of the bar
  m.SetSpotSpace(11);
  EXPECT_EQ(m.SpotSpace(), 10);
  m.SetBarLength(0);  // a control squeezed to nothing still has one spot
  EXPECT_EQ(m.Spots(), 1);
  EXPECT_EQ(m.Margin(), 0);
}

TEST_F(LevelCalc, PcmOverflowAtFullScaleOnly) {
  TMMLevelCalc m;
  FortySpots(m);
  int overflows = 0;
  m.OnPcmOverflow = [&](TMMLevelCalc* sender) {
    EXPECT_EQ(sender, &m);
    ++overflows;
  };
  Feed(m, Flat(32766, 0));
  EXPECT_EQ(overflows, 0);
  Feed(m, Flat(32767, 0));
  EXPECT_EQ(overflows, 1);  // once per frame, not per sample
  Feed(m, Flat(-32768, 0));
  EXPECT_EQ(overflows, 2);
  EXPECT_EQ(m.PeakValue(), 32768);
  EXPECT_EQ(m.Lit(), 40);  // measuring goes on
}

TEST_F(LevelCalc, DecibelSpotsForKnownSineLevels) {
  TMMLevelCalc m;
  FortySpots(m);
  // lit = Round((20 log10(g / 32767) + 60) * 40 / 60)
  Feed(m, Sine(32767));
  EXPECT_EQ(m.Lit(), 40);
  Feed(m, Sine(3277));  // -20 dB: 26.67 spots
  EXPECT_EQ(m.PeakValue(), 3277);
  EXPECT_EQ(m.Lit(), 27);
  Feed(m, Sine(32));  // -60.2 dB: below the scale
  EXPECT_EQ(m.Lit(), 0);
  m.SetSensitivy(-35);  // the scale now spans 35 dB: (35 - 20) * 40 / 35 = 17.1
  Feed(m, Sine(3277));
  EXPECT_EQ(m.Lit(), 17);
  m.SetSensitivy(-200);
  EXPECT_EQ(m.Sensitivy(), -90);
  m.SetSensitivy(0);
  EXPECT_EQ(m.Sensitivy(), -9);
}

TEST_F(LevelCalc, LinearSpotsStartAtTheFloorLevel) {
  TMMLevelCalc m;
  FortySpots(m);
  m.SetLogAmp(false);
  // Floor F = 32767 / 10^(60/20) = 32.767; lit = Round((g - F) * 40 / (32767 - F)).
  Feed(m, Sine(32767));
  EXPECT_EQ(m.Lit(), 40);
  Feed(m, Sine(16384));  // 19.98
  EXPECT_EQ(m.Lit(), 20);
  Feed(m, Sine(3277));  // 3.96
  EXPECT_EQ(m.Lit(), 4);
  Feed(m, Sine(32));  // below the floor
  EXPECT_EQ(m.Lit(), 0);
}

TEST_F(LevelCalc, GainScalesThePeakAndReportsOverflow) {
  TMMLevelCalc m;
  FortySpots(m);
  int overflows = 0;
  m.OnGainOverflow = [&](TMMLevelCalc*) { ++overflows; };
  Feed(m, Flat(20000, 0));
  EXPECT_LT(m.Lit(), 40);
  EXPECT_EQ(overflows, 0);
  m.SetGain(8);  // (8 + 8) / 8: doubled
  Feed(m, Flat(20000, 0));
  EXPECT_EQ(m.Lit(), 40);
  EXPECT_EQ(overflows, 1);
  m.SetGain(40);  // out of range: ignored
  EXPECT_EQ(m.Gain(), 8);
  m.SetGain(-8);  // multiplies by nothing
  Feed(m, Flat(20000, 0));
  EXPECT_EQ(m.Lit(), 0);
}

TEST_F(LevelCalc, SymmetricMeterHalvesTheSpots) {
  TMMLevelCalc m;
  FortySpots(m);
  m.SetDirection(dirSymetric);
  int overflows = 0;
  m.OnGainOverflow = [&](TMMLevelCalc*) { ++overflows; };
  Feed(m, Sine(3277));
  EXPECT_EQ(m.Lit(), 27 / 2);
  Feed(m, Sine(32767));
  EXPECT_EQ(m.Lit(), 20);
  EXPECT_EQ(overflows, 0);
}

TEST_F(LevelCalc, ChannelsOffsetsAndShortFrames) {
  TMMLevelCalc m;
  const auto f = MakePcmFormat(16, 2, 44100);
  m.AssignFormat(f.get());
  const std::vector<int16_t> s = Flat(1001, -5000);
  m.SetChannel(chLeft);
  Feed(m, s);
  EXPECT_EQ(m.PeakValue(), 1001);
  m.SetChannel(chRight);
  Feed(m, s);
  EXPECT_EQ(m.PeakValue(), 5000);
  m.SetChannel(chBoth);
  Feed(m, s);
  EXPECT_EQ(m.PeakValue(), 1999);  // (1001 - 5000) / 2 = -1999.5, truncated
  m.SetDCOffsetL(-1001);
  m.SetDCOffsetR(5000);
  Feed(m, s);
  EXPECT_EQ(m.PeakValue(), 0);

  // Only whole sample frames that are there are read: 7 bytes hold one.
  m.SetDCOffsetL(0);
  m.SetDCOffsetR(0);
  m.SetChannel(chLeft);
  std::vector<uint8_t> shortFrame(7, 0);
  const int16_t one = 300;
  std::memcpy(shortFrame.data(), &one, 2);
  m.FeedPCM(shortFrame.data(), 7);
  EXPECT_EQ(m.PeakValue(), 300);
  m.FeedPCM(shortFrame.data(), 3);  // not a whole frame: nothing measured
  EXPECT_EQ(m.PeakValue(), 300);
  m.FeedPCM(nullptr, 200);
  EXPECT_EQ(m.PeakValue(), 300);

  // Samples caps the frames measured even when more are handed over.
  m.SetSamples(2);
  std::vector<int16_t> longer = Flat(10, 0, 4);
  longer[2 * 3] = 9000;
  Feed(m, longer);
  EXPECT_EQ(m.PeakValue(), 10);
}

TEST_F(LevelCalc, EightBitInput) {
  TMMLevelCalc m;
  const auto f = MakePcmFormat(8, 1, 8000);
  m.AssignFormat(f.get());
  EXPECT_EQ(m.FrameBytes(), 50);
  m.SetSensitivy(-60);
  m.SetBarLength(80);
  int overflows = 0;
  m.OnPcmOverflow = [&](TMMLevelCalc*) { ++overflows; };
  std::vector<uint8_t> s(50, 128);
  s[10] = 141;  // (141 - 128) * 256 = 3328: -19.87 dB, 26.76 spots
  m.FeedPCM(s.data(), 50);
  EXPECT_EQ(m.PeakValue(), 3328);
  EXPECT_EQ(m.Lit(), 27);
  s[10] = 255;  // 127 * 256 = 32512: loud but not full scale
  m.FeedPCM(s.data(), 50);
  EXPECT_EQ(overflows, 0);
  s[20] = 0;  // -32768
  m.FeedPCM(s.data(), 50);
  EXPECT_EQ(overflows, 1);

  // Stereo, both channels: the bytes are averaged before the conversion.
  const auto f2 = MakePcmFormat(8, 2, 8000);
  m.AssignFormat(f2.get());
  std::vector<uint8_t> st(100, 128);
  st[0] = 200;
  st[1] = 100;  // (200 + 100) div 2 = 150: 22 * 256
  m.FeedPCM(st.data(), 100);
  EXPECT_EQ(m.PeakValue(), 22 * 256);
  m.SetChannel(chRight);
  m.FeedPCM(st.data(), 100);
  EXPECT_EQ(m.PeakValue(), 28 * 256);
}

TEST_F(LevelCalc, DecayFactorAndAverageLength) {
  TMMLevelCalc m;
  // A new meter keeps the first factor until Decay is changed.
  EXPECT_FLOAT_EQ(m.DecayFactor(), 0.0001f);
  EXPECT_EQ(m.AverageLength(), 1);
  m.SetDecay(10);
  EXPECT_NEAR(m.DecayFactor(), std::pow(0.0001, 1.0 / 1024), 1e-6);
  EXPECT_NEAR(m.DecayFactor(), 0.99104, 1e-5);
  EXPECT_EQ(m.AverageLength(), 18);
  m.SetDecay(1);
  EXPECT_NEAR(m.DecayFactor(), 0.01, 1e-6);
  EXPECT_EQ(m.AverageLength(), 1);
  m.SetDecay(40);
  EXPECT_EQ(m.Decay(), 16);
  EXPECT_EQ(m.AverageLength(), 30);
}

TEST_F(LevelCalc, DecayModesOverSeveralFrames) {
  const auto silence = Flat(0, 0);
  {
    TMMLevelCalc m;
    FortySpots(m);
    m.SetDecayMode(dmStepUp);
    m.SetDecay(10);
    const double f = std::pow(0.0001, 1.0 / 1024);
    Feed(m, Flat(20000, 0));
    EXPECT_EQ(m.Level(), 20000);
    for (int n = 1; n <= 5; ++n) {
      Feed(m, silence);
      EXPECT_NEAR(m.Level(), std::trunc(20000 * std::pow(f, n)), 1.0) << "frame " << n;
    }
    Feed(m, Flat(19999, 0));  // above the decayed level: taken at once
    EXPECT_EQ(m.Level(), 19999);
    Feed(m, Flat(19000, 0));  // below it: the decay goes on
    EXPECT_NEAR(m.Level(), std::trunc(19999 * f), 1.0);
  }
  {
    TMMLevelCalc m;
    FortySpots(m);
    m.SetDecayMode(dmExponential);
    m.SetDecay(3);  // factor 0.0001^(1/8)
    const double f = std::pow(0.0001, 1.0 / 8);
    double state = 0;
    for (int n = 0; n < 4; ++n) {
      Feed(m, Flat(10000, 0));
      state = state * f + (1 - f) * 10000;
      EXPECT_NEAR(m.Level(), std::floor(state), 1.0) << "frame " << n;
    }
    EXPECT_LT(m.Level(), 10000);
  }
  {
    TMMLevelCalc m;
    FortySpots(m);
    m.SetDecayMode(dmUniform);
    m.SetDecay(3);  // average over 4 frames
    Feed(m, Flat(8000, 0));
    EXPECT_EQ(m.Level(), 8000);  // divided by the frames seen so far
    Feed(m, Flat(4000, 0));
    EXPECT_EQ(m.Level(), 6000);
    Feed(m, Flat(8000, 0));
    Feed(m, Flat(8000, 0));  // the ring now holds 8000, 4000, 8000, 8000
    EXPECT_EQ(m.Level(), 7000);
    Feed(m, Flat(8000, 0));  // the oldest 8000 leaves: still 7000
    EXPECT_EQ(m.Level(), 7000);
    Feed(m, Flat(8000, 0));  // and now the 4000
    EXPECT_EQ(m.Level(), 8000);
    // A step down to silence takes the four frames of the ring.
    for (int expected : {6000, 4000, 2000, 0}) {
      Feed(m, silence);
      EXPECT_EQ(m.Level(), expected);
    }
    Feed(m, Flat(8000, 0));
    m.SetDecayMode(dmNone);
    m.SetDecayMode(dmUniform);  // a new mode starts from an empty ring
    Feed(m, Flat(4000, 0));
    EXPECT_EQ(m.Level(), 4000);
  }
}

TEST_F(LevelCalc, PeakHoldsThenFallsOnTheTimer) {
  std::atomic<int> moved{0};
  TMMLevelCalc m([&] { ++moved; });
  FortySpots(m);
  m.SetPeakDelay(2);  // hold: 2 * 2 + 1 = 5 ticks
  m.SetPeakSpeed(3);  // then one spot every 3 ticks
  Feed(m, Sine(3277));
  ASSERT_EQ(m.Lit(), 27);
  EXPECT_EQ(m.PeakSpot(), 27);
  Feed(m, Flat(0, 0));
  EXPECT_EQ(m.Lit(), 0);
  EXPECT_EQ(m.PeakSpot(), 27);
  Tick(4);
  EXPECT_EQ(m.PeakSpot(), 27);
  EXPECT_EQ(moved.load(), 0);
  Tick(1);
  EXPECT_EQ(m.PeakSpot(), 26);
  EXPECT_EQ(moved.load(), 1);
  Tick(2);
  EXPECT_EQ(m.PeakSpot(), 26);
  Tick(1);
  EXPECT_EQ(m.PeakSpot(), 25);

  // A louder frame takes the peak up again and restarts the hold.
  Feed(m, Sine(32767));
  EXPECT_EQ(m.PeakSpot(), 40);
  Tick(4);
  Feed(m, Sine(32767));  // equal to the peak: the hold starts again
  Tick(4);
  EXPECT_EQ(m.PeakSpot(), 40);

  // Without a fall speed the peak vanishes after its hold.
  m.SetPeakSpeed(0);
  Tick(1);
  EXPECT_EQ(m.PeakSpot(), 0);
}

TEST_F(LevelCalc, NoPeakMarkerWithoutNumPeaksAndWhileDisabled) {
  TMMLevelCalc m;
  FortySpots(m);
  m.SetNumPeaks(0);
  Feed(m, Sine(32767));
  EXPECT_EQ(m.PeakSpot(), 0);
  m.SetNumPeaks(9);
  EXPECT_EQ(m.NumPeaks(), 5);
  m.SetPeakDelay(0);  // one tick of hold
  m.SetPeakSpeed(1);
  Feed(m, Sine(32767));
  EXPECT_EQ(m.PeakSpot(), 40);

  int changes = 0;
  m.OnChange = [&](TMMLevelCalc*) { ++changes; };
  m.SetEnabled(false);  // clears the meter and stops the countdown
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(m.Lit(), 0);
  EXPECT_EQ(m.PeakSpot(), 0);
  Feed(m, Sine(32767));
  EXPECT_EQ(m.Lit(), 0);
  Tick(3);
  m.SetEnabled(true);
  Feed(m, Sine(32767));
  EXPECT_EQ(m.PeakSpot(), 40);
  Tick(1);
  EXPECT_EQ(m.PeakSpot(), 39);

  // A hidden meter measures nothing.
  m.SetVisible(false);
  Feed(m, Sine(3277));
  EXPECT_EQ(m.Lit(), 40);
}

TEST_F(LevelCalc, RedrawOnlyWhenSomethingChanged) {
  TMMLevelCalc m;
  FortySpots(m);
  int changes = 0;
  m.OnChange = [&](TMMLevelCalc*) { ++changes; };
  Feed(m, Flat(0, 0));
  Feed(m, Flat(0, 0));
  EXPECT_EQ(changes, 0);  // silence on an empty meter does no work
  Feed(m, Sine(3277));
  EXPECT_EQ(changes, 1);
  Feed(m, Sine(3277));  // same spots, same peak
  EXPECT_EQ(changes, 1);
  Feed(m, Flat(0, 0));  // the spots go, the peak stays
  EXPECT_EQ(changes, 2);

  m.ResetDisplay();  // always repaints, and forgets everything
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(m.Lit(), 0);
  EXPECT_EQ(m.PeakSpot(), 0);
  EXPECT_EQ(m.PeakValue(), 0);
}

TEST_F(LevelCalc, ValueSetsThePercentOfFullScale) {
  TMMLevelCalc m;
  FortySpots(m);
  m.SetValue(100);
  EXPECT_EQ(m.Lit(), 40);
  m.SetValue(10);  // 3276: -20.0 dB, 26.67 spots
  EXPECT_EQ(m.Lit(), 27);
  m.SetValue(250);
  EXPECT_EQ(m.Value(), 100);
  EXPECT_EQ(m.Lit(), 40);
}

TEST_F(LevelCalc, IntegralEveryFiftyEightFrames) {
  TMMLevelCalc m;
  FortySpots(m);
  int integrals = 0;
  std::vector<int32_t> seen;
  m.OnIntegral = [&](TMMLevelCalc* sender) {
    ++integrals;
    seen.assign(sender->History().begin(), sender->History().end());
  };
  for (int i = 0; i < 58; ++i) Feed(m, Flat(static_cast<int16_t>(i + 1), 0));
  EXPECT_EQ(integrals, 0);  // the first pass fills positions 0 .. 57
  Feed(m, Flat(59, 0));
  EXPECT_EQ(integrals, 1);
  ASSERT_EQ(seen.size(), 59u);
  EXPECT_EQ(seen[0], 1);
  EXPECT_EQ(seen[58], 59);
  EXPECT_EQ(m.HistoryPosition(), 1);
  for (int i = 0; i < 57; ++i) Feed(m, Flat(7, 0));
  EXPECT_EQ(integrals, 1);
  Feed(m, Flat(7, 0));  // positions 1 .. 58 again: 58 frames
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
