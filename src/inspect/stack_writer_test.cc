#include "inspect/stack_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/platform_faults.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

SysCall g_failing = SysCall::kWriteFile;

bool FailEveryCall(SysCall call) { return call == g_failing; }

class StackWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(
        vtest::WriteTextFile(dir_ / "mod" / "vintrel.json",
                             "{ \"upak\": \"mod_user\", \"files\": [\n"
                             "  { \"name\": \"hero\", \"ext\": \"bin\", \"src\": \"hero.bin\" }\n"
                             "] }\n"));
  }

  // Stacks the one mod into OUTDIR "stack", with calls of one kind failing when failing is set.
  bool Stack(const SysCall* failing, StackResult& result) {
    std::string mod = (dir_ / "mod").string();
    char* mods[] = {&mod[0]};
    if (failing != nullptr) {
      g_failing = *failing;
      g_sysFaultHook = &FailEveryCall;
    }
    const bool made =
        make_stack((dir_ / "stack").string().c_str(), mods, 1, nullptr, nullptr, result);
    g_sysFaultHook = nullptr;
    return made;
  }

  vtest::ScratchDir dir_;
};

TEST_F(StackWriterTest, AFailedWriteLeavesOutdirAsItWas) {
  const SysCall calls[] = {SysCall::kWriteFile, SysCall::kFlushFile, SysCall::kMoveFile};
  for (const bool existed : {false, true}) {
    for (const SysCall call : calls) {
      fs::remove_all(dir_ / "stack");
      if (existed) {
        ASSERT_TRUE(vtest::WriteTextFile(dir_ / "stack" / "vintrel.json", "old"));
      }
      StackResult result;
      EXPECT_FALSE(Stack(&call, result)) << existed << " " << static_cast<int>(call);
      EXPECT_NE(result.errors.count(), 0u);
      if (existed) {
        EXPECT_EQ(vtest::ListFiles(dir_ / "stack"), std::vector<std::string>{"vintrel.json"});
        EXPECT_EQ(vtest::ReadTextFile(dir_ / "stack" / "vintrel.json"), "old");
      } else {
        EXPECT_FALSE(fs::exists(dir_ / "stack")) << static_cast<int>(call);
      }
    }
  }
}

// Where file names ignore case (Windows) "VINTREL.JSON" is the stack's own file; elsewhere it is
// another file, which stack never replaces.
TEST_F(StackWriterTest, AConfigNamedInOtherCaseIsTheStacksOwnWhereNamesIgnoreCase) {
  ASSERT_TRUE(vtest::WriteTextFile(dir_ / "stack" / "VINTREL.JSON", "old"));
  const bool namesIgnoreCase = fs::exists(dir_ / "stack" / "vintrel.json");
  StackResult result;
  EXPECT_EQ(Stack(nullptr, result), namesIgnoreCase);
  const std::vector<std::string> files = vtest::ListFiles(dir_ / "stack");
  ASSERT_EQ(files.size(), 1u);
  if (namesIgnoreCase) {
    EXPECT_NE(vtest::ReadTextFile(dir_ / "stack" / "vintrel.json"), "old");
  } else {
    ASSERT_EQ(result.errors.count(), 1u);
    EXPECT_NE(std::string(result.errors.line(0)).find("holds \"VINTREL.JSON\""), std::string::npos);
    EXPECT_EQ(files[0], "VINTREL.JSON");
  }
}

}  // namespace
