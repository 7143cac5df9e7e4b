#include "inspect/prune.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/game_writer.h"
#include "tests/support/replace_files.h"
#include "tests/support/scratch_dir.h"

namespace {

using vtest::Bytes;

// A configured file: its vintrel.json element, the bytes of its src (none: the file is missing)
// and of its meta file, and what prune must decide.
struct PruneCase {
  std::string element;
  std::string src;
  std::optional<Bytes> bytes;
  std::optional<Bytes> meta;
  PruneReason expected;
};

TEST(Prune, TakesOutWhatChangesNothingAndKeepsTheRestOfTheText) {
  vtest::ScratchDir dir;
  const Bytes texture = vtest::MakeDds(vtest::Dxt1Texture(4, 4, 1));
  const Bytes derived = vtest::TextureMeta(15, 3, 1, 4, 4);
  const Bytes other = vtest::TextureMeta(15, 9, 1, 4, 4);
  vtest::GameSpec game;
  game.archives = {{1, "base"}};
  game.packages = {
      vtest::OneGroupPackage(
          "ui", true,
          {vtest::Entry("same", "bin", vtest::MakeData(20, 1), {4}),
           vtest::Entry("edited", "bin", vtest::MakeData(20, 2)),
           vtest::Entry("tex", "dds", texture, derived), vtest::Entry("odd", "dds", texture, other),
           vtest::Entry("odd2", "dds", texture, other),
           vtest::Entry("both", "bin", vtest::MakeData(9, 3)),
           vtest::Entry("pair", "bin", vtest::MakeData(9, 4))}),
      vtest::OneGroupPackage("world", false,
                             {vtest::Entry("both", "bin", vtest::MakeData(9, 5)),
                              vtest::Entry("pair", "bin", vtest::MakeData(9, 6))}),
  };
  std::string error;
  ASSERT_TRUE(vtest::WriteGame(game, dir.MakeDir("game"), nullptr, &error)) << error;
  const PruneCase cases[] = {
      {"{\"name\": \"same\", \"ext\": \"bin\", \"src\": \"a\", \"pkg\": \"ui\"}", "a",
       vtest::MakeData(20, 1), std::nullopt, PruneReason::kSame},
      {"{\"name\": \"edited\", \"ext\": \"bin\", \"src\": \"b\", \"pkg\": \"ui\"}", "b",
       vtest::MakeData(20, 7), std::nullopt, PruneReason::kKept},
      {"{\"name\": \"edited\", \"ext\": \"bin\", \"src\": \"gone\"}", "gone", std::nullopt,
       std::nullopt, PruneReason::kMissing},
      {"{\"name\": \"nothing\", \"ext\": \"bin\", \"src\": \"c\"}", "c", vtest::MakeData(3, 8),
       std::nullopt, PruneReason::kUnused},
      // A texture's metadata comes from its header, unless a meta file gives it.
      {"{\"name\": \"tex\", \"ext\": \"dds\", \"src\": \"d\"}", "d", texture, std::nullopt,
       PruneReason::kSame},
      {"{\"name\": \"odd\", \"ext\": \"dds\", \"src\": \"e\"}", "e", texture, std::nullopt,
       PruneReason::kKept},
      {"{\"name\": \"odd2\", \"ext\": \"dds\", \"src\": \"f\", \"meta\": \"f.meta\"}", "f", texture,
       other, PruneReason::kSame},
      // The same as one package's entry, not as the other's.
      {"{\"name\": \"both\", \"ext\": \"bin\", \"src\": \"g\"}", "g", vtest::MakeData(9, 3),
       std::nullopt, PruneReason::kKept},
      // The same as world's pair, but a later file that stays would take it over.
      {"{\"name\": \"pair\", \"ext\": \"bin\", \"src\": \"h\", \"pkg\": \"world\"}", "h",
       vtest::MakeData(9, 6), std::nullopt, PruneReason::kKept},
      {"{\"name\": \"pair\", \"ext\": \"bin\", \"src\": \"i\"}", "i", vtest::MakeData(9, 9),
       std::nullopt, PruneReason::kKept},
  };
  const std::string head = "{\n  \"note\": \"kept\",\n  \"files\": [\n    ";
  const std::string tail = "\n  ],\n  \"upak\": \"m\", \"fullcopy\": 0.0\n}\n";
  std::string config = head;
  std::string expected = head;
  for (const PruneCase& c : cases) {
    config += (&c == cases ? "" : ",\n    ") + c.element;
    if (c.expected == PruneReason::kKept) {
      expected += (expected == head ? "" : ",\n    ") + c.element;
    }
    if (c.bytes) {
      ASSERT_TRUE(vtest::WriteFile(dir / "mod" / c.src, *c.bytes));
    }
    if (c.meta) {
      ASSERT_TRUE(vtest::WriteFile(dir / "mod" / (c.src + ".meta"), *c.meta));
    }
  }
  config += tail;
  expected += tail;
  ASSERT_TRUE(vtest::WriteTextFile(dir / "mod" / "vintrel.json", config));

  for (const bool dryRun : {true, false}) {
    PruneResult result;
    Status status;
    ASSERT_TRUE(prune_mod((dir / "mod").string().c_str(), (dir / "game").string().c_str(), dryRun,
                          OptionValues(), result, &status));
    ASSERT_EQ(result.reasons.count(), std::size(cases));
    for (uint32_t i = 0; i < result.reasons.count(); ++i) {
      EXPECT_EQ(result.reasons[i], cases[i].expected) << cases[i].element;
    }
    EXPECT_EQ(result.written, !dryRun);
    EXPECT_EQ(vtest::ReadTextFile(dir / "mod" / "vintrel.json"), dryRun ? config : expected);
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "mod" / "vintrel.json.tmp"));
}

}  // namespace
