// Tests of what only the POSIX backend does: its temporary directory comes from TMPDIR, and the
// user's data folder from XDG_DATA_HOME or HOME.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "base/platform.h"
#include "tests/support/scratch_dir.h"

namespace {

// Sets or removes an environment variable for one test and restores it afterwards.
class Variable {
 public:
  explicit Variable(const char* name) : name_(name) {
    const char* value = std::getenv(name);
    if (value != nullptr) saved_ = value;
  }
  ~Variable() {
    if (saved_) {
      Set(saved_->c_str());
    } else {
      Unset();
    }
  }
  Variable(const Variable&) = delete;
  Variable& operator=(const Variable&) = delete;

  // value null: removes the variable.
  void Set(const char* value) {
    if (value != nullptr) {
      setenv(name_, value, 1);
    } else {
      Unset();
    }
  }
  void Unset() { unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

struct TempPathCase {
  const char* tmpdir;  // null: unset
  const char* expected;
};

TEST(SysGetTempPath, FollowsTmpDir) {
  const TempPathCase cases[] = {
      {nullptr, "/tmp/"},
      {"", "/tmp/"},
      {"/var/scratch", "/var/scratch/"},
      {"/var/scratch/", "/var/scratch/"},
      {"/", "/"},
  };
  Variable variable("TMPDIR");
  for (const TempPathCase& c : cases) {
    SCOPED_TRACE(c.tmpdir ? c.tmpdir : "(unset)");
    variable.Set(c.tmpdir);
    char buffer[261];
    memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(sys_get_temp_path(sizeof(buffer), buffer), strlen(c.expected));
    EXPECT_STREQ(buffer, c.expected);
  }
}

TEST(SysGetTempPath, TooSmallBufferGetsTheSizeNeeded) {
  Variable variable("TMPDIR");
  variable.Set("/var/scratch");  // "/var/scratch/" is 13 characters, 14 with the NUL
  char buffer[32];
  for (uint32_t size : {0u, 1u, 12u, 13u}) {
    SCOPED_TRACE(size);
    memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(sys_get_temp_path(size, buffer), 14u);
    EXPECT_EQ(std::string(buffer, sizeof(buffer)), std::string(sizeof(buffer), '#'));
  }
  EXPECT_EQ(sys_get_temp_path(0, nullptr), 14u);
  EXPECT_EQ(sys_get_temp_path(14, buffer), 13u);
  EXPECT_STREQ(buffer, "/var/scratch/");
}

TEST(SysUserDataPath, FollowsXdgDataHomeElseHome) {
  const struct {
    const char* dataHome;  // null: unset
    const char* home;
    const char* expected;  // null: no folder
  } cases[] = {
      {"/data", "/home/u", "/data/vintrel"},
      {"/data/", "/home/u", "/data/vintrel"},
      {nullptr, "/home/u", "/home/u/.local/share/vintrel"},
      {"", "/home/u/", "/home/u/.local/share/vintrel"},
      {"relative", "/home/u", "/home/u/.local/share/vintrel"},
      {nullptr, nullptr, nullptr},
      {nullptr, "", nullptr},
  };
  Variable dataHome("XDG_DATA_HOME");
  Variable home("HOME");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.dataHome ? c.dataHome : "(unset)") + " " +
                 (c.home ? c.home : "(unset)"));
    dataHome.Set(c.dataHome);
    home.Set(c.home);
    CStringBufferA path;
    EXPECT_EQ(sys_user_data_path(path), c.expected != nullptr);
    EXPECT_STREQ(path.Data(), c.expected ? c.expected : "");
  }
}

// A symbolic link is told as one, and a new file is never created through it, whether it leads
// somewhere or nowhere.
TEST(SysIsLink, TellsLinksAndCreateNewRefusesThem) {
  vtest::ScratchDir dir;
  ASSERT_TRUE(vtest::WriteTextFile(dir / "target", "kept"));
  std::filesystem::create_symlink(dir / "target", dir / "link");
  std::filesystem::create_symlink(dir / "nowhere", dir / "dangling");
  EXPECT_TRUE(sys_is_link((dir / "link").string().c_str()));
  EXPECT_FALSE(sys_is_link((dir / "target").string().c_str()));
  for (const char* name : {"link", "dangling"}) {
    EXPECT_EQ(sys_create_file((dir / name).string().c_str(), FileAccess::kWrite, FileShare::kNone,
                              FileDisposition::kCreateNew),
              kNoFile)
        << name;
  }
  EXPECT_EQ(vtest::ReadTextFile(dir / "target"), "kept");
  EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));
}

}  // namespace
