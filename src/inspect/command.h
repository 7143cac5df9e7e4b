#ifndef VINTREL_INSPECT_COMMAND_H_
#define VINTREL_INSPECT_COMMAND_H_

#include <cstdint>

// The options a command may take.
enum CommandOption : uint32_t {
  kOptionJson = 1,     // --json: one JSON document on standard output instead of text
  kOptionPkg = 2,      // --pkg PACKAGE: look in that package only
  kOptionThreads = 4,  // --threads N: how many threads do the work
};

// A command's arguments as its command line gave them.
struct CommandArgs {
  static constexpr uint32_t kMaxPositionals = 4;
  const char* positional[kMaxPositionals] = {};
  bool json = false;
  const char* pkg = nullptr;  // null when --pkg was not given
  uint32_t threads = 0;       // 0 when --threads was not given
};

// One command of the program: how it is called, what it does, and the function that does it. The
// function returns the exit status: 0 success, 1 failure (it has said why on standard error).
struct CommandSpec {
  const char* name;
  const char* synopsis;     // the arguments after the name: "GAMEDIR PACKAGE [--json]"
  const char* summary;      // one line for the program's list of commands
  const char* description;  // the --help text after the usage line; every line ends in "\n"
  uint32_t positionals;     // how many arguments it takes, exactly; CommandArgs holds up to 4
  uint32_t options;         // CommandOption bits
  int (*run)(const CommandArgs& args);
};

enum class ParseResult { kRun, kHelp, kUsageError };

// Parses the arguments argv[first..argc) of the command into *args. "--help" or "-h"
// anywhere asks for the command's help; "--" ends the options, so that a path may begin with '-';
// --json, --pkg PACKAGE and --threads N (or --pkg=PACKAGE, --threads=N) are taken where the
// command allows them. On a usage error (an unknown or repeated option, a missing or unusable
// value, the wrong number of arguments) it prints the error as one line, naming the command's
// --help, and returns kUsageError.
ParseResult parse_command_args(const CommandSpec& command, int argc, char* argv[], int first,
                               CommandArgs* args);

// The threads a command uses: --threads when given, else VINTREL_THREADS (a value that is no
// number of threads is warned about and passed over), else one per processor.
uint32_t inspect_thread_count(const CommandArgs& args);

// Prints the command's usage line and description on standard output.
void print_command_help(const CommandSpec& command);

#endif  // VINTREL_INSPECT_COMMAND_H_
