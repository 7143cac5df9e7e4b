#ifndef VINTREL_PACKAGE_PACKAGE_UPDATE_H_
#define VINTREL_PACKAGE_PACKAGE_UPDATE_H_

#include <array>
#include <cstdint>

#include "base/byte_buffer.h"
#include "base/platform.h"
#include "base/status.h"
#include "base/temp_file.h"
#include "package/entry_compression.h"
#include "package/package_sink.h"
#include "package/texture_conversion.h"

class PackageReader;
class PackFileEntryList;
struct PackFileEntry;

// The package update's working buffers, kept from one package to the next so that their blocks
// are reused. Each update starts by setting their lengths to 0.
struct PackageWork {
  ByteBuffer oldIndexTable;  // the IndexTable as read; written back unchanged
  ByteBuffer oldEntryTable;  // the EntryTable as read
  ByteBuffer newEntryTable;  // the EntryTable being built
  ByteBuffer inflated;       // one old entry (split) or the whole old data area (full), inflated
  ByteBuffer newDataArea;    // the new raw data area of a full package
  ByteBuffer replacingFile;  // the content of a configured file's "src"
  ByteBuffer replacingMeta;  // its metadata: the "meta" file, or made from the file itself
  ByteBuffer idBlock;        // the IndexTable's IdBlock
  ByteBuffer head;           // the new package's header and tables, as they are written

  // Every buffer's length to 0; capacities stay.
  void Clear();
  // The buffers in the order above.
  std::array<ByteBuffer*, 9> All();
};

// What one thread needs to rewrite packages, owned by that thread alone while it works: its
// buffers, its zlib streams, the temporary file for a split package's blocks, and the reason of
// its last failure.
struct PackageWorker {
  PackageWork work;
  ZlibStreams streams;
  // Holds a split package's blocks when its EntryTable can be made only after them.
  TempFile blocks;
  Status failure;
  // Whether the last failure came from the worker's own means (memory, its temporary file, the
  // sink it wrote to) rather than from the game or the mod, so that the package done again by
  // other means may well succeed.
  bool ownFailure = false;
};

// Looks up every entry of a package that has been read among the configured files, with
// find_pack_file_entry, and records the first match of each in the entry. Returns whether any
// entry matched.
bool match_entries(const PackFileEntryList& entries, uint64_t packageId, PackageReader& package);

// Rewrites the package that starts offset bytes into archive (a game archive, read positionally)
// into sink when a configured file of entries matches one of its entries or fullCopy is set. Sets
// *changed to true and *newOffset to the sink's length where the package begins only when the
// whole package, padded to the next package boundary, was written; never sets *changed to false.
// Returns false on failure, with the reason in worker.failure (and worker.ownFailure telling
// whose means failed); true when the package was written and when there was nothing to do (no
// match without fullCopy, or a header whose table fields are 0 or 0xFFFFFFFF). Prints nothing.
// After a failure the sink may hold part of a package behind its old length.
bool update_package(PackageWorker& worker, const PackFileEntryList& entries, bool fullCopy,
                    uint64_t packageId, FileHandle archive, uint64_t offset, PackageSink& sink,
                    bool* changed, uint64_t* newOffset);

// The metadata that a configured file gives every entry it replaces, content being the file's
// bytes: the bytes of its "meta" file, or what convert_meta makes of content, in meta
// (kMetaConverted); kMetaNone, meta untouched, when the entries keep their own. kMetaFailed, with
// the reason in *status naming the file, when the meta file cannot be read or content cannot be
// converted.
MetaConversion replacement_metadata(const PackFileEntry& file, const ByteBuffer& content,
                                    ByteBuffer& meta, Status* status);

// The first configured file, in configuration order, whose ids match and whose packageId is 0 or
// packageId; null when there is none.
const PackFileEntry* find_pack_file_entry(const PackFileEntryList& entries, uint64_t nameId,
                                          uint64_t extId, uint64_t packageId);

#endif  // VINTREL_PACKAGE_PACKAGE_UPDATE_H_
