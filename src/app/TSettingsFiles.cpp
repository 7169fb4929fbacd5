#include "TSettingsFiles.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>

#include "DataFolder.h"
#include "FileRequest.h"
#include "Messages.h"
#include "Preferences.h"
#include "TMMLEDSpin.h"
#include "TMMRadioGroup.h"
#include "TfOutfitSpec.h"

namespace tv {

namespace {

const QString kSettingsFilter = QStringLiteral("Tonvista Projects ");
const QString kSettingsPattern = QStringLiteral("*.prj");

TMMCBMode ModeOf(int32_t value, TMMCBMode fallback) {
  return (value >= cmWindow && value <= cmThread) ? static_cast<TMMCBMode>(value) : fallback;
}

TDeviceChoice ReadChoice(const QString& suffix, const TDeviceChoice& current) {
  TDeviceChoice c;
  c.DeviceID = ReadPreference(PreferenceRoot::CurrentUser, kPreferenceKey,
                              QStringLiteral("DeviceID ") + suffix, current.DeviceID);
  c.CallBackMode = ModeOf(ReadPreference(PreferenceRoot::CurrentUser, kPreferenceKey,
                                         QStringLiteral("CBMode ") + suffix,
                                         static_cast<int32_t>(current.CallBackMode)),
                          current.CallBackMode);
  return c;
}

void WriteChoice(const QString& suffix, const TDeviceChoice& choice) {
  WritePreference(PreferenceRoot::CurrentUser, kPreferenceKey, QStringLiteral("DeviceID ") + suffix,
                  static_cast<int32_t>(choice.DeviceID));
  WritePreference(PreferenceRoot::CurrentUser, kPreferenceKey, QStringLiteral("CBMode ") + suffix,
                  static_cast<int32_t>(choice.CallBackMode));
}

// A control of the window itself: the "Bars preference" window has spin
// boxes of the same names.
template <typename T>
T* Control(const QWidget& window, const char* name) {
  for (T* c : window.findChildren<T*>(QString::fromLatin1(name))) {
    if (c->window() == window.window()) return c;
  }
  return nullptr;
}

}  // namespace

TDeviceChoice ReadInputDeviceChoice(const TDeviceChoice& current) {
  return ReadChoice(QStringLiteral("in"), current);
}
TDeviceChoice ReadOutputDeviceChoice(const TDeviceChoice& current) {
  return ReadChoice(QStringLiteral("out"), current);
}
void WriteInputDeviceChoice(const TDeviceChoice& choice) { WriteChoice(QStringLiteral("in"), choice); }
void WriteOutputDeviceChoice(const TDeviceChoice& choice) {
  WriteChoice(QStringLiteral("out"), choice);
}

QString DefaultSettingsPath() {
  return QDir(AnalyzerProjectsFolder()).filePath(QStringLiteral("Default.prj"));
}

bool SaveSettingsFile(const QString& path, const TAnalyzerSettings& settings,
                      const TDeviceChoice& input, const TDeviceChoice& output, QString* error) {
  bool ok = true;
  if (!path.isEmpty()) {
    std::string why;
    ok = WriteAnalyzerSettings(QFile::encodeName(path).toStdString(), settings, why);
    if (!ok && error) *error = QString::fromLocal8Bit(why.c_str());
  }
  WriteInputDeviceChoice(input);
  WriteOutputDeviceChoice(output);
  return ok;
}

TLoadedSettings LoadSettingsFile(const QString& path, const TDeviceChoice& currentInput,
                                 const TDeviceChoice& currentOutput) {
  TLoadedSettings loaded;
  loaded.Settings = ReadAnalyzerSettings(QFile::encodeName(path).toStdString());
  loaded.Output = ReadOutputDeviceChoice(currentOutput);
  loaded.Input = ReadInputDeviceChoice(currentInput);
  return loaded;
}

void CollectWindowSettings(const QWidget& window, TAnalyzerSettings& settings) {
  const auto& keys = AnalyzerSettingKeys();
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const TSettingKey& k = keys[i];
    if (k.Kind == TSettingKind::LedSpin || k.Kind == TSettingKind::SpinButton) {
      if (auto* spin = Control<TMMLEDSpin>(window, k.Control)) *IntSetting(settings, i) = spin->Value();
    } else if (k.Kind == TSettingKind::RadioGroup) {
      if (auto* group = Control<TMMRadioGroup>(window, k.Control)) {
        *IntSetting(settings, i) = group->ItemIndex();
      }
    } else if (k.Kind == TSettingKind::CheckBox) {
      if (auto* box = Control<QCheckBox>(window, k.Control)) *BoolSetting(settings, i) = box->isChecked();
    }
  }
}

void ApplyWindowSettings(QWidget& window, const TAnalyzerSettings& settings) {
  TAnalyzerSettings s = settings;
  const auto& keys = AnalyzerSettingKeys();
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const TSettingKey& k = keys[i];
    if (k.Kind == TSettingKind::LedSpin || k.Kind == TSettingKind::SpinButton) {
      if (auto* spin = Control<TMMLEDSpin>(window, k.Control)) spin->SetValue(*IntSetting(s, i));
    } else if (k.Kind == TSettingKind::RadioGroup) {
      if (auto* group = Control<TMMRadioGroup>(window, k.Control)) group->SetItemIndex(*IntSetting(s, i));
    } else if (k.Kind == TSettingKind::CheckBox) {
      if (auto* box = Control<QCheckBox>(window, k.Control)) {
        // As a click: the window follows its check boxes' clicks, which
        // setChecked alone does not send.
        const bool on = *BoolSetting(s, i);
        if (box->isChecked() != on) {
          box->setChecked(on);
          emit box->clicked(on);
        }
      }
    }
  }
}

// --- TSettingsFiles -------------------------------------------------------------

TSettingsFiles::TSettingsFiles(Host host) : host_(std::move(host)) {}

TAnalyzerSettings TSettingsFiles::Collect() const {
  TAnalyzerSettings s;
  if (host_.Collect) {
    host_.Collect(s);
  } else if (host_.Window) {
    CollectWindowSettings(*host_.Window, s);
  }
  if (host_.Bars) host_.Bars->CollectSettings(s);
  return s;
}

TDeviceChoice TSettingsFiles::CurrentInput() const {
  return host_.InputDevice ? host_.InputDevice() : TDeviceChoice{};
}

TDeviceChoice TSettingsFiles::CurrentOutput() const {
  return host_.OutputDevice ? host_.OutputDevice() : TDeviceChoice{};
}

bool TSettingsFiles::Save(const QString& path) {
  QString why;
  if (SaveSettingsFile(path, Collect(), CurrentInput(), CurrentOutput(), &why)) return true;
  ShowError(host_.Window,
            QObject::tr("The settings could not be saved to \"%1\"; the file there was left as it "
                        "was.\n%2")
                .arg(QDir::toNativeSeparators(path), why));
  return false;
}

void TSettingsFiles::Load(const QString& path) {
  const TLoadedSettings loaded = LoadSettingsFile(path, CurrentInput(), CurrentOutput());
  if (host_.Apply) {
    host_.Apply(loaded.Settings);
  } else if (host_.Window) {
    ApplyWindowSettings(*host_.Window, loaded.Settings);
  }
  if (host_.Bars) host_.Bars->ApplySettings(loaded.Settings);
  if (host_.SetDevices) host_.SetDevices(loaded.Input, loaded.Output);
}

void TSettingsFiles::LoadDefault() {
  const QString path = DefaultSettingsPath();
  if (!QFileInfo::exists(path)) {
    // First start: the design values, not a file's worth of -1.
    std::string ignored;
    WriteAnalyzerSettings(QFile::encodeName(path).toStdString(), TAnalyzerSettings{}, ignored);
  }
  Load(path);
}

bool TSettingsFiles::SaveDefault() { return Save(DefaultSettingsPath()); }

bool TSettingsFiles::SaveProject1Click() {
  TFileRequest request;
  request.title = QStringLiteral("Save Tonvista Project File Data");
  request.filter = NameFilter(kSettingsFilter, kSettingsPattern);
  request.defaultSuffix = QStringLiteral("prj");
  request.folder = AnalyzerProjectsFolder();
  request.save = true;
  const QString path = PromptFile(host_.Window, request);
  if (path.isEmpty()) return false;
  return Save(path);
}

bool TSettingsFiles::LoadPrject1Click() {
  TFileRequest request;
  request.title = QStringLiteral("Load Tonvista Project File Data");
  request.filter = NameFilter(kSettingsFilter, kSettingsPattern);
  request.defaultSuffix = QStringLiteral("prj");
  request.folder = AnalyzerProjectsFolder();
  const QString path = PromptFile(host_.Window, request);
  if (path.isEmpty()) return false;
  Load(path);
  return true;
}

bool TSettingsFiles::SaveasDefault1Click() {
  if (!SaveDefault()) return false;
  ShowMessage(host_.Window, QStringLiteral("All settings are saved as default!"));
  return true;
}

}  // namespace tv
