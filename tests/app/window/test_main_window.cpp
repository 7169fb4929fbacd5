#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <thread>

#include "DtmfDecision.h"
#include "TMainMenu.h"
#include "TTitleBar.h"
#include "TMMBitmapButton.h"
#include "TMMGauge.h"
#include "TMMLEDLabel.h"
#include "TMMLEDPanel.h"
#include "TMMLed.h"
#include "TMMNumberEdit.h"
#include "WindowTestEnv.h"
#include "TFrmInfo.h"
#include "TFrmMain.h"
#include "Tf_result.h"

namespace tv {
namespace {

using MainWindow = test::WindowTest;
using test::Find;

void ShowAndWait(QWidget& w) {
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
}

TEST_F(MainWindow, FirstStartWithoutStoredValuesUsesTheDesignPlaceAndSize) {
  TFrmMain w;
  ShowAndWait(w);
  EXPECT_EQ(w.x(), 501);
  EXPECT_EQ(w.y(), 129);
  EXPECT_EQ(w.width(), 1061);
  EXPECT_EQ(w.height(), 766);
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Tonvista"));
}

TEST_F(MainWindow, StoredPlaceAndSizeAreRestoredAndWrittenBackOnClose) {
  WriteInt(kPreferenceKey, QStringLiteral("top"), 40);
  WriteInt(kPreferenceKey, QStringLiteral("left"), 60);
  WriteInt(kPreferenceKey, QStringLiteral("wide"), 900);
  WriteInt(kPreferenceKey, QStringLiteral("hei"), 700);
  TFrmMain w;
  ShowAndWait(w);
  EXPECT_EQ(w.pos(), QPoint(60, 40));
  EXPECT_EQ(w.size(), QSize(900, 700));
  w.move(70, 55);
  w.resize(1000, 720);
  QApplication::processEvents();
  ASSERT_TRUE(w.close());
  EXPECT_EQ(ReadInt(kPreferenceKey, QStringLiteral("left"), 0), 70);
  EXPECT_EQ(ReadInt(kPreferenceKey, QStringLiteral("top"), 0), 55);
  EXPECT_EQ(ReadInt(kPreferenceKey, QStringLiteral("wide"), 0), 1000);
  EXPECT_EQ(ReadInt(kPreferenceKey, QStringLiteral("hei"), 0), 720);
}

TEST_F(MainWindow, APlaceOffEveryScreenFallsBackToTheDesignPlace) {
  WriteInt(kPreferenceKey, QStringLiteral("left"), 30000);
  WriteInt(kPreferenceKey, QStringLiteral("top"), -30000);
  WriteInt(kPreferenceKey, QStringLiteral("wide"), 950);
  TFrmMain w;
  ShowAndWait(w);
  EXPECT_EQ(w.pos(), QPoint(501, 129));
  EXPECT_EQ(w.width(), 950);
}

TEST_F(MainWindow, PanFuncStaysCentredTruncatingTowardZero) {
  TFrmMain w;
  ShowAndWait(w);
  EXPECT_EQ(Find<QFrame>(w, "Pan_func")->size(), QSize(897, 217));
  EXPECT_EQ(Find<QFrame>(w, "Pan_func")->x(), 82);  // (1061 - 897) / 2
  const struct {
    int width;
    int left;
  } cases[] = {{1400, 251}, {898, 0}, {897, 0}, {896, 0}, {895, -1}, {800, -48}, {601, -148}};
  for (const auto& c : cases) {
    w.resize(c.width, 700);
    QApplication::processEvents();
    ASSERT_EQ(w.width(), c.width);
    EXPECT_EQ(Find<QFrame>(w, "Pan_func")->x(), c.left) << "window width " << c.width;
  }
  EXPECT_EQ(TFrmMain::PanFuncLeft(1), -448);
}

TEST_F(MainWindow, LayoutBandsHaveTheirDesignSizes) {
  TFrmMain w;
  ShowAndWait(w);
  EXPECT_EQ(Find<QFrame>(w, "PanTitle")->height(), 41);
  EXPECT_EQ(Find<QFrame>(w, "PanLevel")->width(), 109);
  EXPECT_EQ(Find<TMMLEDLabel>(w, "labDTMF")->height(), 26);
  EXPECT_EQ(Find<TMMLEDLabel>(w, "labDTMF")->width(), w.width());
  EXPECT_EQ(Find<QFrame>(w, "PanControl")->height(), 219);
  EXPECT_EQ(Find<TMMLEDLabel>(w, "labDTMF")->Cells(), 61);
  EXPECT_EQ(Find<TMMLEDLabel>(w, "labDTMF")->Caption(), QStringLiteral("DTMF TONE DETECTOR"));
  EXPECT_EQ(Find<QWidget>(w, "MMSpectrum1")->objectName(), QStringLiteral("MMSpectrum1"));
  // The spectrum fills what the bands leave.
  EXPECT_EQ(Find<QWidget>(w, "MMSpectrum1")->width() + Find<QFrame>(w, "PanLevel")->width(), w.width());
  EXPECT_GT(Find<QWidget>(w, "MMSpectrum1")->height(), 300);
  EXPECT_TRUE(Find<QFrame>(w, "PanPlayer")->isVisible());
  EXPECT_FALSE(Find<QLabel>(w, "overl")->isVisible());
  EXPECT_FALSE(Find<QLabel>(w, "overr")->isVisible());
  EXPECT_EQ(Find<QLabel>(w, "Label17")->text(), QStringLiteral("-inf"));
  EXPECT_EQ(Find<QLabel>(w, "Label18")->toolTip(), QStringLiteral("Click to reset"));
}

TEST_F(MainWindow, MenusCarryTheirCaptionsShortcutsAndOnlyWorkingEntriesAreEnabled) {
  TFrmMain w;
  QStringList titles;
  for (QAction* a : w.menuBar()->actions()) titles << a->text();
  EXPECT_EQ(titles, (QStringList{"&File", "Decode D&emos", "D&TMF Tone Setup", "&Analyzer Input",
                                 "Tonvista &Data Value", "Preferen&ces", "Mp&3/wav tools",
                                 "&Module", "&Info"}));
  const struct {
    const char* name;
    const char* caption;
    const char* shortcut;
    bool enabled;
  } entries[] = {
      {"LoadPrject1", "&Load Analyzer Setting", "", true},
      {"SaveProject1", "&Save Analyzer Setting", "", true},
      {"SaveasDefault1", "Save Settings as Default", "", true},
      {"N2", "Show Results Window", "", true},
      {"Exit1", "Exit", "", true},
      {"Verygoodfile1", "Very good file", "", true},
      {"Fastfile50ms1", "Fast file 50 ms", "", true},
      {"Badfile1", "Bad quality", "", true},
      {"Verybadfile1", "Very bad quality", "", true},
      {"DTMFSettings1", "D&TMF Tone Setup", "", true},
      {"WavePlayer1", "&Wave Player", "", true},
      {"LineIn1", "&Real Time Scan", "", true},
      {"Frequ1", "&Generator", "", true},
      {"StoreSpectrum1", "Store freezed Spectrum 1", "F5", true},
      {"StoreSpectrum2", "Store freezed Spectrum 2", "F6", true},
      {"StoreSpectrum3", "Store freezed Spectrum 3", "F7", true},
      {"StoreSpectrum4", "Store freezed Spectrum 4", "F8", true},
      {"LoadSpectrum1", "Load freezed Spectrum 1", "F9", true},
      {"LoadSpectrum2", "Load freezed Spectrum 2", "F10", true},
      {"LoadSpectrum3", "Load freezed Spectrum 3", "F11", true},
      {"LoadSpectrum4", "Load freezed Spectrum 4", "F12", true},
      {"AnalyzerEditor1", "Analyzer &Editor", "", true},
      {"SetupforInput1", "Standard &Mixer Win95/98/00/NT", "", true},
      {"InputDevice1", "&Input Device", "", true},
      {"OutputDevice1", "&Output Device", "", true},
      {"Spectrum1", "Spectrum &controls", "", true},
      {"DtmfConverter1", "DTMF normalize && converter", "", true},
      {"Mp3ToWav1", "Convert Mp3 to Wav", "", true},
      {"NormalizeWave1", "Normalize wave files", "", true},
      {"SplitStereo1", "Split Stereo into 2 mono files", "", true},
      {"SwapChannels1", "Swap left with right channel", "", true},
      {"PrintSpectrumSetup1", "Print Spectrum Setup", "", true},
      {"PrinterSetup1", "Printer Setup", "", true},
      {"LoadBackground1", "Load freezed Background", "", true},
      {"ClearBackground1", "Clear freezed Background", "", true},
      {"CheckBackgroundcolors2", "Check Background colors", "", true},
      {"About1", "About", "", true},
      {"HelpFile1", "&Help-File", "F1", true},
  };
  for (const auto& e : entries) {
    auto* a = w.findChild<QAction*>(QString::fromLatin1(e.name));
    ASSERT_NE(a, nullptr) << e.name;
    EXPECT_EQ(a->text(), QString::fromLatin1(e.caption)) << e.name;
    EXPECT_EQ(a->shortcut(), QKeySequence(QString::fromLatin1(e.shortcut))) << e.name;
    EXPECT_EQ(a->isEnabled(), e.enabled) << e.name;
  }
  EXPECT_EQ(w.Menus().Action("LineIn1")->toolTip(), QStringLiteral("The one you choose by recording Input !"));
  EXPECT_EQ(w.Menus().Menu("PrintModule1")->title(), QStringLiteral("&Print Module"));
  EXPECT_EQ(w.Menus().Menu("BackgroundModule1")->title(), QStringLiteral("Background Module"));
}

TEST_F(MainWindow, PanelControlsAreUsableExceptTheSliderWithoutAFile) {
  TFrmMain w;
  EXPECT_FALSE(Find<QSlider>(w, "TrackBar")->isEnabled());
  for (QWidget* c : std::initializer_list<QWidget*>{Find<TMMBitmapButton>(w, "bntRec"), Find<TMMBitmapButton>(w, "btnLoad"), Find<QPushButton>(w, "labTriggerStart"), Find<QSlider>(w, "tbThresh"),
                                                    Find<TMMBitmapButton>(w, "btnStart"), Find<TMMBitmapButton>(w, "btnPause"), Find<TMMBitmapButton>(w, "btnStop"),
                                                    Find<TMMBitmapButton>(w, "MMBitmapButton3"), Find<TMMBitmapButton>(w, "MMBitmapButton4"),
                                                    Find<TMMBitmapButton>(w, "bntloop1"), Find<QPushButton>(w, "LabReal"),
                                                    Find<QPushButton>(w, "btnGenerat"), Find<QPushButton>(w, "LabAnalyer"),
                                                    Find<QCheckBox>(w, "cb_result"), Find<QPushButton>(w, "LabPlayer"), Find<QPushButton>(w, "LabTrigger")}) {
    EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();
  }
  EXPECT_EQ(Find<TMMBitmapButton>(w, "btnLoad")->toolTip(), QStringLiteral("Select .wav"));
  EXPECT_EQ(Find<TMMBitmapButton>(w, "MMBitmapButton3")->toolTip(), QStringLiteral("10 % Forward"));
  EXPECT_EQ(Find<TMMBitmapButton>(w, "MMBitmapButton4")->toolTip(), QStringLiteral("10 % Rewind"));
  EXPECT_EQ(Find<QPushButton>(w, "labTriggerStart")->text(), QStringLiteral("Scan for DTMF Tones"));
  EXPECT_EQ(Find<QLabel>(w, "LabFile")->text(), QStringLiteral("No Wav File selected"));
  EXPECT_EQ(Find<QLabel>(w, "labRec")->text(), QStringLiteral("No record File selected"));
  EXPECT_EQ(Find<QLabel>(w, "Label10")->text(), QStringLiteral("00:00.000"));
  EXPECT_EQ(Find<QCheckBox>(w, "cb_result")->text(), QStringLiteral("Show Results from decodated files"));
  EXPECT_TRUE(Find<QCheckBox>(w, "cb_result")->isChecked());
  EXPECT_TRUE(Find<QLineEdit>(w, "ed_result")->isHidden());
  EXPECT_EQ(Find<QLabel>(w, "LabThreshLow")->text(), QStringLiteral("Not loud/ besides noise"));
  EXPECT_EQ(Find<QLabel>(w, "LabThreshHigh")->text(), QStringLiteral("Fast (1ms) & Clean"));
  EXPECT_EQ(Find<TMMNumberEdit>(w, "edts1")->MaxValue(), 100000000);
}

TEST_F(MainWindow, ExitFromTheMenuOrTheButtonClosesTheWindow) {
  {
    TFrmMain w;
    ShowAndWait(w);
    w.Menus().Action("Exit1")->trigger();
    EXPECT_FALSE(w.isVisible());
  }
  TFrmMain w;
  ShowAndWait(w);
  QTest::mouseClick(Find<QPushButton>(w, "LabTrigger"), Qt::LeftButton);
  EXPECT_FALSE(w.isVisible());
  // Closing stored the window's place.
  EXPECT_EQ(ReadInt(kPreferenceKey, QStringLiteral("left"), 0), 501);
}

TEST_F(MainWindow, StartupScreenClosesOnceTheWindowIsShownAndAboutBringsItBack) {
  TFrmInfo info;
  info.ShowNow();
  ASSERT_TRUE(info.isVisible());
  EXPECT_EQ(info.windowTitle(), QStringLiteral("Programm Info"));
  EXPECT_EQ(info.size(), QSize(538, 309));
  TFrmMain w(&info);
  EXPECT_TRUE(info.isVisible());  // until the main window shows
  ShowAndWait(w);
  EXPECT_FALSE(info.isVisible());
  w.Menus().Action("About1")->trigger();
  EXPECT_TRUE(info.isVisible());
  QTest::mouseClick(Find<QLabel>(info, "MMLabel13"), Qt::LeftButton);
  EXPECT_FALSE(info.isVisible());
  EXPECT_TRUE(w.isVisible());
}

TEST_F(MainWindow, AboutWithoutAStartupScreenMakesItsOwn) {
  TFrmMain w;
  ShowAndWait(w);
  EXPECT_EQ(w.FrmInfo(), nullptr);
  w.Menus().Action("About1")->trigger();
  ASSERT_NE(w.FrmInfo(), nullptr);
  EXPECT_TRUE(w.FrmInfo()->isVisible());
  QTest::mouseClick(Find<QWidget>(*w.FrmInfo(), "Image1"), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  EXPECT_FALSE(w.FrmInfo()->isVisible());
}

TEST_F(MainWindow, ShowResultsCheckBoxFollowsTheStoredIntegerOnly) {
  WriteInt(kPreferenceKey, QStringLiteral("show"), 0);
  {
    TFrmMain w;
    EXPECT_TRUE(Find<QCheckBox>(w, "cb_result")->isChecked());  // read at first show, not before
    ShowAndWait(w);
    EXPECT_FALSE(Find<QCheckBox>(w, "cb_result")->isChecked());
    Find<QCheckBox>(w, "cb_result")->setChecked(true);
    w.close();
  }
  EXPECT_EQ(ReadInt(kPreferenceKey, QStringLiteral("show"), -1), 1);
  // Stored as a string the value is not read: the box keeps its design state.
  WritePreference(PreferenceRoot::CurrentUser, kPreferenceKey, QStringLiteral("Show"), "0");
  TFrmMain w;
  ShowAndWait(w);
  EXPECT_TRUE(Find<QCheckBox>(w, "cb_result")->isChecked());
}

TEST_F(MainWindow, ThresholdSliderShowsItsPositionAndSharesIt) {
  TFrmMain w;
  ShowAndWait(w);
  EXPECT_EQ(Find<QSlider>(w, "tbThresh")->minimum(), 50);
  EXPECT_EQ(Find<QSlider>(w, "tbThresh")->maximum(), 525);
  EXPECT_EQ(Find<QSlider>(w, "tbThresh")->value(), 50);
  EXPECT_EQ(Find<QLabel>(w, "Label8")->text(), QStringLiteral("Threshold: 50"));
  EXPECT_EQ(w.ThresholdPosition(), 50);
  Find<QSlider>(w, "tbThresh")->setValue(300);
  EXPECT_EQ(Find<QLabel>(w, "Label8")->text(), QStringLiteral("Threshold: 300"));
  EXPECT_EQ(w.ThresholdPosition(), 300);
  Find<QSlider>(w, "tbThresh")->setFocus();
  QTest::keyClick(Find<QSlider>(w, "tbThresh"), Qt::Key_End);
  EXPECT_EQ(Find<QLabel>(w, "Label8")->text(), QStringLiteral("Threshold: 525"));
  EXPECT_EQ(w.ThresholdPosition(), 525);
}

TEST_F(MainWindow, KeyCharactersAndStandardFrequenciesAreSetAtFirstShow) {
  TFrmMain w;
  ShowAndWait(w);
  const char* expected[16] = {"0", "1", "2", "3", "4", "5", "6", "7",
                              "8", "9", "*", "#", "A", "B", "C", "D"};
  for (size_t i = 0; i < 16; ++i) EXPECT_EQ(QString::fromStdString(w.Decision().KeyChar(static_cast<int>(i))), QString::fromLatin1(expected[i])) << i;
  const int columns[4] = {1209, 1336, 1477, 1633};
  const int rows[4] = {697, 770, 852, 941};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(w.Decision().ColumnFreq(static_cast<int>(i)), columns[i]);
    EXPECT_EQ(w.Decision().RowFreq(static_cast<int>(i)), rows[i]);
  }
  EXPECT_FALSE(w.Decision().KeyReleased());
  EXPECT_EQ(w.TitleBar()->PeakLeft(), -99);
}

TEST_F(MainWindow, KeysFromAWorkerArriveInOrderNoneLost) {
  TFrmMain w;
  ShowAndWait(w);
  w.ClearDtmfText();
  const QString alphabet = QStringLiteral("0123456789*#ABCD");
  QString expected;
  for (int i = 0; i < 3000; ++i) expected += alphabet.at(i % alphabet.size());
  std::thread worker([&w, &alphabet] {
    for (int i = 0; i < 3000; ++i) w.AppendDtmfKey(alphabet.at(i % alphabet.size()));
  });
  // The GUI thread keeps running its loop while the worker appends.
  EXPECT_TRUE(QTest::qWaitFor([&] { return Find<TMMLEDLabel>(w, "labDTMF")->Caption().size() == 3000; }, 10000));
  worker.join();
  QApplication::processEvents();
  EXPECT_EQ(Find<TMMLEDLabel>(w, "labDTMF")->Caption(), expected);
}

TEST_F(MainWindow, ReadingTheTextTakesKeysStillOnTheirWayAndClearingDropsThem) {
  TFrmMain w;
  ShowAndWait(w);
  w.ClearDtmfText();
  std::thread([&w] {
    for (const char* k : {"5", "5", "5", "0", "1"}) w.AppendDtmfKey(QString::fromLatin1(k));
  }).join();
  // No event processed yet: the keys are still queued, yet the text has them.
  EXPECT_EQ(w.DtmfText(), QStringLiteral("55501"));
  w.AppendDtmfKey(QStringLiteral("4"));  // on the GUI thread: after them
  EXPECT_EQ(Find<TMMLEDLabel>(w, "labDTMF")->Caption(), QStringLiteral("555014"));

  std::thread([&w] { w.AppendDtmfKey(QStringLiteral("9")); }).join();
  w.ClearDtmfText();
  QApplication::processEvents();
  EXPECT_TRUE(Find<TMMLEDLabel>(w, "labDTMF")->Caption().isEmpty());
}

TEST_F(MainWindow, ProgressFromAWorkerReachesTheGauge) {
  TFrmMain w;
  ShowAndWait(w);
  std::thread worker([&w] {
    for (int i = 0; i <= 20000; ++i) w.SetScanProgress(i * 100 / 20000);
  });
  worker.join();
  EXPECT_TRUE(QTest::qWaitFor([&] { return Find<TMMGauge>(w, "Gauge")->Progress() == 100; }, 5000));
  w.SetScanProgress(250);
  EXPECT_EQ(Find<TMMGauge>(w, "Gauge")->Progress(), 100);
  w.SetScanProgress(-4);
  EXPECT_EQ(Find<TMMGauge>(w, "Gauge")->Progress(), 0);
}

TEST_F(MainWindow, PeakLabelsAndOverloadLampsResetOnClick) {
  TFrmMain w;
  ShowAndWait(w);
  Find<QLabel>(w, "Label17")->setText(QStringLiteral("-3.00"));
  Find<QLabel>(w, "Label18")->setText(QStringLiteral("-4.00"));
  w.TitleBar()->SetPeakLeft(20000);
  QTest::mouseClick(Find<QLabel>(w, "Label18"), Qt::LeftButton);
  EXPECT_EQ(Find<QLabel>(w, "Label17")->text(), QStringLiteral("-inf"));
  EXPECT_EQ(Find<QLabel>(w, "Label18")->text(), QStringLiteral("-inf"));
  EXPECT_EQ(w.TitleBar()->PeakLeft(), -99);
  Find<TMMLed>(w, "LEDLeft")->SetLit(true);
  Find<TMMLed>(w, "LEDRight")->SetLit(true);
  Find<QLabel>(w, "overl")->show();
  QTest::mouseClick(Find<TMMLed>(w, "LEDRight"), Qt::LeftButton);
  EXPECT_FALSE(Find<TMMLed>(w, "LEDLeft")->Lit());
  EXPECT_FALSE(Find<TMMLed>(w, "LEDRight")->Lit());
  EXPECT_FALSE(Find<QLabel>(w, "overl")->isVisible());
}

TEST_F(MainWindow, WavePlayerButtonAndEntryShowThePlayerPanel) {
  TFrmMain w;
  ShowAndWait(w);
  Find<QFrame>(w, "PanPlayer")->hide();
  QTest::mouseClick(Find<QPushButton>(w, "LabPlayer"), Qt::LeftButton);
  EXPECT_TRUE(Find<QFrame>(w, "PanPlayer")->isVisible());
  Find<QFrame>(w, "PanPlayer")->hide();
  w.Menus().Action("WavePlayer1")->trigger();
  EXPECT_TRUE(Find<QFrame>(w, "PanPlayer")->isVisible());
}

TEST_F(MainWindow, ShowResultsWindowEntryShowsTheResultsWindow) {
  TFrmMain w;
  ShowAndWait(w);
  EXPECT_FALSE(w.f_result()->isVisible());
  w.Menus().Action("N2")->trigger();
  EXPECT_TRUE(w.f_result()->isVisible());
  // Closing the program takes the results window along.
  w.close();
  EXPECT_FALSE(w.f_result()->isVisible());
}

}  // namespace
}  // namespace tv
