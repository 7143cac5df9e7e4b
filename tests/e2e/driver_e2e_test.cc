// The driver seen from outside: arguments, messages, exit status, the manifest back-up and the
// temporary file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/e2e/tool_runner.h"
#include "tests/support/game_writer.h"
#include "tests/support/replace_files.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using vtest::ProcessResult;
using vtest::ToolRun;

const char kUsage[] =
    "Usage: Vintrel.exe <srcdir> <destdir> [temp path]\n"
    "srcdir must contain \"vintrel.json\".\n";

vtest::GameSpec SmallGame() { return vtest::OneSplitPackageGame(); }

class DriverRun : public testing::Test {
 protected:
  void WriteGame(const vtest::GameSpec& game) {
    std::string error;
    ASSERT_TRUE(vtest::WriteGame(game, run_.game_path(), &layout_, &error)) << error;
  }
  void WriteMod(const std::string& json) {
    ASSERT_TRUE(vtest::WriteTextFile(run_.mod_path() / "vintrel.json", json));
  }
  // A mod that replaces "data.bin" with new bytes.
  void WriteReplacingMod() {
    WriteMod(vtest::MakeConfigJson({{"data", "bin", "data.bin", {}, {}}}));
    ASSERT_TRUE(vtest::WriteFile(run_.mod_path() / "data.bin", vtest::Bytes(1000, 0x42)));
  }
  vtest::Bytes Read(const std::string& name) const {
    return vtest::ReadFile(run_.game_path() / name).value_or(vtest::Bytes{});
  }

  ToolRun run_;
  vtest::GameLayout layout_;
};

TEST_F(DriverRun, FewerThanTwoArgumentsPrintUsage) {
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"only"}}) {
    const ProcessResult result = run_.Run(args);
    ASSERT_TRUE(result.started) << result.failure;
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, kUsage);
  }
}

TEST_F(DriverRun, MissingManifestFailsSilently) {
  WriteMod(vtest::MakeConfigJson({}));
  const ProcessResult result = run_.Run();
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(vtest::ListFiles(run_.game_path()).empty());
}

TEST_F(DriverRun, MissingConfigurationNamesItsPath) {
  WriteGame(SmallGame());
  const ProcessResult result = run_.Run();
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_EQ(result.out,
            "Failed to read \"" + run_.mod() + "\\vintrel.json\".\nFailed to load config.\n");
}

TEST_F(DriverRun, ConfigurationErrorLeavesTheGameUntouched) {
  WriteGame(SmallGame());
  vtest::ScratchDir before;
  ASSERT_TRUE(vtest::CopyTree(run_.game_path(), before.path()));
  WriteMod("{\"files\":[{\"name\":\"data\"}]}");

  const ProcessResult result = run_.Run();
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_EQ(result.out, "Missing ext.\nFailed to load config.\n");
  EXPECT_TRUE(vtest::DiffTrees(before.path(), run_.game_path()).empty());
}

TEST_F(DriverRun, FirstRunBacksUpTheManifestAndLaterRunsStartFromIt) {
  WriteGame(SmallGame());
  const vtest::Bytes original = Read("manifest.bin");
  WriteMod(vtest::MakeConfigJson({}));

  ProcessResult result = run_.Run();
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(Read("origmanifest.bin"), original);
  const vtest::Bytes firstResult = Read("manifest.bin");

  // A later run never reads manifest.bin: garbage there changes nothing.
  ASSERT_TRUE(vtest::WriteFile(run_.game_path() / "manifest.bin", vtest::Bytes(10, 0xEE)));
  result = run_.Run();
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(Read("manifest.bin"), firstResult);
  EXPECT_EQ(Read("origmanifest.bin"), original);
}

TEST_F(DriverRun, UnreadableBackUpIsReplaced) {
  WriteGame(SmallGame());
  const vtest::Bytes original = Read("manifest.bin");
  ASSERT_TRUE(vtest::WriteFile(run_.game_path() / "origmanifest.bin", vtest::Bytes(43, 1)));
  WriteMod(vtest::MakeConfigJson({}));

  const ProcessResult result = run_.Run();
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(Read("origmanifest.bin"), original);
}

TEST_F(DriverRun, ReplacingRunPrintsProgressAndUsesBackUp) {
  WriteGame(SmallGame());
  WriteReplacingMod();
  ProcessResult result = run_.Run();
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "Updating files in package \"level1\" (split compress).\n");
  const vtest::Bytes firstManifest = Read("manifest.bin");
  const vtest::Bytes firstArchive = Read("user.upak");
  ASSERT_FALSE(firstArchive.empty());

  // The second run applies the same configuration to the untouched manifest: same result.
  result = run_.Run();
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(Read("manifest.bin"), firstManifest);
  EXPECT_EQ(Read("user.upak"), firstArchive);
}

TEST_F(DriverRun, TemporaryFileNeverOutlivesARun) {
  WriteGame(SmallGame());
  WriteReplacingMod();
  const fs::path explicitTemp = run_.root().MakeDir("explicit");

  ProcessResult result = run_.Run({run_.mod(), run_.game(), explicitTemp.string(), "ignored"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(vtest::ListFiles(explicitTemp).empty());
  EXPECT_TRUE(vtest::ListFiles(run_.tmp_path()).empty());

  // A run that fails after the temporary file was opened deletes it too.
  fs::remove(run_.mod_path() / "data.bin");
  result = run_.Run({run_.mod(), run_.game(), explicitTemp.string()});
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_TRUE(vtest::ListFiles(explicitTemp).empty());
}

TEST_F(DriverRun, TemporaryDirectoryComesFromTheSystem) {
  WriteGame(SmallGame());
  WriteReplacingMod();
  // Without a third argument the system's temporary directory is used: point it nowhere and
  // the split package cannot be built.
  vtest::ProcessOptions options;
  const std::string absent = (run_.root().path() / "absent").string();
  for (const char* variable : {"TMPDIR", "TMP", "TEMP"}) options.env.push_back({variable, absent});
  const ProcessResult result = vtest::RunProcess(VINTREL_EXE, {run_.mod(), run_.game()}, options);
  EXPECT_EQ(result.exit_code, 1) << result.err;
}

TEST_F(DriverRun, LongTemporaryDirectoryIsAskedForAgain) {
  WriteGame(SmallGame());
  WriteReplacingMod();
  // A directory whose path is longer than the first 261-character buffer.
  fs::path longDir = run_.root().path();
  while (longDir.string().size() < 320) longDir /= std::string(40, 'd');
  ASSERT_TRUE(fs::create_directories(longDir));
  vtest::ProcessOptions options;
  options.env.push_back({"TMPDIR", longDir.string()});
  const ProcessResult result = vtest::RunProcess(VINTREL_EXE, {run_.mod(), run_.game()}, options);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "Updating files in package \"level1\" (split compress).\n");
  EXPECT_TRUE(vtest::ListFiles(longDir).empty());
}

TEST_F(DriverRun, DirectoryEndingInABackslashIsUsedAsItStands) {
  WriteGame(SmallGame());
  WriteMod(vtest::MakeConfigJson({}));
  const ProcessResult result = run_.Run({run_.mod() + "\\", run_.game() + "\\"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "");
}

}  // namespace
