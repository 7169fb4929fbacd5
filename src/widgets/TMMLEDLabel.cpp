#include "TMMLEDLabel.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "LedPaint.h"

namespace tv {

TMMLEDLabel::TMMLEDLabel(QWidget* parent)
    : QWidget(parent), lit_(led::kAqua), back_(led::kPanelBlack) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TMMLEDLabel::SetCaption(const QString& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  Invalidate();
  emit captionChanged(caption_);
}

void TMMLEDLabel::Append(const QString& text) {
  if (text.isEmpty()) return;
  SetCaption(caption_ + text);
}

void TMMLEDLabel::SetCells(int cells) {
  cells = std::max(1, cells);
  if (cells == cells_) return;
  cells_ = cells;
  updateGeometry();
  Invalidate();
}

void TMMLEDLabel::SetAlignment(Qt::Alignment alignment) {
  if (alignment == alignment_) return;
  alignment_ = alignment;
  Invalidate();
}

void TMMLEDLabel::SetLitColor(const QColor& color) {
  if (color == lit_) return;
  lit_ = color;
  Invalidate();
}

void TMMLEDLabel::SetBackColor(const QColor& color) {
  if (color == back_) return;
  back_ = color;
  Invalidate();
}

QString TMMLEDLabel::VisibleText() const {
  if (caption_.size() <= cells_) return caption_;
  return caption_.right(cells_);
}

int TMMLEDLabel::FirstCell() const {
  const int free = cells_ - static_cast<int>(VisibleText().size());
  if (alignment_.testFlag(Qt::AlignRight)) return free;
  if (alignment_.testFlag(Qt::AlignHCenter)) return free / 2;
  return 0;
}

void TMMLEDLabel::paint(QPainter& painter, const QRectF& rect) const {
  led::PaintDotMatrix(painter, rect, VisibleText(), cells_, FirstCell(), lit_, back_);
}

QSize TMMLEDLabel::sizeHint() const {
  // Three pixels per dot: legible and close to the classic panel size.
  return {3 * (cells_ * led::kCellDotsWide + 1), 3 * led::kCellDotsHigh};
}

QSize TMMLEDLabel::minimumSizeHint() const {
  return {cells_ * led::kCellDotsWide + 1, led::kCellDotsHigh};
}

void TMMLEDLabel::Invalidate() {
  dirty_ = true;
  update();
}

void TMMLEDLabel::resizeEvent(QResizeEvent* event) {
  dirty_ = true;
  QWidget::resizeEvent(event);
}

void TMMLEDLabel::paintEvent(QPaintEvent* /*event*/) {
  const qreal dpr = devicePixelRatioF();
  const QSize pixels = (QSizeF(size()) * dpr).toSize();
  if (dirty_ || picture_.size() != pixels) {
    picture_ = QImage(pixels, QImage::Format_RGB32);
    picture_.setDevicePixelRatio(dpr);
    QPainter off(&picture_);
    paint(off, QRectF(QPointF(0, 0), QSizeF(size())));
    dirty_ = false;
  }
  QPainter painter(this);
  painter.drawImage(QPointF(0, 0), picture_);
}

void TMMLEDLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit clicked();
  }
  QWidget::mouseReleaseEvent(event);
}

}  // namespace tv
