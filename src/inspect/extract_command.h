#ifndef VINTREL_INSPECT_EXTRACT_COMMAND_H_
#define VINTREL_INSPECT_EXTRACT_COMMAND_H_

#include "inspect/command.h"

// extract GAMEDIR NAME EXT OUT [--pkg PACKAGE]: an entry's inflated data to OUT and its metadata to
// OUT.meta.
extern const CommandSpec kExtractCommand;

#endif  // VINTREL_INSPECT_EXTRACT_COMMAND_H_
