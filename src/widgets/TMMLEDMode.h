// A channel-mode indicator: "MONO" and "STEREO" lamps, at most one lit.
#pragma once

#include <QWidget>

namespace tv {

class TMMLEDMode : public QWidget {
  Q_OBJECT

 public:
  enum class Mode { None, Mono, Stereo };
  explicit TMMLEDMode(QWidget* parent = nullptr);

  Mode CurrentMode() const { return mode_; }
  void SetMode(Mode mode);
  // From a channel count: 1 mono, 2 or more stereo, 0 none.
  void SetChannels(int channels);

  void paint(QPainter& painter, const QRectF& rect) const;
  QSize sizeHint() const override { return {64, 30}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Mode mode_ = Mode::None;
};

}  // namespace tv
