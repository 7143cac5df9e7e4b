#include "inspect/command.h"

#include <cstdio>
#include <cstring>

#include "driver/thread_count.h"
#include "inspect/messages.h"

namespace {

ParseResult usage_error(const CommandSpec& command, const char* what, const char* argument) {
  print_error("%s %s%s; see \"%s %s --help\"", command.name, what, argument, kProgramName,
              command.name);
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

// Takes the value of option name into *value. A usage error when it was given before or has none.
bool take_value(const CommandSpec& command, const char* name, const char* what, int argc,
                char* argv[], int* i, const char** value) {
  if (*value != nullptr) {
    print_error("%s got %s twice; see \"%s %s --help\"", command.name, name, kProgramName,
                command.name);
    return false;
  }
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
};
constexpr uint32_t kRepeatedCount = sizeof(kRepeatedOptions) / sizeof(kRepeatedOptions[0]);

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
    if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
      if (count == command.positionals && !command.repeats)
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
    } else if ((command.options & kOptionJson) && std::strcmp(arg, "--json") == 0) {
      if (args->json) return usage_error(command, "got --json twice", "");
      args->json = true;
    } else if ((command.options & kOptionAfterUpdate) && std::strcmp(arg, "--after-update") == 0) {
      if (args->afterUpdate) return usage_error(command, "got --after-update twice", "");
      args->afterUpdate = true;
    } else if ((command.options & kOptionPkg) && is_option(arg, "--pkg")) {
      if (!take_value(command, "--pkg", "a package", argc, argv, &i, &args->pkg)) {
        return ParseResult::kUsageError;
      }
    } else if ((command.options & kOptionUpak) && is_option(arg, "--upak")) {
      if (!take_value(command, "--upak", "a name", argc, argv, &i, &args->upak)) {
        return ParseResult::kUsageError;
      }
    } else if ((command.options & kOptionGame) && is_option(arg, "--game")) {
      if (!take_value(command, "--game", "a game directory", argc, argv, &i, &args->game)) {
        return ParseResult::kUsageError;
      }
    } else if ((command.options & kOptionUnknown) && is_option(arg, "--unknown")) {
      if (!take_value(command, "--unknown", "a file", argc, argv, &i, &args->unknown)) {
        return ParseResult::kUsageError;
      }
    } else if ((command.options & kOptionHtml) && is_option(arg, "--html")) {
      if (!take_value(command, "--html", "a file", argc, argv, &i, &args->html)) {
        return ParseResult::kUsageError;
      }
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
                command.repeats ? "at least " : "", command.positionals,
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
