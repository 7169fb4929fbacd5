// The spectrum control: design values, layout, properties and the mouse
// readout. The drawing is in TMMSpectrumPaint.cpp.
#include "TMMSpectrum.h"
#include "TMMConnector.h"

#include <QCursor>
#include <QEvent>
#include <QMouseEvent>
#include <QToolTip>
#include <algorithm>

namespace tv {

namespace {

const QColor kAqua(0, 255, 255);
const QColor kTeal(0, 128, 128);
const QColor kRed(255, 0, 0);
const QColor kMaroon(128, 0, 0);
const QColor kGrey(128, 128, 128);

}  // namespace

TMMSpectrum::TMMSpectrum(QWidget* parent, TMMSpectrumDesign design)
    : QWidget(parent),
      bar1Color_(kAqua),
      bar2Color_(kAqua),
      bar3Color_(kRed),
      inactive1Color_(kTeal),
      inactive2Color_(kTeal),
      inactive3Color_(kMaroon),
      scaleTextColor_(Qt::black),
      scaleLineColor_(Qt::black),
      gridColor_(kGrey),
      color_(Qt::black) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setCursor(Qt::CrossCursor);
  resize(194, 89);
  // Nothing is analysed until the control is on screen.
  calc_.SetVisible(false);
  calc_.OnRedraw = [this](TMMSpectrumCalc*) { CalcRedraw(); };
  ApplyDesign(design);
  EnsureLayout();
}

// Unlinked before the widget goes, so no feed reaches it half destroyed.
TMMSpectrum::~TMMSpectrum() {
  TMMConnector::DisplayRemoved(&calc_);
  calc_.OnRedraw = nullptr;
}

void TMMSpectrum::ApplyDesign(TMMSpectrumDesign design) {
  if (design == TMMSpectrumDesign::Component) return;
  TMMSpectrumCalc& c = calc_;
  c.BeginLoad();
  c.SetMode(mStereo);
  c.SetBitLength(b16Bit);
  c.SetSampleRate(44100);
  c.SetLogAmp(true);
  if (design == TMMSpectrumDesign::Main) {
    setObjectName(QStringLiteral("MMSpectrum1"));
    c.SetFFTLength(1024);
    c.SetLogFreq(true);
    c.SetWindow(fwWelch);
    c.SetDecayMode(dmStepUp);
    c.SetDecay(7);
    c.SetVerticalScale(7);
    c.SetNumPeaks(0);
    c.SetPeakSpeed(10);
    c.SetDisplayPeak(true);
    // Design values describe the finished control: the strips are part of
    // its size, nothing grows.
    drawFreqScale_ = true;
    drawAmpScale_ = true;
    drawGrid_ = true;
    // The aqua scale text stands on the main window's black.
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  } else {
    setObjectName(QStringLiteral("SpeckBack"));
    c.SetFFTLength(2048);
    c.SetWindow(fwHanning);
    drawInactive_ = false;
  }
  kind_ = skLines;
  bar1Color_ = kAqua;
  bar2Color_ = kAqua;
  bar3Color_ = kRed;
  scaleTextColor_ = kAqua;
  scaleLineColor_ = kAqua;
  gridColor_ = kGrey;
  point1_ = 50;
  point2_ = 85;
  c.EndLoad();
  layoutSize_ = QSize();
  EnsureLayout();
  DrawingChanged(true);
}

// ---------------------------------------------------------------------------
// Layout

void TMMSpectrum::EnsureLayout() {
  if (size() != layoutSize_) LayoutChanged();
}

void TMMSpectrum::LayoutChanged() {
  layoutSize_ = size();
  const int b = BevelWidth();
  const QRect inner = rect().adjusted(b, b, -b, -b);
  const int left = inner.left() + (drawAmpScale_ ? kAmpStrip : 0);
  const int right = inner.right() - (drawAmpScale_ ? kAmpStrip : 0);
  const int bottom = inner.bottom() - (drawFreqScale_ ? kFreqStrip : 0);
  const int w = std::max(4, right - left + 1);
  const int h = std::max(4, bottom - inner.top() + 1);
  plotRect_ = QRect(left, inner.top(), w, h);
  if (plot_.size() != QSize(w, h)) {
    plot_ = QImage(w, h, QImage::Format_RGB32);
    plot_.fill(color_);
  }
  points_.reserve(static_cast<size_t>(w) + 2);
  calc_.SetPlotSize(w, h);
  inactiveValid_ = false;
  plotDirty_ = true;
  update();
}

QRect TMMSpectrum::PlotRect() {
  EnsureLayout();
  return plotRect_;
}

void TMMSpectrum::Grow(int dx, int dy) {
  resize(width() + dx, height() + dy);
  layoutSize_ = QSize();
  EnsureLayout();
}

int32_t TMMSpectrum::SpotCount() {
  EnsureLayout();
  const int32_t h = plotRect_.height();
  const int32_t spot = std::clamp(spotHeight_, 1, std::max(1, h / 3));
  return std::max(1, (h + spotSpace_) / (spot + spotSpace_));
}

void TMMSpectrum::CalcRedraw() {
  plotDirty_ = true;
  // A reset ends the readout along with the analysis pause.
  if (infoActive_ && !calc_.InfoActive()) EndReadout();
  const AxisState now{calc_.FFTLength(), calc_.SampleRate(), calc_.VerticalScale(),
                      calc_.Zoom(),      calc_.StartFrequency(), calc_.LogFreq(),
                      calc_.LogAmp()};
  if (now != axis_) {
    axis_ = now;
    inactiveValid_ = false;
    update();  // the scales change with the axes
  } else {
    update(plotRect_);
  }
}

void TMMSpectrum::DrawingChanged(bool layout) {
  if (layout) calc_.ClearLayout();
  inactiveValid_ = false;
  plotDirty_ = true;
  update();
}

// ---------------------------------------------------------------------------
// Properties

void TMMSpectrum::SetKind(TMMSpectrumKind value) {
  if (value == kind_ || value < skDots || value > skScroll) return;
  kind_ = value;
  plot_.fill(color_);  // no history of another kind
  DrawingChanged(true);
}

void TMMSpectrum::SetDrawFreqScale(bool value) {
  if (value == drawFreqScale_) return;
  drawFreqScale_ = value;
  Grow(0, value ? kFreqStrip : -kFreqStrip);
  update();
}

void TMMSpectrum::SetDrawAmpScale(bool value) {
  if (value == drawAmpScale_) return;
  drawAmpScale_ = value;
  Grow(value ? 2 * kAmpStrip : -2 * kAmpStrip, 0);
  update();
}

void TMMSpectrum::SetDrawGrid(bool value) {
  if (value == drawGrid_) return;
  drawGrid_ = value;
  DrawingChanged(false);
}

void TMMSpectrum::SetShowInfo(bool value) {
  showInfo_ = value;
  if (!value && infoActive_) EndReadout();
}

void TMMSpectrum::SetSpace(int32_t value) {
  value = std::clamp(value, 0, 5);
  if (value == space_) return;
  space_ = value;
  DrawingChanged(false);
}

void TMMSpectrum::SetSpotSpace(int32_t value) {
  value = std::clamp(value, 0, 10);
  if (value == spotSpace_) return;
  spotSpace_ = value;
  DrawingChanged(true);
}

void TMMSpectrum::SetSpotHeight(int32_t value) {
  value = std::clamp(value, 1, std::max(1, PlotRect().height() / 3));
  if (value == spotHeight_) return;
  spotHeight_ = value;
  DrawingChanged(true);
}

#define TV_COLOR_SETTER(Name, member)                  \
  void TMMSpectrum::Set##Name(const QColor& value) {   \
    if (value == member) return;                       \
    member = value;                                    \
    DrawingChanged(false);                             \
  }
TV_COLOR_SETTER(Bar1Color, bar1Color_)
TV_COLOR_SETTER(Bar2Color, bar2Color_)
TV_COLOR_SETTER(Bar3Color, bar3Color_)
TV_COLOR_SETTER(Inactive1Color, inactive1Color_)
TV_COLOR_SETTER(Inactive2Color, inactive2Color_)
TV_COLOR_SETTER(Inactive3Color, inactive3Color_)
TV_COLOR_SETTER(ScaleTextColor, scaleTextColor_)
TV_COLOR_SETTER(ScaleLineColor, scaleLineColor_)
TV_COLOR_SETTER(GridColor, gridColor_)
#undef TV_COLOR_SETTER

void TMMSpectrum::SetColor(const QColor& value) {
  if (value == color_) return;
  color_ = value;
  plot_.fill(color_);
  DrawingChanged(false);
}

void TMMSpectrum::SetTraceWidth(qreal value) {
  value = std::clamp(value, qreal(0), qreal(8));
  if (value == traceWidth_) return;
  traceWidth_ = value;
  DrawingChanged(false);
}

void TMMSpectrum::SetGridWidth(qreal value) {
  value = std::clamp(value, qreal(0), qreal(8));
  if (value == gridWidth_) return;
  gridWidth_ = value;
  DrawingChanged(false);
}

void TMMSpectrum::SetPoint1(int32_t value) {
  if (value < 1 || value > 100 || value == point1_) return;
  point1_ = value;
  DrawingChanged(true);
}

void TMMSpectrum::SetPoint2(int32_t value) {
  if (value < 1 || value > 100 || value == point2_) return;
  point2_ = value;
  DrawingChanged(true);
}

void TMMSpectrum::SetDrawInactive(bool value) {
  if (value == drawInactive_) return;
  drawInactive_ = value;
  DrawingChanged(false);
}

void TMMSpectrum::SetInactiveDoted(bool value) {
  if (value == inactiveDoted_) return;
  inactiveDoted_ = value;
  DrawingChanged(false);
}

void TMMSpectrum::SetActiveDoted(bool value) {
  if (value == activeDoted_) return;
  activeDoted_ = value;
  DrawingChanged(false);
}

void TMMSpectrum::SetBackGroundDIB(const QImage& value) {
  backGroundDIB_ = value;
  scaledBackground_ = QImage();
  DrawingChanged(false);
}

void TMMSpectrum::SetUseBackGroundDIB(bool value) {
  if (value == useBackGroundDIB_) return;
  useBackGroundDIB_ = value;
  DrawingChanged(false);
}

void TMMSpectrum::SetBevel(TMMBevel value) {
  if (value == bevel_ || value < bvNone || value > bvRaised) return;
  bevel_ = value;
  layoutSize_ = QSize();
  EnsureLayout();
}

// ---------------------------------------------------------------------------
// Events

void TMMSpectrum::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  EnsureLayout();
}

void TMMSpectrum::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  calc_.SetVisible(true);
  calc_.RenewPeakTimer();
}

void TMMSpectrum::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  calc_.SetVisible(isVisible());
  if (infoActive_) EndReadout();
}

void TMMSpectrum::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ParentChange) calc_.RenewPeakTimer();
  if (event->type() == QEvent::PaletteChange) update();
}

void TMMSpectrum::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && showInfo_ && calc_.Enabled() && !infoActive_ &&
      PlotRect().contains(event->position().toPoint())) {
    StartReadout(event->position().toPoint());
    event->accept();
    return;
  }
  QWidget::mousePressEvent(event);
}

void TMMSpectrum::mouseMoveEvent(QMouseEvent* event) {
  if (infoActive_) {
    MoveReadout(event->position().toPoint());
    event->accept();
    return;
  }
  QWidget::mouseMoveEvent(event);
}

void TMMSpectrum::mouseReleaseEvent(QMouseEvent* event) {
  if (infoActive_ && event->button() == Qt::LeftButton) {
    EndReadout();
    event->accept();
    return;
  }
  QWidget::mouseReleaseEvent(event);
}

void TMMSpectrum::StartReadout(const QPoint& pos) {
  infoActive_ = true;
  calc_.SetInfoActive(true);
  savedToolTip_ = toolTip();
  setToolTip(QString());
  QToolTip::hideText();
  MoveReadout(pos);
}

// The pointer stays inside the plot while the button is held.
void TMMSpectrum::MoveReadout(const QPoint& pos) {
  EnsureLayout();
  const QPoint clamped(std::clamp(pos.x(), plotRect_.left(), plotRect_.right()),
                       std::clamp(pos.y(), plotRect_.top(), plotRect_.bottom()));
  if (clamped != pos && isVisible()) QCursor::setPos(mapToGlobal(clamped));
  infoPos_ = clamped - plotRect_.topLeft();
  update(plotRect_);
}

void TMMSpectrum::EndReadout() {
  infoActive_ = false;
  calc_.SetInfoActive(false);
  setToolTip(savedToolTip_);
  savedToolTip_.clear();
  plotDirty_ = true;
  update();
}

}  // namespace tv
