#include "tests/e2e/tool_runner.h"

namespace vtest {

ToolRun::ToolRun()
    : mod_(root_.MakeDir("mod")), game_(root_.MakeDir("game")), tmp_(root_.MakeDir("tmp")) {}

ProcessResult ToolRun::Run(const std::vector<std::string>& args) const {
  ProcessOptions options;
  options.env.push_back({"TMPDIR", tmp()});
  // Windows takes its temporary directory from TMP, then TEMP.
  options.env.push_back({"TMP", tmp()});
  options.env.push_back({"TEMP", tmp()});
  return RunProcess(VINTREL_EXE, args, options);
}

}  // namespace vtest
