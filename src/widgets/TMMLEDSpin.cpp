#include "TMMLEDSpin.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>
#include <QWheelEvent>
#include <algorithm>
#include <cstdlib>

#include "LedPaint.h"

namespace tv {

namespace {

int DigitCount(long long v) {
  v = std::llabs(v);
  int n = 1;
  while (v >= 10) {
    v /= 10;
    ++n;
  }
  return n;
}

constexpr int kInitialDelayMs = 400;
constexpr int kRepeatMs = 60;

}  // namespace

TMMLEDSpin::TMMLEDSpin(QWidget* parent) : QWidget(parent), lit_(led::kAqua) {
  setFocusPolicy(Qt::StrongFocus);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  repeat_.setSingleShot(false);
  connect(&repeat_, &QTimer::timeout, this, &TMMLEDSpin::Repeat);
}

void TMMLEDSpin::SetValue(int value) {
  if (!isEnabled()) return;
  value = std::clamp(value, min_, max_);
  if (value == value_) return;
  value_ = value;
  update();
  emit valueChanged(value_);
}

void TMMLEDSpin::SetRange(int minValue, int maxValue) {
  if (maxValue < minValue) std::swap(minValue, maxValue);
  min_ = minValue;
  max_ = maxValue;
  updateGeometry();
  update();
  const int clamped = std::clamp(value_, min_, max_);
  if (clamped != value_) {
    value_ = clamped;
    emit valueChanged(value_);
  }
}

void TMMLEDSpin::SetIncrement(int increment) { increment_ = std::max(1, increment); }

void TMMLEDSpin::SetDigits(int digits) {
  digits_ = std::clamp(digits, 1, 10);
  updateGeometry();
  update();
}

void TMMLEDSpin::SetLitColor(const QColor& color) {
  lit_ = color;
  update();
}

int TMMLEDSpin::DisplayCells() const {
  const int needed = std::max({digits_, DigitCount(min_), DigitCount(max_)});
  return needed + (min_ < 0 ? 1 : 0);
}

QString TMMLEDSpin::DisplayText() const {
  QString text = QString::number(std::llabs(static_cast<long long>(value_)))
                     .rightJustified(digits_, QLatin1Char('0'));
  if (value_ < 0) {
    text.prepend(QLatin1Char('-'));
  } else if (min_ < 0) {
    text.prepend(QLatin1Char(' '));
  }
  return text;
}

void TMMLEDSpin::StepUp() {
  if (stepOnClick_) SetValue(value_ > max_ - increment_ ? max_ : value_ + increment_);
  emit upClick();
}

void TMMLEDSpin::StepDown() {
  if (stepOnClick_) SetValue(value_ < min_ + increment_ ? min_ : value_ - increment_);
  emit downClick();
}

QRectF TMMLEDSpin::FieldRect(const QRectF& rect) const {
  const qreal arrows = std::max<qreal>(14, rect.height() * 0.6);
  return {rect.left(), rect.top(), rect.width() - arrows, rect.height()};
}

QRectF TMMLEDSpin::ArrowRect(const QRectF& rect, Arrow arrow) const {
  const QRectF field = FieldRect(rect);
  const qreal w = rect.right() - field.right();
  const qreal h = rect.height() / 2;
  return {field.right(), arrow == Arrow::Up ? rect.top() : rect.top() + h, w, h};
}

void TMMLEDSpin::paint(QPainter& painter, const QRectF& rect) const {
  const QRectF field = FieldRect(rect);
  const QColor lit = isEnabled() ? lit_ : led::Unlit(lit_, led::kPanelBlack).lighter(250);
  led::PaintSevenSegment(painter, field.adjusted(2, 2, -2, -2), DisplayText(), DisplayCells(), lit,
                         led::kPanelBlack);
  painter.save();
  // A sunken bezel round the field.
  painter.setPen(QPen(QColor(40, 40, 40), 2));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(field.adjusted(1, 1, -1, -1));
  painter.setRenderHint(QPainter::Antialiasing, true);
  for (Arrow a : {Arrow::Up, Arrow::Down}) {
    const QRectF r = ArrowRect(rect, a).adjusted(1, 0.5, -0.5, -0.5);
    const bool down = pressed_ == a;
    QLinearGradient face(r.topLeft(), r.bottomLeft());
    face.setColorAt(0, down ? QColor(150, 150, 150) : QColor(236, 236, 236));
    face.setColorAt(1, down ? QColor(185, 185, 185) : QColor(190, 190, 190));
    painter.setPen(QPen(QColor(95, 95, 95), 1));
    painter.setBrush(face);
    painter.drawRoundedRect(r, 2, 2);
    const QPointF c = r.center();
    const qreal s = std::min(r.width(), r.height()) * 0.22;
    QPolygonF tri;
    if (a == Arrow::Up) {
      tri << QPointF(c.x() - s * 1.3, c.y() + s * 0.7) << QPointF(c.x() + s * 1.3, c.y() + s * 0.7)
          << QPointF(c.x(), c.y() - s * 0.8);
    } else {
      tri << QPointF(c.x() - s * 1.3, c.y() - s * 0.7) << QPointF(c.x() + s * 1.3, c.y() - s * 0.7)
          << QPointF(c.x(), c.y() + s * 0.8);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(isEnabled() ? QColor(30, 30, 30) : QColor(140, 140, 140));
    painter.drawPolygon(tri);
  }
  painter.restore();
}

QSize TMMLEDSpin::sizeHint() const {
  const int h = 26;
  return {static_cast<int>(DisplayCells() * h * 0.62) + 10 + 16, h};
}

void TMMLEDSpin::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  paint(painter, QRectF(rect()));
  if (hasFocus()) {
    painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(FieldRect(QRectF(rect())).adjusted(0.5, 0.5, -0.5, -0.5));
  }
}

void TMMLEDSpin::Press(Arrow arrow) {
  if (arrow == Arrow::Up) {
    StepUp();
  } else if (arrow == Arrow::Down) {
    StepDown();
  }
}

void TMMLEDSpin::Repeat() {
  repeat_.setInterval(kRepeatMs);
  Press(pressed_);
}

void TMMLEDSpin::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  const QPointF p = event->position();
  for (Arrow a : {Arrow::Up, Arrow::Down}) {
    if (ArrowRect(QRectF(rect()), a).contains(p)) {
      pressed_ = a;
      update();
      Press(a);
      repeat_.start(kInitialDelayMs);
      return;
    }
  }
}

void TMMLEDSpin::mouseReleaseEvent(QMouseEvent* event) {
  repeat_.stop();
  if (pressed_ != Arrow::None) {
    pressed_ = Arrow::None;
    update();
  }
  QWidget::mouseReleaseEvent(event);
}

void TMMLEDSpin::wheelEvent(QWheelEvent* event) {
  const int dy = event->angleDelta().y();
  if (dy > 0) {
    StepUp();
  } else if (dy < 0) {
    StepDown();
  }
  event->accept();
}

void TMMLEDSpin::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Plus:
      StepUp();
      break;
    case Qt::Key_Down:
    case Qt::Key_Minus:
      StepDown();
      break;
    case Qt::Key_Home:
      SetValue(min_);
      break;
    case Qt::Key_End:
      SetValue(max_);
      break;
    default:
      QWidget::keyPressEvent(event);
  }
}

void TMMLEDSpin::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange && !isEnabled()) {
    repeat_.stop();
    pressed_ = Arrow::None;
  }
  QWidget::changeEvent(event);
}

}  // namespace tv
