// A fixture for end-to-end runs of the tool's main job: it writes a synthetic game into game/
// and a mod into mod/, runs the executable, and checks what the run left behind byte for byte
// against what the test says should have happened.
//
// Typical use:
//   WriteGame(game);
//   WriteMod({{"hero", "dds", "hero.dds"}});
//   WriteModFile("hero.dds", texture);
//   Outcome outcome;
//   outcome.replaced = {{"ui", "hero", "dds", texture, meta}};
//   ExpectSuccess(Run(), outcome);
#ifndef VINTREL_TESTS_E2E_GAME_RUN_H_
#define VINTREL_TESTS_E2E_GAME_RUN_H_

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/tool_runner.h"
#include "tests/support/bytes.h"
#include "tests/support/game_format.h"
#include "tests/support/game_reader.h"
#include "tests/support/game_writer.h"
#include "tests/support/replace_files.h"

namespace vtest {

// One entry that a run replaces, found by its package's record name and the entry's name and
// extension. `meta` is the metadata it must end up with; nullopt means its old metadata.
struct Replacement {
  std::string package;
  std::string name;
  std::string ext;
  Bytes data;
  std::optional<Bytes> meta;
};

// What a successful run must leave behind. Every package named in `moved` or in `replaced` is
// rewritten into the user archive (in manifest order); every other package stays where it was.
struct Outcome {
  std::vector<std::string> moved;
  std::vector<Replacement> replaced;
  std::string upak = "user";
  bool fullcopy = false;
  // Each line of standard error, in order, must end with the warning here; none when empty.
  std::vector<std::string> warnings;
};

class GameRunTest : public testing::Test {
 protected:
  // Writes the game into game/ and remembers its layout and the bytes of every file written.
  void WriteGame(const GameSpec& game);
  // Remembers game/ as it is now (after a test altered a file) as the untouched game.
  void SnapshotGame();
  // Writes mod/vintrel.json.
  void WriteMod(const std::vector<ConfigFile>& files,
                const std::optional<std::string>& upak = std::nullopt, bool fullcopy = false);
  // Writes mod/<relative> ("/" separated; directories are created).
  void WriteModFile(const std::string& relative, const Bytes& bytes);

  // Runs `tool mod game` at every thread count, which must all give the same bytes
  // (ToolRun::RunAtEveryThreadCount).
  ProcessResult Run() const { return run_.RunAtEveryThreadCount({run_.mod(), run_.game()}); }

  // The record names of the packages that lie in an archive, in manifest order.
  std::vector<std::string> ArchivedPackages() const;
  // The progress lines of these packages, in manifest order whatever the order given.
  std::string ProgressLines(const std::vector<std::string>& packages) const;

  // The run succeeded and wrote exactly `outcome`: stdout, the new manifest, the user archive
  // and every rewritten package in it, the game's own files untouched, and no other file.
  void ExpectSuccess(const ProcessResult& result, const Outcome& outcome) const;
  // The run failed with exit status 1 after printing the progress lines of `printed`, and said
  // why in one line on standard error that matches the regular expression `error`; the game's
  // archives, manifest.bin and origmanifest.bin hold what the game was written with.
  void ExpectFailure(const ProcessResult& result, const std::vector<std::string>& printed,
                     const std::string& error) const;
  // The game's archives are byte-identical to the snapshot, and origmanifest.bin holds the
  // snapshot's manifest.bin.
  void ExpectGameFilesUntouched() const;

  // game/<name>, empty when it cannot be read.
  Bytes ReadGameFile(const std::string& name) const;

  ToolRun run_;
  GameLayout layout_;
  std::map<std::string, Bytes> snapshot_;  // game/ file name -> bytes

 private:
  void ExpectRewrittenPackage(const PackageLayout& before, const ParsedPackage& after,
                              const Bytes& archive, const std::vector<Replacement>& replaced) const;
};

// A package holding `entries` in one group. Its record and header fields are derived from its
// name, so that a field copied from the wrong package shows.
PackageSpec MakePackage(const std::string& name, uint8_t archive, bool split,
                        std::vector<EntrySpec> entries);

// Opaque manifest sections 1 to 4, one of them empty.
std::array<Bytes, 4> OpaqueSections();

// Standard error of a failed run is one line, "vintrel: error: " and a reason; the line
// matches the regular expression `error`.
testing::AssertionResult OneErrorLine(const std::string& err, const std::string& error);

// Checks that two byte strings are equal; on a difference says where, not the whole strings.
testing::AssertionResult SameBytes(const Bytes& actual, const Bytes& expected);

}  // namespace vtest

#endif  // VINTREL_TESTS_E2E_GAME_RUN_H_
