#ifndef VINTREL_INSPECT_UNPACK_COMMAND_H_
#define VINTREL_INSPECT_UNPACK_COMMAND_H_

#include "inspect/command.h"

// unpack GAMEDIR OUTDIR: writes the game's entries into folders under OUTDIR, with a vintrel.json
// that makes them a mod.
extern const CommandSpec kUnpackCommand;

#endif  // VINTREL_INSPECT_UNPACK_COMMAND_H_
