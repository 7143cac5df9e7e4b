// Paths longer than the 260 characters (MAX_PATH) of the narrow Win32 file functions, in every
// form the program builds or receives them. The Win32 backend turns such paths into the "\\?\"
// form of the wide functions itself, so it must resolve separators, "." and ".." and the working
// directory as the narrow functions would; both backends must reach the same files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "base/byte_buffer.h"
#include "base/file.h"
#include "base/platform.h"
#include "tests/support/bytes.h"
#include "tests/support/scratch_dir.h"

namespace {

// Restores the working directory on destruction.
class WorkingDirectory {
 public:
  WorkingDirectory() : saved_(std::filesystem::current_path()) {}
  ~WorkingDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(saved_, ignored);
  }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  std::filesystem::path saved_;
};

class SysLongPath : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::create_directories(dir_.path() / kA / kB));
    root_ = dir_.path().string();
  }

  // The deep directory "<root>\<a>\<b>" as text, with backslashes.
  std::string Deep() const { return root_ + "\\" + kA + "\\" + kB; }
  std::filesystem::path DeepPath() const { return dir_.path() / kA / kB; }

  const std::string kA = std::string(140, 'a');
  const std::string kB = std::string(140, 'b');
  vtest::ScratchDir dir_;
  std::string root_;
};

TEST_F(SysLongPath, EveryFormReachesTheSameFile) {
  ASSERT_TRUE(vtest::WriteTextFile((DeepPath() / "file").string(), "long"));
  const std::string forms[] = {
      Deep() + "\\file",
      Deep() + "\\\\file",
      root_ + "/" + kA + "/" + kB + "/file",
      Deep() + "\\.\\file",
      Deep() + "\\..\\" + kB + "\\file",
  };
  for (const std::string& form : forms) {
    SCOPED_TRACE(form);
    ASSERT_GE(form.size(), 260u);
    EXPECT_TRUE(sys_file_exists(form.c_str()));
    ByteBuffer buffer;
    ASSERT_TRUE(read_whole_file(form.c_str(), buffer));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()), buffer.length()), "long");
  }
  EXPECT_FALSE(sys_file_exists((Deep() + "\\missing").c_str()));
}

TEST_F(SysLongPath, RelativeToTheWorkingDirectory) {
  WorkingDirectory restore;
  std::filesystem::current_path(dir_.path());
  const std::string relative = kA + "\\" + kB + "\\relative";
  ASSERT_GE(relative.size(), 260u);
  {
    ScopedFile file(open_file(relative.c_str(), "w"));
    ASSERT_TRUE(file.is_open());
    ASSERT_TRUE(file_write_u8(file.get(), 'x'));
  }
  EXPECT_EQ(vtest::ReadTextFile((DeepPath() / "relative").string()), "x");
  EXPECT_TRUE(sys_delete_file(relative.c_str()));
}

TEST_F(SysLongPath, CopyMoveAndDelete) {
  const std::string source = Deep() + "\\source";
  ASSERT_TRUE(vtest::WriteTextFile((DeepPath() / "source").string(), "bytes"));
  // Long on one side only, then on both.
  const std::string shortTarget = root_ + "\\short";
  EXPECT_TRUE(sys_copy_file(source.c_str(), shortTarget.c_str(), true));
  EXPECT_EQ(vtest::ReadTextFile((dir_.path() / "short").string()), "bytes");
  EXPECT_FALSE(sys_copy_file(source.c_str(), shortTarget.c_str(), true));
  EXPECT_TRUE(sys_copy_file(shortTarget.c_str(), (Deep() + "\\copy").c_str(), false));
  EXPECT_EQ(vtest::ReadTextFile((DeepPath() / "copy").string()), "bytes");

  EXPECT_TRUE(sys_move_file((Deep() + "\\copy").c_str(), (Deep() + "\\moved").c_str()));
  EXPECT_FALSE(std::filesystem::exists(DeepPath() / "copy"));
  EXPECT_EQ(vtest::ReadTextFile((DeepPath() / "moved").string()), "bytes");

  EXPECT_TRUE(sys_delete_file((Deep() + "\\moved").c_str()));
  EXPECT_FALSE(std::filesystem::exists(DeepPath() / "moved"));
  EXPECT_FALSE(sys_delete_file((Deep() + "\\moved").c_str()));
}

// The sharing rules hold for long paths as for short ones.
TEST_F(SysLongPath, SharingRulesHold) {
  const std::string path = Deep() + "\\shared";
  ScopedFile writer(open_file(path.c_str(), "w"));
  ASSERT_TRUE(writer.is_open());
  EXPECT_EQ(open_file(path.c_str(), "r"), kNoFile);
  writer.reset();
  ScopedFile first(open_file(path.c_str(), "r"));
  ScopedFile second(open_file(path.c_str(), "r"));
  EXPECT_TRUE(first.is_open());
  EXPECT_TRUE(second.is_open());
  EXPECT_EQ(open_file(path.c_str(), "w"), kNoFile);
}

}  // namespace
