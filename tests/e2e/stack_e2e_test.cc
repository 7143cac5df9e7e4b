// vintrel-inspect stack run as a process: each stack is applied by the real tool to a synthetic
// game, and every entry must then hold the bytes of the mod loaded last among those that replace
// it. Then the failures, which write nothing, and the two reports.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/game_format.h"
#include "tests/support/game_reader.h"
#include "tests/support/game_writer.h"
#include "tests/support/process.h"
#include "tests/support/replace_files.h"
#include "tests/support/scratch_dir.h"

namespace vtest {
namespace {

// A configured file whose bytes are its text; its meta file's too, when it has one.
struct StackFile {
  std::string name;
  std::string ext;
  std::optional<std::string> pkg;
  std::string text;
  std::optional<std::string> meta;
};

struct StackedMod {
  std::string dir;
  std::vector<StackFile> files;
};

// What an entry must hold after the tool ran on the stack.
struct Holds {
  std::string package;
  std::string name;
  std::string ext;
  std::string text;
  std::optional<std::string> meta;
};

// "ui" (split) and "world" (full), with entries that the cases' files replace.
GameSpec StackGame() {
  GameSpec game;
  game.archives = {{1, "base"}};
  const Bytes meta = TextBytes("old");
  game.packages = {
      OneGroupPackage(
          "ui", true,
          {Entry("hero", "bin", MakeData(40, 1)), Entry("menu", "txt", MakeData(30, 2), meta),
           Entry("map", "bin", MakeData(20, 3)), Entry("menu", "bin", MakeData(10, 4))}),
      OneGroupPackage(
          "world", false,
          {Entry("hero", "bin", MakeData(40, 5)), Entry("menu", "txt", MakeData(30, 6), meta)}),
  };
  return game;
}

class StackTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(WriteGame(StackGame(), game_, nullptr, &error)) << error;
  }
  void WriteMods(const std::vector<StackedMod>& mods) const {
    for (const StackedMod& mod : mods) {
      std::vector<ConfigFile> config;
      for (const StackFile& file : mod.files) {
        const std::string src = file.name + "." + file.ext + (file.pkg ? "." + *file.pkg : "");
        std::optional<std::string> meta;
        if (file.meta) meta = src + ".meta";
        config.push_back({file.name, file.ext, src, file.pkg, meta});
        ASSERT_TRUE(WriteTextFile(dir_ / mod.dir / src, file.text));
        if (file.meta) {
          ASSERT_TRUE(WriteTextFile(dir_ / mod.dir / *meta, *file.meta));
        }
      }
      ASSERT_TRUE(WriteTextFile(dir_ / mod.dir / "vintrel.json", MakeConfigJson(config, mod.dir)));
    }
  }
  ProcessResult Stack(const std::vector<std::string>& mods,
                      const std::vector<std::string>& options = {}) const {
    std::vector<std::string> args = {"stack", out()};
    for (const std::string& mod : mods) args.push_back((dir_ / mod).string());
    args.insert(args.end(), options.begin(), options.end());
    return RunProcess(VINTREL_INSPECT_EXE, args);
  }
  ProcessResult RunTool() const {
    return RunProcess(VINTREL_EXE, {out(), game_.string(), dir_.MakeDir("tmp").string()});
  }
  // Every entry of holds has the text, and the meta when given, that it says.
  void ExpectHolds(const std::vector<Holds>& holds, const std::string& what) const {
    std::string error;
    const auto game = ReadGame(game_, &error);
    ASSERT_TRUE(game) << error;
    for (const Holds& expected : holds) {
      const ParsedEntry* found = nullptr;
      for (const ResolvedPackage& package : *game) {
        if (package.record.name != expected.package || !package.package) continue;
        for (const ParsedEntry& entry : package.package->entries) {
          if (entry.name_id == NameHash(expected.name) && entry.ext_id == NameHash(expected.ext)) {
            found = &entry;
          }
        }
      }
      const std::string where = what + ": " + expected.package + " " + expected.name;
      ASSERT_NE(found, nullptr) << where;
      EXPECT_EQ(found->data, TextBytes(expected.text)) << where;
      if (expected.meta) {
        EXPECT_EQ(found->meta, TextBytes(*expected.meta)) << where;
      }
    }
  }
  std::string out() const { return (dir_ / "stack").string(); }

  ScratchDir dir_;
  std::filesystem::path game_ = dir_.MakeDir("game");
};

TEST_F(StackTest, TheModLoadedLastWinsEachEntry) {
  const struct {
    const char* what;
    std::vector<StackedMod> mods;
    std::vector<Holds> holds;
    const char* reported;  // in the report's conflict rows
  } cases[] = {
      {"two mods",
       {{"a", {{"hero", "bin", {}, "a hero", {}}, {"menu", "txt", {}, "a menu", {}}}},
        {"b", {{"hero", "bin", {}, "b hero", {}}}}},
       {{"ui", "hero", "bin", "b hero", {}},
        {"world", "hero", "bin", "b hero", {}},
        {"ui", "menu", "txt", "a menu", {}},
        {"world", "menu", "txt", "a menu", {}}},
       "left out"},
      {"three mods",
       {{"a",
         {{"hero", "bin", {}, "a hero", {}},
          {"menu", "txt", {}, "a menu", {}},
          {"map", "bin", {}, "a map", {}}}},
        {"b", {{"hero", "bin", {}, "b hero", {}}, {"map", "bin", {}, "b map", {}}}},
        {"c", {{"map", "bin", {}, "c map", {}}}}},
       {{"ui", "hero", "bin", "b hero", {}},
        {"ui", "menu", "txt", "a menu", {}},
        {"ui", "map", "bin", "c map", {}}},
       "left out"},
      {"a later pkg-specific file over a generic one",
       {{"a", {{"hero", "bin", {}, "a hero", {}}}}, {"b", {{"hero", "bin", "ui", "b hero", {}}}}},
       {{"ui", "hero", "bin", "b hero", {}}, {"world", "hero", "bin", "a hero", {}}},
       "loses where both apply"},
      {"a later generic file over a pkg-specific one",
       {{"a", {{"hero", "bin", "ui", "a hero", {}}}}, {"b", {{"hero", "bin", {}, "b hero", {}}}}},
       {{"ui", "hero", "bin", "b hero", {}}, {"world", "hero", "bin", "b hero", {}}},
       "left out"},
      {"identical files",
       {{"a", {{"hero", "bin", {}, "same", {}}}}, {"b", {{"hero", "bin", {}, "same", {}}}}},
       {{"ui", "hero", "bin", "same", {}}},
       "left out, identical"},
      {"the same name with another ext",
       {{"a", {{"menu", "txt", {}, "a menu", {}}}}, {"b", {{"menu", "bin", {}, "b menu", {}}}}},
       {{"ui", "menu", "txt", "a menu", {}}, {"ui", "menu", "bin", "b menu", {}}},
       nullptr},
      {"meta files",
       {{"a", {{"menu", "txt", {}, "a menu", "a meta"}}},
        {"b", {{"menu", "txt", {}, "b menu", "b meta"}}}},
       {{"ui", "menu", "txt", "b menu", "b meta"}, {"world", "menu", "txt", "b menu", "b meta"}},
       "left out"},
  };
  for (const auto& c : cases) {
    // Each case on the game as it was written, not as the last run left it.
    std::filesystem::remove_all(game_);
    std::filesystem::create_directory(game_);
    SetUp();
    std::filesystem::remove_all(dir_ / "stack");
    for (const char* mod : {"a", "b", "c"}) std::filesystem::remove_all(dir_ / mod);
    WriteMods(c.mods);
    std::vector<std::string> mods;
    for (const StackedMod& mod : c.mods) mods.push_back(mod.dir);
    const ProcessResult stacked = Stack(mods);
    ASSERT_EQ(stacked.exit_code, 0) << c.what << "\n" << stacked.err;
    EXPECT_EQ(stacked.err, "") << c.what;
    if (c.reported != nullptr) {
      EXPECT_NE(stacked.out.find(std::string("  ") + c.reported + "\n"), std::string::npos)
          << c.what << "\n"
          << stacked.out;
    } else {
      EXPECT_EQ(stacked.out.find("outcome"), std::string::npos) << c.what << "\n" << stacked.out;
    }
    EXPECT_EQ(ListFiles(dir_ / "stack"), std::vector<std::string>{"vintrel.json"}) << c.what;
    // The same mods give the same bytes, over what a stopped stack left in its temporary file.
    const auto first = ReadFile(dir_ / "stack" / "vintrel.json");
    ASSERT_TRUE(WriteTextFile(dir_ / "stack" / "vintrel.json.tmp", "{\"files\": ["));
    ASSERT_EQ(Stack(mods).exit_code, 0) << c.what;
    EXPECT_EQ(ReadFile(dir_ / "stack" / "vintrel.json"), first) << c.what;
    EXPECT_EQ(ListFiles(dir_ / "stack"), std::vector<std::string>{"vintrel.json"}) << c.what;

    const ProcessResult run = RunTool();
    ASSERT_EQ(run.exit_code, 0) << c.what << "\n" << run.err;
    EXPECT_EQ(run.err.find("can never be used"), std::string::npos) << c.what << "\n" << run.err;
    ExpectHolds(c.holds, c.what);
  }
}

TEST_F(StackTest, FailuresWriteNothing) {
  WriteMods({{"a", {{"hero", "bin", {}, "a hero", {}}}}});
  ASSERT_TRUE(WriteTextFile(dir_ / "bad" / "vintrel.json", "{\"files\": [\n}"));
  const struct {
    const char* what;
    std::vector<std::string> mods;
    const char* other;  // a file OUTDIR holds, if any
    const char* error;  // in standard error
  } cases[] = {
      {"OUTDIR holds another file", {"a"}, "notes.txt", "holds \"notes.txt\""},
      {"a missing mod directory", {"a", "missing"}, nullptr, "the mod directory does not exist"},
      {"bad JSON", {"bad", "a"}, nullptr, "vintrel.json\" line 2"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(dir_ / "stack");
    if (c.other != nullptr) {
      ASSERT_TRUE(WriteTextFile(dir_ / "stack" / c.other, "mine"));
    }
    const ProcessResult result = Stack(c.mods);
    EXPECT_EQ(result.exit_code, 1) << c.what;
    EXPECT_EQ(result.out, "") << c.what;
    EXPECT_NE(result.err.find(c.error), std::string::npos) << c.what << "\n" << result.err;
    if (c.other != nullptr) {
      EXPECT_EQ(ListFiles(dir_ / "stack"), std::vector<std::string>{c.other}) << c.what;
    } else {
      EXPECT_FALSE(std::filesystem::exists(dir_ / "stack")) << c.what;
    }
  }
}

std::string Id(const std::string& name) {
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, NameHash(name));
  return text;
}

// A path as a JSON string holds it: Windows' backslashes escaped.
std::string JsonPath(const std::filesystem::path& path) {
  std::string escaped;
  for (char c : path.string()) {
    if (c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

TEST_F(StackTest, JsonReportsTheConflictsAndTheFiles) {
  WriteMods({{"a", {{"hero", "bin", {}, "same", {}}}}, {"b", {{"hero", "bin", {}, "same", {}}}}});
  const ProcessResult result = Stack({"a", "b"}, {"--json", "--upak", "mine"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  const std::string a = JsonPath(dir_ / "a");
  const std::string b = JsonPath(dir_ / "b");
  const std::string ids = "\"name_id\": \"" + Id("hero") + "\", \"ext_id\": \"" + Id("bin") + "\"";
  for (const std::string& part :
       {std::string("  \"upak\": \"mine\",\n  \"fullcopy\": false,\n"),
        "    {\"mod\": \"" + b + "\", \"name\": \"hero\", \"ext\": \"bin\", " + ids +
            ", \"pkg\": null, \"pkg_id\": null, \"left_out\": false},\n",
        "    {\"name\": \"hero\", \"ext\": \"bin\", " + ids + ", \"winner\": \"" + b +
            "\", \"winner_pkg\": null, \"winner_pkg_id\": null, \"loser\": \"" + a +
            "\", \"loser_pkg\": null, \"loser_pkg_id\": null, \"left_out\": true, "
            "\"identical\": true}\n",
        std::string("  \"entries\": null,\n  \"game_files\": null,\n  \"written\": 1,\n")}) {
    EXPECT_NE(result.out.find(part), std::string::npos) << part << "\n" << result.out;
  }
  const auto config = ReadTextFile(dir_ / "stack" / "vintrel.json");
  ASSERT_TRUE(config);
  EXPECT_EQ(*config,
            "{\n  \"upak\": \"mine\",\n  \"fullcopy\": false,\n  \"files\": [\n"
            "    {\"name\": \"hero\", \"ext\": \"bin\", \"src\": \"../b/hero.bin\"}\n  ]\n}\n");
}

TEST_F(StackTest, GameReportsEntriesAndFiles) {
  WriteMods({{"a", {{"hero", "bin", {}, "a hero", {}}, {"ghost", "bin", {}, "a ghost", {}}}},
             {"b", {{"hero", "bin", "ui", "b hero", {}}}}});
  const ProcessResult result = Stack({"a", "b"}, {"--game", game_.string()});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  const std::string a = (dir_ / "a").string();
  const std::string b = (dir_ / "b").string();
  for (const std::string& row : {"ui       hero  bin  " + b + "  \"" + a + "\"\n",
                                 a + "  hero   bin       loses some entries, wins others\n",
                                 a + "  ghost  bin       replaces nothing\n"}) {
    EXPECT_NE(result.out.find(row), std::string::npos) << row << "\n" << result.out;
  }
}

// A mod may give an entry by its ids: the stack keeps the ids, its report shows the names the
// other mods and the game's package names give them, and the tool applies it.
TEST_F(StackTest, FilesGivenByIdKeepTheirIds) {
  WriteMods({{"a", {{"hero", "bin", {}, "a hero", {}}}}});
  ASSERT_TRUE(WriteTextFile(dir_ / "c" / "hero.bin", "c hero"));
  const std::string ids = "\"name_id\": \"" + Id("hero") + "\", \"ext_id\": \"" + Id("bin") + "\"";
  ASSERT_TRUE(WriteTextFile(
      dir_ / "c" / "vintrel.json",
      "{\"files\": [{" + ids + ", \"pkg_id\": \"" + Id("ui") + "\", \"src\": \"hero.bin\"}]}"));
  const ProcessResult result = Stack({"a", "c"}, {"--game", game_.string()});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  const std::string a = (dir_ / "a").string();
  const std::string c = (dir_ / "c").string();
  EXPECT_NE(result.out.find("ui       hero  bin  " + c + "  \"" + a + "\"\n"), std::string::npos)
      << result.out;
  EXPECT_EQ(
      ReadTextFile(dir_ / "stack" / "vintrel.json"),
      "{\n  \"upak\": \"user\",\n  \"fullcopy\": false,\n  \"files\": [\n    {" + ids +
          ", \"src\": \"../c/hero.bin\", \"pkg_id\": \"" + Id("ui") +
          "\"},\n    {\"name\": \"hero\", \"ext\": \"bin\", \"src\": \"../a/hero.bin\"}\n  ]\n}\n");
  ASSERT_EQ(RunTool().exit_code, 0);
  ExpectHolds({{"ui", "hero", "bin", "c hero", {}}, {"world", "hero", "bin", "a hero", {}}}, "ids");
}

}  // namespace
}  // namespace vtest
