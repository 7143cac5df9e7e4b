#include "package/package_reader.h"

#include <algorithm>
#include <cstring>

#include "base/file.h"
#include "package/entry_compression.h"

namespace {

bool out_of_memory(Status* status) {
  status->Fail(StatusCode::kOutOfMemory, "out of memory");
  return false;
}

// A read that came up short: an I/O error when the system reported one, else the end of the
// archive came first.
bool short_read(const char* what, Status* status) {
  if (sys_last_error() != 0) {
    status->FailIo(what, "");
  } else {
    status->Fail(StatusCode::kCorrupt, "%s: the archive ends first", what);
  }
  return false;
}

// Copies the bytes [start, start + size) of window into table.
bool carve(const ByteBuffer& window, uint32_t start, uint32_t size, ByteBuffer& table) {
  if (!table.resize(size)) return false;
  if (size != 0) std::memcpy(table.data(), window.data() + start, size);
  return true;
}

}  // namespace

PackageReader::PackageReader(ByteBuffer& indexTable, ByteBuffer& entryTable, ByteBuffer& idBlock)
    : indexTable_(indexTable), entryTable_(entryTable), idBlock_(idBlock) {}

bool PackageReader::Read(FileHandle archive, uint64_t base, Status* status) {
  entries_.release();
  hasTables_ = false;
  entryTable_.resize(0);
  base_ = base;
  archiveSize_ = kBadPosition;

  // The first read brings the header and, for most packages, both tables. It goes into the
  // IndexTable's buffer, out of which ReadTables then carves the tables.
  if (!indexTable_.resize(kFirstReadSize)) return out_of_memory(status);
  const uint32_t got = file_read_at(archive, base, indexTable_.data(), kFirstReadSize);
  if (got < kPackageHeaderSize) return short_read("cannot read the package header", status);
  if (!decode_package_header(indexTable_.data(), &header_, status)) return false;
  if (!package_has_tables(header_)) {
    indexTable_.resize(0);
    return true;
  }
  if (!ReadTables(archive, got, status)) return false;
  hasTables_ = true;
  return parse_index_table(indexTable_, idBlock_, entries_, status);
}

bool PackageReader::ReadTables(FileHandle archive, uint32_t got, Status* status) {
  const uint64_t indexStart = header_.indexOffset;
  const uint64_t indexEnd = indexStart + header_.indexSize;
  const uint64_t entryStart = header_.entryTableOffset;
  const uint64_t entryEnd = entryStart + header_.entryTableSize;
  const bool indexInWindow = indexEnd <= got;
  const bool entryInWindow = entryEnd <= got;
  uint64_t windowStart = 0;

  if (!indexInWindow || !entryInWindow) {
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
    const uint64_t spanStart = std::min(indexStart, entryStart);
    const uint64_t spanSize = std::max(indexEnd, entryEnd) - spanStart;
    const uint64_t tableBytes = uint64_t{header_.indexSize} + header_.entryTableSize;
    if (spanSize > tableBytes + kFirstReadSize || spanSize > UINT32_MAX) {
      return ReadTablesApart(archive, indexInWindow, entryInWindow, size, status);
    }
    const uint32_t span = static_cast<uint32_t>(spanSize);
    if (!indexTable_.resize(span)) return out_of_memory(status);
    // base_ was read from, so it is at most INT64_MAX, and no 32-bit offset wraps past it.
    if (file_read_at(archive, base_ + spanStart, indexTable_.data(), span) != span) {
      return short_read("cannot read the package tables", status);
    }
    windowStart = spanStart;
  }

  // Both tables now lie in the IndexTable's buffer: the EntryTable is copied out first, then the
  // IndexTable moves to the front of its own buffer.
  const uint32_t entryAt = static_cast<uint32_t>(entryStart - windowStart);
  const uint32_t indexAt = static_cast<uint32_t>(indexStart - windowStart);
  if (!carve(indexTable_, entryAt, header_.entryTableSize, entryTable_)) {
    return out_of_memory(status);
  }
  std::memmove(indexTable_.data(), indexTable_.data() + indexAt, header_.indexSize);
  indexTable_.resize(header_.indexSize);
  return true;
}

bool PackageReader::ReadTablesApart(FileHandle archive, bool indexInWindow, bool entryInWindow,
                                    uint64_t size, Status* status) {
  // The first read still lies in the IndexTable's buffer: the EntryTable leaves it first.
  if (entryInWindow) {
    if (!carve(indexTable_, header_.entryTableOffset, header_.entryTableSize, entryTable_)) {
      return out_of_memory(status);
    }
  } else if (!read_package_table(archive, base_, header_.entryTableOffset, header_.entryTableSize,
                                 size, entryTable_)) {
    return short_read("cannot read the package tables", status);
  }
  if (indexInWindow) {
    std::memmove(indexTable_.data(), indexTable_.data() + header_.indexOffset, header_.indexSize);
    indexTable_.resize(header_.indexSize);
    return true;
  }
  if (!read_package_table(archive, base_, header_.indexOffset, header_.indexSize, size,
                          indexTable_)) {
    return short_read("cannot read the package tables", status);
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

bool PackageReader::ReadBlock(FileHandle archive, uint32_t offset, ByteBuffer& output,
                              Status* status) {
  const uint64_t size = ArchiveSize(archive);
  if (size == kBadPosition) {
    status->FailIo("cannot read", "");
    return false;
  }
  return inflate_entry(archive, base_ + offset, size, output, status);
}
