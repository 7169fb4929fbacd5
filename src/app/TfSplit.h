// "Split Stereo Wave file in two Mono files": writes the left and the right
// channel of a 16-bit stereo wave file into B_L.E and B_R.E beside it.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace tv {

class TMMGauge;

// The result labels: the name without its folder, two blanks, whole
// kilobytes of data and " kb".
QString WaveSizeText(const QString& file, qint64 dataBytes);

class TfSplit : public QDialog {
  Q_OBJECT

 public:
  explicit TfSplit(QWidget* parent = nullptr);

  void Button1Click();
  void Button2Click();
  // Splits a file as Button1 does once the user has chosen it.
  void SplitFile(const QString& fileName);

  QPushButton* Button1;    // "Load and Split wave file"
  QPushButton* Button2;    // "Done"
  QPushButton* btnCancel;  // shown while a file is split
  QLabel* labSource;
  QLabel* labdest;  // left result
  QLabel* Label2;   // right result
  TMMGauge* Gauge;

 private:
  bool cancel_ = false;
};

}  // namespace tv
