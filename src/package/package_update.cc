#include "package/package_update.h"

#include <cstring>

#include "base/byte_buffer.h"
#include "base/file.h"
#include "driver/report.h"
#include "driver/run_context.h"
#include "package/entry_compression.h"
#include "package/package_format.h"
#include "package/texture_conversion.h"

namespace {

// The roles of the nine working buffers of the RunContext.
enum WorkBuffer {
  kOldIndexTable = 0,
  kOldEntryTable = 1,
  kNewEntryTable = 2,
  kInflated = 3,
  kDeflated = 4,
  kNewDataArea = 5,
  kReplacingFile = 6,
  kReplacingMeta = 7,
  kIdBlock = 8,
};

// Appends the size and bytes of an entry's metadata to the new EntryTable.
bool append_metadata(ByteWriter& writer, const uint8_t* meta, uint32_t size) {
  return writer.write_u32(size) && writer.write_bytes(meta, size);
}

// The metadata of a replaced entry: the meta file's bytes when one is configured, otherwise what
// the replacing file (already in kReplacingFile) converts to, otherwise the old metadata, which
// *meta and *size hold on entry.
bool choose_metadata(RunContext& context, const PackageEntry& entry, const uint8_t** meta,
                     uint32_t* size) {
  ByteBuffer& replacing = context.packageWork[kReplacingMeta];
  if (!entry.match->metaPath.IsEmpty()) {
    if (!read_whole_file(entry.match->metaPath.Text(), replacing)) return false;
  } else {
    const MetaConversion result =
        convert_meta(context.packageWork[kReplacingFile], replacing, entry.extId);
    if (result == kMetaFailed) return false;
    if (result == kMetaNone) return true;
  }
  *meta = replacing.data();
  *size = replacing.length();
  return true;
}

// Writes one compressed block (raw size, then the stream in kDeflated) to the temporary file and
// records where it starts in the new data area. *sum is the data area's length so far.
bool append_temp_block(RunContext& context, uint32_t rawSize, PackageEntry& entry, uint32_t* sum) {
  const ByteBuffer& stream = context.packageWork[kDeflated];
  const uint32_t blockSize = stream.length();
  // A data area beyond 4 GiB could not be addressed by a u32 EntryLocation.
  if (blockSize > UINT32_MAX - 4 || blockSize + 4 > UINT32_MAX - *sum) return false;
  if (!file_write_u32(context.tempFile, rawSize)) return false;
  if (file_write(context.tempFile, stream.data(), blockSize) != blockSize) return false;
  entry.blockOffset = *sum;
  *sum += blockSize + 4;
  return true;
}

// Steps for a split package: every entry is recompressed into the temporary file in table
// order, and the new EntryTable ends with the new EntryLocations.
bool build_split_package(RunContext& context, FileHandle source, uint64_t base,
                         TCountedArray<PackageGroup>& groups, uint32_t entryCount,
                         PackageHeader* header) {
  ByteBuffer* work = context.packageWork;
  if (!open_temp_file(context)) return false;
  if (!read_entry_locations(work[kOldEntryTable], groups)) return false;

  ByteReader reader(work[kOldEntryTable]);
  ByteWriter writer(work[kNewEntryTable]);
  uint32_t sum = 0;
  for (uint32_t g = 0; g < groups.count(); ++g) {
    PackageGroup& group = groups[g];
    for (uint32_t j = 0; j < group.entryCount; ++j) {
      PackageEntry& entry = group.entries[j];
      EntryInfo info;
      if (!read_entry_info(reader, &info)) return false;
      entry.rawSize = info.rawSize;
      const uint8_t* meta = info.meta;
      uint32_t metaSize = info.metaSize;
      if (entry.match != nullptr) {
        if (!read_whole_file(entry.match->sourcePath.Text(), work[kReplacingFile]) ||
            !deflate_entry(work[kReplacingFile], work[kDeflated])) {
          return false;
        }
        entry.rawSize = work[kReplacingFile].length();
        if (!writer.write_u32(entry.rawSize) ||
            !append_temp_block(context, entry.rawSize, entry, &sum) ||
            !choose_metadata(context, entry, &meta, &metaSize)) {
          return false;
        }
      } else {
        // The old EntryInfo's rawSize goes to the EntryTable, whatever the old block's own
        // prefix says; the new block's prefix is the length its stream inflates to, so that a
        // disagreement in the game's package is carried over without making the block unreadable.
        const uint64_t at = base + entry.blockOffset;
        if (file_seek(source, at) != at || !inflate_entry(source, work[kInflated]) ||
            !deflate_entry(work[kInflated], work[kDeflated]) || !writer.write_u32(entry.rawSize) ||
            !append_temp_block(context, work[kInflated].length(), entry, &sum)) {
          return false;
        }
      }
      if (!append_metadata(writer, meta, metaSize)) return false;
    }
  }

  // The table's final size counts the locations that are appended below.
  const uint64_t tableSize = uint64_t{work[kNewEntryTable].length()} + uint64_t{4} * entryCount;
  if (tableSize > UINT32_MAX) return false;
  header->entryTableSize = static_cast<uint32_t>(tableSize);
  if (!written_data_offset(header->indexSize, header->entryTableSize, &header->dataOffset)) {
    return false;
  }
  for (uint32_t g = 0; g < groups.count(); ++g) {
    PackageGroup& group = groups[g];
    for (uint32_t j = 0; j < group.entryCount; ++j) {
      const uint32_t offset = group.entries[j].blockOffset;
      if (offset > UINT32_MAX - header->dataOffset) return false;
      if (!writer.write_u32(offset + header->dataOffset)) return false;
    }
  }
  return true;
}

// Appends n bytes to the new data area of a full package; false when it would pass 4 GiB.
bool append_data(ByteBuffer& area, const uint8_t* bytes, uint32_t n) {
  const uint32_t at = area.length();
  if (n > UINT32_MAX - at || !area.resize(at + n)) return false;
  if (n != 0) std::memcpy(area.data() + at, bytes, n);
  return true;
}

// Steps for a full package: the one old block is inflated, cut into entries by their rawSizes,
// and the new raw data area is assembled in kNewDataArea.
bool build_full_package(RunContext& context, FileHandle source, uint64_t base,
                        TCountedArray<PackageGroup>& groups, PackageHeader* header) {
  ByteBuffer* work = context.packageWork;
  const uint64_t at = base + header->dataOffset;
  if (file_seek(source, at) != at || !inflate_entry(source, work[kInflated])) return false;

  ByteReader reader(work[kOldEntryTable]);
  ByteWriter writer(work[kNewEntryTable]);
  // 64 bits: the rawSizes of skipped entries may add up beyond a u32.
  uint64_t readPos = 0;
  for (uint32_t g = 0; g < groups.count(); ++g) {
    PackageGroup& group = groups[g];
    for (uint32_t j = 0; j < group.entryCount; ++j) {
      PackageEntry& entry = group.entries[j];
      EntryInfo info;
      if (!read_entry_info(reader, &info)) return false;
      uint32_t n = info.rawSize;
      const uint8_t* meta = info.meta;
      uint32_t metaSize = info.metaSize;
      if (entry.match != nullptr) {
        if (!read_whole_file(entry.match->sourcePath.Text(), work[kReplacingFile])) return false;
        readPos += n;
        n = work[kReplacingFile].length();
        if (!writer.write_u32(n) ||
            !append_data(work[kNewDataArea], work[kReplacingFile].data(), n) ||
            !choose_metadata(context, entry, &meta, &metaSize)) {
          return false;
        }
      } else {
        const uint32_t inflated = work[kInflated].length();
        if (!writer.write_u32(n) || readPos > inflated || n > inflated - readPos ||
            !append_data(work[kNewDataArea], work[kInflated].data() + readPos, n)) {
          return false;
        }
        readPos += n;
      }
      entry.rawSize = n;
      if (!append_metadata(writer, meta, metaSize)) return false;
    }
  }
  for (uint32_t g = 0; g < groups.count(); ++g) {
    PackageGroup& group = groups[g];
    for (uint32_t j = 0; j < group.entryCount; ++j) {
      if (!writer.write_u32(group.entries[j].rawSize)) return false;
    }
  }
  header->entryTableSize = work[kNewEntryTable].length();
  return written_data_offset(header->indexSize, header->entryTableSize, &header->dataOffset);
}

// Copies the split package's blocks from the temporary file behind the tables.
bool copy_temp_blocks(RunContext& context, FileHandle target) {
  const uint64_t n = file_position(context.tempFile);
  if (n == kBadPosition || file_seek(context.tempFile, 0) != 0) return false;
  uint8_t transfer[kTransferSize];
  return copy_file_bytes(context.tempFile, target, n, transfer) == n;
}

bool write_full_block(RunContext& context, FileHandle target) {
  ByteBuffer* work = context.packageWork;
  if (!deflate_entry(work[kNewDataArea], work[kDeflated])) return false;
  const uint32_t length = work[kDeflated].length();
  return file_write_u32(target, work[kNewDataArea].length()) &&
         file_write(target, work[kDeflated].data(), length) == length;
}

}  // namespace

bool update_package(RunContext& context, const char* name, uint64_t packageId, FileHandle source,
                    FileHandle target, bool* changed, uint64_t* newOffset) {
  ByteBuffer* work = context.packageWork;
  for (int i = 0; i < kPackageWorkCount; ++i) work[i].resize(0);

  const uint64_t base = file_position(source);
  const uint64_t targetBase = file_position(target);
  if (base == kBadPosition || targetBase == kBadPosition) return false;

  PackageHeader header;
  if (!read_package_header(source, &header)) return false;
  if (!package_has_tables(header)) return true;

  const uint64_t sourceSize = file_size(source);
  if (sourceSize == kBadPosition ||
      !read_package_table(source, base, header.indexOffset, header.indexSize, sourceSize,
                          work[kOldIndexTable]) ||
      !read_package_table(source, base, header.entryTableOffset, header.entryTableSize, sourceSize,
                          work[kOldEntryTable])) {
    return false;
  }

  TCountedArray<PackageGroup> groups;
  uint32_t entryCount = 0;
  if (!parse_index_table(work[kOldIndexTable], work[kIdBlock], groups, &entryCount)) {
    return false;
  }
  bool anyMatch = false;
  for (uint32_t g = 0; g < groups.count(); ++g) {
    PackageGroup& group = groups[g];
    for (uint32_t j = 0; j < group.entryCount; ++j) {
      PackageEntry& entry = group.entries[j];
      entry.match = find_pack_file_entry(context, entry.nameId, entry.extId, packageId);
      if (entry.match != nullptr) anyMatch = true;
    }
  }
  if (!context.fullCopy && !anyMatch) return true;

  report_error("Updating files in package \"%s\" (%s).\n", name,
               header.splitCompress != 0 ? "split compress" : "full compress");

  PackageHeader written = header;
  written.indexOffset = kPackageHeaderSize;
  written.entryTableOffset = kPackageHeaderSize + header.indexSize;
  if (written.entryTableOffset < header.indexSize) return false;  // wrapped
  const bool built = header.splitCompress != 0
                         ? build_split_package(context, source, base, groups, entryCount, &written)
                         : build_full_package(context, source, base, groups, &written);
  if (!built) return false;

  *newOffset = targetBase;
  if (!write_package_header(target, written)) return false;
  if (file_write(target, work[kOldIndexTable].data(), written.indexSize) != written.indexSize ||
      file_write(target, work[kNewEntryTable].data(), written.entryTableSize) !=
          written.entryTableSize) {
    return false;
  }
  // Seeking past the end leaves a gap that the next write fills with zeros.
  const uint64_t dataStart = targetBase + written.dataOffset;
  if (file_seek(target, dataStart) != dataStart) return false;
  const bool dataWritten = header.splitCompress != 0 ? copy_temp_blocks(context, target)
                                                     : write_full_block(context, target);
  if (!dataWritten) return false;

  const uint64_t end = file_position(target);
  uint64_t aligned = 0;
  if (end == kBadPosition || !align_package_position(end, &aligned) ||
      file_seek(target, aligned) != aligned || !file_set_end(target)) {
    return false;
  }
  *newOffset = targetBase;
  *changed = true;
  return true;
}

const PackFileEntry* find_pack_file_entry(const RunContext& context, uint64_t nameId,
                                          uint64_t extId, uint64_t packageId) {
  for (const PackFileEntry* entry = context.entries.head(); entry != nullptr; entry = entry->next) {
    if (entry->nameId == nameId && entry->extId == extId &&
        (entry->packageId == 0 || entry->packageId == packageId)) {
      return entry;
    }
  }
  return nullptr;
}

bool open_temp_file(RunContext& context) {
  if (context.tempFile == kNoFile) {
    context.tempFile = open_file(context.tempPath.Text(), "w+");
    return context.tempFile != kNoFile;
  }
  return file_seek(context.tempFile, 0) == 0;
}
