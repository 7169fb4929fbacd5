// The progress gauge: a sunken bar 0 to 100 percent with the percentage
// printed across it.
#pragma once

#include <QColor>
#include <QWidget>

namespace tv {

class TMMGauge : public QWidget {
  Q_OBJECT

 public:
  explicit TMMGauge(QWidget* parent = nullptr);

  int Progress() const { return progress_; }
  // Clamped to 0..100.
  void SetProgress(int percent);

  QColor ForeColor() const { return fore_; }
  void SetForeColor(const QColor& color);

  void paint(QPainter& painter, const QRectF& rect) const;
  QSize sizeHint() const override { return {160, 18}; }

 signals:
  void progressChanged(int percent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int progress_ = 0;
  QColor fore_;
};

}  // namespace tv
