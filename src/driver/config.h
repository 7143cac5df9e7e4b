#ifndef VINTREL_DRIVER_CONFIG_H_
#define VINTREL_DRIVER_CONFIG_H_

struct RunContext;

// Loads vintrel.json (its full path) into the context: "upak" and "fullcopy", and one
// PackFileEntry per element of "files", in order. The context's srcDir must be set. On false one
// line has been printed through report_error.
bool load_config(const char* path, RunContext& context);

// After the pass: adds to context.warnings one line for every configured file that replaced no
// entry in any package (that is, was not marked used), naming the first 20 and counting the rest.
// Files that can never be used are passed over: load_config has warned about them already.
void warn_unused_entries(RunContext& context);

#endif  // VINTREL_DRIVER_CONFIG_H_
