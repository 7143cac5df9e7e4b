#ifndef VINTREL_PACKAGE_PACKAGE_UPDATE_H_
#define VINTREL_PACKAGE_PACKAGE_UPDATE_H_

#include <cstdint>

#include "base/platform.h"

class ArchiveWindow;
struct PackFileEntry;
struct RunContext;

// Rewrites the package that starts sourceOffset bytes into the source archive into target (the
// user archive, positioned at the end of what has been written) when a configured file matches
// one of its entries or fullCopy is set. Sets *changed to true and *newOffset to where the new
// package begins only when a whole package was written; never sets *changed to false. Returns
// false on failure, true when a package was written and when there was nothing to do (no match
// without fullCopy, or a header whose table fields are 0 or 0xFFFFFFFF: nothing is written then).
// Prints one progress line per package it rewrites, before writing it, and nothing else. After a
// failure the user archive may hold a partial package behind its old end. The source is read
// through its window and positionally, so its current position is neither used nor defined
// afterwards; a package that is not rewritten costs no call on the target, and no read of the
// source either when the window already holds its header and tables.
bool update_package(RunContext& context, const char* name, uint64_t packageId,
                    ArchiveWindow& source, uint64_t sourceOffset, FileHandle target, bool* changed,
                    uint64_t* newOffset);

// The first configured file, in configuration order, whose ids match and whose packageId is 0 or
// packageId; null when there is none.
const PackFileEntry* find_pack_file_entry(const RunContext& context, uint64_t nameId,
                                          uint64_t extId, uint64_t packageId);

// Opens the temporary file ("w+") on first use; later calls rewind it without truncating.
bool open_temp_file(RunContext& context);

#endif  // VINTREL_PACKAGE_PACKAGE_UPDATE_H_
