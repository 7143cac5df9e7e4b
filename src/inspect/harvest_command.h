#ifndef VINTREL_INSPECT_HARVEST_COMMAND_H_
#define VINTREL_INSPECT_HARVEST_COMMAND_H_

#include "inspect/command.h"

// names harvest GAMEDIR [OUT] [--names FILE]... [--threads N]: the names of the game's entries
// that its own files mention, written as a name list to OUT or merged into the user's
// harvested.txt.
extern const CommandSpec kNamesHarvestCommand;

#endif  // VINTREL_INSPECT_HARVEST_COMMAND_H_
