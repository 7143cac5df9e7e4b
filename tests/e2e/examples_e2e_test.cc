// The checked-in example: its files are what the generators write, and the tool run on a scratch
// copy of examples/game with examples/mod changes what the example's README says it does, and
// nothing else.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/game_run.h"
#include "tests/support/scratch_dir.h"

namespace vtest {
namespace {

namespace fs = std::filesystem;

const fs::path kExamples =
    fs::path(__FILE__).parent_path().parent_path().parent_path() / "examples";

class Examples : public GameRunTest {};

TEST(ExampleFiles, CheckedInFilesMatchTheGenerators) {
  if (!fs::exists(kExamples)) GTEST_SKIP() << "no examples/ beside the sources";
  ScratchDir dir;
  std::string error;
  ASSERT_TRUE(WriteGame(ExampleGame(), dir.MakeDir("game"), nullptr, &error)) << error;
  for (const auto& [name, bytes] : ExampleMod()) ASSERT_TRUE(WriteFile(dir / "mod" / name, bytes));
  EXPECT_EQ(DiffTrees(dir / "game", kExamples / "game"), std::vector<std::string>{});
  EXPECT_EQ(DiffTrees(dir / "mod", kExamples / "mod"), std::vector<std::string>{});
}

TEST_F(Examples, ModChangesWhatTheExampleIntends) {
  if (!fs::exists(kExamples / "game")) GTEST_SKIP() << "no examples/ beside the sources";
  // The layout comes from the generator of the example; the run itself is on the checked-in
  // files, which are what the generator writes (ExampleFiles above).
  WriteGame(ExampleGame());
  for (const std::string& name : ListFiles(run_.game_path())) fs::remove(run_.game_path() / name);
  ASSERT_TRUE(CopyTree(kExamples / "game", run_.game_path()));
  ASSERT_TRUE(CopyTree(kExamples / "mod", run_.mod_path()));
  SnapshotGame();

  auto modFile = [this](const std::string& name) {
    return ReadFile(run_.mod_path() / name).value_or(Bytes{});
  };
  Outcome outcome;
  outcome.upak = "mod";
  outcome.replaced = {
      {"ui_common", "hero", "dds", modFile("hero.dds"), TextureMeta(15, 3, 1, 4, 4)},
      {"ui_common", "menu", "txt", modFile("menu.txt"), modFile("menu.meta")},
      {"world_full", "strings", "loc", modFile("strings.loc"),
       LocMeta({NameHash("greeting"), NameHash("farewell"), NameHash("welcome_back")})},
  };
  ExpectSuccess(Run(), outcome);
}

}  // namespace
}  // namespace vtest
