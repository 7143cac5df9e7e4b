#include "inspect/command.h"

#include <cstdio>
#include <cstring>

#include "inspect/messages.h"

namespace {

ParseResult usage_error(const CommandSpec& command, const char* what, const char* argument) {
  print_error("%s %s%s; see \"%s %s --help\"", command.name, what, argument, kProgramName,
              command.name);
  return ParseResult::kUsageError;
}

bool starts_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

ParseResult parse_command_args(const CommandSpec& command, int argc, char* argv[], int first,
                               CommandArgs* args) {
  // Help wins over every error, wherever it stands before a "--".
  for (int i = first; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      return ParseResult::kHelp;
    }
  }
  uint32_t count = 0;
  bool optionsEnded = false;
  for (int i = first; i < argc; ++i) {
    const char* arg = argv[i];
    if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
      if (count == command.positionals)
        return usage_error(command, "takes no further argument: ", arg);
      args->positional[count++] = arg;
    } else if (std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
    } else if ((command.options & kOptionJson) && std::strcmp(arg, "--json") == 0) {
      if (args->json) return usage_error(command, "got --json twice", "");
      args->json = true;
    } else if ((command.options & kOptionPkg) &&
               (std::strcmp(arg, "--pkg") == 0 || starts_with(arg, "--pkg="))) {
      if (args->pkg != nullptr) return usage_error(command, "got --pkg twice", "");
      if (arg[5] == '=') {
        args->pkg = arg + 6;
      } else if (i + 1 < argc) {
        args->pkg = argv[++i];
      } else {
        return usage_error(command, "needs a package after --pkg", "");
      }
    } else {
      return usage_error(command, "has no option ", arg);
    }
  }
  if (count < command.positionals) {
    print_error("%s needs %u argument%s: %s; see \"%s %s --help\"", command.name,
                command.positionals, command.positionals == 1 ? "" : "s", command.synopsis,
                kProgramName, command.name);
    return ParseResult::kUsageError;
  }
  return ParseResult::kRun;
}

void print_command_help(const CommandSpec& command) {
  std::printf("Usage: %s %s %s\n\n%s", kProgramName, command.name, command.synopsis,
              command.description);
}
