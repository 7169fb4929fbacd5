// Two-pass normalisation of a PCM wave file: find the loudest sample, then
// scale every sample so that it reaches full scale, into a new file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tv {

enum class NormalizePhase { Scanning, Normalizing };

struct NormalizeOutcome {
  bool pcm = false;         // false: not a PCM file, nothing was done
  int32_t peak = 0;         // raw value of the loudest sample (the byte for 8-bit)
  int32_t magnitude = 0;    // its distance from silence
  int32_t fullScale = 0;    // 32767 or 127
  long double gain = 0;     // full scale / magnitude, 0 when not applied
  bool needsGain = false;   // magnitude below full scale and not silent
  bool truncated = false;   // a read ended before the declared data size
  std::string destination;  // the file written, empty when none
};

class WaveNormalizer {
 public:
  // Progress of each pass in percent, rounded.
  std::function<void(NormalizePhase phase, int percent)> OnProgress;
  // Called between the passes, once peak and gain are known.
  std::function<void(const NormalizeOutcome&)> OnPeakFound;

  // Normalises `source`. When a gain is needed, `chooseDestination` names the
  // file to write (asked between the passes); an empty name writes nothing,
  // though the scale pass still runs. Wave file errors propagate.
  NormalizeOutcome Normalize(const std::string& source,
                             const std::function<std::string()>& chooseDestination);

  // The gain as the windows show it: "%7.4f" followed by " db".
  static std::string GainText(long double gain);
};

}  // namespace tv
