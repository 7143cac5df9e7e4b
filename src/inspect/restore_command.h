#ifndef VINTREL_INSPECT_RESTORE_COMMAND_H_
#define VINTREL_INSPECT_RESTORE_COMMAND_H_

#include "inspect/command.h"

// restore GAMEDIR: puts the game's manifest back as it was before the first run of the tool, and
// removes what the runs left.
extern const CommandSpec kRestoreCommand;

#endif  // VINTREL_INSPECT_RESTORE_COMMAND_H_
