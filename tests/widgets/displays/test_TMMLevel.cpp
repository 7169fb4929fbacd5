#include <gtest/gtest.h>

#include <QPainter>
#include <QTest>
#include <cmath>
#include <vector>

#include "MMPCMSup.h"
#include "MMTimerList.h"
#include "TMMLevel.h"
#include "TMMLevelScale.h"
#include "TMMScale.h"

namespace tv {
namespace {

const QColor kLit[3] = {QColor(0, 255, 0), QColor(255, 255, 0), QColor(255, 0, 0)};
const QColor kDark[3] = {QColor(0, 64, 0), QColor(64, 64, 0), QColor(64, 0, 0)};

QImage Render(TMMLevel& m, double zoom = 1.0) {
  QImage image(m.size() * zoom, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  m.paint(p, QRectF(image.rect()));
  return image;
}

// One frame of a 441 Hz sine at 44100 Hz whose crest is sampled exactly.
std::vector<int16_t> Sine(double amplitude) {
  std::vector<int16_t> s(100);
  for (int i = 0; i < 50; ++i)
    s[2 * i] = s[2 * i + 1] =
        static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * i / 100.0)));
  return s;
}

// A meter of 40 spots, 2 pixels each with 1 between, on a 120 x 10 bar at
// -60 dB, with colours that tell the zones apart. Spot s (from 1) starts
// 3 (s - 1) pixels from where the bar fills.
class LevelWidget : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(TimerList::RegistrationCount(), 0);
    TimerList::SetTickSource(&ticks_);
    host_.resize(300, 300);
    host_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host_));
    meter_ = std::make_unique<TMMLevel>(&host_);
    TMMLevel& m = *meter_;
    m.resize(120, 10);
    m.show();
    const auto f = MakePcmFormat(16, 2, 44100);
    m.AssignFormat(f.get());
    m.SetSensitivy(-60);
    m.SetSpotWidth(2);
    m.SetSpotSpace(1);
    m.SetBar1Color(kLit[0]);
    m.SetBar2Color(kLit[1]);
    m.SetBar3Color(kLit[2]);
    m.SetInactive1Color(kDark[0]);
    m.SetInactive2Color(kDark[1]);
    m.SetInactive3Color(kDark[2]);
    ASSERT_EQ(m.Calc().Spots(), 40);
    ASSERT_EQ(m.Calc().Zone1(), 20);
    ASSERT_EQ(m.Calc().Zone2(), 34);
  }
  void TearDown() override {
    meter_.reset();
    TimerList::SetTickSource(nullptr);
  }
  void Feed(double amplitude) { meter_->FeedPCM(Sine(amplitude).data()); }
  // Colour at the middle of spot s of a horizontal meter that fills from the left.
  static QColor Spot(const QImage& image, int s) { return image.pixelColor(3 * (s - 1), 5); }

  ManualTickSource ticks_;
  QWidget host_;  // a shown child takes its size at once
  std::unique_ptr<TMMLevel> meter_;
};

TEST_F(LevelWidget, LitSpotsTakeTheirZoneColoursAndTheRestStayDark) {
  Feed(3277);  // -20 dB: 27 of 40 spots
  const QImage image = Render(*meter_);
  EXPECT_EQ(Spot(image, 1), kLit[0]);
  EXPECT_EQ(Spot(image, 20), kLit[0]);
  EXPECT_EQ(Spot(image, 21), kLit[1]);
  EXPECT_EQ(Spot(image, 27), kLit[1]);
  EXPECT_EQ(Spot(image, 28), kDark[1]);
  EXPECT_EQ(Spot(image, 34), kDark[1]);
  EXPECT_EQ(Spot(image, 35), kDark[2]);
  EXPECT_EQ(Spot(image, 40), kDark[2]);
  EXPECT_EQ(image.pixelColor(2, 5), QColor(Qt::black));  // the gap after spot 1
}

TEST_F(LevelWidget, PeakMarkerAboveTheLitSpots) {
  Feed(32767);
  Feed(3277);
  QImage image = Render(*meter_);
  EXPECT_EQ(Spot(image, 27), kLit[1]);
  EXPECT_EQ(Spot(image, 39), kDark[2]);
  EXPECT_EQ(Spot(image, 40), kLit[2]);
  meter_->SetNumPeaks(2);
  Feed(32767);
  Feed(3277);
  image = Render(*meter_);
  EXPECT_EQ(Spot(image, 39), kLit[2]);
  EXPECT_EQ(Spot(image, 38), kDark[2]);
}

TEST_F(LevelWidget, DirectionsAndKinds) {
  Feed(3277);
  meter_->SetDirection(dirReversed);  // fills from the right
  QImage image = Render(*meter_);
  EXPECT_EQ(image.pixelColor(118, 5), kLit[0]);
  EXPECT_EQ(image.pixelColor(1, 5), kDark[2]);  // pixel 0 is the spare one

  meter_->SetKind(lkVertical);  // 120 x 10 becomes 10 x 120, filling upwards
  EXPECT_EQ(meter_->size(), QSize(10, 120));
  meter_->SetDirection(dirNormal);
  Feed(3277);
  image = Render(*meter_);
  EXPECT_EQ(image.pixelColor(5, 119), kLit[0]);
  EXPECT_EQ(image.pixelColor(5, 1), kDark[2]);

  // Symmetric: 27 / 2 = 13 rings out from the middle of the 40 spots, that
  // is spots 8 .. 33 counted from the bottom.
  meter_->SetDirection(dirSymetric);
  Feed(3277);
  image = Render(*meter_);
  auto spot = [&](int s) { return image.pixelColor(5, 119 - 3 * (s - 1)); };
  EXPECT_EQ(spot(20), kLit[0]);  // next to the middle
  EXPECT_EQ(spot(8), kLit[1]);   // ring 13 stands for spot 26: second zone
  EXPECT_EQ(spot(33), kLit[1]);
  EXPECT_NE(spot(7), kLit[1]);
  EXPECT_NE(spot(34), kLit[1]);
}

TEST_F(LevelWidget, DottedSpotsPrintingAndOwnDrawing) {
  meter_->SetActiveDoted(true);
  Feed(3277);
  QImage image = Render(*meter_);
  EXPECT_NE(image.pixelColor(0, 4), image.pixelColor(0, 5));
  EXPECT_TRUE(image.pixelColor(0, 4) == kLit[0] || image.pixelColor(0, 5) == kLit[0]);
  meter_->SetActiveDoted(false);

  image = Render(*meter_, 2.0);  // printed twice as large
  EXPECT_EQ(image.pixelColor(1, 10), kLit[0]);
  EXPECT_EQ(image.pixelColor(3 * 26 * 2 + 1, 10), kLit[1]);

  int drawn = -1;
  int painted = 0;
  meter_->OnDrawBar = [&](TMMLevel* sender, QPainter&, const QRect& bar, int nSpots, int peak) {
    EXPECT_EQ(sender, meter_.get());
    EXPECT_EQ(bar, QRect(0, 0, 120, 10));
    EXPECT_EQ(peak, 27);
    drawn = nSpots;
  };
  meter_->OnPaint = [&](TMMLevel*, QPainter&) { ++painted; };
  image = Render(*meter_);
  EXPECT_EQ(drawn, 27);
  EXPECT_EQ(painted, 1);
  EXPECT_EQ(Spot(image, 1), QColor(Qt::black));  // the handler drew nothing
}

TEST_F(LevelWidget, HiddenMeterIgnoresFramesAndTheTimerRepaintsIt) {
  TMMLevel hidden;
  const auto f = MakePcmFormat(16, 2, 44100);
  hidden.AssignFormat(f.get());
  hidden.FeedPCM(Sine(32767).data());
  EXPECT_EQ(hidden.Calc().Lit(), 0);

  int paints = 0;
  meter_->OnPaint = [&](TMMLevel*, QPainter&) { ++paints; };
  meter_->SetPeakDelay(0);  // held for one tick
  Feed(32767);
  Feed(0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return paints > 0; }, 2000));
  const int before = paints;
  ASSERT_TRUE(ticks_.Fire());  // the peak goes on the timer's "thread"
  EXPECT_EQ(meter_->Calc().PeakSpot(), 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return paints > before; }, 2000));
}

TEST(LevelDesign, MainWindowInstances) {
  TMMLevel level1(TMMLevel::Design::MMLevel1, nullptr);
  EXPECT_EQ(level1.objectName(), QStringLiteral("MMLevel1"));
  EXPECT_EQ(level1.Kind(), lkVertical);
  EXPECT_GT(level1.height(), level1.width());
  EXPECT_EQ(level1.Channel(), chLeft);
  EXPECT_EQ(level1.Sensitivy(), -60);
  EXPECT_EQ(level1.DecayMode(), dmStepUp);
  EXPECT_EQ(level1.Decay(), 10);
  EXPECT_EQ(level1.Point2(), 99);
  EXPECT_EQ(level1.FrameBytes(), 2 * 2 * 50);  // 16-bit stereo, 50 samples
  TMMLevel level4(TMMLevel::Design::MMLevel4, nullptr);
  EXPECT_EQ(level4.objectName(), QStringLiteral("MMLevel4"));
  EXPECT_EQ(level4.Kind(), lkHorizontal);
  EXPECT_EQ(level4.Channel(), chRight);

  TMMLevelScale scale;
  scale.ApplyDecoderDesign();
  EXPECT_EQ(scale.ScaleTicks(), 21);
  EXPECT_EQ(scale.Sensitivy(), -60);
  EXPECT_EQ(scale.Kind(), lkVertical);
}

TEST(LevelScale, LabelsValuesAndColours) {
  TMMLevelScale scale;
  scale.ApplyDecoderDesign(0);
  scale.resize(37, 400);
  // dB: MulDiv(j, -60, 20) without its sign, from full scale down.
  EXPECT_EQ(scale.LabelText(0), QStringLiteral("0"));
  EXPECT_EQ(scale.LabelText(7), QStringLiteral("21"));
  EXPECT_EQ(scale.LabelText(20), QStringLiteral("60"));
  // Zones by the tick's share of the bar: above 85 % red, up to it white.
  EXPECT_EQ(scale.LabelColor(2), QColor(Qt::red));    // 90 %
  EXPECT_EQ(scale.LabelColor(3), QColor(Qt::white));  // 85 %
  // Linear: the middle position is halfway from the floor (32.8) to full
  // scale, 20 log10(16400 / 32767) = -6.0 dB.
  scale.SetLogAmp(false);
  EXPECT_EQ(scale.LabelText(0), QStringLiteral("0"));
  EXPECT_EQ(scale.LabelText(10), QStringLiteral("6"));
  EXPECT_EQ(scale.LabelText(20), QStringLiteral("60"));

  // Full scale at the top of a vertical scale, at the right of a horizontal one.
  EXPECT_EQ(scale.TickPosition(0), 0);
  EXPECT_EQ(scale.TickPosition(20), 399);
  EXPECT_EQ(scale.TickPosition(10), 200);  // 199.5 rounded
  scale.SetDirection(dirReversed);
  EXPECT_EQ(scale.TickPosition(0), 399);

  // Label step: the smallest e for which 20 div e labels fit the length.
  const int extent = QFontMetrics(scale.font()).boundingRect(QStringLiteral("W")).height();
  for (int length : {400, 120, 60}) {
    scale.resize(37, length);
    int e = 1;
    while (e < 20 && (20 / e) * extent > length) ++e;
    EXPECT_EQ(scale.LabelStep(), e) << "length " << length;
  }
}

TEST(LevelScale, TickMarks) {
  TMMScale ticks;
  ticks.SetColor(Qt::white);
  ticks.SetTickCount(11);
  ticks.SetSize(3);
  ticks.SetEnlargeEvery(5);
  EXPECT_EQ(ticks.RoomNeeded(), 6);
  QImage image(10, 101, QImage::Format_RGB32);
  auto draw = [&] {
    image.fill(Qt::black);
    QPainter p(&image);
    ticks.Draw(p, image.rect(), TMMScaleEdge::Left);
  };
  draw();  // tick i at y = 10 i; ticks 0, 5, 10 are 6 pixels long, the others 3
  EXPECT_EQ(image.pixelColor(5, 50), QColor(Qt::white));
  EXPECT_EQ(image.pixelColor(6, 50), QColor(Qt::black));
  EXPECT_EQ(image.pixelColor(2, 10), QColor(Qt::white));
  EXPECT_EQ(image.pixelColor(3, 10), QColor(Qt::black));
  EXPECT_EQ(image.pixelColor(0, 15), QColor(Qt::black));
  ticks.SetOrigin(soOuter);  // standing on the far side
  ticks.SetConnect(true);
  draw();
  EXPECT_EQ(image.pixelColor(9, 10), QColor(Qt::white));
  EXPECT_EQ(image.pixelColor(7, 10), QColor(Qt::white));
  EXPECT_EQ(image.pixelColor(6, 10), QColor(Qt::black));
  EXPECT_EQ(image.pixelColor(9, 15), QColor(Qt::white));  // the base line
  ticks.SetStyle(stLowered);
  EXPECT_EQ(ticks.RoomNeeded(), 7);
  draw();
  EXPECT_NE(image.pixelColor(8, 20), image.pixelColor(8, 21));

  QPainter idle;  // no device to paint on
  try {
    ticks.Draw(idle, image.rect(), TMMScaleEdge::Left);
    FAIL() << "drew without a canvas";
  } catch (const EMMScaleError& e) {
    EXPECT_STREQ(e.what(), "Canvas needed for this operation");
  }
}

}  // namespace
}  // namespace tv
