// The level meter strip along the right edge of the spectrum: the two
// vertical meters MMLevel1 and MMLevel2 with the level scale between them.
#pragma once

#include <QFrame>

namespace tv {

class TLevelStrip : public QFrame {
  Q_OBJECT

 public:
  static constexpr int kWidth = 109;

  explicit TLevelStrip(QWidget* parent = nullptr);

  // The meters of the left and right channel.
  QWidget* LeftMeter() const { return left_; }
  QWidget* RightMeter() const { return right_; }
  // The column between the meters, where the scale stands.
  QWidget* ScaleSlot() const { return scale_; }

 private:
  QWidget* left_;
  QWidget* right_;
  QWidget* scale_;
};

}  // namespace tv
