#include "manifest/commit_record.h"

#include <gtest/gtest.h>

#include <string>

#include "base/file.h"
#include "tests/support/scratch_dir.h"

namespace {

void MakeRecord(CommitRecord& record) {
  Status status;
  ASSERT_TRUE(
      record.Add(CommitAction::kReplace, "mod.upak", 1234567890123ull, 0xDEADBEEF, &status));
  ASSERT_TRUE(record.Add(CommitAction::kRemove, "origmanifest.bin", 0, 0, &status));
  ASSERT_TRUE(record.Add(CommitAction::kReplace, "manifest.bin", 44, 7, &status));
}

TEST(CommitRecord, RoundTrip) {
  CommitRecord record;
  MakeRecord(record);
  ByteBuffer bytes;
  ASSERT_TRUE(record.Encode(bytes));
  CommitRecord read;
  Status status;
  ASSERT_TRUE(read.Decode(bytes, &status)) << status.what();
  ASSERT_EQ(read.count(), 3u);
  EXPECT_STREQ(read.name(0), "mod.upak");
  EXPECT_EQ(read.entry(0).size, 1234567890123ull);
  EXPECT_EQ(read.entry(0).check, 0xDEADBEEFu);
  EXPECT_EQ(read.entry(1).action, CommitAction::kRemove);
  EXPECT_STREQ(read.name(2), "manifest.bin");
}

TEST(CommitRecord, EveryCutAndEveryDamagedByteIsRefused) {
  CommitRecord record;
  MakeRecord(record);
  ByteBuffer whole;
  ASSERT_TRUE(record.Encode(whole));
  ByteBuffer bytes;
  for (uint32_t length = 0; length < whole.length(); ++length) {
    ASSERT_TRUE(bytes.resize(length));
    std::copy(whole.data(), whole.data() + length, bytes.data());
    Status status;
    EXPECT_FALSE(record.Decode(bytes, &status)) << length;
    EXPECT_EQ(status.code(), StatusCode::kCorrupt);
  }
  for (uint32_t at = 0; at < whole.length(); ++at) {
    ASSERT_TRUE(bytes.assign(whole));
    bytes.data()[at] ^= 0x20;
    Status status;
    EXPECT_FALSE(record.Decode(bytes, &status)) << at;
  }
}

TEST(CommitRecord, NamesLeavingTheGameDirectoryOrNamedTwiceAreRefused) {
  for (const char* name : {"", ".", "..", "a/b", "a\\b", "c:x", "MOD.UPAK"}) {
    CommitRecord record;
    Status status;
    ASSERT_TRUE(record.Add(CommitAction::kRemove, "mod.upak", 0, 0, &status));
    EXPECT_FALSE(record.Add(CommitAction::kRemove, name, 0, 0, &status)) << name;
    EXPECT_EQ(status.code(), StatusCode::kRefused);
  }
}

TEST(FileCheck, ALargeFileIsCheckedInSamplesTheLastPieceIncluded) {
  vtest::ScratchDir dir;
  const std::string path = (dir.path() / "big").string();
  vtest::Bytes bytes(kCheckWholeLimit + 3 * kCheckStride + 100, 7);
  ASSERT_TRUE(vtest::WriteFile(path, bytes));
  auto check = [&](uint32_t* value) {
    ScopedFile file(open_file(path.c_str(), "r"));
    Status status;
    ASSERT_TRUE(file_check(file.get(), bytes.size(), path.c_str(), value, &status));
  };
  uint32_t before = 0;
  uint32_t after = 0;
  check(&before);
  // A byte that no sample covers leaves the check value; the last byte does not.
  bytes[kCheckPiece + 1] = 8;
  ASSERT_TRUE(vtest::WriteFile(path, bytes));
  check(&after);
  EXPECT_EQ(after, before);
  bytes.back() = 8;
  ASSERT_TRUE(vtest::WriteFile(path, bytes));
  check(&after);
  EXPECT_NE(after, before);
}

}  // namespace
