#include "base/pending_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/scratch_dir.h"

namespace {

class PendingFileTest : public testing::Test {
 protected:
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  bool Exists(const std::string& name) const { return std::filesystem::exists(dir_ / name); }

  vtest::ScratchDir dir_;
  Status status_;
};

TEST_F(PendingFileTest, DestroyedBeforeCommitLeavesNoTrace) {
  ASSERT_TRUE(vtest::WriteTextFile(dir_ / "final", "previous"));
  {
    PendingFile pending;
    ASSERT_TRUE(pending.Create(Path("final.tmp").c_str(), Path("final").c_str(), &status_));
    EXPECT_TRUE(pending.armed());
    ASSERT_EQ(file_write(pending.file(), "new", 3), 3u);
  }
  EXPECT_FALSE(Exists("final.tmp"));
  EXPECT_EQ(vtest::ReadTextFile(dir_ / "final"), "previous");
}

TEST_F(PendingFileTest, CommitReplacesTheFinalFileAndDisarms) {
  ASSERT_TRUE(vtest::WriteTextFile(dir_ / "final", "previous"));
  PendingFile pending;
  ASSERT_TRUE(pending.Create(Path("final.tmp").c_str(), Path("final").c_str(), &status_));
  ASSERT_EQ(file_write(pending.file(), "new", 3), 3u);
  ASSERT_TRUE(pending.Commit(&status_));
  EXPECT_FALSE(pending.armed());
  pending.Discard();
  EXPECT_EQ(vtest::ReadTextFile(dir_ / "final"), "new");
  EXPECT_FALSE(Exists("final.tmp"));
}

TEST_F(PendingFileTest, FailedCreateArmsNothingAndSaysWhy) {
  PendingFile pending;
  EXPECT_FALSE(pending.Create(Path("absent\\final.tmp").c_str(), Path("final").c_str(), &status_));
  EXPECT_FALSE(pending.armed());
  EXPECT_EQ(status_.code(), StatusCode::kIoError);
  EXPECT_STREQ(status_.what(), "cannot create");
}

TEST_F(PendingFileTest, FailedCommitStaysArmedAndCleansUp) {
  {
    PendingFile pending;
    ASSERT_TRUE(pending.Create(Path("final.tmp").c_str(), Path("absent\\final").c_str(), &status_));
    EXPECT_FALSE(pending.Commit(&status_));
    EXPECT_TRUE(pending.armed());
    EXPECT_STREQ(status_.what(), "cannot replace");
  }
  EXPECT_FALSE(Exists("final.tmp"));
}

}  // namespace
