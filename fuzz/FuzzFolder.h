// The folder a fuzz target writes its inputs to. A script that runs the
// target names one in TONVISTA_FUZZ_WORK and removes it however the run ends;
// run by hand, the target makes its own in shared memory (or the temporary
// folder) and removes it at a normal end.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace tv::fuzz {

inline std::string WorkFolder(const char* name) {
  if (const char* work = std::getenv("TONVISTA_FUZZ_WORK"); work != nullptr && work[0] != '\0') {
    return std::string(work);
  }
  std::error_code ec;
  std::filesystem::path base = "/dev/shm";
  if (!std::filesystem::is_directory(base, ec)) base = std::filesystem::temp_directory_path(ec);
  const auto folder = base / ("tv-" + std::string(name) + "-fuzz-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder, ec);
  static char made[4096];
  std::snprintf(made, sizeof made, "%s", folder.c_str());
  std::atexit([] {
    std::error_code e;
    std::filesystem::remove_all(made, e);
  });
  return folder.string();
}

}  // namespace tv::fuzz
