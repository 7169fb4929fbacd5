#include "TMMSpectrumCalc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "AllocationCounter.h"
#include "MMPCMSup.h"
#include "TestFiles.h"

namespace tv {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLn2 = 0.69314718055994530942;

// ---- Signals

std::vector<int32_t> Tone(double amplitude, double bin, int32_t n, bool sine = false) {
  std::vector<int32_t> s(static_cast<size_t>(n));
  for (int32_t m = 0; m < n; ++m) {
    const double ph = 2.0 * kPi * bin * m / n;
    s[static_cast<size_t>(m)] =
        static_cast<int32_t>(std::lround(amplitude * (sine ? std::sin(ph) : std::cos(ph))));
  }
  return s;
}

std::vector<int32_t> Constant(int32_t value, int32_t n) {
  return std::vector<int32_t>(static_cast<size_t>(n), value);
}

std::vector<uint8_t> Pcm16(const std::vector<int32_t>& samples) {
  std::vector<uint8_t> out(samples.size() * 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    const auto v = static_cast<int16_t>(samples[i]);
    std::memcpy(&out[2 * i], &v, 2);
  }
  return out;
}

std::vector<uint8_t> Pcm8(const std::vector<int32_t>& samples) {
  std::vector<uint8_t> out(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) out[i] = static_cast<uint8_t>(samples[i] + 128);
  return out;
}

std::vector<int32_t> Interleave(const std::vector<std::vector<int32_t>>& channels) {
  std::vector<int32_t> out;
  for (size_t i = 0; i < channels[0].size(); ++i) {
    for (const auto& c : channels) out.push_back(c[i]);
  }
  return out;
}

// ---- Values the description's formulas give

double UnitsPerDb() { return static_cast<double>(static_cast<float>(819.2 * std::log(10.0) / kLn2)); }

// Offset of the log scale without weighting: level 0 is 60 dB below full scale.
int32_t PlainOffset() {
  const double a = UnitsPerDb();
  const double c = static_cast<float>(20.0 * std::log10(32768.0));
  return static_cast<int32_t>(std::floor(a * (c - 60.0) + 0.5));
}

// The log level of a bin whose stored amplitude is `amp`.
double LogLevel(double amp) { return std::log(amp * amp) * 8192.0 / kLn2 - PlainOffset(); }

// Tests count timer ticks themselves.
class SpectrumTest : public ::testing::Test {
 protected:
  SpectrumTest() { TimerList::SetTickSource(&ticks_); }
  ~SpectrumTest() override { TimerList::SetTickSource(nullptr); }
  void Tick(int count = 1) {
    for (int i = 0; i < count; ++i) ASSERT_TRUE(ticks_.Fire());
  }

  ManualTickSource ticks_;
};

// A display for 16-bit mono frames of `n` points with a rectangular window.
void Prepare(TMMSpectrumCalc& s, int32_t n, int channels = 1) {
  auto format = MakePcmFormat(16, channels, 44100);
  s.AssignFormat(format.get());
  s.SetFFTLength(n);
  s.SetWindow(fwRectangular);
}

// ---------------------------------------------------------------------------

TEST_F(SpectrumTest, LengthAndZoomRoundDownToPowersOfTwo) {
  TMMSpectrumCalc s;
  s.SetFFTLength(5000);
  EXPECT_EQ(s.FFTLength(), 4096);
  s.SetFFTLength(100);
  EXPECT_EQ(s.FFTLength(), 64);
  s.SetFrequencyScale(3);
  EXPECT_EQ(s.FrequencyScale(), 2);
  s.SetFrequencyScale(20);
  EXPECT_EQ(s.FrequencyScale(), 16);
  // Marker settings out of range are ignored, not clamped.
  s.SetNumPeaks(3);
  s.SetNumPeaks(6);
  EXPECT_EQ(s.NumPeaks(), 3);
  s.SetPeakDelay(51);
  EXPECT_EQ(s.PeakDelay(), 20);
}

TEST_F(SpectrumTest, AssignFormatSetsTheFrameLayoutAndRefusesOthers) {
  TMMSpectrumCalc s;
  s.SetFFTLength(1024);
  EXPECT_EQ(s.FrameBytes(), 1024);  // 8-bit mono by default
  auto stereo16 = MakePcmFormat(16, 2, 44100);
  s.AssignFormat(stereo16.get());
  EXPECT_EQ(s.SampleRate(), 44100);
  EXPECT_EQ(s.BitLength(), b16Bit);
  EXPECT_EQ(s.Mode(), mStereo);
  EXPECT_EQ(s.FrameBytes(), 4096);
  auto quad8 = MakePcmFormat(8, 4, 22050);
  s.AssignFormat(quad8.get());
  EXPECT_EQ(s.FrameBytes(), 4 * 1024);

  WAVEFORMATEX bad = *stereo16;
  bad.wBitsPerSample = 24;
  try {
    s.AssignFormat(&bad);
    FAIL() << "a 24-bit format was taken";
  } catch (const EMMSpectrumError& e) {
    EXPECT_STREQ(e.what(), "Invalid WaveFormat");
  }
  bad = *stereo16;
  bad.wFormatTag = 3;
  EXPECT_THROW(s.AssignFormat(&bad), EMMSpectrumError);
  EXPECT_EQ(s.SampleRate(), 22050);  // unchanged by the refused formats
  EXPECT_EQ(s.FrameBytes(), 4 * 1024);
  s.AssignFormat(nullptr);
  EXPECT_EQ(s.SampleRate(), 22050);
}

TEST_F(SpectrumTest, DecayFactorAndAverageLength) {
  TMMSpectrumCalc s;
  // Until Decay changes, the factor is the start value and one frame is
  // averaged.
  EXPECT_FLOAT_EQ(s.DecayFactor(), 0.0001f);
  EXPECT_EQ(s.AverageLength(), 1);
  s.SetDecay(7);
  EXPECT_NEAR(s.DecayFactor(), 0.9306, 5e-5);
  EXPECT_EQ(s.AverageLength(), 12);
  s.SetDecay(1);
  EXPECT_NEAR(s.DecayFactor(), 0.01, 1e-6);
  EXPECT_EQ(s.AverageLength(), 1);
  s.SetDecay(3);
  EXPECT_EQ(s.AverageLength(), 4);
  s.SetDecay(16);
  EXPECT_EQ(s.AverageLength(), 30);
}

TEST_F(SpectrumTest, FullScaleToneAtABinCentreReadsFullScaleInLogAndLinearMode) {
  TMMSpectrumCalc s;
  Prepare(s, 1024);
  s.SetPlotSize(800, 418);
  const int32_t bin = 64;

  // Linear: 16 steps per unit of amplitude; the window table's 32767/32768
  // and the truncations cost at most two units of 32767.
  s.FeedPCM(Pcm16(Tone(32767, bin, 1024)).data());
  EXPECT_NEAR(s.BinLevels()[bin], 32767 * 16, 3 * 16);
  EXPECT_EQ(s.BinLevels()[bin - 1], 0);
  EXPECT_EQ(s.BinLevels()[bin + 1], 0);

  // Log: 60 dB above level 0, i.e. about 60 x 2721 units.
  s.SetLogAmp(true);
  s.FeedPCM(Pcm16(Tone(32767, bin, 1024)).data());
  const int32_t full = s.BinLevels()[bin];
  EXPECT_NEAR(full, LogLevel(32766), 0.01 * UnitsPerDb());
  EXPECT_NEAR(full, 60 * UnitsPerDb(), 0.01 * UnitsPerDb());
  EXPECT_EQ(s.BinLevels()[bin + 3], 0);  // silence reads 0
  s.ComputeBars();
  EXPECT_GE(s.PeakRecord().height, 416);
  EXPECT_LE(s.PeakRecord().height, 418);

  // 20 dB weaker: 40 dB above level 0, two thirds of the height.
  s.FeedPCM(Pcm16(Tone(3276.7, bin, 1024)).data());
  EXPECT_NEAR(s.BinLevels()[bin], 40 * UnitsPerDb(), 0.05 * UnitsPerDb());
  s.ComputeBars();
  EXPECT_NEAR(s.PeakRecord().height, 418.0 * 2 / 3, 1.0);
}

TEST_F(SpectrumTest, EightBitSamplesLandOnTheSixteenBitScale) {
  TMMSpectrumCalc s;
  auto format = MakePcmFormat(8, 1, 8000);
  s.AssignFormat(format.get());
  s.SetFFTLength(256);
  s.SetWindow(fwRectangular);
  // A quarter of the sample rate: samples 127, 0, -127, 0 exactly.
  s.FeedPCM(Pcm8(Tone(127, 64, 256)).data());
  // (b - 128) x 32767 / 128 at amplitude 127.
  EXPECT_NEAR(s.BinLevels()[64], 127.0 * 32767 / 128 * 16, 2 * 16);
}

TEST_F(SpectrumTest, ChannelSelection) {
  TMMSpectrumCalc s;
  Prepare(s, 256, 2);
  const auto frame = Pcm16(Interleave({Tone(16000, 10, 256), Tone(8000, 30, 256)}));
  s.SetChannel(chLeft);
  s.FeedPCM(frame.data());
  EXPECT_NEAR(s.BinLevels()[10], 16000 * 16, 3 * 16);
  EXPECT_EQ(s.BinLevels()[30], 0);
  s.SetChannel(chRight);
  s.FeedPCM(frame.data());
  EXPECT_EQ(s.BinLevels()[10], 0);
  EXPECT_NEAR(s.BinLevels()[30], 8000 * 16, 3 * 16);
  s.SetChannel(chBoth);  // the average of the two
  s.FeedPCM(frame.data());
  EXPECT_NEAR(s.BinLevels()[10], 8000 * 16, 3 * 16);
  EXPECT_NEAR(s.BinLevels()[30], 4000 * 16, 3 * 16);

  // Four channels: the first two are the left and right ones.
  auto quad = MakePcmFormat(16, 4, 44100);
  s.AssignFormat(quad.get());
  s.SetChannel(chRight);
  const auto quadFrame = Pcm16(Interleave(
      {Tone(16000, 10, 256), Tone(8000, 30, 256), Tone(20000, 50, 256), Tone(20000, 70, 256)}));
  ASSERT_EQ(quadFrame.size(), static_cast<size_t>(s.FrameBytes()));
  s.FeedPCM(quadFrame.data());
  EXPECT_NEAR(s.BinLevels()[30], 8000 * 16, 3 * 16);
  EXPECT_EQ(s.BinLevels()[50], 0);
  EXPECT_EQ(s.BinLevels()[70], 0);
}

TEST_F(SpectrumTest, PcmOverflowFiresOncePerSampleAtTheTopOfTheRange) {
  TMMSpectrumCalc s;
  Prepare(s, 64);
  int overflows = 0;
  s.OnPcmOverflow = [&](TMMSpectrumCalc*) { ++overflows; };
  std::vector<int32_t> x = Constant(-32768, 64);  // negative values never count
  x[3] = 32767;
  x[9] = 32767;
  x[10] = 32766;
  s.FeedPCM(Pcm16(x).data());
  EXPECT_EQ(overflows, 2);

  // Both channels averaged: one step lower, except for the second difference.
  Prepare(s, 64, 2);
  std::vector<int32_t> both = Interleave({Constant(0, 64), Constant(0, 64)});
  both[0] = 32767;
  both[1] = 32765;  // average 32766
  overflows = 0;
  s.FeedPCM(Pcm16(both).data());
  EXPECT_EQ(overflows, 1);
  s.SetGain(sg12db);
  overflows = 0;
  s.FeedPCM(Pcm16(both).data());
  EXPECT_EQ(overflows, 0);

  auto mono8 = MakePcmFormat(8, 1, 8000);
  s.AssignFormat(mono8.get());
  std::vector<uint8_t> bytes(64, 128);
  bytes[1] = 255;
  bytes[2] = 254;
  overflows = 0;
  s.FeedPCM(bytes.data());
  EXPECT_EQ(overflows, 1);
}

TEST_F(SpectrumTest, WeightingTakesTheSamplesBeforeTheFrameFromTheFirstRawSample) {
  TMMSpectrumCalc s;
  Prepare(s, 64, 2);
  s.SetGain(sg6db);  // first difference
  // Left 1000, right 3000: the averaged samples are all 2000, and the sample
  // before the frame is the left one, so the difference is one step of 1000
  // at the start: a flat spectrum of Trunc(999 / 32) per bin.
  s.FeedPCM(Pcm16(Interleave({Constant(1000, 64), Constant(3000, 64)})).data());
  const int32_t flat = 999 / 32 * 16;
  EXPECT_EQ(s.BinLevels()[0], flat);
  EXPECT_EQ(s.BinLevels()[7], flat);
  EXPECT_EQ(s.BinLevels()[31], flat);

  // A single channel starts from its own first sample: no step at all.
  s.SetChannel(chRight);
  s.FeedPCM(Pcm16(Interleave({Constant(1000, 64), Constant(3000, 64)})).data());
  EXPECT_EQ(s.BinLevels()[0], 0);
  EXPECT_EQ(s.BinLevels()[7], 0);
}

TEST_F(SpectrumTest, WeightingRaisesHighFrequencies) {
  TMMSpectrumCalc s;
  Prepare(s, 1024);
  const int32_t bin = 100;
  const auto frame = Pcm16(Tone(8000, bin, 1024));
  s.FeedPCM(frame.data());
  const double plain = s.BinLevels()[bin];
  // A difference of order g scales a tone by (2 sin(pi k / N))^g; the one
  // step at the frame start leaks a little.
  const double step = 2.0 * std::sin(kPi * bin / 1024);
  s.SetGain(sg6db);
  s.FeedPCM(frame.data());
  EXPECT_NEAR(s.BinLevels()[bin] / plain, step, 0.01);
  s.SetGain(sg12db);
  s.FeedPCM(frame.data());
  EXPECT_NEAR(s.BinLevels()[bin] / plain, step * step, 0.01);

  // Far beyond the 16-bit range the stored value saturates instead of
  // wrapping into a small, wrong one.
  s.FeedPCM(Pcm16(Tone(32000, 256, 1024)).data());
  EXPECT_GE(s.BinLevels()[256], 32767 * 16);
}

TEST_F(SpectrumTest, DecayModesOverFrames) {
  TMMSpectrumCalc s;
  Prepare(s, 64);
  // A constant 33 with the rectangular window: each sample windows to 32,
  // the DC bin holds 64 and its level is 64 x 16.
  const auto loud = Pcm16(Constant(33, 64));
  const auto quiet = Pcm16(Constant(0, 64));
  constexpr int32_t kV = 1024;

  s.SetDecayMode(dmStepUp);
  s.SetDecay(7);
  s.FeedPCM(loud.data());
  ASSERT_EQ(s.BinLevels()[0], kV);
  float state = kV;
  for (int frame = 1; frame <= 5; ++frame) {
    s.FeedPCM(quiet.data());
    state *= s.DecayFactor();
    EXPECT_EQ(s.BinLevels()[0], static_cast<int32_t>(state)) << "frame " << frame;
    EXPECT_NEAR(s.BinLevels()[0], kV * std::pow(0.9306, frame), 1.0);
  }
  s.FeedPCM(loud.data());  // a louder value takes over at once
  EXPECT_EQ(s.BinLevels()[0], kV);

  s.SetDecayMode(dmExponential);
  s.SetDecay(2);  // factor 0.1
  float e = 0.0f;
  for (int frame = 1; frame <= 3; ++frame) {
    s.FeedPCM(loud.data());
    e = e * s.DecayFactor() + (1.0f - s.DecayFactor()) * kV;
    EXPECT_EQ(s.BinLevels()[0], static_cast<int32_t>(std::floor(e))) << "frame " << frame;
  }

  s.SetDecayMode(dmUniform);
  s.SetDecay(3);  // four frames
  s.FeedPCM(loud.data());
  EXPECT_EQ(s.BinLevels()[0], kV);  // divided by the frames seen so far
  for (int i = 0; i < 4; ++i) s.FeedPCM(loud.data());
  const int32_t expected[] = {3 * kV / 4, kV / 2, kV / 4, 0, 0};
  for (int32_t want : expected) {
    s.FeedPCM(quiet.data());
    EXPECT_EQ(s.BinLevels()[0], want);
  }

  // Log amplitude with a decay mode keeps linear levels.
  s.SetLogAmp(true);
  s.SetDecayMode(dmStepUp);
  s.FeedPCM(loud.data());
  EXPECT_EQ(s.BinLevels()[0], kV);
  s.SetDecayMode(dmNone);
  s.FeedPCM(loud.data());
  EXPECT_NEAR(s.BinLevels()[0], LogLevel(64), 1.0);
}

TEST_F(SpectrumTest, FeedsThatMustBeIgnored) {
  TMMSpectrumCalc s;
  Prepare(s, 64);
  const auto loud = Pcm16(Constant(33, 64));
  int redraws = 0;
  s.OnRedraw = [&](TMMSpectrumCalc*) { ++redraws; };

  // Short data is refused before a byte is read (the sanitizers watch).
  std::vector<uint8_t> shortFrame(loud.begin(), loud.begin() + 100);
  s.FeedPCM(shortFrame.data(), shortFrame.size());
  s.SetEnabled(false);
  s.FeedPCM(loud.data());
  s.SetEnabled(true);
  s.SetVisible(false);
  s.FeedPCM(loud.data());
  s.SetVisible(true);
  s.SetInfoActive(true);
  s.FeedPCM(loud.data());
  EXPECT_EQ(s.BinLevels()[0], 0);
  s.SetInfoActive(false);
  s.FeedPCM(loud.data(), loud.size());
  EXPECT_EQ(s.BinLevels()[0], 1024);
  EXPECT_EQ(redraws, 3);  // disable, enable, and the one analysed frame
}

TEST_F(SpectrumTest, ClearingTheDisplayData) {
  TMMSpectrumCalc s;
  Prepare(s, 64);
  s.SetPlotSize(32, 100);
  int needData = 0;
  s.OnNeedData = [&](TMMSpectrumCalc* sender) {
    ++needData;
    sender->ResetDisplay();  // not re-entered
  };
  const auto loud = Pcm16(Constant(33, 64));

  s.FeedPCM(loud.data());
  s.ResetDisplay();
  EXPECT_EQ(s.BinLevels()[0], 0);
  EXPECT_EQ(s.FFTOutput()[0], 0);
  EXPECT_EQ(needData, 1);

  // A resize keeps the levels: a frozen spectrum stays on screen.
  s.FeedPCM(loud.data());
  s.SetPlotSize(48, 120);
  EXPECT_EQ(s.BinLevels()[0], 1024);
  EXPECT_EQ(needData, 1);

  // Analysis settings clear; a disabled display asks for no data.
  s.SetEnabled(false);
  s.SetLogFreq(true);
  EXPECT_EQ(s.BinLevels()[0], 0);
  EXPECT_EQ(needData, 1);
  s.SetEnabled(true);
  s.FeedPCM(loud.data());
  s.SetFFTLength(128);
  EXPECT_EQ(s.BinLevels()[0], 0);
  EXPECT_EQ(needData, 2);

  // Batched design values clear once, at the end.
  s.BeginLoad();
  s.SetFFTLength(1024);
  s.SetSampleRate(22050);
  s.SetLogAmp(true);
  EXPECT_EQ(needData, 2);
  s.EndLoad();
  EXPECT_EQ(needData, 3);
}

// ---------------------------------------------------------------------------
// Axes

TEST_F(SpectrumTest, LinearAxisMapsColumnsToBins) {
  TMMSpectrumCalc s;
  Prepare(s, 1024);
  s.SetPlotSize(100, 50);
  auto first = s.FirstBins();
  auto end = s.EndBins();
  // bin = Floor(i / W x N/2 / z + fLo / fs x N + 0.01), fLo 0.
  EXPECT_EQ(first[0], 0);
  EXPECT_EQ(end[0], 5);  // covers bins 0 .. 4
  EXPECT_EQ(first[1], 5);
  EXPECT_EQ(end[1], 10);
  EXPECT_EQ(first[99], static_cast<int32_t>(std::floor(99 / 100.0 * 512 + 0.01)));
  EXPECT_EQ(end[99], 0);  // the last column covers one bin

  // Zoom 2 shows the lower half: wide plots repeat bins.
  s.SetFrequencyScale(2);
  s.SetPlotSize(800, 50);
  first = s.FirstBins();
  for (int32_t i : {0, 5, 333, 799}) {
    const int32_t bin = static_cast<int32_t>(std::floor(i / 800.0 * 512 / 2 + 0.01));
    const int32_t left = i == 0 ? -2 : static_cast<int32_t>(std::floor((i - 1) / 800.0 * 256 + 0.01));
    EXPECT_EQ(first[static_cast<size_t>(i)], bin == left ? -1 : bin) << "column " << i;
  }
}

TEST_F(SpectrumTest, LogAxisMapsColumnsToBinsAndMarksRepeats) {
  TMMSpectrumCalc s;
  Prepare(s, 1024);
  s.SetLogFreq(true);
  EXPECT_FLOAT_EQ(s.StartFrequency(), 44100.0f / 1024);  // fs / N at zoom 1
  // fLo = fs / N makes N fLo / fs one.
  int32_t z = 1;
  const auto formula = [&z](int32_t i, int32_t w) {
    const double b =
        std::floor(std::exp(std::log(1025 / 2.0) * (i - 0.45) / (w * z)) + 0.51) - 1;
    return std::clamp(static_cast<int32_t>(b), 0, 511);
  };
  const auto check = [&](int32_t w) {
    s.SetPlotSize(w, 100);
    const auto first = s.FirstBins();
    const auto end = s.EndBins();
    EXPECT_EQ(first[0], 0) << w;
    int32_t lastDrawn = -1;
    int32_t repeats = 0;
    for (int32_t i = 0; i < w; ++i) {
      const int32_t bin = formula(i, w);
      if (i > 0 && bin == formula(i - 1, w)) {
        EXPECT_EQ(first[static_cast<size_t>(i)], -1) << w << " column " << i;
        EXPECT_EQ(end[static_cast<size_t>(i)], 0);
        ++repeats;
        continue;
      }
      EXPECT_EQ(first[static_cast<size_t>(i)], bin) << w << " column " << i;
      EXPECT_GT(bin, lastDrawn);
      lastDrawn = bin;
    }
    EXPECT_GT(repeats, 0) << w;  // the low end repeats bins at any width
    EXPECT_EQ(end[static_cast<size_t>(w - 1)], 0);
    return lastDrawn;
  };
  check(40);
  check(200);
  // The wide plot's right edge: bin 506 of 511 at 800 columns.
  EXPECT_GE(check(800), 500);

  // Zoom: fLo stays at fs / N and the axis shows the lowest part of the
  // log range, up to (N/2)^(1/z) times fLo.
  s.SetFrequencyScale(4);
  z = 4;
  EXPECT_FLOAT_EQ(s.StartFrequency(), 44100.0f / 1024);
  EXPECT_EQ(check(800), 4);
}

TEST_F(SpectrumTest, GetXScaleReplacesTheMappingWithinTheLevels) {
  TMMSpectrumCalc s;
  Prepare(s, 64);
  s.OnGetXScale = [](TMMSpectrumCalc*, std::span<int32_t> x1, std::span<int32_t> x2) {
    for (size_t i = 0; i < x1.size(); ++i) {
      x1[i] = static_cast<int32_t>(i / 2);
      x2[i] = 0;
    }
    x1[10] = 9999;  // out of range: clamped
    x2[12] = -7;
  };
  s.SetPlotSize(16, 40);
  const auto first = s.FirstBins();
  EXPECT_EQ(first[0], 0);
  EXPECT_EQ(first[1], -1);
  EXPECT_EQ(first[2], 1);
  EXPECT_EQ(first[3], -1);
  EXPECT_EQ(first[10], 31);
  EXPECT_EQ(s.EndBins()[12], 0);
  s.BinLevels()[31] = 100;
  EXPECT_NO_THROW(s.ComputeBars());
}

// ---------------------------------------------------------------------------
// Bars

TEST_F(SpectrumTest, LinearHeightsFollowTheFixedPointScale) {
  TMMSpectrumCalc s;
  Prepare(s, 128);
  s.SetPlotSize(64, 300);  // one column per bin
  // m = H / (v x 32768), doubled up to 4096 from a shift of 4.
  double m = 300.0 / 32768;
  int shift = 4;
  while (m < 4096) {
    m *= 2;
    ++shift;
  }
  const auto mult = static_cast<int64_t>(std::floor(m + 0.5));
  const int32_t half = 16 * 16384;
  s.BinLevels()[5] = half;
  s.BinLevels()[6] = 1;
  EXPECT_EQ(s.ComputeBars(), 64);
  const auto bars = s.Bars();
  EXPECT_EQ(bars[5].height, static_cast<int32_t>((half * mult) >> shift));
  EXPECT_NEAR(bars[5].height, 150, 1);
  EXPECT_EQ(bars[5].first, 5);
  EXPECT_EQ(bars[5].end, 6);
  EXPECT_EQ(bars[63].end, 64);
  EXPECT_EQ(bars[6].height, 0);

  // VerticalScale 50 doubles the heights.
  s.SetVerticalScale(50);
  s.ComputeBars();
  EXPECT_NEAR(s.Bars()[5].height, 300, 1);
}

TEST_F(SpectrumTest, ColumnsCoveringSeveralBinsTakeTheirHighest) {
  TMMSpectrumCalc s;
  Prepare(s, 1024);
  s.SetPlotSize(100, 100);
  s.SetLogAmp(true);
  s.SetDecayMode(dmNone);
  // Column 1 covers bins 5 .. 9.
  ASSERT_EQ(s.FirstBins()[1], 5);
  ASSERT_EQ(s.EndBins()[1], 10);
  s.BinLevels()[5] = 1000;
  s.BinLevels()[9] = 50000;
  s.BinLevels()[10] = 90000;  // column 2's
  s.ComputeBars();
  const float f = s.PixelsPerUnit();
  EXPECT_NEAR(s.Bars()[1].height, 50000 * f, 1.0);
  EXPECT_NEAR(s.Bars()[2].height, 90000 * f, 1.0);
  EXPECT_EQ(s.PeakRecord().bin, 10);

  // Log scale with a decay mode: levels are linear and the column's first
  // bin counts three times.
  s.SetDecayMode(dmStepUp);
  s.BinLevels()[5] = 16 * 1000;
  s.BinLevels()[6] = 16 * 2000;
  s.BinLevels()[9] = 0;
  s.ComputeBars();
  const double h = (std::log(3 * 1000.0) * 2 * 8192 / kLn2 - PlainOffset()) * f;
  EXPECT_EQ(s.Bars()[1].height, static_cast<int32_t>(h));
}

TEST_F(SpectrumTest, GainOverflowAndThePeakRecord) {
  TMMSpectrumCalc s;
  Prepare(s, 128);
  s.SetPlotSize(64, 100);
  int overflows = 0;
  s.OnGainOverflow = [&](TMMSpectrumCalc*) { ++overflows; };
  s.BinLevels()[3] = 16 * 40000;
  s.BinLevels()[9] = 16 * 40000;
  s.BinLevels()[20] = 16 * 10000;
  s.ComputeBars();
  EXPECT_EQ(overflows, 2);
  EXPECT_EQ(s.PeakRecord().column, 3);  // the leftmost of equals
  EXPECT_EQ(s.PeakRecord().bin, 3);
  EXPECT_EQ(s.PeakRecord().height, s.Bars()[3].height);
}

TEST_F(SpectrumTest, PeakFrequencyLabel) {
  TMMSpectrumCalc s;
  Prepare(s, 1024);
  s.SetPlotSize(1024, 100);  // bin k at column 2k
  s.BinLevels()[10] = 16 * 20000;
  s.ComputeBars();
  EXPECT_EQ(s.PeakLabel(), "");  // DisplayPeak off
  s.SetDisplayPeak(true);
  s.ComputeBars();
  EXPECT_EQ(s.PeakRecord().column, 20);
  EXPECT_EQ(s.PeakLabel(), "462.2 Hz");  // 10.5 x 44100 / 1024 + 10
  s.BinLevels()[10] = 0;
  s.BinLevels()[2] = 16 * 20000;
  s.ComputeBars();
  EXPECT_EQ(s.PeakLabel(), "107.7 Hz");  // below 200 Hz: nothing added
  s.BinLevels()[2] = 16 * 100;  // a bar of 5 pixels or less has no label
  s.ComputeBars();
  ASSERT_LE(s.PeakRecord().height, 5);
  EXPECT_EQ(s.PeakLabel(), "");

  s.SetLogFreq(true);
  EXPECT_FLOAT_EQ(s.PeakFrequencyOfBin(1), static_cast<float>(1.25 * 44100 / 1024));
  EXPECT_FLOAT_EQ(s.PeakFrequencyOfBin(10), static_cast<float>(10 * 44100.0 / 1024 + 10));
}

// ---------------------------------------------------------------------------
// Peak markers

TEST_F(SpectrumTest, PeakMarkersHoldThenFallStepByStep) {
  TMMSpectrumCalc s;
  Prepare(s, 128);
  s.SetPlotSize(64, 300);
  s.SetNumPeaks(1);
  s.SetPeakDelay(2);  // hold: 5 ticks
  s.SetPeakSpeed(3);  // a step every 3 ticks
  s.SetDropPeaks(true);
  s.BinLevels()[5] = 16 * 16384;
  s.ComputeBars();
  s.TakePeaks(0);
  const int32_t h = s.Bars()[5].height;
  ASSERT_GT(h, 100);
  EXPECT_EQ(s.PeakHeights()[5], h);

  s.BinLevels()[5] = 0;  // the bar drops; its marker holds
  const auto marker = [&] {
    s.ComputeBars();
    s.TakePeaks(0);
    return s.PeakHeights()[5];
  };
  Tick(4);
  EXPECT_EQ(marker(), h);
  Tick();
  EXPECT_EQ(marker(), h - 1);
  Tick(2);
  EXPECT_EQ(marker(), h - 1);
  Tick();
  EXPECT_EQ(marker(), h - 2);

  // A higher bar takes over and holds again; a mouse readout stops the clock.
  s.BinLevels()[5] = 16 * 20000;
  const int32_t higher = marker();
  EXPECT_GT(higher, h);
  s.BinLevels()[5] = 0;
  s.SetInfoActive(true);
  Tick(20);
  EXPECT_EQ(marker(), higher);
  s.SetInfoActive(false);

  // Without DropPeaks the marker stays where it is.
  s.SetDropPeaks(false);
  Tick(20);
  EXPECT_EQ(marker(), higher);

  // PeakSpeed 0: the marker vanishes after the hold.
  s.SetPeakSpeed(0);
  s.BinLevels()[5] = 16 * 30000;
  marker();
  s.BinLevels()[5] = 0;
  Tick(4);
  EXPECT_GT(marker(), 0);
  Tick();
  EXPECT_EQ(marker(), 0);

  // NumPeaks changes zero the markers.
  s.BinLevels()[5] = 16 * 30000;
  marker();
  s.SetNumPeaks(2);
  EXPECT_EQ(s.PeakHeights()[5], 0);
}

// The markers run on the real timer thread while frames are analysed and
// drawn on this one.
TEST(SpectrumTimer, MarkersFallOnTheSharedTimerWhileFramesArrive) {
  TMMSpectrumCalc s;
  Prepare(s, 256);
  s.SetPlotSize(128, 200);
  s.SetNumPeaks(1);
  s.SetPeakDelay(0);
  s.SetPeakSpeed(1);
  s.SetDropPeaks(true);
  ASSERT_TRUE(s.PeakTimerRegistered());
  s.FeedPCM(Pcm16(Tone(30000, 20, 256)).data());
  s.ComputeBars();
  s.TakePeaks(0);
  const int32_t start = s.PeakHeights()[20];
  ASSERT_GT(start, 10);
  const auto quiet = Pcm16(Constant(0, 256));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  int32_t now = start;
  while (now > start - 3 && std::chrono::steady_clock::now() < deadline) {
    s.FeedPCM(quiet.data());
    s.ComputeBars();
    s.TakePeaks(0);
    now = s.PeakHeights()[20];
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_LE(now, start - 3);
}

TEST_F(SpectrumTest, AnalysisAndDrawingAllocateNothing) {
  TMMSpectrumCalc s;
  Prepare(s, 1024, 2);
  s.SetLogFreq(true);
  s.SetLogAmp(true);
  s.SetDecayMode(dmUniform);
  s.SetDecay(5);
  s.SetNumPeaks(1);
  s.SetDisplayPeak(true);
  s.SetPlotSize(800, 420);
  const auto frame = Pcm16(Interleave({Tone(9000, 40, 1024), Tone(9000, 90, 1024)}));
  s.FeedPCM(frame.data());
  const long before = test::AllocationCount();
  for (int i = 0; i < 5; ++i) {
    s.FeedPCM(frame.data());
    s.ComputeBars();
    s.TakePeaks(0);
    s.PeakTick();
  }
  EXPECT_EQ(test::AllocationCount(), before);
}

// ---------------------------------------------------------------------------
// Grid, scales and readout

TEST_F(SpectrumTest, GridIntervals) {
  EXPECT_EQ(TMMSpectrumCalc::VerticalIntervals(800), 32);
  EXPECT_EQ(TMMSpectrumCalc::VerticalIntervals(200), 16);
  EXPECT_EQ(TMMSpectrumCalc::VerticalIntervals(30), 2);
  EXPECT_EQ(TMMSpectrumCalc::VerticalIntervals(15), 1);
  EXPECT_EQ(TMMSpectrumCalc::HorizontalIntervals(418, true), 6);
  EXPECT_EQ(TMMSpectrumCalc::HorizontalIntervals(418, false), 10);
  EXPECT_EQ(TMMSpectrumCalc::HorizontalIntervals(50, true), 5);
  EXPECT_EQ(TMMSpectrumCalc::HorizontalIntervals(5, false), 1);
  EXPECT_EQ(TMMSpectrumCalc::GridColumn(32, 32, 800), 799);
  EXPECT_EQ(TMMSpectrumCalc::GridColumn(1, 32, 800), 24);
}

TEST_F(SpectrumTest, AmplitudeScaleRowsAndLabels) {
  TMMSpectrumCalc s;
  s.SetLogAmp(true);
  s.SetPlotSize(800, 418);
  const int32_t n = TMMSpectrumCalc::HorizontalIntervals(418, true);
  const char* labels[] = {"0", "-10", "-20", "-30", "-40", "-50", "-60"};
  for (int32_t k = 0; k <= n; ++k) {
    EXPECT_EQ(s.GridRow(k, n), k * 417 / 6);
    EXPECT_EQ(s.AmpScaleLabel(k, n, false), labels[k]);
  }
  EXPECT_EQ(s.AmpScaleLabel(0, n, true), " 0");

  s.SetLogAmp(false);
  s.SetVerticalScale(100);
  EXPECT_EQ(s.GridRow(0, 10), 417);  // bottom
  EXPECT_EQ(s.GridRow(10, 10), 0);   // top
  EXPECT_EQ(s.GridRow(5, 10), 418 - static_cast<int32_t>(5 * 32760.0 / 10 / (32768.0 / 418)) - 1);
  EXPECT_EQ(s.AmpScaleLabel(10, 10, false), "1.00");
  EXPECT_EQ(s.AmpScaleLabel(3, 10, false), "0.30");
  s.SetVerticalScale(7);
  EXPECT_EQ(s.AmpScaleLabel(10, 10, false), "0.070");
  EXPECT_EQ(s.AmpScaleLabel(5, 10, false), "0.035");
}

TEST_F(SpectrumTest, FrequencyScaleAndReadout) {
  TMMSpectrumCalc s;
  Prepare(s, 1024);
  s.SetPlotSize(800, 418);
  // Linear: fLo + k (fs/2 - fLo) / d / z.
  EXPECT_EQ(TMMSpectrumCalc::FreqScaleLabel(s.FreqScaleValue(16, 32)), "11025");
  EXPECT_EQ(TMMSpectrumCalc::FreqScaleLabel(s.FreqScaleValue(32, 32)), "22050");
  EXPECT_EQ(s.ReadoutFrequencyText(799), "22.050 KHz");
  EXPECT_EQ(s.ReadoutLevelText(0), " 1.00 V");
  EXPECT_EQ(s.ReadoutLevelText(417), " 0.00 V");
  s.SetVerticalScale(7);
  EXPECT_EQ(s.ReadoutLevelText(0), " 0.070 V");

  // Log: fLo e^(k ln(N/2) / (d z)) from fs/N to fs/2.
  s.SetLogFreq(true);
  s.SetLogAmp(true);
  EXPECT_EQ(TMMSpectrumCalc::FreqScaleLabel(s.FreqScaleValue(0, 32)), "43");
  EXPECT_EQ(TMMSpectrumCalc::FreqScaleLabel(s.FreqScaleValue(32, 32)), "22050");
  EXPECT_EQ(TMMSpectrumCalc::FreqScaleLabel(s.FreqScaleValue(16, 32)),
            TMMSpectrumCalc::FreqScaleLabel(44100.0 / 1024 * std::sqrt(512.0)));
  EXPECT_EQ(s.ReadoutFrequencyText(0), "0.043 KHz");
  EXPECT_EQ(s.ReadoutFrequencyText(799), "22.050 KHz");
  EXPECT_EQ(s.ReadoutLevelText(0), " 0.0 dB");
  EXPECT_EQ(s.ReadoutLevelText(417), " -60.0 dB");
}

// ---------------------------------------------------------------------------
// Levels file

std::string ReadText(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteText(const std::string& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary);
  out << text;
}

TEST_F(SpectrumTest, SaveAndLoadLevelsRoundTrip) {
  test::TempDir dir;
  TMMSpectrumCalc s;
  s.SetFFTLength(1024);
  for (int32_t k = 0; k < 2048; ++k) s.BinLevels()[static_cast<size_t>(k)] = k * 7 - 100;
  const std::string file = dir.File("peak.sav");
  s.SaveLevels(file);
  const std::string text = ReadText(file);
  EXPECT_EQ(text.substr(0, 15), "-100\r\n-93\r\n-86\r");
  size_t lines = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++lines;
      EXPECT_EQ(text[i - 1], '\r');
    }
  }
  EXPECT_EQ(lines, 512u);
  EXPECT_EQ(text.back(), '\n');

  TMMSpectrumCalc t;
  t.SetFFTLength(1024);
  for (int32_t k = 0; k < 2048; ++k) t.BinLevels()[static_cast<size_t>(k)] = -1;
  t.LoadLevels(file);
  for (int32_t k = 0; k < 512; ++k) EXPECT_EQ(t.BinLevels()[static_cast<size_t>(k)], k * 7 - 100);
  EXPECT_EQ(t.BinLevels()[512], -1);  // higher entries untouched
  EXPECT_EQ(t.BinLevels()[2047], -1);

  // Saving again replaces the file.
  t.SetFFTLength(8);
  for (int32_t k = 0; k < 4; ++k) t.BinLevels()[static_cast<size_t>(k)] = 10 * k;
  t.SaveLevels(file);
  EXPECT_EQ(ReadText(file), "0\r\n10\r\n20\r\n30\r\n");
}

TEST_F(SpectrumTest, LoadLevelsReadsLenientlyFormattedIntegers) {
  test::TempDir dir;
  TMMSpectrumCalc s;
  const std::string file = dir.File("hand.sav");
  WriteText(file, "12\n  +7\r\n-3 \r\n2147483647\r\n5");  // LF alone, blanks, no last end
  s.LoadLevels(file);
  EXPECT_EQ(s.BinLevels()[0], 12);
  EXPECT_EQ(s.BinLevels()[1], 7);
  EXPECT_EQ(s.BinLevels()[2], -3);
  EXPECT_EQ(s.BinLevels()[3], 2147483647);
  EXPECT_EQ(s.BinLevels()[4], 5);
  WriteText(file, "");
  EXPECT_NO_THROW(s.LoadLevels(file));
  EXPECT_EQ(s.BinLevels()[0], 12);
}

TEST_F(SpectrumTest, LoadLevelsRefusesBadFilesAndKeepsTheLevels) {
  test::TempDir dir;
  TMMSpectrumCalc s;
  for (int32_t k = 0; k < 2048; ++k) s.BinLevels()[static_cast<size_t>(k)] = 42;
  const auto expectRefused = [&](const std::string& name, const std::string& text,
                                 const std::string& inMessage) {
    const std::string file = dir.File(name);
    if (!text.empty()) WriteText(file, text);
    try {
      s.LoadLevels(file);
      ADD_FAILURE() << name << " was loaded";
    } catch (const EMMSpectrumError& e) {
      EXPECT_NE(std::string(e.what()).find(inMessage), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
    for (int32_t k = 0; k < 2048; ++k) {
      ASSERT_EQ(s.BinLevels()[static_cast<size_t>(k)], 42) << name << " changed bin " << k;
    }
  };
  expectRefused("missing.sav", "", "Unable to open");
  expectRefused("word.sav", "1\r\n2\r\nthree\r\n4\r\n", "Line 3");
  expectRefused("blank.sav", "1\r\n2\r\n\r\n", "Line 3");  // a trailing empty line
  expectRefused("float.sav", "1.5\r\n", "not an integer");
  expectRefused("huge.sav", "99999999999\r\n", "Line 1");
  expectRefused("signs.sav", "+-4\r\n", "Line 1");
  expectRefused("long.sav", std::string(100000, '7'), "Line 1");
  std::string many;
  for (int i = 0; i < 2049; ++i) many += "1\r\n";
  expectRefused("many.sav", many, "more than 2048 lines");

  std::string most;
  for (int i = 0; i < 2048; ++i) most += "3\r\n";
  WriteText(dir.File("full.sav"), most);
  EXPECT_NO_THROW(s.LoadLevels(dir.File("full.sav")));
  EXPECT_EQ(s.BinLevels()[2047], 3);
}

TEST_F(SpectrumTest, SaveLevelsReportsAFileThatCannotBeWritten) {
  test::TempDir dir;
  TMMSpectrumCalc s;
  EXPECT_THROW(s.SaveLevels(dir.File("no such folder/x.sav")), EMMSpectrumError);
  EXPECT_THROW(s.SaveLevels(dir.Path().string()), EMMSpectrumError);  // a folder
}

}  // namespace
}  // namespace tv
