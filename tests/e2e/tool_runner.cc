#include "tests/e2e/tool_runner.h"

#include <gtest/gtest.h>

#include <string>

namespace vtest {

ToolRun::ToolRun()
    : mod_(root_.MakeDir("mod")), game_(root_.MakeDir("game")), tmp_(root_.MakeDir("tmp")) {}

ProcessResult ToolRun::Run(const std::vector<std::string>& args,
                           const std::filesystem::path& killWhenExists) const {
  ProcessOptions options;
  options.kill_when_exists = killWhenExists;
  return Run(args, std::move(options));
}

ProcessResult ToolRun::Run(const std::vector<std::string>& args, ProcessOptions options) const {
  options.env.push_back({"TMPDIR", tmp()});
  // Windows takes its temporary directory from TMP, then TEMP.
  options.env.push_back({"TMP", tmp()});
  options.env.push_back({"TEMP", tmp()});
  return RunProcess(VINTREL_EXE, args, options);
}

ProcessResult ToolRun::RunAtEveryThreadCount(const std::vector<std::string>& args) const {
  namespace fs = std::filesystem;
  const ScratchDir before;
  const ScratchDir first;
  EXPECT_TRUE(CopyTree(game_, before.path() / "game"));
  ProcessResult firstResult;
  ProcessResult result;
  bool isFirst = true;
  for (int threads : kThreadCounts) {
    SCOPED_TRACE(testing::Message() << threads << " threads");
    if (!isFirst) {
      fs::remove_all(game_);
      EXPECT_TRUE(CopyTree(before.path() / "game", game_));
    }
    ProcessOptions options;
    options.env.push_back({"VINTREL_THREADS", std::to_string(threads)});
    result = Run(args, options);
    if (isFirst) {
      firstResult = result;
      EXPECT_TRUE(CopyTree(game_, first.path() / "game"));
      EXPECT_TRUE(CopyTree(tmp_, first.path() / "tmp"));
      isFirst = false;
      continue;
    }
    EXPECT_EQ(result.exit_code, firstResult.exit_code);
    EXPECT_EQ(result.out, firstResult.out);
    EXPECT_EQ(result.err, firstResult.err);
    EXPECT_EQ(DiffTrees(first.path() / "game", game_), std::vector<std::string>{});
    EXPECT_EQ(DiffTrees(first.path() / "tmp", tmp_), std::vector<std::string>{});
  }
  return result;
}

GameSpec OneSplitPackageGame() {
  GameSpec game;
  game.archives = {{0, "base"}};
  PackageSpec package;
  package.record.name = "level1";
  package.record.package_id = NameHash("level1");
  package.archive_index = 0;
  package.groups.resize(1);
  package.groups[0].entries = {Entry("data", "bin", Bytes(300, 7), {1, 2, 3}),
                               Entry("other", "bin", Bytes(50, 9), {4})};
  game.packages.push_back(package);
  game.opaque_sections = {Bytes{1}, Bytes{2, 2}, Bytes{}, Bytes{4}};
  return game;
}

}  // namespace vtest
