#include "TSpectrumArea.h"

#include <QVBoxLayout>

#include "TMMSpectrum.h"

namespace tv {

TSpectrumArea::TSpectrumArea(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("SpectrumArea"));
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  auto* box = new QVBoxLayout(this);
  box->setContentsMargins(0, 0, 0, 0);
  spectrum_ = new TMMSpectrum(this, TMMSpectrumDesign::Main);
  spectrum_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  box->addWidget(spectrum_);
}

}  // namespace tv
