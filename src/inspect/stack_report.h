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

#endif  // VINTREL_INSPECT_STACK_REPORT_H_
