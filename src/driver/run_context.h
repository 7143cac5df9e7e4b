#ifndef VINTREL_DRIVER_RUN_CONTEXT_H_
#define VINTREL_DRIVER_RUN_CONTEXT_H_

#include <cstdint>

#include "base/byte_buffer.h"
#include "base/platform.h"
#include "base/shared_string.h"

// One configured file: where its bytes and metadata come from and the ids it replaces.
struct PackFileEntry {
  SharedString sourcePath;  // full path of the replacing file
  SharedString metaPath;    // full path of the metadata file; empty: derive or keep the metadata
  uint64_t nameId = 0;
  uint64_t extId = 0;
  uint64_t packageId = 0;  // 0: applies to every package
  PackFileEntry* next = nullptr;
};

// The configured files in configuration order. Owns its records, which come from the allocation
// hooks, and frees them when destroyed.
class PackFileEntryList {
 public:
  PackFileEntryList() = default;
  ~PackFileEntryList() { Clear(); }
  PackFileEntryList(const PackFileEntryList&) = delete;
  PackFileEntryList& operator=(const PackFileEntryList&) = delete;

  // A new empty record from the allocation hooks, not yet in the list; null when the heap is
  // exhausted. Give it to Append, or back with Discard.
  static PackFileEntry* NewEntry();
  static void Discard(PackFileEntry* entry);
  // Takes ownership of entry and links it at the tail.
  void Append(PackFileEntry* entry);
  void Clear();

  PackFileEntry* head() const { return head_; }
  PackFileEntry* tail() const { return tail_; }

 private:
  PackFileEntry* head_ = nullptr;
  PackFileEntry* tail_ = nullptr;
};

constexpr int kManifestSectionCount = 5;
constexpr int kPackageWorkCount = 9;

// The state of one run, passed by reference to every stage. Members are destroyed in reverse
// order of declaration, which is the order the run needs: the temporary file (closed and deleted
// by the destructor body), the package buffers last one first, the directories and names, the
// manifest, and the configured files last.
struct RunContext {
  RunContext();
  ~RunContext();
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;

  PackFileEntryList entries;
  ByteBuffer manifestSections[kManifestSectionCount];
  ByteBuffer sectionRebuild;
  SharedString userPackage;  // "user_dlc" until the configuration names one
  SharedString tempPath;
  FileHandle tempFile = kNoFile;  // opened by the first split package, deleted at the end
  SharedString srcDir;            // ends in a backslash
  SharedString destDir;           // ends in a backslash
  bool fullCopy = false;
  ByteBuffer packageWork[kPackageWorkCount];

  // The run's results are built under temporary names in the destination directory and put in
  // place by rename only once everything is written (see manifest/run_commit.h). Until then these
  // name the files being built; the destructor deletes whatever is still named here, so a failed
  // run leaves the previous manifest.bin and user archive as they were.
  SharedString pendingArchive;
  SharedString pendingManifest;
  // Whether the pass moved any package into the user archive being built.
  bool userArchiveChanged = false;
};

#endif  // VINTREL_DRIVER_RUN_CONTEXT_H_
