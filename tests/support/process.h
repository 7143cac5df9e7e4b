// Runs an executable as a child process and captures what it prints.
#ifndef VINTREL_TESTS_SUPPORT_PROCESS_H_
#define VINTREL_TESTS_SUPPORT_PROCESS_H_

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vtest {

struct ProcessResult {
  bool started = false;  // false: the program could not be run; see `failure`
  int exit_code = -1;    // the exit status; -1 when it ended by a signal (Windows: a crash)
  // Standard output and error as a text-mode reader sees them: byte for byte on POSIX; on
  // Windows each "\r\n" that the C runtime's text mode wrote for "\n" reads as "\n".
  std::string out;
  std::string err;
  std::string failure;  // why it could not be run
};

struct ProcessOptions {
  // Variables set (or replaced) in the child's environment, e.g. {"TMPDIR", dir}; the rest of
  // the parent's environment is inherited.
  std::vector<std::pair<std::string, std::string>> env;
  // Variables removed from the child's environment.
  std::vector<std::string> unset_env;
  // Working directory of the child; empty keeps the parent's.
  std::filesystem::path cwd;
  // When set, the child is killed (SIGKILL, TerminateProcess) as soon as this file exists, as a
  // user's kill would end it in the middle of its work.
  std::filesystem::path kill_when_exists;
  // When set, the child is stopped (SIGSTOP; on Windows NtSuspendProcess) as soon as this file
  // exists, while_paused runs, and then the child goes on: something else happens at a known
  // moment of the child's work, however fast or slow the machine.
  std::filesystem::path pause_when_exists;
  std::function<void()> while_paused;
};

// Runs `program` with `args` (argv[1..]; argv[0] is `program`) without a shell, waits for it
// and returns its output and exit status. Standard input is empty.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options = {});

}  // namespace vtest

#endif  // VINTREL_TESTS_SUPPORT_PROCESS_H_
