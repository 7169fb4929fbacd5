#include "MMFFT.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <random>
#include <vector>

namespace tv {
namespace {

using cld = std::complex<long double>;
constexpr long double kPi = 3.141592653589793238462643383279502884L;

// Reference spectrum of real data: a plain radix-2 transform in extended
// precision whose twiddles come straight from the library functions.
std::vector<cld> ReferenceSpectrum(const std::vector<float>& x) {
  const size_t n = x.size();
  std::vector<cld> a(n);
  for (size_t i = 0; i < n; ++i) a[i] = x[i];
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  std::vector<cld> w(n / 2);
  for (size_t k = 0; k < n / 2; ++k) w[k] = std::polar(1.0L, -2.0L * kPi * k / n);
  for (size_t len = 2; len <= n; len <<= 1) {
    const size_t stride = n / len;
    for (size_t i = 0; i < n; i += len) {
      for (size_t k = 0; k < len / 2; ++k) {
        const cld u = a[i + k];
        const cld v = a[i + k + len / 2] * w[k * stride];
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
      }
    }
  }
  return a;
}

cld DirectBin(const std::vector<float>& x, size_t k) {
  const size_t n = x.size();
  cld sum = 0;
  for (size_t m = 0; m < n; ++m) {
    sum += static_cast<long double>(x[m]) *
           std::polar(1.0L, -2.0L * kPi * static_cast<long double>((k * m) % n) / n);
  }
  return sum;
}

std::vector<float> RandomSignal(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-32768.0f, 32767.0f);
  std::vector<float> x(n);
  for (float& v : x) v = dist(gen);
  return x;
}

std::vector<float> Transformed(std::vector<float> x) {
  int k = 0;
  while ((size_t{1} << k) < x.size()) ++k;
  PFFTSetup setup = CreateFFTSetup(k);
  RealFFT(setup.get(), x.data(), 1);
  return x;
}

// Largest deviation of our layout from the reference, relative to the
// spectrum's peak magnitude.
double RelativeError(const std::vector<float>& out, const std::vector<cld>& ref) {
  const size_t n = out.size();
  long double peak = 0, err = 0;
  for (size_t k = 0; k < n / 2; ++k) peak = std::max(peak, std::abs(ref[k]));
  err = std::abs(static_cast<long double>(out[0]) - ref[0].real()) + std::fabs(out[1]);
  for (size_t k = 1; k < n / 2; ++k) {
    const cld got(out[2 * k], out[2 * k + 1]);
    err = std::max(err, std::abs(got - ref[k]));
  }
  return static_cast<double>(err / peak);
}

TEST(WindowTables, EdgeAndCentreValues) {
  std::vector<int32_t> t(1024, -1);
  BuildWindowTable(t, fwHanning, 10);
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[512], 32767);
  BuildWindowTable(t, fwHamming, 10);
  EXPECT_EQ(t[0], 2621);
  EXPECT_EQ(t[512], 32767);
  BuildWindowTable(t, fwBlackman, 10);
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[512], 32767);
  BuildWindowTable(t, fwRectangular, 10);
  EXPECT_TRUE(std::all_of(t.begin(), t.end(), [](int32_t v) { return v == 32767; }));
  // Unknown ordinals behave as the rectangular window.
  std::fill(t.begin(), t.end(), 0);
  BuildWindowTable(t, 7, 10);
  EXPECT_TRUE(std::all_of(t.begin(), t.end(), [](int32_t v) { return v == 32767; }));

  // Formula checks at the edge, where the windows differ most.
  EXPECT_FLOAT_EQ(WindowValue(fwGaussian, 0, 1024), std::exp(-5.0f));
  EXPECT_FLOAT_EQ(WindowValue(fwWelch, 0, 1024),
                  static_cast<float>(1.0 - (1024.0 / 1025.0) * (1024.0 / 1025.0)));
  EXPECT_FLOAT_EQ(WindowValue(fwParzen, 0, 1024), static_cast<float>(1.0 - 1024.0 / 1025.0));
  EXPECT_FLOAT_EQ(WindowValue(fwWelch, 512, 1024), 1.0f);
  EXPECT_FLOAT_EQ(WindowValue(fwHanning, 256, 1024), 0.5f);
}

TEST(WindowTables, PeriodicSymmetricAndInRange) {
  for (int w = fwRectangular; w <= fwParzen; ++w) {
    for (int bits : {3, 9, 15}) {
      const int32_t n = 1 << bits;
      std::vector<int32_t> t(static_cast<size_t>(n));
      BuildWindowTable(t, w, bits);
      for (int32_t i = 0; i < n; ++i) {
        ASSERT_GE(t[i], 0) << "window " << w << " i " << i;
        ASSERT_LE(t[i], 32767) << "window " << w << " i " << i;
        if (i > 0) {
          ASSERT_EQ(t[i], t[n - i]) << "window " << w << " i " << i;
        }
      }
    }
  }
}

TEST(WindowTables, NeverWritesPastTheTable) {
  std::vector<int32_t> t(10, -7);
  BuildWindowTable(std::span<int32_t>(t.data(), 8), fwHanning, 6);
  EXPECT_EQ(t[8], -7);
  EXPECT_EQ(t[9], -7);
  EXPECT_EQ(t[0], 0);
}

TEST(FFTSetup, OutOfRangeLengthsGiveNone) {
  EXPECT_EQ(CreateFFTSetup(0), nullptr);
  EXPECT_EQ(CreateFFTSetup(-3), nullptr);
  EXPECT_EQ(CreateFFTSetup(32), nullptr);
  EXPECT_EQ(CreateFFTSetup(31), nullptr);  // 2^31 does not fit the length field
  PFFTSetup s = CreateFFTSetup(1);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->length, 2);
  EXPECT_EQ(CreateFFTSetup(15)->bitReverse.size(), 16384u);
  FreeFFTSetup(s);
  EXPECT_EQ(s, nullptr);
  FreeFFTSetup(s);  // freeing none does nothing
}

TEST(RealFFTAccuracy, EveryLengthAgainstExtendedPrecision) {
  // The reference itself is checked against the defining sum: on every bin
  // for short lengths, on a spread of bins for the long ones.
  double worst = 0;
  int worstLength = 0;
  for (int k = 3; k <= 15; ++k) {
    const size_t n = size_t{1} << k;
    const std::vector<float> x = RandomSignal(n, 1000u + static_cast<unsigned>(k));
    const std::vector<cld> ref = ReferenceSpectrum(x);
    const size_t probes = n <= 512 ? n / 2 : 12;
    for (size_t p = 0; p < probes; ++p) {
      const size_t bin = n <= 512 ? p : (p * 2731 + 1) % (n / 2);
      ASSERT_LT(std::abs(DirectBin(x, bin) - ref[bin]), 1e-9L * n * 32768) << n << " " << bin;
    }
    const double e = RelativeError(Transformed(x), ref);
    if (e > worst) {
      worst = e;
      worstLength = static_cast<int>(n);
    }
    EXPECT_LT(e, 1e-5) << "length " << n;
  }
  std::printf("largest relative error %.3g (length %d)\n", worst, worstLength);
  RecordProperty("largest_relative_error", std::to_string(worst));
}

TEST(RealFFTAccuracy, ShortestLengths) {
  PFFTSetup s2 = CreateFFTSetup(1);
  float two[2] = {3.0f, 5.0f};
  RealFFT(s2.get(), two, 1);
  EXPECT_FLOAT_EQ(two[0], 8.0f);
  EXPECT_FLOAT_EQ(two[1], 0.0f);

  PFFTSetup s4 = CreateFFTSetup(2);
  float four[4] = {1.0f, 2.0f, 4.0f, 8.0f};
  RealFFT(s4.get(), four, 1);
  // X[1] = (x0 - x2) + i (x3 - x1)
  EXPECT_FLOAT_EQ(four[0], 15.0f);
  EXPECT_FLOAT_EQ(four[1], 0.0f);
  EXPECT_FLOAT_EQ(four[2], -3.0f);
  EXPECT_FLOAT_EQ(four[3], 6.0f);
}

TEST(RealFFTSignals, ConstantGoesToDCOnly) {
  const int32_t n = 1024;
  std::vector<float> x(n, 3.5f);
  x = Transformed(x);
  EXPECT_FLOAT_EQ(x[0], n * 3.5f);
  for (int32_t i = 1; i < n; ++i) ASSERT_NEAR(x[i], 0.0f, 1e-3f) << i;
}

TEST(RealFFTSignals, CosineAndSineOnABinCentre) {
  for (int k : {5, 10}) {
    const int32_t n = 1 << k;
    for (int32_t bin : {1, 3, n / 4, n / 2 - 1}) {
      const float amp = 1000.0f;
      std::vector<float> c(static_cast<size_t>(n)), s(static_cast<size_t>(n));
      for (int32_t m = 0; m < n; ++m) {
        const long double ph = 2.0L * kPi * bin * m / n;
        c[m] = static_cast<float>(amp * std::cos(ph));
        s[m] = static_cast<float>(amp * std::sin(ph));
      }
      c = Transformed(c);
      s = Transformed(s);
      const float expect = amp * n / 2;
      const float tol = expect * 1e-5f;
      EXPECT_NEAR(c[2 * bin], expect, tol) << n << " " << bin;
      EXPECT_NEAR(c[2 * bin + 1], 0.0f, tol) << n << " " << bin;
      EXPECT_NEAR(s[2 * bin], 0.0f, tol) << n << " " << bin;
      EXPECT_NEAR(s[2 * bin + 1], -expect, tol) << n << " " << bin;
      for (int32_t other = 0; other < n / 2; ++other) {
        if (other == bin) continue;
        ASSERT_NEAR(std::hypot(c[2 * other], c[2 * other + 1]), 0.0f, tol) << other;
        ASSERT_NEAR(std::hypot(s[2 * other], s[2 * other + 1]), 0.0f, tol) << other;
      }
    }
  }
}

TEST(RealFFTSignals, NyquistTermIsDropped) {
  const int32_t n = 256;
  std::vector<float> x(n);
  for (int32_t m = 0; m < n; ++m) x[m] = m % 2 == 0 ? 7.0f : -7.0f;
  x = Transformed(x);
  for (int32_t i = 0; i < n; ++i) ASSERT_EQ(x[i], 0.0f) << i;
}

TEST(RealFFTCalls, MissingArgumentsAndDirections) {
  PFFTSetup s = CreateFFTSetup(4);
  std::vector<float> x = RandomSignal(16, 7);
  const std::vector<float> original = x;
  RealFFT(nullptr, x.data(), 1);
  EXPECT_EQ(x, original);
  RealFFT(s.get(), nullptr, 1);  // must not crash
  RealFFT(s.get(), x.data(), 0);
  EXPECT_EQ(x, original);

  // Directions beyond +-1 are clamped.
  std::vector<float> forward = original;
  RealFFT(s.get(), forward.data(), 1);
  RealFFT(s.get(), x.data(), 9);
  EXPECT_EQ(x, forward);
  std::vector<float> back = x;
  RealFFT(s.get(), back.data(), -1);
  RealFFT(s.get(), x.data(), -9);
  EXPECT_EQ(x, back);
}

TEST(RealFFTCalls, InverseRestoresSignalsWithoutNyquist) {
  for (int k : {1, 2, 3, 4, 8, 13}) {
    const int32_t n = 1 << k;
    PFFTSetup s = CreateFFTSetup(k);
    std::vector<float> x = RandomSignal(static_cast<size_t>(n), 99u + static_cast<unsigned>(k));
    // Remove the Nyquist component, which the forward transform drops.
    double alt = 0;
    for (int32_t m = 0; m < n; ++m) alt += (m % 2 == 0 ? x[m] : -x[m]);
    alt /= n;
    for (int32_t m = 0; m < n; ++m) x[m] -= static_cast<float>(m % 2 == 0 ? alt : -alt);
    std::vector<float> y = x;
    RealFFT(s.get(), y.data(), 1);
    RealFFT(s.get(), y.data(), -1);
    for (int32_t m = 0; m < n; ++m) ASSERT_NEAR(y[m], x[m], 0.05f) << "n " << n << " m " << m;
  }
}

TEST(RealFFTCalls, InverseReadsTheNyquistTerm) {
  const int32_t n = 8;
  PFFTSetup s = CreateFFTSetup(3);
  std::vector<float> x(n, 0.0f);
  x[1] = 16.0f;  // Nyquist term only
  RealFFT(s.get(), x.data(), -1);
  for (int32_t m = 0; m < n; ++m) EXPECT_FLOAT_EQ(x[m], m % 2 == 0 ? 2.0f : -2.0f) << m;
}

}  // namespace
}  // namespace tv
