// "Normalize Wave file": scales a PCM wave file so that its loudest sample
// reaches full scale, into a new file the user names.
#pragma once

#include <QDialog>

class QGridLayout;
class QLabel;
class QPushButton;

namespace tv {

class TMMGauge;
class WaveNormalizer;

// Lets a window follow a normalisation: the gauge and its caption
// ("Scanning...", "Normalize..."), the peak and the gain labels.
void ShowNormalizeProgress(WaveNormalizer& normalizer, QLabel* caption, TMMGauge* gauge,
                           QLabel* peak, QLabel* gain);
// The "Peak :" and "Gain :" read-outs (Label2, LabGain) in one grid row.
void AddPeakAndGainRow(QGridLayout& grid, int row, QLabel*& peak, QLabel*& gain);

class TfNormalize : public QDialog {
  Q_OBJECT

 public:
  explicit TfNormalize(QWidget* parent = nullptr);

  void btnFileClick();
  void Button2Click();
  // Both passes over `fileName`; asks for the destination in between.
  void Normalise(const QString& fileName);

  QPushButton* btnFile;  // "Load wave file"
  QPushButton* Button2;  // "Done"
  QLabel* labSource;
  QLabel* labdest;
  QLabel* LabGain;
  QLabel* Label2;  // peak
  QLabel* LabGauge;
  TMMGauge* Gauge;
};

}  // namespace tv
