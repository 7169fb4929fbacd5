// The spectrum area of the main window: the spectrum display MMSpectrum1,
// which fills what the other bands leave, with the background spectrum
// laid behind it.
#pragma once

#include <QWidget>

namespace tv {

class TMMSpectrum;

class TSpectrumArea : public QWidget {
  Q_OBJECT

 public:
  explicit TSpectrumArea(QWidget* parent = nullptr);

  TMMSpectrum* Spectrum() const { return spectrum_; }

 private:
  TMMSpectrum* spectrum_;
};

}  // namespace tv
