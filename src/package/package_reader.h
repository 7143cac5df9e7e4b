#ifndef VINTREL_PACKAGE_PACKAGE_READER_H_
#define VINTREL_PACKAGE_PACKAGE_READER_H_

#include <cstdint>

#include "base/byte_buffer.h"
#include "base/file.h"
#include "base/platform.h"
#include "base/status.h"
#include "package/archive_window.h"
#include "package/entry_compression.h"
#include "package/package_format.h"

// Reads one package of an archive: its header, its two tables and its entries' ids, then on
// request its EntryTable and its compressed blocks. The tables go into buffers that the caller
// keeps, so that their blocks are reused from package to package; the entries' metadata views
// point into the EntryTable's buffer. Failures carry their reason; the caller adds which package
// and archive they concern.
class PackageReader {
 public:
  // The header and both tables usually lie within this many bytes of the package's start, and
  // arrive in one read.
  static constexpr uint32_t kFirstReadSize = 4096;

  PackageReader(ByteBuffer& indexTable, ByteBuffer& entryTable, ByteBuffer& idBlock);
  PackageReader(const PackageReader&) = delete;
  PackageReader& operator=(const PackageReader&) = delete;

  // Reads the package that starts base bytes into the archive: the header, and unless a validity
  // field says the package has no tables (has_tables() false; nothing more is read), both tables
  // and the IndexTable's entries with their ids. The header and tables take one read when they
  // lie within kFirstReadSize bytes of the start, two when the tables lie together beyond it,
  // and three only when they lie far apart and both beyond it. Tables beyond the first read are
  // held against the archive's size before anything is allocated for them. False, with the
  // reason in *status, on a short header, a wrong magic, a table that runs past the end of the
  // archive, a malformed IndexTable, or a failed read or allocation. Reads are positional; the
  // archive's current position is neither used nor defined afterwards.
  bool Read(FileHandle archive, uint64_t base, Status* status);
  // The same through a window of the archive, which brings the first bytes from its cache when
  // it holds them; the tables beyond them are read from window.archive() as above.
  bool Read(ArchiveWindow& window, uint64_t base, Status* status);

  // Reads every entry's rawSize and metadata view, and for a split package its EntryLocation,
  // from the EntryTable. False, with the reason in *status, when the table ends early.
  bool ReadEntryTable(Status* status);

  // Inflates the compressed block at offset (from the package's start) into output: a split
  // entry's block at its blockOffset, or a full package's data area at dataOffset, with the
  // caller's zlib streams. The archive's size is taken on the first call for a package and kept
  // for the others.
  bool ReadBlock(FileHandle archive, uint32_t offset, ZlibStreams& streams, ByteBuffer& output,
                 Status* status);

  uint64_t base() const { return base_; }
  const PackageHeader& header() const { return header_; }
  bool split() const { return header_.splitCompress != 0; }
  bool has_tables() const { return hasTables_; }
  const ByteBuffer& index_table() const { return indexTable_; }
  uint32_t entry_count() const { return entries_.count(); }
  PackageEntry& entry(uint32_t k) { return entries_[k]; }
  const PackageEntry& entry(uint32_t k) const { return entries_[k]; }

 private:
  void Start(uint64_t base);
  // The rest of Read, once the got >= 30 bytes at first have come from the package's start.
  bool ReadFrom(FileHandle archive, const uint8_t* first, uint32_t got, Status* status);
  bool ReadTables(FileHandle archive, const uint8_t* first, uint32_t got, Status* status);
  bool ReadTablesApart(FileHandle archive, const uint8_t* first, bool indexInFirst,
                       bool entryInFirst, uint64_t size, Status* status);
  // The archive's size, asked of the system once per package; kBadPosition when it cannot say.
  uint64_t ArchiveSize(FileHandle archive);

  ByteBuffer& indexTable_;
  ByteBuffer& entryTable_;
  ByteBuffer& idBlock_;
  uint64_t base_ = 0;
  uint64_t archiveSize_ = kBadPosition;
  PackageHeader header_;
  bool hasTables_ = false;
  TCountedArray<PackageEntry> entries_;
};

#endif  // VINTREL_PACKAGE_PACKAGE_READER_H_
