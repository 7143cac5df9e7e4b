#ifndef VINTREL_MANIFEST_MANIFEST_UPDATE_H_
#define VINTREL_MANIFEST_MANIFEST_UPDATE_H_

#include <cstdint>

#include "base/status.h"

struct RunContext;

// Walks the package directory (section 0), rewrites every package that the configuration touches
// into the user archive and rebuilds the directory so that moved packages point there. Prints
// nothing itself; false on any failure. A dry run (context.dryRun) makes the same checks, reads
// and rebuilds every package the same way, but creates no user archive and leaves section 0 as
// read: the directory it would write is left in context.sectionRebuild.
bool update_manifest(RunContext& context);

// Whether name, of length bytes, can name the user archive: one plain file name in the game
// directory (no \, / or :, no ..), not a device name, kept by Windows as written (no final dot
// or space), and short enough for an archive record. False otherwise, with the reason (kRefused)
// in *status.
bool user_archive_name_is_usable(const char* name, uint32_t length, Status* status);

#endif  // VINTREL_MANIFEST_MANIFEST_UPDATE_H_
