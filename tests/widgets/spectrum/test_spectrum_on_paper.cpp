// The spectrum drawn for a printed page: pens that keep their width when
// the picture is scaled up, and a peak label that shows on a white plot.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "TMMSpectrum.h"

namespace tv {
namespace {

// A flat linear trace across a plain 64 x 100 plot, drawn four times larger.
QImage Enlarged(TMMSpectrum& s) {
  QImage image(s.width() * 4, s.height() * 4, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  s.paint(p, QRectF(image.rect()));
  return image;
}

int DarkRunAt(const QImage& image, int x) {
  int run = 0;
  for (int y = 0; y < image.height(); ++y) run += qGray(image.pixel(x, y)) < 128;
  return run;
}

TEST(SpectrumOnPaper, TheTraceWidthScalesWithThePictureAndZeroStaysAHairline) {
  TMMSpectrum s;
  s.SetKind(skLines);
  s.SetBevel(bvNone);
  s.resize(64, 100);
  s.SetColor(Qt::white);
  s.SetBar1Color(Qt::black);
  s.SetInactive1Color(Qt::black);
  s.Calc().SetFFTLength(128);
  s.Calc().SetNumPeaks(0);
  for (int k = 0; k < 64; ++k) s.Calc().BinLevels()[k] = 16 * 8000;
  EXPECT_EQ(DarkRunAt(Enlarged(s), 100), 1);
  s.SetTraceWidth(1.5);  // control pixels: 6 of the enlarged picture
  const int run = DarkRunAt(Enlarged(s), 100);
  EXPECT_GE(run, 5);
  EXPECT_LE(run, 7);
}

TEST(SpectrumOnPaper, ThePeakLabelIsInkOnALightPlotAndWhiteOnADarkOne) {
  TMMSpectrum s;
  s.SetKind(skLines);
  s.SetBevel(bvNone);
  s.resize(300, 200);
  TMMSpectrumCalc& c = s.Calc();
  c.SetFFTLength(128);
  c.SetSampleRate(44100);
  c.SetNumPeaks(0);
  c.SetDisplayPeak(true);
  c.BinLevels()[20] = 16 * 16000;  // half the linear plot height
  const auto labelInk = [&s](QRgb ink) {
    QImage image(s.size(), QImage::Format_RGB32);
    QPainter p(&image);
    s.paint(p, QRectF(image.rect()));
    p.end();
    // The label stands above the peak, in the upper half of the plot.
    int n = 0;
    for (int y = 0; y < 95; ++y) {
      for (int x = 0; x < image.width(); ++x) n += (image.pixel(x, y) & 0xffffff) == (ink & 0xffffff);
    }
    return n;
  };
  s.ComposeFrame();
  ASSERT_FALSE(c.PeakLabel().empty());
  s.SetColor(Qt::white);
  EXPECT_GT(labelInk(qRgb(0, 0, 0)), 20);
  s.SetColor(Qt::black);
  EXPECT_GT(labelInk(qRgb(255, 255, 255)), 20);
}

}  // namespace
}  // namespace tv
