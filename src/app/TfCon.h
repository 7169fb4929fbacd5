// "Convert and Normalize a wavefile": prepares a wave file for decoding
// (16-bit stereo 44100 Hz, then normalised). The main window runs it on every
// file it loads; the tools menu shows it for files of the user's choice.
#pragma once

#include <QDialog>

#include "DtmfConverter.h"

class QLabel;
class QPushButton;

namespace tv {

class TMMGauge;

class TfCon : public QDialog {
  Q_OBJECT

 public:
  explicit TfCon(QWidget* parent = nullptr);

  // The two steps; each answers the name of the file it wrote (see
  // DtmfConverter). Errors of the wave files propagate to the caller.
  QString ConvertForDtmf(const QString& source);
  QString NormalizeFile(const QString& name);

  void Button1Click();
  void Button2Click();

  QPushButton* Button1;  // "Load wavfile"
  QPushButton* Button2;  // "Done"
  TMMGauge* Gauge1;      // converting
  TMMGauge* Gauge;       // scanning, then normalising
  QLabel* LabGauge1;
  QLabel* LabGauge;
  QLabel* Label2;   // peak
  QLabel* LabGain;  // gain
  QLabel* labdest;  // the result file

 private:
  DtmfConverter converter_;
};

}  // namespace tv
