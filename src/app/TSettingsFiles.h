// The analyzer's settings files and the device choices stored beside them:
// "Default.prj" read when the main window is first shown and written when it
// closes, and the three entries of the File menu ("&Load Analyzer Setting",
// "&Save Analyzer Setting", "Save Settings as Default").
//
// The main window lends its controls through a host: by default the
// controls are found by their names in the window and the "Bars preference"
// window, and every value read is handed to its control as a user change
// (the control clamps it and runs its change handler).
#pragma once

#include <QString>
#include <functional>

#include "MMTypes.h"
#include "TAnalyzerSettings.h"

class QWidget;

namespace tv {

class TfOutfitSpec;

// A sound device and the callback mode it runs in.
struct TDeviceChoice {
  TMMDeviceId DeviceID = MapperId;
  TMMCBMode CallBackMode = cmWindow;
  bool operator==(const TDeviceChoice&) const = default;
};

// "DeviceID in"/"CBMode in" and "DeviceID out"/"CBMode out" of the
// program's preferences; a missing value keeps `current`'s.
TDeviceChoice ReadInputDeviceChoice(const TDeviceChoice& current);
TDeviceChoice ReadOutputDeviceChoice(const TDeviceChoice& current);
void WriteInputDeviceChoice(const TDeviceChoice& choice);
void WriteOutputDeviceChoice(const TDeviceChoice& choice);

// "Default.prj" in the "Analyzer Projects" folder of the data folder.
QString DefaultSettingsPath();

// Writes the settings to `path` (nothing when the path is empty) and the two
// device choices to the preferences. False when the file could not be
// written; it is then as it was, and `error` says why.
bool SaveSettingsFile(const QString& path, const TAnalyzerSettings& settings,
                      const TDeviceChoice& input, const TDeviceChoice& output,
                      QString* error = nullptr);

struct TLoadedSettings {
  TAnalyzerSettings Settings;
  TDeviceChoice Input;
  TDeviceChoice Output;
};
// Reads the settings of `path` (missing values as -1, check boxes true) and
// the device choices of the preferences (not of the file).
TLoadedSettings LoadSettingsFile(const QString& path, const TDeviceChoice& currentInput,
                                 const TDeviceChoice& currentOutput);

// The main window's controls of the settings, found by name below `window`
// (in the window itself, not in windows it owns).
void CollectWindowSettings(const QWidget& window, TAnalyzerSettings& settings);
// Hands every value to its control in the order of the file: spin boxes
// clamp, a disabled spin box ignores the value, radio group index -1 clears
// the selection.
void ApplyWindowSettings(QWidget& window, const TAnalyzerSettings& settings);

class TSettingsFiles {
 public:
  struct Host {
    // The main window; its controls are found by name when Collect/Apply
    // are not given.
    QWidget* Window = nullptr;
    // The "Bars preference" window, for "Color" and "Bars".
    TfOutfitSpec* Bars = nullptr;
    std::function<void(TAnalyzerSettings&)> Collect;
    std::function<void(const TAnalyzerSettings&)> Apply;
    // The devices in use (MMWaveIn1, MMWaveOut1).
    std::function<TDeviceChoice()> InputDevice;
    std::function<TDeviceChoice()> OutputDevice;
    // Closes the devices and gives them the loaded choices (and the
    // recorder the input device).
    std::function<void(const TDeviceChoice& input, const TDeviceChoice& output)> SetDevices;
  };

  explicit TSettingsFiles(Host host);

  // FormShow: loads "Default.prj". Where none exists yet (the first start)
  // it is written with the design values first.
  void LoadDefault();
  // FormClose: writes "Default.prj". Says so once when that failed.
  bool SaveDefault();

  // "&Save Analyzer Setting": asks for a name in "Analyzer Projects".
  bool SaveProject1Click();
  // "&Load Analyzer Setting".
  bool LoadPrject1Click();
  // "Save Settings as Default": writes "Default.prj" and says so.
  bool SaveasDefault1Click();

  // Save and load of a named file, as the menu entries do after the dialog.
  bool Save(const QString& path);
  void Load(const QString& path);

 private:
  TAnalyzerSettings Collect() const;
  TDeviceChoice CurrentInput() const;
  TDeviceChoice CurrentOutput() const;

  Host host_;
};

}  // namespace tv
