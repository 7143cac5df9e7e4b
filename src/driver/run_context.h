#ifndef VINTREL_DRIVER_RUN_CONTEXT_H_
#define VINTREL_DRIVER_RUN_CONTEXT_H_

#include <cstdint>

#include "base/byte_buffer.h"
#include "base/file_lock.h"
#include "base/pending_file.h"
#include "base/platform.h"
#include "base/shared_string.h"
#include "base/status.h"
#include "driver/pack_file_entry.h"
#include "base/warning_list.h"

// The manifest's five sections as read from the file; section 0 is the package directory, the
// others are carried through unchanged.
struct ManifestSections {
  static constexpr int kCount = 5;

  ByteBuffer& operator[](int i) { return section[i]; }
  const ByteBuffer& operator[](int i) const { return section[i]; }

  ByteBuffer section[kCount];
};

// What the run writes into the game directory: the user archive and the new manifest, each built
// under a temporary name and put in place only when the run commits (manifest/run_commit.h).
// Until then, destroying them deletes the temporary files, so a failed run leaves the previous
// manifest.bin and user archive as they were.
struct PendingResults {
  PendingFile userArchive;  // armed only while the pass has moved a package into it
  PendingFile manifest;
};

// The state of one run, passed by reference to every stage and touched by no thread but the one
// that owns it. Members are destroyed in reverse order of declaration, which is the order the run
// needs: the pending results, the directories and names, the manifest, the configured files, and
// last the lock on the game directory, so that no other run starts there before this one has
// cleaned up.
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
  // The directory of the run's temporary files, ending in a backslash; each thread that needs a
  // temporary file has one of its own there (base/temp_file.h).
  SharedString tempDir;
  SharedString srcDir;   // ends in a backslash
  SharedString destDir;  // ends in a backslash
  bool fullCopy = false;
  // How many threads rewrite packages; 1 does everything on the run's own thread.
  uint32_t threads = 1;
  PendingResults pending;
  // Why the run failed, recorded where the failure was found.
  Status failure;
  // What the user may want to know about a run that succeeds.
  WarningList warnings;
};

#endif  // VINTREL_DRIVER_RUN_CONTEXT_H_
