#include "base/string_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "tests/support/alloc_failure.h"

namespace {

// The text of a fresh buffer is the shared empty text of every string buffer.
const char* BufferEmptyText() {
  static CStringBufferA fresh;
  return fresh.Data();
}

// Each step reserves on the buffer left by the previous one.
TEST(CStringBufferA, ReserveGrowsInPowersOfTwoAndNeverShrinks) {
  struct Step {
    int32_t n;
    int32_t capacity;
    bool moves;
  };
  const Step steps[] = {
      {0, 0, false},     {1, 1, true},    {2, 2, true},     {100, 128, true},
      {128, 128, false}, {5, 128, false}, {129, 256, true}, {1000, 1024, true},
  };
  CStringBufferA buffer;
  for (const Step& step : steps) {
    const char* const before = buffer.Data();
    ASSERT_TRUE(buffer.Reserve(step.n)) << step.n;
    EXPECT_EQ(buffer.Capacity(), step.capacity) << step.n;
    EXPECT_EQ(buffer.Data() != before, step.moves) << step.n;
  }
}

TEST(CStringBufferA, ReserveCarriesTheTextOver) {
  CStringBufferA buffer;
  buffer.Assign("keep me");
  ASSERT_TRUE(buffer.Reserve(129));
  EXPECT_EQ(buffer.Capacity(), 256);
  EXPECT_STREQ(buffer.Data(), "keep me");
  EXPECT_EQ(buffer.Length(), 7);
}

TEST(CStringBufferA, ReserveBeyondTheLargestCapacityFailsWithoutAllocating) {
  CStringBufferA buffer;
  buffer.Assign("abc");
  const char* const before = buffer.Data();
  AllocFailureScope scope;
  const bool huge = buffer.Reserve((int32_t{1} << 30) + 1);
  const bool max = buffer.Reserve(INT32_MAX);
  scope.Restore();
  EXPECT_FALSE(huge);
  EXPECT_FALSE(max);
  EXPECT_EQ(scope.allocations(), 0u);
  EXPECT_EQ(buffer.Data(), before);
  EXPECT_STREQ(buffer.Data(), "abc");
}

TEST(CStringBufferA, FailedReserveLeavesTheBufferUnchanged) {
  CStringBufferA buffer;
  buffer.Assign("abc");
  const char* const data = buffer.Data();
  const int32_t capacity = buffer.Capacity();
  AllocFailureScope scope;
  scope.FailAll();
  const bool reserved = buffer.Reserve(1000);
  scope.Restore();
  EXPECT_FALSE(reserved);
  EXPECT_EQ(buffer.Data(), data);
  EXPECT_EQ(buffer.Capacity(), capacity);
  EXPECT_EQ(buffer.Length(), 3);
  EXPECT_STREQ(buffer.Data(), "abc");
}

TEST(CStringBufferA, FormatMeasuresAndWritesWithTheSameArguments) {
  // Long enough to grow an empty buffer several times: the second pass over the arguments must
  // see them from the start.
  const std::string word(150, 'w');
  char expected[512];
  std::snprintf(expected, sizeof expected, "%s-%d-%s-%u", word.c_str(), -42, word.c_str(), 99u);
  CStringBufferA buffer;
  EXPECT_EQ(buffer.Format("%s-%d-%s-%u", word.c_str(), -42, word.c_str(), 99u),
            static_cast<int32_t>(std::string(expected).size()));
  EXPECT_STREQ(buffer.Data(), expected);
  EXPECT_EQ(buffer.Capacity(), 512);
}

TEST(CStringBufferA, FormatOfAnEmptyResultKeepsTheBlock) {
  CStringBufferA buffer;
  buffer.Format("%s", "something");
  const char* const block = buffer.Data();
  const int32_t capacity = buffer.Capacity();
  EXPECT_EQ(buffer.Format("%s", ""), 0);
  EXPECT_EQ(buffer.Length(), 0);
  EXPECT_STREQ(buffer.Data(), "");
  EXPECT_EQ(buffer.Data(), block);
  EXPECT_EQ(buffer.Capacity(), capacity);
}

TEST(CStringBufferA, FormatThatCannotGrowReturnsMinusOneWithAnEmptyText) {
  CStringBufferA buffer;
  buffer.Format("%s", "short");
  AllocFailureScope scope;
  scope.FailAll();
  const int32_t result = buffer.Format("%0200d", 1);
  scope.Restore();
  EXPECT_EQ(result, -1);
  EXPECT_STREQ(buffer.Data(), "");
  EXPECT_EQ(buffer.Length(), 0);
}

TEST(CStringBufferA, EncodingErrorIsAFailureNotAnEmptyText) {
  // A wide character that the "C" locale cannot convert, where the C library says so.
  const wchar_t unconvertible[] = {0x20AC, 0};
  if (std::snprintf(nullptr, 0, "%ls", unconvertible) >= 0) {
    GTEST_SKIP() << "this C library converts the character";
  }
  CStringBufferA buffer;
  buffer.Assign("before");
  EXPECT_EQ(buffer.Format("%ls", unconvertible), -1);
  EXPECT_STREQ(buffer.Data(), "");
  EXPECT_EQ(buffer.Length(), 0);
}

TEST(CStringBufferA, AssignCopiesAndNullEmpties) {
  CStringBufferA buffer;
  EXPECT_STREQ(buffer.Assign("hello"), "hello");
  EXPECT_EQ(buffer.Length(), 5);
  const char* const block = buffer.Data();
  EXPECT_EQ(buffer.Assign(nullptr), block);  // keeps the block
  EXPECT_STREQ(buffer.Data(), "");
  EXPECT_EQ(buffer.Length(), 0);
}

TEST(CStringBufferA, AssignOfItsOwnTail) {
  CStringBufferA buffer;
  buffer.Assign("prefix/name");
  EXPECT_STREQ(buffer.Assign(buffer.Data() + 7), "name");
  EXPECT_EQ(buffer.Length(), 4);
}

TEST(CStringBufferA, FailedAssignReturnsNullAndKeepsTheText) {
  CStringBufferA buffer;
  buffer.Assign("abc");
  const std::string longer(300, 'L');
  AllocFailureScope scope;
  scope.FailAll();
  const char* result = buffer.Assign(longer.c_str());
  scope.Restore();
  EXPECT_EQ(result, nullptr);
  EXPECT_STREQ(buffer.Data(), "abc");
  EXPECT_EQ(buffer.Length(), 3);
}

TEST(CStringBufferA, ReleaseWithAndWithoutFreeing) {
  CStringBufferA buffer;
  buffer.Assign("abc");
  const char* const block = buffer.Data();
  buffer.Release(false);
  EXPECT_EQ(buffer.Data(), block);
  EXPECT_EQ(buffer.Capacity(), 4);
  EXPECT_EQ(buffer.Length(), 0);
  EXPECT_STREQ(buffer.Data(), "");

  AllocFailureScope scope;
  buffer.Release(true);
  scope.Restore();
  EXPECT_EQ(scope.frees(), 1u);
  EXPECT_EQ(buffer.Data(), BufferEmptyText());
  EXPECT_EQ(buffer.Capacity(), 0);

  // Releasing the empty state writes nothing but the zero that is already there.
  buffer.Release(false);
  buffer.Release(true);
  EXPECT_EQ(buffer.Data(), BufferEmptyText());
  EXPECT_STREQ(BufferEmptyText(), "");
}

TEST(TStringBufferA, ShortTextsStayInlineWithoutTheHeap) {
  const std::string text260(260, 'p');
  TStringBufferA<261> path;
  AllocFailureScope scope;
  const int32_t length = path.Format("%s", text260.c_str());
  scope.Restore();
  EXPECT_EQ(length, 260);
  EXPECT_EQ(scope.allocations(), 0u);
  EXPECT_TRUE(path.IsInline());
  EXPECT_EQ(path.Capacity(), 261);
  EXPECT_EQ(std::string(path.Data()), text260);
}

TEST(TStringBufferA, LongTextsMoveToTheHeap) {
  const std::string text300(300, 'q');
  TStringBufferA<261> path;
  path.Format("%s", "short first");
  ASSERT_TRUE(path.IsInline());
  EXPECT_EQ(path.Format("%s", text300.c_str()), 300);
  EXPECT_FALSE(path.IsInline());
  EXPECT_EQ(path.Capacity(), 512);
  EXPECT_EQ(std::string(path.Data()), text300);
}

TEST(TStringBufferA, MovingToTheHeapKeepsTheInlineText) {
  TStringBufferA<16> buffer;
  buffer.Assign("inline text");
  ASSERT_TRUE(buffer.IsInline());
  ASSERT_TRUE(buffer.Reserve(17));
  EXPECT_FALSE(buffer.IsInline());
  EXPECT_EQ(buffer.Capacity(), 32);
  EXPECT_STREQ(buffer.Data(), "inline text");
  EXPECT_EQ(buffer.Length(), 11);
}

TEST(TStringBufferA, FailedMoveToTheHeapKeepsTheInlineText) {
  TStringBufferA<16> buffer;
  buffer.Assign("inline text");
  const int32_t capacity = buffer.Capacity();
  AllocFailureScope scope;
  scope.FailAll();
  const bool reserved = buffer.Reserve(100);
  scope.Restore();
  EXPECT_FALSE(reserved);
  EXPECT_TRUE(buffer.IsInline());
  EXPECT_EQ(buffer.Capacity(), capacity);
  EXPECT_STREQ(buffer.Data(), "inline text");
}

TEST(TStringBufferA, ReleaseOfAnInlineTextReturnsToTheEmptyState) {
  for (bool freeBlock : {false, true}) {
    TStringBufferA<64> buffer;
    buffer.Assign("inline");
    buffer.Release(freeBlock);
    EXPECT_EQ(buffer.Data(), BufferEmptyText()) << freeBlock;
    EXPECT_EQ(buffer.Capacity(), 0) << freeBlock;
    EXPECT_EQ(buffer.Length(), 0) << freeBlock;

    ASSERT_TRUE(buffer.Reserve(10));
    EXPECT_TRUE(buffer.IsInline()) << freeBlock;
    EXPECT_EQ(buffer.Capacity(), 10) << freeBlock;
    EXPECT_STREQ(buffer.Data(), "") << freeBlock;
  }
}

TEST(TStringBufferA, InlineReserveStartsWithAnEmptyTextWhateverTheLengthSays) {
  TStringBufferA<64> buffer;
  buffer.SetLength(5);  // as a caller that fills Data() itself might leave it
  ASSERT_TRUE(buffer.Reserve(10));
  EXPECT_TRUE(buffer.IsInline());
  EXPECT_STREQ(buffer.Data(), "");
}

TEST(TStringBufferA, DestructorFreesOnlyHeapBlocks) {
  AllocFailureScope scope;
  {
    TStringBufferA<8> onHeap;
    onHeap.Assign("longer than eight");
    TStringBufferA<8> inlined;
    inlined.Assign("short");
    CStringBufferA plain;
    plain.Assign("plain");
  }
  scope.Restore();
  EXPECT_EQ(scope.allocations(), 2u);
  EXPECT_EQ(scope.outstanding(), 0);
}

}  // namespace
