// "Normalize Wave file": scales a PCM wave file so that its loudest sample
// reaches full scale, into a new file the user names. The two passes run on
// a worker thread while the window shows their progress.
#pragma once

#include <QDialog>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class QGridLayout;
class QLabel;

namespace tv {

class TMMGauge;
class WaveNormalizer;
struct NormalizeOutcome;

// Lets a window follow a normalisation that runs on a worker thread: the
// gauge and its caption ("Scanning...", "Normalize..."), the peak and the
// gain labels, updated on the GUI thread.
void ShowNormalizeProgress(WaveNormalizer& normalizer, QLabel* caption, TMMGauge* gauge,
                           QLabel* peak, QLabel* gain);
// The "Peak :" and "Gain :" read-outs (Label2, LabGain) in one grid row.
void AddPeakAndGainRow(QGridLayout& grid, int row, QLabel*& peak, QLabel*& gain);

class TfNormalize : public QDialog {
  Q_OBJECT

 public:
  explicit TfNormalize(QWidget* parent = nullptr);
  ~TfNormalize() override;

  void btnFileClick();
  void Button2Click();
  // Both passes over `fileName`; asks for the destination in between.
  // Refused (false) while a normalisation runs.
  bool Normalise(const QString& fileName);
  bool Busy() const { return worker_.joinable(); }

 protected:
  // The window stays while it works.
  void done(int result) override;

 private:
  std::string AskDestination(const QString& fileName);
  void Finished(const QString& fileName, const NormalizeOutcome& outcome, const QString& error);

  QLabel* sourceLabel_;
  QLabel* destinationLabel_;
  QLabel* peakLabel_;
  QLabel* gainLabel_;
  QLabel* gaugeCaption_;
  TMMGauge* gauge_;
  std::thread worker_;

  // The destination the worker waits for between the passes.
  std::mutex destinationLock_;
  std::condition_variable destinationGiven_;
  std::optional<std::string> destination_;
};

}  // namespace tv
