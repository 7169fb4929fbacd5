// An LED-style text label: a row of dot-matrix character cells, aqua on
// black by default. The picture is composed off-screen and copied to the
// screen; paint() draws the same picture onto any painter (printing).
#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>

namespace tv {

class TMMLEDLabel : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kDefaultCells = 61;

  explicit TMMLEDLabel(QWidget* parent = nullptr);

  QString Caption() const { return caption_; }
  void SetCaption(const QString& caption);
  void Append(const QString& text);
  void Clear() { SetCaption(QString()); }

  // Number of character cells shown; the caption itself may be longer.
  int Cells() const { return cells_; }
  void SetCells(int cells);

  // Where a caption shorter than the cells stands (left, centre or right).
  Qt::Alignment Alignment() const { return alignment_; }
  void SetAlignment(Qt::Alignment alignment);

  QColor LitColor() const { return lit_; }
  void SetLitColor(const QColor& color);
  QColor BackColor() const { return back_; }
  void SetBackColor(const QColor& color);

  // The characters that the cells show: a caption longer than the cells
  // shows its end, so the newest characters of a growing caption stay in
  // view.
  QString VisibleText() const;
  // The cell the visible text starts in.
  int FirstCell() const;

  void paint(QPainter& painter, const QRectF& rect) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  void captionChanged(const QString& caption);
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void Invalidate();

  QString caption_;
  int cells_ = kDefaultCells;
  Qt::Alignment alignment_ = Qt::AlignLeft;
  QColor lit_;
  QColor back_;
  QImage picture_;
  bool dirty_ = true;
};

}  // namespace tv
