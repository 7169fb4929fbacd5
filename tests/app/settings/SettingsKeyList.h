// The keys of a settings file as the file format documents them (the main
// window's controls by component index, the "Bars preference" window's
// colours and overload points), each with its design value and another
// valid value the tests change it to.
#pragma once

#include <cstdint>

namespace tv::test {

enum class KeyKind { Spin, Group, Box, Color, Bar };

struct SettingsKey {
  const char* section;
  const char* key;
  const char* control;  // object name; Color and Bar in the "Bars preference" window
  KeyKind kind;
  int32_t design;
  int32_t changed;  // inside the control's range, not the design value
};

// Colours as the file holds them: 0x00BBGGRR.
constexpr int32_t Rgb(int r, int g, int b) { return (b << 16) | (g << 8) | r; }

inline constexpr SettingsKey kSettingsKeys[] = {
    {"TmmLedSpin", "LedSpin29", "LEDSpinYScale", KeyKind::Spin, 1, 4},         // 1..16
    {"TmmLedSpin", "LedSpin30", "MMLEDSpin55", KeyKind::Spin, 8, 6},           // decay 5..10
    {"TmmLedSpin", "LedSpin43", "SpinFreq1", KeyKind::Spin, 1000, 1633},       // 1..22050
    {"TMMSpinButton", "SpinBnt42", "MMSpinButton5", KeyKind::Spin, 0, 1},      // 0..1
    {"TMMSpinButton", "SpinBnt44", "MMLEDSpin18", KeyKind::Spin, 8212, 12345}, // 0..16384
    {"TRadioGroup", "Index41", "RadioGroup2", KeyKind::Group, 2, 0},  // 4 items
    {"TRadioGroup", "Index45", "rgUS", KeyKind::Group, 0, 1},         // 2 items
    {"TRadioGroup", "Index49", "rgSample", KeyKind::Group, 0, 5},     // 6 items
    {"TRadioGroup", "Index50", "rgGain", KeyKind::Group, 0, 3},       // 5 items
    {"TCheckBox", "Checked93", "cb_result", KeyKind::Box, 1, 0},
    {"TCheckBox", "Checked99", "CheckBox5", KeyKind::Box, 1, 0},
    {"TCheckBox", "Checked100", "CheckBox6", KeyKind::Box, 1, 0},
    {"TCheckBox", "Checked101", "CheckBox7", KeyKind::Box, 0, 1},
    {"Color", "Color1", "MMColorButton1", KeyKind::Color, 16776960, Rgb(1, 2, 3)},
    {"Color", "Color2", "MMColorButton2", KeyKind::Color, 16776960, Rgb(200, 10, 10)},
    {"Color", "Color3", "MMColorButton3", KeyKind::Color, 255, Rgb(10, 200, 10)},
    {"Color", "Color4", "MMColorButton4", KeyKind::Color, 8421504, Rgb(10, 10, 200)},
    {"Color", "Color5", "MMColorButton5", KeyKind::Color, 16776960, Rgb(90, 80, 70)},
    {"Color", "Color6", "MMColorButton6", KeyKind::Color, 16776960, Rgb(250, 250, 5)},
    {"Color", "Color7", "MMColorButton7", KeyKind::Color, 16776960, Rgb(5, 250, 250)},
    {"Color", "Color8", "MMColorButton8", KeyKind::Color, 255, Rgb(123, 45, 67)},
    {"Color", "Color9", "MMColorButton9", KeyKind::Color, 8421504, Rgb(33, 66, 99)},
    {"Color", "Color10", "MMColorButton10", KeyKind::Color, 16776960, Rgb(254, 253, 252)},
    {"Bars", "Bar1", "MMLEDSpin1", KeyKind::Bar, 85, 92},
    {"Bars", "Bar5", "MMLEDSpin55", KeyKind::Bar, 50, 35},
    {"Bars", "Bar6", "MMLEDSpin5", KeyKind::Bar, 50, 61},
    {"Bars", "Bar7", "MMLEDSpin6", KeyKind::Bar, 85, 97},
};

}  // namespace tv::test
