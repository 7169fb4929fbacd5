#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "TMMLEDSpin.h"

namespace tv {
namespace {

TMMLEDSpin* MakeFactorSpin(TMMLEDSpin& spin) {
  spin.SetRange(-1633, 1633);
  spin.SetIncrement(1);
  spin.SetDigits(3);
  spin.resize(120, 30);
  return &spin;
}

TEST(LedSpin, SettingAValueFiresChangeOnlyWhenItReallyChanges) {
  TMMLEDSpin spin;
  MakeFactorSpin(spin);
  QSignalSpy changed(&spin, &TMMLEDSpin::valueChanged);
  spin.SetValue(0);  // already 0
  EXPECT_EQ(changed.count(), 0);
  spin.SetValue(10);
  spin.SetValue(10);
  ASSERT_EQ(changed.count(), 1);
  EXPECT_EQ(changed.at(0).at(0).toInt(), 10);
}

TEST(LedSpin, ValuesAreClampedToTheRange) {
  TMMLEDSpin spin;
  MakeFactorSpin(spin);
  QSignalSpy changed(&spin, &TMMLEDSpin::valueChanged);
  spin.SetValue(5000);
  EXPECT_EQ(spin.Value(), 1633);
  spin.SetValue(9999);  // clamps to the same value: no change
  spin.SetValue(-5000);
  EXPECT_EQ(spin.Value(), -1633);
  EXPECT_EQ(changed.count(), 2);
}

TEST(LedSpin, DisabledSpinIgnoresNewValues) {
  TMMLEDSpin spin;
  MakeFactorSpin(spin);
  QSignalSpy changed(&spin, &TMMLEDSpin::valueChanged);
  spin.setEnabled(false);
  spin.SetValue(7);
  spin.StepUp();
  EXPECT_EQ(spin.Value(), 0);
  EXPECT_EQ(changed.count(), 0);
  spin.setEnabled(true);
  spin.SetValue(7);
  EXPECT_EQ(spin.Value(), 7);
}

TEST(LedSpin, NarrowingTheRangePullsTheValueInAndReportsIt) {
  TMMLEDSpin spin;
  spin.SetRange(1, 16);
  spin.SetValue(12);
  QSignalSpy changed(&spin, &TMMLEDSpin::valueChanged);
  spin.SetRange(1, 8);
  EXPECT_EQ(spin.Value(), 8);
  EXPECT_EQ(changed.count(), 1);
  spin.SetRange(0, 100);
  EXPECT_EQ(changed.count(), 1);
}

TEST(LedSpin, ArrowsStepByTheIncrementAndStopAtTheEnds) {
  TMMLEDSpin spin;
  spin.SetRange(0, 16384);
  spin.SetIncrement(100);
  spin.SetValue(16300);
  QSignalSpy up(&spin, &TMMLEDSpin::upClick);
  spin.StepUp();
  EXPECT_EQ(spin.Value(), 16384);
  spin.StepUp();
  EXPECT_EQ(spin.Value(), 16384);
  EXPECT_EQ(up.count(), 2);
  spin.SetValue(50);
  spin.StepDown();
  EXPECT_EQ(spin.Value(), 0);
}

TEST(LedSpin, WithoutStepOnClickTheArrowsOnlyReport) {
  TMMLEDSpin spin;
  spin.SetRange(1, 16);
  spin.SetValue(4);
  spin.SetStepOnClick(false);
  QSignalSpy up(&spin, &TMMLEDSpin::upClick);
  QSignalSpy down(&spin, &TMMLEDSpin::downClick);
  QSignalSpy changed(&spin, &TMMLEDSpin::valueChanged);
  spin.StepUp();
  spin.StepDown();
  EXPECT_EQ(spin.Value(), 4);
  EXPECT_EQ(up.count(), 1);
  EXPECT_EQ(down.count(), 1);
  EXPECT_EQ(changed.count(), 0);
}

TEST(LedSpin, MouseOnTheArrowsAndKeysStepTheValue) {
  TMMLEDSpin spin;
  MakeFactorSpin(spin);
  spin.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&spin));
  const QPoint upArrow(spin.width() - 4, 4);
  const QPoint downArrow(spin.width() - 4, spin.height() - 4);
  QTest::mouseClick(&spin, Qt::LeftButton, Qt::NoModifier, upArrow);
  QTest::mouseClick(&spin, Qt::LeftButton, Qt::NoModifier, upArrow);
  EXPECT_EQ(spin.Value(), 2);
  QTest::mouseClick(&spin, Qt::LeftButton, Qt::NoModifier, downArrow);
  EXPECT_EQ(spin.Value(), 1);
  QTest::mouseClick(&spin, Qt::LeftButton, Qt::NoModifier, QPoint(10, 15));  // the digits
  EXPECT_EQ(spin.Value(), 1);
  spin.setFocus();
  QTest::keyClick(&spin, Qt::Key_Down);
  QTest::keyClick(&spin, Qt::Key_Down);
  EXPECT_EQ(spin.Value(), -1);
}

TEST(LedSpin, DisplayShowsSignAndZeroFilledDigits) {
  TMMLEDSpin spin;
  MakeFactorSpin(spin);
  EXPECT_EQ(spin.DisplayText(), QStringLiteral(" 000"));
  spin.SetValue(-10);
  EXPECT_EQ(spin.DisplayText(), QStringLiteral("-010"));
  spin.SetValue(1633);
  EXPECT_EQ(spin.DisplayText(), QStringLiteral(" 1633"));
  // Sign cell plus the four digits the range needs.
  EXPECT_EQ(spin.DisplayCells(), 5);

  TMMLEDSpin plain;
  plain.SetRange(1, 16);
  plain.SetDigits(2);
  plain.SetValue(8);
  EXPECT_EQ(plain.DisplayText(), QStringLiteral("08"));
  EXPECT_EQ(plain.DisplayCells(), 2);
}

}  // namespace
}  // namespace tv
