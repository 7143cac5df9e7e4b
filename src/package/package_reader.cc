#include "package/package_reader.h"

#include <algorithm>
#include <cstring>

#include "base/file.h"
#include "package/entry_compression.h"

namespace {

// A read that came up short: an I/O error when the system reported one (error), else the end of
// the archive came first.
bool short_read(const char* what, uint32_t error, Status* status) {
  if (error != 0) {
    status->FailIo(what, "", error);
  } else {
    status->Fail(StatusCode::kCorrupt, "%s: the archive ends first", what);
  }
  return false;
}

// Copies size bytes at from into table, whose length becomes size. from may lie inside table's
// own block: it then holds at least size bytes, so the block stays where it is.
bool copy_out(const uint8_t* from, uint32_t size, ByteBuffer& table) {
  if (!table.resize(size)) return false;
  if (size != 0) std::memmove(table.data(), from, size);
  return true;
}

}  // namespace

PackageReader::PackageReader(ByteBuffer& indexTable, ByteBuffer& entryTable, ByteBuffer& idBlock)
    : indexTable_(indexTable), entryTable_(entryTable), idBlock_(idBlock) {}

void PackageReader::Start(uint64_t base) {
  entries_.release();
  hasTables_ = false;
  entryTable_.resize(0);
  base_ = base;
  archiveSize_ = kBadPosition;
}

bool PackageReader::Read(FileHandle archive, uint64_t base, Status* status) {
  Start(base);
  if (!indexTable_.resize(kFirstReadSize)) return status->FailOutOfMemory();
  const uint32_t got = file_read_at(archive, base, indexTable_.data(), kFirstReadSize);
  if (got < kPackageHeaderSize) {
    return short_read("cannot read the package header", sys_last_error(), status);
  }
  return ReadFrom(archive, indexTable_.data(), got, status);
}

bool PackageReader::Read(ArchiveWindow& window, uint64_t base, Status* status) {
  Start(base);
  const uint8_t* first = nullptr;
  uint32_t got = 0;
  if (!window.Fetch(base, kFirstReadSize, &first, &got)) return status->FailOutOfMemory();
  if (got < kPackageHeaderSize) {
    return short_read("cannot read the package header", window.read_error(), status);
  }
  return ReadFrom(window.archive(), first, got, status);
}

bool PackageReader::ReadFrom(FileHandle archive, const uint8_t* first, uint32_t got,
                             Status* status) {
  if (!decode_package_header(first, &header_, status)) return false;
  if (!package_has_tables(header_)) {
    indexTable_.resize(0);
    return true;
  }
  if (!ReadTables(archive, first, got, status)) return false;
  hasTables_ = true;
  return parse_index_table(indexTable_, idBlock_, entries_, status);
}

bool PackageReader::ReadTables(FileHandle archive, const uint8_t* first, uint32_t got,
                               Status* status) {
  const uint64_t indexStart = header_.indexOffset;
  const uint64_t indexEnd = indexStart + header_.indexSize;
  const uint64_t entryStart = header_.entryTableOffset;
  const uint64_t entryEnd = entryStart + header_.entryTableSize;
  const bool indexInFirst = indexEnd <= got;
  const bool entryInFirst = entryEnd <= got;
  const uint8_t* span = first;
  uint64_t spanStart = 0;

  if (!indexInFirst || !entryInFirst) {
    // A table reaches beyond the first read. The declared sizes are held against the archive
    // before any buffer grows for them, so that a damaged header cannot ask for gigabytes.
    const uint64_t size = ArchiveSize(archive);
    if (size == kBadPosition) {
      status->FailIo("cannot read the package tables", "");
      return false;
    }
    const uint64_t available = size > base_ ? size - base_ : 0;
    if (indexEnd > available) {
      status->Fail(StatusCode::kCorrupt, "the index table runs past the end of the archive");
      return false;
    }
    if (entryEnd > available) {
      status->Fail(StatusCode::kCorrupt, "the entry table runs past the end of the archive");
      return false;
    }
    // One read of the span that holds both tables, unless much lies between them; then each
    // table beyond the first read is read alone.
    spanStart = std::min(indexStart, entryStart);
    const uint64_t spanSize = std::max(indexEnd, entryEnd) - spanStart;
    const uint64_t tableBytes = uint64_t{header_.indexSize} + header_.entryTableSize;
    if (spanSize > tableBytes + kFirstReadSize || spanSize > UINT32_MAX) {
      return ReadTablesApart(archive, first, indexInFirst, entryInFirst, size, status);
    }
    const uint32_t length = static_cast<uint32_t>(spanSize);
    if (!indexTable_.resize(length)) return status->FailOutOfMemory();
    // base_ was read from, so it is at most INT64_MAX, and no 32-bit offset wraps past it.
    if (file_read_at(archive, base_ + spanStart, indexTable_.data(), length) != length) {
      return short_read("cannot read the package tables", sys_last_error(), status);
    }
    span = indexTable_.data();
  }

  // The span may be the IndexTable's own buffer: the EntryTable leaves it first.
  if (!copy_out(span + (entryStart - spanStart), header_.entryTableSize, entryTable_) ||
      !copy_out(span + (indexStart - spanStart), header_.indexSize, indexTable_)) {
    return status->FailOutOfMemory();
  }
  return true;
}

bool PackageReader::ReadTablesApart(FileHandle archive, const uint8_t* first, bool indexInFirst,
                                    bool entryInFirst, uint64_t size, Status* status) {
  // The first read may be the IndexTable's own buffer: the EntryTable leaves it first.
  if (entryInFirst) {
    if (!copy_out(first + header_.entryTableOffset, header_.entryTableSize, entryTable_)) {
      return status->FailOutOfMemory();
    }
  } else if (!read_package_table(archive, base_, header_.entryTableOffset, header_.entryTableSize,
                                 size, entryTable_)) {
    return short_read("cannot read the package tables", sys_last_error(), status);
  }
  if (indexInFirst) {
    if (!copy_out(first + header_.indexOffset, header_.indexSize, indexTable_)) {
      return status->FailOutOfMemory();
    }
    return true;
  }
  if (!read_package_table(archive, base_, header_.indexOffset, header_.indexSize, size,
                          indexTable_)) {
    return short_read("cannot read the package tables", sys_last_error(), status);
  }
  return true;
}

uint64_t PackageReader::ArchiveSize(FileHandle archive) {
  if (archiveSize_ == kBadPosition) archiveSize_ = file_size(archive);
  return archiveSize_;
}

bool PackageReader::ReadEntryTable(Status* status) {
  return parse_entry_table(entryTable_, split(), entries_, status);
}

bool PackageReader::ReadBlock(FileHandle archive, uint32_t offset, ZlibStreams& streams,
                              ByteBuffer& output, Status* status) {
  const uint64_t size = ArchiveSize(archive);
  if (size == kBadPosition) {
    status->FailIo("cannot read", "");
    return false;
  }
  return inflate_entry(streams, archive, base_ + offset, size, output, status);
}
