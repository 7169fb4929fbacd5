#include <gtest/gtest.h>

#include <QPainter>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

#include "TMMBitmapButton.h"
#include "TMMGauge.h"
#include "TMMLEDMode.h"
#include "TMMLEDPanel.h"
#include "TMMLed.h"
#include "TMMRadioGroup.h"

namespace tv {
namespace {

TEST(RadioGroup, SettingTheIndexClicksOnlyWhenAnItemBecomesSelected) {
  TMMRadioGroup group(QStringLiteral("Textfile Options "));
  group.SetItems(
      {QStringLiteral("Save with Date and Filename"), QStringLiteral("Save only the result")});
  EXPECT_EQ(group.ItemIndex(), -1);
  QSignalSpy clicked(&group, &TMMRadioGroup::clicked);
  group.SetItemIndex(0);
  group.SetItemIndex(0);
  group.SetItemIndex(1);
  EXPECT_EQ(clicked.count(), 2);
  group.SetItemIndex(-1);  // clears without a click
  EXPECT_EQ(group.ItemIndex(), -1);
  EXPECT_FALSE(group.Button(0)->isChecked());
  EXPECT_FALSE(group.Button(1)->isChecked());
  EXPECT_EQ(clicked.count(), 2);
  group.SetItemIndex(7);  // no such item
  group.SetItemIndex(-2);
  EXPECT_EQ(group.ItemIndex(), -1);
  group.SetItemIndex(1);  // selectable again after clearing
  EXPECT_EQ(clicked.count(), 3);
}

TEST(RadioGroup, AUserClickSelectsTheItem) {
  TMMRadioGroup group(QStringLiteral("Frequencies"));
  group.SetItems({QStringLiteral("DTMF Signals"), QStringLiteral("Custom")});
  group.SetColumns(2);
  group.SetItemIndex(0);
  group.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&group));
  QSignalSpy clicked(&group, &TMMRadioGroup::clicked);
  QTest::mouseClick(group.Button(1), Qt::LeftButton, Qt::NoModifier,
                    QPoint(6, group.Button(1)->height() / 2));
  EXPECT_EQ(group.ItemIndex(), 1);
  EXPECT_EQ(clicked.count(), 1);
  // Two columns: the items stand side by side.
  EXPECT_GT(group.Button(1)->x(), group.Button(0)->x());
  EXPECT_EQ(group.Button(1)->y(), group.Button(0)->y());
}

TEST(Gauge, ProgressIsClampedToZeroToHundred) {
  TMMGauge gauge;
  QSignalSpy changed(&gauge, &TMMGauge::progressChanged);
  gauge.SetProgress(42);
  gauge.SetProgress(42);
  gauge.SetProgress(250);
  EXPECT_EQ(gauge.Progress(), 100);
  gauge.SetProgress(-3);
  EXPECT_EQ(gauge.Progress(), 0);
  EXPECT_EQ(changed.count(), 3);
}

TEST(Gauge, BarCoversThePartDone) {
  TMMGauge gauge;
  gauge.resize(202, 20);
  gauge.SetProgress(50);
  QImage image(gauge.size(), QImage::Format_RGB32);
  QPainter painter(&image);
  gauge.paint(painter, QRectF(image.rect()));
  painter.end();
  // Near the bottom edge, away from the printed percentage.
  const QColor done = image.pixelColor(20, 17);
  const QColor open = image.pixelColor(180, 17);
  EXPECT_GT(done.blue(), open.blue() + 40);
}

TEST(LedPanel, ShowsNothingUntilAValueIsSetThenItsLowestDigits) {
  TMMLEDPanel panel;
  panel.SetDigits(5);
  EXPECT_TRUE(panel.DisplayText().isEmpty());
  panel.SetValue(44100);
  EXPECT_EQ(panel.DisplayText(), QStringLiteral("44100"));
  panel.SetValue(123456);
  EXPECT_EQ(panel.DisplayText(), QStringLiteral("23456"));
  panel.Blank();
  EXPECT_TRUE(panel.IsBlank());
}

TEST(LedMode, ChannelCountSelectsTheLamp) {
  TMMLEDMode mode;
  mode.SetChannels(1);
  EXPECT_EQ(mode.CurrentMode(), TMMLEDMode::Mode::Mono);
  mode.SetChannels(2);
  EXPECT_EQ(mode.CurrentMode(), TMMLEDMode::Mode::Stereo);
  mode.SetChannels(0);
  EXPECT_EQ(mode.CurrentMode(), TMMLEDMode::Mode::None);
}

TEST(Led, ClickReportsAndLitStateSticks) {
  TMMLed led;
  led.resize(16, 16);
  led.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&led));
  QSignalSpy clicked(&led, &TMMLed::clicked);
  led.SetLit(true);
  QTest::mouseClick(&led, Qt::LeftButton);
  EXPECT_EQ(clicked.count(), 1);
  EXPECT_TRUE(led.Lit());
}

TEST(BitmapButton, PressedStateIsShownAndReleased) {
  TMMBitmapButton start(TMMBitmapButton::Glyph::Play);
  EXPECT_FALSE(start.Pressed());
  start.SetPressed(true);
  EXPECT_TRUE(start.Pressed());
  start.SetPressed(false);
  EXPECT_FALSE(start.Pressed());
  // Each symbol draws something.
  for (auto g : {TMMBitmapButton::Glyph::Load, TMMBitmapButton::Glyph::Loop,
                 TMMBitmapButton::Glyph::Record}) {
    const QImage img = TMMBitmapButton::Render(g, 18, Qt::black).toImage();
    int inked = 0;
    for (int y = 0; y < img.height(); ++y) {
      for (int x = 0; x < img.width(); ++x) inked += qAlpha(img.pixel(x, y)) > 128 ? 1 : 0;
    }
    EXPECT_GT(inked, 20);
  }
}

}  // namespace
}  // namespace tv
