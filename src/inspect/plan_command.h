#ifndef VINTREL_INSPECT_PLAN_COMMAND_H_
#define VINTREL_INSPECT_PLAN_COMMAND_H_

#include "inspect/command.h"

// plan MODDIR GAMEDIR [--json]: a dry run of the tool that says what a run would do, and writes
// nothing.
extern const CommandSpec kPlanCommand;

#endif  // VINTREL_INSPECT_PLAN_COMMAND_H_
