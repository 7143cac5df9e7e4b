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

// The cells of a file's row that the text report and the page share. The metadata its entries
// would get: what it decodes to, or its size when it decodes to nothing; "refused" or "unusable"
// (used: whether the file replaces an entry) for a file that cannot be used.
bool describe_file_meta(const PackFileEntry& file, const FileCheck& check, bool used,
                        CStringBufferA& text);
// The packages in which a file would replace an entry: at most five names, then how many more,
// or "none".
bool name_packages(const PackFileEntry& file, const Plan& plan, CStringBufferA& cell);

#endif  // VINTREL_INSPECT_PLAN_REPORT_H_
