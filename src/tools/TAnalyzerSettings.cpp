#include "TAnalyzerSettings.h"

namespace tv {

namespace {

struct Binding {
  int32_t TAnalyzerSettings::*Int = nullptr;
  bool TAnalyzerSettings::*Bool = nullptr;
  int ColorIndex = -1;
};

struct Entry {
  TSettingKey Key;
  Binding Field;
};

const std::vector<Entry>& Entries() {
  using S = TAnalyzerSettings;
  static const std::vector<Entry> entries = [] {
    std::vector<Entry> e = {
        {{TSettingKind::LedSpin, "TmmLedSpin", "LedSpin29", "LEDSpinYScale"}, {&S::LEDSpinYScale}},
        {{TSettingKind::LedSpin, "TmmLedSpin", "LedSpin30", "MMLEDSpin55"}, {&S::MMLEDSpin55}},
        {{TSettingKind::RadioGroup, "TRadioGroup", "Index41", "RadioGroup2"}, {&S::RadioGroup2}},
        {{TSettingKind::SpinButton, "TMMSpinButton", "SpinBnt42", "MMSpinButton5"}, {&S::MMSpinButton5}},
        {{TSettingKind::LedSpin, "TmmLedSpin", "LedSpin43", "SpinFreq1"}, {&S::SpinFreq1}},
        {{TSettingKind::SpinButton, "TMMSpinButton", "SpinBnt44", "MMLEDSpin18"}, {&S::MMLEDSpin18}},
        {{TSettingKind::RadioGroup, "TRadioGroup", "Index45", "rgUS"}, {&S::rgUS}},
        {{TSettingKind::RadioGroup, "TRadioGroup", "Index49", "rgSample"}, {&S::rgSample}},
        {{TSettingKind::RadioGroup, "TRadioGroup", "Index50", "rgGain"}, {&S::rgGain}},
        {{TSettingKind::CheckBox, "TCheckBox", "Checked93", "cb_result"}, {nullptr, &S::cb_result}},
        {{TSettingKind::CheckBox, "TCheckBox", "Checked99", "CheckBox5"}, {nullptr, &S::CheckBox5}},
        {{TSettingKind::CheckBox, "TCheckBox", "Checked100", "CheckBox6"}, {nullptr, &S::CheckBox6}},
        {{TSettingKind::CheckBox, "TCheckBox", "Checked101", "CheckBox7"}, {nullptr, &S::CheckBox7}},
    };
    static const char* const buttons[10] = {
        "MMColorButton1", "MMColorButton2", "MMColorButton3", "MMColorButton4", "MMColorButton5",
        "MMColorButton6", "MMColorButton7", "MMColorButton8", "MMColorButton9", "MMColorButton10"};
    for (int i = 0; i < 10; ++i) {
      e.push_back({{TSettingKind::Color, "Color", "Color" + std::to_string(i + 1), buttons[i]},
                   {nullptr, nullptr, i}});
    }
    e.push_back({{TSettingKind::Bar, "Bars", "Bar1", "MMLEDSpin1"}, {&S::Bar1}});
    e.push_back({{TSettingKind::Bar, "Bars", "Bar5", "MMLEDSpin55"}, {&S::Bar5}});
    e.push_back({{TSettingKind::Bar, "Bars", "Bar6", "MMLEDSpin5"}, {&S::Bar6}});
    e.push_back({{TSettingKind::Bar, "Bars", "Bar7", "MMLEDSpin6"}, {&S::Bar7}});
    return e;
  }();
  return entries;
}

int32_t& IntOf(TAnalyzerSettings& s, const Binding& b) {
  return b.Int ? s.*(b.Int) : s.Color[static_cast<std::size_t>(b.ColorIndex)];
}

}  // namespace

const std::vector<TSettingKey>& AnalyzerSettingKeys() {
  static const std::vector<TSettingKey> keys = [] {
    std::vector<TSettingKey> k;
    for (const Entry& e : Entries()) k.push_back(e.Key);
    return k;
  }();
  return keys;
}

int32_t* IntSetting(TAnalyzerSettings& settings, std::size_t index) {
  const auto& e = Entries();
  if (index >= e.size() || e[index].Field.Bool) return nullptr;
  return &IntOf(settings, e[index].Field);
}

bool* BoolSetting(TAnalyzerSettings& settings, std::size_t index) {
  const auto& e = Entries();
  if (index >= e.size() || !e[index].Field.Bool) return nullptr;
  return &(settings.*(e[index].Field.Bool));
}

TAnalyzerSettings ReadAnalyzerSettings(const TIniText& text) {
  TAnalyzerSettings s;
  for (const Entry& e : Entries()) {
    const auto raw = text.Find(e.Key.Section, e.Key.Key);
    if (e.Field.Bool) {
      const int32_t v = raw ? ParseIniInteger(*raw).value_or(1) : 1;
      s.*(e.Field.Bool) = v != 0;
    } else {
      IntOf(s, e.Field) = raw ? ParseIniInteger(*raw).value_or(-1) : -1;
    }
  }
  return s;
}

TAnalyzerSettings ReadAnalyzerSettings(const std::string& path) {
  return ReadAnalyzerSettings(TIniFile(path).Load());
}

void StoreAnalyzerSettings(TIniText& text, const TAnalyzerSettings& settings) {
  TAnalyzerSettings s = settings;
  for (const Entry& e : Entries()) {
    const std::string value = e.Field.Bool ? (s.*(e.Field.Bool) ? "1" : "0")
                                           : std::to_string(IntOf(s, e.Field));
    text.Set(e.Key.Section, e.Key.Key, value);
  }
}

bool WriteAnalyzerSettings(const std::string& path, const TAnalyzerSettings& settings,
                           std::string& error) {
  TIniFile file(path);
  const bool ok = file.Update([&](TIniText& t) {
    StoreAnalyzerSettings(t, settings);
    return true;
  });
  if (!ok) error = file.Error();
  return ok;
}

}  // namespace tv
