// Drawing of the oscilloscope, in the order the picture is built: background,
// selection area, mid line, grid, trace, selection edges, locator, scales.
#include <QPainter>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "TMMOscope.h"

namespace tv {

namespace {

QFont FontOf(const QString& family, int points) {
  QFont f;
  f.setFamilies({family, QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
  f.setPointSize(points);
  return f;
}

}  // namespace

QColor TMMOscope::SegmentColor(int row, const QColor& base) const {
  const int h = calc_.PlotHeight() - row - 1;
  return calc_.InEffectBand(h) ? effect_ : base;
}

void TMMOscope::DrawFrame(QPainter& p, const QRect& plot) const {
  // The scales stand on the panel's colour, around the plot.
  const QBrush panel = palette().window();
  p.fillRect(QRect(0, 0, width(), plot.top()), panel);
  p.fillRect(QRect(0, plot.bottom() + 1, width(), height() - plot.bottom() - 1), panel);
  p.fillRect(QRect(0, plot.top(), plot.left(), plot.height()), panel);
  p.fillRect(QRect(plot.right() + 1, plot.top(), width() - plot.right() - 1, plot.height()), panel);
}

TMMOscope::BackgroundKey TMMOscope::KeyOfBackground(const QRect& plot) const {
  BackgroundKey k;
  k.size = plot.size();
  k.color = color_.rgba();
  k.grid = grid_.rgba();
  k.mid = disabled_.rgba();
  k.selection = selection_.rgba();
  k.bitmap = backgroundBitmap_.cacheKey();
  k.drawMid = calc_.DrawMidLine();
  k.drawGrid = calc_.DrawGrid();
  k.zeroRow = calc_.RowOf(0);
  k.msPerColumn = calc_.ColumnMilliseconds(1.0);
  k.voltsPerRow = calc_.RowVolts(0.0) - calc_.RowVolts(1.0);
  k.selLo = calc_.SelectionStart();
  k.selHi = calc_.SelectionEnd();
  return k;
}

void TMMOscope::PreparePlotBackground(const QRect& plot) {
  const BackgroundKey key = KeyOfBackground(plot);
  if (key == backgroundKey_ && plotBackground_.size() == plot.size()) return;
  backgroundKey_ = key;
  plotBackground_ = QImage(plot.size(), QImage::Format_RGB32);
  const QRect area(QPoint(0, 0), plot.size());
  QPainter p(&plotBackground_);
  p.fillRect(area, color_);
  if (!backgroundBitmap_.isNull()) p.drawImage(area, backgroundBitmap_);
  if (key.selLo >= 0 && key.selHi >= 0) {
    QColor shade = selection_;
    shade.setAlpha(90);
    p.fillRect(QRect(key.selLo, 0, key.selHi - key.selLo + 1, plot.height()), shade);
  }
  if (key.drawMid) {
    p.setPen(disabled_);
    p.drawLine(0, key.zeroRow, area.right(), key.zeroRow);
  }
  if (key.drawGrid) DrawGridLines(p, area);
}

void TMMOscope::DrawGridLines(QPainter& p, const QRect& plot) const {
  QPen pen(grid_);
  pen.setStyle(Qt::DotLine);
  p.setPen(pen);
  const double ms = TimeDivision();
  if (ms > 0) {
    const double pixels = ms / calc_.ColumnMilliseconds(1.0);
    for (int k = 1;; ++k) {
      const int x = static_cast<int>(std::lround(k * pixels));
      if (x >= plot.width()) break;
      p.drawLine(plot.left() + x, plot.top(), plot.left() + x, plot.bottom());
    }
  }
  const double volts = VoltDivision();
  if (volts > 0) {
    const double pixels = volts / std::abs(calc_.RowVolts(0.0) - calc_.RowVolts(1.0));
    const int zero = calc_.RowOf(0);
    for (int k = 1;; ++k) {
      const int d = static_cast<int>(std::lround(k * pixels));
      if (zero - d < 0 && zero + d >= plot.height()) break;
      for (int row : {zero - d, zero + d})
        if (row >= 0 && row < plot.height())
          p.drawLine(plot.left(), plot.top() + row, plot.right(), plot.top() + row);
    }
  }
}

namespace {

// Pixels of one trace, written straight into the off-screen picture: lines
// include both end points, so every point of the trace is on its pixel.
class TracePixels {
 public:
  TracePixels(QImage& image, int selLo, int selHi, QRgb inactive)
      : bits_(image.bits()),
        stride_(image.bytesPerLine()),
        w_(image.width()),
        h_(image.height()),
        lo_(selLo),
        hi_(selHi),
        inactive_(inactive) {}

  void Put(int x, int y, QRgb c) {
    if (static_cast<unsigned>(x) >= static_cast<unsigned>(w_) ||
        static_cast<unsigned>(y) >= static_cast<unsigned>(h_))
      return;
    // Outside a selection in use the trace takes the inactive colour.
    if (lo_ >= 0 && (x < lo_ || x > hi_)) c = inactive_;
    reinterpret_cast<QRgb*>(bits_ + static_cast<qsizetype>(y) * stride_)[x] = c;
  }
  // Bresenham from (x0, y0) to (x1, y1), both included.
  void Line(int x0, int y0, int x1, int y1, QRgb c) {
    const int dx = std::abs(x1 - x0);
    const int dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1;
    const int sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
      Put(x0, y0, c);
      if (x0 == x1 && y0 == y1) break;
      const int e2 = 2 * err;
      if (e2 >= dy) {
        err += dy;
        x0 += sx;
      }
      if (e2 <= dx) {
        err += dx;
        y0 += sy;
      }
    }
  }

 private:
  uchar* const bits_;  // taken once: scanLine() would detach on every pixel
  const qsizetype stride_;
  const int w_;
  const int h_;
  const int lo_;
  const int hi_;
  const QRgb inactive_;
};

}  // namespace

void TMMOscope::RasterTrace(QImage& target) {
  const int lo = calc_.SelectionStart();
  const int hi = calc_.SelectionEnd();
  const bool partial = useSelection_ && lo >= 0 && hi >= 0;
  TracePixels pixels(target, partial ? lo : -1, hi, inactive_.rgba());
  const std::span<const int32_t> rows = calc_.Rows();
  const int n = static_cast<int>(rows.size());
  const int steps = calc_.Steps();
  const QRgb normal = foreground_.rgba();
  const QRgb effect = effect_.rgba();
  const int height = calc_.PlotHeight();
  // The effect colour goes by the height the segment leads to.
  auto colour = [&](int row) { return calc_.InEffectBand(height - row - 1) ? effect : normal; };
  switch (calc_.Kind()) {
    case okConLines:
      if (n > 0) pixels.Put(0, rows[0], colour(rows[0]));
      for (int x0 = 0, x1 = steps; x1 < n; x0 = x1, x1 += steps)
        pixels.Line(x0, rows[x0], x1, rows[x1], colour(rows[x1]));
      break;
    case okDots:
      for (int x = 0; x < n; x += steps) pixels.Put(x, rows[x], colour(rows[x]));
      break;
    case okVertLines:
    case okMirLines: {
      const int zero = calc_.RowOf(0);
      const bool mirror = calc_.Kind() == okMirLines;
      for (int x = 0; x < n; x += steps) {
        const int d = rows[x] - zero;
        pixels.Line(x, mirror ? zero - d : zero, x, zero + d, colour(rows[x]));
      }
      break;
    }
    case okSpikes:
      for (int x = 0; x < n; x += steps) pixels.Line(x, height - 1, x, rows[x], colour(rows[x]));
      break;
  }
}

void TMMOscope::DrawScrollColumns(QPainter& p, int first, int last, const QPoint& origin) const {
  for (int c = first; c <= last; ++c) {
    const TMMOscopeCalc::ScrollColumn col = calc_.ScrollColumnAt(c);
    const int x = origin.x() + c;
    p.setPen(SegmentColor(col.first, foreground_));
    if (c > 0)
      p.drawLine(x - 1, origin.y() + col.from, x, origin.y() + col.first);
    else
      p.drawPoint(x, origin.y() + col.first);
    p.setPen(SegmentColor(col.second, foreground_));
    p.drawLine(x, origin.y() + col.first, x, origin.y() + col.second);
  }
}

void TMMOscope::DrawScroll(QPainter& p, const QRect& plot) {
  const int count = calc_.ScrollCount();
  const int width = plot.width();
  const bool full = calc_.TakeFullRedraw();
  if (!calc_.Accelerate()) {
    DrawScrollColumns(p, 0, count - 1, plot.topLeft());
  } else {
    // Move the kept picture by the columns that left it and draw only the
    // new ones, instead of drawing every column again.
    const int64_t added = calc_.ScrollAdded();
    const bool redraw = full || scrollImage_.size() != plot.size() || scrollDrawn_ < 0 ||
                        added < scrollDrawn_ || added - scrollDrawn_ >= width;
    if (redraw) {
      if (scrollImage_.size() != plot.size())
        scrollImage_ = QImage(plot.size(), QImage::Format_ARGB32_Premultiplied);
      scrollImage_.fill(Qt::transparent);
      QPainter ip(&scrollImage_);
      DrawScrollColumns(ip, 0, count - 1, QPoint(0, 0));
    } else if (added > scrollDrawn_) {
      const int fresh = static_cast<int>(added - scrollDrawn_);
      const int before = static_cast<int>(std::min<int64_t>(scrollDrawn_, width));
      const int shift = fresh - (count - before);
      if (shift > 0) {
        for (int y = 0; y < scrollImage_.height(); ++y) {
          auto* line = reinterpret_cast<uint32_t*>(scrollImage_.scanLine(y));
          std::memmove(line, line + shift, static_cast<size_t>(width - shift) * sizeof(uint32_t));
        }
      }
      const int from = count - fresh;
      QPainter ip(&scrollImage_);
      ip.setCompositionMode(QPainter::CompositionMode_Source);
      ip.fillRect(QRect(from, 0, width - from, plot.height()), Qt::transparent);
      ip.setCompositionMode(QPainter::CompositionMode_SourceOver);
      DrawScrollColumns(ip, from, count - 1, QPoint(0, 0));
    }
    scrollDrawn_ = added;
    p.drawImage(plot.topLeft(), scrollImage_);
  }
  // The position bar just after the newest column.
  if (count < width) {
    const int w = std::min(calc_.BarWidth(), width - count);
    const int x = plot.left() + count;
    p.fillRect(QRect(x, plot.top(), w, plot.height()), bar_);
    p.setPen(barTick_);
    const int mid = plot.top() + calc_.RowOf(0);
    p.drawLine(x, mid, x + w - 1, mid);
  }
}

void TMMOscope::DrawMarks(QPainter& p, const QRect& plot) const {
  const int lo = calc_.SelectionStart();
  const int hi = calc_.SelectionEnd();
  if (lo >= 0 && hi >= 0) {
    QPen dots(selectionDot_);
    dots.setStyle(Qt::DotLine);
    p.setPen(dots);
    for (int c : {lo, hi}) p.drawLine(plot.left() + c, plot.top(), plot.left() + c, plot.bottom());
  }
  if (calc_.Locator() >= 0) {
    p.setPen(locator_);
    const int x = plot.left() + calc_.Locator();
    p.drawLine(x, plot.top(), x, plot.bottom());
  }
}

void TMMOscope::DrawScales(QPainter& p, const QRect& plot) const {
  const bool amp = calc_.DrawAmpScale();
  const bool time = calc_.DrawTimeScale();
  if (!amp && !time) return;
  p.setFont(FontOf(QStringLiteral("Arial"), 7));
  const QFontMetrics fm(p.font());
  const int side = TMMOscopeCalc::kAmpScaleWidth;
  if (amp) {
    const double volts = VoltDivision();
    const double pixels = volts > 0 ? volts / std::abs(calc_.RowVolts(0.0) - calc_.RowVolts(1.0)) : 0;
    const int zero = calc_.RowOf(0);
    // Labels outwards from zero.
    int lastUp = INT32_MAX / 2;
    int lastDown = INT32_MIN / 2;
    for (int k = 0; pixels > 0; ++k) {
      const int d = static_cast<int>(std::lround(k * pixels));
      if (zero - d < 0 && zero + d >= plot.height()) break;
      for (int sign : {1, -1}) {
        if (k == 0 && sign < 0) continue;
        const int row = zero - sign * d;
        if (row < 0 || row >= plot.height()) continue;
        const int y = plot.top() + row;
        p.setPen(scaleLine_);
        p.drawLine(plot.left() - 4, y, plot.left() - 1, y);
        p.drawLine(plot.right() + 1, y, plot.right() + 4, y);
        // End labels stay inside the control; each keeps clear of the last.
        const int b = calc_.Bevel();
        const int top = std::clamp(y - fm.height() / 2, b, std::max(b, height() - b - fm.height()));
        if (k > 0 && (sign > 0 ? lastUp - top : top - lastDown) < fm.height()) continue;
        if (sign > 0) lastUp = top;
        if (sign < 0 || k == 0) lastDown = top;
        const QString text = QString::asprintf("%4.2f", sign * k * volts).trimmed();
        p.setPen(scaleText_);
        p.drawText(QRect(plot.left() - side, top, side - 5, fm.height()),
                   Qt::AlignRight | Qt::AlignVCenter, text);
        p.drawText(QRect(plot.right() + 6, top, side - 5, fm.height()),
                   Qt::AlignLeft | Qt::AlignVCenter, text);
      }
    }
  }
  if (time) {
    const double ms = TimeDivision();
    const double pixels = ms > 0 ? ms / calc_.ColumnMilliseconds(1.0) : 0;
    int lastRight = INT32_MIN;
    for (int k = 0; pixels > 0; ++k) {
      const int x = plot.left() + static_cast<int>(std::lround(k * pixels));
      if (x > plot.right()) break;
      p.setPen(scaleLine_);
      p.drawLine(x, plot.bottom() + 1, x, plot.bottom() + 4);
      const QString text = QString::asprintf("%4.1f", k * ms).trimmed();
      const int tw = fm.horizontalAdvance(text);
      if (x - tw / 2 <= lastRight + 4) continue;
      lastRight = x + tw - tw / 2;
      p.setPen(scaleText_);
      p.drawText(QRect(x - tw / 2, plot.bottom() + 6, tw, fm.height()), Qt::AlignCenter, text);
    }
  }
  if (amp && time) {
    p.setPen(scaleText_);
    const QRect corner(0, plot.bottom() + 1, side + calc_.Bevel(), TMMOscopeCalc::kTimeScaleHeight);
    p.drawText(corner.adjusted(4, 0, 0, -4), Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("V"));
    const QRect right(plot.right() + 1, plot.bottom() + 1, side, TMMOscopeCalc::kTimeScaleHeight);
    p.drawText(right.adjusted(0, 0, -4, -4), Qt::AlignRight | Qt::AlignBottom, QStringLiteral("mS"));
  }
}

void TMMOscope::DrawBevel(QPainter& p) const {
  const QRect r = rect();
  for (int i = 0; i < calc_.Bevel(); ++i) {
    const QRect e = r.adjusted(i, i, -i - 1, -i - 1);
    p.setPen(QColor(128, 128, 128));
    p.drawLine(e.topLeft(), e.topRight());
    p.drawLine(e.topLeft(), e.bottomLeft());
    p.setPen(QColor(255, 255, 255));
    p.drawLine(e.bottomLeft(), e.bottomRight());
    p.drawLine(e.topRight(), e.bottomRight());
  }
}

void TMMOscope::paint(QPainter& painter, const QRectF& target) {
  painter.save();
  painter.translate(target.topLeft());
  if (target.size() != QSizeF(size()) && width() > 0 && height() > 0)
    painter.scale(target.width() / width(), target.height() / height());
  painter.setClipRect(rect());
  // A control resized while hidden hears of it only when shown.
  if (calc_.ClientWidth() != width() || calc_.ClientHeight() != height())
    calc_.SetClientSize(width(), height());
  const QRect plot = PlotRect();

  DrawFrame(painter, plot);
  PreparePlotBackground(plot);
  painter.save();
  painter.setClipRect(plot);
  if (calc_.Enabled() && !calc_.Scroll() && !OnDrawLine) {
    // The frame's picture: a copy of the background with the trace on it.
    if (picture_.size() != plotBackground_.size())
      picture_ = QImage(plotBackground_.size(), QImage::Format_RGB32);
    std::memcpy(picture_.bits(), plotBackground_.constBits(),
                static_cast<size_t>(plotBackground_.sizeInBytes()));
    RasterTrace(picture_);
    painter.drawImage(plot.topLeft(), picture_);
  } else {
    painter.drawImage(plot.topLeft(), plotBackground_);
    if (!calc_.Enabled()) {
      painter.setPen(disabled_);
      const int y = plot.top() + plot.height() / 2;
      painter.drawLine(plot.left() + 5, y, plot.right() - 5, y);
    } else if (calc_.Scroll()) {
      DrawScroll(painter, plot);
    } else {
      OnDrawLine(this, painter, plot, calc_.Points());
    }
  }
  DrawMarks(painter, plot);
  if (!infoText_.isEmpty()) {
    painter.setFont(FontOf(QStringLiteral("MS Sans Serif"), 8));
    const QRect box = painter.fontMetrics().boundingRect(infoText_).adjusted(-3, -1, 3, 1);
    const QRect at = box.translated(plot.left() + 2 - box.left(), plot.top() + 2 - box.top());
    painter.fillRect(at, color_);
    painter.setPen(foreground_);
    painter.drawText(at, Qt::AlignCenter, infoText_);
  }
  painter.restore();

  DrawScales(painter, plot);
  DrawBevel(painter);
  if (OnPostPaint) OnPostPaint(this, painter);
  painter.restore();
}

}  // namespace tv
