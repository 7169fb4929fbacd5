// An LED spin box: a seven-segment number field with up and down arrows.
// Setting a value from code behaves like a user change: it is clamped to the
// range, valueChanged fires only when the value really changes, and a
// disabled spin box ignores new values altogether.
#pragma once

#include <QColor>
#include <QTimer>
#include <QWidget>

namespace tv {

class TMMLEDSpin : public QWidget {
  Q_OBJECT

 public:
  explicit TMMLEDSpin(QWidget* parent = nullptr);

  int Value() const { return value_; }
  void SetValue(int value);

  int MinValue() const { return min_; }
  int MaxValue() const { return max_; }
  // Narrowing the range pulls the value inside it (a real change, so it
  // fires valueChanged).
  void SetRange(int minValue, int maxValue);

  int Increment() const { return increment_; }
  void SetIncrement(int increment);

  // Digits shown at least (zero-filled); more appear when the range needs them.
  int Digits() const { return digits_; }
  void SetDigits(int digits);

  // When off, the arrows only report upClick/downClick and leave the value
  // to the handler.
  bool StepOnClick() const { return stepOnClick_; }
  void SetStepOnClick(bool on) { stepOnClick_ = on; }

  QColor LitColor() const { return lit_; }
  void SetLitColor(const QColor& color);

  // What the field shows for the current value, e.g. "-010" or " 000".
  QString DisplayText() const;
  int DisplayCells() const;

  void StepUp();
  void StepDown();

  void paint(QPainter& painter, const QRectF& rect) const;
  QSize sizeHint() const override;

 signals:
  void valueChanged(int value);
  void upClick();
  void downClick();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  enum class Arrow { None, Up, Down };
  QRectF FieldRect(const QRectF& rect) const;
  QRectF ArrowRect(const QRectF& rect, Arrow arrow) const;
  void Press(Arrow arrow);
  void Repeat();

  int value_ = 0;
  int min_ = 0;
  int max_ = 100;
  int increment_ = 1;
  int digits_ = 1;
  bool stepOnClick_ = true;
  QColor lit_;
  Arrow pressed_ = Arrow::None;
  QTimer repeat_;
};

}  // namespace tv
