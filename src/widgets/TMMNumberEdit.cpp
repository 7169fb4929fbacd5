#include "TMMNumberEdit.h"

#include <QRegularExpressionValidator>
#include <algorithm>

namespace tv {

TMMNumberEdit::TMMNumberEdit(QWidget* parent)
    : QLineEdit(parent), validator_(new QRegularExpressionValidator(this)) {
  setValidator(validator_);
  setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  UpdateValidator();
  // What the user leaves behind is shown as the value it stands for.
  connect(this, &QLineEdit::editingFinished, this, &TMMNumberEdit::Normalize);
  SetValue(0);
}

int TMMNumberEdit::Parse(const QString& text, int minValue, int maxValue) {
  bool ok = false;
  const qlonglong v = text.trimmed().toLongLong(&ok, 10);
  if (!ok) {
    // Digits too many for 64 bits are still a number, just a huge one.
    const QString t = text.trimmed();
    static const QRegularExpression kDigits(QStringLiteral("^[+-]?[0-9]+$"));
    if (!kDigits.match(t).hasMatch()) return minValue;
    return t.startsWith(QLatin1Char('-')) ? minValue : maxValue;
  }
  return static_cast<int>(std::clamp<qlonglong>(v, minValue, maxValue));
}

void TMMNumberEdit::SetRange(int minValue, int maxValue) {
  if (maxValue < minValue) std::swap(minValue, maxValue);
  min_ = minValue;
  max_ = maxValue;
  UpdateValidator();
}

int TMMNumberEdit::Value() const { return Parse(text(), min_, max_); }

void TMMNumberEdit::SetValue(int value) {
  const QString t = QString::number(std::clamp(value, min_, max_));
  if (t != text()) setText(t);
}

void TMMNumberEdit::UpdateValidator() {
  // Typing is limited to what can be a number; text set from code is not.
  const QString pattern =
      min_ < 0 ? QStringLiteral("-?[0-9]{0,10}") : QStringLiteral("[0-9]{0,10}");
  validator_->setRegularExpression(QRegularExpression(pattern));
}

void TMMNumberEdit::Normalize() { SetValue(Value()); }

}  // namespace tv
