#ifndef VINTREL_INSPECT_PACKAGE_PASS_H_
#define VINTREL_INSPECT_PACKAGE_PASS_H_

#include <cstdint>

#include "base/byte_buffer.h"
#include "base/file.h"
#include "base/ordered_work.h"
#include "base/status.h"
#include "base/string_buffer.h"
#include "manifest/game_reader.h"
#include "package/entry_compression.h"
#include "package/package_reader.h"
#include "report/progress_bar.h"

// What the commands that read every package of a game on worker threads share: every archive
// opened once, its handle shared by the workers, whose reads are positional; and how much of the
// work each package is, for the progress bar. After Open only const members are called, from any
// thread.
class PackagePass {
 public:
  explicit PackagePass(GameReader& game) : game_(game) {}
  PackagePass(const PackagePass&) = delete;
  PackagePass& operator=(const PackagePass&) = delete;

  // Opens every archive of the game, which is open; one that cannot be opened is kept with its
  // reason, for each package it holds. False when out of memory.
  bool Open();

  // Reads into package, a worker's, the package of record k, which lies in an archive: its header
  // and tables, and its entry table when it has tables. False, with the reason in *status, when
  // its archive is not in the list or cannot be opened, or the package cannot be read (the
  // reason then names the package).
  bool ReadPackage(uint32_t k, PackageReader& package, Status* status) const;
  // The archive of record k, which ReadPackage has read.
  FileHandle archive(uint32_t k) const { return archives_[game_.record(k).archiveIndex]; }

  // How much of the work the package of record k is: the bytes from its start to the next package
  // of the same archive file, or to the file's end, as the manifest says nothing of a package's
  // length; and at least 1, so that the bar moves past small ones too. 0 for a record in no
  // archive.
  uint64_t weight(uint32_t k) const { return weights_[k]; }
  uint64_t total() const { return total_; }

 private:
  bool Weigh();

  GameReader& game_;
  TCountedArray<FileHandle> archives_;
  TCountedArray<Status> unopened_;  // why archive i could not be opened
  TCountedArray<uint64_t> weights_;
  uint64_t total_ = 0;
};

// A worker's own means of reading packages: the buffers of a package's tables and of one
// inflated block, its zlib streams, and its last failure with room to describe it.
struct PassWorker {
  ByteBuffer indexTable;
  ByteBuffer entryTable;
  ByteBuffer idBlock;
  ByteBuffer data;
  ZlibStreams streams;
  Status status;
  CStringBufferA reason;
};

// The frame of a task that reads every package of a game on worker threads, a package a step:
// the workers' means (Worker, a PassWorker or more), the slots in which the steps under way
// keep their results for the taker (Slot), kSlotsPerWorker for each worker, and the progress bar,
// which the taker moves as it takes each package.
template <typename Worker, typename Slot>
class PackagePassTask : public OrderedTask {
 public:
  static constexpr uint32_t kSlotsPerWorker = 32;

  // label and unit name the progress bar's work ("verifying", "packages").
  PackagePassTask(const GameReader& game, const PackagePass& pass, uint32_t threads,
                  const char* label)
      : game_(game), pass_(pass), bar_(label, "packages") {
    workers_.allocate(threads);
    slots_.allocate(threads * kSlotsPerWorker);
  }

  // Whether the workers and slots could be had.
  bool ready() const { return workers_.count() != 0 && slots_.count() != 0; }
  // The steps that may be under way or waiting to be taken, for run_ordered.
  uint32_t window() const { return slots_.count(); }

  uint64_t Weight(uint32_t) override { return 0; }

 protected:
  ~PackagePassTask() = default;

  // Moves the bar as the taker comes to package k; after the last, erases it.
  void Progress(uint32_t k) {
    bar_.Update(done_, pass_.total(), k, game_.package_count());
    done_ += pass_.weight(k);
    if (k + 1 == game_.package_count()) bar_.Finish();
  }

  const GameReader& game_;
  const PackagePass& pass_;
  TCountedArray<Worker> workers_;
  TCountedArray<Slot> slots_;

 private:
  ProgressBar bar_;
  uint64_t done_ = 0;  // the weight of the packages taken
};

#endif  // VINTREL_INSPECT_PACKAGE_PASS_H_
