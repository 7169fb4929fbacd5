#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>

#include "DataFolder.h"
#include "PrintTestEnv.h"
#include "TMMRadioGroup.h"
#include "TfPrint.h"
#include "TfSetupPrint.h"

namespace tv {
namespace {

bool Saturated(QRgb c) {
  return std::max({qRed(c), qGreen(c), qBlue(c)}) - std::min({qRed(c), qGreen(c), qBlue(c)}) > 60;
}

// The printed spectrum's plot on a picture of the page: the page is 766
// units wide, fitted to the printable width and centred.
QRect PlotOnPicture(const QImage& page, int dpi) {
  const double margin = 12.0 / 25.4 * dpi;  // the PDF's margins
  const double unit = (page.width() - 2 * margin) / TfPrint::kWidth;
  const auto at = [&](double v) { return static_cast<int>(margin + v * unit); };
  // Inside the scales: the spectrum is at 7, 222, 742 x 427 with 32-unit
  // amplitude strips and a 40-unit frequency strip.
  return QRect(QPoint(at(7 + 32 + 4), at(222 + 4)), QPoint(at(7 + 742 - 32 - 4), at(222 + 427 - 40 - 4)));
}

class PrintTest : public test::FrozenTest {
 protected:
  void SetUp() override {
    FrozenTest::SetUp();
    sav_ = File("key five.sav");
    test::StoreKeyFive(sav_);
    setup_ = std::make_unique<TfSetupPrint>();
    // No printer: a PDF file the user names.
    setup_->Printer().setOutputFormat(QPrinter::PdfFormat);
    setup_->Printer().setOutputFileName(QString());
  }
  void TearDown() override {
    setup_.reset();
    FrozenTest::TearDown();
  }
  void Choose(const QString& sav) {
    answers_.push_back(sav);
    setup_->btnFreezClick();
  }
  // Prints through "Print" to a PDF named when asked.
  QString PrintToPdf(const char* name) {
    const QString pdf = File(name);
    answers_.push_back(pdf);
    setup_->Button1Click();
    return pdf;
  }

  QString sav_;
  std::unique_ptr<TfSetupPrint> setup_;
};

TEST_F(PrintTest, TheSetupWindowStartsWithItsDesignTexts) {
  TfSetupPrint& s = *setup_;
  EXPECT_EQ(s.windowTitle(), QStringLiteral("Setup"));
  EXPECT_EQ(s.size(), QSize(715, 545));
  EXPECT_EQ(s.Heading->text(), QStringLiteral("Print Spectrum Setup"));
  EXPECT_EQ(s.btnFreez->text(), QStringLiteral("Load Freezed Spectrum"));
  EXPECT_EQ(s.labFreezed->text(), QString());
  EXPECT_EQ(s.edMain->text(), QStringLiteral("Tonvista"));
  EXPECT_EQ(s.edProd->text(), QStringLiteral("Quellfon"));
  EXPECT_EQ(s.rgBackground->title(), QStringLiteral(" Select background Color && Bar Color"));
  EXPECT_EQ(s.rgBackground->Items(), (QStringList{"Black background (selected Color)",
                                                  "White background (Black Bars)"}));
  EXPECT_EQ(s.rgBackground->ItemIndex(), 1);
  EXPECT_TRUE(s.Memo1->toPlainText().isEmpty());
  EXPECT_EQ(s.Button1->text(), QStringLiteral("Print"));

  Choose(sav_);
  EXPECT_EQ(s.labFreezed->text(), QDir::toNativeSeparators(sav_));
  ASSERT_EQ(requests_.size(), 1u);
  EXPECT_EQ(requests_[0].title, QStringLiteral("Load Tonvista Peak Data"));
  EXPECT_EQ(requests_[0].filter, QStringLiteral("Analyzer Peak Data (*.sav)"));
  EXPECT_EQ(requests_[0].folder, PeakDataFolder());
}

TEST_F(PrintTest, PrintingBeforeASpectrumIsChosenAsksForOne) {
  setup_->Button1Click();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].first, QStringLiteral("Please select a freezed Background!"));
  EXPECT_EQ(messages_[0].second, MessageKind::Information);
  EXPECT_TRUE(requests_.empty());
  EXPECT_FALSE(QFileInfo::exists(MemoFile()));
}

TEST_F(PrintTest, ThePageIsOneSmallVectorPageWithLabelsMemoAndSpectrum) {
  Choose(sav_);
  setup_->edMain->setText(QStringLiteral("Keypad 5 acceptance"));
  setup_->edProd->setText(QStringLiteral("Line 3 PBX, Müller & Sons"));
  setup_->Memo1->setPlainText(QStringLiteral(
      "Measured at the line interface, level -6 dBm.\nBoth tones within 1.5 % of nominal.\n"
      "Checked by: Jürgen"));
  const QString pdf = PrintToPdf("key five.pdf");
  ASSERT_TRUE(messages_.empty()) << messages_[0].first.toStdString();
  ASSERT_EQ(requests_.size(), 2u);
  EXPECT_TRUE(requests_[1].save);
  EXPECT_EQ(requests_[1].defaultSuffix, QStringLiteral("pdf"));

  // The memo is kept beside the stored spectra, each line ended by CR LF.
  EXPECT_EQ(ReadText(MemoFile()),
            "Measured at the line interface, level -6 dBm.\r\nBoth tones within 1.5 % of nominal.\r\n"
            "Checked by: J\xc3\xbcrgen\r\n");

  ASSERT_TRUE(QFileInfo(pdf).isFile());
  EXPECT_LT(QFileInfo(pdf).size(), 200 * 1024);
  // Drawn, not a picture of the screen.
  const std::string bytes = ReadText(pdf);
  EXPECT_EQ(bytes.find("/Subtype /Image"), std::string::npos);
  if (!test::HavePoppler()) GTEST_SKIP() << "poppler-utils is not installed";
  EXPECT_EQ(test::PdfPages(pdf), 1);
  const std::string text = test::PdfText(pdf);
  for (const char* expected :
       {"Keypad 5 acceptance", "Quellfon", "programmable analysis software",
        "Line 3 PBX, M\xc3\xbcller & Sons", "key five.sav",
        "Measured at the line interface, level -6 dBm.", "Both tones within 1.5 % of nominal.",
        "Checked by: J\xc3\xbcrgen", "-60", "db", "Hz"}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  }

  // A person looks at this picture; the test checks that the white page's
  // trace is black ink and nothing is in colour.
  const int dpi = 72;
  const QString png = QStringLiteral(TONVISTA_BINARY_DIR "/tests/app/printed-spectrum.png");
  QFile::remove(QStringLiteral(TONVISTA_BINARY_DIR "/tests/app/printed-spectrum.pdf"));
  QFile::copy(pdf, QStringLiteral(TONVISTA_BINARY_DIR "/tests/app/printed-spectrum.pdf"));
  const QImage page = test::PdfPicture(pdf, png, dpi);
  ASSERT_FALSE(page.isNull());
  const QRect plot = PlotOnPicture(page, dpi);
  int dark = 0, coloured = 0;
  for (int y = plot.top(); y <= plot.bottom(); ++y) {
    for (int x = plot.left(); x <= plot.right(); ++x) {
      const QRgb c = page.pixel(x, y);
      dark += qGray(c) < 80;
      coloured += Saturated(c);
    }
  }
  EXPECT_GT(dark, plot.width());  // the trace crosses the plot
  EXPECT_EQ(coloured, 0);
}

TEST_F(PrintTest, ABlackBackgroundPrintsTheTraceInTheSpectrumsColours) {
  Choose(sav_);
  setup_->rgBackground->SetItemIndex(0);
  const QString pdf = PrintToPdf("black.pdf");
  ASSERT_TRUE(messages_.empty()) << messages_[0].first.toStdString();
  if (!test::HavePoppler()) GTEST_SKIP() << "poppler-utils is not installed";
  const int dpi = 72;
  const QImage page = test::PdfPicture(pdf, File("black.png"), dpi);
  ASSERT_FALSE(page.isNull());
  const QRect plot = PlotOnPicture(page, dpi);
  int black = 0, aqua = 0;
  for (int y = plot.top(); y <= plot.bottom(); ++y) {
    for (int x = plot.left(); x <= plot.right(); ++x) {
      const QRgb c = page.pixel(x, y);
      black += qGray(c) < 20;
      aqua += qRed(c) < 100 && qGreen(c) > 150 && qBlue(c) > 150;
    }
  }
  EXPECT_GT(black, plot.width() * plot.height() / 2);
  EXPECT_GT(aqua, plot.width() / 2);
}

TEST_F(PrintTest, AFileThatIsNoStoredSpectrumPrintsNothing) {
  const QString bad = File("notes.sav");
  WriteText(bad, "Call at 10:40\r\n");
  Choose(bad);
  setup_->Button1Click();
  ASSERT_EQ(messages_.size(), 1u);
  const QString text = messages_[0].first;
  EXPECT_EQ(messages_[0].second, MessageKind::Error);
  EXPECT_TRUE(text.startsWith(QStringLiteral(
      "Quellfon change the code of this files to make it 400 % faster.\n"
      "Unfortunately the old files are not anymore compatible with the new files.\n"
      "You have to create new frozen files\n\n"
      "If you have important files from your projects, ask us for a converter tool.")))
      << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("Line 1 is not an integer")));
  // Not even asked where to print.
  EXPECT_EQ(requests_.size(), 1u);
}

TEST_F(PrintTest, WithoutAPrinterThePageGoesToANamedPdfOrNowhere) {
  EXPECT_TRUE(setup_->NeedsPdfFile());
  Choose(sav_);
  setup_->Button1Click();  // the PDF prompt is cancelled
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(QDir(QString::fromStdString(dir_.Path().string())).entryList({"*.pdf"}), QStringList{});
  // An empty memo: an empty text area and an empty memo file.
  EXPECT_TRUE(QFileInfo::exists(MemoFile()));
  EXPECT_EQ(QFileInfo(MemoFile()).size(), 0);

  // A PDF chosen in the print dialog is printed to without asking.
  const QString chosen = File("chosen.pdf");
  setup_->Printer().setOutputFileName(chosen);
  EXPECT_FALSE(setup_->NeedsPdfFile());
  const size_t asked = requests_.size();
  setup_->Button1Click();
  EXPECT_EQ(requests_.size(), asked);
  EXPECT_GT(QFileInfo(chosen).size(), 0);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(PrintTest, ThePreviewShowsOnePage) {
  QPrinter printer(QPrinter::HighResolution);
  QPrintPreviewWidget preview(&printer);
  QObject::connect(&preview, &QPrintPreviewWidget::paintRequested,
                   [this](QPrinter* p) { setup_->PrintOn(*p); });
  preview.updatePreview();
  EXPECT_EQ(preview.pageCount(), 0);  // nothing chosen yet
  ASSERT_EQ(messages_.size(), 1u);
  Choose(sav_);
  preview.updatePreview();
  EXPECT_EQ(preview.pageCount(), 1);
}

TEST_F(PrintTest, TheBatchPrintKeepsAnEarlierPdfWhenItCannotPrint) {
  TPrintSetup setup;
  setup.mainLabel = QStringLiteral("Nightly report");
  const QString pdf = File("report.pdf");
  QString why;
  ASSERT_EQ(PrintSavToPdf(sav_, pdf, setup, nullptr, &why), 0) << why.toStdString();
  const std::string first = ReadText(pdf);
  EXPECT_EQ(first.substr(0, 5), "%PDF-");

  EXPECT_EQ(PrintSavToPdf(File("missing.sav"), pdf, setup, nullptr, &why), 1);
  EXPECT_TRUE(why.contains(File("missing.sav")) && why.contains(QStringLiteral("does not exist")))
      << why.toStdString();
  const QString truncated = File("truncated.sav");
  WriteText(truncated, "1\r\n2\r\n3\r\n");  // three levels: no spectrum has that many
  EXPECT_EQ(PrintSavToPdf(truncated, pdf, setup, nullptr, &why), 1);
  EXPECT_TRUE(why.contains(QStringLiteral("3 levels"))) << why.toStdString();
  EXPECT_EQ(ReadText(pdf), first);

  const QString nowhere = File("no folder/report.pdf");
  EXPECT_EQ(PrintSavToPdf(sav_, nowhere, setup, nullptr, &why), 1);
  EXPECT_TRUE(why.contains(QStringLiteral("cannot be written"))) << why.toStdString();
  EXPECT_FALSE(QFileInfo::exists(nowhere + QStringLiteral(".part")));
  EXPECT_EQ(QDir(QString::fromStdString(dir_.Path().string())).entryList({"*.part"}), QStringList{});
}

TEST_F(PrintTest, AStoredSpectrumOfAnotherLengthPrintsAtItsOwnLength) {
  // 1024 levels: the generator's 2048-point display.
  std::string text;
  for (int k = 0; k < 1024; ++k) text += std::to_string(k == 100 ? 400000 : 40) + "\r\n";
  const QString wide = File("generator.sav");
  WriteText(wide, text);
  TfPrint page(TPrintSetup(), nullptr, wide);
  ASSERT_TRUE(page.Composed()) << page.Error().toStdString();
  EXPECT_EQ(page.Spectrum->Calc().FFTLength(), 2048);
  EXPECT_EQ(page.Spectrum->Calc().BinLevels()[100], 400000);
}

TEST_F(PrintTest, TheBatchPrintRunsAsAProgramWithoutAWindow) {
  TPrintSetup stored;
  stored.mainLabel = QStringLiteral("Nightly report");
  stored.memo = QStringLiteral("Printed by the nightly job");
  QString why;
  ASSERT_TRUE(StorePrintSetup(stored, &why)) << why.toStdString();
  const std::string env = "QT_QPA_PLATFORM=offscreen TONVISTA_CONFIG_DIR='" + dir_.File("config") +
                          "' TONVISTA_DATA_DIR='" + dir_.File("data") + "'";
  const auto run = [&](const std::string& args) {
    return test::RunProcess("/bin/sh", {"-c", "exec env " + env + " \"$0\" " + args, TONVISTA_PRINT_CHILD});
  };
  const QString pdf = File("nightly.pdf");
  const auto ok = run("--print '" + sav_.toStdString() + "' --pdf '" + pdf.toStdString() + "'");
  EXPECT_EQ(ok.exitCode, 0) << ok.err;
  ASSERT_TRUE(QFileInfo(pdf).isFile()) << ok.err;
  if (test::HavePoppler()) {
    const std::string text = test::PdfText(pdf);
    EXPECT_NE(text.find("Nightly report"), std::string::npos) << text;
    EXPECT_NE(text.find("Printed by the nightly job"), std::string::npos) << text;
  }

  const auto missing = run("--print '" + dir_.File("gone.sav") + "' --pdf '" + dir_.File("gone.pdf") + "'");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(("\n" + missing.err).find("\ntonvista: "), std::string::npos) << missing.err;
  EXPECT_NE(missing.err.find("gone.sav"), std::string::npos) << missing.err;
  EXPECT_FALSE(QFileInfo::exists(File("gone.pdf")));

  const auto noPdf = run("--print '" + sav_.toStdString() + "'");
  EXPECT_EQ(noPdf.exitCode, 1);
  EXPECT_NE(noPdf.err.find("--pdf"), std::string::npos) << noPdf.err;
}

}  // namespace
}  // namespace tv
