// What the sanitizers must be told about the sound libraries that PortAudio
// brings in (ALSA, its plugins, PulseAudio's client library): they are not
// built with the sanitizers, so the checkers misread what they do.
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>

namespace tv::test {

// ThreadSanitizer suppressions: PulseAudio's client library synchronises
// its threads with atomics of its own, which an uninstrumented library
// cannot show to the checker.
inline constexpr const char* kSoundLibraryRaces =
    "race:libpulsecommon\n"
    "race:libpulse.so\n"
    "race:libasound_module_pcm_pulse\n"
    "called_from_lib:libpulsecommon\n"
    "called_from_lib:libpulse.so\n";

// The sanitizer options for a child program (tonvista-devices) that uses
// the sound libraries: the races above suppressed (through a file written
// into `folder`) and, under AddressSanitizer, the leak check off, since
// ALSA's start-up probe leaves allocations of plugins it unloaded behind
// (see SoundLibraries.cpp). The child's own code is the library that the
// in-process tests check.
struct ChildSanitizerOptions {
  std::string asan;
  std::string tsan;
};
inline ChildSanitizerOptions SanitizerOptionsForChild(const std::string& folder) {
  const std::string file = folder + "/sound-libraries.tsan.supp";
  std::ofstream(file) << kSoundLibraryRaces;
  const auto join = [](const char* name, const std::string& more) {
    const char* old = std::getenv(name);
    const std::string base = old != nullptr ? old : "";
    return base + (base.empty() ? "" : ":") + more;
  };
  return {join("ASAN_OPTIONS", "detect_leaks=0"), join("TSAN_OPTIONS", "suppressions=" + file)};
}

}  // namespace tv::test
