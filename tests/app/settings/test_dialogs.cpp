// The "Bars preference" window reaching the displays, the device dialogs
// over the virtual devices, the mixer and the help actions.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <algorithm>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QRadioButton>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>

#include "../window/WindowTestEnv.h"
#include "ShellActions.h"
#include "TDeviceDialog.h"
#include "THelpViewer.h"
#include "TMMColorButton.h"
#include "TMMLEDSpin.h"
#include "TMMLevel.h"
#include "TMMSpectrum.h"
#include "TMMVirtualDevices.h"
#include "TMMWaveDevices.h"
#include "TfOutfitSpec.h"

namespace tv {
namespace {

using Dialogs = test::WindowTest;

TEST_F(Dialogs, BarsPreferenceChoicesReachTheirDisplaysOnly) {
  TMMSpectrum main;
  TMMSpectrum background;
  TMMLevel level1;
  TMMLevel level2;
  TfOutfitSpec bars;
  bars.SetTargets(&main, &level1, &level2, &background);
  // Setting the targets hands them the window's present (design) choices.
  EXPECT_EQ(main.Bar1Color(), QColor(0, 255, 255));
  EXPECT_EQ(main.Bar3Color(), QColor(255, 0, 0));
  EXPECT_EQ(main.GridColor(), QColor(128, 128, 128));
  EXPECT_EQ(main.Point1(), 50);
  EXPECT_EQ(main.Point2(), 85);
  EXPECT_EQ(level2.Point2(), 85);

  const QColor c(12, 34, 56);
  bars.MMColorButton[2]->SetColor(c);  // Main Spectrum, "High OL Color"
  EXPECT_EQ(main.Bar3Color(), c);
  EXPECT_EQ(main.Inactive3Color(), c);
  EXPECT_EQ(level1.Bar3Color(), c);
  EXPECT_EQ(level2.Bar3Color(), c);
  EXPECT_NE(background.Bar3Color(), c);

  bars.MMColorButton[4]->SetColor(c);  // Main Spectrum, "Scale Text"
  EXPECT_EQ(main.ScaleTextColor(), c);
  EXPECT_EQ(main.ScaleLineColor(), c);
  bars.MMColorButton[3]->SetColor(Qt::yellow);  // Main Spectrum, "Grid Color"
  EXPECT_EQ(main.GridColor(), QColor(Qt::yellow));

  bars.MMColorButton[5]->SetColor(c);  // Background Spectrum, "Base Color"
  EXPECT_EQ(background.Bar1Color(), c);
  EXPECT_EQ(background.Inactive1Color(), c);
  EXPECT_NE(main.Bar1Color(), c);
  EXPECT_NE(level1.Bar1Color(), c);
  bars.MMColorButton[8]->SetColor(Qt::blue);  // Background Spectrum, "Grid Color"
  EXPECT_EQ(background.GridColor(), QColor(Qt::blue));

  bars.MMLEDSpin55->SetValue(30);  // Main Spectrum, "Low OL Point"
  EXPECT_EQ(main.Point1(), 30);
  EXPECT_EQ(level1.Point1(), 30);
  EXPECT_EQ(level2.Point1(), 30);
  bars.MMLEDSpin1->SetValue(150);  // clamped to 99
  EXPECT_EQ(bars.MMLEDSpin1->Value(), 99);
  EXPECT_EQ(main.Point2(), 99);
  bars.MMLEDSpin6->SetValue(60);  // Background Spectrum, "High OL Point"
  EXPECT_EQ(background.Point2(), 60);
  EXPECT_EQ(main.Point2(), 99);

  // "&Other..." takes any colour; a cancelled choice changes nothing.
  TMMColorButton::SetColorPrompt([](QWidget*, const QColor&) { return QColor(1, 2, 3); });
  bars.MMColorButton[0]->ChooseOther();
  EXPECT_EQ(main.Bar1Color(), QColor(1, 2, 3));
  TMMColorButton::SetColorPrompt([](QWidget*, const QColor&) { return QColor(); });
  bars.MMColorButton[0]->ChooseOther();
  EXPECT_EQ(main.Bar1Color(), QColor(1, 2, 3));
  TMMColorButton::SetColorPrompt({});

  bars.show();
  bars.Button1Click();  // "Done"
  EXPECT_FALSE(bars.isVisible());
}

class DeviceDialogs : public test::WindowTest {
 protected:
  TMMVirtualDevices virtual_;
};

TEST_F(DeviceDialogs, TheListStartsWithTheDefaultDeviceAndHoldsTheVirtualOnes) {
  TfDrvIn dialog(nullptr, &virtual_);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Input Preferences"));
  dialog.FormShow({0, cmWindow});
  const int count = static_cast<int>(virtual_.waveInGetNumDevs());
  ASSERT_GT(count, 0);
  ASSERT_EQ(dialog.PlayCombo->count(), count + 1);
  QStringList names;
  for (int i = 0; i < dialog.PlayCombo->count(); ++i) names << dialog.PlayCombo->itemText(i);
  EXPECT_TRUE(names.contains(QStringLiteral("Virtual loopback"))) << names.join(u'|').toStdString();
  EXPECT_TRUE(names.contains(QStringLiteral("Virtual silence")));
  EXPECT_EQ(dialog.PlayCombo->currentIndex(), 1);  // device 0

  dialog.PlayCombo->setCurrentIndex(0);
  dialog.rbThread->setChecked(true);
  EXPECT_EQ(dialog.btnOkClick(), (TDeviceChoice{MapperId, cmThread}));
  dialog.FormShow({MapperId, cmWindow});
  EXPECT_EQ(dialog.PlayCombo->currentIndex(), 0);
  dialog.PlayCombo->setCurrentIndex(1);
  EXPECT_EQ(dialog.btnOkClick().DeviceID, 0);

  TfDrvOut out(nullptr, &virtual_);
  out.FormShow({MapperId, cmWindow});
  EXPECT_EQ(out.windowTitle(), QStringLiteral("Output Preferences"));
  EXPECT_EQ(out.PlayCombo->count(), static_cast<int>(virtual_.waveOutGetNumDevs()) + 1);
  EXPECT_EQ(out.PlayCombo->findText(QStringLiteral("Virtual null output")) > 0, true);
}

TEST_F(DeviceDialogs, InterruptCannotBeChosenButAStoredChoiceStillShows) {
  TfDrvOut dialog(nullptr, &virtual_);
  dialog.FormShow({MapperId, cmCallback});
  EXPECT_FALSE(dialog.rbInterrupt->isEnabled());
  EXPECT_TRUE(dialog.rbInterrupt->isChecked());
  EXPECT_EQ(dialog.btnOkClick().CallBackMode, cmCallback);
  dialog.FormShow({MapperId, cmWindow});
  EXPECT_TRUE(dialog.rbWindow->isChecked());
  EXPECT_EQ(dialog.btnOkClick().CallBackMode, cmWindow);
}

// A device table without devices.
class NoDevices : public TMMVirtualDevices {
 public:
  uint32_t waveInGetNumDevs() override { return 0; }
  uint32_t waveOutGetNumDevs() override { return 0; }
};

TEST_F(DeviceDialogs, WithoutDevicesTheListIsEmptyAndOkChoosesNoDevice) {
  NoDevices none;
  TfDrvIn dialog(nullptr, &none);
  dialog.FormShow({MapperId, cmWindow});
  EXPECT_EQ(dialog.PlayCombo->count(), 0);
  EXPECT_EQ(dialog.btnOkClick().DeviceID, InvalidId);
}

TEST_F(DeviceDialogs, TheMenuEntryStoresTheChoiceEvenWhenCancelled) {
  SetSystemWaveDevices(&virtual_);
  TDeviceChoice choice{1, cmThread};
  QTimer::singleShot(0, [] {
    if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) d->reject();
  });
  EXPECT_FALSE(InputDevice1Click(nullptr, choice));
  EXPECT_EQ(choice, (TDeviceChoice{1, cmThread}));
  EXPECT_EQ(ReadInt(kPreferenceKey, QStringLiteral("DeviceID in"), -9), 1);
  EXPECT_EQ(ReadInt(kPreferenceKey, QStringLiteral("CBMode in"), -9), 2);

  choice = {MapperId, cmWindow};
  QTimer::singleShot(0, [] {
    if (auto* d = qobject_cast<TfDrvOut*>(QApplication::activeModalWidget())) {
      d->PlayCombo->setCurrentIndex(1);
      d->accept();
    }
  });
  EXPECT_TRUE(OutputDevice1Click(nullptr, choice));
  EXPECT_EQ(choice.DeviceID, 0);
  EXPECT_EQ(ReadInt(kPreferenceKey, QStringLiteral("DeviceID out"), -9), 0);
  SetSystemWaveDevices(nullptr);
}

TEST_F(Dialogs, TheMixerIsTheFirstInstalledOneAndNothingWithoutOne) {
  std::vector<QString> started;
  SetProgramStarter([&](const QString& program, const QStringList&) {
    started.push_back(program);
    return true;
  });
  const QByteArray oldPath = qgetenv("PATH");
  const QString bin = File("bin");
  QDir().mkpath(bin);
  qputenv("PATH", bin.toUtf8());
  EXPECT_FALSE(SetupforInput1Click());
  EXPECT_TRUE(started.empty());

  // Two mixers: the one listed first wins.
  for (const char* name : {"kmix", "pavucontrol"}) {
    const QString p = bin + u'/' + QLatin1String(name);
    QFile f(p);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n");
    f.close();
    ::chmod(p.toUtf8().constData(), 0755);
  }
  EXPECT_TRUE(SetupforInput1Click());
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0], bin + QStringLiteral("/pavucontrol"));
  qputenv("PATH", oldPath);
  SetProgramStarter({});
}

TEST_F(Dialogs, HelpOpensInTheBrowserOrElseInTheProgramsViewer) {
  // The build tree's copy, where the program beside it finds it.
  setenv(kHelpDirVariable, TONVISTA_BINARY_DIR "/bin/help", 1);
  const QString file = HelpFilePath();
  ASSERT_FALSE(file.isEmpty()) << "the help document is not where an installed program looks";
  QFile doc(file);
  ASSERT_TRUE(doc.open(QIODevice::ReadOnly));
  EXPECT_TRUE(doc.readAll().contains("Analyzer settings files"));

  std::vector<QUrl> opened;
  SetUrlOpener([&](const QUrl& url) {
    opened.push_back(url);
    return true;
  });
  HelpFile1Click(nullptr);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], QUrl::fromLocalFile(file));
  const auto widgets = QApplication::topLevelWidgets();
  EXPECT_EQ(std::count_if(widgets.begin(), widgets.end(),
                          [](QWidget* w) { return qobject_cast<THelpViewer*>(w) && w->isVisible(); }),
            0);

  SetUrlOpener([](const QUrl&) { return false; });  // no browser
  HelpFile1Click(nullptr);
  THelpViewer* viewer = THelpViewer::Instance(nullptr);
  EXPECT_TRUE(viewer->isVisible());
  EXPECT_TRUE(viewer->Browser()->toPlainText().contains(QStringLiteral("Tonvista Help")));
  viewer->close();
  SetUrlOpener({});
  unsetenv(kHelpDirVariable);
}

}  // namespace
}  // namespace tv
