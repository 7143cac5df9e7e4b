// What a run guarantees about the user's files: a failed run leaves the previous manifest.bin and
// user archive exactly as they were and no temporary file behind; a user archive name that could
// reach another file is refused before anything is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/tool_runner.h"
#include "tests/support/game_writer.h"
#include "tests/support/replace_files.h"
#include "tests/support/scratch_dir.h"

namespace {

using vtest::Bytes;
using vtest::ProcessResult;

// Two split packages in one archive, each with one entry that a mod can replace.
vtest::GameSpec TwoPackageGame() {
  vtest::GameSpec game;
  game.archives = {{0, "data0"}};
  for (const char* name : {"first", "second"}) {
    vtest::PackageSpec package;
    package.record.name = name;
    package.record.package_id = vtest::NameHash(name);
    package.archive_index = 0;
    package.groups.resize(1);
    package.groups[0].entries = {vtest::Entry(std::string(name) + "_data", "bin", Bytes(200, 5))};
    game.packages.push_back(package);
  }
  return game;
}

class Safety : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(vtest::WriteGame(TwoPackageGame(), run_.game_path(), nullptr, &error)) << error;
  }

  // A mod replacing the entries named here, each from a file of the same name.
  void WriteMod(const std::vector<std::string>& names, const std::string& upak = "mod") {
    std::vector<vtest::ConfigFile> files;
    for (const std::string& name : names) {
      files.push_back({name, "bin", name + ".bin", {}, {}});
      ASSERT_TRUE(vtest::WriteFile(run_.mod_path() / (name + ".bin"), Bytes(100, 0x33)));
    }
    ASSERT_TRUE(
        vtest::WriteTextFile(run_.mod_path() / "vintrel.json", vtest::MakeConfigJson(files, upak)));
  }

  // A copy of the game directory as it is now.
  void Snapshot() { ASSERT_TRUE(vtest::CopyTree(run_.game_path(), before_.path())); }
  std::vector<std::string> ChangedSinceSnapshot() const {
    return vtest::DiffTrees(before_.path(), run_.game_path());
  }

  vtest::ToolRun run_;
  vtest::ScratchDir before_;
};

TEST_F(Safety, FailedRunKeepsThePreviousRunsManifestAndArchive) {
  WriteMod({"first_data"});
  ASSERT_EQ(run_.Run().exit_code, 0);
  ASSERT_TRUE(std::filesystem::exists(run_.game_path() / "mod.upak"));
  Snapshot();

  // The second package's replacing file is missing: the run fails after the first package has
  // already been written into the new user archive.
  WriteMod({"first_data", "second_data"});
  std::filesystem::remove(run_.mod_path() / "second_data.bin");
  const ProcessResult result = run_.Run();
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_EQ(result.out,
            "Updating files in package \"first\" (split compress).\n"
            "Updating files in package \"second\" (split compress).\n");
  EXPECT_TRUE(ChangedSinceSnapshot().empty());
}

TEST_F(Safety, RunThatMovesNothingDropsThePreviousUserArchive) {
  const Bytes original = vtest::ReadFile(run_.game_path() / "manifest.bin").value();
  WriteMod({"first_data"});
  ASSERT_EQ(run_.Run().exit_code, 0);

  WriteMod({"absent_entry"});
  const ProcessResult result = run_.Run();
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(vtest::ReadFile(run_.game_path() / "manifest.bin"), original);
  EXPECT_EQ(vtest::ListFiles(run_.game_path()),
            (std::vector<std::string>{"data0.upak", "manifest.bin", "origmanifest.bin"}));
}

TEST_F(Safety, UserArchiveNamesThatReachOtherFilesAreRefused) {
  Snapshot();
  for (const char* upak : {"", "DATA0", "data0", "sub\\mod", "sub/mod", "c:mod", "..", "a..b"}) {
    WriteMod({"first_data"}, upak);
    const ProcessResult result = run_.Run();
    EXPECT_EQ(result.exit_code, 1) << upak;
    EXPECT_EQ(result.out, "") << upak;
    EXPECT_EQ(result.err.rfind(std::string("vintrel: error: \"upak\" \"") + upak + "\" ", 0), 0u)
        << result.err;
    // Only the back-up of the untouched manifest may have been made.
    std::vector<std::string> changed = ChangedSinceSnapshot();
    EXPECT_EQ(changed, std::vector<std::string>{"origmanifest.bin"}) << upak;
  }
  EXPECT_EQ(vtest::ReadFile(run_.game_path() / "origmanifest.bin"),
            vtest::ReadFile(run_.game_path() / "manifest.bin"));
}

// A back-up that a crash of an earlier version left damaged is made again only from a manifest.bin
// that names no user archive: from one that a run wrote, the untouched manifest would be lost for
// good.
TEST_F(Safety, DamagedBackUpIsMadeAgainOnlyFromAnUntouchedManifest) {
  WriteMod({"first_data"});
  const Bytes untouched = vtest::ReadFile(run_.game_path() / "manifest.bin").value();
  const struct {
    const char* name;
    bool runFirst;  // manifest.bin is then what the run wrote
    Bytes backup;
  } cases[] = {
      {"empty beside a run's manifest", true, {}},
      {"zeros beside a run's manifest", true, Bytes(untouched.size(), 0)},
      {"empty beside the untouched manifest", false, {}},
      {"zeros beside the untouched manifest", false, Bytes(untouched.size(), 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(vtest::WriteFile(run_.game_path() / "manifest.bin", untouched));
    std::filesystem::remove(run_.game_path() / "origmanifest.bin");
    if (c.runFirst) {
      ASSERT_EQ(run_.Run().exit_code, 0);
    }
    ASSERT_TRUE(vtest::WriteFile(run_.game_path() / "origmanifest.bin", c.backup));
    Snapshot();
    const ProcessResult result = run_.Run();
    if (c.runFirst) {
      EXPECT_EQ(result.exit_code, 1);
      EXPECT_EQ(result.out, "Failed to back up pc.mnfst.\n");
      EXPECT_NE(result.err.find("manifest.bin lists the user archive \"mod\""), std::string::npos)
          << result.err;
      EXPECT_TRUE(ChangedSinceSnapshot().empty());
    } else {
      EXPECT_EQ(result.exit_code, 0) << result.err;
      EXPECT_EQ(vtest::ReadFile(run_.game_path() / "origmanifest.bin"), untouched);
    }
    std::filesystem::remove_all(before_.path());
    std::filesystem::create_directories(before_.path());
  }
}

}  // namespace
