// "Swap channels in a wave file": writes a copy B_Swap.E of a 16-bit stereo
// wave file with its left and right channel exchanged.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace tv {

class TMMGauge;

class TfSwap : public QDialog {
  Q_OBJECT

 public:
  explicit TfSwap(QWidget* parent = nullptr);

  void Button1Click();
  void Button2Click();
  void SwapFile(const QString& fileName);

  QPushButton* Button1;    // "Load and swap left and right channel"
  QPushButton* Button2;    // "Done"
  QPushButton* btnCancel;  // shown while a file is swapped
  QLabel* labSource;
  QLabel* labdest;
  TMMGauge* Gauge;

 private:
  bool cancel_ = false;
};

}  // namespace tv
