// Every control a settings file holds, set in a real main window, saved by
// its "&Save Analyzer Setting" entry, loaded by "&Load Analyzer Setting" into
// another window: the controls come back, the file holds each value under
// its documented key, and the displays follow the loaded values.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "PromptedWindowTest.h"
#include "../window/WindowTestEnv.h"
#include "SettingsKeyList.h"
#include "DataFolder.h"
#include "FileRequest.h"
#include "TFrmMain.h"
#include "TIniFile.h"
#include "TMMColorButton.h"
#include "TMMGenerator.h"
#include "TMMLEDSpin.h"
#include "TMMLevel.h"
#include "TMMRadioGroup.h"
#include "TMMSpectrum.h"
#include "TMainMenu.h"
#include "TPlayerPanel.h"
#include "TfOutfitSpec.h"

namespace tv {
namespace {

using test::Find;

using test::KeyKind;
using test::SettingsKey;

QColor ColorOf(int32_t rgb) { return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF); }

// A control of the main window, or of its "Bars preference" window.
template <class T>
T* Control(TFrmMain& w, const SettingsKey& k) {
  if (k.kind == KeyKind::Color || k.kind == KeyKind::Bar) {
    auto* bars = w.findChild<TfOutfitSpec*>();
    EXPECT_NE(bars, nullptr);
    return bars ? bars->findChild<T*>(QString::fromLatin1(k.control)) : nullptr;
  }
  return Find<T>(w, k.control);
}

// The value as the user would set it: spins, groups and colour buttons
// through their setters (which run the change handlers), check boxes by a
// click.
void SetAsUser(TFrmMain& w, const SettingsKey& k, int32_t value) {
  switch (k.kind) {
    case KeyKind::Spin:
    case KeyKind::Bar:
      Control<TMMLEDSpin>(w, k)->SetValue(value);
      break;
    case KeyKind::Group:
      Control<TMMRadioGroup>(w, k)->SetItemIndex(value);
      break;
    case KeyKind::Box:
      if (auto* box = Control<QCheckBox>(w, k); box->isChecked() != (value != 0)) box->click();
      break;
    case KeyKind::Color:
      Control<TMMColorButton>(w, k)->SetColor(ColorOf(value));
      break;
  }
}

int32_t ValueOf(TFrmMain& w, const SettingsKey& k) {
  switch (k.kind) {
    case KeyKind::Spin:
    case KeyKind::Bar:
      return Control<TMMLEDSpin>(w, k)->Value();
    case KeyKind::Group:
      return Control<TMMRadioGroup>(w, k)->ItemIndex();
    case KeyKind::Box:
      return Control<QCheckBox>(w, k)->isChecked() ? 1 : 0;
    case KeyKind::Color: {
      const QColor c = Control<TMMColorButton>(w, k)->Color();
      return test::Rgb(c.red(), c.green(), c.blue());
    }
  }
  return -2;
}

class WindowSettings : public test::PromptedWindowTest {};

TEST_F(WindowSettings, EveryControlGoesThroughTheMenuIntoAFileAndBackIntoAnotherWindow) {
  const QString path = QDir(AnalyzerProjectsFolder()).filePath(QStringLiteral("bench.prj"));
  answer_ = path;
  {
    TFrmMain w;
    for (const SettingsKey& k : test::kSettingsKeys) {
      ASSERT_EQ(ValueOf(w, k), k.design) << k.key;
      SetAsUser(w, k, k.changed);
      ASSERT_EQ(ValueOf(w, k), k.changed) << k.key;
    }
    w.Menus().Action("SaveProject1")->trigger();
    ASSERT_EQ(requests_.size(), 1u);
    EXPECT_TRUE(requests_[0].save);
  }
  ASSERT_TRUE(QFileInfo::exists(path));
  EXPECT_TRUE(messages_.empty());

  // Each value under its key (-9 would be a key the file lacks).
  const TIniFile file(path.toStdString());
  for (const SettingsKey& k : test::kSettingsKeys) {
    EXPECT_EQ(file.ReadInteger(k.section, k.key, -9), k.changed) << k.key;
  }

  TFrmMain w;
  for (const SettingsKey& k : test::kSettingsKeys) ASSERT_EQ(ValueOf(w, k), k.design) << k.key;
  w.Menus().Action("LoadPrject1")->trigger();
  ASSERT_EQ(requests_.size(), 2u);
  EXPECT_FALSE(requests_[1].save);
  for (const SettingsKey& k : test::kSettingsKeys) EXPECT_EQ(ValueOf(w, k), k.changed) << k.key;

  // The loaded values reached what the controls drive, as if the user had
  // changed them.
  TMMSpectrum& spectrum = w.MMSpectrum1();
  EXPECT_EQ(spectrum.Calc().Decay(), 6);
  EXPECT_EQ(w.MMLevel1().Calc().Decay(), 8);
  EXPECT_EQ(spectrum.Calc().Gain(), sg9db);
  EXPECT_FALSE(spectrum.Calc().DisplayPeak());
  EXPECT_FALSE(spectrum.DrawGrid());
  EXPECT_EQ(spectrum.Calc().NumPeaks(), 1);
  EXPECT_EQ(w.MMLevel1().NumPeaks(), 1);
  EXPECT_EQ(w.MMGenerator1().WaveForm(), wfNoise);
  EXPECT_DOUBLE_EQ(w.MMGenerator1().Frequency(), 1633.0);
  EXPECT_FALSE(w.PlayerPanel()->ShowsResults());
  EXPECT_EQ(spectrum.Bar1Color(), ColorOf(test::Rgb(1, 2, 3)));
  EXPECT_EQ(spectrum.GridColor(), ColorOf(test::Rgb(10, 10, 200)));
  EXPECT_EQ(w.MMLevel1().Point1(), 35);
  EXPECT_EQ(w.MMLevel1().Point2(), 92);
  EXPECT_TRUE(messages_.empty());
}

// A file saved by hand with the sections and keys in other letter cases
// and more keys of its own: loaded all the same, and a save through the
// window keeps what it does not write.
TEST_F(WindowSettings, AHandWrittenFileLoadsWhateverItsCaseAndKeepsItsOtherLinesOnSave) {
  const QString path = File("hand.prj");
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("; my bench\n[tmmledspin]\nledspin43=0x7D0\n[TRADIOGROUP]\nINDEX50=$4\n"
            "[Notes]\nowner=lab 3\n[TCheckBox]\nchecked100=0\nChecked7=1\n");
  }
  answer_ = path;
  TFrmMain w;
  w.Menus().Action("LoadPrject1")->trigger();
  EXPECT_EQ(Find<TMMLEDSpin>(w, "SpinFreq1")->Value(), 2000);
  EXPECT_EQ(Find<TMMRadioGroup>(w, "rgGain")->ItemIndex(), 4);
  EXPECT_FALSE(Find<QCheckBox>(w, "CheckBox6")->isChecked());
  EXPECT_FALSE(w.MMSpectrum1().DrawGrid());

  Find<TMMLEDSpin>(w, "SpinFreq1")->SetValue(697);
  w.Menus().Action("SaveProject1")->trigger();
  const TIniFile file(path.toStdString());
  EXPECT_EQ(file.ReadInteger("TmmLedSpin", "LedSpin43", -9), 697);
  EXPECT_EQ(file.ReadString("Notes", "owner", ""), "lab 3");
  EXPECT_EQ(file.ReadInteger("TCheckBox", "Checked7", -9), 1);
  EXPECT_EQ(file.ReadInteger("TCheckBox", "Checked100", -9), 0);
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_TRUE(f.readAll().startsWith("; my bench\n"));
}

}  // namespace
}  // namespace tv
