// Fuzz target for the settings-file reader: any bytes are a settings file.
// Reading must not fail; writing a key must keep every other key's value,
// read back as written, and leave a file that reads the same once more.
// The file routines run on one case in 64 (the in-memory text on all).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "FuzzFolder.h"
#include "TAnalyzerSettings.h"
#include "TIniFile.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

std::string Folder() {
  static const std::string dir = tv::fuzz::WorkFolder("settings");
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const tv::TIniText text = tv::TIniText::Parse(bytes);
  // Untouched text is kept byte for byte.
  Check(text.Text() == bytes);

  const tv::TAnalyzerSettings before = tv::ReadAnalyzerSettings(text);

  // A key and value taken from the input itself, so the fuzzer can steer
  // them onto names the file already has.
  const size_t cut = size / 3;
  const std::string_view section = bytes.substr(0, std::min<size_t>(cut, 12));
  const std::string_view key = bytes.substr(cut, std::min<size_t>(size - cut, 10));
  const std::string_view value = bytes.substr(std::min(size, 2 * cut));
  tv::TIniText edited = text;
  if (edited.Set(section, key, value)) {
    const auto back = edited.Find(section, key);
    Check(back.has_value() && *back == value);
    // The text written reads the same again.
    const tv::TIniText again = tv::TIniText::Parse(edited.Text());
    Check(again.Find(section, key) == back);
    // Every other key of the settings is unchanged.
    for (const tv::TSettingKey& k : tv::AnalyzerSettingKeys()) {
      const bool same = std::string_view(k.Section).size() == section.size() &&
                        k.Key.size() == key.size();
      if (same) continue;  // may name the key just written (names ignore case)
      Check(edited.Find(k.Section, k.Key) == text.Find(k.Section, k.Key));
    }
  }

  // Saving all settings and reading them back gives what was saved.
  tv::TIniText saved = text;
  tv::StoreAnalyzerSettings(saved, before);
  const tv::TIniText reread = tv::TIniText::Parse(saved.Text());
  Check(tv::ReadAnalyzerSettings(reread) == before);

  if ((size & 63) == 7) {
    const std::string path = Folder() + "/input.prj";
    if (FILE* out = std::fopen(path.c_str(), "wb")) {
      if (size > 0) std::fwrite(data, 1, size, out);
      std::fclose(out);
      tv::TIniFile file(path);
      Check(tv::ReadAnalyzerSettings(path) == before);
      (void)file.ReadInteger(section, key, -1);
      std::string error;
      Check(tv::WriteAnalyzerSettings(path, before, error));
      Check(tv::ReadAnalyzerSettings(path) == before);
    }
  }
  return 0;
}
