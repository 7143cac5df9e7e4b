#include "base/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "base/file.h"
#include "tests/support/bytes.h"
#include "tests/support/scratch_dir.h"

namespace {

class PlatformTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  bool Exists(const std::string& name) const { return std::filesystem::exists(dir_.path() / name); }

  vtest::ScratchDir dir_;
};

using SysCreateFile = PlatformTest;
using SysCopyFile = PlatformTest;
using SysMoveFile = PlatformTest;
using SysDeleteFile = PlatformTest;

// A directory's path as the program forms it, with its final separator, is flushed; so is a
// file's directory (flush_directory_of). Windows has no directory flush and succeeds without one.
TEST_F(PlatformTest, FlushDirectoryTakesTheProgramsDirectoryPaths) {
  EXPECT_TRUE(sys_flush_directory((dir_.path().string() + "\\").c_str()));
  EXPECT_TRUE(flush_directory_of((dir_.path().string() + "\\file").c_str()));
  EXPECT_EQ(sys_directory_flush_exists(),
            !sys_flush_directory((dir_.path().string() + "\\absent").c_str()));
}

// The program builds its paths with backslashes; they must reach the right files everywhere.
TEST_F(SysCreateFile, BackslashPathsReachSubdirectories) {
  ASSERT_TRUE(std::filesystem::create_directory(dir_.path() / "dir"));
  const std::string backslashed = dir_.path().string() + "\\dir\\file";
  ScopedFile file(open_file(backslashed.c_str(), "w"));
  ASSERT_TRUE(file.is_open());
  ASSERT_TRUE(file_write_u8(file.get(), 'q'));
  file.reset();
  EXPECT_EQ(vtest::ReadTextFile(Path("dir/file")), "q");

  EXPECT_TRUE(
      sys_copy_file(backslashed.c_str(), (dir_.path().string() + "\\dir\\copy").c_str(), true));
  EXPECT_TRUE(sys_move_file((dir_.path().string() + "\\dir\\copy").c_str(),
                            (dir_.path().string() + "\\moved").c_str()));
  EXPECT_EQ(vtest::ReadTextFile(Path("moved")), "q");
  EXPECT_TRUE(sys_delete_file(backslashed.c_str()));
  EXPECT_FALSE(Exists("dir/file"));
}

TEST_F(SysCreateFile, LongPathsAreNotCut) {
  std::filesystem::path deep = dir_.path();
  std::string backslashed = dir_.path().string();
  for (char c : {'a', 'b', 'c'}) {
    const std::string part(200, c);
    deep /= part;
    backslashed += "\\" + part;
  }
  ASSERT_TRUE(std::filesystem::create_directories(deep));
  backslashed += "\\file";
  ASSERT_GT(backslashed.size(), 600u);
  ScopedFile file(open_file(backslashed.c_str(), "w"));
  ASSERT_TRUE(file.is_open());
  file.reset();
  EXPECT_TRUE(std::filesystem::exists(deep / "file"));
}

TEST_F(SysCreateFile, ReadAtEndSucceedsWithNothing) {
  ASSERT_TRUE(vtest::WriteTextFile(Path("file"), "ab"));
  ScopedFile file(open_file(Path("file").c_str(), "r"));
  char bytes[4];
  uint32_t done = 99;
  EXPECT_TRUE(sys_read_file(file.get(), bytes, 4, &done));
  EXPECT_EQ(done, 2u);
  EXPECT_TRUE(sys_read_file(file.get(), bytes, 4, &done));
  EXPECT_EQ(done, 0u);
  EXPECT_FALSE(sys_read_file(kNoFile, bytes, 4, &done));
  EXPECT_EQ(done, 0u);
}

TEST_F(SysCreateFile, ReadsAtAnOffset) {
  ASSERT_TRUE(vtest::WriteTextFile(Path("file"), "abcdef"));
  ScopedFile file(open_file(Path("file").c_str(), "r"));
  char bytes[4] = {};
  uint32_t done = 99;
  EXPECT_TRUE(sys_read_file_at(file.get(), 2, bytes, 3, &done));
  EXPECT_EQ(std::string(bytes, done), "cde");
  EXPECT_TRUE(sys_read_file_at(file.get(), 4, bytes, 4, &done));
  EXPECT_EQ(std::string(bytes, done), "ef");
  for (uint64_t end : {uint64_t{6}, uint64_t{1} << 40}) {
    EXPECT_TRUE(sys_read_file_at(file.get(), end, bytes, 4, &done));
    EXPECT_EQ(done, 0u);
  }
  EXPECT_FALSE(sys_read_file_at(file.get(), uint64_t{1} << 63, bytes, 4, &done));
  EXPECT_EQ(done, 0u);
  EXPECT_FALSE(sys_read_file_at(kNoFile, 0, bytes, 4, &done));
}

TEST_F(SysCopyFile, ReplacesExistingTargetWithExactlyTheSourceBytes) {
  // Larger than one piece of the copy, and the old target is longer than the source.
  const std::string content = vtest::PatternText(3 * 1024 * 1024 + 17);
  ASSERT_TRUE(vtest::WriteTextFile(Path("source"), content));
  ASSERT_TRUE(vtest::WriteTextFile(Path("target"), vtest::PatternText(4 * 1024 * 1024)));
  EXPECT_TRUE(sys_copy_file(Path("source").c_str(), Path("target").c_str(), false));
  EXPECT_EQ(vtest::ReadTextFile(Path("target")), content);
  EXPECT_EQ(vtest::ReadTextFile(Path("source")), content);
}

TEST_F(SysCopyFile, FailIfExistsKeepsTarget) {
  ASSERT_TRUE(vtest::WriteTextFile(Path("source"), "new"));
  ASSERT_TRUE(vtest::WriteTextFile(Path("target"), "old"));
  EXPECT_FALSE(sys_copy_file(Path("source").c_str(), Path("target").c_str(), true));
  EXPECT_EQ(vtest::ReadTextFile(Path("target")), "old");
  EXPECT_TRUE(sys_copy_file(Path("source").c_str(), Path("fresh").c_str(), true));
  EXPECT_EQ(vtest::ReadTextFile(Path("fresh")), "new");
}

TEST_F(SysCopyFile, FailuresLeaveTargetAlone) {
  ASSERT_TRUE(vtest::WriteTextFile(Path("source"), "new"));
  ASSERT_TRUE(vtest::WriteTextFile(Path("target"), "old"));

  EXPECT_FALSE(sys_copy_file(Path("missing").c_str(), Path("target").c_str(), false));
  EXPECT_FALSE(sys_copy_file(Path("missing").c_str(), Path("nothing").c_str(), false));
  EXPECT_FALSE(Exists("nothing"));
  // Copying a file onto itself must not empty it first.
  EXPECT_FALSE(sys_copy_file(Path("source").c_str(), Path("source").c_str(), false));
  EXPECT_EQ(vtest::ReadTextFile(Path("source")), "new");
  EXPECT_FALSE(sys_copy_file(dir_.path().string().c_str(), Path("nothing").c_str(), false));
  EXPECT_FALSE(Exists("nothing"));
  {
    ScopedFile user(open_file(Path("target").c_str(), "r"));
    EXPECT_FALSE(sys_copy_file(Path("source").c_str(), Path("target").c_str(), false));
  }
  EXPECT_EQ(vtest::ReadTextFile(Path("target")), "old");
  {
    ScopedFile owner(open_file(Path("source").c_str(), "a"));
    EXPECT_FALSE(sys_copy_file(Path("source").c_str(), Path("target").c_str(), false));
  }
  EXPECT_EQ(vtest::ReadTextFile(Path("target")), "old");
}

TEST_F(SysMoveFile, ReplacesTarget) {
  ASSERT_TRUE(vtest::WriteTextFile(Path("source"), "new"));
  ASSERT_TRUE(vtest::WriteTextFile(Path("target"), "older and longer"));
  EXPECT_TRUE(sys_move_file(Path("source").c_str(), Path("target").c_str()));
  EXPECT_EQ(vtest::ReadTextFile(Path("target")), "new");
  EXPECT_FALSE(Exists("source"));
  EXPECT_FALSE(sys_move_file(Path("source").c_str(), Path("target").c_str()));
  EXPECT_EQ(vtest::ReadTextFile(Path("target")), "new");
}

TEST_F(SysCreateFile, CreateNewNeverReplaces) {
  ScopedFile created(sys_create_file(Path("new").c_str(), FileAccess::kWrite, FileShare::kNone,
                                     FileDisposition::kCreateNew));
  ASSERT_TRUE(created.is_open());
  ASSERT_TRUE(file_write_u8(created.get(), 'n'));
  created.reset();
  ASSERT_TRUE(std::filesystem::create_directory(dir_.path() / "dir"));
  for (const char* name : {"new", "dir"}) {
    EXPECT_EQ(sys_create_file(Path(name).c_str(), FileAccess::kWrite, FileShare::kNone,
                              FileDisposition::kCreateNew),
              kNoFile)
        << name;
  }
  EXPECT_EQ(vtest::ReadTextFile(Path("new")), "n");
  EXPECT_FALSE(sys_is_link(Path("new").c_str()));
  EXPECT_FALSE(sys_is_link(Path("missing").c_str()));
}

TEST_F(SysDeleteFile, RemovesOnlyWhatExists) {
  ASSERT_TRUE(vtest::WriteTextFile(Path("file"), "x"));
  EXPECT_TRUE(sys_delete_file(Path("file").c_str()));
  EXPECT_FALSE(Exists("file"));
  EXPECT_FALSE(sys_delete_file(Path("file").c_str()));
}

using SysGetFileWriteTime = PlatformTest;

TEST_F(SysGetFileWriteTime, TellsTheLaterWrittenFile) {
  ASSERT_TRUE(vtest::WriteTextFile(Path("older"), "x"));
  ASSERT_TRUE(vtest::WriteTextFile(Path("newer"), "y"));
  std::filesystem::last_write_time(
      dir_.path() / "older",
      std::filesystem::last_write_time(dir_.path() / "newer") - std::chrono::seconds(5));
  uint64_t older = 0;
  uint64_t newer = 0;
  ASSERT_TRUE(sys_get_file_write_time(Path("older").c_str(), &older));
  ASSERT_TRUE(sys_get_file_write_time(Path("newer").c_str(), &newer));
  EXPECT_LT(older, newer);
  EXPECT_FALSE(sys_get_file_write_time(Path("missing").c_str(), &older));
}

using SysDirectory = PlatformTest;

TEST_F(SysDirectory, CreatesListsAndTellsDirectoriesFromFiles) {
  const std::string sub = dir_.path().string() + "\\sub";
  EXPECT_TRUE(sys_create_directory(sub.c_str()));
  EXPECT_FALSE(sys_create_directory(sub.c_str()));
  EXPECT_TRUE(sys_is_directory(sub.c_str()));
  ASSERT_TRUE(vtest::WriteTextFile(Path("sub/a"), "x"));
  // Written through the seam: a std::filesystem path from a narrow string is not UTF-8 on Windows.
  ScopedFile named(open_file((sub + "\\\xc3\xa9").c_str(), "w"));
  ASSERT_TRUE(named.is_open());
  named.reset();
  EXPECT_FALSE(sys_is_directory((sub + "\\a").c_str()));
  EXPECT_FALSE(sys_is_directory((sub + "\\missing").c_str()));
  EXPECT_FALSE(sys_create_directory((sub + "\\missing\\deeper").c_str()));

  ByteBuffer names;
  ASSERT_TRUE(sys_list_directory(sub.c_str(), names));
  const std::string listed(reinterpret_cast<const char*>(names.data()), names.length());
  EXPECT_TRUE(listed == std::string("a\0\xc3\xa9\0", 5) ||
              listed == std::string("\xc3\xa9\0a\0", 5))
      << listed;
  EXPECT_FALSE(sys_list_directory((sub + "\\missing").c_str(), names));
}

TEST_F(SysDirectory, FullPathOfAnExistingDirectory) {
  ASSERT_TRUE(std::filesystem::create_directory(dir_.path() / "sub"));
  CStringBufferA full;
  CStringBufferA expected;
  ASSERT_TRUE(sys_full_path(dir_.path().string().c_str(), expected));
  ASSERT_TRUE(sys_full_path((dir_.path().string() + "\\sub\\..\\sub").c_str(), full));
  // POSIX paths begin with '/', Windows ones with a drive or "\\".
  const char* separator = full.Data()[0] == '/' ? "/" : "\\";
  EXPECT_EQ(std::string(full.Data()), std::string(expected.Data()) + separator + "sub");
}

TEST(SysThreadId, NonZeroAndDistinctPerThread) {
  const uint32_t mine = sys_current_thread_id();
  EXPECT_NE(mine, 0u);
  EXPECT_EQ(sys_current_thread_id(), mine);
  uint32_t other = 0;
  std::thread thread([&other] { other = sys_current_thread_id(); });
  thread.join();
  EXPECT_NE(other, 0u);
  EXPECT_NE(other, mine);
}

TEST(SysSleep, WaitsAtLeastTheTimeAsked) {
  const auto start = std::chrono::steady_clock::now();
  sys_sleep(30);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

}  // namespace
