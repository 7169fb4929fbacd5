// An LED number panel: seven-segment digits with a small unit caption
// ("Hz", "Bit", "kb") beside them.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

namespace tv {

class TMMLEDPanel : public QWidget {
  Q_OBJECT

 public:
  explicit TMMLEDPanel(QWidget* parent = nullptr);

  int Value() const { return value_; }
  void SetValue(int value);

  // Digit cells; a value with more digits shows its lowest ones.
  int Digits() const { return digits_; }
  void SetDigits(int digits);

  QString Unit() const { return unit_; }
  void SetUnit(const QString& unit);

  // Dark (all segments unlit) until a value is set; Blank() returns to it.
  bool IsBlank() const { return blank_; }
  void Blank();

  QString DisplayText() const;

  void paint(QPainter& painter, const QRectF& rect) const;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int value_ = 0;
  int digits_ = 5;
  bool blank_ = true;
  QString unit_;
  QColor lit_;
};

}  // namespace tv
