// The texture commands of vintrel-inspect run as processes on the example game: a texture turned
// into a PNG, painted anew, made back like the game's entry and applied by the tool; a mod's
// textures made from their PNGs at once; and what the commands refuse, writing nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/game_run.h"
#include "tests/support/png_file.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"

namespace vtest {
namespace {

namespace fs = std::filesystem;

class Texture : public GameRunTest {
 protected:
  ProcessResult Inspect(const std::vector<std::string>& args) const {
    return RunProcess(VINTREL_INSPECT_EXE, args);
  }
  std::string mod(const std::string& name) const { return (run_.mod_path() / name).string(); }
  // Sets the file's time that many seconds back from now.
  void Age(const std::string& name, int seconds) const {
    fs::last_write_time(run_.mod_path() / name,
                        fs::file_time_type::clock::now() - std::chrono::seconds(seconds));
  }
};

TEST_F(Texture, ExportedEditedAndMadeLikeTheEntryPlansCleanAndRuns) {
  WriteGame(ExampleGame());
  WriteMod({{"hero", "dds", "hero.dds", "ui_common", std::nullopt}});
  const ProcessResult exported = Inspect(
      {"texture", "export", run_.game(), "hero", "dds", mod("hero.png"), "--pkg", "ui_common"});
  EXPECT_EQ(exported.exit_code, 0) << exported.err;
  EXPECT_EQ(exported.out, "wrote \"" + mod("hero.png") +
                              "\": 8 x 8 pixels, mip 0 of \"hero\" \"dds\" in package "
                              "\"ui_common\" (DXT1 8x8, 4 mips)\n");
  EXPECT_EQ(PngSize(ReadFile(run_.mod_path() / "hero.png").value_or(Bytes{})),
            std::make_pair(8u, 8u));

  // The editor stands in: the picture painted anew.
  ASSERT_TRUE(WriteFile(run_.mod_path() / "hero.png", Picture(8, 8, 200)));
  const ProcessResult made = Inspect({"texture", "make", mod("hero.png"), mod("hero.dds"), "--game",
                                      run_.game(), "--entry", "hero", "dds", "--pkg", "ui_common"});
  EXPECT_EQ(made.exit_code, 0) << made.err;
  EXPECT_EQ(made.err, "");
  EXPECT_EQ(made.out, "wrote \"" + mod("hero.dds") + "\": DXT1 8x8, 4 mips, from \"" +
                          mod("hero.png") + "\", like \"hero\" \"dds\" in package \"ui_common\"\n");

  // The tool's texture check finds nothing to say, and the run takes the texture.
  const ProcessResult plan = Inspect({"plan", run_.mod(), run_.game()});
  EXPECT_EQ(plan.exit_code, 0) << plan.err;
  EXPECT_EQ(plan.err, "");
  Outcome outcome;
  outcome.replaced = {{"ui_common", "hero", "dds",
                       ReadFile(run_.mod_path() / "hero.dds").value_or(Bytes{}),
                       TextureMeta(15, 4, 1, 8, 8)}};
  ExpectSuccess(Run(), outcome);
}

TEST_F(Texture, SyncMakesTheTexturesWhosePngIsNewerOrWhoseDdsIsMissing) {
  WriteGame(ExampleGame());
  WriteMod({{"hero", "dds", "hero.dds", "ui_common", std::nullopt},
            {"cursor", "dds", "cursor.dds", std::nullopt, std::nullopt},
            {"hero", "dds", "hero.dds", "world_full", std::nullopt},
            {"layout", "bin", "layout.png", std::nullopt, std::nullopt}});
  const Bytes staleHero = MakeDds(Dxt1Texture(4, 4, 7));
  WriteModFile("hero.dds", staleHero);
  WriteModFile("hero.png", Picture(8, 8, 10));
  Age("hero.dds", 60);
  WriteModFile("cursor.png", Picture(4, 4, 20));
  WriteModFile("layout.png", Picture(2, 2, 30));  // not a texture's
  const std::string lines =
      " \"" + mod("hero.dds") + "\" from \"" + mod("hero.png") +
      "\": DXT1 8x8, 4 mips, like \"hero\" \"dds\" in package \"ui_common\"\n" + "%s \"" +
      mod("cursor.dds") + "\" from \"" + mod("cursor.png") +
      "\": DXT1 4x4, 3 mips, like \"cursor\" \"dds\" in package \"ui_common\"\n";
  auto expected = [&lines](const std::string& verb, const std::string& summary) {
    std::string text = verb + lines;
    text.replace(text.find("%s"), 2, verb);
    return text + summary;
  };

  const ProcessResult dryRun =
      Inspect({"texture", "sync", run_.mod(), "--game", run_.game(), "--dry-run"});
  EXPECT_EQ(dryRun.exit_code, 0) << dryRun.err;
  EXPECT_EQ(dryRun.out,
            expected("would make", "2 textures to make, 0 up to date, 0 without a PNG\n"));
  EXPECT_EQ(ReadFile(run_.mod_path() / "hero.dds"), staleHero);
  EXPECT_FALSE(fs::exists(run_.mod_path() / "cursor.dds"));

  const ProcessResult synced = Inspect({"texture", "sync", run_.mod(), "--game", run_.game()});
  EXPECT_EQ(synced.exit_code, 0) << synced.err;
  EXPECT_EQ(synced.out, expected("made", "2 textures made, 0 up to date, 0 without a PNG\n"));
  EXPECT_EQ(Inspect({"plan", run_.mod(), run_.game()}).err, "");

  // Now both are newer than their PNGs; a PNG that cannot be read is an error of its own, and
  // its texture stays as it was.
  const Bytes cursor = ReadFile(run_.mod_path() / "cursor.dds").value_or(Bytes{});
  Bytes truncated = Picture(4, 4, 90);
  truncated.resize(truncated.size() - 20);
  WriteModFile("cursor.png", truncated);
  const ProcessResult again = Inspect({"texture", "sync", run_.mod(), "--game", run_.game()});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_EQ(again.err.rfind("vintrel-inspect: error: \"" + mod("cursor.png") + "\": ", 0), 0u)
      << again.err;
  EXPECT_EQ(again.out, "0 textures made, 1 up to date, 0 without a PNG; some could not be made\n");
  EXPECT_EQ(ReadFile(run_.mod_path() / "cursor.dds"), cursor);
}

// What make refuses, writing nothing; and the one format it writes with a warning.
TEST_F(Texture, MakeRefusesWritingNothing) {
  WriteGame(ExampleGame());
  WriteModFile("hero.png", Picture(8, 8, 10));
  Bytes truncated = Picture(8, 8, 10);
  truncated.resize(40);
  WriteModFile("cut.png", truncated);
  const std::string archive = (run_.game_path() / "data0.upak").string();
  const std::vector<std::string> likeHero = {"--game", run_.game(), "--entry",  "hero",
                                             "dds",    "--pkg",     "ui_common"};
  const struct {
    std::vector<std::string> args;
    std::string out;
    std::string error;  // what standard error says after "vintrel-inspect: error: "
  } cases[] = {
      {{mod("cut.png")}, mod("new.dds"), "\"" + mod("cut.png") + "\": the PNG is truncated"},
      {{mod("hero.png"), "--format", "dxt1", "--mips", "5"},
       mod("new.dds"),
       "\"" + mod("hero.png") + "\": a texture of 8 x 8 pixels has at most 4 mip levels, not 5"},
      {{mod("hero.png")}, archive, "\"" + archive + "\" is a file of the game"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"texture", "make", c.args[0], c.out};
    args.insert(args.end(), c.args.begin() + 1, c.args.end());
    if (c.args.size() == 1) args.insert(args.end(), likeHero.begin(), likeHero.end());
    const ProcessResult result = Inspect(args);
    EXPECT_EQ(result.exit_code, 1) << c.error;
    EXPECT_EQ(result.err.rfind("vintrel-inspect: error: " + c.error, 0), 0u) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(fs::exists(run_.mod_path() / "new.dds")) << c.error;
    EXPECT_FALSE(fs::exists(run_.mod_path() / "new.dds.tmp")) << c.error;
  }
  EXPECT_TRUE(SameBytes(ReadGameFile("data0.upak"), snapshot_.at("data0.upak")));
  WriteModFile("small.png", Picture(4, 4, 10));
  const ProcessResult small = Inspect({"texture", "make", mod("small.png"), mod("new.dds"),
                                       "--game", run_.game(), "--entry", "hero", "dds"});
  EXPECT_NE(small.err.find("the image is 4 x 4 pixels, but the texture is 8 x 8"),
            std::string::npos)
      << small.err;
  EXPECT_FALSE(fs::exists(run_.mod_path() / "new.dds"));

  const ProcessResult r5g6b5 =
      Inspect({"texture", "make", mod("hero.png"), mod("new.dds"), "--format", "R5G6B5"});
  EXPECT_EQ(r5g6b5.exit_code, 0) << r5g6b5.err;
  EXPECT_EQ(r5g6b5.err, "vintrel-inspect: warning: \"" + mod("new.dds") +
                            "\" is R5G6B5, which the tool's run takes only with a \"meta\" file: "
                            "give the entry's metadata in vintrel.json's \"meta\", or make it in "
                            "a format the tool takes\n");
  EXPECT_TRUE(fs::exists(run_.mod_path() / "new.dds"));
}

}  // namespace
}  // namespace vtest
