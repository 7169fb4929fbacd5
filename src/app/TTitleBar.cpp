#include "TTitleBar.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "PanelStyle.h"
#include "TMMLed.h"

namespace tv {

QString LevelToDbText(int64_t value, int64_t reference, int offset) {
  if (value == 0) return QStringLiteral("-Inf");
  const double db = 20.0 * std::log10(static_cast<double>(std::llabs(value)) /
                                      static_cast<double>(std::max<int64_t>(reference, 1))) +
                    offset;
  return QLocale().toString(db, 'f', 2);
}

TTitleBar::TTitleBar(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("PanTitle"));
  setFixedHeight(kHeight);
  setFrameShape(QFrame::Panel);
  setFrameShadow(QFrame::Raised);
  SetBackground(this, QColor(200, 200, 198));
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(14, 0, 14, 0);
  row->setSpacing(6);

  QLabel* title = MakeLabel(QStringLiteral("Tonvista"), this, "LabTitle");
  QFont titleFont(QStringLiteral("DejaVu Sans"));
  titleFont.setPixelSize(27);
  titleFont.setWeight(QFont::Black);
  title->setFont(titleFont);
  SetTextColor(title, QColor(38, 44, 50));
  row->addWidget(title);
  QLabel* subtitle = MakeLabel(QStringLiteral("DTMF Tone Detector  \u00b7  Audio Analyzer"),
                               this, "LabSubtitle");
  subtitle->setFont(Bold(font(), 0.95));
  SetTextColor(subtitle, QColor(0, 110, 125));
  // The first thing to give way when the window gets narrow.
  subtitle->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  subtitle->setMinimumWidth(0);
  row->addSpacing(10);
  subtitle->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
  subtitle->setContentsMargins(0, 0, 0, 7);
  row->addWidget(subtitle, 1);

  AddChannel(QStringLiteral("L"), left_, "LEDLeft", "overl", "Label17");
  AddChannel(QStringLiteral("R"), right_, "LEDRight", "overr", "Label18");
}

void TTitleBar::AddChannel(const QString& caption, Channel& channel, const char* ledName,
                           const char* overName, const char* peakName) {
  auto* row = static_cast<QHBoxLayout*>(layout());
  QLabel* name = MakeLabel(caption, this);
  name->setFont(Bold(font()));
  row->addWidget(name);
  channel.led = new TMMLed(this);
  channel.led->setObjectName(QString::fromLatin1(ledName));
  channel.led->setFixedSize(18, 18);
  channel.led->setToolTip(QStringLiteral("Overload"));
  connect(channel.led, &TMMLed::clicked, this, &TTitleBar::LEDLeftClick);
  row->addWidget(channel.led);
  channel.over = MakeLabel(QStringLiteral("over"), this, overName);
  channel.over->setFont(Bold(font()));
  SetTextColor(channel.over, QColor(210, 0, 0));
  channel.over->setFixedWidth(
      channel.over->fontMetrics().horizontalAdvance(QStringLiteral("over")) + 4);
  QSizePolicy keep = channel.over->sizePolicy();
  keep.setRetainSizeWhenHidden(true);  // the row must not jump when it shows
  channel.over->setSizePolicy(keep);
  channel.over->hide();
  channel.over->setCursor(Qt::PointingHandCursor);
  channel.over->installEventFilter(this);
  row->addWidget(channel.over);
  channel.peak = LedReadout(QStringLiteral("-inf"), this, peakName);
  channel.peak->setToolTip(QStringLiteral("Click to reset"));
  channel.peak->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  channel.peak->setFixedSize(64, 22);
  channel.peak->setCursor(Qt::PointingHandCursor);
  channel.peak->installEventFilter(this);
  row->addWidget(channel.peak);
  row->addSpacing(12);
}

bool TTitleBar::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease) {
    if (watched == left_.peak || watched == right_.peak) {
      Label17Click();
      return true;
    }
    if (watched == left_.over || watched == right_.over) {
      LEDLeftClick();
      return true;
    }
  }
  return QFrame::eventFilter(watched, event);
}

void TTitleBar::LEDLeftClick() {
  for (Channel* c : {&left_, &right_}) {
    c->led->SetLit(false);
    c->over->hide();
  }
}

void TTitleBar::Label17Click() {
  left_.peak->setText(QStringLiteral("-inf"));
  right_.peak->setText(QStringLiteral("-inf"));
  peakLeft_ = kPeakReset;
  peakRight_ = kPeakReset;
}

void TTitleBar::ShowOverload(int channel) {
  Channel& c = channel == 0 ? left_ : right_;
  c.led->SetLit(true);
  c.over->show();
}

void TTitleBar::HoldPeak(int channel, int32_t peak) {
  int32_t& held = channel == 0 ? peakLeft_ : peakRight_;
  if (peak < held) return;
  held = peak;
  (channel == 0 ? left_ : right_).peak->setText(LevelToDbText(peak, 32768, 2));
}

void TTitleBar::TimerOverTimer() {
  LEDLeftClick();
  peakLeft_ = kPeakReset;
  peakRight_ = kPeakReset;
}

bool TTitleBar::OverloadShown() const { return left_.led->Lit() || right_.led->Lit(); }

QString TTitleBar::PeakText(int channel) const {
  return (channel == 0 ? left_ : right_).peak->text();
}

}  // namespace tv
