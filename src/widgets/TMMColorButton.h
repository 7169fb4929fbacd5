// A colour button: shows its colour, and a click offers the standard colours
// and "&Other..." for any colour. Setting the colour from code behaves like a
// user's choice: colorChanged fires only when the colour really changes.
#pragma once

#include <QColor>
#include <QPushButton>
#include <cstdint>
#include <functional>

namespace tv {

// Colours as settings files store them: 0x00BBGGRR.
QColor ColorFromRgbValue(int32_t value);
int32_t RgbValueOf(const QColor& color);

class TMMColorButton : public QPushButton {
  Q_OBJECT

 public:
  explicit TMMColorButton(QWidget* parent = nullptr);

  QColor Color() const { return color_; }
  // An invalid colour is ignored.
  void SetColor(const QColor& color);

  // How "&Other..." asks for a colour; tests answer at once. Returns an
  // invalid colour when cancelled.
  using TColorPrompt = std::function<QColor(QWidget* parent, const QColor& initial)>;
  static void SetColorPrompt(TColorPrompt prompt);

  // Runs "&Other...".
  void ChooseOther();

  QSize sizeHint() const override;

 signals:
  void colorChanged(const QColor& color);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor color_{Qt::black};
};

}  // namespace tv
