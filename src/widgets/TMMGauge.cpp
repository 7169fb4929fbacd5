#include "TMMGauge.h"

#include <QLinearGradient>
#include <QPainter>
#include <algorithm>

namespace tv {

TMMGauge::TMMGauge(QWidget* parent) : QWidget(parent), fore_(0, 168, 190) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TMMGauge::SetProgress(int percent) {
  percent = std::clamp(percent, 0, 100);
  if (percent == progress_) return;
  progress_ = percent;
  update();
  emit progressChanged(progress_);
}

void TMMGauge::SetForeColor(const QColor& color) {
  fore_ = color;
  update();
}

void TMMGauge::paint(QPainter& painter, const QRectF& rect) const {
  painter.save();
  // Sunken well.
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(128, 128, 128));
  painter.drawRect(rect);
  painter.setBrush(QColor(255, 255, 255));
  painter.drawRect(rect.adjusted(1, 1, 0, 0));
  const QRectF well = rect.adjusted(1, 1, -1, -1);
  painter.setBrush(QColor(18, 22, 24));
  painter.drawRect(well);

  const QRectF bar(well.left(), well.top(), well.width() * progress_ / 100.0, well.height());
  if (bar.width() > 0) {
    QLinearGradient g(bar.topLeft(), bar.bottomLeft());
    const QColor c = isEnabled() ? fore_ : QColor(110, 110, 110);
    g.setColorAt(0, c.lighter(150));
    g.setColorAt(0.45, c);
    g.setColorAt(1, c.darker(140));
    painter.setBrush(g);
    painter.drawRect(bar);
  }
  // The percentage, readable over both the bar and the empty well.
  QFont f = font();
  f.setBold(true);
  painter.setFont(f);
  const QString text = QStringLiteral("%1 %").arg(progress_);
  painter.setPen(QColor(0, 0, 0, 140));
  painter.drawText(well.translated(1, 1), Qt::AlignCenter, text);
  painter.setPen(QColor(235, 250, 250));
  painter.drawText(well, Qt::AlignCenter, text);
  painter.restore();
}

void TMMGauge::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  paint(painter, QRectF(rect()));
}

}  // namespace tv
