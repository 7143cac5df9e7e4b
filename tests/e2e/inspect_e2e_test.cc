// vintrel-inspect run as a process on synthetic games: every command on its main path and on its
// main failure, and the command line's usage errors and help texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <functional>
#include <regex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/e2e/tool_runner.h"
#include "tests/support/game_format.h"
#include "tests/support/game_reader.h"
#include "tests/support/game_writer.h"
#include "tests/support/process.h"
#include "tests/support/replace_files.h"
#include "tests/support/scratch_dir.h"

namespace vtest {
namespace {

std::string Id(uint64_t id) { return IdText(id); }

std::string Id(const std::string& name) { return Id(NameHash(name)); }

// One line of the "packages" array; the values as JSON text.
std::string PackageJson(const std::string& name, const std::string& archive,
                        const std::string& offset, const std::string& split,
                        const std::string& entries, const std::string& error) {
  return "    {\"name\": \"" + name + "\", \"id\": \"" + Id(name) + "\", \"archive\": " + archive +
         ", \"offset\": " + offset + ", \"split\": " + split + ", \"entries\": " + entries +
         ", \"error\": " + error + "}";
}

bool OneErrorLine(const std::string& err) {
  return err.rfind("vintrel-inspect: error: ", 0) == 0 && err.find('\n') == err.size() - 1;
}

using ModFiles = std::vector<std::pair<std::string, Bytes>>;

// The example mod with one file's bytes replaced, or removed when bytes is nullopt.
ModFiles ExampleModWith(const std::string& name, const std::optional<Bytes>& bytes) {
  ModFiles files = ExampleMod();
  for (auto it = files.begin(); it != files.end(); ++it) {
    if (it->first != name) continue;
    if (bytes) {
      it->second = *bytes;
    } else {
      files.erase(it);
    }
    break;
  }
  return files;
}

// A DXT1 texture saved with a FourCC the tool does not take.
Bytes Dxt2Texture() {
  DdsSpec plan = Dxt1Texture(4, 4, 7);
  plan.fourcc = FourCC('D', 'X', 'T', '2');
  return MakeDds(plan);
}

class InspectTest : public testing::Test {
 protected:
  void WriteGame(const GameSpec& game) {
    std::string error;
    ASSERT_TRUE(vtest::WriteGame(game, game_, &layout_, &error)) << error;
  }
  ProcessResult Inspect(std::vector<std::string> args) const {
    return RunProcess(VINTREL_INSPECT_EXE, args);
  }
  // The command with --threads 1, 2, 3 and 8, which must all print the same and exit alike; the
  // result of the first.
  ProcessResult InspectAtEveryThreadCount(const std::vector<std::string>& args) const {
    ProcessResult first;
    for (const char* threads : {"1", "2", "3", "8"}) {
      std::vector<std::string> withThreads = args;
      withThreads.insert(withThreads.end(), {"--threads", threads});
      const ProcessResult result = Inspect(withThreads);
      if (std::string(threads) == "1") {
        first = result;
        continue;
      }
      EXPECT_EQ(result.exit_code, first.exit_code) << threads;
      EXPECT_EQ(result.out, first.out) << threads;
      EXPECT_EQ(result.err, first.err) << threads;
    }
    return first;
  }
  std::string game_dir() const { return game_.string(); }
  std::string mod_dir() const { return (dir_ / "mod").string(); }
  void WriteMod(const ModFiles& files) {
    for (const auto& [name, bytes] : files) ASSERT_TRUE(WriteFile(dir_ / "mod" / name, bytes));
  }
  // Runs the tool on mod/ and game/, with a temporary directory of the test's own.
  ProcessResult RunTool() const {
    return RunProcess(VINTREL_EXE, {mod_dir(), game_dir(), dir_.MakeDir("tmp").string()});
  }
  std::string out(const std::string& name) const { return (dir_ / name).string(); }
  const PackageLayout& Package(const std::string& name) const {
    const PackageLayout* package = FindPackage(layout_, name);
    EXPECT_NE(package, nullptr) << name;
    return package != nullptr ? *package : layout_.packages.front();
  }

  ScratchDir dir_;
  std::filesystem::path game_ = dir_.MakeDir("game");
  GameLayout layout_;
};

TEST_F(InspectTest, PackagesPrintsEveryArchiveAndRecordAsJson) {
  GameSpec game;
  game.archives = {{7, "base"}, {8, "gone"}};
  game.packages = {OneGroupPackage("town", true, {Entry("data", "bin", MakeData(300, 1))}),
                   OneGroupPackage("field", false, {Entry("more", "bin", MakeData(20, 2))}),
                   OneGroupPackage("ghost", true, {Entry("old", "bin", MakeData(5, 3))}),
                   OneGroupPackage("broken", true, {Entry("x", "bin", MakeData(5, 4))})};
  game.packages[2].archive_index = kNoArchive;
  game.packages[3].fault = PackageFault::kBadMagic;
  game.omit_archives = {"gone"};
  WriteGame(game);
  const ProcessResult result = Inspect({"packages", game_dir(), "--json"});
  ASSERT_TRUE(result.started) << result.failure;
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.err, "");
  const std::string baseBytes = std::to_string(std::filesystem::file_size(game_ / "base.upak"));
  const std::string fieldOffset = std::to_string(Package("field").offset);
  const std::string brokenOffset = std::to_string(Package("broken").offset);
  const std::string expected[] = {
      "{",
      "  \"archives\": [",
      "    {\"index\": 0, \"tag\": 7, \"name\": \"base\", \"bytes\": " + baseBytes + "},",
      "    {\"index\": 1, \"tag\": 8, \"name\": \"gone\", \"bytes\": null}",
      "  ],",
      "  \"packages\": [",
      PackageJson("town", "0", "0", "true", "1", "null") + ",",
      PackageJson("field", "0", fieldOffset, "false", "1", "null") + ",",
      PackageJson("ghost", "null", "0", "null", "null", "null") + ",",
      PackageJson("broken", "0", brokenOffset, "null", "null",
                  "\"no package here: the bytes do not begin with \\\"OBPK\\\"\""),
      "  ]",
      "}",
  };
  std::string lines;
  for (const std::string& line : expected) lines += line + "\n";
  EXPECT_EQ(result.out, lines);
}

TEST_F(InspectTest, PackagesFailsWithoutAManifest) {
  const ProcessResult result = Inspect({"packages", game_dir()});
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(OneErrorLine(result.err)) << result.err;
  EXPECT_NE(result.err.find("manifest.bin"), std::string::npos) << result.err;
}

TEST_F(InspectTest, EntriesDecodesTextureAndLocMetadata) {
  WriteGame(ExampleGame());
  // A list names one entry; the others show their name ids, with the built-in extensions.
  ASSERT_TRUE(WriteTextFile(dir_ / "names.txt", "# the game's texts\r\nStrings.loc\r\n"));
  // The name is matched by its id, whatever its case.
  const ProcessResult result =
      Inspect({"entries", game_dir(), "WORLD_FULL", "--names", out("names.txt")});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.err, "");
  const std::string lines[] = {"package world_full: id " + Id("world_full") + ", archive 2 (data0)",
                               "full compress, 3 entries, 1 named",
                               "  Strings.loc  ",
                               "  " + Id("hero") + ".dds  ",
                               "loc, 2 ids",
                               "  0f040108000800  ",
                               "  DXT1 8x8, 4 mips\n",
                               "09080706\n"};
  for (const std::string& expected : lines) {
    EXPECT_NE(result.out.find(expected), std::string::npos) << expected << "\n" << result.out;
  }
  const ProcessResult json =
      Inspect({"entries", game_dir(), "world_full", "--json", "--names=" + out("names.txt")});
  EXPECT_NE(json.out.find("{\"index\": 0, \"name\": \"Strings\", \"ext\": \"loc\", \"name_id\""),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("{\"index\": 2, \"name\": null, \"ext\": \"bin\", \"name_id\""),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("  ],\n  \"named\": 1\n}\n"), std::string::npos) << json.out;
}

TEST_F(InspectTest, EntriesFailsForAPackageTheGameDoesNotHave) {
  WriteGame(ExampleGame());
  const ProcessResult result = Inspect({"entries", game_dir(), "nowhere", "--json"});
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "vintrel-inspect: error: no package has the id of \"nowhere\" (" +
                            Id("nowhere") + ")\n");
}

TEST_F(InspectTest, FindListsThePackagesInArchivesThatHoldTheEntry) {
  WriteGame(ExampleGame());
  const ProcessResult result = Inspect({"find", game_dir(), "Hero", "DDS", "--json"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  std::string matches;
  for (const char* name : {"ui_common", "world_full", "patch_full"}) {
    const PackageLayout& package = Package(name);
    const uint32_t entry = std::string(name) == "world_full" ? 1 : 0;
    matches += std::string(matches.empty() ? "" : ",\n") + "    {\"package\": \"" + name +
               "\", \"id\": \"" + Id(name) +
               "\", \"archive\": " + std::to_string(package.record.archive_index) +
               ", \"offset\": " + std::to_string(package.offset) +
               ", \"entry\": " + std::to_string(entry) +
               ", \"raw_size\": " + std::to_string(package.entries[entry].data.size()) +
               ", \"meta_size\": 7}";
  }
  EXPECT_EQ(result.out, "{\n  \"name\": \"Hero\",\n  \"ext\": \"DDS\",\n  \"name_id\": \"" +
                            Id("hero") + "\",\n  \"ext_id\": \"" + Id("dds") +
                            "\",\n  \"matches\": [\n" + matches + "\n  ]\n}\n");
}

TEST_F(InspectTest, FindFailsWhenNoPackageHoldsTheEntry) {
  WriteGame(ExampleGame());
  const ProcessResult result = Inspect({"find", game_dir(), "hero", "png"});
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(OneErrorLine(result.err)) << result.err;
}

TEST_F(InspectTest, NamesCountsWhatTheListsNameAndWritesTheRest) {
  WriteGame(ExampleGame());
  ASSERT_TRUE(WriteTextFile(dir_ / "names.txt", "hero.dds\nSTRINGS\n"));
  const ProcessResult result = Inspect({"names", game_dir(), "--names", out("names.txt"), "--json",
                                        "--unknown", out("unknown.txt")});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.err, "");
  std::string packages;
  for (const auto& [name, entries, named] :
       std::vector<std::tuple<std::string, int, int>>{{"ui_common", 4, 1},
                                                      {"world_full", 3, 2},
                                                      {"sound_bank", 1, 0},
                                                      {"patch_full", 2, 1},
                                                      {"ui_extra", 1, 0},
                                                      {"scripts", 1, 0}}) {
    packages += std::string(packages.empty() ? "" : ",\n") + "    {\"name\": \"" + name +
                "\", \"id\": \"" + Id(name) + "\", \"entries\": " + std::to_string(entries) +
                ", \"named\": " + std::to_string(named) + "}";
  }
  EXPECT_EQ(result.out, "{\n  \"packages\": [\n" + packages +
                            "\n  ],\n  \"entries\": 12,\n  \"named\": 4,\n  \"ids\": 10,\n"
                            "  \"ids_named\": 2\n}\n");
  // Every other name id, in the order of the ids, with the packages that hold it.
  std::vector<std::string> lines;
  for (const auto& [name, packages] :
       std::vector<std::pair<std::string, std::string>>{{"menu", "ui_common"},
                                                        {"cursor", "ui_common"},
                                                        {"layout", "ui_common"},
                                                        {"terrain", "world_full"},
                                                        {"theme", "sound_bank"},
                                                        {"notes", "patch_full"},
                                                        {"icons", "ui_extra"},
                                                        {"startup", "scripts"}}) {
    lines.push_back(Id(name) + "\t" + packages + "\n");
  }
  std::sort(lines.begin(), lines.end());
  std::string unknown;
  for (const std::string& line : lines) unknown += line;
  EXPECT_EQ(ReadTextFile(dir_ / "unknown.txt"), unknown);
}

// A game whose scripts, configuration and binary files mention some of its entries, in split and
// full packages, beside a package that cannot be read and an entry whose block is damaged.
GameSpec GameThatNamesItsEntries() {
  Bytes sound = MakeData(200, 7);
  const std::string inBinary("\x93ui/cursor.dds\0", 15);
  sound.insert(sound.begin() + 100, inBinary.begin(), inBinary.end());
  GameSpec game;
  game.archives = {{1, "data"}};
  game.packages = {
      OneGroupPackage(
          "ui", true,
          {Entry("ui/hero", "dds", MakeData(64, 1)), Entry("ui/cursor", "dds", MakeData(64, 2)),
           Entry("fx.v2", "shader", MakeData(32, 3))}),
      OneGroupPackage(
          "data", false,
          {Entry("config/main", "ini",
                 TextBytes("hero = ui\\Hero.DDS\nfx = fx.v2.shader\nboom = 'sounds/boom'\n")),
           Entry("sounds/boom", "ogg", sound)}),
      OneGroupPackage("scripts", true,
                      {Entry("scripts/start", "lua",
                             TextBytes("load(\"ui/hero.png\") load(\"ui/missing.dds\") "
                                       "package(\"ui_common\") -- config/main is read first\n"))}),
      OneGroupPackage("damaged", true, {Entry("old/notes", "txt", TextBytes("\"old/notes\""))}),
      OneGroupPackage("broken", true, {Entry("x", "bin", TextBytes("\"x.bin\""))})};
  game.packages[3].fault = PackageFault::kCorruptBlock;
  game.packages[4].fault = PackageFault::kBadMagic;
  return game;
}

TEST_F(InspectTest, NamesHarvestKeepsWhatNamesAnEntryOfTheGame) {
  WriteGame(GameThatNamesItsEntries());
  ASSERT_TRUE(WriteTextFile(dir_ / "known.txt", "ui/cursor.dds\n"));
  const ProcessResult result = InspectAtEveryThreadCount(
      {"names", "harvest", game_dir(), out("found.txt"), "--names", out("known.txt")});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "read 6 entries in 4 packages and found 5 names, 4 of them new\nwrote \"" +
                            out("found.txt") + "\": 5 names\n");
  // The name of the game's hero comes with the ext an entry has, which ui/hero.png does not.
  EXPECT_EQ(ReadTextFile(dir_ / "found.txt"),
            "config/main\nfx.v2.shader\nsounds/boom\nui/Hero.DDS\nui/cursor.dds\n");
  EXPECT_NE(result.err.find("; its entry 0 passed over\n"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("package \"broken\""), std::string::npos) << result.err;
}

TEST_F(InspectTest, NamesHarvestMergesIntoTheUsersList) {
  WriteGame(GameThatNamesItsEntries());
  const std::filesystem::path data = dir_ / "data";
  ProcessOptions options;
  options.env = {{"XDG_DATA_HOME", data.string()}, {"APPDATA", data.string()}};
  // The folder is made; a later run keeps what the list holds, in the spelling it has there.
  const std::filesystem::path list = data / "vintrel" / "names" / "harvested.txt";
  ASSERT_EQ(RunProcess(VINTREL_INSPECT_EXE, {"names", "harvest", game_dir()}, options).exit_code,
            0);
  ASSERT_TRUE(WriteTextFile(list, "old/thing.dds\nUI/HERO.dds\n"));
  const ProcessResult result =
      RunProcess(VINTREL_INSPECT_EXE, {"names", "harvest", game_dir()}, options);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out.substr(0, result.out.find('\n')),
            "read 6 entries in 4 packages and found 5 names, 4 of them new");
  EXPECT_EQ(ReadTextFile(list),
            "UI/HERO.dds\nconfig/main\nfx.v2.shader\nold/thing.dds\nsounds/boom\nui/cursor.dds\n");
}

TEST_F(InspectTest, ExtractWritesTheEntryOfTheFirstOrTheChosenPackage) {
  GameSpec game = ExampleGame();
  game.packages[4].groups[0].entries[0].data = MakeData(64, 99);  // patch_full's own hero
  WriteGame(game);
  const struct {
    std::vector<std::string> pkg;
    std::string package;
    uint32_t entry;
    std::string warning;
  } cases[] = {
      {{},
       "ui_common",
       0,
       "vintrel-inspect: warning: \"hero\" \"dds\" is also in \"world_full\", \"patch_full\"; "
       "extracting it from \"ui_common\", the first in the manifest (choose with --pkg)\n"},
      {{"--pkg", "PATCH_FULL"}, "patch_full", 0, ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"extract", game_dir(), "hero", "dds", out("hero.dds")};
    args.insert(args.end(), c.pkg.begin(), c.pkg.end());
    const ProcessResult result = Inspect(args);
    EXPECT_EQ(result.exit_code, 0) << c.package << ": " << result.err;
    EXPECT_EQ(result.err, c.warning);
    const EntryLayout& entry = Package(c.package).entries[c.entry];
    EXPECT_EQ(ReadFile(dir_ / "hero.dds"), entry.data) << c.package;
    EXPECT_EQ(ReadFile(dir_ / "hero.dds.meta"), entry.meta) << c.package;
  }
}

TEST_F(InspectTest, ExtractWritesNothingWhenThePackageLacksTheEntry) {
  WriteGame(ExampleGame());
  const ProcessResult result =
      Inspect({"extract", game_dir(), "hero", "dds", out("hero.dds"), "--pkg", "sound_bank"});
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_EQ(result.err,
            "vintrel-inspect: error: package \"sound_bank\" holds no entry \"hero\" \"dds\"\n");
  for (const std::string& file : ListFiles(dir_.path()))
    EXPECT_EQ(file.rfind("game/", 0), 0u) << file;

  // Nor over a file of the game.
  const Bytes archive = *ReadFile(game_ / "data0.upak");
  const ProcessResult onGame =
      Inspect({"extract", game_dir(), "hero", "dds", (game_ / "data0.upak").string()});
  EXPECT_EQ(onGame.exit_code, 1);
  EXPECT_NE(onGame.err.find("is a file of the game"), std::string::npos) << onGame.err;
  EXPECT_EQ(ReadFile(game_ / "data0.upak"), archive);
}

TEST_F(InspectTest, VerifyFindsTheExampleGameIntact) {
  WriteGame(ExampleGame());
  const ProcessResult result = Inspect({"verify", game_dir()});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out,
            "checked 6 packages and 12 entries (1 package in no archive passed over): all "
            "intact\n");
}

TEST_F(InspectTest, VerifyNamesTheEntryWhoseBlockIsCorrupt) {
  GameSpec game = ExampleGame();
  game.packages[0].fault = PackageFault::kCorruptBlock;  // ui_common, its first entry's block
  WriteGame(game);
  const ProcessResult result = InspectAtEveryThreadCount({"verify", game_dir(), "--json"});
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_EQ(result.err, "");
  const std::string problem =
      "{\"package\": \"ui_common\", \"id\": \"" + Id("ui_common") +
      "\", \"archive\": 0, \"offset\": " + std::to_string(Package("ui_common").offset) +
      ", \"entry\": 0, \"name\": null, \"ext\": \"dds\", \"name_id\": \"" + Id("hero") +
      "\", \"ext_id\": \"" + Id("dds") + "\", \"error\": ";
  EXPECT_NE(result.out.find(problem), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("\"packages\": 6,\n  \"entries\": 12"), std::string::npos)
      << result.out;
}

TEST_F(InspectTest, PlanSaysWhatARunThenDoesAndWritesNothing) {
  WriteGame(ExampleGame());
  WriteMod(ExampleMod());
  ScratchDir before;
  ASSERT_TRUE(CopyTree(game_, before.path()));
  const ProcessResult plan = InspectAtEveryThreadCount({"plan", mod_dir(), game_dir(), "--json"});
  EXPECT_EQ(plan.exit_code, 0) << plan.err;
  // The replacing texture is smaller than the game's: a warning, in the document and on stderr,
  // with the command that makes one like the game's.
  const std::string texture =
      "\"hero.dds\" is DXT1 4x4, 3 mips; the game's \"hero\" \"dds\" in \"ui_common\" is DXT1 8x8, "
      "4 mips; make one with \"vintrel-inspect texture make " +
      (dir_ / "mod" / "hero.png").string() + " " + (dir_ / "mod" / "hero.dds").string() +
      " --game " + game_dir() + " --entry hero dds --pkg ui_common\"";
  EXPECT_EQ(plan.err, "vintrel-inspect: warning: " + texture + "\n");
  std::string escaped;
  for (char c : texture)
    escaped += c == '"' || c == '\\' ? "\\" + std::string(1, c) : std::string(1, c);
  EXPECT_NE(plan.out.find("\"warnings\": [\n    \"" + escaped + "\"\n  ]"), std::string::npos)
      << plan.out;
  EXPECT_EQ(DiffTrees(game_, before.path()), std::vector<std::string>{});
  // A stack of the mod checks its textures against the game's in the same words.
  const ProcessResult stack =
      Inspect({"stack", (dir_ / "stack").string(), mod_dir(), "--game", game_dir()});
  EXPECT_EQ(stack.exit_code, 0) << stack.err;
  EXPECT_EQ(stack.err, "vintrel-inspect: warning: " + texture + "\n");
  // The hero texture gets the metadata made from its own header.
  const std::string hero =
      "\"packages\": [\"ui_common\"], \"meta_from\": \"src\", \"meta\": \"" +
      Hex(TextureMeta(15, 3, 1, 4, 4)) +
      "\", \"texture\": {\"format\": 15, \"format_name\": \"DXT1\", \"width\": 4, \"height\": 4, "
      "\"depth\": 1, \"mips\": 3, \"kind\": \"flat\"}, \"loc\": null, \"problem\": null}";
  EXPECT_NE(plan.out.find(hero), std::string::npos) << plan.out;
  EXPECT_NE(plan.out.find("\"packages\": [\"world_full\"], \"meta_from\": \"src\""),
            std::string::npos)
      << plan.out;

  // Each rewritten package takes in the real user archive what the plan said.
  ASSERT_EQ(RunTool().exit_code, 0);
  std::string error;
  const auto after = ReadGame(game_, &error);
  ASSERT_TRUE(after) << error;
  const uint64_t archiveBytes = std::filesystem::file_size(game_ / "mod.upak");
  std::vector<std::pair<std::string, uint64_t>> moved;
  for (const ResolvedPackage& package : *after) {
    if (package.archive == "mod") moved.push_back({package.record.name, package.record.offset});
  }
  ASSERT_EQ(moved.size(), 2u);
  std::string rewrites;
  for (size_t i = 0; i < moved.size(); ++i) {
    const PackageLayout& was = Package(moved[i].first);
    const uint64_t end = i + 1 < moved.size() ? moved[i + 1].second : archiveBytes;
    rewrites += std::string(i == 0 ? "" : ",\n") + "    {\"package\": \"" + moved[i].first +
                "\", \"id\": \"" + Id(moved[i].first) +
                "\", \"archive\": " + std::to_string(was.record.archive_index) +
                ", \"offset\": " + std::to_string(was.offset) +
                ", \"new_offset\": " + std::to_string(moved[i].second) +
                ", \"bytes\": " + std::to_string(end - moved[i].second) + "}";
  }
  EXPECT_NE(plan.out.find("  \"rewrites\": [\n" + rewrites + "\n  ],\n  \"user_archive_bytes\": " +
                          std::to_string(archiveBytes) + ",\n"),
            std::string::npos)
      << plan.out;
}

TEST_F(InspectTest, PlanNamesEveryTextureTheToolWouldRefuseAndWritesNothing) {
  WriteGame(ExampleGame());
  ModFiles mod = ExampleModWith("hero.dds", Dxt2Texture());
  Bytes cursor = MakeDds(Dxt1Texture(4, 4, 8));
  cursor.resize(100);
  mod.push_back({"cursor.dds", cursor});
  mod.push_back({"vintrel.json", TextBytes(MakeConfigJson({{"hero", "dds", "hero.dds", {}, {}},
                                                           {"cursor", "dds", "cursor.dds", {}, {}}},
                                                          "mod"))});
  WriteMod(mod);
  ScratchDir before;
  ASSERT_TRUE(CopyTree(game_, before.path()));
  const ProcessResult plan = InspectAtEveryThreadCount({"plan", mod_dir(), game_dir()});
  EXPECT_EQ(plan.exit_code, 1) << plan.err;
  EXPECT_EQ(DiffTrees(game_, before.path()), std::vector<std::string>{});
  const std::string out = plan.out;
  EXPECT_EQ(out.substr(out.rfind('\n', out.size() - 2) + 1), "a run would fail: 2 errors\n");
  const std::string expected[] = {
      "vintrel-inspect: error: \"[^\"]*hero\\.dds\": unsupported texture format \\(FourCC "
      "\"DXT2\"\\)",
      "vintrel-inspect: error: \"[^\"]*cursor\\.dds\": the DDS file is shorter than its 128-byte "
      "header"};
  EXPECT_TRUE(std::regex_match(plan.err, std::regex(expected[0] + "\n" + expected[1] + "\n")))
      << plan.err;
  // A stack of the mod is written all the same, with a warning for each file a run would fail on.
  const ProcessResult stack =
      Inspect({"stack", (dir_ / "stack").string(), mod_dir(), "--game", game_dir()});
  EXPECT_EQ(stack.exit_code, 0) << stack.err;
  for (std::string line : expected) {
    line.replace(line.find("error"), 5, "warning");
    EXPECT_TRUE(
        std::regex_search(stack.err, std::regex(line + "; a run of the stack fails on it\n")))
        << stack.err;
  }
}

// The page is another printer of the same plan: standard output keeps its report, the page shows
// every texture it can decode and says why of one it cannot, and it never goes over the game.
TEST_F(InspectTest, PlanPageShowsEachTextureOrWhyNot) {
  WriteGame(ExampleGame());
  WriteMod(ExampleModWith("hero.dds", Dxt2Texture()));
  const std::string page = out("page.html");
  const ProcessResult json = Inspect({"plan", mod_dir(), game_dir(), "--json"});
  const ProcessResult withPage = Inspect({"plan", mod_dir(), game_dir(), "--json", "--html", page});
  EXPECT_EQ(withPage.exit_code, 1) << withPage.err;
  EXPECT_EQ(withPage.out, json.out);
  EXPECT_EQ(withPage.err, json.err);
  const auto html = ReadFile(page);
  ASSERT_TRUE(html);
  const std::string text(html->begin(), html->end());
  const auto count = [&text](const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  // The game's hero is a thumbnail; the mod's, whose format the image floor cannot read either,
  // a placeholder that says so.
  EXPECT_EQ(count("src=\"data:image/png;base64,"), 1u) << text;
  EXPECT_EQ(count("data-placeholder"), 1u) << text;
  EXPECT_NE(text.find("FourCC &quot;DXT2&quot;"), std::string::npos) << text;
  EXPECT_FALSE(std::filesystem::exists(page + ".tmp"));

  const ProcessResult textReport = Inspect({"plan", mod_dir(), game_dir(), "--html", page});
  const std::string wrote = "wrote the page \"" + page + "\"\n";
  EXPECT_EQ(textReport.out.substr(textReport.out.size() - wrote.size()), wrote);

  const std::string manifest = (game_ / "manifest.bin").string();
  const auto before = ReadFile(manifest);
  const ProcessResult refused = Inspect({"plan", mod_dir(), game_dir(), "--html", manifest});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_TRUE(OneErrorLine(refused.err)) << refused.err;
  EXPECT_NE(refused.err.find("is a file of the game"), std::string::npos) << refused.err;
  EXPECT_EQ(ReadFile(manifest), before);
}

// What a plan says of a run is what the run then does, on a few ways to fail.
TEST_F(InspectTest, PlanExitsAsARunDoes) {
  const struct {
    std::string name;
    std::function<void(GameSpec&, ModFiles&)> edit;
    bool gameUpdatedAfterARun;
    int exitCode;
  } cases[] = {
      {"nothing wrong", [](GameSpec&, ModFiles&) {}, false, 0},
      {"missing src file", [](GameSpec&, ModFiles& mod) { mod = ExampleModWith("hero.dds", {}); },
       false, 1},
      {"unsupported texture",
       [](GameSpec&, ModFiles& mod) { mod = ExampleModWith("hero.dds", Dxt2Texture()); }, false, 1},
      {"stale back-up", [](GameSpec&, ModFiles&) {}, true, 1},
      {"damaged package",
       // world_full, which the mod rewrites
       [](GameSpec& game, ModFiles&) { game.packages[1].fault = PackageFault::kCorruptBlock; },
       false, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ToolRun run;
    GameSpec game = ExampleGame();
    ModFiles mod = ExampleMod();
    c.edit(game, mod);
    std::string error;
    ASSERT_TRUE(vtest::WriteGame(game, run.game_path(), nullptr, &error)) << error;
    for (const auto& [name, bytes] : mod) ASSERT_TRUE(WriteFile(run.mod_path() / name, bytes));
    if (c.gameUpdatedAfterARun) {
      ASSERT_EQ(run.Run().exit_code, 0);
      game.packages.push_back(OneGroupPackage("update", true, {Entry("new", "bin", Bytes(9, 1))}));
      ASSERT_TRUE(vtest::WriteGame(game, run.game_path(), nullptr, &error)) << error;
    }
    ScratchDir before;
    ASSERT_TRUE(CopyTree(run.game_path(), before.path()));
    const ProcessResult plan = Inspect({"plan", run.mod(), run.game()});
    EXPECT_EQ(plan.exit_code, c.exitCode) << plan.err;
    EXPECT_EQ(DiffTrees(run.game_path(), before.path()), std::vector<std::string>{});
    EXPECT_EQ(run.Run().exit_code, c.exitCode);
  }
}

// Two runs, or one with fullcopy; restore leaves the game as it was before the first, without a
// user archive or a back-up.
TEST_F(InspectTest, RestorePutsTheGameBackByteForByte) {
  const std::string theme = MakeConfigJson({{"theme", "ogg", "theme.ogg", {}, {}}}, "mod");
  const std::string fullCopy =
      MakeConfigJson({{"hero", "dds", "hero.dds", std::string("ui_common"), {}}}, "mod", true);
  const struct {
    std::string name;
    std::vector<ModFiles> mods;
  } cases[] = {
      {"two runs",
       {ExampleMod(), {{"vintrel.json", TextBytes(theme)}, {"theme.ogg", MakeData(50, 9)}}}},
      {"fullcopy", {ExampleModWith("vintrel.json", TextBytes(fullCopy))}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ToolRun run;
    std::string error;
    ASSERT_TRUE(vtest::WriteGame(ExampleGame(), run.game_path(), nullptr, &error)) << error;
    ScratchDir untouched;
    ASSERT_TRUE(CopyTree(run.game_path(), untouched.path()));
    for (const ModFiles& mod : c.mods) {
      for (const auto& [name, bytes] : mod) ASSERT_TRUE(WriteFile(run.mod_path() / name, bytes));
      ASSERT_EQ(run.Run().exit_code, 0);
    }
    ASSERT_TRUE(std::filesystem::exists(run.game_path() / "mod.upak"));
    const ProcessResult restore = Inspect({"restore", run.game()});
    EXPECT_EQ(restore.exit_code, 0) << restore.err;
    EXPECT_EQ(restore.err, "");
    EXPECT_EQ(DiffTrees(run.game_path(), untouched.path()), std::vector<std::string>{});
  }
}

TEST_F(InspectTest, RestoreRefusesABackUpOlderThanTheGameAndChangesNothing) {
  GameSpec game = ExampleGame();
  WriteGame(game);
  WriteMod(ExampleMod());
  ASSERT_EQ(RunTool().exit_code, 0);
  game.packages.push_back(OneGroupPackage("update", true, {Entry("new", "bin", Bytes(9, 1))}));
  WriteGame(game);
  ScratchDir before;
  ASSERT_TRUE(CopyTree(game_, before.path()));
  const ProcessResult restore = Inspect({"restore", game_dir()});
  EXPECT_EQ(restore.exit_code, 1) << restore.err;
  EXPECT_EQ(restore.out, "");
  EXPECT_TRUE(OneErrorLine(restore.err)) << restore.err;
  EXPECT_NE(restore.err.find("changed since"), std::string::npos) << restore.err;
  EXPECT_EQ(DiffTrees(game_, before.path()), std::vector<std::string>{});
}

// After a game update only the stale back-up goes, and with --upak the user archive the new game
// no longer lists; every refusal leaves each file of the game as it was.
TEST_F(InspectTest, RestoreAfterUpdateRemovesOnlyWhatTheUpdateLeftStale) {
  const struct {
    std::string name;
    bool runTool;
    bool updateGame;
    std::vector<std::string> options;
    int exitCode;
    std::vector<std::string> removed;
  } cases[] = {
      {"after an update", true, true, {"--after-update"}, 0, {"origmanifest.bin"}},
      {"with the user archive",
       true,
       true,
       {"--after-update", "--upak", "mod"},
       0,
       {"mod.upak", "origmanifest.bin"}},
      {"manifest.bin is a run's", true, false, {"--after-update"}, 1, {}},
      {"an archive the manifest lists", true, true, {"--after-update", "--upak", "data1"}, 1, {}},
      {"no back-up", false, true, {"--after-update"}, 1, {}},
      {"--upak without --after-update", true, true, {"--upak", "mod"}, 2, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ToolRun run;
    GameSpec game = ExampleGame();
    std::string error;
    ASSERT_TRUE(vtest::WriteGame(game, run.game_path(), nullptr, &error)) << error;
    for (const auto& [name, bytes] : ExampleMod()) {
      ASSERT_TRUE(WriteFile(run.mod_path() / name, bytes));
    }
    if (c.runTool) {
      ASSERT_EQ(run.Run().exit_code, 0);
    }
    if (c.updateGame) {
      game.packages.push_back(OneGroupPackage("update", true, {Entry("new", "bin", Bytes(9, 1))}));
      ASSERT_TRUE(vtest::WriteGame(game, run.game_path(), nullptr, &error)) << error;
    }
    ScratchDir before;
    ASSERT_TRUE(CopyTree(run.game_path(), before.path()));
    std::vector<std::string> args = {"restore", run.game()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const ProcessResult restore = Inspect(args);
    EXPECT_EQ(restore.exit_code, c.exitCode) << restore.err;
    EXPECT_EQ(restore.out.empty(), c.exitCode != 0) << restore.out;
    EXPECT_EQ(restore.err.empty(), c.exitCode == 0) << restore.err;
    EXPECT_TRUE(c.exitCode == 0 || OneErrorLine(restore.err)) << restore.err;
    EXPECT_EQ(DiffTrees(run.game_path(), before.path()), c.removed);
  }
}

// The tool's refusal of a stale back-up names the command that removes it.
TEST_F(InspectTest, StaleBackUpErrorNamesRestoreAfterUpdate) {
  GameSpec game = ExampleGame();
  WriteGame(game);
  WriteMod(ExampleMod());
  ASSERT_EQ(RunTool().exit_code, 0);
  game.packages.push_back(OneGroupPackage("update", true, {Entry("new", "bin", Bytes(9, 1))}));
  WriteGame(game);
  const ProcessResult run = RunTool();
  EXPECT_EQ(run.exit_code, 1) << run.err;
  const std::string command = "vintrel-inspect restore --after-update " + game_dir();
  EXPECT_NE(run.err.find("; after a game update, run \"" + command + "\" and run again\n"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(Inspect({"restore", game_dir(), "--after-update", "--upak", "mod"}).exit_code, 0);
  EXPECT_EQ(RunTool().exit_code, 0);
}

TEST_F(InspectTest, BadCommandLinesAreUsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"repack", "game"},
      {"unpack", "game"},
      {"unpack", "game", "out", "--meta", "--meta"},
      {"prune", "mod", "game", "--json", "--dry-run", "--dry-run"},
      {"packages"},
      {"packages", "game", "more"},
      {"entries", "game", "town", "--bogus"},
      {"find", "game", "hero", "dds", "--pkg", "town"},
      {"extract", "game", "hero", "dds", "out", "--json"},
      {"extract", "game", "hero", "dds", "out", "--pkg"},
      {"verify", "game", "--json", "--json"},
      {"names", "harvest", "game", "out", "more"},
      {"plan", "game"},
      {"stack", "out", "mod", "--html", "page.html"},
      {"restore", "game", "--json"},
      {"texture"},
      {"texture", "unpack", "game"},
      {"texture", "export", "game", "hero", "out.png"},
      {"texture", "export", "in.dds", "out.png", "--pkg", "ui"},
      {"texture", "export", "in.dds", "out.png", "--mip", "first"},
      {"texture", "make", "in.png", "out.dds"},
      {"texture", "make", "in.png", "out.dds", "--like", "a.dds", "--format", "dxt1"},
      {"texture", "make", "in.png", "out.dds", "--game", "game"},
      {"texture", "make", "in.png", "out.dds", "--game", "game", "--entry", "hero"},
      {"texture", "make", "in.png", "out.dds", "--format", "dxt9"},
      {"texture", "make", "in.png", "out.dds", "--format", "dxt1", "--mips", "0"},
      {"texture", "make", "in.png", "out.dds", "--like", "a.dds", "--mips", "all"},
      {"texture", "make", "in.png", "out.dds", "--like", "a.dds", "--pkg", "ui"},
      {"texture", "sync", "mod"},
      {"texture", "sync", "mod", "--game", "game", "--dry-run", "--dry-run"},
  };
  for (const std::vector<std::string>& args : cases) {
    const ProcessResult result = Inspect(args);
    const std::string line = testing::PrintToString(args);
    EXPECT_EQ(result.exit_code, 2) << line;
    EXPECT_EQ(result.out, "") << line;
    EXPECT_TRUE(args.empty() || OneErrorLine(result.err)) << line << ": " << result.err;
  }
}

TEST_F(InspectTest, EveryCommandHasHelp) {
  for (const std::string command :
       {"packages GAMEDIR ", "entries GAMEDIR ", "find GAMEDIR ", "names GAMEDIR ",
        "extract GAMEDIR ", "unpack GAMEDIR OUTDIR ", "prune MODDIR GAMEDIR ",
        "texture export|make|sync ", "texture export (FILE.dds ", "texture make IN.png OUT.dds ",
        "texture sync MODDIR ", "plan MODDIR GAMEDIR ", "verify GAMEDIR ", "restore GAMEDIR ",
        "recover GAMEDIR"}) {
    // The command's words: those of small letters alone.
    std::vector<std::string> words;
    for (size_t at = 0, end; (end = command.find(' ', at)) != std::string::npos; at = end + 1) {
      const std::string word = command.substr(at, end - at);
      if (word.find_first_not_of("abcdefghijklmnopqrstuvwxyz") != std::string::npos) break;
      words.push_back(word);
    }
    words.push_back("--help");
    const ProcessResult result = Inspect(words);
    EXPECT_EQ(result.exit_code, 0) << command;
    EXPECT_EQ(result.out.rfind("Usage: vintrel-inspect " + command, 0), 0u) << result.out;
  }
  const ProcessResult form = Inspect({"names", "harvest", "--help"});
  EXPECT_EQ(form.out.rfind("Usage: vintrel-inspect names harvest GAMEDIR [OUT] ", 0), 0u)
      << form.out;
}

}  // namespace
}  // namespace vtest
