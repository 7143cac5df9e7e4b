#ifndef VINTREL_DRIVER_CONFIG_H_
#define VINTREL_DRIVER_CONFIG_H_

class PackFileEntryList;
class UsedFiles;
struct RunContext;

// Where load_config says on standard output why a configuration cannot be used: format holds one
// "%s" for text. A run passes report_config_line; a plan passes a function that says nothing.
typedef void (*ConfigLine)(const char* format, const char* text);
// The run's: report_error.
void report_config_line(const char* format, const char* text);

// Loads vintrel.json (its full path) into the context: "upak" and "fullcopy", and one
// PackFileEntry per element of "files", in order, and the warnings the configuration deserves.
// The context's srcDir must be set. On false, the reason is in context.failure and one line has
// gone to say.
bool load_config(const char* path, RunContext& context, ConfigLine say = report_config_line);

// Sets shadowedBy of every configured file that an earlier one always takes precedence over: the
// first matching file wins, so an earlier file with the same name and ext that applies to every
// package, or to the same package, leaves nothing for the later one. load_config warns about each;
// a list made otherwise (a stack of several mods' files) is marked the same way.
void mark_shadowed_entries(PackFileEntryList& entries);

// After the pass: adds to context.warnings one line for every configured file that replaced no
// entry in any package (not in used), naming the first 20 and counting the rest. Files that can
// never be used are passed over: load_config has warned about them already.
void warn_unused_entries(RunContext& context, const UsedFiles& used);

#endif  // VINTREL_DRIVER_CONFIG_H_
