#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <array>

#include "TMMLEDSpin.h"
#include "TMMNumberEdit.h"
#include "TMMRadioGroup.h"
#include "WindowTestEnv.h"
#include "TfDtmf.h"
#include "DtmfDecision.h"
#include "TFrmMain.h"
#include "TMainMenu.h"

namespace tv {
namespace {

using FrequencyDialog = test::WindowTest;
using test::Find;

constexpr std::array<int, 8> kStandard = {1209, 1336, 1477, 1633, 697, 770, 852, 941};

std::array<int, 8> Values(const TfDtmf& d) {
  std::array<int, 8> v{};
  for (int i = 0; i < 8; ++i) v[static_cast<size_t>(i)] = d.Edit(i)->Value();
  return v;
}

bool AllEnabled(const TfDtmf& d, bool enabled) {
  for (int i = 0; i < 8; ++i) {
    if (d.Edit(i)->isEnabled() != enabled) return false;
  }
  return true;
}

// Runs the main window's menu entry; `inside` works the modal dialog and
// must close it.
void RunSetup(TFrmMain& w, const std::function<void(TfDtmf&)>& inside) {
  bool ran = false;
  QTimer::singleShot(0, [&] {
    EXPECT_EQ(QApplication::activeModalWidget(), w.fDtmf());
    inside(*w.fDtmf());
    ran = true;
  });
  w.Menus().Action("DTMFSettings1")->trigger();
  EXPECT_TRUE(ran);
  EXPECT_FALSE(w.fDtmf()->isVisible());
}

TEST_F(FrequencyDialog, StartsWithTheStandardSetLockedAndAGridOfKeys) {
  TfDtmf d;
  d.show();
  EXPECT_EQ(d.windowTitle(), QStringLiteral("Frequencies settings"));
  EXPECT_EQ(Find<TMMRadioGroup>(d, "rgCustom")->Items(), (QStringList{"DTMF Signals", "Custom"}));
  EXPECT_EQ(Find<TMMRadioGroup>(d, "rgCustom")->ItemIndex(), 0);
  EXPECT_EQ(Values(d), kStandard);
  EXPECT_TRUE(AllEnabled(d, false));
  EXPECT_EQ(Find<TMMLEDSpin>(d, "spFact")->Value(), 0);
  EXPECT_EQ(Find<TMMLEDSpin>(d, "spFact")->MinValue(), -1633);
  EXPECT_EQ(Find<TMMLEDSpin>(d, "spFact")->MaxValue(), 1633);
  EXPECT_EQ(Find<TMMLEDSpin>(d, "spFact")->Digits(), 3);
  EXPECT_EQ(Find<QLabel>(d, "LabFact")->text(), QStringLiteral("Increment or decrement Freq. Factor"));
  EXPECT_EQ(Find<QPushButton>(d, "Button1")->text(), QStringLiteral("Close"));
  const char* keys[4][4] = {
      {"1", "2", "3", "A"}, {"4", "5", "6", "B"}, {"7", "8", "9", "C"}, {"*", "0", "#", "D"}};
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      auto* cap = d.findChild<QLabel*>(QStringLiteral("LabKey%1%2").arg(r + 1).arg(c + 1));
      ASSERT_NE(cap, nullptr);
      EXPECT_EQ(cap->text(), QString::fromLatin1(keys[r][c]));
    }
  }
  EXPECT_EQ(d.findChild<QLabel*>(QStringLiteral("LabHz"))->text(), QStringLiteral("Hz"));
  // Centred on the screen.
  const QPoint centre = d.screen()->availableGeometry().center();
  EXPECT_LE((d.frameGeometry().center() - centre).manhattanLength(), 2);
}

TEST_F(FrequencyDialog, AnOffsetOfTenSelectsCustomAndShiftsAllEight) {
  TfDtmf d;
  d.show();
  Find<TMMLEDSpin>(d, "spFact")->SetValue(10);
  EXPECT_EQ(Find<TMMRadioGroup>(d, "rgCustom")->ItemIndex(), 1);
  EXPECT_EQ(Values(d), (std::array<int, 8>{1219, 1346, 1487, 1643, 707, 780, 862, 951}));
  EXPECT_TRUE(AllEnabled(d, true));
}

TEST_F(FrequencyDialog, OffsetsClampEachFrequencyToItsRange) {
  TfDtmf d;
  d.show();
  Find<TMMLEDSpin>(d, "spFact")->SetValue(-800);
  EXPECT_EQ(Values(d), (std::array<int, 8>{409, 536, 677, 833, 0, 0, 52, 141}));
  Find<TMMLEDSpin>(d, "spFact")->SetValue(5000);  // the spin box stops at 1633
  EXPECT_EQ(Find<TMMLEDSpin>(d, "spFact")->Value(), 1633);
  EXPECT_EQ(d.Edit(3)->Value(), 3266);
}

TEST_F(FrequencyDialog, ChoosingTheStandardSetRestoresAndLocksTheEdits) {
  TfDtmf d;
  d.show();
  Find<TMMLEDSpin>(d, "spFact")->SetValue(25);
  Find<TMMRadioGroup>(d, "rgCustom")->SetItemIndex(0);
  EXPECT_EQ(Values(d), kStandard);
  EXPECT_TRUE(AllEnabled(d, false));
  Find<TMMRadioGroup>(d, "rgCustom")->SetItemIndex(1);
  EXPECT_TRUE(AllEnabled(d, true));
  EXPECT_EQ(Values(d), kStandard);  // custom starts from what the edits show
}

TEST_F(FrequencyDialog, ClosingStoresTheChoiceAndCustomFrequencies) {
  TfDtmf d;
  d.show();
  Find<TMMLEDSpin>(d, "spFact")->SetValue(10);
  d.Edit(7)->SetValue(1000);
  QTest::mouseClick(Find<QPushButton>(d, "Button1"), Qt::LeftButton);
  EXPECT_FALSE(d.isVisible());
  EXPECT_EQ(ReadInt(kDtmfPreferenceKey, QStringLiteral("Custom"), -1), 1);
  EXPECT_EQ(ReadInt(kDtmfPreferenceKey, QStringLiteral("Factor"), -1), 10);
  const int expected[8] = {1219, 1346, 1487, 1643, 707, 780, 862, 1000};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(ReadInt(kDtmfPreferenceKey, QStringLiteral("N%1").arg(i + 1), -1), expected[i]) << i;
  }
  // Not in the program's own key.
  EXPECT_EQ(ReadInt(kPreferenceKey, QStringLiteral("Custom"), -1), -1);
}

TEST_F(FrequencyDialog, TheStandardChoiceStoresNoFrequencies) {
  TfDtmf d;
  d.show();
  d.close();
  EXPECT_EQ(ReadInt(kDtmfPreferenceKey, QStringLiteral("Custom"), -1), 0);
  EXPECT_EQ(ReadInt(kDtmfPreferenceKey, QStringLiteral("Factor"), -1), 0);
  EXPECT_EQ(ReadInt(kDtmfPreferenceKey, QStringLiteral("N1"), -1), -1);
}

TEST_F(FrequencyDialog, ShowingRestoresStoredCustomFrequencies) {
  WriteInt(kDtmfPreferenceKey, QStringLiteral("Custom"), 1);
  for (int i = 0; i < 8; ++i)
    WriteInt(kDtmfPreferenceKey, QStringLiteral("n%1").arg(i + 1), 500 + i);
  TfDtmf d;
  d.show();
  EXPECT_EQ(Find<TMMRadioGroup>(d, "rgCustom")->ItemIndex(), 1);
  EXPECT_EQ(Values(d), (std::array<int, 8>{500, 501, 502, 503, 504, 505, 506, 507}));
  EXPECT_TRUE(AllEnabled(d, true));
}

TEST_F(FrequencyDialog, AStoredOffsetActsLikeAUserChangeOfTheSpinBox) {
  // The offset turns the choice to custom; with no stored frequencies the
  // edits keep the shifted values.
  WriteInt(kDtmfPreferenceKey, QStringLiteral("Custom"), 0);
  WriteInt(kDtmfPreferenceKey, QStringLiteral("Factor"), -5);
  TfDtmf d;
  d.show();
  EXPECT_EQ(Find<TMMRadioGroup>(d, "rgCustom")->ItemIndex(), 1);
  EXPECT_EQ(Find<TMMLEDSpin>(d, "spFact")->Value(), -5);
  EXPECT_EQ(Values(d), (std::array<int, 8>{1204, 1331, 1472, 1628, 692, 765, 847, 936}));
}

TEST_F(FrequencyDialog, StoredStandardChoiceOverridesStaleEdits) {
  WriteInt(kDtmfPreferenceKey, QStringLiteral("Custom"), 0);
  WriteInt(kDtmfPreferenceKey, QStringLiteral("N1"), 100);
  TfDtmf d;
  d.show();
  Find<TMMLEDSpin>(d, "spFact")->SetValue(10);
  d.close();
  WriteInt(kDtmfPreferenceKey, QStringLiteral("Custom"), 0);
  WriteInt(kDtmfPreferenceKey, QStringLiteral("Factor"), 10);  // same as the spin: no change fires
  d.show();
  EXPECT_EQ(Find<TMMRadioGroup>(d, "rgCustom")->ItemIndex(), 0);
  EXPECT_EQ(Values(d), kStandard);
}

TEST_F(FrequencyDialog, TheMenuEntryAppliesTheDialogsFrequenciesAfterItCloses) {
  TFrmMain w;
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  RunSetup(w, [](TfDtmf& d) {
    Find<TMMLEDSpin>(d, "spFact")->SetValue(10);
    Find<QPushButton>(d, "Button1")->click();
  });
  const int columns[4] = {1219, 1346, 1487, 1643};
  const int rows[4] = {707, 780, 862, 951};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(w.Decision().ColumnFreq(static_cast<int>(i)), columns[i]);
    EXPECT_EQ(w.Decision().RowFreq(static_cast<int>(i)), rows[i]);
  }
  EXPECT_EQ(ReadInt(kDtmfPreferenceKey, QStringLiteral("N8"), -1), 951);
  // A non-number in an edit contributes frequency 0.
  RunSetup(w, [](TfDtmf& d) {
    d.Edit(0)->setText(QStringLiteral("abc"));
    d.close();
  });
  EXPECT_EQ(w.Decision().ColumnFreq(0), 0);
  EXPECT_EQ(w.Decision().ColumnFreq(1), 1346);
}

TEST_F(FrequencyDialog, ARestartDecodesWithStandardFrequenciesUntilTheDialogCloses) {
  WriteInt(kDtmfPreferenceKey, QStringLiteral("Custom"), 1);
  for (int i = 0; i < 8; ++i)
    WriteInt(kDtmfPreferenceKey, QStringLiteral("N%1").arg(i + 1), 1000 + i);
  TFrmMain w;
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  EXPECT_EQ(w.Decision().ColumnFreq(0), 1209);
  EXPECT_EQ(w.Decision().RowFreq(3), 941);
  // Opening and closing without a change is enough.
  RunSetup(w, [](TfDtmf& d) { d.close(); });
  EXPECT_EQ(w.Decision().ColumnFreq(0), 1000);
  EXPECT_EQ(w.Decision().RowFreq(3), 1007);
}

}  // namespace
}  // namespace tv
