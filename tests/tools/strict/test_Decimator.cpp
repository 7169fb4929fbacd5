#include "Decimator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace tv {
namespace {

// Peak of the output after the filter has settled, for a unit sine.
double Gain(Decimator& d, double rate, double hz) {
  d.Reset();
  std::vector<float> in(static_cast<size_t>(rate / 2));
  for (size_t i = 0; i < in.size(); ++i) {
    in[i] = static_cast<float>(std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate));
  }
  std::vector<float> out(in.size() / static_cast<size_t>(d.Factor()) + 1);
  const size_t n = d.Process(in.data(), in.size(), out.data());
  double peak = 0;
  for (size_t i = n / 2; i < n; ++i) peak = std::max(peak, std::abs(static_cast<double>(out[i])));
  return peak;
}

TEST(Decimator, PassesTheToneBandAndStopsWhatWouldFoldOntoIt) {
  Decimator d;
  d.Setup(44100, 5, 3400, 8820 - 1800);
  for (double hz : {697.0, 1209.0, 1633.0, 3000.0}) EXPECT_NEAR(Gain(d, 44100, hz), 1.0, 0.01) << hz;
  // 8820 - 1633 Hz lands on 1633 Hz after decimation.
  for (double hz : {7187.0, 8820.0 - 697.0, 10000.0, 17640.0 - 1209.0}) {
    EXPECT_LT(Gain(d, 44100, hz), 1e-3) << hz;
  }
}

TEST(Decimator, DelayNamesTheInputInstantOfEachOutput) {
  for (int factor : {1, 2, 6}) {
    SCOPED_TRACE(factor);
    const double rate = 8000.0 * factor;
    Decimator d;
    d.Setup(rate, factor, 3400, 8000 - 1800);
    const size_t at = 1000 * static_cast<size_t>(factor) + 3;
    std::vector<float> in(at + 2000, 0.0f);
    in[at] = 1.0f;
    std::vector<float> out(in.size());
    const size_t n = d.Process(in.data(), in.size(), out.data());
    size_t best = 0;
    for (size_t j = 0; j < n; ++j) {
      if (out[j] > out[best]) best = j;
    }
    EXPECT_NEAR(static_cast<double>(best) * factor + d.Delay(), static_cast<double>(at), factor / 2.0 + 0.5);
  }
}

TEST(Decimator, PiecesGiveTheSameOutputAsOneCall) {
  Decimator whole, pieces;
  whole.Setup(48000, 6, 3400, 6200);
  pieces.Setup(48000, 6, 3400, 6200);
  std::vector<float> in(10007);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<float>(std::sin(0.01 * static_cast<double>(i * i % 977)));
  std::vector<float> a(in.size()), b(in.size());
  const size_t na = whole.Process(in.data(), in.size(), a.data());
  size_t nb = 0;
  for (size_t at = 0; at < in.size(); at += 7) nb += pieces.Process(in.data() + at, std::min<size_t>(7, in.size() - at), b.data() + nb);
  ASSERT_EQ(na, nb);
  for (size_t i = 0; i < na; ++i) ASSERT_EQ(a[i], b[i]) << i;
}

}  // namespace
}  // namespace tv
