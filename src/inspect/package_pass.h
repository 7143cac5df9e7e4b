#ifndef VINTREL_INSPECT_PACKAGE_PASS_H_
#define VINTREL_INSPECT_PACKAGE_PASS_H_

#include <cstdint>

#include "base/byte_buffer.h"
#include "base/file.h"
#include "base/status.h"
#include "manifest/game_reader.h"
#include "package/package_reader.h"

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

#endif  // VINTREL_INSPECT_PACKAGE_PASS_H_
