#include "TfPrint.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QSaveFile>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "DataFolder.h"
#include "FrozenSpectrumFile.h"
#include "Preferences.h"
#include "TMMSpectrum.h"

namespace tv {

namespace {

const QString kMainLabelValue = QStringLiteral("Print Main Label");
const QString kProdLabelValue = QStringLiteral("Print Production Label");
const QString kBackgroundValue = QStringLiteral("Print Background");

QFont PageFont(const char* family, int pixels, bool bold = false) {
  QFont f(QString::fromLatin1(family));
  f.setStyleHint(QString::fromLatin1(family) == QStringLiteral("Arial") ? QFont::SansSerif
                                                                         : QFont::Serif);
  f.setPixelSize(pixels);
  f.setBold(bold);
  return f;
}

QLabel* PageLabel(QWidget* page, const char* name, const QRect& geometry, const QFont& font,
                  Qt::Alignment alignment, const QString& text) {
  auto* label = new QLabel(text, page);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(geometry);
  label->setFont(font);
  label->setAlignment(alignment);
  return label;
}

}  // namespace

QString MemoFile() { return PeakDataFolder() + QStringLiteral("/Memo field.txt"); }

QStringList MemoLines(const QString& memo) {
  if (memo.isEmpty()) return {};
  QString text = memo;
  if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
  return text.split(QLatin1Char('\n'));
}

bool StorePrintSetup(const TPrintSetup& setup, QString* error) {
  const auto root = PreferenceRoot::CurrentUser;
  WritePreference(root, kPreferenceKey, kMainLabelValue, setup.mainLabel);
  WritePreference(root, kPreferenceKey, kProdLabelValue, setup.prodLabel);
  WritePreference(root, kPreferenceKey, kBackgroundValue, static_cast<int32_t>(setup.background));
  QByteArray bytes;
  for (const QString& line : MemoLines(setup.memo)) {
    bytes += line.toUtf8();
    bytes += "\r\n";
  }
  QSaveFile file(MemoFile());
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
    if (error != nullptr) *error = file.errorString();
    file.cancelWriting();
    return false;
  }
  return true;
}

TPrintSetup StoredPrintSetup() {
  TPrintSetup setup;
  const auto root = PreferenceRoot::CurrentUser;
  setup.mainLabel = ReadPreference(root, kPreferenceKey, kMainLabelValue, setup.mainLabel);
  setup.prodLabel = ReadPreference(root, kPreferenceKey, kProdLabelValue, setup.prodLabel);
  const int32_t background =
      ReadPreference(root, kPreferenceKey, kBackgroundValue, static_cast<int32_t>(setup.background));
  if (background == 0 || background == 1) setup.background = background;
  QFile memo(MemoFile());
  if (memo.open(QIODevice::ReadOnly)) {
    QString text = QString::fromUtf8(memo.read(1 << 20));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    setup.memo = MemoLines(text).join(QLatin1Char('\n'));
  }
  return setup;
}

// ---------------------------------------------------------------------------
// The page

TfPrint::TfPrint(const TPrintSetup& setup, const TMMSpectrum* mainSpectrum, const QString& savFile,
                 QWidget* parent)
    : QWidget(parent) {
  setObjectName(QStringLiteral("fPrint"));
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
  setAttribute(Qt::WA_DontShowOnScreen);
  resize(kWidth, kHeight);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  pal.setColor(QPalette::WindowText, Qt::black);
  setPalette(pal);
  setAutoFillBackground(true);

  const auto centred = Qt::AlignHCenter | Qt::AlignTop;
  Label1 = PageLabel(this, "Label1", QRect(15, 24, 730, 64), PageFont("Times New Roman", 56),
                     Qt::AlignCenter, setup.mainLabel);
  Label2 = PageLabel(this, "Label2", QRect(0, 92, kWidth, 26), PageFont("Times New Roman", 21),
                     centred, QStringLiteral("Quellfon"));
  Label3 = PageLabel(this, "Label3", QRect(0, 120, kWidth, 18), PageFont("Times New Roman", 13),
                     centred, QStringLiteral("programmable analysis software"));
  const QString stamp = QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
  Label4 = PageLabel(this, "Label4", QRect(32, 146, 709, 18), PageFont("Times New Roman", 12),
                     centred, QFileInfo(savFile).fileName() + QStringLiteral("  \u2013  ") + stamp);
  labProd = PageLabel(this, "labProd", QRect(32, 180, 709, 21),
                      PageFont("Times New Roman", 16, true), centred, setup.prodLabel);
  Label5 = PageLabel(this, "Label5", QRect(32, 672, 705, 305), PageFont("Arial", 16),
                     Qt::AlignLeft | Qt::AlignTop, MemoLines(setup.memo).join(QLatin1Char('\n')));
  Label5->setWordWrap(true);

  // Without a main window, the main spectrum's design values.
  std::unique_ptr<TMMSpectrum> design;
  if (mainSpectrum == nullptr) {
    design = std::make_unique<TMMSpectrum>(nullptr, TMMSpectrumDesign::Main);
    mainSpectrum = design.get();
  }
  const TMMSpectrumCalc& main = mainSpectrum->Calc();
  Spectrum = new TMMSpectrum(this);
  Spectrum->setObjectName(QStringLiteral("Spectrum"));
  TMMSpectrumCalc& calc = Spectrum->Calc();
  calc.SetLogAmp(main.LogAmp());
  calc.SetFFTLength(main.FFTLength());
  calc.SetLogFreq(main.LogFreq());
  Spectrum->SetSpotSpace(mainSpectrum->SpotSpace());
  calc.SetGain(main.Gain());
  calc.SetDecayMode(main.DecayMode());
  calc.SetWindow(main.Window());
  calc.SetVerticalScale(main.VerticalScale());
  Spectrum->SetDrawAmpScale(mainSpectrum->DrawAmpScale());
  Spectrum->SetDrawFreqScale(mainSpectrum->DrawFreqScale());
  Spectrum->SetDrawGrid(mainSpectrum->DrawGrid());
  calc.SetDisplayPeak(main.DisplayPeak());
  calc.SetFrequencyScale(main.FrequencyScale());
  calc.SetSampleRate(main.SampleRate());
  // The trace as one path, as the program's spectra draw it.
  Spectrum->SetKind(skLines);
  Spectrum->SetBevel(bvNone);
  // On paper a device pixel is a hair: the trace about 0.3 mm, the grid
  // about 0.1 mm on A4.
  Spectrum->SetTraceWidth(1.2);
  Spectrum->SetGridWidth(0.4);
  if (setup.background == 0) {
    Spectrum->SetColor(Qt::black);
    Spectrum->SetInactive1Color(Spectrum->Bar1Color());
  } else {
    Spectrum->SetColor(Qt::white);
    Spectrum->SetBar1Color(Qt::black);
    Spectrum->SetBar2Color(Qt::black);
    Spectrum->SetBar3Color(Qt::black);
    Spectrum->SetInactive1Color(Qt::black);
    Spectrum->SetGridColor(QColor(176, 176, 176));
  }
  Spectrum->setGeometry(7, 222, 742, 427);
  Spectrum->PlotRect();  // settles the layout before the levels go in

  calc.SetEnabled(false);
  std::vector<int32_t> levels;
  QString why;
  if (ReadFrozenLevels(savFile, levels, &why)) {
    // A spectrum stored at another length is drawn at its own.
    const int32_t length = FFTLengthOfLevels(levels.size());
    if (length == 0) {
      why = QStringLiteral("It holds %1 levels; no spectrum has that many.").arg(levels.size());
    } else {
      calc.SetFFTLength(length);
      std::copy(levels.begin(), levels.end(), calc.BinLevels().begin());
    }
  }
  error_ = why;
}

void TfPrint::paint(QPainter& p, const QRectF& target) {
  const double scale = std::min(target.width() / kWidth, target.height() / kHeight);
  p.save();
  p.translate(target.left() + (target.width() - kWidth * scale) / 2, target.top());
  p.scale(scale, scale);
  p.setPen(Qt::black);
  for (QLabel* label : {Label1, Label2, Label3, Label4, labProd, Label5}) {
    if (label->text().isEmpty()) continue;
    p.setFont(label->font());
    int flags = static_cast<int>(label->alignment());
    if (label->wordWrap()) flags |= Qt::TextWordWrap;
    p.save();
    p.setClipRect(label->geometry());
    p.drawText(label->geometry(), flags, label->text());
    p.restore();
  }
  Spectrum->paint(p, QRectF(Spectrum->geometry()));
  p.restore();
}

bool TfPrint::Print(QPrinter& printer, QString* error) {
  printer.setDocName(QStringLiteral("Tonvista spectrum"));
  printer.setCreator(QStringLiteral("Tonvista"));
  QPainter painter;
  if (!painter.begin(&printer)) {
    if (error != nullptr) {
      *error = printer.outputFormat() == QPrinter::PdfFormat
                   ? QStringLiteral("The file %1 cannot be written.")
                         .arg(QDir::toNativeSeparators(printer.outputFileName()))
                   : QStringLiteral("The printer %1 cannot be started.").arg(printer.printerName());
    }
    return false;
  }
  const QRectF area = printer.pageLayout().paintRectPixels(printer.resolution());
  paint(painter, QRectF(QPointF(0, 0), area.size()));
  if (!painter.end()) {
    if (error != nullptr) *error = QStringLiteral("The page could not be printed.");
    return false;
  }
  return true;
}

bool TfPrint::PrintToPdf(QPrinter& printer, const QString& pdf, QString* error) {
  namespace fs = std::filesystem;
  const QString target = QFileInfo(pdf).absoluteFilePath();
  const QString partial = target + QStringLiteral(".part");
  const QString previous = printer.outputFileName();
  const QPrinter::OutputFormat format = printer.outputFormat();
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(partial);
  QString why;
  bool ok = Print(printer, &why);
  printer.setOutputFileName(previous);
  if (format != QPrinter::PdfFormat) printer.setOutputFormat(format);
  if (ok && QFileInfo(partial).size() <= 0) {
    ok = false;
    why = QStringLiteral("The file %1 could not be written.").arg(QDir::toNativeSeparators(target));
  }
  std::error_code ec;
  if (ok) {
    fs::rename(fs::path(QFile::encodeName(partial).toStdString()),
               fs::path(QFile::encodeName(target).toStdString()), ec);
    if (ec) {
      ok = false;
      why = QStringLiteral("The file %1 cannot be written: %2.")
                .arg(QDir::toNativeSeparators(target), QString::fromStdString(ec.message()));
    }
  } else if (why.contains(QDir::toNativeSeparators(partial))) {
    why = QStringLiteral("The file %1 cannot be written.").arg(QDir::toNativeSeparators(target));
  }
  if (!ok) {
    QFile::remove(partial);
    if (error != nullptr) *error = why;
  }
  return ok;
}

// ---------------------------------------------------------------------------
// Printing without a window

int PrintSavToPdf(const QString& sav, const QString& pdf, const TPrintSetup& setup,
                  const TMMSpectrum* mainSpectrum, QString* error) {
  TfPrint page(setup, mainSpectrum, sav);
  if (!page.Composed()) {
    if (error != nullptr) *error = QDir::toNativeSeparators(sav) + QStringLiteral(": ") + page.Error();
    return 1;
  }
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setPageSize(QPageSize(QPageSize::A4));
  printer.setPageMargins(QMarginsF(12, 12, 12, 12), QPageLayout::Millimeter);
  return page.PrintToPdf(printer, pdf, error) ? 0 : 1;
}

bool IsBatchPrint(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const QByteArray arg(argv[i]);
    if (arg == "--print" || arg.startsWith("--print=")) return true;
  }
  return false;
}

int BatchPrintMain(int argc, char** argv) {
  // No window is shown: no display is needed either.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  std::unique_ptr<QApplication> app;
  if (QCoreApplication::instance() == nullptr) app = std::make_unique<QApplication>(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Quellfon"));
  QCoreApplication::setApplicationName(QStringLiteral("Tonvista"));

  const auto fail = [](const QString& why) {
    std::fprintf(stderr, "tonvista: %s\n", why.toLocal8Bit().constData());
    return 1;
  };
  QCommandLineParser options;
  const QCommandLineOption print(QStringLiteral("print"),
                                 QStringLiteral("Print the stored spectrum FILE.sav."),
                                 QStringLiteral("FILE.sav"));
  const QCommandLineOption pdf(QStringLiteral("pdf"), QStringLiteral("The PDF file to print to."),
                               QStringLiteral("OUT.pdf"));
  options.addOption(print);
  options.addOption(pdf);
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments += QString::fromLocal8Bit(argv[i]);
  if (!options.parse(arguments)) return fail(options.errorText());
  if (!options.positionalArguments().isEmpty()) {
    return fail(QStringLiteral("unexpected argument \"%1\"").arg(options.positionalArguments().first()));
  }
  if (options.value(print).isEmpty()) return fail(QStringLiteral("--print needs a FILE.sav"));
  if (options.value(pdf).isEmpty()) {
    return fail(QStringLiteral("--print FILE.sav needs --pdf OUT.pdf: there is no other output"));
  }
  QString why;
  if (PrintSavToPdf(options.value(print), options.value(pdf), StoredPrintSetup(), nullptr, &why) != 0) {
    return fail(why);
  }
  return 0;
}

}  // namespace tv
