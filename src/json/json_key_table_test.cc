#include "json/json_key_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/support/alloc_failure.h"

namespace {

// A private table whose chunks are freed when the test ends.
struct ScopedTable {
  JsonKeyTable table;
  ~ScopedTable() { table.FreeChunks(); }

  uint32_t RefCount(const char* key) const {
    uint32_t refcount = 0;
    uint32_t used = 0;
    return table.Inspect(key, &refcount, &used) ? refcount : UINT32_MAX;
  }
  uint32_t Used(const char* key) const {
    uint32_t refcount = 0;
    uint32_t used = 0;
    return table.Inspect(key, &refcount, &used) ? used : UINT32_MAX;
  }
};

}  // namespace

TEST(JsonKeyHash, MatchesTheSignedOneAtATimeHash) {
  // Values computed independently; the texts with bytes of 0x80 and above, and the ones whose
  // intermediate value goes negative, tell signed characters and arithmetic shifts apart.
  const struct {
    const char* text;
    uint32_t hash;
  } kCases[] = {
      {"", 0x00000000u},         {"a", 0xCA2E9442u},        {"files", 0x45374D0Bu},
      {"fullcopy", 0xBB690DB1u}, {"name", 0xFB734914u},     {"upak", 0x19222EB1u},
      {"\xC3\xA9", 0xF5ACA6AEu}, {"\xFF\x80", 0x3065DFC7u},
  };
  for (const auto& c : kCases) EXPECT_EQ(json_key_hash(c.text), c.hash) << c.text;
}

TEST(JsonKeyTable, SameTextTwiceGivesOnePointerWithTwoReferences) {
  ScopedTable t;
  std::string copy = "files";
  const char* first = t.table.Intern("files");
  const char* second = t.table.Intern(copy.c_str());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  EXPECT_NE(first, copy.c_str());
  EXPECT_STREQ(first, "files");
  EXPECT_EQ(t.RefCount(first), 2u);
  EXPECT_EQ(t.Used(first), 1u);

  const char* other = t.table.Intern("name");  // the chunk's second entry
  EXPECT_EQ(t.Used(first), 2u);
  t.table.ReleaseKey(first);
  EXPECT_EQ(t.RefCount(first), 1u);
  t.table.ReleaseKey(first);
  EXPECT_EQ(t.RefCount(first), 0u);
  EXPECT_EQ(t.Used(first), 1u);
  t.table.ReleaseKey(other);
}

TEST(JsonKeyTable, InterningAnInternedPointerFindsItsEntry) {
  ScopedTable t;
  const char* key = t.table.Intern("upak");
  EXPECT_EQ(t.table.Intern(key), key);
  EXPECT_EQ(t.RefCount(key), 2u);
}

TEST(JsonKeyTable, ReleasedEntryIsRevivedWhileItsChunkIsInUse) {
  ScopedTable t;
  const char* a = t.table.Intern("a");
  const char* b = t.table.Intern("b");
  t.table.ReleaseKey(a);
  EXPECT_EQ(t.table.Intern("a"), a);
  EXPECT_EQ(t.RefCount(a), 1u);
  EXPECT_EQ(t.Used(a), 2u);
  EXPECT_EQ(t.table.ChunkCount(), 1u);
  t.table.ReleaseKey(a);
  t.table.ReleaseKey(b);
}

TEST(JsonKeyTable, ReleasedEntryIsTakenOverByANewKey) {
  ScopedTable t;
  const char* a = t.table.Intern("a");
  const char* b = t.table.Intern("b");
  t.table.ReleaseKey(a);
  const char* c = t.table.Intern("c");
  EXPECT_STREQ(c, "c");
  EXPECT_EQ(t.table.ChunkCount(), 1u);
  // "a" is gone from the table now: a new entry in a new chunk.
  const char* again = t.table.Intern("a");
  EXPECT_STREQ(again, "a");
  EXPECT_EQ(t.table.ChunkCount(), 2u);
  for (const char* key : {b, c, again}) EXPECT_EQ(t.RefCount(key), 1u);
}

TEST(JsonKeyTable, ChunkWithBothEntriesReleasedIsNeverUsedAgain) {
  ScopedTable t;
  const char* a = t.table.Intern("a");
  const char* b = t.table.Intern("b");
  t.table.ReleaseKey(a);
  t.table.ReleaseKey(b);
  EXPECT_EQ(t.Used(a), 0u);
  EXPECT_EQ(t.table.ChunkCount(), 0u);
  const char* again = t.table.Intern("a");
  EXPECT_NE(again, a);
  EXPECT_STREQ(again, "a");
  EXPECT_EQ(t.table.ChunkCount(), 1u);
  // The old chunk keeps its texts; releasing its pointers finds nothing.
  EXPECT_STREQ(a, "a");
  t.table.ReleaseKey(a);
  EXPECT_EQ(t.RefCount(again), 1u);
}

TEST(JsonKeyTable, ForeignNullAndOverReleasedPointersChangeNothing) {
  ScopedTable t;
  const char* key = t.table.Intern("files");
  const char* other = t.table.Intern("name");
  const char foreign[] = "files";
  t.table.ReleaseKey(foreign);
  t.table.ReleaseKey(nullptr);
  EXPECT_EQ(t.RefCount(key), 1u);
  EXPECT_EQ(t.table.Intern(nullptr), nullptr);

  // A key released more often than it was interned must not wrap its count.
  t.table.ReleaseKey(key);
  t.table.ReleaseKey(key);
  EXPECT_EQ(t.RefCount(key), 0u);
  EXPECT_EQ(t.Used(other), 1u);
}

TEST(JsonKeyTable, HeapFailureGivesNoKey) {
  ScopedTable t;
  {
    AllocFailureScope failure;
    failure.FailAll();
    EXPECT_EQ(t.table.Intern("files"), nullptr);
  }
  EXPECT_EQ(t.table.ChunkCount(), 0u);
  {
    // The chunk is allocated, the copy of the text is not.
    AllocFailureScope failure;
    failure.FailNth(2);
    EXPECT_EQ(t.table.Intern("files"), nullptr);
    failure.Restore();
    EXPECT_EQ(failure.outstanding(), 0);  // the chunk that never held a key is freed again
  }
  const char* key = t.table.Intern("files");
  ASSERT_NE(key, nullptr);
  EXPECT_STREQ(key, "files");
  EXPECT_EQ(t.RefCount(key), 1u);
  EXPECT_EQ(t.Used(key), 1u);
  EXPECT_EQ(t.table.ChunkCount(), 1u);
}

TEST(JsonKeyTable, DismantledTableForgetsItsKeysButKeepsTheirTexts) {
  ScopedTable t;
  const char* key = t.table.Intern("files");
  t.table.Dismantle();
  EXPECT_EQ(t.table.ChunkCount(), 0u);
  EXPECT_STREQ(key, "files");
  t.table.ReleaseKey(key);
  const char* again = t.table.Intern("files");
  EXPECT_NE(again, key);
  EXPECT_EQ(t.table.ChunkCount(), 1u);
}

TEST(JsonKey, HoldsOneReferenceForItsLifetime) {
  ScopedTable t;
  const char* pinned = t.table.Intern("name");
  {
    JsonKey key(t.table, "name");
    EXPECT_EQ(key.Get(), pinned);
    EXPECT_EQ(t.RefCount(pinned), 2u);
  }
  EXPECT_EQ(t.RefCount(pinned), 1u);
  JsonKey none(t.table, nullptr);
  EXPECT_EQ(none.Get(), nullptr);
}
