#ifndef VINTREL_DRIVER_RUN_CONTEXT_H_
#define VINTREL_DRIVER_RUN_CONTEXT_H_

#include <array>
#include <cstdint>

#include "base/byte_buffer.h"
#include "base/file_lock.h"
#include "base/pending_file.h"
#include "base/platform.h"
#include "base/shared_string.h"
#include "base/status.h"
#include "driver/pack_file_entry.h"
#include "driver/warning_list.h"

// The manifest's five sections as read from the file; section 0 is the package directory, the
// others are carried through unchanged.
struct ManifestSections {
  static constexpr int kCount = 5;

  ByteBuffer& operator[](int i) { return section[i]; }
  const ByteBuffer& operator[](int i) const { return section[i]; }

  ByteBuffer section[kCount];
};

// The package update's working buffers, kept from one package to the next so that their blocks
// are reused. Each call starts by setting their lengths to 0.
struct PackageWork {
  ByteBuffer oldIndexTable;  // the IndexTable as read; written back unchanged
  ByteBuffer oldEntryTable;  // the EntryTable as read
  ByteBuffer newEntryTable;  // the EntryTable being built
  ByteBuffer inflated;       // one old entry (split) or the whole old data area (full), inflated
  ByteBuffer deflated;       // the stream made by deflate_entry
  ByteBuffer newDataArea;    // the new raw data area of a full package
  ByteBuffer replacingFile;  // the content of a configured file's "src"
  ByteBuffer replacingMeta;  // its metadata: the "meta" file, or made from the file itself
  ByteBuffer idBlock;        // the IndexTable's IdBlock

  // Every buffer's length to 0; capacities stay.
  void Clear();
  // The buffers in the order above.
  std::array<ByteBuffer*, 9> All();
};

// What the run writes into the game directory: the user archive and the new manifest, each built
// under a temporary name and put in place only when the run commits (manifest/run_commit.h).
// Until then, destroying them deletes the temporary files, so a failed run leaves the previous
// manifest.bin and user archive as they were.
struct PendingResults {
  PendingFile userArchive;  // armed only while the pass has moved a package into it
  PendingFile manifest;
};

// The state of one run, passed by reference to every stage. Members are destroyed in reverse
// order of declaration, which is the order the run needs: the temporary file (closed and deleted
// by the destructor body), the pending results, the package buffers last one first, the
// directories and names, the manifest, the configured files, and last the lock on the game
// directory, so that no other run starts there before this one has cleaned up.
struct RunContext {
  RunContext();
  ~RunContext();
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;

  FileLock gameLock;  // held from before the manifest is read to the end of the run
  PackFileEntryList entries;
  ManifestSections manifestSections;
  ByteBuffer sectionRebuild;  // where the pass builds the new package directory
  SharedString userPackage;   // "user_dlc" until the configuration names one
  SharedString tempPath;
  FileHandle tempFile = kNoFile;  // opened by the first split package, deleted at the end
  SharedString srcDir;            // ends in a backslash
  SharedString destDir;           // ends in a backslash
  bool fullCopy = false;
  PackageWork packageWork;
  PendingResults pending;
  // A plan rather than a run: every package is read, matched and rebuilt in memory as a run
  // would, but nothing is written or printed; dryRunEnd stands for the end of the user archive.
  bool dryRun = false;
  uint64_t dryRunEnd = 0;
  // Why the run failed, recorded where the failure was found.
  Status failure;
  // What the user may want to know about a run that succeeds.
  WarningList warnings;
};

#endif  // VINTREL_DRIVER_RUN_CONTEXT_H_
