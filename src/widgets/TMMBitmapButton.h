// A transport button with a drawn symbol (load, play, pause, stop, seek,
// record, loop). Buttons that show a pressed state are checkable; the
// program presses and releases them through SetPressed.
#pragma once

#include <QToolButton>

namespace tv {

class TMMBitmapButton : public QToolButton {
  Q_OBJECT

 public:
  enum class Glyph { Load, Play, Pause, Stop, Forward, Rewind, Record, Loop };

  explicit TMMBitmapButton(Glyph glyph, QWidget* parent = nullptr);

  Glyph Symbol() const { return glyph_; }
  bool Pressed() const { return isChecked(); }
  // Shows or clears the pressed state (makes the button checkable).
  void SetPressed(bool pressed);
  // Buttons that stay down while their action runs.
  void SetShowsPressedState(bool on) { setCheckable(on); }

  // The symbol drawn at a size, in a colour.
  static QPixmap Render(Glyph glyph, int size, const QColor& color);

 private:
  Glyph glyph_;
};

}  // namespace tv
