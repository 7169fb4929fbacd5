#include "TLevelStrip.h"

#include <QGridLayout>
#include <QLabel>

#include "DisplayPlaceholders.h"
#include "PanelStyle.h"

namespace tv {

TLevelStrip::TLevelStrip(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("PanLevel"));
  setFixedWidth(kWidth);
  SetBackground(this, Qt::black);
  auto* meters = new QGridLayout(this);
  meters->setContentsMargins(18, 10, 18, 8);
  meters->setHorizontalSpacing(4);
  meters->setVerticalSpacing(4);
  left_ = new TLevelPlaceholder(Qt::Vertical, this);
  left_->setObjectName(QStringLiteral("MMLevel1"));
  right_ = new TLevelPlaceholder(Qt::Vertical, this);
  right_->setObjectName(QStringLiteral("MMLevel2"));
  scale_ = new QWidget(this);
  scale_->setFixedWidth(8);
  meters->addWidget(left_, 0, 0);
  meters->addWidget(scale_, 0, 1);
  meters->addWidget(right_, 0, 2);
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
