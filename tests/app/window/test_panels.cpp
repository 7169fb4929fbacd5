// The mode panels of the control area: which show for which mode, the
// Generator and Analyzer controls with their design values, and what the
// Generator panel does on its own.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>

#include "TFrmMain.h"
#include "TFuncPanel.h"
#include "TMMLEDLabel.h"
#include "TMMLEDSpin.h"
#include "TMMRadioGroup.h"
#include "WindowTestEnv.h"

namespace tv {
namespace {

using Panels = test::WindowTest;
using test::Find;

TEST_F(Panels, EachModeShowsItsOwnPanelsOnly) {
  TFrmMain w;
  w.show();
  TFuncPanel& f = *w.FuncPanel();
  const auto visible = [&](const char* name) { return Find<QFrame>(w, name)->isVisible(); };
  EXPECT_TRUE(visible("PanPlayer"));
  for (const char* hidden : {"PanGenerat", "PanAna1", "PAnAna2", "PanAna3"}) {
    EXPECT_FALSE(visible(hidden)) << hidden;
  }
  f.ShowGenerator();
  EXPECT_TRUE(visible("PanGenerat"));
  EXPECT_FALSE(visible("PanPlayer"));
  EXPECT_FALSE(visible("PanAna1"));
  f.ShowAnalyzer();
  for (const char* shown : {"PanAna1", "PAnAna2", "PanAna3"}) EXPECT_TRUE(visible(shown)) << shown;
  EXPECT_FALSE(visible("PanGenerat"));
  w.LabPlayerClick();
  EXPECT_TRUE(visible("PanPlayer"));
  EXPECT_FALSE(visible("PanAna3"));
}

TEST_F(Panels, GeneratorControlsStartAtTheirDesignValuesAndFollowEachOther) {
  TFrmMain w;
  EXPECT_NE(Find<QWidget>(w, "MMOscope1"), nullptr);
  auto* frequency = Find<TMMLEDSpin>(w, "SpinFreq1");
  auto* level = Find<TMMLEDSpin>(w, "MMLEDSpin18");
  auto* form = Find<TMMLEDSpin>(w, "MMSpinButton5");
  auto* formText = Find<TMMLEDLabel>(w, "LEDWave1");
  auto* step = Find<TMMRadioGroup>(w, "RadioGroup2");
  EXPECT_EQ(frequency->Value(), 1000);
  EXPECT_EQ(frequency->MinValue(), 1);
  EXPECT_EQ(frequency->MaxValue(), 22050);
  EXPECT_EQ(frequency->Increment(), 100);
  EXPECT_EQ(level->Value(), 8212);
  EXPECT_EQ(level->MaxValue(), 16384);
  EXPECT_EQ(Find<QLabel>(w, "labDB")->text(), QStringLiteral("-6,00 db"));
  EXPECT_EQ(formText->Caption(), QStringLiteral("SINE"));
  EXPECT_EQ(step->Items(), (QStringList{"+/- 1", "+/- 10", "+/- 100", "+/- 1000"}));
  EXPECT_EQ(step->ItemIndex(), 2);
  EXPECT_EQ(Find<TMMRadioGroup>(w, "rgUS")->ItemIndex(), 0);

  // The wave-form spin names the form; the step applies to the frequency
  // and to the output level alike.
  form->SetValue(1);
  EXPECT_EQ(formText->Caption(), QStringLiteral("WHITE NOISE"));
  form->SetValue(0);
  EXPECT_EQ(formText->Caption(), QStringLiteral("SINE"));
  step->SetItemIndex(3);
  EXPECT_EQ(frequency->Increment(), 1000);
  EXPECT_EQ(level->Increment(), 1000);
  step->SetItemIndex(0);
  frequency->StepUp();
  EXPECT_EQ(frequency->Value(), 1001);
}

TEST_F(Panels, AnalyzerControlsStartAtTheirDesignValues) {
  TFrmMain w;
  auto* scale = Find<TMMLEDSpin>(w, "LEDSpinYScale");
  EXPECT_EQ(scale->Value(), 1);
  EXPECT_EQ(scale->MaxValue(), 16);
  // The spectrum decides the scale; its arrows only ask.
  EXPECT_FALSE(scale->StepOnClick());
  auto* decay = Find<TMMLEDSpin>(w, "MMLEDSpin55");
  EXPECT_EQ(decay->Value(), 8);
  EXPECT_EQ(decay->MinValue(), 5);
  EXPECT_EQ(decay->MaxValue(), 10);
  auto* gain = Find<TMMRadioGroup>(w, "rgGain");
  EXPECT_EQ(gain->Items(), (QStringList{"none", "+ 3db", "+ 6 db", "+ 9 db", "+ 12 db"}));
  EXPECT_EQ(gain->ItemIndex(), 0);
  auto* bandwidth = Find<TMMRadioGroup>(w, "rgSample");
  EXPECT_EQ(bandwidth->Count(), 6);
  EXPECT_EQ(bandwidth->Items().constFirst(), QStringLiteral("22050 Hz"));
  EXPECT_EQ(bandwidth->ItemIndex(), 0);
  EXPECT_EQ(Find<QLabel>(w, "MMLabel39")->text(), QStringLiteral("Freeze"));
  EXPECT_EQ(Find<QLabel>(w, "MMLabel42")->text(), QStringLiteral("Restart"));
  EXPECT_TRUE(Find<QCheckBox>(w, "CheckBox5")->isChecked());
  EXPECT_TRUE(Find<QCheckBox>(w, "CheckBox6")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>(w, "CheckBox7")->isChecked());
}

}  // namespace
}  // namespace tv
