#include "TMMLevel.h"

#include <QMetaObject>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cstdlib>

#include "MMPCMSup.h"
#include "TMMConnector.h"

namespace tv {

namespace {

const QColor kAqua(0, 255, 255);
const QColor kTeal(0, 128, 128);
const QColor kRed(255, 0, 0);
const QColor kMaroon(128, 0, 0);

// A lowered frame `width` pixels wide: shadow above and left, light below
// and right.
void DrawLoweredBevel(QPainter& p, const QRect& r, int width) {
  for (int i = 0; i < width; ++i) {
    const QRect e = r.adjusted(i, i, -i - 1, -i - 1);
    p.setPen(QColor(128, 128, 128));
    p.drawLine(e.topLeft(), e.topRight());
    p.drawLine(e.topLeft(), e.bottomLeft());
    p.setPen(QColor(255, 255, 255));
    p.drawLine(e.bottomLeft(), e.bottomRight());
    p.drawLine(e.topRight(), e.bottomRight());
  }
}

}  // namespace

TMMLevel::TMMLevel(QWidget* parent)
    : QWidget(parent),
      // The countdown runs on the timer's thread: only post a repaint from there.
      calc_([this] { QMetaObject::invokeMethod(this, [this] { update(); }, Qt::QueuedConnection); }),
      bar_{kAqua, kAqua, kRed},
      inactive_{kTeal, kTeal, kMaroon},
      color_(Qt::black) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  calc_.SetVisible(false);
  calc_.OnChange = [this](TMMLevelCalc*) { update(); };
  calc_.OnGainOverflow = [this](TMMLevelCalc*) {
    if (OnGainOverflow) OnGainOverflow(this);
  };
  calc_.OnPcmOverflow = [this](TMMLevelCalc*) {
    if (OnPcmOverflow) OnPcmOverflow(this);
  };
  calc_.OnIntegral = [this](TMMLevelCalc*) {
    if (OnIntegral) OnIntegral(this);
  };
  resize(200, 17);
  Relayout();
}

TMMLevel::TMMLevel(Design design, QWidget* parent) : TMMLevel(parent) { ApplyDesign(design); }

// Unlinked before the widget goes, so no feed reaches it half destroyed.
TMMLevel::~TMMLevel() { TMMConnector::DisplayRemoved(&calc_); }

void TMMLevel::ApplyDesign(Design design) {
  static const char* const kNames[] = {"MMLevel1", "MMLevel2", "MMLevel3", "MMLevel4"};
  setObjectName(QString::fromLatin1(kNames[static_cast<int>(design)]));
  const auto format = MakePcmFormat(16, 2, 44100);
  calc_.AssignFormat(format.get());
  const bool left = design == Design::MMLevel1 || design == Design::MMLevel3;
  calc_.SetChannel(left ? chLeft : chRight);
  calc_.SetSensitivy(-60);
  calc_.SetDecayMode(dmStepUp);
  calc_.SetDecay(10);
  if (design == Design::MMLevel1 || design == Design::MMLevel2) {
    // Tall meters along the right edge of the spectrum; only the top spot red.
    SetKind(lkVertical);
    calc_.SetPoint2(99);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
  } else {
    SetKind(lkHorizontal);
  }
  SetSpotWidth(2);
  SetSpotSpace(1);
  SetBevel(1);
}

// ---------------------------------------------------------------------------
// Properties

void TMMLevel::SetKind(TMMLevelKind value) {
  if (value == kind_) return;
  kind_ = value;
  if ((kind_ == lkVertical && width() > height()) || (kind_ == lkHorizontal && height() > width()))
    resize(height(), width());
  updateGeometry();
  Relayout();
}

void TMMLevel::SetDirection(TMMLevelDirection value) {
  calc_.SetDirection(value);
  Relayout();
}

void TMMLevel::SetSpotSpace(int32_t value) {
  calc_.SetSpotSpace(value);
  Relayout();
}

void TMMLevel::SetSpotWidth(int32_t value) {
  calc_.SetSpotWidth(value);
  Relayout();
}

void TMMLevel::SetPoint1(int32_t value) {
  calc_.SetPoint1(value);
  Relayout();
}

void TMMLevel::SetPoint2(int32_t value) {
  calc_.SetPoint2(value);
  Relayout();
}

void TMMLevel::SetInactiveDoted(bool value) {
  inactiveDoted_ = value;
  Relayout();
}

void TMMLevel::SetActiveDoted(bool value) {
  activeDoted_ = value;
  update();
}

void TMMLevel::SetBevel(int value) {
  value = std::clamp(value, 0, 10);
  if (value == bevel_) return;
  bevel_ = value;
  Relayout();
}

void TMMLevel::SetColorOf(QColor& slot, const QColor& c) {
  if (slot == c) return;
  slot = c;
  backgroundValid_ = false;
  update();
}

void TMMLevel::Relayout() {
  SyncBarLength();
  backgroundValid_ = false;
  update();
}

void TMMLevel::SyncBarLength() {
  const QRect bar = BarRect();
  const int length = std::max(0, kind_ == lkHorizontal ? bar.width() : bar.height());
  if (length == calc_.BarLength()) return;
  calc_.SetBarLength(length);
  backgroundValid_ = false;
}

QSize TMMLevel::sizeHint() const { return kind_ == lkHorizontal ? QSize(200, 17) : QSize(17, 200); }

// ---------------------------------------------------------------------------
// Drawing

QRect TMMLevel::BarRect() const { return rect().adjusted(bevel_, bevel_, -bevel_, -bevel_); }

QRect TMMLevel::SpotRect(int spot) const {
  const QRect bar = BarRect();
  const int w = calc_.SpotWidth();
  const int along = calc_.Margin() + (spot - 1) * (w + calc_.SpotSpace());
  const bool reversed = calc_.Direction() == dirReversed;
  if (kind_ == lkHorizontal) {
    const int x = reversed ? bar.left() + bar.width() - along - w : bar.left() + along;
    return QRect(x, bar.top(), w, bar.height());
  }
  // Vertical meters fill upwards.
  const int y = reversed ? bar.top() + along : bar.top() + bar.height() - along - w;
  return QRect(bar.left(), y, bar.width(), w);
}

int TMMLevel::ZoneOf(int place) const {
  if (place <= calc_.Zone1()) return 0;
  if (place <= calc_.Zone2()) return 1;
  return 2;
}

// A symmetric meter lights rings of spots outwards from the middle; ring r
// stands for 2r spots of the ordinary bar.
int TMMLevel::RingOf(int spot) const {
  return (std::abs(2 * spot - calc_.Spots() - 1) + 2) / 2;
}

void TMMLevel::FillSpot(QPainter& p, int spot, const QColor& c, bool dotted) const {
  p.fillRect(SpotRect(spot), dotted ? QBrush(c, Qt::Dense4Pattern) : QBrush(c));
}

void TMMLevel::DrawBackground(QPainter& p) {
  p.fillRect(rect(), color_);
  DrawLoweredBevel(p, rect(), bevel_);
  const bool symmetric = calc_.Direction() == dirSymetric;
  for (int s = 1; s <= calc_.Spots(); ++s)
    FillSpot(p, s, inactive_[ZoneOf(symmetric ? 2 * RingOf(s) : s)], inactiveDoted_);
}

void TMMLevel::DrawBar(QPainter& p, int lit, int peak) {
  const int n = calc_.Spots();
  const int firstPeak = std::max(1, peak - calc_.NumPeaks() + 1);
  const bool showPeak = peak > lit && calc_.NumPeaks() > 0;
  if (calc_.Direction() == dirSymetric) {
    for (int s = 1; s <= n; ++s) {
      const int ring = RingOf(s);
      if (ring <= lit)
        FillSpot(p, s, bar_[ZoneOf(2 * ring)], activeDoted_);
      else if (showPeak && ring >= firstPeak && ring <= peak)
        FillSpot(p, s, bar_[ZoneOf(2 * ring)], activeDoted_);
    }
    return;
  }
  for (int s = 1; s <= std::min(lit, n); ++s) FillSpot(p, s, bar_[ZoneOf(s)], activeDoted_);
  if (showPeak)
    for (int s = std::max(firstPeak, lit + 1); s <= std::min(peak, n); ++s)
      FillSpot(p, s, bar_[ZoneOf(s)], activeDoted_);
}

void TMMLevel::paint(QPainter& painter, const QRectF& target) {
  painter.save();
  painter.translate(target.topLeft());
  if (target.size() != QSizeF(size()) && width() > 0 && height() > 0)
    painter.scale(target.width() / width(), target.height() / height());
  painter.setClipRect(rect());
  // A control resized while hidden hears of it only when shown.
  SyncBarLength();
  const int lit = calc_.Lit();
  const int peak = calc_.PeakSpot();
  if (OnDrawBar) {
    painter.fillRect(rect(), color_);
    DrawLoweredBevel(painter, rect(), bevel_);
    OnDrawBar(this, painter, BarRect(), lit, peak);
  } else {
    if (!backgroundValid_ || background_.size() != size()) {
      background_ = QImage(size(), QImage::Format_RGB32);
      if (!background_.isNull()) {
        QPainter bp(&background_);
        DrawBackground(bp);
      }
      backgroundValid_ = true;
    }
    painter.drawImage(0, 0, background_);
    DrawBar(painter, lit, peak);
  }
  if (OnPaint) OnPaint(this, painter);
  painter.restore();
}

void TMMLevel::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  paint(painter, QRectF(rect()));
}

void TMMLevel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Relayout();
}

void TMMLevel::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  calc_.SetVisible(true);
}

void TMMLevel::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  calc_.SetVisible(false);
}

}  // namespace tv
