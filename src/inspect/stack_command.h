#ifndef VINTREL_INSPECT_STACK_COMMAND_H_
#define VINTREL_INSPECT_STACK_COMMAND_H_

#include "inspect/command.h"

// stack OUTDIR MODDIR... [--upak NAME] [--game GAMEDIR] [--json]: writes a mod directory whose
// vintrel.json applies the mods in load order, and reports where they conflict.
extern const CommandSpec kStackCommand;

#endif  // VINTREL_INSPECT_STACK_COMMAND_H_
