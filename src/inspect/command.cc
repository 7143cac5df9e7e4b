#include "inspect/command.h"

#include <cstdio>
#include <cstring>

#include "driver/thread_count.h"
#include "inspect/messages.h"

namespace {

ParseResult usage_error(const CommandSpec& command, const char* what, const char* argument) {
  print_usage_error(command, what, argument);
  return ParseResult::kUsageError;
}

// The value of option name ("--pkg") at argv[*i]: after its '=' or the next argument, which *i
// then moves to. Null when there is none.
const char* option_value(const char* name, int argc, char* argv[], int* i) {
  const char* arg = argv[*i];
  const size_t length = std::strlen(name);
  if (arg[length] == '=') return arg + length + 1;
  if (*i + 1 < argc) return argv[++*i];
  return nullptr;
}

// Whether arg is option name, alone or with "=value".
bool is_option(const char* arg, const char* name) {
  const size_t length = std::strlen(name);
  return std::strncmp(arg, name, length) == 0 && (arg[length] == '\0' || arg[length] == '=');
}

// The usage error of an option given twice; always false.
bool option_twice(const CommandSpec& command, const char* name) {
  print_error("%s got %s twice; see \"%s %s --help\"", command.name, name, kProgramName,
              command.name);
  return false;
}

// Takes the value of option name into *value. A usage error when it was given before or has none.
bool take_value(const CommandSpec& command, const char* name, const char* what, int argc,
                char* argv[], int* i, const char** value) {
  if (*value != nullptr) return option_twice(command, name);
  *value = option_value(name, argc, argv, i);
  if (*value != nullptr) return true;
  print_error("%s needs %s after %s; see \"%s %s --help\"", command.name, what, name, kProgramName,
              command.name);
  return false;
}

// Moves argv[from] down to argv[to], the arguments between moving up by one.
void move_down(char* argv[], int from, int to) {
  char* moved = argv[from];
  for (int k = from; k > to; --k) argv[k] = argv[k - 1];
  argv[to] = moved;
}

// An option that may be given any number of times. Its values gather in argv after the
// arguments, each option's after the one before it in kRepeatedOptions.
struct RepeatedOption {
  CommandOption bit;
  const char* name;
  const char* what;  // what its value is, for a usage error
  OptionValues CommandArgs::*values;
};

const RepeatedOption kRepeatedOptions[] = {
    {kOptionNames, "--names", "a file", &CommandArgs::names},
    {kOptionPkgs, "--pkg", "a package", &CommandArgs::pkgs},
    {kOptionMatch, "--match", "a pattern", &CommandArgs::matches},
};
constexpr uint32_t kRepeatedCount = sizeof(kRepeatedOptions) / sizeof(kRepeatedOptions[0]);

// An option without a value, given at most once.
struct FlagOption {
  CommandOption bit;
  const char* name;
  bool CommandArgs::*flag;
};

const FlagOption kFlagOptions[] = {
    {kOptionJson, "--json", &CommandArgs::json},
    {kOptionAfterUpdate, "--after-update", &CommandArgs::afterUpdate},
    {kOptionMeta, "--meta", &CommandArgs::meta},
    {kOptionForce, "--force", &CommandArgs::force},
    {kOptionDryRun, "--dry-run", &CommandArgs::dryRun},
    {kOptionResize, "--resize", &CommandArgs::resize},
    {kOptionPng, "--png", &CommandArgs::png},
};

// An option with one value, given at most once: --name VALUE or --name=VALUE.
struct ValueOption {
  CommandOption bit;
  const char* name;
  const char* what;  // what its value is, for a usage error
  const char* CommandArgs::*value;
};

const ValueOption kValueOptions[] = {
    {kOptionPkg, "--pkg", "a package", &CommandArgs::pkg},
    {kOptionUpak, "--upak", "a name", &CommandArgs::upak},
    {kOptionGame, "--game", "a game directory", &CommandArgs::game},
    {kOptionUnknown, "--unknown", "a file", &CommandArgs::unknown},
    {kOptionMip, "--mip", "a mip level", &CommandArgs::mip},
    {kOptionLike, "--like", "a DDS file", &CommandArgs::like},
    {kOptionFormat, "--format", "a texture format", &CommandArgs::format},
    {kOptionMips, "--mips", "a number of mip levels or \"all\"", &CommandArgs::mips},
    {kOptionHtml, "--html", "a file", &CommandArgs::html},
};

// --entry NAME EXT: its two values, the second always the next argument.
bool take_entry(const CommandSpec& command, int argc, char* argv[], int* i, CommandArgs* args) {
  if (!take_value(command, "--entry", "a name and an extension", argc, argv, i, &args->entryName)) {
    return false;
  }
  if (*i + 1 < argc) {
    args->entryExt = argv[++*i];
    return true;
  }
  print_error("%s needs an extension after --entry %s; see \"%s %s --help\"", command.name,
              args->entryName, kProgramName, command.name);
  return false;
}

}  // namespace

const CommandSpec& select_form(const CommandSpec& command, int argc, char* argv[], int* first) {
  if (command.forms == nullptr || *first >= argc) return command;
  for (const CommandSpec* const* form = command.forms; *form != nullptr; ++form) {
    const char* word = std::strchr((*form)->name, ' ');
    if (word != nullptr && std::strcmp(word + 1, argv[*first]) == 0) {
      ++*first;
      return **form;
    }
  }
  return command;
}

ParseResult parse_command_args(const CommandSpec& command, int argc, char* argv[], int first,
                               CommandArgs* args) {
  // Help wins over every error, wherever it stands before a "--".
  for (int i = first; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      return ParseResult::kHelp;
    }
  }
  uint32_t count = 0;
  uint32_t repeated[kRepeatedCount] = {};
  bool optionsEnded = false;
  for (int i = first; i < argc; ++i) {
    const char* arg = argv[i];
    const RepeatedOption* option = nullptr;
    for (const RepeatedOption& candidate : kRepeatedOptions) {
      if ((command.options & candidate.bit) && is_option(arg, candidate.name)) option = &candidate;
    }
    const FlagOption* flag = nullptr;
    for (const FlagOption& candidate : kFlagOptions) {
      if ((command.options & candidate.bit) && std::strcmp(arg, candidate.name) == 0) {
        flag = &candidate;
      }
    }
    const ValueOption* valued = nullptr;
    for (const ValueOption& candidate : kValueOptions) {
      if ((command.options & candidate.bit) && is_option(arg, candidate.name)) valued = &candidate;
    }
    if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
      if (count == command.positionals + command.optional && !command.repeats)
        return usage_error(command, "takes no further argument: ", arg);
      move_down(argv, i, first + static_cast<int>(count));
      ++count;
    } else if (option != nullptr) {
      const char* value = option_value(option->name, argc, argv, &i);
      if (value == nullptr) {
        print_error("%s needs %s after %s; see \"%s %s --help\"", command.name, option->what,
                    option->name, kProgramName, command.name);
        return ParseResult::kUsageError;
      }
      // The value takes the place of its word (of "--names=FILE", the part after '='), which
      // then moves down to the end of its option's values.
      argv[i] = const_cast<char*>(value);
      int end = first + static_cast<int>(count);
      for (const RepeatedOption* o = kRepeatedOptions; o <= option; ++o) {
        end += static_cast<int>(repeated[o - kRepeatedOptions]);
      }
      move_down(argv, i, end);
      ++repeated[option - kRepeatedOptions];
    } else if (std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
    } else if (flag != nullptr) {
      if (args->*flag->flag && !option_twice(command, flag->name)) return ParseResult::kUsageError;
      args->*flag->flag = true;
    } else if (valued != nullptr) {
      if (!take_value(command, valued->name, valued->what, argc, argv, &i,
                      &(args->*valued->value))) {
        return ParseResult::kUsageError;
      }
    } else if ((command.options & kOptionEntry) && is_option(arg, "--entry")) {
      if (!take_entry(command, argc, argv, &i, args)) return ParseResult::kUsageError;
    } else if ((command.options & kOptionThreads) && is_option(arg, "--threads")) {
      if (args->threads != 0) return usage_error(command, "got --threads twice", "");
      const char* value = option_value("--threads", argc, argv, &i);
      if (value == nullptr) return usage_error(command, "needs a number after --threads", "");
      if (!parse_thread_count(value, &args->threads)) {
        return usage_error(command, "needs a number of threads after --threads, not ", value);
      }
    } else {
      return usage_error(command, "has no option ", arg);
    }
  }
  if (count < command.positionals) {
    print_error("%s needs %s%u argument%s: %s; see \"%s %s --help\"", command.name,
                command.repeats || command.optional != 0 ? "at least " : "", command.positionals,
                command.positionals == 1 ? "" : "s", command.synopsis, kProgramName, command.name);
    return ParseResult::kUsageError;
  }
  args->positional = argv + first;
  args->positionalCount = count;
  char** values = args->positional + count;
  for (uint32_t r = 0; r < kRepeatedCount; ++r) {
    OptionValues& option = args->*kRepeatedOptions[r].values;
    option.values = values;
    option.count = repeated[r];
    values += repeated[r];
  }
  return ParseResult::kRun;
}

void print_usage_error(const CommandSpec& command, const char* what, const char* argument) {
  print_error("%s %s%s; see \"%s %s --help\"", command.name, what, argument, kProgramName,
              command.name);
}

uint32_t inspect_thread_count(const CommandArgs& args) {
  if (args.threads != 0) return args.threads;
  const char* ignored = nullptr;
  const uint32_t threads = run_thread_count(&ignored);
  if (ignored != nullptr) {
    print_warning("%s is \"%s\", which is no number of threads; %u are used", kThreadsVariable,
                  ignored, threads);
  }
  return threads;
}

void print_command_help(const CommandSpec& command) {
  std::printf("Usage: %s %s %s\n\n%s", kProgramName, command.name, command.synopsis,
              command.description);
  for (const CommandSpec* const* form = command.forms; form && *form != nullptr; ++form) {
    std::printf("%s  %s %s %s\n      %s (see \"%s %s --help\")\n",
                form == command.forms ? "\nOther forms:\n" : "", kProgramName, (*form)->name,
                (*form)->synopsis, (*form)->summary, kProgramName, (*form)->name);
  }
}
