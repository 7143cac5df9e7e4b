#include "package/package_format.h"

#include "base/coding.h"
#include "base/file.h"

bool decode_package_header(const uint8_t* bytes, PackageHeader* header, Status* status) {
  header->magic = decode_u32(bytes + kHeaderMagicOffset);
  if (header->magic != kPackageMagic) {
    status->Fail(StatusCode::kCorrupt, "no package here: the bytes do not begin with \"OBPK\"");
    return false;
  }
  header->attrByte = bytes[kHeaderAttrByteOffset];
  header->attrWord = decode_u32(bytes + kHeaderAttrWordOffset);
  header->indexOffset = decode_u32(bytes + kHeaderIndexOffsetOffset);
  header->indexSize = decode_u32(bytes + kHeaderIndexSizeOffset);
  header->entryTableOffset = decode_u32(bytes + kHeaderEntryTableOffsetOffset);
  header->entryTableSize = decode_u32(bytes + kHeaderEntryTableSizeOffset);
  header->dataOffset = decode_u32(bytes + kHeaderDataOffsetOffset);
  header->splitCompress = bytes[kHeaderSplitCompressOffset];
  return true;
}

void encode_package_header(const PackageHeader& header, uint8_t* bytes) {
  encode_u32(bytes + kHeaderMagicOffset, header.magic);
  bytes[kHeaderAttrByteOffset] = header.attrByte;
  encode_u32(bytes + kHeaderAttrWordOffset, header.attrWord);
  encode_u32(bytes + kHeaderIndexOffsetOffset, header.indexOffset);
  encode_u32(bytes + kHeaderIndexSizeOffset, header.indexSize);
  encode_u32(bytes + kHeaderEntryTableOffsetOffset, header.entryTableOffset);
  encode_u32(bytes + kHeaderEntryTableSizeOffset, header.entryTableSize);
  encode_u32(bytes + kHeaderDataOffsetOffset, header.dataOffset);
  bytes[kHeaderSplitCompressOffset] = header.splitCompress;
}

bool read_package_header(FileHandle file, PackageHeader* header) {
  uint8_t bytes[kPackageHeaderSize];
  if (file_read(file, bytes, kPackageHeaderSize) != kPackageHeaderSize) return false;
  Status ignored;
  return decode_package_header(bytes, header, &ignored);
}

bool write_package_header(FileHandle file, const PackageHeader& header) {
  uint8_t bytes[kPackageHeaderSize];
  encode_package_header(header, bytes);
  return file_write(file, bytes, kPackageHeaderSize) == kPackageHeaderSize;
}

namespace {

bool is_usable_offset(uint32_t offset) { return offset != 0 && offset != UINT32_MAX; }

}  // namespace

bool package_has_tables(const PackageHeader& header) {
  return is_usable_offset(header.indexOffset) && header.indexSize != 0 &&
         is_usable_offset(header.entryTableOffset) && header.entryTableSize != 0 &&
         is_usable_offset(header.dataOffset);
}

bool written_data_offset(uint32_t indexSize, uint32_t entryTableSize, uint32_t* dataOffset) {
  // Summed in 64 bits: three u32 terms cannot wrap there.
  const uint64_t end = uint64_t{kPackageHeaderSize} + indexSize + entryTableSize;
  uint64_t aligned = 0;
  if (!align_package_position(end, &aligned) || aligned > UINT32_MAX) return false;
  *dataOffset = static_cast<uint32_t>(aligned);
  return true;
}

bool align_package_position(uint64_t position, uint64_t* aligned) {
  const uint64_t slack = kPackageAlignment - 1;
  if (position > UINT64_MAX - slack) return false;
  *aligned = (position + slack) / kPackageAlignment * kPackageAlignment;
  return true;
}

bool next_block_offset(uint32_t offset, uint32_t streamSize, uint32_t* next) {
  if (streamSize > UINT32_MAX - 4 || streamSize + 4 > UINT32_MAX - offset) return false;
  *next = offset + 4 + streamSize;
  return true;
}

bool entry_location(uint32_t dataOffset, uint32_t blockOffset, uint32_t* location) {
  if (blockOffset > UINT32_MAX - dataOffset) return false;
  *location = dataOffset + blockOffset;
  return true;
}

bool read_package_table(FileHandle file, uint64_t base, uint32_t offset, uint32_t size,
                        uint64_t fileSize, ByteBuffer& table) {
  // A declared size is checked against the archive before the buffer grows for it, so that a
  // damaged header cannot ask for gigabytes.
  if (fileSize < base) return false;
  const uint64_t available = fileSize - base;
  if (offset > available || size > available - offset) return false;
  if (!table.resize(size)) return false;
  return file_read_at(file, base + offset, table.data(), size) == size;
}

bool read_block_id(const ByteBuffer& idBlock, uint32_t offset, uint32_t index, uint64_t* id) {
  const uint32_t length = idBlock.length();
  if (offset > length || index >= (length - offset) / 8) return false;
  *id = decode_u64(idBlock.data() + offset + index * 8);
  return true;
}

namespace {

constexpr const char* kIndexTableCut = "the index table ends inside a record";

struct GroupHeader {
  uint32_t entryCount = 0;
  uint32_t nameIdsOffset = 0;
};

bool read_group_header(ByteReader& reader, GroupHeader* group) {
  uint32_t ignored = 0;
  return reader.read_u32(&ignored) && reader.read_u32(&group->entryCount) &&
         reader.read_u32(&group->nameIdsOffset) && reader.read_u32(&ignored);
}

// Counts the entries of every group without looking at them, so that they can be allocated as one
// array. Every entry has a type byte in the table, so a count beyond the remaining bytes is
// damage; refusing it here keeps the allocation proportional to the table.
bool count_entries(ByteReader reader, uint32_t groupCount, uint32_t* total, Status* status) {
  uint32_t sum = 0;
  for (uint32_t g = 0; g < groupCount; ++g) {
    GroupHeader group;
    if (!read_group_header(reader, &group)) {
      status->Fail(StatusCode::kCorrupt, kIndexTableCut);
      return false;
    }
    if (!reader.skip(group.entryCount)) {
      status->Fail(StatusCode::kCorrupt,
                   "group %u declares %u entries, more than the index table holds", g,
                   group.entryCount);
      return false;
    }
    // Cannot wrap: each entry consumed one byte of a table whose size is a u32.
    sum += group.entryCount;
  }
  *total = sum;
  return true;
}

}  // namespace

bool parse_index_table(const ByteBuffer& table, ByteBuffer& idBlock,
                       TCountedArray<PackageEntry>& entries, Status* status) {
  ByteReader reader(table);
  uint32_t groupCount = 0;
  uint32_t ignored = 0;
  uint32_t idBlockSize = 0;
  if (!reader.read_u32(&groupCount) || !reader.read_u32(&ignored) ||
      !reader.read_u32(&idBlockSize) || !reader.read_u32(&ignored)) {
    status->Fail(StatusCode::kCorrupt, kIndexTableCut);
    return false;
  }
  if (idBlockSize > reader.remaining()) {
    status->Fail(StatusCode::kCorrupt, "the id block runs past the end of the index table");
    return false;
  }
  if (!idBlock.resize(idBlockSize) || !reader.read_bytes(idBlock.data(), idBlockSize)) {
    status->FailOutOfMemory();
    return false;
  }
  uint32_t extIdsOffset = 0;
  if (!reader.read_u32(&ignored) || !reader.read_u32(&extIdsOffset) || !reader.read_u32(&ignored) ||
      !reader.read_u32(&ignored)) {
    status->Fail(StatusCode::kCorrupt, kIndexTableCut);
    return false;
  }
  if (groupCount > reader.remaining() / kGroupHeaderSize) {
    status->Fail(StatusCode::kCorrupt, "%u groups declared, more than the index table holds",
                 groupCount);
    return false;
  }

  uint32_t total = 0;
  if (!count_entries(reader, groupCount, &total, status)) return false;
  if (!entries.allocate(total)) {
    status->FailOutOfMemory();
    return false;
  }
  uint32_t k = 0;
  for (uint32_t g = 0; g < groupCount; ++g) {
    GroupHeader group;
    read_group_header(reader, &group);  // counted above: cannot fail
    for (uint32_t j = 0; j < group.entryCount; ++j, ++k) {
      PackageEntry& entry = entries[k];
      uint8_t typeByte = 0;
      reader.read_u8(&typeByte);
      entry.extIndex = typeByte & kExtIndexMask;
      if (!read_block_id(idBlock, group.nameIdsOffset, j, &entry.nameId)) {
        status->Fail(StatusCode::kCorrupt, "the name id of entry %u lies outside the id block", k);
        return false;
      }
      if (!read_block_id(idBlock, extIdsOffset, entry.extIndex, &entry.extId)) {
        status->Fail(StatusCode::kCorrupt,
                     "the extension id of entry %u (index %u) lies outside the id block", k,
                     entry.extIndex);
        return false;
      }
    }
  }
  return true;
}

bool read_entry_info(ByteReader& reader, EntryInfo* info) {
  const uint32_t start = reader.position();
  uint32_t rawSize = 0;
  uint32_t metaSize = 0;
  const uint8_t* meta = nullptr;
  if (!reader.read_u32(&rawSize) || !reader.read_u32(&metaSize)) {
    reader.set_position(start);
    return false;
  }
  meta = reader.take_bytes(metaSize);
  if (meta == nullptr && metaSize != 0) {
    reader.set_position(start);
    return false;
  }
  info->rawSize = rawSize;
  info->metaSize = metaSize;
  info->meta = meta;
  return true;
}

bool parse_entry_table(const ByteBuffer& entryTable, bool split,
                       TCountedArray<PackageEntry>& entries, Status* status) {
  ByteReader reader(entryTable);
  for (uint32_t k = 0; k < entries.count(); ++k) {
    EntryInfo info;
    if (!read_entry_info(reader, &info)) {
      status->Fail(StatusCode::kCorrupt, "the entry table ends inside the record of entry %u", k);
      return false;
    }
    entries[k].rawSize = info.rawSize;
    entries[k].metaSize = info.metaSize;
    entries[k].meta = info.meta;
  }
  if (!split) return true;
  for (uint32_t k = 0; k < entries.count(); ++k) {
    if (!reader.read_u32(&entries[k].blockOffset)) {
      status->Fail(StatusCode::kCorrupt, "the entry table ends before the location of entry %u", k);
      return false;
    }
  }
  return true;
}
