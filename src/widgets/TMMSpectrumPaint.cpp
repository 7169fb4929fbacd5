// Drawing of the spectrum control: the plot in each kind, composed
// off-screen for the screen or drawn as vector graphics for printing, and
// the frame around it: bevel, scale strips, peak label and readout.
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "TMMSpectrum.h"

namespace tv {

namespace {

constexpr int kTick = 3;

// Round half to even, as the zone limits round.
int32_t Round(double v) { return static_cast<int32_t>(std::nearbyint(v)); }

QFont ScaleFont() {
  QFont f(QStringLiteral("Arial"));
  f.setPixelSize(10);
  return f;
}

QFont LabelFont(bool bold) {
  QFont f(QStringLiteral("MS Sans Serif"));
  f.setPixelSize(11);  // 8 points on a 96 dpi screen
  f.setBold(bold);
  return f;
}

}  // namespace

// ---------------------------------------------------------------------------
// The plot

int32_t TMMSpectrum::Row(int32_t height) const {
  const int32_t h = plotRect_.height();
  return std::clamp(h - height - 1, 0, h - 1);
}

QColor TMMSpectrum::ZoneColor(int32_t value, int32_t limit1, int32_t limit2) const {
  if (value > limit2) return bar3Color_;
  if (value > limit1) return bar2Color_;
  return bar1Color_;
}

void TMMSpectrum::FillBackground(QPainter& p, const QRect& r) {
  if (useBackGroundDIB_ && !backGroundDIB_.isNull()) {
    if (scaledBackground_.size() != r.size()) {
      scaledBackground_ =
          backGroundDIB_.scaled(r.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
              .convertToFormat(QImage::Format_RGB32);
    }
    p.drawImage(r.topLeft(), scaledBackground_);
  } else {
    p.fillRect(r, color_);
  }
}

void TMMSpectrum::ClearPlot(QPainter& p) {
  const QRect r(0, 0, plotRect_.width(), plotRect_.height());
  if (OnClearBackground) {
    OnClearBackground(this, p, r);
  } else if ((kind_ == skBars || kind_ == skPeaks) && drawInactive_) {
    EnsureInactive();
    p.drawImage(0, 0, inactive_);
  } else {
    FillBackground(p, r);
  }
}

const QImage& TMMSpectrum::ComposeFrame() {
  EnsureLayout();
  calc_.ComputeBars();
  bool cleared = false;
  if (kind_ == skScroll) {
    ScrollHistory();
  } else {
    cleared = ClearDirect();
  }
  {
    QPainter p(&plot_);
    DrawPlot(p, true, cleared);
  }
  plotDirty_ = false;
  return plot_;
}

// The plain background and the grid written straight into the picture,
// before a painter opens it: the painter draws the grid's long vertical
// lines row by row, which costs most of a frame.
bool TMMSpectrum::ClearDirect() {
  if (OnClearBackground || (useBackGroundDIB_ && !backGroundDIB_.isNull()) ||
      ((kind_ == skBars || kind_ == skPeaks) && drawInactive_)) {
    return false;
  }
  plot_.fill(color_);
  if (!drawGrid_) return true;
  const int32_t w = plotRect_.width();
  const int32_t h = plotRect_.height();
  const QRgb grid = gridColor_.rgb();
  uchar* bits = plot_.bits();
  const qsizetype line = plot_.bytesPerLine();
  const auto pixel = [bits, line](int32_t x, int32_t y) {
    return reinterpret_cast<QRgb*>(bits + line * y) + x;
  };
  const int32_t n = TMMSpectrumCalc::HorizontalIntervals(h, calc_.LogAmp());
  for (int32_t k = 0; k <= n; ++k) {
    QRgb* row = pixel(0, std::clamp(calc_.GridRow(k, n), 0, h - 1));
    std::fill(row, row + w, grid);
  }
  const int32_t d = TMMSpectrumCalc::VerticalIntervals(w);
  for (int32_t k = 0; k <= d; ++k) {
    const int32_t x = TMMSpectrumCalc::GridColumn(k, d, w);
    for (int32_t y = 0; y < h; ++y) *pixel(x, y) = grid;
  }
  return true;
}

// `live` for a new frame of the screen picture: the peak markers take the
// new heights. A printed copy draws the same bars and leaves them alone.
// `cleared`: background and grid are in place already.
void TMMSpectrum::DrawPlot(QPainter& p, bool live, bool cleared) {
  if (kind_ == skScroll) {
    if (!live) p.drawImage(0, 0, plot_);
    DrawScrollBand(p);
    return;
  }
  if (!cleared) {
    ClearPlot(p);
    if (drawGrid_) DrawGridLines(p);
  }
  switch (kind_) {
    case skLines:
      DrawLines(p, live);
      break;
    case skDots:
      DrawDots(p);
      break;
    case skVLines:
      DrawVLines(p, plotRect_.height(), plotRect_.height() - 1);
      break;
    case skBars:
    case skPeaks:
      DrawBars(p, live);
      break;
    case skScroll:
      break;
  }
}

void TMMSpectrum::DrawGridLines(QPainter& p) {
  const int32_t w = plotRect_.width();
  const int32_t h = plotRect_.height();
  p.setPen(QPen(gridColor_, gridWidth_));
  const int32_t n = TMMSpectrumCalc::HorizontalIntervals(h, calc_.LogAmp());
  for (int32_t k = 0; k <= n; ++k) {
    const int32_t y = std::clamp(calc_.GridRow(k, n), 0, h - 1);
    p.drawLine(0, y, w - 1, y);
  }
  const int32_t d = TMMSpectrumCalc::VerticalIntervals(w);
  for (int32_t k = 0; k <= d; ++k) {
    const int32_t x = TMMSpectrumCalc::GridColumn(k, d, w);
    p.drawLine(x, 0, x, h - 1);
  }
}

void TMMSpectrum::DrawLines(QPainter& p, bool live) {
  const auto bars = calc_.Bars();
  if (bars.empty()) return;
  const int32_t w = plotRect_.width();
  p.setPen(QPen(calc_.Enabled() ? bar1Color_ : inactive1Color_, traceWidth_));
  const auto polyline = [&](auto heightOf) {
    points_.clear();
    points_.emplace_back(0, Row(heightOf(0)));
    for (size_t j = 0; j < bars.size(); ++j) {
      const TSpectrumBar& b = bars[j];
      points_.emplace_back(b.first + (b.end - b.first) / 2, Row(heightOf(j)));
    }
    points_.emplace_back(w - 1, Row(heightOf(bars.size() - 1)));
    p.drawPolyline(points_.data(), static_cast<int>(points_.size()));
  };
  polyline([&](size_t j) { return bars[j].height; });
  if (calc_.NumPeaks() > 0) {
    if (live) calc_.TakePeaks(0);
    const auto peaks = calc_.PeakHeights();
    polyline([&](size_t j) { return j < peaks.size() ? peaks[j] : 0; });
  }
}

void TMMSpectrum::DrawDots(QPainter& p) {
  const int32_t h = plotRect_.height();
  const int32_t y1 = Round(h - point1_ * h / 100.0);
  const int32_t y2 = Round(h - point2_ * h / 100.0);
  const bool enabled = calc_.Enabled();
  for (const TSpectrumBar& b : calc_.Bars()) {
    const int32_t row = Row(b.height);
    QColor c = inactive1Color_;
    if (enabled) c = row <= y2 ? bar3Color_ : row > y1 ? bar1Color_ : bar2Color_;
    p.setPen(QPen(c, traceWidth_));
    p.drawLine(b.first, row, b.end - 1, row);
  }
}

// Vertical lines in a band `height` pixels high whose bottom row is
// `bottom`; heights are in the band's pixels.
void TMMSpectrum::DrawVLines(QPainter& p, int32_t height, int32_t bottom) {
  const bool band = height != plotRect_.height();
  const int32_t l1 = Round(point1_ * height / 100.0);
  const int32_t l2 = Round(point2_ * height / 100.0);
  const auto rowOf = [&](int32_t hh) { return bottom - std::clamp(hh, 0, height - 1); };
  for (const TSpectrumBar& b : calc_.Bars()) {
    const int32_t x = b.first + (b.end - b.first) / 2;
    const int32_t hh = std::max(0, band ? b.height / 3 : b.height);
    p.setPen(QPen(bar1Color_, traceWidth_));
    p.drawLine(x, bottom, x, rowOf(std::min(hh, l1)));
    if (hh > l1) {
      p.setPen(QPen(bar2Color_, traceWidth_));
      p.drawLine(x, rowOf(l1 + 1), x, rowOf(std::min(hh, l2)));
    }
    if (hh > l2) {
      p.setPen(QPen(bar3Color_, traceWidth_));
      p.drawLine(x, rowOf(l2 + 1), x, rowOf(hh));
    }
  }
}

void TMMSpectrum::DrawSpot(QPainter& p, int32_t x0, int32_t x1, int32_t spot, const QColor& c,
                           bool doted) {
  const int32_t h = plotRect_.height();
  const int32_t spotH = std::clamp(spotHeight_, 1, std::max(1, h / 3));
  const int32_t spots = std::max(1, (h + spotSpace_) / (spotH + spotSpace_));
  const int32_t used = spots * spotH + (spots - 1) * spotSpace_;
  const int32_t margin = std::max(0, h - used) / 2;
  const int32_t bottom = h - 1 - margin - (spot - 1) * (spotH + spotSpace_);
  const QRect r(x0, bottom - spotH + 1, x1 - x0, spotH);
  if (doted) {
    p.fillRect(r, QBrush(c, Qt::Dense4Pattern));
  } else {
    p.fillRect(r, c);
  }
}

void TMMSpectrum::EnsureInactive() {
  const QSize size = plotRect_.size();
  if (inactiveValid_ && inactive_.size() == size) return;
  inactive_ = QImage(size, QImage::Format_RGB32);
  QPainter p(&inactive_);
  FillBackground(p, QRect(QPoint(0, 0), size));
  const int32_t spots = SpotCount();
  const int32_t l1 = Round(point1_ * spots / 100.0);
  const int32_t l2 = Round(point2_ * spots / 100.0);
  for (const TSpectrumBar& b : calc_.Bars()) {
    const int32_t x1 = std::max(b.first + 1, b.end - space_);
    for (int32_t i = 1; i <= spots; ++i) {
      const QColor c = i > l2 ? inactive3Color_ : i > l1 ? inactive2Color_ : inactive1Color_;
      DrawSpot(p, b.first, x1, i, c, inactiveDoted_);
    }
  }
  inactiveValid_ = true;
}

void TMMSpectrum::DrawBars(QPainter& p, bool live) {
  const auto bars = calc_.Bars();
  const int32_t h = plotRect_.height();
  const int32_t numPeaks = calc_.NumPeaks();
  if (OnDrawBar) {
    if (live && numPeaks > 0) calc_.TakePeaks(0);
    const auto peaks = calc_.PeakHeights();
    for (size_t j = 0; j < bars.size(); ++j) {
      const TSpectrumBar& b = bars[j];
      const int32_t x1 = std::max(b.first + 1, b.end - space_);
      OnDrawBar(this, p, QRect(b.first, 0, x1 - b.first, h), std::clamp(b.height, 0, h),
                numPeaks > 0 && j < peaks.size() ? peaks[j] : 0);
    }
    return;
  }
  const int32_t spots = SpotCount();
  const int32_t l1 = Round(point1_ * spots / 100.0);
  const int32_t l2 = Round(point2_ * spots / 100.0);
  if (live && numPeaks > 0) calc_.TakePeaks(spots);
  const auto peaks = calc_.PeakHeights();
  for (size_t j = 0; j < bars.size(); ++j) {
    const TSpectrumBar& b = bars[j];
    const int32_t x1 = std::max(b.first + 1, b.end - space_);
    const int32_t n = TMMSpectrumCalc::SpotsOfHeight(b.height, h, spots);
    if (kind_ == skBars) {
      for (int32_t i = 1; i <= n; ++i) DrawSpot(p, b.first, x1, i, ZoneColor(i, l1, l2), activeDoted_);
    } else if (n >= 1) {
      DrawSpot(p, b.first, x1, n, ZoneColor(n, l1, l2), activeDoted_);
    }
    const int32_t peak = numPeaks > 0 && j < peaks.size() ? std::min(peaks[j], spots) : 0;
    if (peak > n) {
      for (int32_t i = std::max(1, peak - std::min(peak, numPeaks) + 1); i <= peak; ++i) {
        DrawSpot(p, b.first, x1, i, ZoneColor(i, l1, l2), activeDoted_);
      }
    }
  }
}

// skScroll: the lower third shows the current bars as vertical lines; the
// part above is a spectrogram whose newest row sits just above the band and
// which moves up one row per frame.
void TMMSpectrum::ScrollHistory() {
  const int32_t w = plotRect_.width();
  const int32_t h = plotRect_.height();
  const int32_t band = std::max(1, h / 3);
  const int32_t top = h - band;  // rows 0 .. top - 1 hold the history
  if (top < 1 || plot_.isNull()) return;
  const qsizetype line = plot_.bytesPerLine();
  uchar* bits = plot_.bits();
  if (top > 1) std::memmove(bits, bits + line, static_cast<size_t>(line) * static_cast<size_t>(top - 1));
  auto* row = reinterpret_cast<QRgb*>(bits + line * (top - 1));
  std::fill(row, row + w, color_.rgb());
  const int32_t l1 = Round(point1_ * band / 100.0);
  const int32_t l2 = Round(point2_ * band / 100.0);
  for (const TSpectrumBar& b : calc_.Bars()) {
    const int32_t hh = std::clamp(b.height / 3, 0, band);
    if (hh == 0) continue;
    const QColor zone = ZoneColor(hh, l1, l2);
    const double t = static_cast<double>(hh) / band;
    const QRgb c = qRgb(Round(color_.red() + (zone.red() - color_.red()) * t),
                        Round(color_.green() + (zone.green() - color_.green()) * t),
                        Round(color_.blue() + (zone.blue() - color_.blue()) * t));
    std::fill(row + b.first, row + std::min(b.end, w), c);
  }
}

void TMMSpectrum::DrawScrollBand(QPainter& p) {
  const int32_t w = plotRect_.width();
  const int32_t h = plotRect_.height();
  const int32_t band = std::max(1, h / 3);
  p.fillRect(QRect(0, h - band, w, band), color_);
  DrawVLines(p, band, h - 1);
}

// ---------------------------------------------------------------------------
// The control

void TMMSpectrum::paintEvent(QPaintEvent* event) {
  EnsureLayout();
  if (plotDirty_) ComposeFrame();
  QPainter p(this);
  PaintControl(p, event->rect(), true);
}

void TMMSpectrum::paint(QPainter& painter, const QRectF& target) {
  EnsureLayout();
  if (width() <= 0 || height() <= 0) return;
  painter.save();
  painter.translate(target.topLeft());
  painter.scale(target.width() / width(), target.height() / height());
  PaintControl(painter, rect(), false);
  painter.restore();
}

void TMMSpectrum::PaintControl(QPainter& p, const QRect& exposed, bool composed) {
  if (!plotRect_.contains(exposed)) {
    DrawBevel(p);
    DrawScales(p);
  }
  if (composed) {
    p.drawImage(plotRect_.topLeft(), plot_);
  } else {
    p.save();
    p.translate(plotRect_.topLeft());
    p.setClipRect(QRect(QPoint(0, 0), plotRect_.size()), Qt::IntersectClip);
    calc_.ComputeBars();
    DrawPlot(p, false, false);
    p.restore();
  }
  DrawPeakLabel(p);
  DrawReadout(p);
}

void TMMSpectrum::DrawBevel(QPainter& p) {
  if (bevel_ == bvNone) return;
  const QRect r = rect();
  const bool lowered = bevel_ == bvLowered;
  const QColor outerDark(128, 128, 128);
  const QColor outerLight(255, 255, 255);
  const QColor innerDark(64, 64, 64);
  const QColor innerLight(212, 208, 200);
  const auto ring = [&p](const QRect& q, const QColor& topLeft, const QColor& bottomRight) {
    p.setPen(QPen(topLeft, 0));
    p.drawLine(q.left(), q.bottom(), q.left(), q.top());
    p.drawLine(q.left(), q.top(), q.right(), q.top());
    p.setPen(QPen(bottomRight, 0));
    p.drawLine(q.right(), q.top(), q.right(), q.bottom());
    p.drawLine(q.right(), q.bottom(), q.left(), q.bottom());
  };
  ring(r, lowered ? outerDark : outerLight, lowered ? outerLight : outerDark);
  ring(r.adjusted(1, 1, -1, -1), lowered ? innerDark : innerLight, lowered ? innerLight : innerDark);
}

void TMMSpectrum::DrawScales(QPainter& p) {
  if (!drawAmpScale_ && !drawFreqScale_) return;
  const int b = BevelWidth();
  const QRect inner = rect().adjusted(b, b, -b, -b);
  const QRect& plot = plotRect_;
  const int32_t w = plot.width();
  const int32_t h = plot.height();
  const QColor back = palette().color(QPalette::Window);
  if (drawAmpScale_) {
    p.fillRect(QRect(inner.left(), inner.top(), kAmpStrip, inner.height()), back);
    p.fillRect(QRect(plot.right() + 1, inner.top(), kAmpStrip, inner.height()), back);
  }
  if (drawFreqScale_) p.fillRect(QRect(inner.left(), plot.bottom() + 1, inner.width(), kFreqStrip), back);

  p.setFont(ScaleFont());
  const QFontMetrics fm(p.font());
  const int textH = fm.height();
  const QPen line(scaleLineColor_, gridWidth_);
  const QPen text(scaleTextColor_, 0);

  if (drawAmpScale_) {
    const int32_t n = TMMSpectrumCalc::HorizontalIntervals(h, calc_.LogAmp());
    for (int32_t k = 0; k <= n; ++k) {
      const int y = plot.top() + std::clamp(calc_.GridRow(k, n), 0, h - 1);
      p.setPen(line);
      p.drawLine(plot.left() - kTick, y, plot.left() - 1, y);
      p.drawLine(plot.right() + 1, y, plot.right() + kTick, y);
      // Labels stay beside the plot even at its top and bottom rows.
      const int top = std::max(inner.top(), std::min(y - textH / 2, plot.bottom() + 1 - textH));
      p.setPen(text);
      p.drawText(QRect(inner.left(), top, kAmpStrip - kTick - 2, textH), Qt::AlignRight | Qt::AlignVCenter,
                 QString::fromStdString(calc_.AmpScaleLabel(k, n, false)));
      p.drawText(QRect(plot.right() + kTick + 2, top, kAmpStrip - kTick - 2, textH),
                 Qt::AlignLeft | Qt::AlignVCenter,
                 QString::fromStdString(calc_.AmpScaleLabel(k, n, true)));
    }
  }

  if (drawFreqScale_) {
    const int32_t d = TMMSpectrumCalc::VerticalIntervals(w);
    const int y0 = plot.bottom() + 1;
    for (int32_t k = 0; k <= d; ++k) {
      const int x = plot.left() + TMMSpectrumCalc::GridColumn(k, d, w);
      p.setPen(line);
      p.drawLine(x, y0, x, y0 + kTick - 1);
      const QString label = QString::fromStdString(
          TMMSpectrumCalc::FreqScaleLabel(calc_.FreqScaleValue(k, d)));
      // Read upwards, the glyphs just right of the tick; the last ones keep
      // inside the control.
      const int baseline = std::min(x + 10, inner.right() - fm.descent());
      p.save();
      p.setPen(text);
      p.translate(baseline, y0 + kTick + 2 + fm.horizontalAdvance(label));
      p.rotate(-90);
      p.drawText(0, 0, label);
      p.restore();
    }
  }

  if (drawAmpScale_ && drawFreqScale_) {
    const QString unit = calc_.LogAmp() ? QStringLiteral("db") : QStringLiteral("V");
    p.setPen(text);
    const QRect leftCorner(inner.left(), plot.bottom() + 1, kAmpStrip - 4, kFreqStrip - 2);
    const QRect rightCorner(plot.right() + 1, plot.bottom() + 1, kAmpStrip - 2, kFreqStrip - 2);
    p.drawText(leftCorner, Qt::AlignRight | Qt::AlignTop, unit);
    p.drawText(rightCorner, Qt::AlignRight | Qt::AlignTop, unit);
    p.drawText(rightCorner, Qt::AlignRight | Qt::AlignBottom, QStringLiteral("Hz"));
  }
}

void TMMSpectrum::DrawPeakLabel(QPainter& p) {
  const std::string label = calc_.PeakLabel();
  if (label.empty()) return;
  const TSpectrumPeakRecord& peak = calc_.PeakRecord();
  const QString text = QString::fromStdString(label);
  p.setFont(LabelFont(true));
  const QFontMetrics fm(p.font());
  const int tw = fm.horizontalAdvance(text);
  const QRect& plot = plotRect_;
  const int x = std::max(plot.left(), std::min(plot.left() + peak.column, plot.right() + 1 - tw));
  const int top = std::max(plot.top(), plot.top() + Row(peak.height) - fm.height());
  // White on the usual dark plot; a light plot (a printed page) needs ink.
  p.setPen(color_.lightness() > 127 ? QColor(Qt::black) : QColor(Qt::white));
  p.drawText(QRect(x, top, tw, fm.height()), Qt::AlignLeft | Qt::AlignTop, text);
}

void TMMSpectrum::DrawReadout(QPainter& p) {
  if (!infoActive_) return;
  const QString text = QString::fromStdString(calc_.ReadoutFrequencyText(infoPos_.x()) +
                                              calc_.ReadoutLevelText(infoPos_.y()));
  p.setFont(LabelFont(false));
  const QFontMetrics fm(p.font());
  const QRect box(plotRect_.left() + 4, plotRect_.top() + 4, fm.horizontalAdvance(text) + 8,
                  fm.height() + 4);
  p.fillRect(box, QColor(0, 0, 0, 200));
  p.setPen(QPen(scaleLineColor_, 0));
  p.drawRect(box.adjusted(0, 0, -1, -1));
  p.setPen(Qt::white);
  p.drawText(box, Qt::AlignCenter, text);
}

}  // namespace tv
