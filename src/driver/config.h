#ifndef VINTREL_DRIVER_CONFIG_H_
#define VINTREL_DRIVER_CONFIG_H_

struct RunContext;

// Loads vintrel.json (its full path) into the context: "upak" and "fullcopy", and one
// PackFileEntry per element of "files", in order. The context's srcDir must be set. On false one
// line has been printed through report_error.
bool load_config(const char* path, RunContext& context);

#endif  // VINTREL_DRIVER_CONFIG_H_
