#include "TMMAllocator.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tv {
namespace {

TEST(Allocator, ReusesExactSizeFirstThenFirstLargeEnough) {
  TMMAllocator pool;
  void* small = pool.Allocate(kAllocMoveable | kAllocZeroInit, 4096);
  void* large = pool.Allocate(kAllocMoveable | kAllocZeroInit, 8192);
  ASSERT_NE(small, nullptr);
  ASSERT_NE(large, nullptr);
  void* keepSmall = small;
  void* keepLarge = large;
  pool.Release(large);
  pool.Release(small);
  EXPECT_EQ(small, nullptr);
  EXPECT_EQ(large, nullptr);

  // The 8192-byte block comes first in the pool, but an exact fit wins.
  EXPECT_EQ(pool.Allocate(0, 4096), keepSmall);
  EXPECT_EQ(pool.Allocate(0, 5000), keepLarge);
  EXPECT_EQ(pool.BlockCount(), 2u);
  // Nothing free is large enough: a new block.
  void* fresh = pool.Allocate(kAllocZeroInit, 100);
  EXPECT_NE(fresh, keepSmall);
  EXPECT_NE(fresh, keepLarge);
  EXPECT_EQ(pool.BlockCount(), 3u);
  EXPECT_EQ(pool.BlockSize(keepLarge), 8192u);
}

TEST(Allocator, NewBlocksAreZeroFilledOnRequest) {
  TMMAllocator pool;
  auto* p = static_cast<unsigned char*>(pool.Allocate(kAllocZeroInit, 256));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(p[i], 0);
}

TEST(Allocator, ForeignBlocksAreIgnoredAndFreeAllEmptiesThePool) {
  TMMAllocator pool;
  int local = 0;
  void* foreign = &local;
  pool.Release(foreign);
  EXPECT_EQ(foreign, &local);  // not ours: the caller's reference stays
  void* a = pool.Allocate(0, 64);
  void* b = pool.Allocate(0, 64);
  EXPECT_NE(a, b);  // a block in use is not handed out twice
  pool.FreeAll();
  EXPECT_EQ(pool.BlockCount(), 0u);
}

}  // namespace
}  // namespace tv
