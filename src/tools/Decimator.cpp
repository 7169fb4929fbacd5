#include "Decimator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tv {

void Decimator::Setup(double inputRate, int factor, double cutoffHz, double stopHz) {
  factor_ = std::max(factor, 1);
  if (factor_ == 1) {
    taps_.assign(1, 1.0f);
  } else {
    // Blackman-windowed sinc: about 5.5 / transition taps reach -74 dB.
    const double transition = std::max(stopHz - cutoffHz, inputRate / 200.0);
    auto count = static_cast<size_t>(std::ceil(5.5 * inputRate / transition)) | 1u;
    const double mid = (cutoffHz + stopHz) / 2.0 / inputRate;  // cycles per sample
    const double centre = static_cast<double>(count - 1) / 2.0;
    std::vector<double> h(count);
    double sum = 0;
    for (size_t t = 0; t < count; ++t) {
      const double x = static_cast<double>(t) - centre;
      const double sinc = x == 0 ? 2 * mid : std::sin(2 * std::numbers::pi * mid * x) / (std::numbers::pi * x);
      const double a = 2 * std::numbers::pi * static_cast<double>(t) / static_cast<double>(count - 1);
      const double window = 0.42 - 0.5 * std::cos(a) + 0.08 * std::cos(2 * a);
      h[t] = sinc * window;
      sum += h[t];
    }
    taps_.resize(count);
    for (size_t t = 0; t < count; ++t) taps_[t] = static_cast<float>(h[t] / sum);
  }
  history_.assign(2 * taps_.size(), 0.0f);
  Reset();
}

void Decimator::Reset() {
  std::fill(history_.begin(), history_.end(), 0.0f);
  pos_ = 0;
  phase_ = 0;
}

double Decimator::Delay() const {
  return static_cast<double>(factor_ - 1) - static_cast<double>(taps_.size() - 1) / 2.0;
}

size_t Decimator::Process(const float* in, size_t count, float* out) {
  if (factor_ == 1) {
    std::copy(in, in + count, out);
    return count;
  }
  const size_t n = taps_.size();
  size_t written = 0;
  for (size_t i = 0; i < count; ++i) {
    history_[pos_] = in[i];
    history_[pos_ + n] = in[i];
    pos_ = pos_ + 1 == n ? 0 : pos_ + 1;
    if (++phase_ < factor_) continue;
    phase_ = 0;
    // The window starts at the oldest sample; the taps are symmetric.
    const float* w = history_.data() + pos_;
    float acc = 0;
    for (size_t t = 0; t < n; ++t) acc += w[t] * taps_[t];
    out[written++] = acc;
  }
  return written;
}

}  // namespace tv
