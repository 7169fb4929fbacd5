// The main window's meters and oscilloscope with their design settings, fed
// a generated signal and saved as a picture for a person to look at:
// <build>/displays.png.
#include <gtest/gtest.h>

#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QTest>
#include <QVBoxLayout>
#include <cmath>
#include <vector>

#include "MMPCMSup.h"
#include "TMMLevel.h"
#include "TMMLevelScale.h"
#include "TMMOscope.h"

namespace tv {
namespace {

// 16-bit stereo at 44100 Hz: a sine of `hz` with the given crest per channel.
std::vector<int16_t> Tone(int frames, double hz, double left, double right, int start = 0) {
  std::vector<int16_t> s(2 * static_cast<size_t>(frames));
  for (int i = 0; i < frames; ++i) {
    const double v = std::sin(2 * M_PI * hz * (start + i) / 44100.0);
    s[2 * i] = static_cast<int16_t>(std::lround(left * v));
    s[2 * i + 1] = static_cast<int16_t>(std::lround(right * v));
  }
  return s;
}

void FeedMeter(TMMLevel& m, const std::vector<int16_t>& s) {
  const auto* p = reinterpret_cast<const uint8_t*>(s.data());
  const int total = static_cast<int>(s.size() * sizeof(int16_t));
  for (int at = 0; at + m.FrameBytes() <= total; at += m.FrameBytes()) m.FeedPCM(p + at);
}

TEST(DisplayPicture, DesignInstancesFedWithAGeneratedSignal) {
  QWidget panel;
  panel.setObjectName(QStringLiteral("Panel"));
  QPalette pal = panel.palette();
  pal.setColor(QPalette::Window, QColor(212, 212, 210));
  panel.setPalette(pal);
  panel.setAutoFillBackground(true);
  auto* row = new QHBoxLayout(&panel);

  // The strip along the right edge of the spectrum: 109 pixels of black.
  auto* strip = new QWidget(&panel);
  strip->setFixedSize(109, 330);
  strip->setAutoFillBackground(true);
  QPalette black = strip->palette();
  black.setColor(QPalette::Window, Qt::black);
  strip->setPalette(black);
  auto* meters = new QGridLayout(strip);
  meters->setContentsMargins(18, 10, 18, 8);
  meters->setHorizontalSpacing(0);
  auto* level1 = new TMMLevel(TMMLevel::Design::MMLevel1, strip);
  auto* scale = new TMMLevelScale(strip);
  scale->ApplyDecoderDesign(level1->Bevel());
  auto* level2 = new TMMLevel(TMMLevel::Design::MMLevel2, strip);
  meters->addWidget(level1, 0, 0);
  meters->addWidget(scale, 0, 1);
  meters->addWidget(level2, 0, 2);
  row->addWidget(strip);

  auto* right = new QVBoxLayout();
  auto* small = new QWidget(&panel);
  small->setFixedSize(130, 60);
  auto* level3 = new TMMLevel(TMMLevel::Design::MMLevel3, small);
  level3->setGeometry(18, 10, 92, 11);
  auto* level4 = new TMMLevel(TMMLevel::Design::MMLevel4, small);
  level4->setGeometry(18, 25, 92, 11);
  right->addWidget(small);
  auto* scope = new TMMOscope(&panel);
  scope->ApplyGeneratorDesign();
  scope->setFixedSize(scope->size());
  right->addWidget(scope);
  auto* ruled = new TMMOscope(&panel);  // with scales, to see them too
  ruled->ApplyGeneratorDesign();
  ruled->setObjectName(QStringLiteral("RuledScope"));
  ruled->SetDrawAmpScale(true);
  ruled->SetDrawTimeScale(true);
  ruled->resize(260 + 64, 132 + 40);
  ruled->setFixedSize(ruled->size());
  right->addWidget(ruled);
  row->addLayout(right);

  panel.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));

  // The decoder meters: a loud burst for the peak markers, then the left
  // channel at -6 dB and the right at -20 dB.
  FeedMeter(*level1, Tone(4410, 1000, 30000, 30000));
  FeedMeter(*level2, Tone(4410, 1000, 30000, 30000));
  const std::vector<int16_t> second = Tone(44100, 1000, 16384, 3277);
  for (TMMLevel* m : {level1, level2, level3, level4}) FeedMeter(*m, second);
  EXPECT_GT(level1->Calc().Lit(), level2->Calc().Lit());

  // The generator's 1000 Hz at 8212, started at the first rising zero
  // crossing as the connector's trigger finds it.
  const auto format = MakePcmFormat(16, 2, 44100);
  const std::vector<int16_t> tone = Tone(2048, 1000, 8212, 8212, 17);
  const int at = FindTriggerPoint(format.get(), tone.data(), 4096, 0, 1, 0);
  ASSERT_GT(at, 0);
  const auto* bytes = reinterpret_cast<const uint8_t*>(tone.data());
  scope->FeedPCM(bytes + at / 4 * 4);
  ruled->FeedPCM(bytes + at / 4 * 4);

  const QString path = QStringLiteral(TONVISTA_BINARY_DIR "/displays.png");
  const QPixmap picture = panel.grab();
  ASSERT_TRUE(picture.save(path));
  const QImage saved(path);
  EXPECT_EQ(saved.size(), panel.size());
  // Three times as large, pixel for pixel, to see the spots and the trace.
  const QString zoom = QStringLiteral(TONVISTA_BINARY_DIR "/displays-x3.png");
  ASSERT_TRUE(saved.scaled(saved.size() * 3, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                  .save(zoom));
  std::printf("pictures: %s %s\n", qPrintable(path), qPrintable(zoom));
}

}  // namespace
}  // namespace tv
