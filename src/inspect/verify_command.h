#ifndef VINTREL_INSPECT_VERIFY_COMMAND_H_
#define VINTREL_INSPECT_VERIFY_COMMAND_H_

#include "inspect/command.h"

// verify GAMEDIR [--json]: reads every package the manifest lists and inflates every block.
extern const CommandSpec kVerifyCommand;

#endif  // VINTREL_INSPECT_VERIFY_COMMAND_H_
