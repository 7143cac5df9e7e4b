#ifndef VINTREL_INSPECT_COMMAND_H_
#define VINTREL_INSPECT_COMMAND_H_

#include <cstdint>

// The options a command may take.
enum CommandOption : uint32_t {
  kOptionJson = 1,          // --json: one JSON document on standard output instead of text
  kOptionPkg = 2,           // --pkg PACKAGE: look in that package only
  kOptionThreads = 4,       // --threads N: how many threads do the work
  kOptionUpak = 8,          // --upak NAME: the user archive's name
  kOptionGame = 16,         // --game GAMEDIR: a game to look at as well
  kOptionAfterUpdate = 32,  // --after-update: the game was updated since the tool's last run
  kOptionNames = 64,        // --names FILE, any number of times: name lists to read as well
  kOptionUnknown = 128,     // --unknown OUT: a file for the name ids no list knows
  kOptionPkgs = 256,        // --pkg PACKAGE, any number of times: those packages only
  kOptionMatch = 512,       // --match GLOB, any number of times: the entries whose names match
  kOptionMeta = 1024,       // --meta: each entry's metadata beside it
  kOptionForce = 2048,      // --force: write into a directory that holds files, replacing them
  kOptionDryRun = 4096,     // --dry-run: say what would change, and change nothing
  kOptionMip = 8192,        // --mip N: a texture's mip level
  kOptionLike = 16384,      // --like FILE: a DDS file whose layout a texture is to have
  kOptionEntry = 32768,     // --entry NAME EXT: an entry of the game (two values)
  kOptionFormat = 65536,    // --format FORMAT: a texture format by its name
  kOptionMips = 131072,     // --mips N|all: how many mip levels a texture is to have
  kOptionResize = 262144,   // --resize: an image of another size is resampled
  kOptionHtml = 524288,     // --html PAGE: the report as an HTML page too
  kOptionPng = 1048576,     // --png: a PNG beside each texture written
};

// The values of an option that may be given any number of times, in the order given. They lie in
// the command line itself: parsing moves them together after the arguments that are no options.
struct OptionValues {
  char** values = nullptr;
  uint32_t count = 0;

  const char* operator[](uint32_t i) const { return values[i]; }
};

// A command's arguments as its command line gave them.
struct CommandArgs {
  // The arguments that are no options, in their order: parsing moves them to the front of the
  // command line, as getopt does, so that they stand side by side in argv.
  char** positional = nullptr;
  uint32_t positionalCount = 0;
  bool json = false;
  const char* pkg = nullptr;   // null when --pkg was not given
  uint32_t threads = 0;        // 0 when --threads was not given
  const char* upak = nullptr;  // null when --upak was not given
  const char* game = nullptr;  // null when --game was not given
  bool afterUpdate = false;
  const char* unknown = nullptr;  // null when --unknown was not given
  const char* html = nullptr;     // null when --html was not given
  OptionValues names;             // every --names FILE
  OptionValues pkgs;              // every --pkg PACKAGE, for a command that takes several
  OptionValues matches;           // every --match GLOB
  bool meta = false;
  bool force = false;
  bool dryRun = false;
  // The values of the texture commands' options as given, null when not given; the command
  // checks them.
  const char* mip = nullptr;
  const char* like = nullptr;
  const char* entryName = nullptr;  // --entry NAME EXT
  const char* entryExt = nullptr;
  const char* format = nullptr;
  const char* mips = nullptr;
  bool resize = false;
  bool png = false;
};

// One command of the program: how it is called, what it does, and the function that does it. The
// function returns the exit status: 0 success, 1 failure (it has said why on standard error).
struct CommandSpec {
  const char* name;
  const char* synopsis;     // the arguments after the name: "GAMEDIR PACKAGE [--json]"
  const char* summary;      // one line for the program's list of commands
  const char* description;  // the --help text after the usage line; every line ends in "\n"
  uint32_t positionals;     // how many arguments it takes, exactly, or at least when repeats
  uint32_t options;         // CommandOption bits
  int (*run)(const CommandArgs& args);
  bool repeats = false;  // the last argument may be given any number of times
  // Further forms of the command, each chosen by the word that follows the command's name and
  // named with both words ("names harvest"); a null-terminated list, or null for none.
  const CommandSpec* const* forms = nullptr;
  // How many arguments it may take after the positionals it needs ("GAMEDIR [OUT]": 1).
  uint32_t optional = 0;
};

enum class ParseResult { kRun, kHelp, kUsageError };

// The form of command that argv[*first] chooses, when that word is the second word of one of its
// forms' names; *first then moves past it. The command itself otherwise, *first unchanged.
const CommandSpec& select_form(const CommandSpec& command, int argc, char* argv[], int* first);

// Parses the arguments argv[first..argc) of the command into *args. "--help" or "-h"
// anywhere asks for the command's help; "--" ends the options, so that a path may begin with '-';
// the flags (--json, --after-update, --meta, --force, --dry-run, --resize, --png), the options with
// a value (--pkg PACKAGE, --threads N, --upak NAME, --game GAMEDIR, --unknown OUT, --mip N, --like
// FILE, --format FORMAT, --mips N, --html PAGE; or --pkg=PACKAGE and so on) and --entry NAME EXT
// are taken once, and --names FILE, --match GLOB and (kOptionPkgs) --pkg PACKAGE any number of
// times, where the command allows them. On a usage error (an unknown or repeated option, a missing
// or unusable value, the wrong number of arguments) it prints the error as one line, naming the
// command's --help, and returns kUsageError.
ParseResult parse_command_args(const CommandSpec& command, int argc, char* argv[], int first,
                               CommandArgs* args);

// Prints a usage error of the command as one line, "COMMAND <what><argument>; see
// \"vintrel-inspect COMMAND --help\"", for the checks a command makes of its own arguments.
void print_usage_error(const CommandSpec& command, const char* what, const char* argument);

// The threads a command uses: --threads when given, else VINTREL_THREADS (a value that is no
// number of threads is warned about and passed over), else one per processor.
uint32_t inspect_thread_count(const CommandArgs& args);

// Prints the command's usage line and description on standard output.
void print_command_help(const CommandSpec& command);

#endif  // VINTREL_INSPECT_COMMAND_H_
