#include "base/shared_string.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "base/string_buffer.h"
#include "tests/support/alloc_failure.h"

namespace {

TEST(SharedString, AssignAllocatesLengthPlusNine) {
  SharedString s;
  AllocFailureScope scope;
  s.Assign("user_dlc");
  scope.Restore();
  EXPECT_EQ(scope.allocations(), 1u);
  EXPECT_EQ(scope.bytesRequested(), 17u);
  EXPECT_STREQ(s.Text(), "user_dlc");
  EXPECT_EQ(s.Capacity(), 9u);
  EXPECT_EQ(s.Length(), 8u);
}

// Each step assigns a text to the string left by the previous one.
TEST(SharedString, ReassigningReusesTheBlockOnlyWhenStrictlyLarger) {
  struct Step {
    const char* text;
    bool allocates;
    bool frees;
    uint32_t capacity;
  };
  const Step steps[] = {
      {"user_dlc", true, false, 9},  // a new block of 8 + 9 bytes
      {"abc", false, false, 9},      // 4 < 9: reused
      {"abcdefgh", true, true, 9},   // 9 is not less than 9: a new block
      {"", false, false, 9},         // 1 < 9: reused
      {"0123456789", true, true, 11},
  };
  SharedString s;
  for (const Step& step : steps) {
    const char* const before = s.Text();
    AllocFailureScope scope;
    s.Assign(step.text);
    scope.Restore();
    EXPECT_EQ(scope.allocations(), step.allocates ? 1u : 0u) << step.text;
    EXPECT_EQ(scope.frees(), step.frees ? 1u : 0u) << step.text;
    if (!step.allocates) {
      EXPECT_EQ(s.Text(), before) << step.text;
    }
    EXPECT_STREQ(s.Text(), step.text);
    EXPECT_EQ(s.Length(), std::string(step.text).size()) << step.text;
    EXPECT_EQ(s.Capacity(), step.capacity) << step.text;
  }
}

TEST(SharedString, EmptyTextAllocatesThenFreesACapacityOneBlock) {
  SharedString s;
  s.Assign("");
  EXPECT_FALSE(s.IsEmpty());
  EXPECT_EQ(s.Capacity(), 1u);
  EXPECT_EQ(s.Length(), 0u);
  EXPECT_STREQ(s.Text(), "");

  // 1 is not less than 1: the block is freed and the string returns to the empty state.
  AllocFailureScope scope;
  s.Assign("");
  scope.Restore();
  EXPECT_TRUE(s.IsEmpty());
  EXPECT_EQ(scope.frees(), 1u);
  EXPECT_EQ(scope.allocations(), 0u);
}

TEST(SharedString, NullTextAndReleaseEmpty) {
  SharedString s;
  s.Assign("text");
  s.Assign(static_cast<const char*>(nullptr));
  EXPECT_TRUE(s.IsEmpty());
  EXPECT_STREQ(s.Text(), "");

  s.Assign("text");
  s.Release();
  EXPECT_TRUE(s.IsEmpty());
  s.Release();  // releasing an empty string changes nothing
  EXPECT_TRUE(s.IsEmpty());
}

TEST(SharedString, AllocationFailureLeavesTheStringEmpty) {
  SharedString s;
  s.Assign("abc");
  AllocFailureScope scope;
  scope.FailAll();
  s.Assign("a longer text than before");
  scope.Restore();
  EXPECT_TRUE(s.IsEmpty());
  EXPECT_STREQ(s.Text(), "");
  EXPECT_EQ(s.Length(), 0u);
  EXPECT_EQ(scope.frees(), 1u);  // the old block is not leaked
}

TEST(SharedString, LengthsThatWouldWrapTheBlockSizeFailWithoutAllocating) {
  for (uint32_t len : {UINT32_MAX, UINT32_MAX - 7, UINT32_MAX - 8}) {
    SharedString s;
    AllocFailureScope scope;
    const bool reserved = s.ReserveLength(len);
    scope.Restore();
    EXPECT_FALSE(reserved) << len;
    EXPECT_TRUE(s.IsEmpty()) << len;
    EXPECT_EQ(scope.allocations(), 0u) << len;
  }
}

TEST(SharedString, AssignsItsOwnTextAndTail) {
  SharedString s;
  s.Assign("abcdefgh");  // capacity 9: equal lengths would reallocate
  s.Assign(s.Text());
  EXPECT_STREQ(s.Text(), "abcdefgh");
  EXPECT_EQ(s.Length(), 8u);
  s.Assign(s.Text() + 3);
  EXPECT_STREQ(s.Text(), "defgh");
  EXPECT_EQ(s.Length(), 5u);
}

TEST(SharedString, AssignFromStringBuffer) {
  TStringBufferA<64> path;
  path.Format("%s\\%s", "C:\\Game", "data");
  SharedString s;
  s.Assign(path);
  EXPECT_STREQ(s.Text(), "C:\\Game\\data");

  CStringBufferA empty;
  s.Assign(empty);
  EXPECT_STREQ(s.Text(), "");
  EXPECT_EQ(s.Length(), 0u);
}

TEST(SharedString, DestructorFreesTheBlock) {
  AllocFailureScope scope;
  {
    SharedString s;
    s.Assign("something");
  }
  scope.Restore();
  EXPECT_EQ(scope.outstanding(), 0);
}

}  // namespace
