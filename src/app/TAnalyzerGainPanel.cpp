#include "TAnalyzerGainPanel.h"

#include <QGridLayout>
#include <QLabel>

#include "PanelStyle.h"
#include "TMMRadioGroup.h"

namespace tv {

TAnalyzerGainPanel::TAnalyzerGainPanel(QWidget* parent) : QFrame(parent) {
  StylePanel(this, "PAnAna2");
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(10, 8, 10, 8);
  grid->addWidget(MakeLabel(QStringLiteral(" Spectrum Gain "), this), 0, 0);
  gainGroup_ = new TMMRadioGroup(QStringLiteral("  Gain  "), this);
  gainGroup_->setObjectName(QStringLiteral("rgGain"));
  gainGroup_->SetItems({QStringLiteral("none"), QStringLiteral("+ 3db"), QStringLiteral("+ 6 db"),
                        QStringLiteral("+ 9 db"), QStringLiteral("+ 12 db")});
  gainGroup_->SetItemIndex(0);
  grid->addWidget(gainGroup_, 1, 0);
  grid->addWidget(MakeLabel(QStringLiteral("Analyzer Bandwidths"), this), 0, 1);
  bandwidthGroup_ = new TMMRadioGroup(QStringLiteral(" Bandwidth  "), this);
  bandwidthGroup_->setObjectName(QStringLiteral("rgSample"));
  bandwidthGroup_->SetItems({QStringLiteral("22050 Hz"), QStringLiteral("11025 Hz"),
                             QStringLiteral("8000 Hz"), QStringLiteral("4000 Hz"),
                             QStringLiteral("2000 Hz"), QStringLiteral("1000 Hz")});
  bandwidthGroup_->SetColumns(2);
  bandwidthGroup_->SetItemIndex(0);
  grid->addWidget(bandwidthGroup_, 1, 1);
  grid->setRowStretch(2, 1);
}

}  // namespace tv
