// The analyzer settings a ".prj" settings file holds: the main window's spin
// boxes, spin buttons, radio groups and check boxes, and the colours and
// overload points of the "Bars preference" window.
//
// The values are plain numbers, read and written without a window: the main
// window collects them from its controls before a save and hands each one to
// its control after a load, which clamps it and runs the control's change
// handler exactly as a user change would.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "TIniFile.h"

namespace tv {

// Colours as the file stores them: 0x00BBGGRR.
inline constexpr int32_t kColorAqua = 0xFFFF00;
inline constexpr int32_t kColorRed = 0x0000FF;
inline constexpr int32_t kColorGrey = 0x808080;

struct TAnalyzerSettings {
  // The main window's controls (the key's number is the control's place in
  // the window's list of components). Defaults are the design values.
  int32_t LEDSpinYScale = 1;    // "LedSpin29": frequency scale factor
  int32_t MMLEDSpin55 = 8;      // "LedSpin30": decay
  int32_t RadioGroup2 = 2;      // "Index41": frequency addition step
  int32_t MMSpinButton5 = 0;    // "SpinBnt42": generator wave form
  int32_t SpinFreq1 = 1000;     // "LedSpin43": generator frequency
  int32_t MMLEDSpin18 = 8212;   // "SpinBnt44": generator output level
  int32_t rgUS = 0;             // "Index45": oscilloscope time base
  int32_t rgSample = 0;         // "Index49": analyzer bandwidth
  int32_t rgGain = 0;           // "Index50": spectrum gain
  bool cb_result = true;        // "Checked93": show results after a scan
  bool CheckBox5 = true;        // "Checked99": display peak frequency
  bool CheckBox6 = true;        // "Checked100": display grid
  bool CheckBox7 = false;       // "Checked101": peak hold

  // "Bars preference": Color[0] is "Color1" (MMColorButton1) .. Color[9]
  // is "Color10" (MMColorButton10).
  std::array<int32_t, 10> Color{kColorAqua, kColorAqua, kColorRed, kColorGrey, kColorAqua,
                                kColorAqua, kColorAqua, kColorRed, kColorGrey, kColorAqua};
  int32_t Bar1 = 85;  // MMLEDSpin1: main spectrum, "High OL Point"
  int32_t Bar5 = 50;  // MMLEDSpin55: main spectrum, "Low OL Point"
  int32_t Bar6 = 50;  // MMLEDSpin5: background spectrum, "Low OL Point"
  int32_t Bar7 = 85;  // MMLEDSpin6: background spectrum, "High OL Point"

  bool operator==(const TAnalyzerSettings&) const = default;
};

enum class TSettingKind { LedSpin, SpinButton, RadioGroup, CheckBox, Color, Bar };

// One entry of a settings file.
struct TSettingKey {
  TSettingKind Kind;
  const char* Section;
  std::string Key;
  const char* Control;  // the control's name in its window
};

// Every entry, in the order a save writes them: the main window's controls
// by their place in the window, then "Color1".."Color10", then "Bar1",
// "Bar5", "Bar6", "Bar7".
const std::vector<TSettingKey>& AnalyzerSettingKeys();

// The value of entry `index` of AnalyzerSettingKeys(): an integer (null for
// a check box), or a check box's state (null for the others).
int32_t* IntSetting(TAnalyzerSettings& settings, std::size_t index);
bool* BoolSetting(TAnalyzerSettings& settings, std::size_t index);

// Reads every entry. A missing file, section or key or an unparsable
// number gives -1 for an integer (also a colour or an overload point) and
// true for a check box.
TAnalyzerSettings ReadAnalyzerSettings(const TIniText& text);
TAnalyzerSettings ReadAnalyzerSettings(const std::string& path);

// Writes every entry (integers in decimal, check boxes as 1 or 0) and keeps
// every other key and section of the text.
void StoreAnalyzerSettings(TIniText& text, const TAnalyzerSettings& settings);

// The same into a file, replaced in one step: on failure (false, `error`
// says why) the file is as it was.
bool WriteAnalyzerSettings(const std::string& path, const TAnalyzerSettings& settings,
                           std::string& error);

// Whether a stored colour is one (0x00BBGGRR); -1 and other values are not.
inline bool IsStoredColor(int32_t value) { return value >= 0 && value <= 0xFFFFFF; }

}  // namespace tv
