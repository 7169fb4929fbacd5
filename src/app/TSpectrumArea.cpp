#include "TSpectrumArea.h"

#include <QVBoxLayout>

#include "DisplayPlaceholders.h"

namespace tv {

TSpectrumArea::TSpectrumArea(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("SpectrumArea"));
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  auto* box = new QVBoxLayout(this);
  box->setContentsMargins(0, 0, 0, 0);
  spectrum_ = new TSpectrumPlaceholder(this);
  spectrum_->setObjectName(QStringLiteral("MMSpectrum1"));
  box->addWidget(spectrum_);
}

}  // namespace tv
