#include "tests/e2e/tool_runner.h"

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
