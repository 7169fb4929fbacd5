// The third Analyzer panel: freezing the spectrum and restarting it, and
// what the spectrum shows (peak frequency, grid, peak hold).
#pragma once

#include <QFrame>

class QCheckBox;
class QLabel;

namespace tv {

class TAnalyzerFreezePanel : public QFrame {
  Q_OBJECT

 public:
  explicit TAnalyzerFreezePanel(QWidget* parent = nullptr);

  QCheckBox* DisplayPeak() const { return peakBox_; }   // CheckBox5
  QCheckBox* DisplayGrid() const { return gridBox_; }   // CheckBox6
  QCheckBox* PeakHold() const { return holdBox_; }      // CheckBox7

 signals:
  void freezeClicked();
  void restartClicked();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLabel* freezeLabel_;
  QLabel* restartLabel_;
  QCheckBox* peakBox_;
  QCheckBox* gridBox_;
  QCheckBox* holdBox_;
};

}  // namespace tv
