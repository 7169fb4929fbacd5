#include "TMMLevelScale.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "MMUtils.h"

namespace tv {

TMMLevelScale::TMMLevelScale(QWidget* parent)
    : QWidget(parent), scaleColor_{Qt::white, Qt::white, Qt::red}, color_(Qt::black) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  QFont f;
  f.setFamilies({QStringLiteral("Small Fonts"), QStringLiteral("DejaVu Sans"),
                 QStringLiteral("Liberation Sans")});
  f.setPointSize(7);
  setFont(f);
  scale_.OnChange = [this](TMMScale*) { update(); };
  resize(sizeHint());
}

void TMMLevelScale::ApplyDecoderDesign(int inset) {
  setObjectName(QStringLiteral("MMLevelScale1"));
  SetKind(lkVertical);
  SetScaleTicks(21);
  SetSensitivy(-60);
  SetInset(inset);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
  resize(sizeHint().width(), height());
}

// ---------------------------------------------------------------------------
// Properties

void TMMLevelScale::SetScaleTicks(int value) {
  value = std::clamp(value, 2, 200);
  if (value == scaleTicks_) return;
  scaleTicks_ = value;
  update();
}

void TMMLevelScale::SetPoint1(int value) {
  point1_ = std::clamp(value, 1, 100);
  update();
}

void TMMLevelScale::SetPoint2(int value) {
  point2_ = std::clamp(value, 1, 100);
  update();
}

void TMMLevelScale::SetSensitivy(int value) {
  sensitivy_ = std::clamp(value, -90, -9);
  update();
}

void TMMLevelScale::SetLogAmp(bool value) {
  logAmp_ = value;
  update();
}

void TMMLevelScale::SetKind(TMMLevelKind value) {
  if (value == kind_) return;
  kind_ = value;
  if ((kind_ == lkVertical && width() > height()) || (kind_ == lkHorizontal && height() > width()))
    resize(height(), width());
  updateGeometry();
  update();
}

void TMMLevelScale::SetDirection(TMMLevelDirection value) {
  direction_ = value;
  update();
}

void TMMLevelScale::SetScalePos(TMMScalePos value) {
  scalePos_ = value;
  update();
}

void TMMLevelScale::SetInset(int value) {
  inset_ = std::clamp(value, 0, 50);
  update();
}

void TMMLevelScale::SetColorOf(QColor& slot, const QColor& c) {
  slot = c;
  update();
}

QSize TMMLevelScale::sizeHint() const {
  const QFontMetrics fm(font());
  const int room = scale_.RoomNeeded() * (scalePos_ == spBoth ? 2 : 1);
  if (kind_ == lkVertical) return {room + fm.horizontalAdvance(QStringLiteral("88")) + 6, 200};
  return {200, room + fm.height() + 2};
}

// ---------------------------------------------------------------------------
// Positions and labels

int TMMLevelScale::Length() const {
  return std::max(1, (kind_ == lkVertical ? height() : width()) - 2 * inset_);
}

int TMMLevelScale::HalfLength() const {
  return direction_ == dirSymetric ? std::max(1, Length() / 2) : Length();
}

int TMMLevelScale::LabelExtent() const {
  const QFontMetrics fm(font());
  if (kind_ == lkVertical) return fm.boundingRect(QStringLiteral("W")).height();
  return fm.horizontalAdvance(QString::number(sensitivy_));
}

int TMMLevelScale::LabelStep() const {
  const int n = scaleTicks_ - 1;
  const int extent = std::max(1, LabelExtent());
  for (int e = 1; e < n; ++e)
    if ((n / e) * extent <= HalfLength()) return e;
  return n;
}

bool TMMLevelScale::Labelled(int j) const {
  const int n = scaleTicks_ - 1;
  if (j == n) return true;
  if (j % LabelStep() != 0) return false;
  // A label too close to the end label would run into it.
  return std::abs(TickPosition(n) - TickPosition(j)) >= LabelExtent();
}

QString TMMLevelScale::LabelText(int j) const {
  const int n = scaleTicks_ - 1;
  int db;
  if (logAmp_) {
    db = MulDivRound(j, sensitivy_, n);
  } else {
    // The linear meter's floor level; position j lies (n - j) / n of the
    // way from it up to full scale.
    const double full = TMMLevelCalc::kFullScale;
    const double floor = full / std::pow(10.0, -sensitivy_ / 20.0);
    const double a = floor + (full - floor) * (n - j) / n;
    db = static_cast<int>(std::lround(20.0 * std::log10(a / full)));
  }
  return QString::number(std::abs(db));
}

QColor TMMLevelScale::LabelColor(int j) const {
  const int n = scaleTicks_ - 1;
  const double percent = 100.0 * (n - j) / n;
  if (percent <= point1_) return scaleColor_[0];
  if (percent <= point2_) return scaleColor_[1];
  return scaleColor_[2];
}

int TMMLevelScale::TickPosition(int j, bool secondHalf) const {
  const int r = TMMScale::TickPosition(j, scaleTicks_, 0, HalfLength());
  const int low = inset_ + r;
  const int high = inset_ + Length() - 1 - r;
  if (direction_ == dirSymetric) return secondHalf ? high : low;
  // Full scale is where the meter's bar ends filling.
  const bool fullAtLow = (kind_ == lkVertical) == (direction_ == dirNormal);
  return fullAtLow ? low : high;
}

// ---------------------------------------------------------------------------
// Drawing

void TMMLevelScale::paint(QPainter& painter, const QRectF& target) {
  painter.save();
  painter.translate(target.topLeft());
  if (target.size() != QSizeF(size()) && width() > 0 && height() > 0)
    painter.scale(target.width() / width(), target.height() / height());
  painter.setClipRect(rect());
  painter.fillRect(rect(), color_);
  painter.setFont(font());

  const bool vertical = kind_ == lkVertical;
  const int room = scale_.RoomNeeded();
  const bool low = scalePos_ != spBelowOrRight;   // left or above
  const bool high = scalePos_ != spAboveOrLeft;   // right or below
  const int across = vertical ? width() : height();

  // Ticks: one run per half of a symmetric scale, each with ScaleTicks marks.
  TMMScale ticks = scale_;
  ticks.OnChange = nullptr;
  ticks.SetTickCount(scaleTicks_);
  const int half = HalfLength();
  const int runs = direction_ == dirSymetric ? 2 : 1;
  for (int run = 0; run < runs; ++run) {
    const int start = run == 0 ? inset_ : inset_ + Length() - half;
    if (vertical) {
      if (low) ticks.Draw(painter, QRect(0, start, room, half), TMMScaleEdge::Left);
      if (high) ticks.Draw(painter, QRect(width() - room, start, room, half), TMMScaleEdge::Right);
    } else {
      if (low) ticks.Draw(painter, QRect(start, 0, half, room), TMMScaleEdge::Top);
      if (high) ticks.Draw(painter, QRect(start, height() - room, half, room), TMMScaleEdge::Bottom);
    }
  }

  // Labels in the band between the tick strips.
  const int bandStart = low ? room : 0;
  const int bandEnd = across - (high ? room : 0);
  const QFontMetrics fm(font());
  const int th = fm.height();
  for (int run = 0; run < runs; ++run) {
    for (int j = 0; j < scaleTicks_; ++j) {
      if (!Labelled(j)) continue;
      const QString text = LabelText(j);
      const int pos = TickPosition(j, run == 1);
      QRect box;
      if (vertical) {
        const int y = std::clamp(pos - th / 2, 0, std::max(0, height() - th));
        box = QRect(bandStart, y, bandEnd - bandStart, th);
      } else {
        const int tw = fm.horizontalAdvance(text);
        const int x = std::clamp(pos - tw / 2, 0, std::max(0, width() - tw));
        box = QRect(x, bandStart, tw, bandEnd - bandStart);
      }
      painter.setPen(LabelColor(j));
      painter.drawText(box, Qt::AlignCenter, text);
    }
  }
  painter.restore();
}

void TMMLevelScale::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  paint(painter, QRectF(rect()));
}

}  // namespace tv
