// The printed page of a stored spectrum: a large main label, the maker's
// name and tagline, a production label, the spectrum with its scales and
// the memo, composed on a page 766 x 996 units high and printed as vector
// graphics (text stays text, the trace stays a path) on one page, to a
// printer or a PDF file. Also the batch print of
// "tonvista --print FILE.sav --pdf OUT.pdf".
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class QLabel;
class QPainter;
class QPrinter;

namespace tv {

class TMMSpectrum;

// What the "Setup" window gives the page.
struct TPrintSetup {
  QString mainLabel = QStringLiteral("Tonvista");
  QString prodLabel = QStringLiteral("Quellfon");
  // The memo's text, lines separated by '\n'.
  QString memo;
  // rgBackground: 0 black background in the spectrum's colours, 1 white
  // background with black bars.
  int background = 1;
};

// "Memo field.txt" in "Analyzer Peak Data".
QString MemoFile();
// The memo's lines: an empty memo has none, a final line break starts none.
QStringList MemoLines(const QString& memo);
// Writes the memo file (each line ended by CR LF, UTF-8) and keeps the
// labels and the background choice in the preference store, so that a
// batch print prints the page last printed. False, with the reason, when
// the memo file cannot be written.
bool StorePrintSetup(const TPrintSetup& setup, QString* error);
// The page setup last stored, or the Setup window's design values.
TPrintSetup StoredPrintSetup();

class TfPrint : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 766;
  static constexpr int kHeight = 996;

  // Composes the page for the stored spectrum `savFile`, drawn with the
  // scales of `mainSpectrum` (the main window's design values when null).
  // Composed() tells whether the file could be read.
  TfPrint(const TPrintSetup& setup, const TMMSpectrum* mainSpectrum, const QString& savFile,
          QWidget* parent = nullptr);

  bool Composed() const { return error_.isEmpty(); }
  // Why the file could not be read.
  QString Error() const { return error_; }

  // The page drawn into `target`, scaled to fit and keeping proportions.
  void paint(QPainter& painter, const QRectF& target);
  // Prints the page on one sheet of the printer.
  bool Print(QPrinter& printer, QString* error);
  // Prints to a PDF file. The file is written beside `pdf` and renamed
  // over it once complete, so an earlier file is replaced whole or kept.
  bool PrintToPdf(QPrinter& printer, const QString& pdf, QString* error);

  QLabel* Label1;   // main label
  QLabel* Label2;   // maker's name
  QLabel* Label3;   // tagline
  QLabel* Label4;   // the stored spectrum and the date
  QLabel* labProd;  // production label
  TMMSpectrum* Spectrum;
  QLabel* Label5;   // memo

 private:
  QString error_;
};

// Prints the stored spectrum `sav` to the PDF file `pdf` without a window:
// 0 when printed, 1 with the reason in `error` (an earlier `pdf` is then
// as it was).
int PrintSavToPdf(const QString& sav, const QString& pdf, const TPrintSetup& setup,
                  const TMMSpectrum* mainSpectrum, QString* error);

// Whether the command line asks for a batch print (--print).
bool IsBatchPrint(int argc, char** argv);
// The whole program for "--print FILE.sav --pdf OUT.pdf": no window, the
// stored page setup, exit status 0, or 1 with the reason on standard error.
// Chooses the off-screen platform when none is set and makes the
// application object when there is none yet.
int BatchPrintMain(int argc, char** argv);

}  // namespace tv
