// Measurements of generated signals in double precision, independent of
// the program's own FFT: a plain radix-2 transform for the spectrum and a
// windowed single-frequency transform to find a tone's peak exactly.
#pragma once

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace tv::test {

// In-place forward FFT; the size must be a power of two.
inline void Fft(std::vector<std::complex<double>>& a) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const std::complex<double> w =
        std::polar(1.0, -2.0 * std::numbers::pi / static_cast<double>(len));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> wk = 1.0;
      for (size_t k = 0; k < len / 2; ++k) {
        const auto u = a[i + k];
        const auto v = a[i + k + len / 2] * wk;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        wk *= w;
      }
    }
  }
}

// |X|^2 of x zero-padded to the next power of two; bin k is k * rate / size.
inline std::vector<double> PowerSpectrum(const std::vector<double>& x, size_t& size) {
  size = 1;
  while (size < x.size()) size <<= 1;
  std::vector<std::complex<double>> a(size);
  for (size_t i = 0; i < x.size(); ++i) a[i] = x[i];
  Fft(a);
  std::vector<double> p(size / 2);
  for (size_t k = 0; k < p.size(); ++k) p[k] = std::norm(a[k]);
  return p;
}

struct Tone {
  double frequency;
  double amplitude;  // peak
};

// The strongest tone: the spectrum's peak bin, then the exact maximum of
// the Hann-windowed transform around it.
inline Tone MeasureTone(const std::vector<double>& x, double rate) {
  const size_t n = x.size();
  std::vector<double> w(n);
  double sum = 0;
  for (size_t i = 0; i < n; ++i) {
    w[i] = 0.5 -
           0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n));
    sum += w[i];
  }
  std::vector<double> xw(n);
  for (size_t i = 0; i < n; ++i) xw[i] = x[i] * w[i];
  size_t size = 0;
  const std::vector<double> p = PowerSpectrum(xw, size);
  size_t peak = 1;
  for (size_t k = 1; k < p.size(); ++k) {
    if (p[k] > p[peak]) peak = k;
  }
  auto magnitude = [&](double f) {
    const double theta = -2.0 * std::numbers::pi * f / rate;
    std::complex<double> acc = 0, z = 1;
    const std::complex<double> step = std::polar(1.0, theta);
    for (size_t i = 0; i < n; ++i) {
      if (i % 4096 == 0) z = std::polar(1.0, theta * static_cast<double>(i));
      acc += xw[i] * z;
      z *= step;
    }
    return std::abs(acc);
  };
  const double bin = rate / static_cast<double>(size);
  double lo = (static_cast<double>(peak) - 1) * bin, hi = (static_cast<double>(peak) + 1) * bin;
  const double g = (std::sqrt(5.0) - 1) / 2;
  double a = hi - g * (hi - lo), b = lo + g * (hi - lo);
  double fa = magnitude(a), fb = magnitude(b);
  while (hi - lo > 1e-6) {
    if (fa > fb) {
      hi = b;
      b = a;
      fb = fa;
      a = hi - g * (hi - lo);
      fa = magnitude(a);
    } else {
      lo = a;
      a = b;
      fa = fb;
      b = lo + g * (hi - lo);
      fb = magnitude(b);
    }
  }
  const double f = (lo + hi) / 2;
  return {f, 2.0 * magnitude(f) / sum};
}

}  // namespace tv::test
