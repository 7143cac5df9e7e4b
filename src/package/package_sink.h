#ifndef VINTREL_PACKAGE_PACKAGE_SINK_H_
#define VINTREL_PACKAGE_PACKAGE_SINK_H_

#include <atomic>
#include <cstdint>

#include "base/byte_buffer.h"
#include "base/platform.h"
#include "base/shared_string.h"
#include "base/status.h"
#include "base/temp_file.h"

// Where update_package writes a rewritten package: its bytes in order from its first byte, the
// zeros of its gaps included, up to its padding at the next package boundary. Every offset inside
// a package counts from its first byte, so the same bytes serve wherever the package begins.
// Failures carry their reason in the *status given.
class PackageSink {
 public:
  virtual ~PackageSink() = default;

  // The bytes held so far; a package begins at the length the sink had.
  virtual uint64_t length() const = 0;
  // Appends n bytes.
  virtual bool Write(const void* bytes, uint32_t n, Status* status) = 0;
  // Appends n zero bytes.
  virtual bool WriteZeros(uint64_t n, Status* status) = 0;
  // Writes n bytes over bytes already appended, from position on.
  virtual bool WriteAt(uint64_t position, const void* bytes, uint32_t n, Status* status) = 0;
};

// Appends to a file from its present end: a run's user archive. Every kStartFlushStep bytes the
// system is asked to start putting the file on the disk, so that the flush before the run commits
// has less to wait for. Failures name path.
class FileSink : public PackageSink {
 public:
  static constexpr uint64_t kStartFlushStep = 32u << 20;

  FileSink(FileHandle file, uint64_t length, const char* path)
      : file_(file), length_(length), path_(path) {}

  uint64_t length() const override { return length_; }
  // Ends the file at length, before the present end: drops a package written in part.
  bool CutTo(uint64_t length, Status* status);
  bool Write(const void* bytes, uint32_t n, Status* status) override;
  bool WriteZeros(uint64_t n, Status* status) override;
  bool WriteAt(uint64_t position, const void* bytes, uint32_t n, Status* status) override;

 private:
  bool Fail(Status* status) const;
  void Grew(uint64_t before);

  FileHandle file_;
  uint64_t length_;
  const char* path_;
};

// Counts what it is given and keeps nothing: a plan's user archive.
class CountingSink : public PackageSink {
 public:
  uint64_t length() const override { return length_; }
  bool Write(const void*, uint32_t n, Status*) override;
  bool WriteZeros(uint64_t n, Status*) override;
  bool WriteAt(uint64_t, const void*, uint32_t, Status*) override { return true; }
  // Adds n bytes, as a package of n bytes would.
  void Add(uint64_t n) { length_ += n; }

 private:
  uint64_t length_ = 0;
};

// Holds one package that a worker writes for the user archive until the writer appends it: in
// memory up to a limit, the rest in a temporary file of its own. Its memory grows as needed up to
// the limit and is kept from package to package, so that the sinks of a pass hold at most a known
// amount of memory and none is taken and given back at every package.
class StagingSink : public PackageSink {
 public:
  // The most bytes held in memory, the temporary directory (ending in a separator) and the number
  // of the file beyond the memory. False when out of memory.
  bool Place(uint32_t memoryLimit, const char* tempDir, uint32_t number);
  // Empties the sink for the next package.
  void Reset();
  // Appends everything held to out.
  bool CopyTo(PackageSink& out, Status* status);

  uint64_t length() const override { return memory_.length() + spilled_; }
  bool Write(const void* bytes, uint32_t n, Status* status) override;
  bool WriteZeros(uint64_t n, Status* status) override;
  bool WriteAt(uint64_t position, const void* bytes, uint32_t n, Status* status) override;

 private:
  bool Grow(uint32_t needed);
  bool WriteToFile(const void* bytes, uint32_t n, Status* status);

  ByteBuffer memory_;
  uint32_t memoryLimit_ = 0;
  TempFile spill_;
  uint64_t spilled_ = 0;  // bytes in the file, which follow those in memory
};

// A worker's sink for one package of a run: the package is staged (StagingSink) while packages
// before it are still being written, and once the writer has reached it (reached set; the
// writer then waits for it and leaves the archive alone) what was staged goes to the archive
// and the rest follows there straight, written once instead of staged and copied.
class HandoffSink : public PackageSink {
 public:
  // For the next package, from an emptied staging sink.
  void Start(StagingSink* staging, FileSink* archive, const std::atomic<bool>* reached) {
    staging_ = staging;
    archive_ = archive;
    reached_ = reached;
    direct_ = false;
  }

  // Whether the package went to the archive, from base() on.
  bool direct() const { return direct_; }
  uint64_t base() const { return base_; }

  uint64_t length() const override;
  bool Write(const void* bytes, uint32_t n, Status* status) override;
  bool WriteZeros(uint64_t n, Status* status) override;
  bool WriteAt(uint64_t position, const void* bytes, uint32_t n, Status* status) override;

 private:
  // Goes over to the archive once the writer has reached the package. False, with the reason,
  // when the staged bytes cannot be copied there.
  bool Follow(Status* status);

  StagingSink* staging_ = nullptr;
  FileSink* archive_ = nullptr;
  const std::atomic<bool>* reached_ = nullptr;
  bool direct_ = false;
  uint64_t base_ = 0;
};

#endif  // VINTREL_PACKAGE_PACKAGE_SINK_H_
