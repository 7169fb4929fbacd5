// Splits a 16-bit stereo PCM wave file into two mono files, B_L.E and B_R.E
// beside it, block by block.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tv {

struct SplitOutcome {
  bool valid = false;      // false: not 16-bit stereo PCM, nothing written
  bool cancelled = false;  // nothing written either
  bool truncated = false;  // the data ended before the header said
  std::string left, right;  // the files written
  int64_t leftBytes = 0, rightBytes = 0;  // their data sizes
};

class WaveSplitter {
 public:
  static constexpr int32_t kBlock = 16384;

  // Percent of the source read; setting Cancel stops the run.
  std::function<void(int percent, bool& Cancel)> OnProgress;

  // The result names for a source: B + "_L" + E and B + "_R" + E.
  static std::string LeftName(const std::string& source);
  static std::string RightName(const std::string& source);

  // Wave file errors (unreadable source, a result that cannot be written)
  // propagate; no partial result is left behind then.
  SplitOutcome Split(const std::string& source);
};

}  // namespace tv
