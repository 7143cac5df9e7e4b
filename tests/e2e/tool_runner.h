// Runs the built tool as a process on scratch directories.
#ifndef VINTREL_TESTS_E2E_TOOL_RUNNER_H_
#define VINTREL_TESTS_E2E_TOOL_RUNNER_H_

#include <string>
#include <vector>

#include "tests/support/game_writer.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"

namespace vtest {

// A scratch layout for one run: mod/ (the source directory), game/ (the destination) and tmp/
// (the temporary directory, given to the tool through TMPDIR, and TMP and TEMP on Windows).
class ToolRun {
 public:
  ToolRun();

  std::string mod() const { return mod_.string(); }
  std::string game() const { return game_.string(); }
  std::string tmp() const { return tmp_.string(); }
  const std::filesystem::path& mod_path() const { return mod_; }
  const std::filesystem::path& game_path() const { return game_; }
  const std::filesystem::path& tmp_path() const { return tmp_; }
  const ScratchDir& root() const { return root_; }

  // Runs the tool with these arguments (TMPDIR, TMP and TEMP set to tmp/); killed as soon as
  // killWhenExists exists, when given.
  ProcessResult Run(const std::vector<std::string>& args,
                    const std::filesystem::path& killWhenExists = {}) const;
  // The same with further options (kill_when_exists, pause_when_exists, the environment).
  ProcessResult Run(const std::vector<std::string>& args, ProcessOptions options) const;
  // Runs `tool mod game`.
  ProcessResult Run() const { return Run({mod(), game()}); }

  // The thread counts every run of RunAtEveryThreadCount is made with, the last one last.
  static constexpr int kThreadCounts[] = {8, 3, 2, 1};
  // Runs the tool with these arguments once at each of kThreadCounts (VINTREL_THREADS), each time
  // on game/ as it was before, and adds a test failure unless standard output, standard error,
  // the exit status and every file left in game/ and tmp/ are the same at every count. Returns
  // the result of the last run, whose files game/ and tmp/ hold.
  ProcessResult RunAtEveryThreadCount(const std::vector<std::string>& args) const;

 private:
  ScratchDir root_;
  std::filesystem::path mod_;
  std::filesystem::path game_;
  std::filesystem::path tmp_;
};

// A game of one archive "base" whose only package, "level1", is a split package holding
// "data.bin" and "other.bin": replacing either needs the temporary file.
GameSpec OneSplitPackageGame();

}  // namespace vtest

#endif  // VINTREL_TESTS_E2E_TOOL_RUNNER_H_
