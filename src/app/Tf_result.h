// "Results of decodated files": the decoded strings of every scan since the
// program started, with the options for their form and for the clipboard,
// and saving them as a text file.
#pragma once

#include <QDialog>
#include <QStringList>
#include <functional>

class QCheckBox;
class QPlainTextEdit;
class QPushButton;
class QTime;

namespace tv {

class TMMRadioGroup;

class Tf_result : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kWidth = 476;
  static constexpr int kHeight = 378;

  explicit Tf_result(QWidget* parent = nullptr);

  // Adds the lines of one scan: the time, the file and the result, then an
  // empty line; or, with "Save only the result", the result alone.
  void AddResult(const QString& result, const QString& fileName);
  // Adds one line at the end of the memo.
  void AddLine(const QString& line);
  // The memo as lines; a final line break does not start another line.
  QStringList Lines() const;

  // Writes the lines, each ended by CR LF, in the 8-bit Latin-1 code page
  // (characters it lacks become '?'), replacing the file. On failure the
  // file is left as it was and `error` tells why.
  bool SaveToFile(const QString& path, QString* error) const;

  // The time of day as the locale's long time format shows it (without the
  // time zone).
  static QString LongTimeText(const QTime& time);

  // The prompt for the file name to save to; an empty answer cancels. Tests
  // replace it.
  using FilePrompt = std::function<QString(QWidget* parent)>;
  void SetSaveDialog(FilePrompt prompt) { saveDialog_ = std::move(prompt); }

  // cb_clip: whether each result goes to the clipboard too.
  bool CopiesToClipboard() const;

  void btn_saveClick();
  void btn_closeClick();
  void FormShow();
  void FormClose();

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;

 private:
  QString RunSaveDialog(QWidget* parent);

  QPlainTextEdit* memo_;
  TMMRadioGroup* formGroup_;
  QCheckBox* clipboardBox_;
  FilePrompt saveDialog_;
  QString lastFolder_;
};

}  // namespace tv
