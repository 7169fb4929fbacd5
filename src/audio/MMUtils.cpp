#include "MMUtils.h"

#include <cmath>
#include <limits>

namespace tv {

// A zero divisor never comes from a valid format; answering 0 keeps a
// corrupt record from taking the process down with SIGFPE.

int32_t MulDivRound(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return 0;
  const int64_t p = int64_t{a} * b;
  const int64_t q = p / c;
  const int64_t r = p % c;
  return static_cast<int32_t>(q + (2 * r) / c);
}

int32_t MulDivTrunc(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return 0;
  return static_cast<int32_t>((int64_t{a} * b) / c);
}

uint32_t MulDivRoundUnsigned(uint32_t a, uint32_t b, uint32_t c) {
  if (c == 0) return 0;
  return static_cast<uint32_t>((uint64_t{a} * b + c / 2) / c);
}

int64_t MulDiv64(int64_t a, int64_t b, int64_t c) {
  if (c == 0) return 0;
  const long double v = static_cast<long double>(a) * static_cast<long double>(b) /
                        static_cast<long double>(c);
  constexpr long double kMax = static_cast<long double>(std::numeric_limits<int64_t>::max());
  constexpr long double kMin = static_cast<long double>(std::numeric_limits<int64_t>::min());
  if (!(v < kMax)) return std::numeric_limits<int64_t>::max();
  if (!(v > kMin)) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(std::trunc(v));
}

}  // namespace tv
