#ifndef VINTREL_INSPECT_STACK_PAGE_H_
#define VINTREL_INSPECT_STACK_PAGE_H_

// A stack read against its game as one self-contained HTML page (report/html_page.h), a third
// printer beside the text and JSON reports.

#include <cstdint>

#include "base/status.h"
#include "inspect/stack_writer.h"

// Where the page goes, and the game the stack was read against, as the command line gave it.
struct StackPageRequest {
  const char* path = nullptr;
  const char* gameDir = nullptr;
  uint32_t threads = 1;  // the thumbnails' worker threads
};

// Writes the page of a stack made with a game (result.withGame) through path + ".tmp": a summary
// (the mods, the files written and left out as the text report counts them, the packages and
// entries the stack replaces, the entries several mods replace, the warnings); the warnings; every
// entry that several mods replace, as the text report has it, and beneath it each version side by
// side, the game's first and then each mod's in load order, the winner marked and a loser
// identical to it marked harmless, a texture's as a thumbnail with its format, size and mip count;
// the conflicts of the configurations and the files that lose some entries or replace nothing, as
// the text report has them. False, with the reason in *status and nothing left at path, when the
// page cannot be written or memory runs out; a version that cannot be read or decoded gets a
// placeholder that says why.
bool write_stack_page(const StackPageRequest& request, const StackResult& result, Status* status);

#endif  // VINTREL_INSPECT_STACK_PAGE_H_
