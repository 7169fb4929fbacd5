#include "MMFFT.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <utility>

namespace tv {

namespace {

constexpr long double kPi = 3.141592653589793238462643383279502884L;

// Two interleaved complex values (re0, im0, re1, im1). The compiler maps
// these onto whatever vector unit the target has, or onto scalar code.
using v4sf = float __attribute__((vector_size(16)));

inline v4sf Load(const float* p) {
  v4sf v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void Store(float* p, v4sf v) { std::memcpy(p, &v, sizeof v); }

inline v4sf SwapReIm(v4sf v) { return __builtin_shufflevector(v, v, 1, 0, 3, 2); }

using v4si = int32_t __attribute__((vector_size(16)));

// i * v: a swap and a sign flip of the real parts (no multiply).
inline v4sf TimesI(v4sf v) {
  constexpr v4si kSign = {INT32_MIN, 0, INT32_MIN, 0};
  return std::bit_cast<v4sf>(std::bit_cast<v4si>(SwapReIm(v)) ^ kSign);
}

// One radix-2/radix-4 step of the decimation-in-frequency split radix on
// n complex points (n >= 16), twiddles W^j and W^3j of length n taken from
// the table at stride s = (table's length) / n.
void LButterflies(float* z, int32_t n, int32_t s, const float* tw) {
  const int32_t quarter = n / 2;  // floats per quarter
  float* z0 = z;
  float* z1 = z + quarter;
  float* z2 = z1 + quarter;
  float* z3 = z2 + quarter;

  auto butterfly = [&](int32_t o, v4sf a, v4sf b) {
    // a, b: table entries (c, d, c3, d3) of two neighbouring j, W = c + i d.
    const v4sf wc = __builtin_shufflevector(a, b, 0, 0, 4, 4);
    const v4sf wd = __builtin_shufflevector(a, b, 1, 1, 5, 5);
    const v4sf w3c = __builtin_shufflevector(a, b, 2, 2, 6, 6);
    const v4sf w3d = __builtin_shufflevector(a, b, 3, 3, 7, 7);
    const v4sf A = Load(z0 + o);
    const v4sf B = Load(z1 + o);
    const v4sf C = Load(z2 + o);
    const v4sf D = Load(z3 + o);
    Store(z0 + o, A + C);
    Store(z1 + o, B + D);
    const v4sf t1 = A - C;
    const v4sf t2 = B - D;
    const v4sf it1 = TimesI(t1);
    const v4sf it2 = TimesI(t2);
    // u = t1 - i t2 and v = t1 + i t2; u * W = u c + (i u) d.
    Store(z2 + o, (t1 - it2) * wc + (it1 + t2) * wd);
    Store(z3 + o, (t1 + it2) * w3c + (it1 - t2) * w3d);
  };

  // j = 0 has the unit twiddle, which the table does not hold.
  const int32_t step = 4 * s;
  butterfly(0, v4sf{1.0f, 0.0f, 1.0f, 0.0f}, Load(tw + step - 4));
  const float* t = tw + 2 * step - 4;
  for (int32_t o = 4; o < quarter; o += 4, t += 2 * step) {
    butterfly(o, Load(t), Load(t + step));
  }
}

inline void Fft2(float* z) {
  const float ar = z[0], ai = z[1], br = z[2], bi = z[3];
  z[0] = ar + br;
  z[1] = ai + bi;
  z[2] = ar - br;
  z[3] = ai - bi;
}

inline void Fft4(float* z) {
  const float ar = z[0], ai = z[1], br = z[2], bi = z[3];
  const float cr = z[4], ci = z[5], dr = z[6], di = z[7];
  const float s0r = ar + cr, s0i = ai + ci, s1r = br + dr, s1i = bi + di;
  const float t1r = ar - cr, t1i = ai - ci, t2r = br - dr, t2i = bi - di;
  z[0] = s0r + s1r;
  z[1] = s0i + s1i;
  z[2] = s0r - s1r;
  z[3] = s0i - s1i;
  z[4] = t1r + t2i;
  z[5] = t1i - t2r;
  z[6] = t1r - t2i;
  z[7] = t1i + t2r;
}

void Fft8(float* z) {
  constexpr float r = 0.70710677f;
  // j = 0: points 0, 2, 4, 6
  const float a0r = z[0], a0i = z[1], b0r = z[4], b0i = z[5];
  const float c0r = z[8], c0i = z[9], d0r = z[12], d0i = z[13];
  // j = 1: points 1, 3, 5, 7
  const float a1r = z[2], a1i = z[3], b1r = z[6], b1i = z[7];
  const float c1r = z[10], c1i = z[11], d1r = z[14], d1i = z[15];

  z[0] = a0r + c0r;
  z[1] = a0i + c0i;
  z[2] = a1r + c1r;
  z[3] = a1i + c1i;
  z[4] = b0r + d0r;
  z[5] = b0i + d0i;
  z[6] = b1r + d1r;
  z[7] = b1i + d1i;

  const float t10r = a0r - c0r, t10i = a0i - c0i, t20r = b0r - d0r, t20i = b0i - d0i;
  z[8] = t10r + t20i;
  z[9] = t10i - t20r;
  z[12] = t10r - t20i;
  z[13] = t10i + t20r;

  const float t11r = a1r - c1r, t11i = a1i - c1i, t21r = b1r - d1r, t21i = b1i - d1i;
  // (t1 - i t2) * (r - i r)
  const float ur = t11r + t21i, ui = t11i - t21r;
  z[10] = r * (ur + ui);
  z[11] = r * (ui - ur);
  // (t1 + i t2) * (-r - i r)
  const float vr = t11r - t21i, vi = t11i + t21r;
  z[14] = r * (vi - vr);
  z[15] = -r * (vr + vi);

  Fft4(z);
  Fft2(z + 8);
  Fft2(z + 12);
}

// Depth first, so that each sub-transform works on data that is still in
// the cache from the step above it.
void Transform(float* z, int32_t n, int32_t s, const float* tw) {
  switch (n) {
    case 1: return;
    case 2: Fft2(z); return;
    case 4: Fft4(z); return;
    case 8: Fft8(z); return;
    default: break;
  }
  LButterflies(z, n, s, tw);
  Transform(z, n / 2, 2 * s, tw);
  Transform(z + n, n / 4, 4 * s, tw);
  Transform(z + n + n / 2, n / 4, 4 * s, tw);
}

inline void SwapComplex(float* z, int32_t j, int32_t r) {
  uint64_t a, b;  // one complex value each
  std::memcpy(&a, z + 2 * j, sizeof a);
  std::memcpy(&b, z + 2 * r, sizeof b);
  std::memcpy(z + 2 * j, &b, sizeof b);
  std::memcpy(z + 2 * r, &a, sizeof a);
}

// Swaps each pair j <-> reversed(j) once. Indices are split into a top and
// a bottom half of h bits (and a middle bit for odd widths); j = (a, m, rev c)
// and reversed(j) = (c, m, rev a), so walking a < c visits exactly the
// pairs to swap, without the unpredictable test j < reversed(j).
void BitReverse(const int32_t* rev, float* z, int bits) {
  const int h = bits / 2;
  const int top = bits - h;  // shift of the top half
  const int32_t side = int32_t{1} << h;
  const int32_t middles = int32_t{1} << (bits - 2 * h);
  for (int32_t a = 0; a < side; ++a) {
    const int32_t ra = rev[a] >> top;  // a reversed within h bits
    for (int32_t c = a + 1; c < side; ++c) {
      const int32_t rc = rev[c] >> top;
      for (int32_t m = 0; m < middles; ++m) {
        SwapComplex(z, (a << top) | (m << h) | rc, (c << top) | (m << h) | ra);
      }
    }
  }
}

// Complex forward transform of the n/2 points, result in natural order.
void ComplexForward(const TFFTSetup& setup, float* data) {
  const int32_t half = setup.length / 2;
  Transform(data, half, 1, setup.twiddle.data());
  BitReverse(setup.bitReverse.data(), data, setup.log2Length - 1);
}

void SplitForward(const TFFTSetup& setup, float* d) {
  const int32_t half = setup.length / 2;
  const float* sp = setup.split.data();
  d[0] = d[0] + d[1];
  d[1] = 0.0f;
  int32_t k = 1, m = half - 1;
  // Two bins k, k + 1 with their partners m, m - 1 per step, with the same
  // operations as the single-bin loop below.
  constexpr v4si kSignIm = {0, INT32_MIN, 0, INT32_MIN};
  auto conj = [&](v4sf v) { return std::bit_cast<v4sf>(std::bit_cast<v4si>(v) ^ kSignIm); };
  for (; k + 1 < m - 1; k += 2, m -= 2) {
    const v4sf x = Load(d + 2 * k);                                  // a, b of k, k + 1
    const v4sf yr = Load(d + 2 * m - 2);                             // of m - 1, m
    const v4sf y = __builtin_shufflevector(yr, yr, 2, 3, 0, 1);      // c, e of m, m - 1
    const v4sf t = Load(sp + 2 * k - 2);                             // h, g of k, k + 1
    const v4sf hh = conj(__builtin_shufflevector(t, t, 0, 0, 2, 2));  // h, -h
    const v4sf gg = __builtin_shufflevector(t, t, 1, 1, 3, 3);
    const v4sf diff = x - y, sum = x + y;
    const v4sf pq = __builtin_shufflevector(diff, sum, 0, 5, 2, 7);  // p, q
    const v4sf ml = pq * gg + SwapReIm(pq) * hh;                     // m, l
    Store(d + 2 * k, ml + conj(y));
    const v4sf back = conj(x) - conj(ml);                            // a - m, l - b
    Store(d + 2 * m - 2, __builtin_shufflevector(back, back, 2, 3, 0, 1));
  }
  for (; k < m; ++k, --m) {
    const float h = sp[2 * k - 2];
    const float g = sp[2 * k - 1];
    const float a = d[2 * k], b = d[2 * k + 1];
    const float c = d[2 * m], e = d[2 * m + 1];
    const float p = a - c, q = b + e;
    const float mm = p * g + q * h;
    const float l = q * g - p * h;
    d[2 * k] = c + mm;
    d[2 * m] = a - mm;
    d[2 * k + 1] = l - e;
    d[2 * m + 1] = l - b;
  }
  if (half >= 2) d[half + 1] = -d[half + 1];
}

// Undoes SplitForward (with data[1] as the Nyquist term), leaving twice the
// spectrum of the n/2 complex points, conjugated for the forward kernel.
void SplitInverse(const TFFTSetup& setup, float* d) {
  const int32_t half = setup.length / 2;
  const float* sp = setup.split.data();
  const float x0 = d[0], xn = d[1];
  d[0] = x0 + xn;
  d[1] = -(x0 - xn);
  for (int32_t k = 1, m = half - 1; k < m; ++k, --m) {
    const float gamma = 2.0f * sp[2 * k - 2];        // cos
    const float sigma = 1.0f - 2.0f * sp[2 * k - 1];  // sin
    const float xkr = d[2 * k], xki = d[2 * k + 1];
    const float xmr = d[2 * m], xmi = d[2 * m + 1];
    const float sumR = xkr + xmr, alpha = xkr - xmr;
    const float beta = xki + xmi, diffI = xki - xmi;
    const float p = -sigma * alpha - gamma * beta;
    const float q = gamma * alpha - sigma * beta;
    d[2 * k] = sumR + p;
    d[2 * m] = sumR - p;
    d[2 * k + 1] = -(diffI + q);
    d[2 * m + 1] = -(q - diffI);
  }
  if (half >= 2) {
    d[half] = 2.0f * d[half];
    d[half + 1] = 2.0f * d[half + 1];
  }
}

}  // namespace

float WindowValue(int window, int32_t i, int32_t N) {
  const long double x = i;
  const long double n = N;
  long double w;
  switch (window) {
    case fwHamming: w = 0.54L - 0.46L * std::cos(2.0L * kPi * x / n); break;
    case fwHanning: w = 0.5L - 0.5L * std::cos(2.0L * kPi * x / n); break;
    case fwBlackman:
      w = 0.42L - 0.5L * std::cos(2.0L * kPi * x / n) + 0.08L * std::cos(4.0L * kPi * x / n);
      break;
    case fwGaussian: {
      const int64_t d = 2 * static_cast<int64_t>(i) - N;
      const int64_t n2 = static_cast<int64_t>(N) * N;
      w = std::exp(-5.0L * static_cast<long double>(d * d) / static_cast<long double>(n2));
      break;
    }
    case fwWelch: {
      const long double r = (2.0L * x - n) / (n + 1.0L);
      w = 1.0L - r * r;
      break;
    }
    case fwParzen: w = 1.0L - std::fabs((2.0L * x - n) / (n + 1.0L)); break;
    default: w = 1.0L; break;
  }
  return static_cast<float>(w);
}

void BuildWindowTable(std::span<int32_t> table, int window, int bits) {
  if (bits < 0 || bits > 30) return;
  const int32_t n = int32_t{1} << bits;
  const size_t count = std::min(table.size(), static_cast<size_t>(n));
  for (size_t i = 0; i < count; ++i) {
    const double w = WindowValue(window, static_cast<int32_t>(i), n);
    const double v = std::floor(w * 32767.0 + 0.5);
    table[i] = static_cast<int32_t>(v < 0.0 ? 0.0 : (v > 32767.0 ? 32767.0 : v));
  }
}

PFFTSetup CreateFFTSetup(int log2Length) {
  if (log2Length <= 0 || log2Length >= 31) return nullptr;
  auto setup = std::make_unique<TFFTSetup>();
  const int32_t n = int32_t{1} << log2Length;
  const int32_t half = n / 2;
  setup->log2Length = log2Length;
  setup->length = n;
  setup->invLength = static_cast<float>(1.0L / n);
  setup->bitReverse.assign(static_cast<size_t>(half), 0);
  setup->twiddle.assign(static_cast<size_t>(n / 2), 0.0f);
  setup->split.assign(static_cast<size_t>(n / 2), 0.0f);

  const int bits = log2Length - 1;
  for (int32_t j = 0; j < half; ++j) {
    int32_t r = 0;
    for (int b = 0; b < bits; ++b) r = (r << 1) | ((j >> b) & 1);
    setup->bitReverse[static_cast<size_t>(j)] = r;
  }

  // Repeated rotation in extended precision keeps the tables accurate to
  // the last bit of a single and needs two trigonometric calls per table.
  const long double theta = 2.0L * kPi / half;
  const long double w1r = std::cos(theta), w1i = -std::sin(theta);
  const long double w3r = std::cos(3.0L * theta), w3i = -std::sin(3.0L * theta);
  long double cr = w1r, ci = w1i, c3r = w3r, c3i = w3i;
  float* tw = setup->twiddle.data();
  for (int32_t k = 1; k <= n / 8; ++k) {
    tw[0] = static_cast<float>(cr);
    tw[1] = static_cast<float>(ci);
    tw[2] = static_cast<float>(c3r);
    tw[3] = static_cast<float>(c3i);
    tw += 4;
    const long double nr = cr * w1r - ci * w1i;
    ci = cr * w1i + ci * w1r;
    cr = nr;
    const long double n3r = c3r * w3r - c3i * w3i;
    c3i = c3r * w3i + c3i * w3r;
    c3r = n3r;
  }

  const long double phi = 2.0L * kPi / n;
  const long double sr = std::cos(phi), si = std::sin(phi);
  long double ur = sr, ui = si;
  float* sp = setup->split.data();
  for (int32_t k = 1; k <= n / 4; ++k) {
    sp[0] = static_cast<float>(0.5L * ur);
    sp[1] = static_cast<float>(0.5L - 0.5L * ui);
    sp += 2;
    const long double nr = ur * sr - ui * si;
    ui = ur * si + ui * sr;
    ur = nr;
  }
  return setup;
}

void FreeFFTSetup(PFFTSetup& setup) { setup.reset(); }

void RealFFT(const TFFTSetup* setup, float* data, int direction) {
  if (setup == nullptr || data == nullptr || setup->length < 2) return;
  if (direction > 0) {
    ComplexForward(*setup, data);
    SplitForward(*setup, data);
  } else if (direction < 0) {
    SplitInverse(*setup, data);
    ComplexForward(*setup, data);
    const float scale = setup->invLength;
    for (int32_t i = 0; i < setup->length; i += 2) {
      data[i] *= scale;
      data[i + 1] *= -scale;
    }
  }
}

}  // namespace tv
