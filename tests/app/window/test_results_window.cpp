#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTime>
#include <QTimer>
#include <algorithm>

#include "TMMGauge.h"
#include "TMMRadioGroup.h"
#include "WindowTestEnv.h"
#include "TFrmMain.h"
#include "Tf_result.h"

namespace tv {
namespace {

using test::Find;

class ResultsWindow : public test::WindowTest {
 protected:
  void SetUp() override {
    test::WindowTest::SetUp();
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    window_ = std::make_unique<TFrmMain>();
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }
  void TearDown() override {
    window_.reset();
    QLocale::setDefault(QLocale::c());
    test::WindowTest::TearDown();
  }
  // A finished scan that decoded `keys`.
  void Scan(const QString& keys, const QString& file) {
    window_->ClearDtmfText();
    window_->AppendDtmfKey(keys);
    window_->RecordScanResult(file, window_->DtmfText());
  }
  Tf_result& Results() { return *window_->f_result(); }

  std::unique_ptr<TFrmMain> window_;
};

TEST_F(ResultsWindow, HasItsDesignCaptionSizeAndOptions) {
  EXPECT_EQ(Results().windowTitle(), QStringLiteral("Results of decodated files"));
  EXPECT_EQ(Results().size(), QSize(476, 378));
  EXPECT_EQ(Find<TMMRadioGroup>(Results(), "rg_text")->Items(),
            (QStringList{"Save with Date and Filename", "Save only the result"}));
  EXPECT_EQ(Find<TMMRadioGroup>(Results(), "rg_text")->ItemIndex(), 0);
  EXPECT_TRUE(Find<QCheckBox>(Results(), "cb_clip")->isChecked());
  EXPECT_EQ(Find<QCheckBox>(Results(), "cb_clip")->text(), QStringLiteral("Copy the result to Clipboard"));
  EXPECT_TRUE(Results().Lines().isEmpty());
}

TEST_F(ResultsWindow, AScanAddsTimeFileResultAndAnEmptyLine) {
  window_->SetScanProgress(73);
  const QTime before = QTime::currentTime();
  Scan(QStringLiteral("5550147236"), QStringLiteral("/data/wav/call_acm_norm.wav"));
  const QStringList lines = Results().Lines();
  ASSERT_EQ(lines.size(), 4);
  // German long time format, without the zone.
  const QTime at = QTime::fromString(lines[0], QStringLiteral("HH:mm:ss"));
  ASSERT_TRUE(at.isValid()) << lines[0].toStdString();
  const int apart = std::abs(before.secsTo(at));
  EXPECT_LE(std::min(apart, 86400 - apart), 5);  // also across midnight
  EXPECT_EQ(lines[1], QStringLiteral("Filename : /data/wav/call_acm_norm.wav"));
  EXPECT_EQ(lines[2], QStringLiteral("Result : 5550147236"));
  EXPECT_EQ(lines[3], QString());
  EXPECT_EQ(test::Find<TMMGauge>(*window_, "Gauge")->Progress(), 0);
  EXPECT_EQ(test::Find<QLineEdit>(*window_, "ed_result")->text(), QStringLiteral("5550147236"));
  EXPECT_EQ(test::Find<QLineEdit>(*window_, "ed_result")->selectedText(), QStringLiteral("5550147236"));
  EXPECT_TRUE(Results().isVisible());
}

TEST_F(ResultsWindow, TheTimeLineFollowsTheLocale) {
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  const QString text = Tf_result::LongTimeText(QTime(15, 4, 9));
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^3:04:09\\s?PM$")).match(text).hasMatch())
      << text.toStdString();
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_EQ(Tf_result::LongTimeText(QTime(15, 4, 9)), QStringLiteral("15:04:09"));
}

TEST_F(ResultsWindow, AFileWithoutTonesGivesAnEmptyResult) {
  Scan(QString(), QStringLiteral("/x/silence.wav"));
  ASSERT_EQ(Results().Lines().size(), 4);
  EXPECT_EQ(Results().Lines()[2], QStringLiteral("Result : "));
  Find<TMMRadioGroup>(Results(), "rg_text")->SetItemIndex(1);
  Scan(QString(), QStringLiteral("/x/silence.wav"));
  EXPECT_EQ(Results().Lines().size(), 5);
  EXPECT_EQ(Results().Lines()[4], QString());
}

TEST_F(ResultsWindow, OnlyTheResultAddsOneLinePerScanWithoutSeparator) {
  Find<TMMRadioGroup>(Results(), "rg_text")->SetItemIndex(1);
  Scan(QStringLiteral("123"), QStringLiteral("/a.wav"));
  Scan(QStringLiteral("#*D"), QStringLiteral("/b.wav"));
  EXPECT_EQ(Results().Lines(), (QStringList{"123", "#*D"}));
  // The memo keeps all scans; switching back adds the long form.
  Find<TMMRadioGroup>(Results(), "rg_text")->SetItemIndex(0);
  Scan(QStringLiteral("9"), QStringLiteral("/c.wav"));
  EXPECT_EQ(Results().Lines().size(), 6);
  EXPECT_EQ(Results().Lines()[3], QStringLiteral("Filename : /c.wav"));
}

TEST_F(ResultsWindow, TheClipboardHoldsTheLastResultOnlyWhenAsked) {
  QGuiApplication::clipboard()->setText(QStringLiteral("before"));
  Scan(QStringLiteral("0815"), QStringLiteral("/a.wav"));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("0815"));
  Scan(QStringLiteral("4711"), QStringLiteral("/b.wav"));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("4711"));
  Find<QCheckBox>(Results(), "cb_clip")->setChecked(false);
  Scan(QStringLiteral("999"), QStringLiteral("/c.wav"));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("4711"));
}

TEST_F(ResultsWindow, TheWindowIsShownOnlyWhenTheMainWindowAsks) {
  test::Find<QCheckBox>(*window_, "cb_result")->setChecked(false);
  Scan(QStringLiteral("1"), QStringLiteral("/a.wav"));
  EXPECT_FALSE(Results().isVisible());
  EXPECT_EQ(Results().Lines().size(), 4);  // recorded all the same
  test::Find<QCheckBox>(*window_, "cb_result")->setChecked(true);
  Scan(QStringLiteral("2"), QStringLiteral("/b.wav"));
  EXPECT_TRUE(Results().isVisible());
}

TEST_F(ResultsWindow, SavingWritesCrLfLinesInLatin1ReplacingTheFile) {
  const QString target = File("results.txt");
  test::WriteAll(target.toStdString(), test::Bytes(5000, 'z'));
  Scan(QStringLiteral("55"), QStringLiteral("/w\u00e4v/Gr\u00fc\u00dfe.wav"));
  Find<TMMRadioGroup>(Results(), "rg_text")->SetItemIndex(1);
  Scan(QStringLiteral("ABCD"), QStringLiteral("/x.wav"));
  Results().SetSaveDialog([&](QWidget*) { return target; });
  QTest::mouseClick(Find<QPushButton>(Results(), "btn_save"), Qt::LeftButton);
  const QStringList lines = Results().Lines();
  QByteArray expected;
  expected += lines[0].toLatin1() + "\r\n";
  expected +=
      "Filename : /w\xe4v/Gr\xfc\xdf"
      "e.wav\r\n";
  expected += "Result : 55\r\n\r\nABCD\r\n";
  const test::Bytes bytes = test::ReadAll(target.toStdString());
  EXPECT_EQ(
      QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())),
      expected);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(ResultsWindow, CancellingTheSaveDialogWritesNothing) {
  Scan(QStringLiteral("1"), QStringLiteral("/a.wav"));
  bool asked = false;
  Results().SetSaveDialog([&](QWidget*) {
    asked = true;
    return QString();
  });
  Find<QPushButton>(Results(), "btn_save")->click();
  EXPECT_TRUE(asked);
  EXPECT_TRUE(QDir(File("")).entryList(QStringList{"*.txt"}, QDir::Files).isEmpty());
  EXPECT_TRUE(messages_.empty());
}

TEST_F(ResultsWindow, AFileThatCannotBeWrittenIsReportedAndNothingChanges) {
  Scan(QStringLiteral("77"), QStringLiteral("/a.wav"));
  const QString memo = Find<QPlainTextEdit>(Results(), "mem_result")->toPlainText();
  const QString missingFolder = File("no/such/folder/r.txt");
  Results().SetSaveDialog([&](QWidget*) { return missingFolder; });
  Find<QPushButton>(Results(), "btn_save")->click();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].second, MessageKind::Error);
  EXPECT_TRUE(messages_[0].first.contains(QStringLiteral("r.txt")));
  EXPECT_FALSE(QFileInfo::exists(missingFolder));
  // A folder in the file's place stays a folder.
  const QString folder = File("taken.txt");
  ASSERT_TRUE(QDir().mkpath(folder));
  Results().SetSaveDialog([&](QWidget*) { return folder; });
  Find<QPushButton>(Results(), "btn_save")->click();
  EXPECT_EQ(messages_.size(), 2u);
  EXPECT_TRUE(QFileInfo(folder).isDir());
  EXPECT_EQ(Find<QPlainTextEdit>(Results(), "mem_result")->toPlainText(), memo);
}

TEST_F(ResultsWindow, TheSaveDialogAddsTheTxtExtension) {
  Find<TMMRadioGroup>(Results(), "rg_text")->SetItemIndex(1);
  Scan(QStringLiteral("42"), QStringLiteral("/a.wav"));
  const QString folder = QDir::cleanPath(File(""));
  bool answered = false;
  QTimer::singleShot(100, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    dialog->setDirectory(folder);
    // Typed as a user would; the focused name field ignores selectFile().
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(QStringLiteral("decoded"));
    static_cast<QDialog*>(dialog)->accept();  // QFileDialog hides accept()
    answered = true;
  });
  Find<QPushButton>(Results(), "btn_save")->click();
  EXPECT_TRUE(answered);

  const test::Bytes bytes = test::ReadAll((folder + QStringLiteral("/decoded.txt")).toStdString());
  EXPECT_EQ(bytes, (test::Bytes{'4', '2', '\r', '\n'}));
}

TEST_F(ResultsWindow, ItsPlaceIsTheSameStoredValueAsTheMainWindowsPlace) {
  Results().show();
  EXPECT_EQ(Results().pos(), QPoint(0, 0));  // nothing stored
  Results().move(210, 160);
  Find<QPushButton>(Results(), "btn_close")->click();
  EXPECT_FALSE(Results().isVisible());
  EXPECT_EQ(ReadInt(kPreferenceKey, QStringLiteral("left"), 0), 210);
  EXPECT_EQ(ReadInt(kPreferenceKey, QStringLiteral("top"), 0), 160);
  // So the next start of the program opens there.
  TFrmMain next;
  EXPECT_EQ(next.pos(), QPoint(210, 160));
  Results().show();
  EXPECT_EQ(Results().pos(), QPoint(210, 160));
}

TEST_F(ResultsWindow, LinesTypedByTheUserStayLinesOfTheirOwn) {
  Find<QPlainTextEdit>(Results(), "mem_result")->setPlainText(QStringLiteral("note"));
  Find<TMMRadioGroup>(Results(), "rg_text")->SetItemIndex(1);
  Scan(QStringLiteral("1"), QStringLiteral("/a.wav"));
  EXPECT_EQ(Results().Lines(), (QStringList{"note", "1"}));
}

}  // namespace
}  // namespace tv
