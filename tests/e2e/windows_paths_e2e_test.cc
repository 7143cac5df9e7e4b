// Paths as Windows users give them: drive letters, backslashes, directories that already end in a
// backslash, names with spaces, relative paths, and the temporary directory that the system names.
// The cases that only Windows has are skipped elsewhere; the rest run on both platforms, where the
// POSIX backend reads every backslash as a separator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/tool_runner.h"
#include "tests/support/game_reader.h"
#include "tests/support/game_writer.h"
#include "tests/support/replace_files.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using vtest::ProcessOptions;
using vtest::ProcessResult;

constexpr bool kWindows = fs::path::preferred_separator == '\\';

const char kProgress[] = "Updating files in package \"level1\" (split compress).\n";
const vtest::Bytes kReplacement(1000, 0x42);

// Every separator a backslash, as Windows users write paths.
std::string Backslashed(const fs::path& path) {
  std::string text = path.string();
  std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

vtest::GameSpec SplitGame() { return vtest::OneSplitPackageGame(); }

// A game and a mod that replaces "data.bin", laid out in `game` and `mod`.
void WriteGameAndMod(const fs::path& game, const fs::path& mod) {
  std::string error;
  ASSERT_TRUE(vtest::WriteGame(SplitGame(), game, nullptr, &error)) << error;
  ASSERT_TRUE(vtest::WriteTextFile(mod / "vintrel.json",
                                   vtest::MakeConfigJson({{"data", "bin", "data.bin", {}, {}}})));
  ASSERT_TRUE(vtest::WriteFile(mod / "data.bin", kReplacement));
}

// The bytes of "data.bin" as the game in `dir` now holds them; empty when it cannot be read.
vtest::Bytes DataEntry(const fs::path& dir) {
  std::string error;
  const auto game = vtest::ReadGame(dir, &error);
  if (!game) return {};
  for (const vtest::ResolvedPackage& resolved : *game) {
    if (!resolved.package) continue;
    for (const vtest::ParsedEntry& entry : resolved.package->entries) {
      if (entry.name_id == vtest::NameHash("data")) return entry.data;
    }
  }
  return {};
}

ProcessResult RunTool(const std::vector<std::string>& args, const ProcessOptions& options = {}) {
  return vtest::RunProcess(VINTREL_EXE, args, options);
}

// A run that replaced "data.bin" and left no temporary file in `tmp`.
void ExpectReplaced(const ProcessResult& result, const fs::path& game, const fs::path& tmp) {
  ASSERT_TRUE(result.started) << result.failure;
  EXPECT_EQ(result.exit_code, 0) << result.out;
  EXPECT_EQ(result.out, kProgress);
  EXPECT_EQ(DataEntry(game), kReplacement);
  EXPECT_TRUE(vtest::ListFiles(tmp).empty());
}

class WindowsPaths : public testing::Test {
 protected:
  void SetUp() override { WriteGameAndMod(run_.game_path(), run_.mod_path()); }

  vtest::ToolRun run_;
};

TEST_F(WindowsPaths, BackslashedAbsolutePaths) {
  ExpectReplaced(RunTool({Backslashed(run_.mod_path()), Backslashed(run_.game_path()),
                          Backslashed(run_.tmp_path())}),
                 run_.game_path(), run_.tmp_path());
}

// Each directory gets a backslash appended and is used as it stands, doubled backslash and all.
TEST_F(WindowsPaths, DirectoriesAlreadyEndingInABackslash) {
  ExpectReplaced(RunTool({Backslashed(run_.mod_path()) + "\\", Backslashed(run_.game_path()) + "\\",
                          Backslashed(run_.tmp_path()) + "\\"}),
                 run_.game_path(), run_.tmp_path());
  EXPECT_TRUE(fs::exists(run_.game_path() / "user.upak"));
  EXPECT_TRUE(fs::exists(run_.game_path() / "origmanifest.bin"));
}

TEST_F(WindowsPaths, RelativePathsFromTheWorkingDirectory) {
  ProcessOptions options;
  options.cwd = run_.root().path();
  ExpectReplaced(RunTool({".\\mod", "game\\", "tmp"}, options), run_.game_path(), run_.tmp_path());
}

// The source directory comes back in the message about the missing configuration, so it shows
// that each argument reached the tool unchanged: spaces, backslashes before a quote or at the
// end, which the command line of a Windows child must escape.
TEST_F(WindowsPaths, ArgumentsReachTheToolUnchanged) {
  const std::string root = Backslashed(run_.root().path());
  const std::string sources[] = {
      root + "\\my mod",    root + "\\my mod\\",  root + "\\two\\\\",     root + "\\a\"quote",
      root + "\\b\\\"both", root + "\\tab\there", root + "\\end quote\"",
  };
  for (const std::string& source : sources) {
    SCOPED_TRACE(source);
    const ProcessResult result = RunTool({source, run_.game()});
    ASSERT_TRUE(result.started) << result.failure;
    EXPECT_EQ(result.exit_code, 1) << result.err;
    EXPECT_EQ(result.out,
              "Failed to read \"" + source + "\\vintrel.json\".\nFailed to load config.\n");
  }
}

// A directory whose name has a space, given with a trailing backslash: the quoted argument ends
// in backslashes that must not swallow the closing quote.
TEST_F(WindowsPaths, SpacedDirectoriesWithTrailingBackslash) {
  const fs::path mod = run_.root().MakeDir("my mod");
  const fs::path game = run_.root().MakeDir("my game");
  WriteGameAndMod(game, mod);
  ExpectReplaced(RunTool({Backslashed(mod) + "\\", Backslashed(game) + "\\",
                          Backslashed(run_.tmp_path()) + "\\"}),
                 game, run_.tmp_path());
}

// Names that no ANSI code page holds all of (é, Cyrillic and CJK letters) in every path the tool
// takes: the mod, game and temporary directories, as arguments and from the system, and a "src"
// of vintrel.json. A message that names such a path gives it in UTF-8, as it was given.
TEST_F(WindowsPaths, NamesBeyondTheAnsiCodePage) {
  const fs::path mod = run_.root().path() / fs::u8path(u8"mod_é_мод_模组");
  const fs::path game = run_.root().MakeDir(u8"игра é 游戏");
  const fs::path tmp = run_.root().MakeDir(u8"tmp_ł_時");
  std::string error;
  ASSERT_TRUE(vtest::WriteGame(SplitGame(), game, nullptr, &error)) << error;
  const std::string source = u8"данные_数据.bin";
  ASSERT_TRUE(vtest::WriteTextFile(mod / "vintrel.json",
                                   vtest::MakeConfigJson({{"data", "bin", source, {}, {}}})));
  ASSERT_TRUE(vtest::WriteFile(mod / fs::u8path(source), kReplacement));
  ExpectReplaced(RunTool({Backslashed(mod), Backslashed(game), Backslashed(tmp)}), game, tmp);

  ProcessOptions fromSystem;
  for (const char* name : {"TMPDIR", "TMP", "TEMP"})
    fromSystem.env.push_back({name, Backslashed(tmp)});
  ExpectReplaced(RunTool({Backslashed(mod), Backslashed(game)}, fromSystem), game, tmp);

  fs::remove(mod / fs::u8path(source));
  const ProcessResult missing = RunTool({Backslashed(mod), Backslashed(game), Backslashed(tmp)});
  EXPECT_EQ(missing.exit_code, 1);
  const fs::path missingPath = mod / fs::u8path(source);
  const std::string shown = kWindows ? Backslashed(missingPath) : missingPath.string();
  EXPECT_NE(missing.err.find("cannot read \"" + shown + "\""), std::string::npos) << missing.err;
}

bool HasDriveLetter(const std::string& path) {
  return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
         (path[2] == '\\' || path[2] == '/');
}

TEST_F(WindowsPaths, DriveLetterPathsInEveryForm) {
  if (!kWindows) GTEST_SKIP() << "drive letters are Windows paths";
  const std::string mod = Backslashed(fs::absolute(run_.mod_path()));
  const std::string game = Backslashed(fs::absolute(run_.game_path()));
  ASSERT_TRUE(HasDriveLetter(mod)) << mod;
  std::string lowerDriveMod = mod;
  lowerDriveMod[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(mod[0])));
  std::string slashedGame = game;
  std::replace(slashedGame.begin(), slashedGame.end(), '\\', '/');
  const std::pair<std::string, std::string> forms[] = {
      {mod, game},
      {lowerDriveMod, slashedGame},
      {mod + "\\", slashedGame + "/"},
  };
  for (const auto& [modForm, gameForm] : forms) {
    SCOPED_TRACE(modForm + " " + gameForm);
    ExpectReplaced(RunTool({modForm, gameForm, run_.tmp()}), run_.game_path(), run_.tmp_path());
  }
}

// The directories beside the tool: under wine, on its drive Z:, which maps the build machine's
// root, rather than the prefix's own C:.
TEST(WindowsPathsElsewhere, DirectoriesBesideTheTool) {
  const std::string tool = Backslashed(fs::path(VINTREL_EXE));
  if (!kWindows || !HasDriveLetter(tool)) GTEST_SKIP() << "needs a drive-letter path of the tool";
  // Named after a scratch directory, which is unique while it lives.
  const vtest::ScratchDir scratch;
  const fs::path root = fs::path(tool).parent_path() / scratch.path().filename();
  std::error_code ignored;
  ASSERT_TRUE(fs::create_directories(root / "tmp"));
  ASSERT_TRUE(fs::create_directories(root / "game"));
  WriteGameAndMod(root / "game", root / "mod");
  ExpectReplaced(
      RunTool({Backslashed(root / "mod"), Backslashed(root / "game"), Backslashed(root / "tmp")}),
      root / "game", root / "tmp");
  fs::remove_all(root, ignored);
}

// Where the temporary file goes without a third argument: GetTempPathW takes TMP, then TEMP;
// TMPDIR means nothing there. A directory that does not exist cannot take the file, so the run
// fails exactly when the system's choice falls on it.
TEST_F(WindowsPaths, TemporaryDirectoryComesFromTmpThenTemp) {
  if (!kWindows) GTEST_SKIP() << "Windows takes its temporary directory from TMP and TEMP";
  const fs::path blocked = run_.root().path() / "absent";
  const std::string clean = Backslashed(run_.tmp_path());
  const std::string bad = Backslashed(blocked);
  struct Case {
    const char* what;
    std::optional<std::string> tmp;
    std::optional<std::string> temp;
    bool succeeds;
  } cases[] = {
      {"TMP first", clean, bad, true},
      {"TMP with its backslash", clean + "\\", bad, true},
      {"TMP first, blocked", bad, clean, false},
      {"TEMP without TMP", std::nullopt, clean, true},
      {"TEMP without TMP, blocked", std::nullopt, bad, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error;
    ASSERT_TRUE(vtest::WriteGame(SplitGame(), run_.game_path(), nullptr, &error)) << error;
    fs::remove(run_.game_path() / "origmanifest.bin");
    ProcessOptions options;
    options.env.push_back({"TMPDIR", bad});
    for (const auto& [name, value] :
         {std::make_pair("TMP", c.tmp), std::make_pair("TEMP", c.temp)}) {
      if (value) {
        options.env.push_back({name, *value});
      } else {
        options.unset_env.push_back(name);
      }
    }
    const ProcessResult result = RunTool({run_.mod(), run_.game()}, options);
    ASSERT_TRUE(result.started) << result.failure;
    if (c.succeeds) {
      ExpectReplaced(result, run_.game_path(), run_.tmp_path());
    } else {
      EXPECT_EQ(result.exit_code, 1) << result.err;
      EXPECT_NE(DataEntry(run_.game_path()), kReplacement);
    }
    EXPECT_FALSE(fs::exists(blocked));
  }
}

// Directories longer than the narrow file functions of Windows take (MAX_PATH, 260 characters)
// and than the 261 characters that the driver first offers the system for its temporary
// directory.
class LongPaths : public WindowsPaths {
 protected:
  void SetUp() override {
    WindowsPaths::SetUp();
    fs::path deep = run_.root().path();
    for (char c : {'p', 'q'}) deep /= std::string(150, c);
    ASSERT_TRUE(fs::create_directories(deep));
    deep_ = deep;
    ASSERT_GT(Backslashed(deep_).size(), 300u);
  }

  fs::path deep_;
};

TEST_F(LongPaths, TemporaryDirectoryArgument) {
  ExpectReplaced(RunTool({run_.mod(), run_.game(), Backslashed(deep_)}), run_.game_path(), deep_);
}

TEST_F(LongPaths, SourceAndDestinationDirectories) {
  const fs::path mod = deep_ / "mod";
  const fs::path game = deep_ / "game";
  ASSERT_TRUE(fs::create_directories(game));
  WriteGameAndMod(game, mod);
  ExpectReplaced(RunTool({Backslashed(mod), Backslashed(game), run_.tmp()}), game, run_.tmp_path());
  EXPECT_TRUE(fs::exists(game / "origmanifest.bin"));
}

// Short relative paths whose full form is longer than MAX_PATH: what decides between the narrow
// and the long form of a path is the length of the full path the system makes of it. Windows
// starts no process in a working directory of MAX_PATH characters or more (unless the system's
// long-path setting is on), so the working directory is the first level of the deep directory,
// and the relative paths reach below it.
TEST_F(LongPaths, RelativePathsUnderADeepWorkingDirectory) {
  const fs::path cwd = deep_.parent_path();
  ASSERT_LT(cwd.string().size(), 240u);
  const std::string below = deep_.filename().string() + "\\";
  ASSERT_TRUE(fs::create_directories(deep_ / "game"));
  ASSERT_TRUE(fs::create_directories(deep_ / "tmp"));
  WriteGameAndMod(deep_ / "game", deep_ / "mod");
  ProcessOptions options;
  options.cwd = cwd;
  ExpectReplaced(RunTool({below + "mod", below + "game", below + "tmp"}, options), deep_ / "game",
                 deep_ / "tmp");
}

// The system may refuse a temporary directory that long (Windows does); the driver then fails
// with its message before touching the game. When the system names it, the run uses it.
TEST_F(LongPaths, SystemTemporaryDirectory) {
  ProcessOptions options;
  for (const char* name : {"TMPDIR", "TMP", "TEMP"}) {
    options.env.push_back({name, Backslashed(deep_)});
  }
  const ProcessResult result = RunTool({run_.mod(), run_.game()}, options);
  ASSERT_TRUE(result.started) << result.failure;
  if (result.exit_code == 1 && result.out == "Failed to get temp path.\n") {
    EXPECT_FALSE(fs::exists(run_.game_path() / "origmanifest.bin"));
    return;
  }
  ExpectReplaced(result, run_.game_path(), deep_);
}

}  // namespace
