// A round indicator lamp (the overload LEDs): a domed lens that glows in its
// colour when lit and shows dark red glass when off.
#pragma once

#include <QColor>
#include <QWidget>

namespace tv {

class TMMLed : public QWidget {
  Q_OBJECT

 public:
  explicit TMMLed(QWidget* parent = nullptr);

  bool Lit() const { return lit_; }
  void SetLit(bool lit);

  QColor Color() const { return color_; }
  void SetColor(const QColor& color);

  void paint(QPainter& painter, const QRectF& rect) const;
  QSize sizeHint() const override { return {16, 16}; }

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool lit_ = false;
  QColor color_;
};

}  // namespace tv
