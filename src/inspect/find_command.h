#ifndef VINTREL_INSPECT_FIND_COMMAND_H_
#define VINTREL_INSPECT_FIND_COMMAND_H_

#include "inspect/command.h"

// find GAMEDIR NAME EXT [--json]: the packages that hold an entry with a name and an extension.
extern const CommandSpec kFindCommand;

#endif  // VINTREL_INSPECT_FIND_COMMAND_H_
