#include "WaveNames.h"

namespace tv {

std::string FileExtension(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return name.substr(dot);
}

std::string DerivedFileName(const std::string& name, const std::string& suffix) {
  const std::string ext = FileExtension(name);
  // Without an extension the first occurrence of "" would leave an empty
  // base and send the result to the current folder.
  if (ext.empty()) return name + suffix;
  // Only the extension at the end of the file name is replaced: an earlier
  // ".wav" in a folder name ("calls.wav.d/a.wav") or in the file name itself
  // ("a.wav.wav") would send the result elsewhere or onto another file's name.
  return name.substr(0, name.size() - ext.size()) + suffix + ext;
}

}  // namespace tv
