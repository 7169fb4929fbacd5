#include "TAnalyzerScalePanel.h"

#include <QLabel>
#include <QVBoxLayout>

#include "PanelStyle.h"
#include "TMMLEDSpin.h"

namespace tv {

TAnalyzerScalePanel::TAnalyzerScalePanel(QWidget* parent) : QFrame(parent) {
  StylePanel(this, "PanAna1");
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(10, 8, 10, 8);
  column->addWidget(MakeLabel(QStringLiteral("Frequency Scale Factor"), this));
  scaleSpin_ = new TMMLEDSpin(this);
  scaleSpin_->setObjectName(QStringLiteral("LEDSpinYScale"));
  scaleSpin_->SetRange(1, 16);
  scaleSpin_->SetDigits(2);
  scaleSpin_->SetValue(1);
  // The spectrum decides the scale; the spin only shows it.
  scaleSpin_->SetStepOnClick(false);
  column->addWidget(scaleSpin_);
  QLabel* decay = MakeLabel(QStringLiteral("Decay"), this);
  decay->setToolTip(QStringLiteral("Adjust the Analyzer"));
  column->addWidget(decay);
  decaySpin_ = new TMMLEDSpin(this);
  decaySpin_->setObjectName(QStringLiteral("MMLEDSpin55"));
  decaySpin_->SetRange(5, 10);
  decaySpin_->SetDigits(2);
  decaySpin_->SetValue(8);
  decaySpin_->setToolTip(QStringLiteral("Adjust the Analyzer"));
  column->addWidget(decaySpin_);
  column->addStretch(1);
}

}  // namespace tv
