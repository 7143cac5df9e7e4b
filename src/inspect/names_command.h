#ifndef VINTREL_INSPECT_NAMES_COMMAND_H_
#define VINTREL_INSPECT_NAMES_COMMAND_H_

#include "inspect/command.h"

// names GAMEDIR [--names FILE]... [--json] [--unknown OUT]: how many of the game's entries the
// name lists name, per package and in all, and the name ids they do not know.
extern const CommandSpec kNamesCommand;

// The further forms of names ("names harvest"), each chosen by its second word; null-terminated.
extern const CommandSpec* const kNamesForms[];

#endif  // VINTREL_INSPECT_NAMES_COMMAND_H_
