// "Print Spectrum Setup": the stored spectrum to print, the main and
// production labels, the background choice and the memo of the printed
// page; "Print" prints it on the printer chosen with "Printer Setup", or,
// where there is no printer, to a PDF file the user names. "Preview" shows
// the page first.
#pragma once

#include <QDialog>
#include <memory>

#include "TfPrint.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPrinter;
class QPushButton;

namespace tv {

class TMMRadioGroup;
class TMMSpectrum;

class TfSetupPrint : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kWidth = 715;
  static constexpr int kHeight = 545;

  // The page takes the scales of `mainSpectrum` (the main window's design
  // values when null), which must outlive this window.
  explicit TfSetupPrint(const TMMSpectrum* mainSpectrum = nullptr, QWidget* parent = nullptr);
  ~TfSetupPrint() override;

  // The page as the window shows it now.
  TPrintSetup Setup() const;
  // The stored spectrum chosen with "Load Freezed Spectrum" (full path).
  QString FrozenFile() const { return frozenFile_; }

  // "Load Freezed Spectrum".
  void btnFreezClick();
  // "Print".
  void Button1Click();
  // "Preview".
  void btnPreviewClick();
  // "Printer Setup" of the main window: the print dialog, whose choice
  // becomes the printer used.
  void PrinterSetup(QWidget* parent);

  // The printer "Print" prints on.
  QPrinter& Printer() { return *printer_; }
  // Whether "Print" must ask for a PDF file: no printer is installed and
  // none chose a file.
  bool NeedsPdfFile() const;
  // Composes the page and prints it on `printer` (the preview's): false,
  // after the message, when there is nothing to print.
  bool PrintOn(QPrinter& printer);

  QLabel* Heading;
  QLabel* labFreezed;
  QPushButton* btnFreez;
  QLineEdit* edMain;
  TMMRadioGroup* rgBackground;
  QLineEdit* edProd;
  QPlainTextEdit* Memo1;
  QPushButton* btnPreview;
  QPushButton* Button1;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // The composed page, or null after the message that says why not.
  std::unique_ptr<TfPrint> ComposePage();

  const TMMSpectrum* main_;
  std::unique_ptr<QPrinter> printer_;
  QString frozenFile_;
};

}  // namespace tv
