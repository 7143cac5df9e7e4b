// The checked-in example (examples/game and examples/mod) must be what make_game writes, and
// the tool's run on it must rewrite a split and a full package.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/game_reader.h"
#include "tests/support/game_writer.h"
#include "tests/support/process.h"
#include "tests/support/replace_files.h"
#include "tests/support/scratch_dir.h"

namespace vtest {
namespace {

const std::filesystem::path kExamples =
    std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "examples";

TEST(ExampleRun, CheckedInFilesMatchTheGenerators) {
  if (!std::filesystem::exists(kExamples)) GTEST_SKIP() << "no examples/ beside the sources";
  ScratchDir dir;
  std::string error;
  ASSERT_TRUE(WriteGame(ExampleGame(), dir.MakeDir("game"), nullptr, &error)) << error;
  for (const auto& [name, bytes] : ExampleMod()) ASSERT_TRUE(WriteFile(dir / "mod" / name, bytes));
  EXPECT_EQ(DiffTrees(dir / "game", kExamples / "game"), std::vector<std::string>{});
  EXPECT_EQ(DiffTrees(dir / "mod", kExamples / "mod"), std::vector<std::string>{});
}

TEST(ExampleRun, RewritesSplitAndFullPackages) {
  ScratchDir dir;
  std::string error;
  GameLayout before;
  ASSERT_TRUE(WriteGame(ExampleGame(), dir.MakeDir("game"), &before, &error)) << error;
  for (const auto& [name, bytes] : ExampleMod()) ASSERT_TRUE(WriteFile(dir / "mod" / name, bytes));
  dir.MakeDir("tmp");

  ProcessResult run = RunProcess(
      VINTREL_EXE, {(dir / "mod").string(), (dir / "game").string(), (dir / "tmp").string()});
  ASSERT_TRUE(run.started) << run.failure;
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out,
            "Updating files in package \"ui_common\" (split compress).\n"
            "Updating files in package \"world_full\" (full compress).\n");

  std::optional<std::vector<ResolvedPackage>> after = ReadGame(dir / "game", &error);
  ASSERT_TRUE(after) << error;
  ASSERT_EQ(after->size(), before.packages.size());
  std::optional<Bytes> hero = ReadFile(dir / "mod/hero.dds");
  std::optional<Bytes> strings = ReadFile(dir / "mod/strings.loc");
  for (size_t i = 0; i < after->size(); ++i) {
    const ResolvedPackage& got = (*after)[i];
    const PackageLayout& was = before.packages[i];
    SCOPED_TRACE(was.record.name);
    bool moved = was.record.name == "ui_common" || was.record.name == "world_full";
    EXPECT_EQ(got.archive, moved ? "mod" : was.archive);
    if (!got.package) continue;
    if (moved) {
      EXPECT_EQ(CheckWrittenPackage(*got.package), "");
    }
    ASSERT_EQ(got.package->entries.size(), was.entries.size());
    for (size_t k = 0; k < was.entries.size(); ++k) {
      const ParsedEntry& entry = got.package->entries[k];
      Bytes data = was.entries[k].data;
      Bytes meta = was.entries[k].meta;
      if (was.record.name == "ui_common" && entry.name_id == NameHash("hero")) {
        data = *hero;
        meta = TextureMeta(15, 3, 1, 4, 4);
      } else if (entry.name_id == NameHash("menu")) {
        data = *ReadFile(dir / "mod/menu.txt");
        meta = *ReadFile(dir / "mod/menu.meta");
      } else if (entry.name_id == NameHash("strings")) {
        data = *strings;
        meta = LocMeta({NameHash("greeting"), NameHash("farewell"), NameHash("welcome_back")});
      }
      EXPECT_EQ(entry.data, data) << "entry " << k;
      EXPECT_EQ(entry.meta, meta) << "entry " << k;
    }
  }
}

}  // namespace
}  // namespace vtest
