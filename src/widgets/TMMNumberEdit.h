// A number edit: a line edit whose value is its text read as a decimal
// integer. Text that is not a number reads as the minimum, a number outside
// the range reads clamped, and setting a value clamps it to the range.
#pragma once

#include <QLineEdit>

class QRegularExpressionValidator;

namespace tv {

class TMMNumberEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TMMNumberEdit(QWidget* parent = nullptr);

  int MinValue() const { return min_; }
  int MaxValue() const { return max_; }
  void SetRange(int minValue, int maxValue);

  int Value() const;
  void SetValue(int value);

  // The value a text reads as under a range.
  static int Parse(const QString& text, int minValue, int maxValue);

 private:
  void UpdateValidator();
  void Normalize();

  QRegularExpressionValidator* validator_;
  int min_ = 0;
  int max_ = 2147483647;
};

}  // namespace tv
