#ifndef VINTREL_INSPECT_ENTRIES_COMMAND_H_
#define VINTREL_INSPECT_ENTRIES_COMMAND_H_

#include "inspect/command.h"

// entries GAMEDIR PACKAGE [--json]: the entries of one package, with their metadata decoded where
// it is a texture's or a localisation file's.
extern const CommandSpec kEntriesCommand;

#endif  // VINTREL_INSPECT_ENTRIES_COMMAND_H_
