#include "TMMScale.h"

#include <QPainter>
#include <algorithm>

namespace tv {

namespace {

const QColor kShadow(128, 128, 128);
const QColor kLight(255, 255, 255);

}  // namespace

void TMMScale::SetTickCount(int value) { Set(tickCount_, std::clamp(value, 2, 1000)); }

void TMMScale::SetEnlargeEvery(int value) { Set(enlargeEvery_, std::clamp(value, 0, 1000)); }

void TMMScale::SetSize(int value) { Set(size_, std::clamp(value, 1, 50)); }

int TMMScale::RoomNeeded() const {
  if (!visible_) return 0;
  return (enlargeEvery_ > 0 ? 2 * size_ : size_) + (style_ == stColor ? 0 : 1);
}

bool TMMScale::IsLong(int tick) const { return enlargeEvery_ > 0 && tick % enlargeEvery_ == 0; }

int TMMScale::TickPosition(int i, int count, int start, int length) {
  if (count < 2 || length < 2) return start;
  // Rounded to the nearest pixel, so the spacing stays even.
  const long long span = 2LL * i * (length - 1) + (count - 1);
  return start + static_cast<int>(span / (2LL * (count - 1)));
}

void TMMScale::Draw(QPainter& canvas, const QRect& rect, TMMScaleEdge edge) const {
  if (!canvas.isActive() || canvas.device() == nullptr)
    throw EMMScaleError("Canvas needed for this operation");
  if (!visible_ || rect.isEmpty()) return;

  const bool across = edge == TMMScaleEdge::Top || edge == TMMScaleEdge::Bottom;
  const int depth = across ? rect.height() : rect.width();
  const int along = across ? rect.width() : rect.height();
  const int start = across ? rect.left() : rect.top();
  // Which side the ticks stand on, and the way they point.
  bool fromLowSide = edge == TMMScaleEdge::Top || edge == TMMScaleEdge::Left;
  if (origin_ == soOuter) fromLowSide = !fromLowSide;
  const int base = across ? (fromLowSide ? rect.top() : rect.bottom())
                          : (fromLowSide ? rect.left() : rect.right());
  const int step = fromLowSide ? 1 : -1;

  // One line across the edge at position `at`, `length` pixels from the base,
  // shifted by `offset` along the edge (the 3-D styles draw two).
  auto tick = [&](int at, int length, int offset, const QColor& c) {
    canvas.setPen(c);
    const int tip = base + step * (length - 1);
    if (across)
      canvas.drawLine(at + offset, base, at + offset, tip);
    else
      canvas.drawLine(base, at + offset, tip, at + offset);
  };
  auto styled = [&](int at, int length) {
    switch (style_) {
      case stColor:
        tick(at, length, 0, color_);
        break;
      case stLowered:
        tick(at, length, 0, kShadow);
        tick(at, length, 1, kLight);
        break;
      case stRaised:
        tick(at, length, 0, kLight);
        tick(at, length, 1, kShadow);
        break;
    }
  };

  canvas.save();
  for (int i = 0; i < tickCount_; ++i) {
    const int length = std::min(IsLong(i) ? 2 * size_ : size_, depth);
    styled(TickPosition(i, tickCount_, start, along), length);
  }
  if (connect_) {
    canvas.setPen(style_ == stColor ? color_ : kShadow);
    if (across)
      canvas.drawLine(start, base, start + along - 1, base);
    else
      canvas.drawLine(base, start, base, start + along - 1);
  }
  canvas.restore();
}

}  // namespace tv
