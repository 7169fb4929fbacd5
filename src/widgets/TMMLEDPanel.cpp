#include "TMMLEDPanel.h"

#include <QPainter>
#include <algorithm>

#include "LedPaint.h"

namespace tv {


TMMLEDPanel::TMMLEDPanel(QWidget* parent) : QWidget(parent), lit_(led::kAqua) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TMMLEDPanel::SetValue(int value) {
  if (!blank_ && value == value_) return;
  value_ = value;
  blank_ = false;
  update();
}

void TMMLEDPanel::SetDigits(int digits) {
  digits_ = std::clamp(digits, 1, 10);
  updateGeometry();
  update();
}

void TMMLEDPanel::SetUnit(const QString& unit) {
  unit_ = unit;
  updateGeometry();
  update();
}

void TMMLEDPanel::Blank() {
  blank_ = true;
  update();
}

QString TMMLEDPanel::DisplayText() const {
  if (blank_) return {};
  const QString t = QString::number(value_);
  return t.size() > digits_ ? t.right(digits_) : t;
}

void TMMLEDPanel::paint(QPainter& painter, const QRectF& rect) const {
  led::PaintBezel(painter, rect);
  const QRectF inner = rect.adjusted(3, 3, -3, -3);
  qreal unitW = 0;
  if (!unit_.isEmpty()) {
    QFont f = font();
    f.setPointSizeF(std::max(6.0, f.pointSizeF() * 0.85));
    f.setBold(true);
    unitW = QFontMetricsF(f).horizontalAdvance(unit_) + 5;
    painter.save();
    painter.setFont(f);
    painter.setPen(lit_.darker(125));
    painter.drawText(QRectF(inner.right() - unitW, inner.top(), unitW, inner.height()),
                     Qt::AlignRight | Qt::AlignBottom, unit_);
    painter.restore();
  }
  led::PaintSevenSegment(painter,
                         QRectF(inner.left(), inner.top(), inner.width() - unitW, inner.height()),
                         DisplayText(), digits_, lit_, led::kPanelBlack);
}

QSize TMMLEDPanel::sizeHint() const {
  const int h = 28;
  const int unitW = unit_.isEmpty() ? 0 : fontMetrics().horizontalAdvance(unit_) + 6;
  return {static_cast<int>(digits_ * (h - 6) * 0.62) + unitW + 8, h};
}

void TMMLEDPanel::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  paint(painter, QRectF(rect()));
}

}  // namespace tv
