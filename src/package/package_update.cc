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
  if (read_whole_file(path.Text(), buffer)) return true;
  context.failure.FailIo("cannot read", path.Text());
  return false;
}

// The metadata of a replaced entry: the meta file's bytes when one is configured, otherwise what
// the replacing file (already in replacingFile) converts to, otherwise the old metadata, which
// *meta and *size hold on entry.
bool choose_metadata(RunContext& context, const PackageEntry& entry, const uint8_t** meta,
                     uint32_t* size) {
  PackageWork& work = context.packageWork;
  if (!entry.match->metaPath.IsEmpty()) {
    if (!read_configured_file(context, entry.match->metaPath, work.replacingMeta)) return false;
  } else {
    const MetaConversion result =
        convert_meta(work.replacingFile, work.replacingMeta, entry.extId, &context.failure);
    if (result == kMetaFailed) {
      context.failure.SetPath(entry.match->sourcePath.Text());
      return false;
    }
    if (result == kMetaNone) return true;
  }
  *meta = work.replacingMeta.data();
  *size = work.replacingMeta.length();
  return true;
}

// Writes one compressed block (raw size, then the stream in deflated) to the temporary file and
// records where it starts in the new data area. *sum is the data area's length so far.
bool append_temp_block(RunContext& context, uint32_t rawSize, PackageEntry& entry, uint32_t* sum) {
  const ByteBuffer& stream = context.packageWork.deflated;
  const uint32_t blockSize = stream.length();
  // A data area beyond 4 GiB could not be addressed by a u32 EntryLocation.
  if (blockSize > UINT32_MAX - 4 || blockSize + 4 > UINT32_MAX - *sum) {
    context.failure.Fail(StatusCode::kUnsupported,
                         "the rewritten package's data would pass 4 GiB, beyond what its "
                         "32-bit entry locations can address");
    return false;
  }
  if (!file_write_u32(context.tempFile, rawSize) ||
      file_write(context.tempFile, stream.data(), blockSize) != blockSize) {
    context.failure.FailIo("cannot write", context.tempPath.Text());
    return false;
  }
  entry.blockOffset = *sum;
  *sum += blockSize + 4;
  return true;
}

bool compress(RunContext& context, const ByteBuffer& input) {
  if (deflate_entry(input, context.packageWork.deflated)) return true;
  return out_of_memory(context);
}

// Steps for a split package: every entry is recompressed into the temporary file in table
// order, and the new EntryTable ends with the new EntryLocations.
bool build_split_package(RunContext& context, FileHandle source, PackageReader& package,
                         PackageHeader* header) {
  PackageWork& work = context.packageWork;
  if (!open_temp_file(context)) {
    context.failure.FailIo("cannot create the temporary file", context.tempPath.Text());
    return false;
  }

  ByteWriter writer(work.newEntryTable);
  uint32_t sum = 0;
  for (uint32_t k = 0; k < package.entry_count(); ++k) {
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
      if (!append_temp_block(context, entry.rawSize, entry, &sum) ||
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
      if (!append_temp_block(context, work.inflated.length(), entry, &sum)) return false;
    }
    if (!append_metadata(writer, meta, metaSize)) return out_of_memory(context);
  }

  // The table's final size counts the locations that are appended below.
  const uint64_t tableSize =
      uint64_t{work.newEntryTable.length()} + uint64_t{4} * package.entry_count();
  if (tableSize > UINT32_MAX) return out_of_memory(context);
  header->entryTableSize = static_cast<uint32_t>(tableSize);
  if (!written_data_offset(header->indexSize, header->entryTableSize, &header->dataOffset)) {
    return out_of_memory(context);
  }
  for (uint32_t k = 0; k < package.entry_count(); ++k) {
    const uint32_t offset = package.entry(k).blockOffset;
    if (offset > UINT32_MAX - header->dataOffset) {
      context.failure.Fail(StatusCode::kUnsupported,
                           "the rewritten package's data would pass 4 GiB, beyond what its "
                           "32-bit entry locations can address");
      return false;
    }
    if (!writer.write_u32(offset + header->dataOffset)) return out_of_memory(context);
  }
  return true;
}

// Appends n bytes to the new data area of a full package; false when it would pass 4 GiB.
bool append_data(RunContext& context, const uint8_t* bytes, uint32_t n) {
  ByteBuffer& area = context.packageWork.newDataArea;
  const uint32_t at = area.length();
  if (n > UINT32_MAX - at) {
    context.failure.Fail(StatusCode::kUnsupported,
                         "the rewritten package's data would pass 4 GiB, beyond what its "
                         "32-bit sizes can describe");
    return false;
  }
  if (!area.resize(at + n)) return out_of_memory(context);
  if (n != 0) std::memcpy(area.data() + at, bytes, n);
  return true;
}

// Steps for a full package: the one old block is inflated, cut into entries by their rawSizes,
// and the new raw data area is assembled in newDataArea.
bool build_full_package(RunContext& context, FileHandle source, PackageReader& package,
                        PackageHeader* header) {
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
      if (!append_data(context, work.inflated.data() + readPos, n)) return false;
      readPos += n;
    }
    entry.rawSize = n;
    if (!append_metadata(writer, meta, metaSize)) return out_of_memory(context);
  }
  for (uint32_t k = 0; k < package.entry_count(); ++k) {
    if (!writer.write_u32(package.entry(k).rawSize)) return out_of_memory(context);
  }
  header->entryTableSize = work.newEntryTable.length();
  if (!written_data_offset(header->indexSize, header->entryTableSize, &header->dataOffset)) {
    return out_of_memory(context);
  }
  return true;
}

// Copies the split package's blocks from the temporary file behind the tables.
bool copy_temp_blocks(RunContext& context, FileHandle target) {
  const uint64_t n = file_position(context.tempFile);
  if (n == kBadPosition || file_seek(context.tempFile, 0) != 0) {
    context.failure.FailIo("cannot read", context.tempPath.Text());
    return false;
  }
  uint8_t transfer[kTransferSize];
  if (copy_file_bytes(context.tempFile, target, n, transfer) == n) return true;
  context.failure.FailIo("cannot copy the temporary file into the user archive", "");
  return false;
}

bool write_full_block(RunContext& context, FileHandle target) {
  PackageWork& work = context.packageWork;
  if (!compress(context, work.newDataArea)) return false;
  const uint32_t length = work.deflated.length();
  if (file_write_u32(target, work.newDataArea.length()) &&
      file_write(target, work.deflated.data(), length) == length) {
    return true;
  }
  context.failure.FailIo("cannot write the user archive", "");
  return false;
}

// Writes the header, the IndexTable and the new EntryTable at targetBase, then the data area at
// dataOffset, and pads the archive to the next package boundary.
bool write_package(RunContext& context, const PackageReader& package, const PackageHeader& written,
                   FileHandle target, uint64_t targetBase) {
  const PackageWork& work = context.packageWork;
  if (!write_package_header(target, written) ||
      file_write(target, package.index_table().data(), written.indexSize) != written.indexSize ||
      file_write(target, work.newEntryTable.data(), written.entryTableSize) !=
          written.entryTableSize) {
    context.failure.FailIo("cannot write the user archive", "");
    return false;
  }
  // Seeking past the end leaves a gap that the next write fills with zeros.
  const uint64_t dataStart = targetBase + written.dataOffset;
  if (file_seek(target, dataStart) != dataStart) {
    context.failure.FailIo("cannot write the user archive", "");
    return false;
  }
  const bool dataWritten =
      package.split() ? copy_temp_blocks(context, target) : write_full_block(context, target);
  if (!dataWritten) return false;

  const uint64_t end = file_position(target);
  uint64_t aligned = 0;
  if (end == kBadPosition || !align_package_position(end, &aligned) ||
      file_seek(target, aligned) != aligned || !file_set_end(target)) {
    context.failure.FailIo("cannot write the user archive", "");
    return false;
  }
  return true;
}

}  // namespace

bool update_package(RunContext& context, const char* name, uint64_t packageId, FileHandle source,
                    uint64_t sourceOffset, FileHandle target, bool* changed, uint64_t* newOffset) {
  PackageWork& work = context.packageWork;
  work.Clear();

  PackageReader package(work.oldIndexTable, work.oldEntryTable, work.idBlock);
  if (!package.Read(source, sourceOffset, &context.failure)) return false;
  if (!package.has_tables()) return true;

  bool anyMatch = false;
  for (uint32_t k = 0; k < package.entry_count(); ++k) {
    PackageEntry& entry = package.entry(k);
    entry.match = find_pack_file_entry(context, entry.nameId, entry.extId, packageId);
    if (entry.match != nullptr) anyMatch = true;
  }
  if (!context.fullCopy && !anyMatch) return true;

  // Asked only now: most packages of a game are passed over without touching the target.
  const uint64_t targetBase = file_position(target);
  if (targetBase == kBadPosition) {
    context.failure.FailIo("cannot write the user archive", "");
    return false;
  }
  report_error("Updating files in package \"%s\" (%s).\n", name,
               package.split() ? "split compress" : "full compress");

  if (!package.ReadEntryTable(&context.failure)) return false;
  PackageHeader written = package.header();
  written.indexOffset = kPackageHeaderSize;
  written.entryTableOffset = kPackageHeaderSize + written.indexSize;
  if (written.entryTableOffset < written.indexSize) return out_of_memory(context);  // wrapped
  const bool built = package.split() ? build_split_package(context, source, package, &written)
                                     : build_full_package(context, source, package, &written);
  if (!built || !write_package(context, package, written, target, targetBase)) return false;
  *newOffset = targetBase;
  *changed = true;
  return true;
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
