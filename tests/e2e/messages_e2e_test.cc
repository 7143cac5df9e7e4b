// What the tool tells people on standard error, as a process: one line that says why a run failed
// (standard output exactly as before), warnings about likely mistakes after a run that succeeded,
// and the refusals that protect a game: a user archive name that would reach a game file, another
// run in the same directory, a back-up older than the game's manifest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/file_lock.h"
#include "tests/e2e/game_run.h"
#include "tests/support/scratch_dir.h"

namespace vtest {
namespace {

namespace fs = std::filesystem;

// The mod's own file: "data" "bin" replaces the split package's first entry.
std::vector<ConfigFile> DataMod() { return {{"data", "bin", "data.bin", {}, {}}}; }

class Messages : public GameRunTest {
 public:
  // For the cases below, which set a run up from outside.
  using GameRunTest::run_;
  using GameRunTest::WriteModFile;
  std::string Mod() const { return run_.mod(); }
  std::string Game() const { return run_.game(); }

 protected:
  void SetUp() override {
    WriteGame(OneSplitPackageGame());
    WriteMod(DataMod(), std::string("mod"));
    WriteModFile("data.bin", MakeData(100, 1));
  }
};

// A failure before anything is written: stdout as the tool has always printed it, one error line
// that matches `error`, and the game untouched.
struct EarlyFailure {
  const char* name;
  std::function<std::vector<std::string>(Messages&)> setup;  // the tool's arguments
  std::function<std::string(Messages&)> out;                 // standard output
  const char* error;
};

void PrintTo(const EarlyFailure& c, std::ostream* os) { *os << c.name; }

std::string NoOutput(Messages&) { return ""; }

std::string ConfigFailure(const std::string& line) { return line + "Failed to load config.\n"; }

const EarlyFailure kEarlyFailures[] = {
    {"MissingModDirectory",
     [](Messages& t) {
       return std::vector<std::string>{t.Mod() + "-gone", t.Game()};
     },
     [](Messages& t) {
       return ConfigFailure("Failed to read \"" + t.Mod() + "-gone\\vintrel.json\".\n");
     },
     "\"[^\"]*mod-gone.\": the mod directory does not exist"},
    {"MissingConfiguration",
     [](Messages& t) {
       fs::remove(t.run_.mod_path() / "vintrel.json");
       return std::vector<std::string>{t.Mod(), t.Game()};
     },
     [](Messages& t) {
       return ConfigFailure("Failed to read \"" + t.Mod() + "\\vintrel.json\".\n");
     },
     "cannot read \"[^\"]*vintrel\\.json\": "},
    {"JsonSyntaxError",
     [](Messages& t) {
       t.WriteModFile("vintrel.json", TextBytes("{\n  \"upak\": \"mod\"\n  \"files\": []\n}"));
       return std::vector<std::string>{t.Mod(), t.Game()};
     },
     [](Messages&) {
       return ConfigFailure("Failed to parse \"{\n  \"upak\": \"mod\"\n  \"files\": []\n}\".\n");
     },
     "\"[^\"]*vintrel\\.json\" line 3, column 3: expected ',' or '}'"},
    {"FileWithoutName",
     [](Messages& t) {
       t.WriteModFile("vintrel.json", TextBytes("{\"files\": [{\"name\": \"a\", \"ext\": \"b\", "
                                                "\"src\": \"c\"}, {\"ext\": \"b\"}]}"));
       return std::vector<std::string>{t.Mod(), t.Game()};
     },
     [](Messages&) { return ConfigFailure("Missing name.\n"); },
     "\"[^\"]*vintrel\\.json\": file 2 of \"files\" has no \"name\" text"},
    {"MissingGameDirectory",
     [](Messages& t) {
       return std::vector<std::string>{t.Mod(), t.Game() + "-gone"};
     },
     NoOutput, "\"[^\"]*game-gone.\": the game directory does not exist"},
    {"MissingManifest",
     [](Messages& t) {
       fs::rename(t.run_.game_path() / "manifest.bin", t.run_.game_path() / "elsewhere.bin");
       return std::vector<std::string>{t.Mod(), t.Game()};
     },
     NoOutput, "manifest\\.bin\": there is no such file; is this the game's data directory\\?"},
    {"ManifestThatIsNotOne",
     [](Messages& t) {
       EXPECT_TRUE(WriteFile(t.run_.game_path() / "manifest.bin", Bytes(20, 1)));
       return std::vector<std::string>{t.Mod(), t.Game()};
     },
     NoOutput, "manifest\\.bin\": not a manifest: shorter than the 44-byte header"},
    {"BackUpThatCannotBeRead",
     [](Messages& t) {
       fs::create_directory(t.run_.game_path() / "origmanifest.bin");
       return std::vector<std::string>{t.Mod(), t.Game()};
     },
     [](Messages&) { return std::string("Failed to back up pc.mnfst.\n"); },
     "cannot open \"[^\"]*origmanifest\\.bin\": "},
};

class EarlyFailures : public Messages, public testing::WithParamInterface<EarlyFailure> {};

TEST_P(EarlyFailures, SayWhyAndChangeNothing) {
  const std::vector<std::string> args = GetParam().setup(*this);
  ScratchDir before;
  ASSERT_TRUE(CopyTree(run_.game_path(), before.path()));
  const ProcessResult result = run_.Run(args);
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_EQ(result.out, GetParam().out(*this));
  EXPECT_TRUE(OneErrorLine(result.err, GetParam().error));
  EXPECT_EQ(DiffTrees(run_.game_path(), before.path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Cases, EarlyFailures, testing::ValuesIn(kEarlyFailures),
                         [](const testing::TestParamInfo<EarlyFailure>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(Messages, UserArchiveNamesThatWindowsWouldMisreadAreRefused) {
  SnapshotGame();
  for (const char* upak : {"CON", "nul.txt", "Com7", "lpt1.x", "mod.", "mod "}) {
    SCOPED_TRACE(upak);
    WriteMod(DataMod(), std::string(upak));
    const ProcessResult result = Run();
    EXPECT_EQ(result.exit_code, 1) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(
        OneErrorLine(result.err, "\"upak\" \"" + std::string(upak) + "\" (is a name|ends)"));
  }
  // A link is the same file under another name; so are other spellings on Windows.
  std::error_code error;
  fs::create_symlink("base.upak", run_.game_path() / "alias.upak", error);
  if (!error) {
    SnapshotGame();
    WriteMod(DataMod(), std::string("alias"));
    // Once: copying the game for other thread counts would not keep the link.
    const ProcessResult result = run_.Run();
    EXPECT_EQ(result.exit_code, 1) << result.err;
    EXPECT_TRUE(OneErrorLine(result.err, "\"upak\" \"alias\" names an archive of the game"));
  }
  ExpectGameFilesUntouched();
}

TEST_F(Messages, MissingTemporaryDirectoryIsNamed) {
  SnapshotGame();
  const ProcessResult result = run_.Run({Mod(), Game(), run_.tmp() + "-gone"});
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_EQ(result.out, ProgressLines({"level1"}));
  EXPECT_TRUE(OneErrorLine(result.err, "cannot create a temporary file in \"[^\"]*tmp-gone.\": "));
  ExpectGameFilesUntouched();
}

// A small file system of its own, mounted for the test when the system lets it (root on Linux).
class SmallDisk {
 public:
  explicit SmallDisk(const fs::path& where) : where_(where) {
    fs::create_directories(where);
    const std::string command =
        "mount -t tmpfs -o size=256k vintrel-test \"" + where.string() + "\" 2>/dev/null";
    mounted_ = std::system(command.c_str()) == 0;
  }
  ~SmallDisk() {
    if (!mounted_) return;
    // When the unmount fails, only the test's scratch directory stays behind, still mounted.
    [[maybe_unused]] const int status =
        std::system(("umount \"" + where_.string() + "\" 2>/dev/null").c_str());
  }
  bool mounted() const { return mounted_; }

 private:
  fs::path where_;
  bool mounted_ = false;
};

TEST_F(Messages, FullDiskIsNamedAndLeavesTheGameAsItWas) {
  SmallDisk disk(run_.root().path() / "small");
  if (!disk.mounted()) GTEST_SKIP() << "no small file system can be mounted here";
  const fs::path game = run_.root().path() / "small" / "game";
  ASSERT_TRUE(CopyTree(run_.game_path(), game));
  WriteModFile("data.bin", MakeData(400 * 1024, 2));
  ScratchDir before;
  ASSERT_TRUE(CopyTree(game, before.path()));
  const ProcessResult result = run_.Run({Mod(), game.string(), run_.tmp()});
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_EQ(result.out, ProgressLines({"level1"}));
  EXPECT_TRUE(OneErrorLine(result.err, "\"[^\"]*mod\\.upak\\.tmp\": No space left on device"));
  std::vector<std::string> changed = DiffTrees(game, before.path());
  EXPECT_EQ(changed, std::vector<std::string>{"origmanifest.bin"});
}

TEST_F(Messages, AnotherRunHoldingTheDirectoryStopsThisOneBeforeItWrites) {
  ScratchDir before;
  ASSERT_TRUE(CopyTree(run_.game_path(), before.path()));
  FileLock other;
  bool busy = false;
  ASSERT_TRUE(other.Acquire((run_.game_path() / "vintrel.lock").string().c_str(), &busy));
  // Once: the game is not copied afresh while another holds its lock.
  const ProcessResult result = run_.Run();
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(OneErrorLine(result.err, "another run is using this directory"));
  other.Release();
  EXPECT_EQ(DiffTrees(run_.game_path(), before.path()), std::vector<std::string>{});
}

TEST_F(Messages, BackUpOlderThanTheGamesManifestIsRefused) {
  ASSERT_EQ(Run().exit_code, 0);
  // A game update: the archives and manifest.bin are the new game's, with one more package.
  GameSpec updated = OneSplitPackageGame();
  updated.packages.push_back(OneGroupPackage("level2", true, {Entry("more", "bin", Bytes(9, 1))}));
  std::string error;
  ASSERT_TRUE(vtest::WriteGame(updated, run_.game_path(), nullptr, &error)) << error;
  const std::vector<std::string> before = ListFiles(run_.game_path());
  const Bytes manifest = ReadGameFile("manifest.bin");
  const ProcessResult result = Run();
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(OneErrorLine(result.err,
                           "manifest\\.bin\": changed since \"[^\"]*origmanifest\\.bin\" was made "
                           "\\(the number of packages differs\\); after a game update, run "
                           "\"vintrel-inspect restore --after-update [^\"]*\" and run again"));
  EXPECT_EQ(ListFiles(run_.game_path()), before);
  EXPECT_EQ(ReadGameFile("manifest.bin"), manifest);
}

TEST_F(Messages, WarningsFollowASuccessfulRun) {
  std::string files;
  for (int i = 0; i < 23; ++i) {
    files += ", {\"name\": \"absent" + std::to_string(i) + "\", \"ext\": \"bin\", \"src\": \"x\"}";
  }
  WriteModFile(
      "vintrel.json",
      TextBytes("{\"upack\": \"x\", \"fullcopy\": \"yes\", \"colour\": 1, \"files\": ["
                "{\"name\": \"data\", \"ext\": \"bin\", \"src\": \"data.bin\", \"pgk\": 1},"
                "{\"name\": \"DATA\", \"ext\": \"BIN\", \"src\": \"data.bin\", \"pkg\": \"x\"}" +
                files + "]}"));
  Outcome outcome;
  outcome.replaced = {{"level1", "data", "bin", MakeData(100, 1), std::nullopt}};
  outcome.warnings = {
      "vintrel.json\": unknown key \"upack\" at the top level; did you mean \"upak\"?",
      "vintrel.json\": unknown key \"colour\" at the top level is ignored",
      "vintrel.json\": \"fullcopy\" is \"yes\", which is neither true nor false; it was taken as "
      "false",
      "vintrel.json\": unknown key \"pgk\" in file 1 of \"files\"; did you mean \"pkg\"?",
      "vintrel.json\": file 2 of \"files\" (\"DATA\" \"BIN\", pkg \"x\") can never be used: file "
      "1 comes first and takes every entry this one could replace",
  };
  for (int i = 0; i < 20; ++i) {
    outcome.warnings.push_back("file " + std::to_string(i + 3) + " of \"files\" (\"absent" +
                               std::to_string(i) + "\" \"bin\") replaced no entry in any package");
  }
  outcome.warnings.push_back("3 more configured files replaced no entry in any package");
  ExpectSuccess(Run(), outcome);
}

// Two real runs on one game: the one that comes second fails at once and changes nothing, the
// first completes exactly as it would alone; a killed run leaves nothing that blocks the next.
TEST(RunsAtOnce, OneCompletesTheOtherStopsAndAKilledRunBlocksNothing) {
  ToolRun run;
  GameSpec game;
  game.archives = {{0, "big"}};
  for (int i = 0; i < 40; ++i) {
    PackageSpec package = OneGroupPackage("p" + std::to_string(i), true,
                                          {Entry("data", "bin", MakeData(1 << 19, i))});
    package.level = 1;
    game.packages.push_back(package);
  }
  std::string error;
  ASSERT_TRUE(WriteGame(game, run.game_path(), nullptr, &error)) << error;
  ASSERT_TRUE(WriteTextFile(run.mod_path() / "vintrel.json",
                            MakeConfigJson({{"data", "bin", "data.bin", {}, {}}}, "mod")));
  ASSERT_TRUE(WriteFile(run.mod_path() / "data.bin", MakeData(1 << 19, 99)));
  ScratchDir alone;
  ASSERT_TRUE(CopyTree(run.game_path(), alone.path()));
  ASSERT_EQ(run.Run({run.mod(), alone.path().string(), run.tmp()}).exit_code, 0);

  // The second run comes while the first holds the directory, paused once it has begun to write.
  ScratchDir secondTmp;
  ProcessResult second;
  ProcessOptions options;
  options.pause_when_exists = run.game_path() / "mod.upak.tmp";
  options.while_paused = [&] {
    second = run.Run({run.mod(), run.game(), secondTmp.path().string()});
  };
  const ProcessResult first = run.Run({run.mod(), run.game()}, options);
  EXPECT_EQ(first.exit_code, 0) << first.err;
  EXPECT_EQ(second.exit_code, 1);
  EXPECT_TRUE(OneErrorLine(second.err, "another run is using this directory"));
  EXPECT_EQ(DiffTrees(run.game_path(), alone.path()), std::vector<std::string>{});

  // Killed while it holds the directory, halfway through its work.
  ScratchDir killedTmp;
  const ProcessResult killed =
      run.Run({run.mod(), run.game(), killedTmp.path().string()}, run.game_path() / "mod.upak.tmp");
  EXPECT_NE(killed.exit_code, 0);
  const ProcessResult next = run.Run();
  EXPECT_EQ(next.exit_code, 0) << next.err;
  std::vector<std::string> left = DiffTrees(run.game_path(), alone.path());
  left.erase(std::remove(left.begin(), left.end(), "vintrel.lock"), left.end());
  EXPECT_EQ(left, std::vector<std::string>{});
}

}  // namespace
}  // namespace vtest
