// Tests of what only the POSIX backend does: its temporary directory comes from TMPDIR.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "base/platform.h"

namespace {

// Sets or removes TMPDIR for one test and restores it afterwards.
class TmpDirVariable {
 public:
  TmpDirVariable() {
    const char* value = std::getenv("TMPDIR");
    if (value != nullptr) saved_ = value;
  }
  ~TmpDirVariable() {
    if (saved_) {
      Set(saved_->c_str());
    } else {
      Unset();
    }
  }
  TmpDirVariable(const TmpDirVariable&) = delete;
  TmpDirVariable& operator=(const TmpDirVariable&) = delete;

  void Set(const char* value) { setenv("TMPDIR", value, 1); }
  void Unset() { unsetenv("TMPDIR"); }

 private:
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
  TmpDirVariable variable;
  for (const TempPathCase& c : cases) {
    SCOPED_TRACE(c.tmpdir ? c.tmpdir : "(unset)");
    if (c.tmpdir) {
      variable.Set(c.tmpdir);
    } else {
      variable.Unset();
    }
    char buffer[261];
    memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(sys_get_temp_path(sizeof(buffer), buffer), strlen(c.expected));
    EXPECT_STREQ(buffer, c.expected);
  }
}

TEST(SysGetTempPath, TooSmallBufferGetsTheSizeNeeded) {
  TmpDirVariable variable;
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

}  // namespace
