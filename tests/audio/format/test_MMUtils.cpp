#include "MMUtils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace tv {
namespace {

TEST(MulDiv, RoundsHalvesAwayFromZero) {
  EXPECT_EQ(MulDivRound(7, 1, 2), 4);
  EXPECT_EQ(MulDivRound(-7, 1, 2), -4);
  EXPECT_EQ(MulDivRound(5, 1, 3), 2);    // 1.67
  EXPECT_EQ(MulDivRound(4, 1, 3), 1);    // 1.33
  EXPECT_EQ(MulDivRound(-5, 1, 3), -2);
  EXPECT_EQ(MulDivRound(7, -1, 2), -4);  // sign from either factor
}

TEST(MulDiv, ProductIsFormedIn64Bits) {
  // 88200 * 1000 overflows 32 bits before the division.
  EXPECT_EQ(MulDivRound(2000000, 44100, 88200), 1000000);
  EXPECT_EQ(MulDivTrunc(std::numeric_limits<int32_t>::max(), 2, 4),
            std::numeric_limits<int32_t>::max() / 2);
}

TEST(MulDiv, TruncatesTowardZero) {
  EXPECT_EQ(MulDivTrunc(7, 1, 2), 3);
  EXPECT_EQ(MulDivTrunc(-7, 1, 2), -3);
}

TEST(MulDiv, UnsignedAddsHalfTheDivisor) {
  EXPECT_EQ(MulDivRoundUnsigned(7, 1, 2), 4u);
  EXPECT_EQ(MulDivRoundUnsigned(4000000000u, 3, 4), 3000000000u);
}

TEST(MulDiv, SixtyFourBitTruncates) {
  EXPECT_EQ(MulDiv64(int64_t{1} << 40, 1000, 3), 366503875925333);
  EXPECT_EQ(MulDiv64(-7, 1, 2), -3);
}

TEST(MulDiv, ZeroDivisorAnswersZeroInsteadOfTrapping) {
  EXPECT_EQ(MulDivRound(1, 1, 0), 0);
  EXPECT_EQ(MulDivTrunc(1, 1, 0), 0);
  EXPECT_EQ(MulDivRoundUnsigned(1, 1, 0), 0u);
  EXPECT_EQ(MulDiv64(1, 1, 0), 0);
}

TEST(MinMaxClamp, Basics) {
  EXPECT_EQ(Min(-3, 2), -3);
  EXPECT_EQ(Max(-3, 2), 2);
  EXPECT_EQ(Clamp(150, -100, 100), 100);
  EXPECT_EQ(Clamp(-150, -100, 100), -100);
  EXPECT_EQ(Clamp(5, -100, 100), 5);
}

}  // namespace
}  // namespace tv
