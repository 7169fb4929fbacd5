#include <gtest/gtest.h>

#include <QTest>

#include "TMMNumberEdit.h"

namespace tv {
namespace {

TEST(NumberEdit, TextReadsAsADecimalIntegerWithinTheRange) {
  TMMNumberEdit edit;
  edit.SetRange(0, 22000);
  const struct {
    const char* text;
    int value;
  } cases[] = {
      {"1209", 1209},   {" 941 ", 941}, {"0", 0},     {"22000", 22000},
      {"30000", 22000}, {"-5", 0},      {"007", 7},   {"99999999999999999999", 22000},
      {"", 0},          {"abc", 0},     {"12abc", 0}, {"0x10", 0},
      {"1.5", 0},       {"-", 0},
  };
  for (const auto& c : cases) {
    edit.setText(QString::fromLatin1(c.text));
    EXPECT_EQ(edit.Value(), c.value) << "text \"" << c.text << "\"";
  }
}

TEST(NumberEdit, NonNumbersReadAsTheMinimumOfTheRange) {
  EXPECT_EQ(TMMNumberEdit::Parse(QStringLiteral("x"), 5, 50), 5);
  EXPECT_EQ(TMMNumberEdit::Parse(QStringLiteral("x"), -20, 50), -20);
  EXPECT_EQ(TMMNumberEdit::Parse(QStringLiteral("-99999999999999999999"), -20, 50), -20);
  EXPECT_EQ(TMMNumberEdit::Parse(QStringLiteral("-7"), -20, 50), -7);
}

TEST(NumberEdit, SettingAValueClampsItAndShowsIt) {
  TMMNumberEdit edit;
  edit.SetRange(0, 22000);
  edit.SetValue(1219);
  EXPECT_EQ(edit.text(), QStringLiteral("1219"));
  edit.SetValue(-692);
  EXPECT_EQ(edit.text(), QStringLiteral("0"));
  edit.SetValue(40000);
  EXPECT_EQ(edit.Value(), 22000);
}

TEST(NumberEdit, TypingAcceptsOnlyDigitsAndLeavesTheValueNormalised) {
  TMMNumberEdit edit;
  edit.SetRange(0, 22000);
  edit.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&edit));
  edit.clear();
  QTest::keyClicks(&edit, QStringLiteral("1a2-3"));
  EXPECT_EQ(edit.text(), QStringLiteral("123"));
  edit.clear();
  QTest::keyClicks(&edit, QStringLiteral("99999"));
  QTest::keyClick(&edit, Qt::Key_Return);  // finishing the edit shows the value
  EXPECT_EQ(edit.text(), QStringLiteral("22000"));
}

}  // namespace
}  // namespace tv
