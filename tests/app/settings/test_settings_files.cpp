// Settings files as the main window uses them: its controls saved and
// restored, "Default.prj" at start and exit, the File menu's three entries,
// and the device choices kept in the preferences rather than the files.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "PromptedWindowTest.h"
#include "../window/WindowTestEnv.h"
#include "FileRequest.h"
#include "TFrmMain.h"
#include "TIniFile.h"
#include "TMMColorButton.h"
#include "TMMLEDSpin.h"
#include "TMMRadioGroup.h"
#include "TSettingsFiles.h"
#include "TfOutfitSpec.h"

namespace tv {
namespace {

using test::Find;

class SettingsFiles : public test::PromptedWindowTest {
 protected:

  // A host over a real main window and "Bars preference" window, with
  // devices kept in plain variables.
  TSettingsFiles::Host HostFor(TFrmMain& w, TfOutfitSpec& bars) {
    TSettingsFiles::Host h;
    h.Window = &w;
    h.Bars = &bars;
    h.InputDevice = [this] { return in_; };
    h.OutputDevice = [this] { return out_; };
    h.SetDevices = [this](const TDeviceChoice& in, const TDeviceChoice& out) {
      in_ = in;
      out_ = out;
      ++deviceChanges_;
    };
    return h;
  }

  TDeviceChoice in_;
  TDeviceChoice out_;
  int deviceChanges_ = 0;
};

// Every control of the settings, changed away from its design value.
void ChangeEverything(TFrmMain& w, TfOutfitSpec& bars) {
  Find<TMMLEDSpin>(w, "LEDSpinYScale")->SetValue(3);
  Find<TMMLEDSpin>(w, "MMLEDSpin55")->SetValue(6);
  Find<TMMLEDSpin>(w, "SpinFreq1")->SetValue(1209);
  Find<TMMLEDSpin>(w, "MMSpinButton5")->SetValue(1);
  Find<TMMLEDSpin>(w, "MMLEDSpin18")->SetValue(4000);
  Find<TMMRadioGroup>(w, "RadioGroup2")->SetItemIndex(3);
  Find<TMMRadioGroup>(w, "rgUS")->SetItemIndex(1);
  Find<TMMRadioGroup>(w, "rgSample")->SetItemIndex(2);
  Find<TMMRadioGroup>(w, "rgGain")->SetItemIndex(4);
  Find<QCheckBox>(w, "cb_result")->setChecked(false);
  Find<QCheckBox>(w, "CheckBox5")->setChecked(false);
  Find<QCheckBox>(w, "CheckBox6")->setChecked(false);
  Find<QCheckBox>(w, "CheckBox7")->setChecked(true);
  bars.MMColorButton[0]->SetColor(QColor(10, 20, 30));
  bars.MMColorButton[9]->SetColor(QColor(200, 100, 50));
  bars.MMLEDSpin1->SetValue(70);
  bars.MMLEDSpin55->SetValue(20);
  bars.MMLEDSpin5->SetValue(33);
  bars.MMLEDSpin6->SetValue(97);
}

TEST_F(SettingsFiles, EveryControlSurvivesASaveAndALoadIntoANewWindow) {
  const QString path = File("round.prj");
  TAnalyzerSettings saved;
  {
    TFrmMain w;
    // Owned by the main window, as the program has it: its "MMLEDSpin55"
    // is not the main window's decay.
    TfOutfitSpec& bars = *new TfOutfitSpec(&w);
    ChangeEverything(w, bars);
    TSettingsFiles files(HostFor(w, bars));
    ASSERT_TRUE(files.Save(path));
    CollectWindowSettings(w, saved);
    bars.CollectSettings(saved);
  }
  TFrmMain w;
  TfOutfitSpec bars;
  TSettingsFiles files(HostFor(w, bars));
  files.Load(path);
  EXPECT_EQ(Find<TMMLEDSpin>(w, "LEDSpinYScale")->Value(), 3);
  EXPECT_EQ(Find<TMMLEDSpin>(w, "MMLEDSpin55")->Value(), 6);
  EXPECT_EQ(Find<TMMLEDSpin>(w, "SpinFreq1")->Value(), 1209);
  EXPECT_EQ(Find<TMMLEDSpin>(w, "MMSpinButton5")->Value(), 1);
  EXPECT_EQ(Find<TMMLEDSpin>(w, "MMLEDSpin18")->Value(), 4000);
  EXPECT_EQ(Find<TMMRadioGroup>(w, "RadioGroup2")->ItemIndex(), 3);
  EXPECT_EQ(Find<TMMRadioGroup>(w, "rgUS")->ItemIndex(), 1);
  EXPECT_EQ(Find<TMMRadioGroup>(w, "rgSample")->ItemIndex(), 2);
  EXPECT_EQ(Find<TMMRadioGroup>(w, "rgGain")->ItemIndex(), 4);
  EXPECT_FALSE(Find<QCheckBox>(w, "cb_result")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>(w, "CheckBox5")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>(w, "CheckBox6")->isChecked());
  EXPECT_TRUE(Find<QCheckBox>(w, "CheckBox7")->isChecked());
  EXPECT_EQ(bars.MMColorButton[0]->Color(), QColor(10, 20, 30));
  EXPECT_EQ(bars.MMColorButton[9]->Color(), QColor(200, 100, 50));
  EXPECT_EQ(bars.MMLEDSpin1->Value(), 70);
  EXPECT_EQ(bars.MMLEDSpin55->Value(), 20);
  EXPECT_EQ(bars.MMLEDSpin5->Value(), 33);
  EXPECT_EQ(bars.MMLEDSpin6->Value(), 97);
  TAnalyzerSettings loaded;
  CollectWindowSettings(w, loaded);
  bars.CollectSettings(loaded);
  EXPECT_EQ(loaded, saved);
  // The colour as the file keeps it: 0x00BBGGRR.
  EXPECT_EQ(TIniFile(path.toStdString()).ReadInteger("Color", "Color1", 0), (30 << 16) | (20 << 8) | 10);
}

TEST_F(SettingsFiles, AFileWithoutValuesDropsTheControlsToTheirFloor) {
  TFrmMain w;
  TfOutfitSpec bars;
  ChangeEverything(w, bars);
  int stepClicks = 0;
  QObject::connect(Find<TMMRadioGroup>(w, "RadioGroup2"), &TMMRadioGroup::clicked,
                   [&] { ++stepClicks; });
  TSettingsFiles files(HostFor(w, bars));
  files.Load(File("missing.prj"));
  EXPECT_EQ(Find<TMMLEDSpin>(w, "LEDSpinYScale")->Value(), 1);
  EXPECT_EQ(Find<TMMLEDSpin>(w, "MMLEDSpin55")->Value(), 5);
  EXPECT_EQ(Find<TMMLEDSpin>(w, "SpinFreq1")->Value(), 1);
  EXPECT_EQ(Find<TMMLEDSpin>(w, "MMLEDSpin18")->Value(), 0);
  for (const char* group : {"RadioGroup2", "rgUS", "rgSample", "rgGain"}) {
    EXPECT_EQ(Find<TMMRadioGroup>(w, group)->ItemIndex(), -1) << group;
  }
  EXPECT_EQ(stepClicks, 0);  // clearing the selection selects nothing
  for (const char* box : {"cb_result", "CheckBox5", "CheckBox6", "CheckBox7"}) {
    EXPECT_TRUE(Find<QCheckBox>(w, box)->isChecked()) << box;
  }
  EXPECT_EQ(bars.MMLEDSpin1->Value(), 1);
  EXPECT_EQ(bars.MMLEDSpin6->Value(), 1);
  // -1 is no colour: the chosen ones stay.
  EXPECT_EQ(bars.MMColorButton[0]->Color(), QColor(10, 20, 30));
}

TEST_F(SettingsFiles, TheFirstStartGetsTheDesignValuesAndExitKeepsTheState) {
  const QString def = DefaultSettingsPath();
  EXPECT_EQ(QFileInfo(def).fileName(), QStringLiteral("Default.prj"));
  EXPECT_EQ(QFileInfo(def).dir().dirName(), QStringLiteral("Analyzer Projects"));
  ASSERT_FALSE(QFileInfo::exists(def));
  {
    TFrmMain w;
    TfOutfitSpec bars;
    TSettingsFiles files(HostFor(w, bars));
    files.LoadDefault();
    EXPECT_EQ(Find<TMMLEDSpin>(w, "MMLEDSpin55")->Value(), 8);
    EXPECT_EQ(Find<TMMLEDSpin>(w, "SpinFreq1")->Value(), 1000);
    EXPECT_EQ(Find<TMMLEDSpin>(w, "MMLEDSpin18")->Value(), 8212);
    EXPECT_EQ(Find<TMMRadioGroup>(w, "RadioGroup2")->ItemIndex(), 2);
    EXPECT_EQ(Find<TMMRadioGroup>(w, "rgSample")->ItemIndex(), 0);
    EXPECT_FALSE(Find<QCheckBox>(w, "CheckBox7")->isChecked());
    EXPECT_EQ(bars.MMColorButton[2]->Color(), QColor(Qt::red));
    EXPECT_EQ(bars.MMLEDSpin1->Value(), 85);
    ChangeEverything(w, bars);
    ASSERT_TRUE(files.SaveDefault());
  }
  // The next start finds what the last one left.
  TFrmMain w;
  TfOutfitSpec bars;
  TSettingsFiles files(HostFor(w, bars));
  files.LoadDefault();
  EXPECT_EQ(Find<TMMLEDSpin>(w, "SpinFreq1")->Value(), 1209);
  EXPECT_EQ(Find<TMMRadioGroup>(w, "rgGain")->ItemIndex(), 4);
  EXPECT_EQ(bars.MMLEDSpin6->Value(), 97);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(SettingsFiles, DeviceChoicesLiveInThePreferencesNotInTheFiles) {
  TFrmMain w;
  TfOutfitSpec bars;
  TSettingsFiles files(HostFor(w, bars));
  in_ = {2, cmThread};
  out_ = {1, cmWindow};
  const QString path = File("devices.prj");
  ASSERT_TRUE(files.Save(path));
  EXPECT_EQ(ReadInt(kPreferenceKey, QStringLiteral("DeviceID in"), -9), 2);
  EXPECT_EQ(ReadInt(kPreferenceKey, QStringLiteral("CBMode in"), -9), 2);
  EXPECT_EQ(ReadInt(kPreferenceKey, QStringLiteral("DeviceID out"), -9), 1);
  EXPECT_EQ(ReadInt(kPreferenceKey, QStringLiteral("CBMode out"), -9), 0);
  EXPECT_FALSE(TIniFile(path.toStdString()).Load().Text().find("DeviceID") != std::string::npos);

  // Another choice stored later wins over the one in use when the file was saved.
  WriteInputDeviceChoice({0, cmCallback});
  in_ = {5, cmWindow};
  files.Load(path);
  EXPECT_EQ(deviceChanges_, 1);
  EXPECT_EQ(in_, (TDeviceChoice{0, cmCallback}));
  EXPECT_EQ(out_, (TDeviceChoice{1, cmWindow}));

  // Nothing stored: the devices keep their present choice; a stored mode
  // outside 0..2 is no mode.
  unsetenv(kConfigDirVariable);
  setenv(kConfigDirVariable, File("fresh-config").toStdString().c_str(), 1);
  WritePreference(PreferenceRoot::CurrentUser, kPreferenceKey, QStringLiteral("CBMode out"), 7);
  in_ = {3, cmThread};
  out_ = {4, cmThread};
  files.Load(path);
  EXPECT_EQ(in_, (TDeviceChoice{3, cmThread}));
  EXPECT_EQ(out_, (TDeviceChoice{4, cmThread}));
}

TEST_F(SettingsFiles, AShowValueStoredAsAStringIsNotRead) {
  WritePreference(PreferenceRoot::CurrentUser, kPreferenceKey, QStringLiteral("show"),
                  QStringLiteral("1"));
  EXPECT_FALSE(ReadPreference(PreferenceRoot::CurrentUser, kPreferenceKey, QStringLiteral("Show"), false));
  EXPECT_TRUE(ReadPreference(PreferenceRoot::CurrentUser, kPreferenceKey, QStringLiteral("SHOW"), true));
}

TEST_F(SettingsFiles, TheMenuEntriesAskInTheProjectsFolderAndSaySoOnce) {
  TFrmMain w;
  TfOutfitSpec bars;
  TSettingsFiles files(HostFor(w, bars));

  answer_.clear();  // cancelled: nothing written
  EXPECT_FALSE(files.SaveProject1Click());
  ASSERT_EQ(requests_.size(), 1u);
  EXPECT_EQ(requests_[0].title, QStringLiteral("Save Tonvista Project File Data"));
  EXPECT_EQ(requests_[0].defaultSuffix, QStringLiteral("prj"));
  EXPECT_TRUE(requests_[0].filter.contains(QStringLiteral("Tonvista Projects")));
  EXPECT_TRUE(requests_[0].filter.contains(QStringLiteral("*.prj")));
  EXPECT_TRUE(requests_[0].save);
  EXPECT_TRUE(QFileInfo(requests_[0].folder).isDir());
  EXPECT_EQ(QDir(requests_[0].folder).dirName(), QStringLiteral("Analyzer Projects"));

  answer_ = QDir(requests_[0].folder).filePath(QStringLiteral("mine.prj"));
  Find<TMMLEDSpin>(w, "SpinFreq1")->SetValue(941);
  EXPECT_TRUE(files.SaveProject1Click());
  Find<TMMLEDSpin>(w, "SpinFreq1")->SetValue(2000);
  EXPECT_TRUE(files.LoadPrject1Click());
  EXPECT_EQ(requests_.back().title, QStringLiteral("Load Tonvista Project File Data"));
  EXPECT_FALSE(requests_.back().save);
  EXPECT_EQ(Find<TMMLEDSpin>(w, "SpinFreq1")->Value(), 941);

  EXPECT_TRUE(files.SaveasDefault1Click());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].first, QStringLiteral("All settings are saved as default!"));
  EXPECT_EQ(TIniFile(DefaultSettingsPath().toStdString()).ReadInteger("TmmLedSpin", "LedSpin43", 0), 941);

  // A place that cannot be written: one error, the old file untouched.
  messages_.clear();
  const QString blocked = File("blocked.prj");
  QDir().mkpath(blocked);
  answer_ = blocked;
  EXPECT_FALSE(files.SaveProject1Click());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].second, MessageKind::Error);
  EXPECT_TRUE(QFileInfo(blocked).isDir());
}

}  // namespace
}  // namespace tv
