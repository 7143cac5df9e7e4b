#ifndef VINTREL_INSPECT_PLAN_PAGE_H_
#define VINTREL_INSPECT_PLAN_PAGE_H_

// The plan as one self-contained HTML page (report/html_page.h), a third printer beside the text
// and JSON reports.

#include <cstdint>

#include "base/status.h"
#include "inspect/plan.h"

// Where the page goes and what it names: the directories as the command line gave them.
struct PlanPageRequest {
  const char* path = nullptr;
  const char* modDir = nullptr;
  const char* gameDir = nullptr;
  uint32_t threads = 1;  // the thumbnails' worker threads
};

// Writes the page of plan through path + ".tmp": a summary of the text report's figures (a run's
// outcome, the packages it rewrites, the entries it replaces, the bytes it writes, the warnings
// and errors); the lines of standard error that concern no entry or file; the packages a run
// would rewrite; every replaced entry by name, with its replacing file, its size and metadata
// before and after, and beneath it the warnings and errors that concern it and, for a texture,
// the game's and the mod's thumbnails side by side with their format, size and mip count; and
// the configured files as the text report has them. Reads the packages that hold replaced
// entries again, through plan->game. False, with the reason in *status and nothing left at path,
// when the page cannot be written or memory runs out; a texture that cannot be read or decoded
// gets a placeholder that says why.
bool write_plan_page(const PlanPageRequest& request, Plan* plan, Status* status);

#endif  // VINTREL_INSPECT_PLAN_PAGE_H_
