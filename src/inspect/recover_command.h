#ifndef VINTREL_INSPECT_RECOVER_COMMAND_H_
#define VINTREL_INSPECT_RECOVER_COMMAND_H_

#include "inspect/command.h"

// recover GAMEDIR: finishes a change of the game (a run of the tool or a restore) that a crash or
// a power loss interrupted, and changes nothing else.
extern const CommandSpec kRecoverCommand;

#endif  // VINTREL_INSPECT_RECOVER_COMMAND_H_
