#ifndef VINTREL_INSPECT_PRUNE_COMMAND_H_
#define VINTREL_INSPECT_PRUNE_COMMAND_H_

#include "inspect/command.h"

// prune MODDIR GAMEDIR: takes out of a mod's vintrel.json the files that no longer exist or change
// nothing in the game.
extern const CommandSpec kPruneCommand;

#endif  // VINTREL_INSPECT_PRUNE_COMMAND_H_
