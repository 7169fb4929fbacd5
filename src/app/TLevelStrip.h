// The level meter strip along the right edge of the spectrum: the two
// vertical meters MMLevel1 and MMLevel2 with the level scale between them.
#pragma once

#include <QFrame>

namespace tv {

class TMMLevel;
class TMMLevelScale;

class TLevelStrip : public QFrame {
  Q_OBJECT

 public:
  static constexpr int kWidth = 109;

  explicit TLevelStrip(QWidget* parent = nullptr);

  // The meters of the left and right channel.
  TMMLevel* LeftMeter() const { return left_; }
  TMMLevel* RightMeter() const { return right_; }
  TMMLevelScale* Scale() const { return scale_; }

 private:
  TMMLevel* left_;
  TMMLevel* right_;
  TMMLevelScale* scale_;
};

}  // namespace tv
