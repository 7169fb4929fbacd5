// Loading and scanning through the main window, as a user does it: the
// load action with its dialog answered by the test, the scan on the
// trigger's worker, the result in the results window, the clipboard and the
// saved text file; the demonstration entries; the converter windows.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QMenu>
#include <QSlider>
#include <QTest>
#include <QDateTime>
#include <QTime>
#include <filesystem>

#include "../window/WindowTestEnv.h"
#include "DtmfSynth.h"
#include "TMMTrigger.h"
#include "TMainMenu.h"
#include "TPlayerPanel.h"
#include "TMMWave.h"
#include "TMMWaveFile.h"
#include "TMMGauge.h"
#include "TMMLEDLabel.h"
#include "TMMLEDPanel.h"
#include "TMMRadioGroup.h"
#include "TestFiles.h"
#include "WaveDialogs.h"
#include "TfCon.h"
#include "TFrmMain.h"
#include "TfNormalize.h"
#include "Tf_result.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::Find;

class ScanWindowTest : public test::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    fs::create_directories(dir_.File("rec"));
  }
  void TearDown() override {
    SetOpenWavePrompt({});
    SetSaveWavePrompt({});
    WindowTest::TearDown();
  }
  // A recording of `keys` in the folder "rec".
  QString Recording(const char* name, const std::string& keys, DtmfSignalOptions o = {}) {
    const std::string file = dir_.File("rec") + "/" + name;
    WriteDtmfWave(file, keys, o);
    return QString::fromStdString(file);
  }
  static void Answer(const QString& file) {
    SetOpenWavePrompt([file](QWidget*, const QString& title, const QString&) {
      EXPECT_EQ(title, QStringLiteral("Open Wave File"));
      return file;
    });
  }
  // Waits until the results window holds `lines` lines.
  static bool WaitForLines(TFrmMain& w, int lines, int ms = 60000) {
    return QTest::qWaitFor([&] { return w.f_result()->Lines().size() >= lines; }, ms);
  }
  // Waits until no load, demonstration or scan is under way.
  static bool WaitUntilIdle(TFrmMain& w, int ms = 60000) {
    return QTest::qWaitFor([&] { return !w.Busy(); }, ms);
  }
  static bool WaitForScanEnd(TFrmMain& w, int ms = 60000) {
    return QTest::qWaitFor([&] { return !w.Trigger().IsOpen() || !w.Trigger().IsStarted(); }, ms);
  }
};

TEST_F(ScanWindowTest, LoadActionConvertsScansAndRecordsTheResult) {
  const QString source = Recording("call.wav", "0123456789*#ABCD");
  TFrmMain w;
  w.show();
  Find<QCheckBox>(w, "cb_result")->setChecked(true);
  Find<QCheckBox>(*w.f_result(), "cb_clip")->setChecked(true);
  QGuiApplication::clipboard()->setText(QStringLiteral("before"));
  Answer(source);
  const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
  EXPECT_TRUE(w.btnLoadClick());
  ASSERT_TRUE(WaitForLines(w, 4));

  const QString scanned = QFileInfo(source).absolutePath() + QStringLiteral("/call_acm_norm.wav");
  EXPECT_EQ(w.DtmfText(), QStringLiteral("0123456789*#ABCD"));
  EXPECT_EQ(Find<QLineEdit>(w, "ed_result")->text(), QStringLiteral("0123456789*#ABCD"));
  const QStringList lines = w.f_result()->Lines();
  ASSERT_EQ(lines.size(), 4);
  // The time of day in the locale's long format, taken as the scan ended.
  bool timeMatches = false;
  // (Counted on the date as well, so that a scan across midnight matches.)
  const QDateTime after = QDateTime::currentDateTime().addSecs(1);
  for (QDateTime t = before; t <= after; t = t.addSecs(1)) {
    const QTime c = t.time();
    if (lines[0] == Tf_result::LongTimeText(QTime(c.hour(), c.minute(), c.second()))) timeMatches = true;
  }
  EXPECT_TRUE(timeMatches) << lines[0].toStdString();
  EXPECT_EQ(lines[1], QStringLiteral("Filename : ") + scanned);
  EXPECT_EQ(lines[2], QStringLiteral("Result : 0123456789*#ABCD"));
  EXPECT_EQ(lines[3], QString());
  EXPECT_TRUE(w.f_result()->isVisible());
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("0123456789*#ABCD"));
  EXPECT_EQ(Find<TMMGauge>(w, "Gauge")->Progress(), 0);

  // The panel shows the converted file; the caption names it.
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Tonvista  - call_acm_norm.wav"));
  EXPECT_EQ(Find<QLabel>(w, "LabFile")->text(), QStringLiteral("call_acm_norm.wav"));
  EXPECT_EQ(Find<TMMLEDPanel>(w, "MMLEDPanel6")->Value(), 44100);
  EXPECT_EQ(Find<TMMLEDPanel>(w, "MMLEDPanel7")->Value(), 16);
  EXPECT_TRUE(Find<QSlider>(w, "TrackBar")->isEnabled());
  EXPECT_EQ(w.Trigger().BufferSize(), 6144);
  EXPECT_EQ(ReadPreference(PreferenceRoot::CurrentUser, kPreferenceKey, QStringLiteral("InitDir"),
                           QString()),
            QFileInfo(source).absolutePath());
  EXPECT_TRUE(messages_.empty());

  // "Save to Textfile" writes the four lines with CR LF.
  const QString text = File("results.txt");
  w.f_result()->SetSaveDialog([&](QWidget*) { return text; });
  w.f_result()->btn_saveClick();
  QFile saved(text);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const QByteArray bytes = saved.readAll();
  EXPECT_TRUE(bytes.endsWith("Result : 0123456789*#ABCD\r\n\r\n")) << bytes.toStdString();
  EXPECT_EQ(bytes.count("\r\n"), 4);
  EXPECT_EQ(bytes.count('\n'), 4);
  w.close();
}

TEST_F(ScanWindowTest, ScanWithoutAFileAsksForOne) {
  TFrmMain w;
  w.show();
  SetOpenWavePrompt([](QWidget*, const QString&, const QString&) { return QString(); });
  Find<QPushButton>(w, "labTriggerStart")->click();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].first, QStringLiteral("Please select a Wave File !"));
  EXPECT_TRUE(w.f_result()->Lines().isEmpty());

  // Choosing a file scans it once and records one result.
  messages_.clear();
  Find<TMMRadioGroup>(*w.f_result(), "rg_text")->SetItemIndex(1);  // "Save only the result"
  Answer(Recording("once.wav", "42"));
  Find<QPushButton>(w, "labTriggerStart")->click();
  ASSERT_TRUE(WaitForLines(w, 1));
  QTest::qWait(200);
  EXPECT_EQ(w.f_result()->Lines(), QStringList{QStringLiteral("42")});
  EXPECT_TRUE(messages_.empty());
  // A second scan of the loaded file adds one more line, without a separator.
  Find<QPushButton>(w, "labTriggerStart")->click();
  ASSERT_TRUE(WaitForLines(w, 2));
  EXPECT_EQ(w.f_result()->Lines(), (QStringList{QStringLiteral("42"), QStringLiteral("42")}));
  w.close();
}

TEST_F(ScanWindowTest, FileThatIsNotPcmGivesTheMessage) {
  // GSM 6.10: a format that is not decoded (mu-law and the like are).
  const QString file = File("gsm.wav");
  test::WriteAll(file.toStdString(), test::RiffBuilder()
                                         .Chunk("fmt ", test::FmtBody(0x31, 1, 8000, 0, 1625, 65))
                                         .Chunk("data", Bytes(6500, 0x55))
                                         .Build());
  TFrmMain w;
  w.show();
  Answer(file);
  w.btnLoadClick();
  ASSERT_TRUE(WaitUntilIdle(w));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].first, QStringLiteral("Please select a Wave File !"));
  EXPECT_FALSE(QFileInfo::exists(File("gsm_acm.wav")));
  w.close();
}

TEST_F(ScanWindowTest, FileWithoutTonesRecordsAnEmptyResult) {
  // Mains hum and a little hiss: normalised to full scale, still no key.
  DtmfSignalOptions o;
  o.humDb = -20;
  o.noiseDb = -75;
  const QString file = Recording("hum.wav", "", o);
  TFrmMain w;
  w.show();
  Answer(file);
  w.btnLoadClick();
  ASSERT_TRUE(WaitForLines(w, 4));
  EXPECT_EQ(w.f_result()->Lines()[2], QStringLiteral("Result : "));
  w.close();
}

TEST_F(ScanWindowTest, NewScanEndsTheRunningOneWithItsResult) {
  // Long enough that the paced scan is still running when the next starts.
  DtmfSignalOptions o;
  o.toneMs = 150;
  o.gapMs = 150;
  std::string keys;
  for (int i = 0; i < 8; ++i) keys += "0123456789";
  TFrmMain w;
  w.show();
  Find<TMMRadioGroup>(*w.f_result(), "rg_text")->SetItemIndex(1);
  Answer(Recording("long.wav", keys, o));
  w.btnLoadClick();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.DtmfText().size() >= 3; }, 60000));
  w.labTriggerStartClick();
  // The first scan's partial result, then the second scan's complete one:
  // the same buffers give the same keys, so the first is where the second
  // began. (A tone's first buffer may misread a key at this threshold.)
  ASSERT_TRUE(WaitForLines(w, 2, 120000));
  const QStringList lines = w.f_result()->Lines();
  EXPECT_GE(lines[0].size(), 3);
  EXPECT_LT(lines[0].size(), static_cast<int>(keys.size()));
  EXPECT_EQ(lines[1].size(), static_cast<int>(keys.size()));
  EXPECT_TRUE(lines[1].startsWith(lines[0])) << lines[0].toStdString();
  w.close();
}

TEST_F(ScanWindowTest, ThresholdSliderIsTheDecisionThreshold) {
  // A full-scale click sets the normalisation's gain: the tones stay weak.
  DtmfSignalOptions o;
  o.levelDb = -20;
  std::vector<double> samples = SynthesizeDtmf("369", o);
  samples[50] = 1.0;
  const QString file = File("weak.wav");
  test::WriteAll(file.toStdString(), test::PcmWave(16, 1, 8000, PcmBytes(samples, o)));
  TFrmMain w;
  w.show();
  Find<TMMRadioGroup>(*w.f_result(), "rg_text")->SetItemIndex(1);
  Find<QSlider>(w, "tbThresh")->setValue(525);
  EXPECT_EQ(Find<QLabel>(w, "Label8")->text(), QStringLiteral("Threshold: 525"));
  EXPECT_EQ(w.ThresholdPosition(), 525);
  Answer(file);
  w.btnLoadClick();
  ASSERT_TRUE(WaitForLines(w, 1));
  Find<QSlider>(w, "tbThresh")->setValue(50);
  w.labTriggerStartClick();
  ASSERT_TRUE(WaitForLines(w, 2));
  EXPECT_EQ(w.f_result()->Lines(), (QStringList{QString(), QStringLiteral("369")}));
  w.close();
}

TEST_F(ScanWindowTest, DemoEntriesDecodeTheBundledRecordings) {
  const QString demos = QString::fromStdString(dir_.File("data")) + QStringLiteral("/Decode Demos");
  QDir().mkpath(demos);
  const QDir bundled(QStringLiteral(TONVISTA_BINARY_DIR "/bin/Decode Demos"));
  for (const QString& name : bundled.entryList({QStringLiteral("*.wav")}, QDir::Files)) {
    ASSERT_TRUE(QFile::copy(bundled.filePath(name), demos + QLatin1Char('/') + name));
  }
  TFrmMain w;
  w.show();
  w.SetDemoPauseMs(100);
  Find<TMMRadioGroup>(*w.f_result(), "rg_text")->SetItemIndex(1);
  w.Menus().Action("Verygoodfile1")->trigger();
  ASSERT_TRUE(WaitForLines(w, 1));
  EXPECT_EQ(w.DtmfText(), QStringLiteral("5550147236DCBA*#"));
  EXPECT_EQ(w.f_result()->Lines(), QStringList{QStringLiteral("5550147236DCBA*#")});
  EXPECT_FALSE(w.fCon()->isVisible());
  // The other entries decode too (the poorer ones need not be perfect).
  // One after the other: an entry chosen while a demonstration runs is not
  // taken (the converter window holds the input meanwhile).
  ASSERT_TRUE(WaitUntilIdle(w));
  w.Menus().Action("Fastfile50ms1")->trigger();
  ASSERT_TRUE(WaitUntilIdle(w));
  w.Menus().Action("Badfile1")->trigger();
  ASSERT_TRUE(WaitUntilIdle(w));
  w.Menus().Action("Verybadfile1")->trigger();
  ASSERT_TRUE(WaitForLines(w, 4));
  ASSERT_TRUE(WaitForScanEnd(w));
  EXPECT_FALSE(w.f_result()->Lines()[1].isEmpty());
  // A missing demonstration simply gives nothing.
  QFile::remove(demos + QStringLiteral("/dtmfgood.wav"));
  w.Menus().Action("Verybadfile1")->trigger();
  QTest::qWait(300);
  EXPECT_EQ(w.f_result()->Lines().size(), 4);
  EXPECT_TRUE(messages_.empty());
  w.close();
}

TEST_F(ScanWindowTest, ConverterWindowFromTheToolsMenu) {
  TFrmMain w;
  w.show();
  TfCon* con = w.fCon();
  Answer(Recording("tool.wav", "5"));
  con->Button1Click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !con->Busy(); }, 60000));
  EXPECT_TRUE(QFileInfo::exists(File("rec/tool_acm.wav")));
  EXPECT_TRUE(QFileInfo::exists(File("rec/tool_acm_norm.wav")));
  EXPECT_EQ(Find<QLabel>(*con, "labdest")->text(), QStringLiteral("tool_acm_norm.wav"));
  EXPECT_TRUE(Find<QLabel>(*con, "LabGain")->text().endsWith(QStringLiteral(" db")));
  EXPECT_NE(Find<QLabel>(*con, "Label2")->text(), QStringLiteral("0"));
  EXPECT_EQ(Find<TMMGauge>(*con, "Gauge1")->Progress(), 100);
  EXPECT_FALSE(Find<QPushButton>(*con, "Button2")->isHidden());
  SetOpenWavePrompt([](QWidget*, const QString&, const QString&) { return QString(); });
  con->Button1Click();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].first, QStringLiteral("Please select a Wavefile!"));
  w.close();
}

TEST_F(ScanWindowTest, NormalizeWindowFromTheToolsMenu) {
  const QString src = File("half.wav");
  test::WriteAll(src.toStdString(), test::PcmWave(16, 1, 8000, test::Le16({100, -16384, 8000})));
  TFrmMain w;
  w.show();
  TfNormalize* n = w.fNormalize();
  Answer(src);
  const QString dest = File("louder.wav");
  SetSaveWavePrompt([&](QWidget*, const QString& title, const QString&) {
    EXPECT_EQ(title, QStringLiteral("Save Normalized File as"));
    return dest;
  });
  n->btnFileClick();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !n->Busy(); }, 60000));
  EXPECT_EQ(Find<QLabel>(*n, "labSource")->text(), QStringLiteral("half.wav"));
  EXPECT_EQ(Find<QLabel>(*n, "labdest")->text(), QStringLiteral("louder.wav"));
  EXPECT_EQ(Find<QLabel>(*n, "Label2")->text(), QStringLiteral("-16384"));
  EXPECT_EQ(Find<QLabel>(*n, "LabGain")->text(), QStringLiteral(" 1.9999 db"));
  TMMWave out;
  out.SetTimeFormat(tfByte);
  out.SetFileName(dest.toStdString());
  out.OpenFile();
  Bytes data(6);
  ASSERT_EQ(out.ReadData(data.data(), 6), 6);
  EXPECT_EQ(data, test::Le16({200, -32767, 16000}));

  // Cancelling the save dialog writes nothing.
  SetSaveWavePrompt([](QWidget*, const QString&, const QString&) { return QString(); });
  QFile::remove(dest);
  n->btnFileClick();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !n->Busy(); }, 60000));
  EXPECT_FALSE(QFileInfo::exists(dest));
  EXPECT_TRUE(messages_.empty());
  w.close();
}

TEST_F(ScanWindowTest, TimesAreShownAsThePanelShowsThem) {
  EXPECT_EQ(TPlayerPanel::FormatTime(0), QStringLiteral("0:00.000"));
  EXPECT_EQ(TPlayerPanel::FormatTime(5250), QStringLiteral("0:05.250"));
  EXPECT_EQ(TPlayerPanel::FormatTime(185250), QStringLiteral("3:05.250"));
  EXPECT_EQ(TPlayerPanel::FormatTime(3720000), QStringLiteral("1:02:00.000"));
  EXPECT_EQ(TPlayerPanel::FormatTime(90061001), QStringLiteral("1:01:01:01.001"));
}

}  // namespace
}  // namespace tv
