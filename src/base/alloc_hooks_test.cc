#include "base/alloc_hooks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "tests/support/alloc_failure.h"

namespace {

bool SameTable(const AllocHookTable& a, const AllocHookTable& b) {
  return a.freeHook == b.freeHook && a.allocHook == b.allocHook && a.reallocHook == b.reallocHook &&
         a.reservedHook == b.reservedHook;
}

// Puts the table back into its state at process start for one call, then restores whatever was
// there. Nothing between the reset and the call may allocate: operator new would reach a
// first-use routine first.
class FirstUseTable {
 public:
  FirstUseTable() : saved_(AllocHooks) { AllocHooks = kAllocHooksFirstUse; }
  ~FirstUseTable() { AllocHooks = saved_; }
  FirstUseTable(const FirstUseTable&) = delete;
  FirstUseTable& operator=(const FirstUseTable&) = delete;

 private:
  AllocHookTable saved_;
};

TEST(AllocHooks, FirstCallThroughFreeInstallsDefaultsAndFrees) {
  // A block from the C library: the default free must accept it.
  void* block = std::malloc(32);
  ASSERT_NE(block, nullptr);
  AllocHookTable after;
  {
    FirstUseTable reset;
    AllocHooks.freeHook(block);
    after = AllocHooks;
  }
  EXPECT_TRUE(SameTable(after, kAllocHooksDefaults));
}

TEST(AllocHooks, FirstCallThroughAnyEntryInstallsAllFourDefaults) {
  enum Entry { kFree, kAlloc, kRealloc, kReserved };
  for (Entry entry : {kFree, kAlloc, kRealloc, kReserved}) {
    AllocHookTable after;
    void* block = nullptr;
    uint32_t reserved = 1;
    {
      FirstUseTable reset;
      switch (entry) {
        case kFree:
          AllocHooks.freeHook(nullptr);
          break;
        case kAlloc:
          block = AllocHooks.allocHook(64);
          break;
        case kRealloc:
          block = AllocHooks.reallocHook(nullptr, 64);
          break;
        case kReserved:
          reserved = AllocHooks.reservedHook();
          break;
      }
      after = AllocHooks;
    }
    EXPECT_TRUE(SameTable(after, kAllocHooksDefaults)) << "entry " << entry;
    // The first call itself already behaves as the default.
    if (entry == kAlloc || entry == kRealloc) {
      ASSERT_NE(block, nullptr) << "entry " << entry;
      std::memset(block, 0xAB, 64);
      AllocHooks.freeHook(block);
    }
    if (entry == kReserved) {
      EXPECT_EQ(reserved, 0u);
    }
  }
}

// Pointers stored here are observable, so an optimising compiler cannot elide the new and delete
// pairs below (it may drop a pair whose block is never used).
char* volatile g_keepText;
int* volatile g_keepValue;

TEST(OperatorNew, PassesThroughTheTable) {
  AllocFailureScope scope;
  g_keepText = new char[100];
  g_keepValue = new int(7);
  delete g_keepValue;
  delete[] g_keepText;
  scope.Restore();
  EXPECT_EQ(scope.allocations(), 2u);
  EXPECT_EQ(scope.bytesRequested(), 100u + sizeof(int));
  EXPECT_EQ(scope.frees(), 2u);
}

TEST(OperatorNew, ZeroBytesGivesADistinctBlock) {
  AllocFailureScope scope;
  void* a = ::operator new(0);
  void* b = ::operator new(0);
  const bool distinct = a != nullptr && b != nullptr && a != b;
  ::operator delete(a);
  ::operator delete(b);
  scope.Restore();
  EXPECT_TRUE(distinct);
}

TEST(OperatorNew, ThrowingFormsThrowBadAllocOnFailure) {
  bool plainThrew = false;
  bool arrayThrew = false;
  {
    AllocFailureScope scope;
    scope.FailAll();
    try {
      g_keepValue = new int(1);
      delete g_keepValue;
    } catch (const std::bad_alloc&) {
      plainThrew = true;
    }
    try {
      g_keepText = new char[10];
      delete[] g_keepText;
    } catch (const std::bad_alloc&) {
      arrayThrew = true;
    }
  }
  EXPECT_TRUE(plainThrew);
  EXPECT_TRUE(arrayThrew);
}

TEST(OperatorNew, NothrowFormsReturnNullOnFailure) {
  int* plain;
  char* array;
  {
    AllocFailureScope scope;
    scope.FailAll();
    plain = new (std::nothrow) int(1);
    array = new (std::nothrow) char[10];
  }
  EXPECT_EQ(plain, nullptr);
  EXPECT_EQ(array, nullptr);
}

TEST(OperatorNew, SizesBeyond32BitsFailWithoutReachingTheHeap) {
  if (sizeof(std::size_t) <= sizeof(uint32_t)) GTEST_SKIP() << "every size fits in 32 bits";
  const std::size_t huge = static_cast<std::size_t>(UINT32_MAX) + 1;
  AllocFailureScope scope;
  void* block = ::operator new(huge, std::nothrow);
  scope.Restore();
  EXPECT_EQ(block, nullptr);
  // The size would be truncated to 0 on its way into the table; it must not get there.
  EXPECT_EQ(scope.allocations(), 0u);
}

// The failure helper itself: other modules' fault-injection tests rely on its counting.
TEST(AllocFailureScope, RulesFailTheRightAllocations) {
  struct Case {
    const char* name;
    void (*arm)(AllocFailureScope&);
    uint32_t sizes[5];
    bool failures[5];
  };
  const Case cases[] = {
      {"none", [](AllocFailureScope& s) { s.FailNone(); }, {1, 2, 3, 4, 5}, {}},
      {"all",
       [](AllocFailureScope& s) { s.FailAll(); },
       {1, 2, 3, 4, 5},
       {true, true, true, true, true}},
      {"nth 2",
       [](AllocFailureScope& s) { s.FailNth(2); },
       {1, 2, 3, 4, 5},
       {false, true, false, false, false}},
      {"from 4",
       [](AllocFailureScope& s) { s.FailFromNth(4); },
       {1, 2, 3, 4, 5},
       {false, false, false, true, true}},
      {"at or above 100",
       [](AllocFailureScope& s) { s.FailAtOrAbove(100); },
       {99, 100, 5000, 1, 101},
       {false, true, true, false, true}},
  };
  for (const Case& c : cases) {
    void* blocks[5];
    AllocFailureScope scope;
    c.arm(scope);
    for (int i = 0; i < 5; ++i) blocks[i] = AllocHooks.allocHook(c.sizes[i]);
    for (void* block : blocks) AllocHooks.freeHook(block);
    scope.Restore();
    uint32_t expectedFailures = 0;
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(blocks[i] == nullptr, c.failures[i]) << c.name << ", allocation " << i + 1;
      if (c.failures[i]) ++expectedFailures;
    }
    EXPECT_EQ(scope.allocations(), 5u) << c.name;
    EXPECT_EQ(scope.failed(), expectedFailures) << c.name;
    EXPECT_EQ(scope.frees(), 5u - expectedFailures) << c.name;
    EXPECT_EQ(scope.outstanding(), 0) << c.name;
  }
}

TEST(AllocFailureScope, RestoresTheTableAndNests) {
  const AllocHookTable before = AllocHooks;
  void* small;
  void* large;
  uint32_t innerAllocations, innerFailed, outerAllocations, outerFailed, outerFrees;
  {
    AllocFailureScope outer;
    outer.FailAtOrAbove(1000);
    {
      AllocFailureScope inner;
      small = AllocHooks.allocHook(10);
      large = AllocHooks.allocHook(2000);
      AllocHooks.freeHook(small);
      inner.Restore();
      innerAllocations = inner.allocations();
      innerFailed = inner.failed();
    }
    outer.Restore();
    outerAllocations = outer.allocations();
    outerFailed = outer.failed();
    outerFrees = outer.frees();
  }
  EXPECT_TRUE(SameTable(AllocHooks, before));
  EXPECT_NE(small, nullptr);
  // The inner scope forwards to the outer one, whose rule still applies.
  EXPECT_EQ(large, nullptr);
  EXPECT_EQ(innerAllocations, 2u);
  EXPECT_EQ(innerFailed, 0u);
  EXPECT_EQ(outerAllocations, 2u);
  EXPECT_EQ(outerFailed, 1u);
  EXPECT_EQ(outerFrees, 1u);
}

TEST(AllocFailureScope, StartingFromTheFirstUseTableKeepsItsHooks) {
  const AllocHookTable before = AllocHooks;
  AllocHooks = kAllocHooksFirstUse;
  {
    AllocFailureScope scope;
    scope.FailAll();
    void* block = AllocHooks.allocHook(8);
    scope.Restore();
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(scope.failed(), 1u);
  }
  AllocHooks = before;
}

}  // namespace
