// The numeric kernel of the frequency analysers: a single-precision forward
// real FFT of a power-of-two length, the window functions, and the integer
// window tables that the analysers multiply their samples with.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "MMTypes.h"

namespace tv {

// Window value for index i of a periodic window of length N (w(0) is the
// edge, w(N/2) the centre). Ordinals outside the TMMFFTWindow range give 1.
float WindowValue(int window, int32_t i, int32_t N);

// Fills the first 2^bits entries (at most table.size()) with the window
// scaled to 0..32767.
void BuildWindowTable(std::span<int32_t> table, int window, int bits);

// Everything a transform of length n = 2^k needs, prepared once per length.
struct TFFTSetup {
  int32_t log2Length = 0;
  int32_t length = 0;
  float invLength = 0.0f;
  // n/2 entries: j with its k - 1 low bits reversed.
  std::vector<int32_t> bitReverse;
  // For k = 1 .. n/8 (entry k - 1): cos(kt), -sin(kt), cos(3kt), -sin(3kt)
  // with t = 2 pi / (n/2).
  std::vector<float> twiddle;
  // For k = 1 .. n/4 (entry k - 1): cos(2 pi k/n) / 2, 1/2 - sin(2 pi k/n) / 2.
  std::vector<float> split;
};
using PFFTSetup = std::unique_ptr<TFFTSetup>;

// None for log2Length <= 0 or when the length does not fit the record's
// 32-bit length field (log2Length >= 31). Throws std::bad_alloc when the
// tables cannot be allocated.
PFFTSetup CreateFFTSetup(int log2Length);
void FreeFFTSetup(PFFTSetup& setup);

// In-place real FFT of setup->length floats. The direction is clamped to
// -1 .. +1.
//
// Forward (+1): data[0] = X[0], data[1] = 0 (the Nyquist term is dropped),
// data[2k], data[2k+1] = Re, Im of X[k] = sum x[m] e^(-2 pi i k m / n) for
// k = 1 .. n/2 - 1; no scaling.
//
// Inverse (-1): takes that layout, with data[1] read as the real Nyquist
// term, and returns x scaled by 1/n, so that a forward transform followed
// by an inverse one gives back any signal without a Nyquist component.
//
// Direction 0, a missing setup or missing data leave the data untouched.
// Allocates nothing and evaluates no trigonometric function.
void RealFFT(const TFFTSetup* setup, float* data, int direction);

}  // namespace tv
