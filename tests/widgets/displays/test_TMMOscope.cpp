#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>
#include <cmath>
#include <vector>

#include "MMPCMSup.h"
#include "TMMOscope.h"

namespace tv {
namespace {

const QColor kTrace(0, 255, 255);
const QColor kMid(128, 128, 128);

QImage Render(TMMOscope& o) {
  QImage image(o.size(), QImage::Format_RGB32);
  QPainter p(&image);
  o.paint(p, QRectF(image.rect()));
  return image;
}

// A shown window to hold the controls: a shown child takes its size at once.
class Host : public QWidget {
 public:
  Host() {
    resize(500, 300);
    show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(this));
  }
};

// An oscilloscope on screen, 194 x 90 unless said otherwise (plot = client,
// no bevel), reading 16-bit stereo at 44100 Hz.
void Prepare(TMMOscope& o, QSize size = {194, 90}) {
  const auto f = MakePcmFormat(16, 2, 44100);
  o.AssignFormat(f.get());
  o.SetKind(okConLines);
  o.resize(size);
  o.show();
}

template <class F>
void Feed(TMMOscope& o, F value) {
  std::vector<int16_t> s(2 * 200);
  for (int i = 0; i < 200; ++i) s[2 * i] = s[2 * i + 1] = static_cast<int16_t>(value(i));
  o.FeedPCM(s.data());
}

void Mouse(TMMOscope& o, QEvent::Type type, int x, int y, Qt::MouseButtons held) {
  const QPointF at(x, y);
  QMouseEvent event(type, at, o.mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
  QApplication::sendEvent(&o, &event);
}

TEST(OscopeWidget, ConnectedLinesPassThroughEveryPoint) {
  Host host;
  TMMOscope o(&host);
  Prepare(o);
  Feed(o, [](int i) { return 20000 * std::sin(2 * M_PI * i / 64.0); });
  QImage image = Render(o);
  const auto rows = o.Calc().Rows();
  ASSERT_EQ(rows.size(), 194u);
  for (int x = 0; x < 194; ++x) ASSERT_EQ(image.pixelColor(x, rows[x]), kTrace) << "column " << x;

  // Every 5th point: the line runs from vertex to vertex and stops at the
  // last vertex below the width (190).
  o.SetSteps(5);
  image = Render(o);
  for (int x = 0; x < 194; ++x) {
    int hits = 0;
    for (int y = 0; y < 90; ++y) hits += image.pixelColor(x, y) == kTrace;
    if (x % 5 == 0) {
      EXPECT_EQ(image.pixelColor(x, rows[x]), kTrace) << "vertex " << x;
    }
    if (x <= 190) {
      EXPECT_GT(hits, 0) << "column " << x;
    } else {
      EXPECT_EQ(hits, 0) << "column " << x;
    }
  }
}

TEST(OscopeWidget, RowsOfFullScaleZeroAndTheMidLine) {
  Host host;
  TMMOscope o(&host);
  Prepare(o);
  Feed(o, [](int) { return 32767; });
  EXPECT_EQ(Render(o).pixelColor(50, 0), kTrace);  // the top row
  Feed(o, [](int) { return -32767; });
  EXPECT_EQ(Render(o).pixelColor(50, 89), kTrace);  // the bottom row

  o.SetDrawMidLine(true);
  Feed(o, [](int) { return 20000; });
  const QImage image = Render(o);
  const int zero = 90 - 32767 * 90 / 65535 - 1;  // row 45
  EXPECT_EQ(image.pixelColor(100, zero), kMid);
  EXPECT_EQ(image.pixelColor(100, o.Calc().RowOf(20000)), kTrace);
}

TEST(OscopeWidget, DisabledShowsALineAcrossTheMiddle) {
  Host host;
  TMMOscope o(&host);
  Prepare(o);
  o.SetEnabled(false);
  Feed(o, [](int) { return 20000; });  // ignored
  const QImage image = Render(o);
  // From 5 pixels after the left edge to 5 before the right edge (193).
  EXPECT_EQ(image.pixelColor(5, 45), kMid);
  EXPECT_EQ(image.pixelColor(188, 45), kMid);
  EXPECT_EQ(image.pixelColor(4, 45), QColor(Qt::black));
  EXPECT_EQ(image.pixelColor(189, 45), QColor(Qt::black));
  EXPECT_EQ(image.pixelColor(100, o.Calc().RowOf(20000)), QColor(Qt::black));
}

TEST(OscopeWidget, EffectColoursTheOuterBands) {
  Host host;
  TMMOscope o(&host);
  Prepare(o);
  o.SetEffect(efPeak);
  Feed(o, [](int i) { return i < 100 ? 30000 : 0; });  // h = 86 (above 60), then 44
  const QImage image = Render(o);
  EXPECT_EQ(image.pixelColor(50, o.Calc().RowOf(30000)), QColor(255, 0, 0));
  EXPECT_EQ(image.pixelColor(150, o.Calc().RowOf(0)), kTrace);
}

TEST(OscopeWidget, GridFollowsTheGeneratorTimeBases) {
  Host host;
  TMMOscope o(&host);
  Prepare(o);
  EXPECT_DOUBLE_EQ(o.TimeDivision(), 0.25);  // 11.0 pixels at 44100 Hz
  o.SetDrawGrid(true);
  const QImage image = Render(o);
  for (int k : {1, 2, 5}) {
    const int x = static_cast<int>(std::lround(k * 0.25 * 44.1));
    int dots = 0;
    for (int y = 0; y < 90; ++y) dots += image.pixelColor(x, y) == kMid;
    EXPECT_GT(dots, 20) << "grid line " << k;
  }
  o.SetSampleRate(22050);
  EXPECT_DOUBLE_EQ(o.TimeDivision(), 0.5);
}

TEST(OscopeWidget, OwnTraceAndPostPaint) {
  Host host;
  TMMOscope o(&host);
  Prepare(o);
  Feed(o, [](int) { return 20000; });
  size_t points = 0;
  o.OnDrawLine = [&](TMMOscope*, QPainter&, const QRect& plot, std::span<const int16_t> data) {
    EXPECT_EQ(plot, QRect(0, 0, 194, 90));
    points = data.size();
  };
  o.OnPostPaint = [](TMMOscope*, QPainter& p) { p.fillRect(QRect(0, 0, 3, 3), Qt::yellow); };
  const QImage image = Render(o);
  EXPECT_EQ(points, 194u);
  EXPECT_EQ(image.pixelColor(100, o.Calc().RowOf(20000)), QColor(Qt::black));
  EXPECT_EQ(image.pixelColor(1, 1), QColor(Qt::yellow));
}

TEST(OscopeWidget, MouseReadoutSelectionAndLocator) {
  Host host;
  TMMOscope o(&host);
  Prepare(o);
  int selecting = 0;
  std::pair<int, int> ended{-1, -1};
  o.OnSelecting = [&](TMMOscope*, int, int) { ++selecting; };
  o.OnSelectEnd = [&](TMMOscope*, int lo, int hi) { ended = {lo, hi}; };

  Mouse(o, QEvent::MouseButtonPress, 60, 10, Qt::LeftButton);
  // Column 60 is 60 / 44.1 = 1.36 ms; row 10 of 90 is h = 79, i.e.
  // (79 * 65535 / 90 - 32767) / 32767 = 0.76 V.
  EXPECT_EQ(o.InfoText(), QStringLiteral(" 1.4 ms 0.76 V"));
  Feed(o, [](int) { return 20000; });  // frames wait while the button is held
  EXPECT_EQ(o.Calc().Points()[0], 0);
  Mouse(o, QEvent::MouseMove, 20, 10, Qt::LeftButton);
  Mouse(o, QEvent::MouseButtonRelease, 20, 10, Qt::NoButton);
  EXPECT_GT(selecting, 0);
  EXPECT_EQ(ended, std::make_pair(20, 60));
  EXPECT_EQ(o.Calc().SelectionStart(), 20);
  EXPECT_EQ(o.Calc().SelectionEnd(), 60);
  EXPECT_TRUE(o.InfoText().isEmpty());
  Feed(o, [](int) { return 20000; });
  EXPECT_EQ(o.Calc().Points()[0], 20000);

  Mouse(o, QEvent::MouseButtonPress, 100, 10, Qt::LeftButton);  // a click
  Mouse(o, QEvent::MouseButtonRelease, 100, 10, Qt::NoButton);
  EXPECT_EQ(o.Calc().Locator(), 100);
  o.SetLocked(true);
  Mouse(o, QEvent::MouseButtonPress, 150, 10, Qt::LeftButton);
  Mouse(o, QEvent::MouseMove, 170, 10, Qt::LeftButton);
  Mouse(o, QEvent::MouseButtonRelease, 170, 10, Qt::NoButton);
  EXPECT_EQ(o.Calc().SelectionStart(), 20);
  EXPECT_EQ(o.Calc().Locator(), 100);
}

// Moving the kept picture by the new columns draws what drawing every column
// again draws (the first column aside, whose lead-in has left the picture).
TEST(OscopeWidget, AcceleratedScrollingMatchesFullRedrawing) {
  Host host;
  TMMOscope fast(&host);
  TMMOscope slow(&host);
  for (TMMOscope* o : {&fast, &slow}) {
    Prepare(*o, {40, 30});
    o->SetScroll(true);
    o->SetFFTLength(4);
  }
  slow.SetAccelerate(false);
  for (int frame = 0; frame < 70; ++frame) {
    for (TMMOscope* o : {&fast, &slow})
      Feed(*o, [frame](int i) { return ((frame * 7919 + i * 104729) % 50000) - 25000; });
    if (frame % 3 != 1) continue;  // paints do not come with every frame
    const QImage a = Render(fast);
    const QImage b = Render(slow);
    for (int x = 1; x < 40; ++x)
      for (int y = 0; y < 30; ++y)
        ASSERT_EQ(a.pixel(x, y), b.pixel(x, y)) << "frame " << frame << " at " << x << "," << y;
  }
  // While the picture is still filling, the position bar follows the newest column.
  fast.ResetDisplay();
  Feed(fast, [](int) { return 0; });
  EXPECT_EQ(Render(fast).pixelColor(2, 5), kMid);
}

TEST(OscopeWidget, ScalesAndTheGeneratorDesign) {
  Host host;
  TMMOscope o(&host);
  o.ApplyGeneratorDesign();
  o.show();
  EXPECT_EQ(o.objectName(), QStringLiteral("MMOscope1"));
  EXPECT_EQ(o.Calc().PlotWidth(), 256);
  EXPECT_EQ(o.Calc().PlotHeight(), 128);
  EXPECT_EQ(o.FrameBytes(), 4 * 256);
  EXPECT_EQ(o.FFTLength(), 256);
  EXPECT_EQ(o.Kind(), okConLines);
  EXPECT_TRUE(o.DrawGrid());
  EXPECT_TRUE(o.DrawMidLine());
  EXPECT_EQ(o.SampleRate(), 44100);

  o.SetScaleTextColor(Qt::blue);
  o.SetDrawAmpScale(true);
  o.SetDrawTimeScale(true);
  o.resize(260 + 64, 132 + 40);
  EXPECT_EQ(o.PlotRect(), QRect(2 + 32, 2, 256, 128));
  const QImage image = Render(o);
  auto inks = [&](const QRect& box) {
    int n = 0;
    for (int x = box.left(); x <= box.right(); ++x)
      for (int y = box.top(); y <= box.bottom(); ++y) {
        const QColor c = image.pixelColor(x, y);  // text is smoothed: blue-ish will do
        n += c.blue() - c.red() > 60;
      }
    return n;
  };
  const int zero = 2 + o.Calc().RowOf(0);
  EXPECT_GT(inks(QRect(2, zero - 5, 28, 11)), 5);               // "0.00" left
  EXPECT_GT(inks(QRect(2 + 32 + 256 + 4, zero - 5, 28, 11)), 5);  // and right
  EXPECT_GT(inks(QRect(34, 132, 20, 18)), 3);                    // "0.0" under the plot
  EXPECT_GT(inks(QRect(324 - 30, 172 - 18, 28, 16)), 3);         // "mS" in the corner
}

}  // namespace
}  // namespace tv
