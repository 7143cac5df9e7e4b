#include "json/fixed_pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/support/alloc_failure.h"

namespace {

constexpr uint32_t kSlotSize = 16;
constexpr uint32_t kSlotsPerBlock = 128;

// A private pool that is closed, giving its blocks back, when the test ends.
struct ScopedPool {
  FixedPool pool{kSlotSize, kSlotsPerBlock};
  std::vector<void*> taken;

  ~ScopedPool() {
    for (void* slot : taken) pool.GiveSlot(slot);
    pool.ClosePool();
  }

  void* Take() {
    void* slot = pool.TakeSlot();
    if (slot != nullptr) taken.push_back(slot);
    return slot;
  }
};

uintptr_t Address(void* p) { return reinterpret_cast<uintptr_t>(p); }

}  // namespace

TEST(FixedPool, OneMoreSlotThanABlockHoldsTakesExactlyTwoBlocks) {
  ScopedPool scoped;
  scoped.taken.reserve(kSlotsPerBlock + 1);
  AllocFailureScope counting;
  for (uint32_t i = 0; i <= kSlotsPerBlock; ++i) ASSERT_NE(scoped.Take(), nullptr);
  counting.Restore();
  EXPECT_EQ(counting.allocations(), 2u);
  EXPECT_EQ(scoped.pool.BlockCount(), 2u);
  EXPECT_EQ(scoped.pool.InUseCount(), kSlotsPerBlock + 1);
  EXPECT_EQ(scoped.pool.FreeCount(), kSlotsPerBlock - 1);
}

TEST(FixedPool, NewBlockHandsOutSlotsInAddressOrder) {
  ScopedPool scoped;
  void* first = scoped.Take();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(Address(first) % FixedPool::kBlockHeaderSize, 0u);
  for (uint32_t i = 1; i < kSlotsPerBlock; ++i) {
    void* slot = scoped.Take();
    ASSERT_EQ(Address(slot), Address(first) + i * kSlotSize) << "slot " << i;
  }
}

TEST(FixedPool, GivenBackSlotsComeBackLastInFirstOut) {
  ScopedPool scoped;
  void* a = scoped.Take();
  void* b = scoped.Take();
  void* c = scoped.Take();
  ASSERT_NE(c, nullptr);
  scoped.pool.GiveSlot(a);
  scoped.pool.GiveSlot(b);
  scoped.taken = {c};
  EXPECT_EQ(scoped.Take(), b);
  EXPECT_EQ(scoped.Take(), a);
  EXPECT_EQ(scoped.pool.BlockCount(), 1u);
}

TEST(FixedPool, ClosedPoolHandsOutNothingAndTakesNothingBack) {
  FixedPool pool(kSlotSize, kSlotsPerBlock);
  void* slot = pool.TakeSlot();
  ASSERT_NE(slot, nullptr);
  pool.GiveSlot(slot);

  AllocFailureScope counting;
  pool.ClosePool();
  counting.Restore();
  EXPECT_TRUE(pool.IsClosed());
  EXPECT_EQ(counting.frees(), 1u);
  EXPECT_EQ(pool.BlockCount(), 0u);
  EXPECT_EQ(pool.TakeSlot(), nullptr);

  uint64_t dummy[2] = {0, 0};
  pool.GiveSlot(dummy);
  EXPECT_EQ(pool.FreeCount(), 0u);
  EXPECT_EQ(pool.TakeSlot(), nullptr);
}

TEST(FixedPool, ClosingWithSlotsInUseKeepsTheBlocks) {
  // Static, as the process's pools are: the kept block stays reachable until exit.
  static FixedPool pool(kSlotSize, kSlotsPerBlock);
  void* slot = pool.TakeSlot();
  ASSERT_NE(slot, nullptr);
  AllocFailureScope counting;
  pool.ClosePool();
  counting.Restore();
  EXPECT_EQ(counting.frees(), 0u);
  EXPECT_EQ(pool.BlockCount(), 1u);
  // The slot stays writable; giving it back is ignored.
  static_cast<char*>(slot)[kSlotSize - 1] = 1;
  pool.GiveSlot(slot);
  EXPECT_EQ(pool.InUseCount(), 1u);
  EXPECT_EQ(pool.TakeSlot(), nullptr);
}

TEST(FixedPool, HeapFailureYieldsNoSlotAndLeavesThePoolUsable) {
  ScopedPool scoped;
  AllocFailureScope failure;
  failure.FailAll();
  void* slot = scoped.Take();
  failure.Restore();
  EXPECT_EQ(slot, nullptr);
  EXPECT_EQ(scoped.pool.BlockCount(), 0u);
  EXPECT_NE(scoped.Take(), nullptr);
  EXPECT_EQ(scoped.pool.BlockCount(), 1u);
}

TEST(FixedPool, BlockLargerThanA32BitSizeIsRefused) {
  FixedPool pool(1u << 16, 1u << 16);
  EXPECT_EQ(pool.TakeSlot(), nullptr);
  pool.ClosePool();
}
