#include "inspect/inspect.h"

#include <cstdio>
#include <cstring>

#include "inspect/command.h"
#include "inspect/entries_command.h"
#include "inspect/extract_command.h"
#include "inspect/find_command.h"
#include "inspect/messages.h"
#include "inspect/names_command.h"
#include "inspect/packages_command.h"
#include "inspect/plan_command.h"
#include "inspect/prune_command.h"
#include "inspect/recover_command.h"
#include "inspect/restore_command.h"
#include "inspect/stack_command.h"
#include "inspect/texture_command.h"
#include "inspect/unpack_command.h"
#include "inspect/verify_command.h"

#ifndef VINTREL_VERSION
#define VINTREL_VERSION "unknown"
#endif

namespace {

// The commands in the order the usage text lists them: a modder's way through a game, from
// looking inside to trying a mod, checking the game and undoing the mod.
const CommandSpec* const kCommands[] = {
    &kPackagesCommand, &kEntriesCommand, &kFindCommand,    &kNamesCommand, &kExtractCommand,
    &kUnpackCommand,   &kPruneCommand,   &kTextureCommand, &kPlanCommand,  &kStackCommand,
    &kVerifyCommand,   &kRestoreCommand, &kRecoverCommand,
};

void print_usage(std::FILE* out) {
  std::fprintf(out,
               "Usage: %s COMMAND ARGUMENTS          (VintrelInspect.exe on Windows)\n"
               "\n"
               "Looks inside a game's manifest and package archives, tries a mod without\n"
               "changing anything, and undoes the tool's runs.\n"
               "\n"
               "Commands:\n",
               kProgramName);
  for (const CommandSpec* command : kCommands) {
    std::fprintf(out, "  %s %s\n      %s\n", command->name, command->synopsis, command->summary);
    for (const CommandSpec* const* form = command->forms; form && *form != nullptr; ++form) {
      std::fprintf(out, "  %s %s\n      %s\n", (*form)->name, (*form)->synopsis, (*form)->summary);
    }
  }
  std::fprintf(out,
               "\n"
               "\"%s COMMAND --help\" tells more of a command. Exit status: 0 success,\n"
               "1 failure, 2 usage error.\n",
               kProgramName);
}

const CommandSpec* find_command(const char* name) {
  for (const CommandSpec* command : kCommands) {
    if (std::strcmp(command->name, name) == 0) return command;
  }
  return nullptr;
}

int run(int argc, char* argv[]) {
  if (argc < 2) {
    print_usage(stderr);
    return kExitUsage;
  }
  const char* name = argv[1];
  if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0) {
    print_usage(stdout);
    return kExitSuccess;
  }
  if (std::strcmp(name, "--version") == 0) {
    std::printf("%s %s\n", kProgramName, VINTREL_VERSION);
    return kExitSuccess;
  }
  const CommandSpec* named = find_command(name);
  if (named == nullptr) {
    print_error("no command \"%s\"; see \"%s --help\"", name, kProgramName);
    return kExitUsage;
  }
  int first = 2;
  const CommandSpec& command = select_form(*named, argc, argv, &first);
  CommandArgs args;
  switch (parse_command_args(command, argc, argv, first, &args)) {
    case ParseResult::kHelp:
      print_command_help(command);
      return kExitSuccess;
    case ParseResult::kUsageError:
      return kExitUsage;
    case ParseResult::kRun:
      break;
  }
  return command.run(args);
}

}  // namespace

int inspect_main(int argc, char* argv[]) {
  const int status = run(argc, argv);
  // A report cut short by a full disk or a closed pipe must not pass for a whole one.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    print_error("cannot write the output");
    return kExitFailure;
  }
  return status;
}
