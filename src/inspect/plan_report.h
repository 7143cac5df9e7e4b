#ifndef VINTREL_INSPECT_PLAN_REPORT_H_
#define VINTREL_INSPECT_PLAN_REPORT_H_

// The two reports of a plan on standard output. Neither prints the warnings and errors on
// standard error; the caller does, after the report.

#include "inspect/plan.h"

// Two tables, the configured files and the packages a run would rewrite, and a last line that
// says whether a run would succeed. False when out of memory.
bool print_plan_text(const Plan& plan);

// One JSON document: the files, the rewrites, the warnings and errors, and whether a run would
// succeed. False when out of memory.
bool print_plan_json(const Plan& plan);

#endif  // VINTREL_INSPECT_PLAN_REPORT_H_
