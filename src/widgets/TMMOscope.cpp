#include "TMMOscope.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "MMPCMSup.h"
#include "TMMConnector.h"

namespace tv {

TMMOscope::TMMOscope(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setCursor(Qt::CrossCursor);
  calc_.SetVisible(false);
  calc_.OnChange = [this](TMMOscopeCalc*) { update(); };
  auto forward = [this](TMMOscopeNotify TMMOscope::*event) {
    return [this, event](TMMOscopeCalc*) {
      if (this->*event) (this->*event)(this);
    };
  };
  calc_.OnGainOverflow = forward(&TMMOscope::OnGainOverflow);
  calc_.OnPcmOverflow = forward(&TMMOscope::OnPcmOverflow);
  calc_.OnArrayFull = forward(&TMMOscope::OnArrayFull);
  calc_.OnArrayNew = forward(&TMMOscope::OnArrayNew);
  calc_.OnUpdate = forward(&TMMOscope::OnUpdate);
  resize(TMMOscopeCalc::kDefaultWidth, TMMOscopeCalc::kDefaultHeight);
  calc_.SetClientSize(width(), height());
}

// Unlinked before the widget goes, so no feed reaches it half destroyed.
TMMOscope::~TMMOscope() { TMMConnector::DisplayRemoved(&calc_); }

void TMMOscope::ApplyGeneratorDesign() {
  setObjectName(QStringLiteral("MMOscope1"));
  const auto format = MakePcmFormat(16, 2, 44100);
  calc_.AssignFormat(format.get());
  calc_.SetKind(okConLines);
  calc_.SetDrawMidLine(true);
  calc_.SetDrawGrid(true);
  calc_.SetFFTLength(256);
  calc_.SetBevel(2);
  // A plot of 256 columns by 128 rows inside the bevel.
  hint_ = QSize(256 + 4, 128 + 4);
  resize(hint_);
  calc_.SetClientSize(width(), height());
  updateGeometry();
}

void TMMOscope::ResetDisplay() {
  pressColumn_ = -1;
  infoText_.clear();
  calc_.ResetDisplay();
}

QSize TMMOscope::sizeHint() const { return hint_; }

void TMMOscope::SetColorOf(QColor& slot, const QColor& c) {
  if (slot == c) return;
  slot = c;
  scrollDrawn_ = -1;
  update();
}

void TMMOscope::SetBackgroundBitmap(const QImage& image) {
  backgroundBitmap_ = image;
  update();
}

void TMMOscope::SetUseSelection(bool value) {
  useSelection_ = value;
  update();
}

QRect TMMOscope::PlotRect() const {
  return {calc_.PlotLeft(), calc_.PlotTop(), calc_.PlotWidth(), calc_.PlotHeight()};
}

// ---------------------------------------------------------------------------
// Grid spacing

namespace {

// The smallest of 1, 2, 2.5, 5 times a power of ten that spans at least
// `minPixels` at `unitsPerPixel`; 0 when the axis has no scale.
double NiceStep(double unitsPerPixel, double minPixels) {
  if (!(unitsPerPixel > 0) || !std::isfinite(unitsPerPixel)) return 0.0;
  const double wanted = unitsPerPixel * minPixels;
  double decade = std::pow(10.0, std::floor(std::log10(wanted)));
  for (;;) {
    for (double m : {1.0, 2.0, 2.5, 5.0})
      if (m * decade >= wanted * (1 - 1e-9)) return m * decade;
    decade *= 10;
  }
}

}  // namespace

double TMMOscope::TimeDivision() const {
  // 0.25 ms at 44100 Hz, 0.5 ms at 22050 Hz: the generator panel's time bases.
  return NiceStep(calc_.ColumnMilliseconds(1.0), 10.0);
}

double TMMOscope::VoltDivision() const {
  return NiceStep(std::abs(calc_.RowVolts(0.0) - calc_.RowVolts(1.0)), 12.0);
}

// ---------------------------------------------------------------------------
// Mouse: readout, selection and locator

int TMMOscope::ColumnAt(int x) const {
  return std::clamp(x - calc_.PlotLeft(), 0, calc_.PlotWidth() - 1);
}

void TMMOscope::ShowReadout(const QPoint& at) {
  if (!showInfo_) return;
  const double row = std::clamp(at.y() - calc_.PlotTop(), 0, calc_.PlotHeight() - 1);
  infoText_ = QString::asprintf("%4.1f ms", calc_.ColumnMilliseconds(ColumnAt(at.x()))) +
              QString::asprintf(" %4.2f V", calc_.RowVolts(row));
  update();
}

void TMMOscope::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !calc_.Enabled()) {
    QWidget::mousePressEvent(event);
    return;
  }
  pressColumn_ = ColumnAt(event->position().toPoint().x());
  dragged_ = false;
  calc_.SetSelecting(true);  // frames wait while the mouse works
  ShowReadout(event->position().toPoint());
}

void TMMOscope::mouseMoveEvent(QMouseEvent* event) {
  if (pressColumn_ < 0) return;
  if (!calc_.Selecting()) {  // the display was reset meanwhile
    pressColumn_ = -1;
    infoText_.clear();
    update();
    return;
  }
  const int column = ColumnAt(event->position().toPoint().x());
  if (column != pressColumn_) dragged_ = true;
  if (dragged_ && !locked_) {
    const int lo = std::min(pressColumn_, column);
    const int hi = std::max(pressColumn_, column);
    calc_.SetSelection(lo, hi);
    if (OnSelecting) OnSelecting(this, lo, hi);
  }
  ShowReadout(event->position().toPoint());
}

void TMMOscope::mouseReleaseEvent(QMouseEvent* event) {
  if (pressColumn_ < 0 || event->button() != Qt::LeftButton) return;
  const int column = ColumnAt(event->position().toPoint().x());
  const int press = pressColumn_;
  pressColumn_ = -1;
  infoText_.clear();
  const bool selecting = calc_.Selecting();
  calc_.SetSelecting(false);
  if (selecting && !locked_) {
    if (dragged_) {
      if (OnSelectEnd) OnSelectEnd(this, std::min(press, column), std::max(press, column));
    } else {
      calc_.SetLocator(column);
    }
  }
  update();
}

// ---------------------------------------------------------------------------
// Widget plumbing

void TMMOscope::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  paint(painter, QRectF(rect()));
}

void TMMOscope::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  calc_.SetClientSize(width(), height());
  scrollDrawn_ = -1;
}

void TMMOscope::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  calc_.SetVisible(true);
}

void TMMOscope::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  calc_.SetVisible(false);
}

}  // namespace tv
