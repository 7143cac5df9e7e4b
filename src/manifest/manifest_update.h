#ifndef VINTREL_MANIFEST_MANIFEST_UPDATE_H_
#define VINTREL_MANIFEST_MANIFEST_UPDATE_H_

#include <atomic>
#include <cstdint>

#include "base/byte_buffer.h"
#include "base/status.h"
#include "driver/pack_file_entry.h"
#include "package/package_sink.h"

struct RunContext;

// What the pass did with one package record.
struct PackageMove {
  bool moved = false;   // rewritten into the user archive
  uint64_t offset = 0;  // where it begins there
  uint64_t bytes = 0;   // what it takes there, up to the next package boundary
};

// What a pass found out, for the driver's warnings and a plan's report.
struct PassResult {
  TCountedArray<PackageMove> moves;  // one per package record, in directory order
  UsedFiles used;                    // the configured files that replaced an entry
  uint64_t userArchiveBytes = 0;     // the user archive's length; 0 when no package moved
};

// Where the pass puts the packages it rewrites: a run's user archive, or a plan's count of bytes.
// The pass asks for the sink once its checks of the archive list have passed, and writes every
// package into it in manifest order; the packages that workers make meanwhile wait in a staging
// sink per slot.
class PassTarget {
 public:
  // The sink the packages go to, made now. Null, with the reason in *status, when it cannot be.
  virtual PackageSink* Open(RunContext& context, Status* status) = 0;
  // Makes count staging sinks, each holding up to memoryLimit bytes in memory and the rest in a
  // temporary file in tempDir, numbered from firstNumber on. False when out of memory.
  virtual bool MakeStaging(uint32_t count, uint32_t memoryLimit, const char* tempDir,
                           uint32_t firstNumber) = 0;
  // Staging sink i, emptied, for a worker's package.
  virtual PackageSink& Staging(uint32_t i) = 0;
  // The writer has come to the package of staging sink i and waits for it: the worker may write
  // the rest of it to the sink straight.
  virtual void Reach(uint32_t i) = 0;
  // Appends the package of staging sink i to the sink, unless it is there already, and tells
  // where it begins (*start).
  virtual bool TakeStaged(uint32_t i, uint64_t* start, Status* status) = 0;
  // Drops what the worker of staging sink i left of a package it could not finish, in the sink
  // too, so that the package can be made again.
  virtual bool DropStaged(uint32_t i, Status* status) = 0;
  // Called as the package named name (split or full) is about to go to the sink.
  virtual void Announce(const char* name, bool split) = 0;
  // After the walk: whether any package went to the sink. False, with the reason, when what was
  // written cannot be kept.
  virtual bool Close(bool anyMoved, Status* status) = 0;

 protected:
  ~PassTarget() = default;
};

// A run's target: the user archive, built as context.pending.userArchive under its temporary
// name, with the tool's progress line for each package. Close puts it on the disk when a package
// moved and deletes it otherwise.
class UserArchiveTarget : public PassTarget {
 public:
  PackageSink* Open(RunContext& context, Status* status) override;
  bool MakeStaging(uint32_t count, uint32_t memoryLimit, const char* tempDir,
                   uint32_t firstNumber) override;
  PackageSink& Staging(uint32_t i) override;
  void Reach(uint32_t i) override;
  bool TakeStaged(uint32_t i, uint64_t* start, Status* status) override;
  bool DropStaged(uint32_t i, Status* status) override;
  void Announce(const char* name, bool split) override;
  bool Close(bool anyMoved, Status* status) override;

 private:
  RunContext* context_ = nullptr;
  FileSink sink_{kNoFile, 0, ""};
  TCountedArray<StagingSink> staging_;
  TCountedArray<HandoffSink> handoffs_;
  // Per slot: the writer waits for its package. Set and cleared by the writer, read by the worker.
  TCountedArray<std::atomic<bool>> reached_;
};

// A plan's target: counts the bytes of the packages and writes and prints nothing.
class CountingTarget : public PassTarget {
 public:
  PackageSink* Open(RunContext& context, Status* status) override;
  bool MakeStaging(uint32_t count, uint32_t memoryLimit, const char* tempDir,
                   uint32_t firstNumber) override;
  PackageSink& Staging(uint32_t i) override;
  void Reach(uint32_t) override {}
  bool TakeStaged(uint32_t i, uint64_t* start, Status* status) override;
  bool DropStaged(uint32_t, Status*) override { return true; }
  void Announce(const char*, bool) override {}
  bool Close(bool anyMoved, Status* status) override;

 private:
  CountingSink sink_;
  TCountedArray<CountingSink> staging_;
};

// Walks the package directory (section 0) and rewrites every package that the configuration
// touches into target, rebuilding the directory so that moved packages point into the user
// archive. First every package record is read in order, and the packages whose entries a
// configured file replaces (every package with fullcopy) are listed; then those are rewritten by
// context.threads workers and written to target in manifest order, with the progress line of
// each printed as it is written. The first failure in manifest order ends the pass, with its
// reason in context.failure; what came after it is dropped. On success with a change, section 0
// becomes the rebuilt directory. *result tells, record by record, what moved and where to, and
// which configured files replaced an entry.
bool update_manifest(RunContext& context, PassTarget& target, PassResult* result);

// Whether name, of length bytes, can name the user archive: one plain file name in the game
// directory (no \, / or :, no ..), not a device name, kept by Windows as written (no final dot
// or space), and short enough for an archive record. False otherwise, with the reason (kRefused)
// in *status.
bool user_archive_name_is_usable(const char* name, uint32_t length, Status* status);

#endif  // VINTREL_MANIFEST_MANIFEST_UPDATE_H_
