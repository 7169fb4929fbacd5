#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>
#include <cmath>
#include <cstring>
#include <ostream>
#include <random>
#include <vector>

#include "MMPCMSup.h"
#include "TMMSpectrum.h"

// Readable colours in failure messages.
inline void PrintTo(const QColor& c, std::ostream* os) { *os << c.name().toStdString(); }

namespace tv {
namespace {

constexpr double kPi = 3.14159265358979323846;

// `frames` frames of 16-bit stereo 44100 Hz: two tones over light noise.
std::vector<std::vector<uint8_t>> TwoTone(double f1, double f2, double amplitude, int n,
                                          int frames) {
  std::mt19937 gen(3);
  std::normal_distribution<double> noise(0.0, 30.0);
  std::vector<std::vector<uint8_t>> out;
  for (int f = 0; f < frames; ++f) {
    std::vector<uint8_t> bytes(static_cast<size_t>(n) * 4);
    for (int i = 0; i < n; ++i) {
      const double t = static_cast<double>(f * n + i) / 44100;
      const double v = amplitude * (std::sin(2 * kPi * f1 * t) + std::sin(2 * kPi * f2 * t));
      for (int c = 0; c < 2; ++c) {
        const auto s = static_cast<int16_t>(std::lround(v + noise(gen)));
        std::memcpy(&bytes[static_cast<size_t>(4 * i + 2 * c)], &s, 2);
      }
    }
    out.push_back(std::move(bytes));
  }
  return out;
}

// A control whose plot is `w` x `h` at the control's top left corner.
void PlainPlot(TMMSpectrum& s, int w, int h) {
  s.SetBevel(bvNone);
  s.resize(w, h);
  ASSERT_EQ(s.PlotRect(), QRect(0, 0, w, h));
}

// Fixed-point height of a linear level in a plot `h` high at VerticalScale 100.
int32_t LinearHeight(int64_t level, int h) {
  double m = h / 32768.0;
  int shift = 4;
  while (m < 4096) {
    m *= 2;
    ++shift;
  }
  return static_cast<int32_t>((level * static_cast<int64_t>(std::floor(m + 0.5))) >> shift);
}

QColor Pixel(const QImage& image, int x, int y) { return image.pixelColor(x, y); }

// Text is smoothed: its strokes count as bright pixels, not pure white ones.
int BrightPixels(const QImage& image, const QRect& area) {
  int count = 0;
  const QRect r = area.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y) {
    for (int x = r.left(); x <= r.right(); ++x) count += image.pixelColor(x, y).lightness() > 200;
  }
  return count;
}

// ---------------------------------------------------------------------------

TEST(SpectrumWidget, MainDesignPictureOfATwoToneSignal) {
  TMMSpectrum s(nullptr, TMMSpectrumDesign::Main);
  EXPECT_EQ(s.objectName(), QStringLiteral("MMSpectrum1"));
  EXPECT_EQ(s.Calc().FFTLength(), 1024);
  EXPECT_EQ(s.Calc().FrameBytes(), 4096);
  EXPECT_TRUE(s.Calc().LogFreq());
  EXPECT_EQ(s.Kind(), skLines);
  // An 800 x 418 plot inside the bevel and the three strips.
  s.resize(800 + 4 + 64, 418 + 4 + 40);
  ASSERT_EQ(s.PlotRect(), QRect(34, 2, 800, 418));
  s.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&s));
  auto format = MakePcmFormat(16, 2, 44100);
  s.Display().AssignFormat(format.get());
  for (const auto& frame : TwoTone(697, 1209, 8000, 1024, 12)) s.Display().FeedPCM(frame.data());
  const QImage picture = s.grab().toImage();
  const QString dir = QStringLiteral(TONVISTA_BINARY_DIR "/spectrum");
  QDir().mkpath(dir);
  ASSERT_TRUE(picture.save(dir + QStringLiteral("/spectrum-main.png")));

  const QRect plot = s.PlotRect();
  // Grid rows of the 60 dB scale, 6 intervals, between two vertical lines
  // (the bottom one lies under the trace of the quiet bins).
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(Pixel(picture, plot.left() + 12, plot.top() + k * 417 / 6), QColor(128, 128, 128))
        << "grid row " << k;
  }
  // The trace rises at the louder tone: the peak record is one of the two.
  const TSpectrumPeakRecord& peak = s.Calc().PeakRecord();
  const float binWidth = 44100.0f / 1024;
  const float f = peak.bin * binWidth;
  EXPECT_TRUE(std::abs(f - 697) < 2 * binWidth || std::abs(f - 1209) < 2 * binWidth) << f;
  // Aqua scale text somewhere in the left strip, black around it.
  int aqua = 0;
  for (int y = plot.top(); y <= plot.bottom(); ++y) {
    for (int x = 2; x < plot.left(); ++x) aqua += Pixel(picture, x, y) == QColor(0, 255, 255);
  }
  EXPECT_GT(aqua, 20);
}

// Every kind fed the same signal, side by side, for a person to look at.
TEST(SpectrumWidget, PictureOfEveryKind) {
  const TMMSpectrumKind kinds[] = {skLines, skDots, skVLines, skBars, skPeaks, skScroll};
  QImage sheet(3 * 420, 2 * 260, QImage::Format_RGB32);
  sheet.fill(Qt::darkGray);
  auto format = MakePcmFormat(16, 2, 44100);
  const auto frames = TwoTone(697, 1633, 6000, 1024, 40);
  for (int i = 0; i < 6; ++i) {
    TMMSpectrum s;
    s.SetKind(kinds[i]);
    s.SetDrawGrid(i == 0);
    s.SetSpotHeight(3);
    s.Calc().SetNumPeaks(3);
    s.Calc().SetDecayMode(dmExponential);
    s.Calc().SetDecay(3);
    s.resize(420, 260);
    s.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&s));
    s.Display().AssignFormat(format.get());
    s.Calc().SetFFTLength(1024);
    s.Calc().SetLogFreq(true);
    s.Calc().SetVerticalScale(40);
    for (const auto& frame : frames) {
      s.Display().FeedPCM(frame.data());
      s.ComposeFrame();
    }
    const QImage tile = s.grab().toImage();
    const QRect plot = s.PlotRect();
    int lit = 0;
    for (int y = plot.top(); y <= plot.bottom(); ++y) {
      for (int x = plot.left(); x <= plot.right(); ++x) lit += Pixel(tile, x, y) == s.Bar1Color();
    }
    EXPECT_GT(lit, 20) << "kind " << kinds[i];
    QPainter p(&sheet);
    p.drawImage((i % 3) * 420, (i / 3) * 260, tile);
  }
  const QString dir = QStringLiteral(TONVISTA_BINARY_DIR "/spectrum");
  QDir().mkpath(dir);
  EXPECT_TRUE(sheet.save(dir + QStringLiteral("/spectrum-kinds.png")));
}

TEST(SpectrumWidget, LinesAreDrawnAtTheRowOfTheirHeight) {
  TMMSpectrum s;
  s.SetKind(skLines);
  PlainPlot(s, 64, 200);
  TMMSpectrumCalc& c = s.Calc();
  c.SetFFTLength(128);  // one column per bin
  const int32_t level = 16 * 12000;
  std::fill(c.BinLevels().begin(), c.BinLevels().end(), level);
  const int row = 200 - LinearHeight(level, 200) - 1;
  ASSERT_GT(row, 10);
  QImage frame = s.ComposeFrame();
  EXPECT_EQ(Pixel(frame, 20, row), s.Bar1Color());
  EXPECT_EQ(Pixel(frame, 20, row - 1), s.Color());
  EXPECT_EQ(Pixel(frame, 20, row + 1), s.Color());

  // Frozen: the same line in the inactive colour.
  c.SetEnabled(false);
  frame = s.ComposeFrame();
  EXPECT_EQ(Pixel(frame, 20, row), s.Inactive1Color());

  // Above the plot: the top row; below zero: the bottom row.
  c.BinLevels()[10] = 16 * 32767 * 4;
  c.BinLevels()[30] = 0;
  frame = s.ComposeFrame();
  EXPECT_EQ(Pixel(frame, 10, 0), s.Inactive1Color());
  EXPECT_EQ(Pixel(frame, 30, 199), s.Inactive1Color());

  // The vector drawing for printing puts the line on the same rows.
  QImage printed(s.size(), QImage::Format_RGB32);
  printed.fill(Qt::white);
  {
    QPainter p(&printed);
    s.paint(p, QRectF(printed.rect()));
  }
  EXPECT_EQ(Pixel(printed, 20, row), s.Inactive1Color());
  EXPECT_EQ(Pixel(printed, 10, 0), s.Inactive1Color());
  EXPECT_EQ(Pixel(printed, 20, row - 3), s.Color());
}

TEST(SpectrumWidget, PeakLineFollowsTheMarkers) {
  TMMSpectrum s;
  s.SetKind(skLines);
  PlainPlot(s, 64, 200);
  TMMSpectrumCalc& c = s.Calc();
  c.SetFFTLength(128);
  c.SetNumPeaks(1);
  c.BinLevels()[20] = 16 * 20000;
  s.ComposeFrame();
  const int peakRow = 200 - LinearHeight(16 * 20000, 200) - 1;
  c.BinLevels()[20] = 0;  // the bar falls; the marker line stays up
  const QImage frame = s.ComposeFrame();
  EXPECT_EQ(Pixel(frame, 20, peakRow), s.Bar1Color());
  EXPECT_EQ(Pixel(frame, 20, 199), s.Bar1Color());
}

TEST(SpectrumWidget, LinearGridRows) {
  TMMSpectrum s;
  s.SetKind(skLines);
  s.SetDrawGrid(true);
  PlainPlot(s, 100, 418);
  const QImage frame = s.ComposeFrame();
  // Ten intervals: row H - Trunc(k x 32760 / 10 / (32768 / H)) - 1.
  for (int k = 1; k <= 10; ++k) {  // k = 0 lies under the trace of the empty bins
    const int row = 418 - static_cast<int>(k * 32760.0 / 10 / (32768.0 / 418)) - 1;
    EXPECT_EQ(Pixel(frame, 5, row), s.GridColor()) << k;
  }
  // 8 vertical intervals at 100 pixels: columns k x 99 / 8.
  EXPECT_EQ(TMMSpectrumCalc::VerticalIntervals(100), 8);
  EXPECT_EQ(Pixel(frame, 99 / 8, 7), s.GridColor());
  EXPECT_EQ(Pixel(frame, 99 / 8 + 1, 7), s.Color());
  // The printed drawing has the same grid, pixel for pixel.
  QImage printed(s.size(), QImage::Format_RGB32);
  {
    QPainter p(&printed);
    s.paint(p, QRectF(printed.rect()));
  }
  EXPECT_EQ(printed, frame);
}

TEST(SpectrumWidget, BarsLightSpotsInTheirZoneColours) {
  TMMSpectrum s;  // skBars, SpotHeight 1, SpotSpace 1, Point1 50, Point2 85
  PlainPlot(s, 64, 100);
  TMMSpectrumCalc& c = s.Calc();
  c.SetFFTLength(128);
  ASSERT_EQ(s.SpotCount(), 50);  // (100 + 1) div 2
  c.BinLevels()[10] = 16 * 40000;  // above full scale: all spots lit
  c.BinLevels()[20] = 16 * 8192;   // a quarter: 13 spots
  const QImage frame = s.ComposeFrame();
  // 50 spots and 49 gaps fill 99 rows; the row left over goes to the top:
  // spot i covers row 101 - 2i.
  const auto spotRow = [](int i) { return 101 - 2 * i; };
  EXPECT_EQ(Pixel(frame, 10, spotRow(1)), s.Bar1Color());
  EXPECT_EQ(Pixel(frame, 10, spotRow(25)), s.Bar1Color());   // Point1: 25 spots
  EXPECT_EQ(Pixel(frame, 10, spotRow(26)), s.Bar2Color());
  EXPECT_EQ(Pixel(frame, 10, spotRow(42)), s.Bar2Color());   // Point2: Round(42.5) = 42
  EXPECT_EQ(Pixel(frame, 10, spotRow(43)), s.Bar3Color());
  EXPECT_EQ(Pixel(frame, 10, spotRow(50)), s.Bar3Color());
  EXPECT_EQ(Pixel(frame, 10, spotRow(1) - 1), s.Color());    // the space between spots
  // The quarter bar: lit to spot n = Round(h / 2 + 0.5), unlit spots above.
  const int n = static_cast<int>(std::nearbyint(LinearHeight(16 * 8192, 100) / 2.0 + 0.5));
  EXPECT_EQ(Pixel(frame, 20, spotRow(n)), s.Bar1Color());
  EXPECT_EQ(Pixel(frame, 20, spotRow(n + 1)), s.Inactive1Color());
  EXPECT_EQ(Pixel(frame, 20, spotRow(30)), s.Inactive2Color());
  EXPECT_EQ(Pixel(frame, 20, spotRow(45)), s.Inactive3Color());
  EXPECT_EQ(Pixel(frame, 30, spotRow(1)), s.Inactive1Color());  // an empty bar lights nothing
  // Bars are one column wide here, with Space 1 they still show.
  s.SetDrawInactive(false);
  const QImage plain = s.ComposeFrame();
  EXPECT_EQ(Pixel(plain, 20, spotRow(45)), s.Color());
}

TEST(SpectrumWidget, EventsReplaceTheBuiltInBarsAndBackground) {
  TMMSpectrum s;
  PlainPlot(s, 64, 100);
  TMMSpectrumCalc& c = s.Calc();
  c.SetFFTLength(128);
  c.BinLevels()[7] = 16 * 16384;
  int cleared = 0;
  std::vector<std::pair<QRect, int>> drawn;
  s.OnClearBackground = [&](TMMSpectrum* sender, QPainter& p, const QRect& r) {
    EXPECT_EQ(sender, &s);
    ++cleared;
    p.fillRect(r, Qt::darkBlue);
  };
  s.OnDrawBar = [&](TMMSpectrum*, QPainter&, const QRect& r, int32_t spots, int32_t) {
    drawn.emplace_back(r, spots);
  };
  const QImage frame = s.ComposeFrame();
  EXPECT_EQ(cleared, 1);
  EXPECT_EQ(Pixel(frame, 40, 40), QColor(Qt::darkBlue));
  ASSERT_EQ(drawn.size(), 64u);
  EXPECT_EQ(drawn[7].first, QRect(7, 0, 1, 100));
  EXPECT_EQ(drawn[7].second, LinearHeight(16 * 16384, 100));  // pixels, not spots
}

TEST(SpectrumWidget, OtherKindsDrawInTheirGeometry) {
  TMMSpectrum s;
  PlainPlot(s, 64, 100);
  TMMSpectrumCalc& c = s.Calc();
  c.SetFFTLength(128);
  c.BinLevels()[10] = 16 * 40000;  // full height
  c.BinLevels()[20] = 16 * 16384;  // half

  s.SetKind(skVLines);
  QImage frame = s.ComposeFrame();
  EXPECT_EQ(Pixel(frame, 10, 99), s.Bar1Color());
  EXPECT_EQ(Pixel(frame, 10, 100 - 60), s.Bar2Color());
  EXPECT_EQ(Pixel(frame, 10, 2), s.Bar3Color());
  EXPECT_EQ(Pixel(frame, 20, 10), s.Color());

  s.SetKind(skDots);
  frame = s.ComposeFrame();
  EXPECT_EQ(Pixel(frame, 10, 0), s.Bar3Color());  // at or above the Point2 row
  EXPECT_EQ(Pixel(frame, 20, 100 - LinearHeight(16 * 16384, 100) - 1), s.Bar2Color());
  EXPECT_EQ(Pixel(frame, 30, 99), s.Bar1Color());

  // The scroll kind: a band of lines below, history rows moving up.
  s.SetKind(skScroll);
  frame = s.ComposeFrame();
  EXPECT_EQ(Pixel(frame, 10, 99), s.Bar1Color());
  const int history = 100 - 100 / 3 - 1;
  EXPECT_NE(Pixel(frame, 10, history), s.Color());
  frame = s.ComposeFrame();
  EXPECT_NE(Pixel(frame, 10, history - 1), s.Color());
}

TEST(SpectrumWidget, ScalesGrowTheControlAndKeepThePlot) {
  TMMSpectrum s;
  s.resize(300, 200);
  const QSize plot = s.PlotRect().size();
  s.SetDrawAmpScale(true);
  EXPECT_EQ(s.size(), QSize(364, 200));
  EXPECT_EQ(s.PlotRect().size(), plot);
  EXPECT_EQ(s.PlotRect().left(), 2 + 32);
  s.SetDrawFreqScale(true);
  EXPECT_EQ(s.size(), QSize(364, 240));
  EXPECT_EQ(s.PlotRect().size(), plot);
  s.SetDrawAmpScale(false);
  EXPECT_EQ(s.size(), QSize(300, 240));
  EXPECT_EQ(s.PlotRect().size(), plot);
  // A plot is never lower or narrower than 4 pixels.
  s.resize(10, 10);
  EXPECT_EQ(s.PlotRect().size(), QSize(6, 4));
  s.SetDrawAmpScale(true);
  s.resize(30, 30);
  EXPECT_EQ(s.PlotRect().size(), QSize(4, 4));
}

TEST(SpectrumWidget, PeakFrequencyLabelAboveTheBar) {
  TMMSpectrum s;
  s.SetKind(skLines);
  PlainPlot(s, 400, 200);
  TMMSpectrumCalc& c = s.Calc();
  c.SetFFTLength(1024);
  c.SetDisplayPeak(true);
  c.SetEnabled(false);  // keeps the levels as set
  const int column = 40 * 400 / 512 + 1;
  c.BinLevels()[40] = 16 * 16384;
  s.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&s));
  const QImage picture = s.grab().toImage();
  ASSERT_EQ(c.PeakRecord().bin, 40);
  ASSERT_EQ(c.PeakLabel(), "446.0 Hz");  // 40.5 x 11025 / 1024 + 10
  const int row = 200 - LinearHeight(16 * 16384, 200) - 1;
  // One text height above the bar's top, starting at its column.
  EXPECT_GT(BrightPixels(picture, QRect(column, row - 16, 60, 16)), 20);
  EXPECT_EQ(BrightPixels(picture, QRect(0, 0, column - 1, 200)), 0);
  EXPECT_EQ(BrightPixels(picture, QRect(0, row + 1, 400, 200)), 0);
}

TEST(SpectrumWidget, MouseReadoutPausesTheAnalysis) {
  TMMSpectrum s(nullptr, TMMSpectrumDesign::Main);
  s.resize(500, 300);
  s.setToolTip(QStringLiteral("Spectrum"));
  s.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&s));
  const QRect plot = s.PlotRect();
  auto format = MakePcmFormat(16, 2, 44100);
  s.Display().AssignFormat(format.get());
  const auto frames = TwoTone(1000, 3000, 8000, 1024, 2);

  QTest::mousePress(&s, Qt::LeftButton, Qt::NoModifier, plot.topLeft() + QPoint(10, 0));
  EXPECT_TRUE(s.InfoActive());
  EXPECT_TRUE(s.toolTip().isEmpty());
  s.Display().FeedPCM(frames[0].data());
  EXPECT_EQ(*std::max_element(s.Calc().BinLevels().begin(), s.Calc().BinLevels().end()), 0);
  // The pointer is held inside the plot.
  QTest::mouseMove(&s, plot.bottomRight() + QPoint(40, 40));
  EXPECT_EQ(s.InfoPosition(), QPoint(plot.width() - 1, plot.height() - 1));
  const QImage shown = s.grab().toImage();
  EXPECT_GT(BrightPixels(shown, QRect(plot.left() + 4, plot.top() + 4, 120, 20)), 20);
  QTest::mouseRelease(&s, Qt::LeftButton, Qt::NoModifier, plot.center());
  EXPECT_FALSE(s.InfoActive());
  EXPECT_EQ(s.toolTip(), QStringLiteral("Spectrum"));
  s.Display().FeedPCM(frames[1].data());
  EXPECT_GT(*std::max_element(s.Calc().BinLevels().begin(), s.Calc().BinLevels().end()), 0);

  // A reset ends a readout; a frozen display gives none.
  QTest::mousePress(&s, Qt::LeftButton, Qt::NoModifier, plot.center());
  ASSERT_TRUE(s.InfoActive());
  s.Display().ResetDisplay();
  EXPECT_FALSE(s.InfoActive());
  QTest::mouseRelease(&s, Qt::LeftButton, Qt::NoModifier, plot.center());
  s.Calc().SetEnabled(false);
  QTest::mousePress(&s, Qt::LeftButton, Qt::NoModifier, plot.center());
  EXPECT_FALSE(s.InfoActive());
}

TEST(SpectrumWidget, HiddenDisplayIgnoresFrames) {
  TMMSpectrum s(nullptr, TMMSpectrumDesign::Background);
  EXPECT_EQ(s.objectName(), QStringLiteral("SpeckBack"));
  EXPECT_EQ(s.Calc().FFTLength(), 2048);
  EXPECT_EQ(s.Calc().Window(), fwHanning);
  EXPECT_FALSE(s.DrawInactive());
  const auto frames = TwoTone(1000, 3000, 8000, 2048, 1);
  s.Display().FeedPCM(frames[0].data());
  EXPECT_EQ(*std::max_element(s.Calc().BinLevels().begin(), s.Calc().BinLevels().end()), 0);
}

}  // namespace
}  // namespace tv
