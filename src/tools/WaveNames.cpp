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
  const size_t at = name.find(ext);
  return name.substr(0, at) + suffix + ext;
}

}  // namespace tv
