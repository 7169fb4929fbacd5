#include "TLevelStrip.h"

#include <QGridLayout>
#include <QLabel>

#include "PanelStyle.h"
#include "TMMLevel.h"
#include "TMMLevelScale.h"

namespace tv {

TLevelStrip::TLevelStrip(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("PanLevel"));
  setFixedWidth(kWidth);
  SetBackground(this, Qt::black);
  auto* meters = new QGridLayout(this);
  meters->setContentsMargins(8, 10, 8, 8);
  meters->setHorizontalSpacing(2);
  meters->setVerticalSpacing(4);
  left_ = new TMMLevel(TMMLevel::Design::MMLevel1, this);
  right_ = new TMMLevel(TMMLevel::Design::MMLevel2, this);
  scale_ = new TMMLevelScale(this);
  // The scale's ticks line up with the meters' spots inside their bevels.
  scale_->ApplyDecoderDesign(left_->Bevel());
  meters->addWidget(left_, 0, 0, Qt::AlignHCenter);
  meters->addWidget(scale_, 0, 1, Qt::AlignHCenter);
  meters->addWidget(right_, 0, 2, Qt::AlignHCenter);
  for (int c = 0; c < 2; ++c) {
    QLabel* channel = MakeLabel(c == 0 ? QStringLiteral("L") : QStringLiteral("R"), this);
    channel->setAlignment(Qt::AlignCenter);
    channel->setFont(Bold(font()));
    SetTextColor(channel, QColor(0, 200, 210));
    meters->addWidget(channel, 1, c * 2);
  }
  meters->setRowStretch(0, 1);
}

}  // namespace tv
