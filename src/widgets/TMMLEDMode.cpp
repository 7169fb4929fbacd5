#include "TMMLEDMode.h"

#include <QPainter>

#include "LedPaint.h"

namespace tv {

TMMLEDMode::TMMLEDMode(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TMMLEDMode::SetMode(Mode mode) {
  if (mode == mode_) return;
  mode_ = mode;
  update();
}

void TMMLEDMode::SetChannels(int channels) {
  SetMode(channels <= 0 ? Mode::None : channels == 1 ? Mode::Mono : Mode::Stereo);
}

void TMMLEDMode::paint(QPainter& painter, const QRectF& rect) const {
  led::PaintBezel(painter, rect);
  const QRectF inner = rect.adjusted(3, 2, -3, -2);
  const qreal half = inner.height() / 2;
  const QRectF top(inner.left(), inner.top(), inner.width(), half);
  const QRectF bottom(inner.left(), inner.top() + half, inner.width(), half);
  led::PaintDotMatrix(painter, top, QStringLiteral("STEREO"), 6, 0,
                      mode_ == Mode::Stereo ? led::kAqua : led::Unlit(led::kAqua, led::kPanelBlack),
                      led::kPanelBlack);
  led::PaintDotMatrix(painter, bottom, QStringLiteral("MONO"), 6, 1,
                      mode_ == Mode::Mono ? led::kAqua : led::Unlit(led::kAqua, led::kPanelBlack),
                      led::kPanelBlack);
}

void TMMLEDMode::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  paint(painter, QRectF(rect()));
}

}  // namespace tv
