// The frequency dialog's "Strict tone check": stored with the dialog's
// values, off by default, and the detector of the wave file scans.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "../window/WindowTestEnv.h"
#include "DtmfSynth.h"
#include "Preferences.h"
#include "TFrmMain.h"
#include "TMMRadioGroup.h"
#include "TMainMenu.h"
#include "TfDtmf.h"
#include "Tf_result.h"
#include "WaveDialogs.h"

namespace tv {
namespace {

using test::Find;

class StrictCheck : public test::WindowTest {
 protected:
  void TearDown() override {
    SetOpenWavePrompt({});
    WindowTest::TearDown();
  }
  // Loads (converts, scans) a file through the load action; answers the
  // keys the scan recorded.
  static QString LoadAndScan(TFrmMain& w, const QString& file) {
    const auto before = w.f_result()->Lines().size();
    SetOpenWavePrompt([file](QWidget*, const QString&, const QString&) { return file; });
    w.btnLoadClick();
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.f_result()->Lines().size() > before && !w.Busy(); }, 60000));
    return w.f_result()->Lines().isEmpty() ? QString() : w.f_result()->Lines().back();
  }
  // Runs the menu entry; `inside` works the modal dialog and closes it.
  static void RunSetup(TFrmMain& w, const std::function<void(TfDtmf&)>& inside) {
    QTimer::singleShot(0, [&] { inside(*w.fDtmf()); });
    w.Menus().Action("DTMFSettings1")->trigger();
  }
};

TEST_F(StrictCheck, OffByDefaultAndStoredWithTheDialogsValues) {
  {
    TfDtmf d;
    d.show();
    auto* box = Find<QCheckBox>(d, "cbStrict");
    EXPECT_EQ(box->text(), QStringLiteral("Strict tone check"));
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(d.StrictToneCheck());
    box->setChecked(true);
    QTest::mouseClick(Find<QPushButton>(d, "Button1"), Qt::LeftButton);
  }
  EXPECT_EQ(ReadInt(kDtmfPreferenceKey, QStringLiteral("Strict"), -1), 1);
  EXPECT_TRUE(TfDtmf::StoredStrictToneCheck());
  TfDtmf again;
  again.show();
  EXPECT_TRUE(Find<QCheckBox>(again, "cbStrict")->isChecked());
  Find<QCheckBox>(again, "cbStrict")->setChecked(false);
  again.close();
  EXPECT_EQ(ReadInt(kDtmfPreferenceKey, QStringLiteral("Strict"), -1), 0);
}

TEST_F(StrictCheck, TheCheckBoxChoosesTheScansDetector) {
  // Tones 3.5 % off their frequencies: the described decision reports
  // keys, a telephone receiver none.
  DtmfSignalOptions o;
  o.freqErrorPct = 3.5;
  const QString file = File("off.wav");
  WriteDtmfWave(file.toStdString(), "147", o);
  TFrmMain w;
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  Find<TMMRadioGroup>(*w.f_result(), "rg_text")->SetItemIndex(1);
  EXPECT_EQ(LoadAndScan(w, file).size(), 3);
  RunSetup(w, [](TfDtmf& d) {
    Find<QCheckBox>(d, "cbStrict")->setChecked(true);
    d.close();
  });
  EXPECT_EQ(LoadAndScan(w, file), QString());
  w.close();
}

TEST_F(StrictCheck, AStoredCheckHoldsFromTheStart) {
  WriteInt(kDtmfPreferenceKey, QStringLiteral("Strict"), 1);
  DtmfSignalOptions o;
  o.freqErrorPct = 3.5;
  const QString off = File("off.wav");
  WriteDtmfWave(off.toStdString(), "147", o);
  o.freqErrorPct = 1.0;  // within what a receiver must accept
  const QString near = File("near.wav");
  WriteDtmfWave(near.toStdString(), "258", o);
  TFrmMain w;
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  Find<TMMRadioGroup>(*w.f_result(), "rg_text")->SetItemIndex(1);
  EXPECT_EQ(LoadAndScan(w, off), QString());
  EXPECT_EQ(LoadAndScan(w, near), QStringLiteral("258"));
  w.close();
}

}  // namespace
}  // namespace tv
