#include "base/array.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "tests/support/alloc_failure.h"

namespace {

struct Pair {
  uint32_t a;
  uint64_t b;
};

TEST(TArray, AppendsInOrderAcrossEveryGrowth) {
  TArray<Pair> array;
  for (uint32_t i = 0; i < 1000; ++i) ASSERT_TRUE(array.Append({i, 3ull * i}));
  ASSERT_EQ(array.count(), 1000u);
  for (uint32_t i = 0; i < 1000; ++i) {
    EXPECT_EQ(array[i].a, i);
    EXPECT_EQ(array[i].b, 3ull * i);
  }
  array.Clear();
  EXPECT_EQ(array.count(), 0u);
  EXPECT_TRUE(array.Append({7, 7}));
  EXPECT_EQ(array[0].a, 7u);
}

TEST(TArray, FailedGrowthLeavesTheRecords) {
  TArray<Pair> array;
  for (uint32_t i = 0; i < 8; ++i) ASSERT_TRUE(array.Append({i, i}));
  AllocFailureScope scope;
  scope.FailAll();
  const bool appended = array.Append({8, 8});
  const bool reserved = array.Reserve(UINT32_MAX);
  scope.Restore();
  EXPECT_FALSE(appended);
  EXPECT_FALSE(reserved);
  ASSERT_EQ(array.count(), 8u);
  for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(array[i].a, i);
}

}  // namespace
