// The first Analyzer panel: the spectrum's frequency scale factor and the
// decay of the spectrum and the level meters.
#pragma once

#include <QFrame>

namespace tv {

class TMMLEDSpin;

class TAnalyzerScalePanel : public QFrame {
  Q_OBJECT

 public:
  explicit TAnalyzerScalePanel(QWidget* parent = nullptr);

  // LEDSpinYScale: its arrows ask the spectrum to double or halve its
  // frequency scale, and it then shows the scale the spectrum took.
  TMMLEDSpin* FrequencyScale() const { return scaleSpin_; }
  // MMLEDSpin55, 5..10.
  TMMLEDSpin* Decay() const { return decaySpin_; }

 private:
  TMMLEDSpin* scaleSpin_;
  TMMLEDSpin* decaySpin_;
};

}  // namespace tv
