#ifndef VINTREL_INSPECT_PACKAGES_COMMAND_H_
#define VINTREL_INSPECT_PACKAGES_COMMAND_H_

#include "inspect/command.h"

// packages GAMEDIR [--json]: every archive of the manifest and every package record, each package
// read as far as its entry table.
extern const CommandSpec kPackagesCommand;

#endif  // VINTREL_INSPECT_PACKAGES_COMMAND_H_
