// Lowers a stream's sample rate by a whole factor behind a linear-phase
// low-pass, so that tone analysis can run near 8 kHz whatever the recording's
// rate. Factor 1 passes samples through untouched.
#pragma once

#include <cstddef>
#include <vector>

namespace tv {

class Decimator {
 public:
  // `factor` input samples make one output sample; `cutoffHz` is where the
  // pass band ends and `stopHz` where the stop band begins (both at the
  // input rate). Allocates its tables here, never while running.
  void Setup(double inputRate, int factor, double cutoffHz, double stopHz);
  void Reset();

  int Factor() const { return factor_; }
  // Delay of the filter in input samples: output sample j stands for the
  // input instant j * Factor() + Delay().
  double Delay() const;
  size_t Taps() const { return taps_.size(); }

  // Filters `count` input samples and writes the output samples to `out`
  // (room for count / Factor() + 1); answers how many it wrote.
  size_t Process(const float* in, size_t count, float* out);

 private:
  int factor_ = 1;
  int phase_ = 0;  // input samples taken since the last output
  size_t pos_ = 0;
  std::vector<float> taps_;
  std::vector<float> history_;  // twice the taps, so every window is contiguous
};

}  // namespace tv
