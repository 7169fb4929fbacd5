// Integer arithmetic shared by every audio component: the rounding
// multiply-divide family used for all size and time conversions.
#pragma once

#include <cstdint>

namespace tv {

// a * b / c in 64 bits, rounded to nearest with halves away from zero.
int32_t MulDivRound(int32_t a, int32_t b, int32_t c);
// a * b / c in 64 bits, truncated toward zero.
int32_t MulDivTrunc(int32_t a, int32_t b, int32_t c);
// (a * b + c / 2) / c in unsigned 64 bits.
uint32_t MulDivRoundUnsigned(uint32_t a, uint32_t b, uint32_t c);
// a * b / c in extended precision floating point, truncated toward zero.
int64_t MulDiv64(int64_t a, int64_t b, int64_t c);

constexpr int32_t Min(int32_t a, int32_t b) { return a < b ? a : b; }
constexpr int32_t Max(int32_t a, int32_t b) { return a > b ? a : b; }
constexpr int32_t Clamp(int32_t x, int32_t low, int32_t high) {
  return x < low ? low : (x > high ? high : x);
}

}  // namespace tv
