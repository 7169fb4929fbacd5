// Stored spectra made by a real analysis, and the poppler tools that read
// the printed PDF back.
#pragma once

#include <unistd.h>

#include <QFile>
#include <QImage>
#include <QString>
#include <cmath>
#include <cstring>
#include <random>

#include "../frozen/FrozenTestEnv.h"
#include "RunProcess.h"
#include "TMMSpectrum.h"

namespace tv::test {

inline bool HavePoppler() {
  return access("/usr/bin/pdftotext", X_OK) == 0 && access("/usr/bin/pdftoppm", X_OK) == 0 &&
         access("/usr/bin/pdfinfo", X_OK) == 0;
}

// The main display's spectrum of the key "5" (770 + 1336 Hz) over light
// noise, stored as the main window stores it.
inline void StoreKeyFive(const QString& path) {
  TMMSpectrum spectrum(nullptr, TMMSpectrumDesign::Main);
  TMMSpectrumCalc& calc = spectrum.Calc();
  calc.SetVisible(true);
  const int n = calc.FFTLength();
  std::mt19937 gen(5);
  std::normal_distribution<double> noise(0.0, 400.0);
  std::vector<uint8_t> frame(static_cast<size_t>(n) * 4);
  for (int f = 0; f < 8; ++f) {
    for (int i = 0; i < n; ++i) {
      const double t = static_cast<double>(f * n + i) / 44100;
      const double v = 6000 * std::sin(2 * M_PI * 770 * t) + 5000 * std::sin(2 * M_PI * 1336 * t);
      for (int c = 0; c < 2; ++c) {
        const auto s = static_cast<int16_t>(std::lround(v + noise(gen)));
        std::memcpy(&frame[static_cast<size_t>(4 * i + 2 * c)], &s, 2);
      }
    }
    calc.FeedPCM(frame.data());
  }
  calc.SaveLevels(path.toStdString());
}

inline std::string PdfText(const QString& pdf) {
  return RunProcess("/usr/bin/pdftotext", {"-layout", pdf.toStdString(), "-"}).out;
}

inline int PdfPages(const QString& pdf) {
  const std::string info = RunProcess("/usr/bin/pdfinfo", {pdf.toStdString()}).out;
  const size_t at = info.find("Pages:");
  return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

// The page as a picture, `dpi` dots per inch.
inline QImage PdfPicture(const QString& pdf, const QString& png, int dpi) {
  QString prefix = png;
  prefix.chop(4);
  RunProcess("/usr/bin/pdftoppm", {"-png", "-r", std::to_string(dpi), "-singlefile",
                                   pdf.toStdString(), prefix.toStdString()});
  return QImage(png);
}

}  // namespace tv::test
