#include "TMMLed.h"

#include <QMouseEvent>
#include <QPainter>
#include <QRadialGradient>
#include <algorithm>

namespace tv {

TMMLed::TMMLed(QWidget* parent) : QWidget(parent), color_(255, 32, 24) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setCursor(Qt::PointingHandCursor);
}

void TMMLed::SetLit(bool lit) {
  if (lit == lit_) return;
  lit_ = lit;
  update();
}

void TMMLed::SetColor(const QColor& color) {
  color_ = color;
  update();
}

void TMMLed::paint(QPainter& painter, const QRectF& rect) const {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, true);
  const qreal d = std::min(rect.width(), rect.height()) - 1;
  const QRectF body(rect.center().x() - d / 2, rect.center().y() - d / 2, d, d);
  // Bezel.
  QLinearGradient bezel(body.topLeft(), body.bottomRight());
  bezel.setColorAt(0, QColor(90, 90, 90));
  bezel.setColorAt(1, QColor(250, 250, 250));
  painter.setPen(Qt::NoPen);
  painter.setBrush(bezel);
  painter.drawEllipse(body);
  const QRectF lens = body.adjusted(d * 0.12, d * 0.12, -d * 0.12, -d * 0.12);
  const QColor base = lit_ ? color_ : color_.darker(420);
  QRadialGradient glow(lens.center() - QPointF(lens.width() * 0.18, lens.height() * 0.18),
                       lens.width() * 0.7);
  glow.setColorAt(0, lit_ ? QColor(255, 230, 220) : base.lighter(170));
  glow.setColorAt(0.35, base);
  glow.setColorAt(1, base.darker(lit_ ? 130 : 160));
  painter.setBrush(glow);
  painter.drawEllipse(lens);
  painter.restore();
}

void TMMLed::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  paint(painter, QRectF(rect()));
}

void TMMLed::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit clicked();
  }
  QWidget::mouseReleaseEvent(event);
}

}  // namespace tv
