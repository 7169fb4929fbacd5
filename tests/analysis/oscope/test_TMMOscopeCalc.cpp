#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "MMPCMSup.h"
#include "TMMOscopeCalc.h"

namespace tv {
namespace {

// 16-bit stereo at 44100 Hz, as the generator panel shows it, on a plot of
// `width` x `height` pixels (no bevel, no scales).
void Stereo16(TMMOscopeCalc& o, int width, int height) {
  const auto f = MakePcmFormat(16, 2, 44100);
  o.AssignFormat(f.get());
  o.SetClientSize(width, height);
}

void Feed(TMMOscopeCalc& o, const std::vector<int16_t>& s) {
  o.FeedPCM(s.data(), static_cast<int32_t>(s.size() * sizeof(int16_t)));
}

// `frames` stereo frames whose left and right values come from the functions.
template <class L, class R>
std::vector<int16_t> Frames(int frames, L left, R right) {
  std::vector<int16_t> s(2 * static_cast<size_t>(frames));
  for (int i = 0; i < frames; ++i) {
    s[2 * i] = static_cast<int16_t>(left(i));
    s[2 * i + 1] = static_cast<int16_t>(right(i));
  }
  return s;
}

TEST(OscopeCalc, FrameBytesFollowPlotWidthZoomAndScroll) {
  TMMOscopeCalc o;
  Stereo16(o, 181, 90);
  ASSERT_EQ(o.PlotWidth(), 181);
  EXPECT_EQ(o.FrameBytes(), 4 * 181);  // 724
  o.SetZoom(-2);
  EXPECT_EQ(o.FrameBytes(), 244);  // (724 div 3 + 5) div 4 * 4
  o.SetZoom(3);
  EXPECT_EQ(o.FrameBytes(), 724 * 3);
  o.SetScroll(true);
  o.SetFFTLength(256);
  EXPECT_EQ(o.FrameBytes(), 4 * 256);
  EXPECT_TRUE(o.Scrolling());
  EXPECT_TRUE(o.Accelerated());
  EXPECT_EQ(o.FFTLength(), 256);

  TMMOscopeCalc mono8;  // 8-bit mono, 194 pixels wide
  EXPECT_EQ(mono8.PlotWidth(), 194);
  EXPECT_EQ(mono8.FrameBytes(), 194);
  mono8.SetZoom(-9);
  EXPECT_EQ(mono8.FrameBytes(), (194 / 10 + 5) / 4 * 4);
}

TEST(OscopeCalc, PropertyLimitsAndFormat) {
  TMMOscopeCalc o;
  o.SetZoom(0);  // refused
  EXPECT_EQ(o.Zoom(), 1);
  o.SetZoom(12);
  EXPECT_EQ(o.Zoom(), 9);
  o.SetZoom(-12);
  EXPECT_EQ(o.Zoom(), -9);
  o.SetFFTLength(5000);
  EXPECT_EQ(o.FFTLength(), 4096);
  o.SetFFTLength(300);
  EXPECT_EQ(o.FFTLength(), 256);
  o.SetGain(33);
  o.SetGain(-9);
  EXPECT_EQ(o.Gain(), 0);
  o.SetSteps(-4);
  EXPECT_EQ(o.Steps(), 1);

  auto f = MakePcmFormat(8, 1, 100000);
  o.AssignFormat(f.get());
  EXPECT_EQ(o.SampleRate(), 88200);
  EXPECT_EQ(o.BitLength(), b8Bit);
  EXPECT_EQ(o.Mode(), mMono);
  f->wFormatTag = 0x55;
  try {
    o.AssignFormat(f.get());
    FAIL() << "an MP3 format was taken";
  } catch (const EMMOscopeError& e) {
    EXPECT_STREQ(e.what(), "Invalid WaveFormat");
  }
}

TEST(OscopeCalc, PlotGeometryAndTinyControls) {
  TMMOscopeCalc o;
  o.SetBevel(2);
  o.SetDrawAmpScale(true);
  o.SetDrawTimeScale(true);
  o.SetClientSize(400, 200);
  EXPECT_EQ(o.PlotLeft(), 2 + 32);
  EXPECT_EQ(o.PlotTop(), 2);
  EXPECT_EQ(o.PlotWidth(), 400 - 4 - 64);
  EXPECT_EQ(o.PlotHeight(), 200 - 4 - 40);

  int arrays = 0;
  o.OnArrayNew = [&](TMMOscopeCalc*) { ++arrays; };
  o.SetClientSize(0, 0);  // never below the 4-pixel plot
  EXPECT_EQ(o.PlotWidth(), 4);
  EXPECT_EQ(o.PlotHeight(), 4);
  EXPECT_EQ(arrays, 1);
  EXPECT_EQ(o.Points().size(), 4u);
  o.SetClientSize(1, 1);  // same plot: the buffer stays
  EXPECT_EQ(arrays, 1);
  const std::vector<uint8_t> frame(4, 0xff);
  o.FeedPCM(frame.data(), 4);
  EXPECT_EQ(o.Rows().size(), 4u);
}

TEST(OscopeCalc, VerticalMappingOfFullScaleAndZero) {
  for (int h : {4, 37, 86, 1000}) {
    TMMOscopeCalc o;
    Stereo16(o, 64, h);
    ASSERT_EQ(o.PlotHeight(), h);
    // 32767 maps to h = H * 65534 div 65535 = H - 1: the top row.
    EXPECT_EQ(o.HeightOf(32767), h - 1);
    EXPECT_EQ(o.RowOf(32767), 0);
    EXPECT_EQ(o.RowOf(-32767), h - 1);
    EXPECT_EQ(o.HeightOf(0), static_cast<int>(32767LL * h / 65535));
    EXPECT_EQ(o.RowOf(0), h - 1 - static_cast<int>(32767LL * h / 65535));
  }
  TMMOscopeCalc spikes;
  Stereo16(spikes, 64, 90);
  spikes.SetKind(okSpikes);  // from the bottom up
  EXPECT_EQ(spikes.HeightOf(0), 0);
  EXPECT_EQ(spikes.HeightOf(32767), 90);
  EXPECT_EQ(spikes.HeightOf(16384), 16384 * 90 / 32767);

  spikes.SetEffect(efPeak);  // below H / 3 = 30 or above H - 30 = 60
  EXPECT_TRUE(spikes.InEffectBand(29));
  EXPECT_FALSE(spikes.InEffectBand(30));
  EXPECT_FALSE(spikes.InEffectBand(60));
  EXPECT_TRUE(spikes.InEffectBand(61));
  spikes.SetEffect(efSplit);  // above H / 2
  EXPECT_FALSE(spikes.InEffectBand(45));
  EXPECT_TRUE(spikes.InEffectBand(46));
}

TEST(OscopeCalc, OverflowsAreReportedPerPoint) {
  TMMOscopeCalc o;
  Stereo16(o, 50, 90);
  int pcm = 0;
  int gain = 0;
  o.OnPcmOverflow = [&](TMMOscopeCalc* sender) {
    EXPECT_EQ(sender, &o);
    ++pcm;
  };
  o.OnGainOverflow = [&](TMMOscopeCalc*) { ++gain; };
  // Ten full-scale points, the rest at 32766.
  Feed(o, Frames(50, [](int i) { return i < 10 ? 32767 : 32766; }, [](int) { return 0; }));
  o.SetChannel(chLeft);
  Feed(o, Frames(50, [](int i) { return i < 10 ? 32767 : 32766; }, [](int) { return 0; }));
  EXPECT_EQ(pcm, 10);  // both channels averaged: no point above 32766
  EXPECT_EQ(gain, 0);
  EXPECT_EQ(o.Rows()[0], 0);

  o.SetGain(8);  // doubled: 20000 becomes 40000, above the plot
  Feed(o, Frames(50, [](int i) { return i % 2 == 0 ? 20000 : 0; }, [](int) { return 0; }));
  EXPECT_EQ(gain, 25);
  EXPECT_EQ(pcm, 10);
  // The drawing goes on: the rows of the quiet points are still mapped.
  EXPECT_EQ(o.Rows()[1], o.RowOf(0));
}

TEST(OscopeCalc, PointsFromZoomChannelAndWidth) {
  TMMOscopeCalc o;
  Stereo16(o, 8, 40);
  const auto ramp = Frames(24, [](int i) { return 100 * i; }, [](int i) { return -100 * i - 1; });
  o.SetChannel(chLeft);
  Feed(o, ramp);
  EXPECT_EQ(std::vector<int16_t>(o.Points().begin(), o.Points().end()),
            (std::vector<int16_t>{0, 100, 200, 300, 400, 500, 600, 700}));
  o.SetZoom(3);  // every third sample frame
  Feed(o, ramp);
  EXPECT_EQ(o.Points()[1], 300);
  EXPECT_EQ(o.Points()[7], 2100);
  o.SetZoom(-2);  // each sample frame three times
  Feed(o, ramp);
  EXPECT_EQ(std::vector<int16_t>(o.Points().begin(), o.Points().end()),
            (std::vector<int16_t>{0, 0, 0, 100, 100, 100, 200, 200}));
  o.SetZoom(1);
  o.SetChannel(chRight);
  Feed(o, ramp);
  EXPECT_EQ(o.Points()[2], -201);
  o.SetChannel(chBoth);  // (100 i - 100 i - 1) / 2 truncates to 0
  Feed(o, ramp);
  EXPECT_EQ(o.Points()[5], 0);

  // 8-bit samples: byte * 256 - 32768.
  const auto f = MakePcmFormat(8, 1, 8000);
  o.AssignFormat(f.get());
  const std::vector<uint8_t> bytes{0, 128, 255, 1, 2, 3, 4, 5};
  o.FeedPCM(bytes.data(), 8);
  EXPECT_EQ(o.Points()[0], -32768);
  EXPECT_EQ(o.Points()[1], 0);
  EXPECT_EQ(o.Points()[2], 32512);
}

TEST(OscopeCalc, ShortFramesRepeatTheLastWholeFrame) {
  TMMOscopeCalc o;
  Stereo16(o, 181, 90);
  o.SetChannel(chLeft);
  // One whole frame and a stray byte: nothing past them is read.
  std::vector<uint8_t> data(5, 0);
  const int16_t v = -1234;
  std::memcpy(data.data(), &v, 2);
  o.FeedPCM(data.data(), 5);
  for (int16_t p : o.Points()) ASSERT_EQ(p, -1234);
  int updates = 0;
  o.OnUpdate = [&](TMMOscopeCalc*) { ++updates; };
  o.FeedPCM(data.data(), 3);  // not a whole frame
  o.FeedPCM(nullptr, 724);
  EXPECT_EQ(updates, 0);
}

TEST(OscopeCalc, LowPassSmoothsWithThePreviousRawPoint) {
  TMMOscopeCalc o;
  Stereo16(o, 5, 40);
  o.SetChannel(chLeft);
  o.SetLowPass(true);
  const std::vector<int> in{400, 800, -800, 7, 0};
  Feed(o, Frames(5, [&](int i) { return in[i]; }, [](int) { return 0; }));
  // (previous raw + 3 * point) / 4, truncated; before the first point: 0.
  EXPECT_EQ(std::vector<int16_t>(o.Points().begin(), o.Points().end()),
            (std::vector<int16_t>{300, 700, -400, (-800 + 21) / 4, 7 / 4}));
}

TEST(OscopeCalc, HiddenScopeIgnoresFramesAndResetClearsEverything) {
  TMMOscopeCalc o;
  Stereo16(o, 10, 40);
  const auto loud = Frames(10, [](int) { return 20000; }, [](int) { return 20000; });
  o.SetVisible(false);
  Feed(o, loud);
  EXPECT_EQ(o.Points()[0], 0);
  o.SetVisible(true);
  Feed(o, loud);
  EXPECT_EQ(o.Points()[0], 20000);
  o.SetSelection(2, 5);
  o.SetLocator(7);
  o.SetSelecting(true);
  o.ResetDisplay();  // ends the selection, clears the points and the marks
  EXPECT_FALSE(o.Selecting());
  EXPECT_EQ(o.Points()[0], 0);
  EXPECT_EQ(o.SelectionStart(), -1);
  EXPECT_EQ(o.Locator(), -1);
}

TEST(OscopeCalc, ScrollingAddsOneMinMaxColumnPerFrame) {
  TMMOscopeCalc o;
  Stereo16(o, 4, 40);
  o.SetScroll(true);
  o.SetFFTLength(8);
  int full = 0;
  o.OnArrayFull = [&](TMMOscopeCalc*) { ++full; };
  // Left swings -1000 .. 3000, right -3000 .. 1000.
  const auto frame = Frames(8, [](int i) { return i == 2 ? 3000 : (i == 5 ? -1000 : 0); },
                            [](int i) { return i == 1 ? 1000 : (i == 6 ? -3000 : 0); });
  Feed(o, frame);
  ASSERT_EQ(o.ScrollCount(), 1);
  // Both channels: the averages of the minima and of the maxima.
  auto c = o.ScrollColumnAt(0);
  EXPECT_EQ(c.first, o.RowOf(-2000));
  EXPECT_EQ(c.second, o.RowOf(2000));
  EXPECT_EQ(c.from, c.first);
  o.SetChannel(chRight);
  Feed(o, frame);
  c = o.ScrollColumnAt(1);
  EXPECT_EQ(c.from, o.RowOf(2000));  // from the previous column's second point
  EXPECT_EQ(c.first, o.RowOf(-3000));
  EXPECT_EQ(c.second, o.RowOf(1000));
  Feed(o, frame);
  EXPECT_EQ(full, 0);
  Feed(o, frame);
  EXPECT_EQ(full, 1);
  o.SetChannel(chLeft);
  Feed(o, frame);  // the plot is full: the oldest column leaves
  EXPECT_EQ(o.ScrollCount(), 4);
  EXPECT_EQ(o.ScrollAdded(), 5);
  EXPECT_EQ(full, 1);
  EXPECT_EQ(o.ScrollColumnAt(3).second, o.RowOf(3000));
  EXPECT_EQ(o.ScrollColumnAt(0).first, o.RowOf(-3000));
}

TEST(OscopeCalc, RestartingAScrollingPictureRedrawsTheOthers) {
  TMMOscopeCalc a;
  TMMOscopeCalc b;
  TMMOscopeCalc still;
  a.SetScroll(true);
  b.SetScroll(true);
  ASSERT_FALSE(b.TakeFullRedraw());
  int changes = 0;
  b.OnChange = [&](TMMOscopeCalc*) { ++changes; };
  a.ResetDisplay();
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(b.TakeFullRedraw());
  EXPECT_FALSE(b.TakeFullRedraw());
  EXPECT_FALSE(still.TakeFullRedraw());
  const auto& all = TMMOscopeCalc::Oscilloscopes();
  EXPECT_EQ(std::count(all.begin(), all.end(), &still), 1);
}

}  // namespace
}  // namespace tv
