// Exchanges the left and right channel of a 16-bit stereo PCM wave file,
// into a copy B_Swap.E beside it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tv {

struct SwapOutcome {
  bool valid = false;      // false: not 16-bit stereo PCM, nothing written
  bool cancelled = false;  // nothing written either
  bool truncated = false;  // the data ended before the header said
  std::string destination;
  int64_t bytes = 0;  // data size of the copy
};

class WaveSwapper {
 public:
  static constexpr int32_t kBlock = 16384;

  std::function<void(int percent, bool& Cancel)> OnProgress;

  // B + "_Swap" + E.
  static std::string SwapName(const std::string& source);

  SwapOutcome Swap(const std::string& source);
};

}  // namespace tv
