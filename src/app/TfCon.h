// "Convert and Normalize a wavefile": prepares a wave file for decoding
// (16-bit stereo 44100 Hz, then normalised). The main window runs it on every
// file it loads; the tools menu shows it for files of the user's choice.
// The work runs on a worker thread while the window shows its progress;
// input to the program's other windows waits until it is done.
#pragma once

#include <QDialog>
#include <atomic>
#include <functional>
#include <thread>

#include "DtmfConverter.h"

class QLabel;
class QPushButton;

namespace tv {

class TMMGauge;

class TfCon : public QDialog {
  Q_OBJECT

 public:
  // The name of the file to use (empty for a file that is not PCM), or
  // what went wrong.
  using TPrepared = std::function<void(const QString& name, const QString& error)>;

  explicit TfCon(QWidget* parent = nullptr);
  ~TfCon() override;

  // ConvertForDtmf, then NormalizeFile on its result (see DtmfConverter).
  // Shows the window; `done` runs on the GUI thread when both are through.
  // Refused (false) while a preparation runs.
  bool Prepare(const QString& source, TPrepared done);
  bool Busy() const { return worker_.joinable(); }

  void Button1Click();
  void Button2Click();

 protected:
  // The window stays while it works.
  void done(int result) override;

 private:
  void Prepared(const QString& name, const QString& error);
  void ShowConvertProgress(int percent);

  QPushButton* doneButton_;
  TMMGauge* convertGauge_;
  QLabel* destinationLabel_;
  DtmfConverter converter_;
  std::thread worker_;
  TPrepared done_;
  std::atomic<int> convertPercent_{-1};
};

}  // namespace tv
