#include "package/package_update.h"

#include <cstring>

#include "base/byte_buffer.h"
#include "base/file.h"
#include "driver/report.h"
#include "driver/run_context.h"
#include "package/entry_compression.h"
#include "package/package_format.h"
#include "package/package_reader.h"
#include "package/texture_conversion.h"

namespace {

constexpr uint64_t kStartFlushStep = 32u << 20;

// Appends the size and bytes of an entry's metadata to the new EntryTable.
bool append_metadata(ByteWriter& writer, const uint8_t* meta, uint32_t size) {
  return writer.write_u32(size) && writer.write_bytes(meta, size);
}

bool out_of_memory(RunContext& context) {
  context.failure.Fail(StatusCode::kOutOfMemory, "out of memory");
  return false;
}

// Reads a configured file whole into buffer.
bool read_configured_file(RunContext& context, const SharedString& path, ByteBuffer& buffer) {
  return read_whole_file(path.Text(), buffer, &context.failure);
}

// The metadata of a replaced entry: what the configured file gives it (replacingFile holds the
// file's bytes), otherwise the old metadata, which *meta and *size hold on entry.
bool choose_metadata(RunContext& context, const PackageEntry& entry, const uint8_t** meta,
                     uint32_t* size) {
  PackageWork& work = context.packageWork;
  const MetaConversion result =
      replacement_metadata(*entry.match, work.replacingFile, work.replacingMeta, &context.failure);
  if (result == kMetaFailed) return false;
  if (result == kMetaConverted) {
    *meta = work.replacingMeta.data();
    *size = work.replacingMeta.length();
  }
  return true;
}

// A limit of the format's 32-bit fields that the rewritten package would pass.
bool beyond_limit(RunContext& context, const char* what) {
  context.failure.Fail(StatusCode::kUnsupported,
                       "the rewritten package's %s would pass 4 GiB, beyond what the package "
                       "format's 32-bit fields can hold",
                       what);
  return false;
}

bool cannot_write_archive(RunContext& context) {
  context.failure.FailIo("cannot write", context.pending.userArchive.temp_path());
  return false;
}

// Where a split package's compressed blocks go: straight into the user archive behind the space
// for the tables, when the new EntryTable's size is known before the first block, or else into
// the temporary file, to be copied behind the tables once they are written.
struct BlockSink {
  FileHandle file;
  bool direct;  // file is the user archive
};

// Writes one compressed block (raw size, then the stream in deflated) to the sink and records
// where it starts in the new data area. *sum is the data area's length so far.
bool append_block(RunContext& context, const BlockSink& sink, uint32_t rawSize, PackageEntry& entry,
                  uint32_t* sum) {
  const ByteBuffer& stream = context.packageWork.deflated;
  const uint32_t blockSize = stream.length();
  uint32_t next = 0;
  if (!next_block_offset(*sum, blockSize, &next)) return beyond_limit(context, "data area");
  if (!context.dryRun && (!file_write_u32(sink.file, rawSize) ||
                          file_write(sink.file, stream.data(), blockSize) != blockSize)) {
    if (sink.direct) return cannot_write_archive(context);
    context.failure.FailIo("cannot write", context.tempPath.Text());
    return false;
  }
  entry.blockOffset = *sum;
  *sum = next;
  return true;
}

bool compress(RunContext& context, const ByteBuffer& input) {
  if (deflate_entry(input, context.packageWork.deflated)) return true;
  // Level 0 output is a little longer than its input; near 4 GiB it no longer fits a buffer.
  if (input.length() > UINT32_MAX - UINT32_MAX / 1024) return beyond_limit(context, "block");
  return out_of_memory(context);
}

// Sets the new EntryTable's size (tableSize, counting the locations still to be appended) and
// the dataOffset that follows from it.
bool set_table_size(RunContext& context, uint64_t tableSize, PackageHeader* header) {
  if (tableSize > UINT32_MAX) return beyond_limit(context, "entry table");
  header->entryTableSize = static_cast<uint32_t>(tableSize);
  if (!written_data_offset(header->indexSize, header->entryTableSize, &header->dataOffset)) {
    return beyond_limit(context, "tables");
  }
  return true;
}

// Steps for a split package: every entry is recompressed in table order, and the new EntryTable
// ends with the new EntryLocations. Without a replaced entry the new EntryTable has the old
// records, so its size and the dataOffset are known first and the blocks go straight to
// targetBase + dataOffset; otherwise they go to the temporary file. *dataEnd is where the
// blocks end in the user archive (direct) or in the temporary file.
bool build_split_package(RunContext& context, FileHandle source, PackageReader& package,
                         bool anyMatch, FileHandle target, uint64_t targetBase,
                         PackageHeader* header, BlockSink* sink, uint64_t* dataEnd) {
  PackageWork& work = context.packageWork;
  const uint32_t count = package.entry_count();
  sink->direct = !anyMatch;
  if (sink->direct) {
    uint64_t tableSize = uint64_t{4} * count;
    for (uint32_t k = 0; k < count; ++k) tableSize += 8 + uint64_t{package.entry(k).metaSize};
    if (!set_table_size(context, tableSize, header)) return false;
    // Seeking past the end leaves a gap that the tables fill and zeros pad.
    const uint64_t dataStart = targetBase + header->dataOffset;
    if (!context.dryRun && file_seek(target, dataStart) != dataStart) {
      return cannot_write_archive(context);
    }
    sink->file = target;
  } else {
    if (!context.dryRun && !open_temp_file(context)) {
      context.failure.FailIo("cannot create the temporary file", context.tempPath.Text());
      return false;
    }
    sink->file = context.tempFile;
  }

  ByteWriter writer(work.newEntryTable);
  uint32_t sum = 0;
  for (uint32_t k = 0; k < count; ++k) {
    PackageEntry& entry = package.entry(k);
    const uint8_t* meta = entry.meta;
    uint32_t metaSize = entry.metaSize;
    if (entry.match != nullptr) {
      if (!read_configured_file(context, entry.match->sourcePath, work.replacingFile) ||
          !compress(context, work.replacingFile)) {
        return false;
      }
      entry.rawSize = work.replacingFile.length();
      if (!writer.write_u32(entry.rawSize)) return out_of_memory(context);
      if (!append_block(context, *sink, entry.rawSize, entry, &sum) ||
          !choose_metadata(context, entry, &meta, &metaSize)) {
        return false;
      }
    } else {
      // The old EntryInfo's rawSize goes to the EntryTable, whatever the old block's own
      // prefix says; the new block's prefix is the length its stream inflates to, so that a
      // disagreement in the game's package is carried over without making the block unreadable.
      if (!package.ReadBlock(source, entry.blockOffset, work.inflated, &context.failure) ||
          !compress(context, work.inflated)) {
        return false;
      }
      if (!writer.write_u32(entry.rawSize)) return out_of_memory(context);
      if (!append_block(context, *sink, work.inflated.length(), entry, &sum)) return false;
    }
    if (!append_metadata(writer, meta, metaSize)) return out_of_memory(context);
  }

  if (!sink->direct &&
      !set_table_size(context, uint64_t{work.newEntryTable.length()} + uint64_t{4} * count,
                      header)) {
    return false;
  }
  for (uint32_t k = 0; k < count; ++k) {
    uint32_t location = 0;
    if (!entry_location(header->dataOffset, package.entry(k).blockOffset, &location)) {
      return beyond_limit(context, "data area");
    }
    if (!writer.write_u32(location)) return out_of_memory(context);
  }
  *dataEnd = (sink->direct ? targetBase + header->dataOffset : 0) + sum;
  return true;
}

// Appends n bytes to the new data area of a full package; false when it would pass 4 GiB.
bool append_data(RunContext& context, const uint8_t* bytes, uint32_t n) {
  ByteBuffer& area = context.packageWork.newDataArea;
  const uint32_t at = area.length();
  if (n > UINT32_MAX - at) return beyond_limit(context, "data area");
  if (!area.resize(at + n)) return out_of_memory(context);
  if (n != 0) std::memcpy(area.data() + at, bytes, n);
  return true;
}

// Steps for a full package: the one old block is inflated, cut into entries by their rawSizes,
// and the new raw data area is assembled. Without a replaced entry it is the inflated area's
// first bytes as they stand, and *area is that buffer cut to them; otherwise it is built in
// newDataArea.
bool build_full_package(RunContext& context, FileHandle source, PackageReader& package,
                        bool anyMatch, PackageHeader* header, ByteBuffer** area) {
  PackageWork& work = context.packageWork;
  if (!package.ReadBlock(source, header->dataOffset, work.inflated, &context.failure)) {
    return false;
  }

  ByteWriter writer(work.newEntryTable);
  // 64 bits: the rawSizes of skipped entries may add up beyond a u32.
  uint64_t readPos = 0;
  for (uint32_t k = 0; k < package.entry_count(); ++k) {
    PackageEntry& entry = package.entry(k);
    uint32_t n = entry.rawSize;
    const uint8_t* meta = entry.meta;
    uint32_t metaSize = entry.metaSize;
    if (entry.match != nullptr) {
      if (!read_configured_file(context, entry.match->sourcePath, work.replacingFile)) {
        return false;
      }
      readPos += n;
      n = work.replacingFile.length();
      if (!writer.write_u32(n)) return out_of_memory(context);
      if (!append_data(context, work.replacingFile.data(), n) ||
          !choose_metadata(context, entry, &meta, &metaSize)) {
        return false;
      }
    } else {
      const uint32_t inflated = work.inflated.length();
      if (readPos > inflated || n > inflated - readPos) {
        context.failure.Fail(StatusCode::kCorrupt,
                             "entry %u runs past the end of the inflated data area", k);
        return false;
      }
      if (!writer.write_u32(n)) return out_of_memory(context);
      if (anyMatch && !append_data(context, work.inflated.data() + readPos, n)) return false;
      readPos += n;
    }
    entry.rawSize = n;
    if (!append_metadata(writer, meta, metaSize)) return out_of_memory(context);
  }
  for (uint32_t k = 0; k < package.entry_count(); ++k) {
    if (!writer.write_u32(package.entry(k).rawSize)) return out_of_memory(context);
  }
  if (anyMatch) {
    *area = &work.newDataArea;
  } else {
    // Every entry was checked to lie inside the inflated area, so this only shortens it.
    work.inflated.resize(static_cast<uint32_t>(readPos));
    *area = &work.inflated;
  }
  return set_table_size(context, work.newEntryTable.length(), header);
}

// Copies the split package's blocks, n bytes, from the temporary file to the target.
bool copy_temp_blocks(RunContext& context, FileHandle target, uint64_t n) {
  if (file_seek(context.tempFile, 0) != 0) {
    context.failure.FailIo("cannot read", context.tempPath.Text());
    return false;
  }
  uint8_t transfer[kTransferSize];
  if (copy_file_bytes(context.tempFile, target, n, transfer) == n) return true;
  context.failure.FailIo("cannot copy the temporary file into",
                         context.pending.userArchive.temp_path());
  return false;
}

// Writes a full package's data area, compressed already, at the target's position.
bool write_full_block(RunContext& context, const ByteBuffer& area, FileHandle target) {
  PackageWork& work = context.packageWork;
  const uint32_t length = work.deflated.length();
  if (file_write_u32(target, area.length()) &&
      file_write(target, work.deflated.data(), length) == length) {
    return true;
  }
  return cannot_write_archive(context);
}

// Writes the header, the IndexTable and the new EntryTable at the target's position.
bool write_tables(RunContext& context, const PackageReader& package, const PackageHeader& written,
                  FileHandle target) {
  const PackageWork& work = context.packageWork;
  if (write_package_header(target, written) &&
      file_write(target, package.index_table().data(), written.indexSize) == written.indexSize &&
      file_write(target, work.newEntryTable.data(), written.entryTableSize) ==
          written.entryTableSize) {
    return true;
  }
  return cannot_write_archive(context);
}

// Pads the archive with zeros from end, where the package ends, to the next package boundary.
// Every kStartFlushStep bytes the system is asked to start writing the archive to the disk, so
// that the flush before the run commits does not wait for all of it at once.
bool pad_package(RunContext& context, FileHandle target, uint64_t targetBase, uint64_t end) {
  uint64_t aligned = 0;
  if (!align_package_position(end, &aligned) || file_seek(target, aligned) != aligned ||
      !file_set_end(target)) {
    return cannot_write_archive(context);
  }
  if (aligned / kStartFlushStep != targetBase / kStartFlushStep) file_start_flush(target);
  return true;
}

}  // namespace

bool update_package(RunContext& context, const char* name, uint64_t packageId,
                    ArchiveWindow& window, uint64_t sourceOffset, FileHandle target, bool* changed,
                    uint64_t* newOffset) {
  PackageWork& work = context.packageWork;
  work.Clear();

  PackageReader package(work.oldIndexTable, work.oldEntryTable, work.idBlock);
  if (!package.Read(window, sourceOffset, &context.failure)) return false;
  const FileHandle source = window.archive();
  if (!package.has_tables()) return true;

  bool anyMatch = false;
  for (uint32_t k = 0; k < package.entry_count(); ++k) {
    PackageEntry& entry = package.entry(k);
    entry.match = find_pack_file_entry(context, entry.nameId, entry.extId, packageId);
    if (entry.match != nullptr) {
      entry.match->used = true;
      anyMatch = true;
    }
  }
  if (!context.fullCopy && !anyMatch) return true;

  // Asked only now: most packages of a game are passed over without touching the target.
  const uint64_t targetBase = context.dryRun ? context.dryRunEnd : file_position(target);
  if (targetBase == kBadPosition) return cannot_write_archive(context);
  if (!context.dryRun) {
    report_error("Updating files in package \"%s\" (%s).\n", name,
                 package.split() ? "split compress" : "full compress");
  }

  if (!package.ReadEntryTable(&context.failure)) return false;
  PackageHeader written = package.header();
  written.indexOffset = kPackageHeaderSize;
  if (written.indexSize > UINT32_MAX - kPackageHeaderSize) return beyond_limit(context, "tables");
  written.entryTableOffset = kPackageHeaderSize + written.indexSize;

  // The header and tables go at targetBase, the data area at targetBase + dataOffset; seeking
  // past the end leaves a gap that zeros fill. A dry run builds everything but writes nothing.
  const bool write = !context.dryRun;
  uint64_t dataEnd = 0;
  if (package.split()) {
    BlockSink sink;
    if (!build_split_package(context, source, package, anyMatch, target, targetBase, &written,
                             &sink, &dataEnd)) {
      return false;
    }
    if (sink.direct) {
      if (write && (file_seek(target, targetBase) != targetBase ||
                    !write_tables(context, package, written, target))) {
        return cannot_write_archive(context);
      }
    } else {
      const uint64_t dataStart = targetBase + written.dataOffset;
      if (write && !write_tables(context, package, written, target)) return false;
      if (write && file_seek(target, dataStart) != dataStart) return cannot_write_archive(context);
      if (write && !copy_temp_blocks(context, target, dataEnd)) return false;
      dataEnd += dataStart;
    }
  } else {
    ByteBuffer* area = nullptr;
    if (!build_full_package(context, source, package, anyMatch, &written, &area) ||
        !compress(context, *area)) {
      return false;
    }
    const uint64_t dataStart = targetBase + written.dataOffset;
    if (write &&
        (!write_tables(context, package, written, target) ||
         file_seek(target, dataStart) != dataStart || !write_full_block(context, *area, target))) {
      return cannot_write_archive(context);
    }
    dataEnd = dataStart + 4 + work.deflated.length();
  }
  if (write && !pad_package(context, target, targetBase, dataEnd)) return false;
  if (!write && !align_package_position(dataEnd, &context.dryRunEnd)) {
    return beyond_limit(context, "user archive");
  }
  *newOffset = targetBase;
  *changed = true;
  return true;
}

MetaConversion replacement_metadata(const PackFileEntry& file, const ByteBuffer& content,
                                    ByteBuffer& meta, Status* status) {
  if (!file.metaPath.IsEmpty()) {
    return read_whole_file(file.metaPath.Text(), meta, status) ? kMetaConverted : kMetaFailed;
  }
  const MetaConversion result = convert_meta(content, meta, file.extId, status);
  if (result == kMetaFailed) status->SetPath(file.sourcePath.Text());
  return result;
}

const PackFileEntry* find_pack_file_entry(const RunContext& context, uint64_t nameId,
                                          uint64_t extId, uint64_t packageId) {
  return context.entries.Find(nameId, extId, packageId);
}

bool open_temp_file(RunContext& context) {
  if (context.tempFile == kNoFile) {
    context.tempFile = open_file(context.tempPath.Text(), "w+");
    return context.tempFile != kNoFile;
  }
  return file_seek(context.tempFile, 0) == 0;
}
