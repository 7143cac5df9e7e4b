#ifndef VINTREL_PACKAGE_PACKAGE_UPDATE_H_
#define VINTREL_PACKAGE_PACKAGE_UPDATE_H_

#include <cstdint>

#include "base/platform.h"
#include "base/status.h"
#include "package/texture_conversion.h"

class ArchiveWindow;
struct PackFileEntry;
struct RunContext;

// Rewrites the package that starts sourceOffset bytes into the source archive into target (the
// user archive, positioned at the end of what has been written) when a configured file matches
// one of its entries or fullCopy is set. Sets *changed to true and *newOffset to where the new
// package begins only when a whole package was written; never sets *changed to false. Returns
// false on failure, with the reason in context.failure; true when a package was written and when
// there was nothing to do (no match without fullCopy, or a header whose table fields are 0 or
// 0xFFFFFFFF: nothing is written then). Prints one progress line per package it rewrites, before
// writing it, and nothing else. After a failure the user archive may hold a partial package
// behind its old end. The source is read through its window and positionally, so its current
// position is neither used nor defined afterwards; a package that is not rewritten costs no call
// on the target, and no read of the source either when the window already holds its header and
// tables.
//
// With context.dryRun set, the package is read, matched and rebuilt in memory exactly as above
// (every block inflated and compressed again, every replacing file read and converted), but
// nothing is written or printed: target is not used, the new package is placed at
// context.dryRunEnd, which then moves past it, and *newOffset receives that place.
bool update_package(RunContext& context, const char* name, uint64_t packageId,
                    ArchiveWindow& source, uint64_t sourceOffset, FileHandle target, bool* changed,
                    uint64_t* newOffset);

// The metadata that a configured file gives every entry it replaces, content being the file's
// bytes: the bytes of its "meta" file, or what convert_meta makes of content, in meta
// (kMetaConverted); kMetaNone, meta untouched, when the entries keep their own. kMetaFailed, with
// the reason in *status naming the file, when the meta file cannot be read or content cannot be
// converted.
MetaConversion replacement_metadata(const PackFileEntry& file, const ByteBuffer& content,
                                    ByteBuffer& meta, Status* status);

// The first configured file, in configuration order, whose ids match and whose packageId is 0 or
// packageId; null when there is none.
const PackFileEntry* find_pack_file_entry(const RunContext& context, uint64_t nameId,
                                          uint64_t extId, uint64_t packageId);

// Opens the temporary file ("w+") on first use; later calls rewind it without truncating.
bool open_temp_file(RunContext& context);

#endif  // VINTREL_PACKAGE_PACKAGE_UPDATE_H_
