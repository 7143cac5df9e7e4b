#ifndef VINTREL_INSPECT_STACK_REPORT_H_
#define VINTREL_INSPECT_STACK_REPORT_H_

// The two reports of a stack on standard output. Neither prints the warnings on standard error;
// the caller does, after the report.

#include "inspect/stack_writer.h"

// The conflicts between the mods' configurations; with a game, the entries two or more mods
// replace and the files that lose some entries but win others or replace nothing; and a last
// line that says what was written. False when out of memory.
bool print_stack_text(const StackResult& result);

// One JSON document of the same, with the warnings. False when out of memory.
bool print_stack_json(const StackResult& result);

// What the reports share, the page among them. A mod as they show it: the directory of the mod of
// the file at place in the stack, as the command line gave it.
void mod_name(const StackResult& result, uint32_t place, CStringBufferA& name);
// A conflict's outcome for its loser: "left out" or "loses where both apply", and ", identical".
const char* conflict_outcome(const StackConflict& conflict);
// What a file kept in the stack does in the game, when the report names it ("replaces nothing",
// "loses some entries, wins others"); null otherwise.
const char* game_outcome(const StackResult& result, const PackFileEntry& file);

#endif  // VINTREL_INSPECT_STACK_REPORT_H_
