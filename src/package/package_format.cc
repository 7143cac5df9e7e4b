#include "package/package_format.h"

#include "base/file.h"

bool read_package_header(FileHandle file, PackageHeader* header) {
  if (!file_read_u32(file, &header->magic) || header->magic != kPackageMagic) return false;
  return file_read_u8(file, &header->attrByte) && file_read_u32(file, &header->attrWord) &&
         file_read_u32(file, &header->indexOffset) && file_read_u32(file, &header->indexSize) &&
         file_read_u32(file, &header->entryTableOffset) &&
         file_read_u32(file, &header->entryTableSize) && file_read_u32(file, &header->dataOffset) &&
         file_read_u8(file, &header->splitCompress);
}

bool write_package_header(FileHandle file, const PackageHeader& header) {
  return file_write_u32(file, header.magic) && file_write_u8(file, header.attrByte) &&
         file_write_u32(file, header.attrWord) && file_write_u32(file, header.indexOffset) &&
         file_write_u32(file, header.indexSize) && file_write_u32(file, header.entryTableOffset) &&
         file_write_u32(file, header.entryTableSize) && file_write_u32(file, header.dataOffset) &&
         file_write_u8(file, header.splitCompress);
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

bool read_package_table(FileHandle file, uint64_t base, uint32_t offset, uint32_t size,
                        uint64_t fileSize, ByteBuffer& table) {
  // A declared size is checked against the archive before the buffer grows for it, so that a
  // damaged header cannot ask for gigabytes.
  if (fileSize < base) return false;
  const uint64_t available = fileSize - base;
  if (offset > available || size > available - offset) return false;
  if (file_seek(file, base + offset) != base + offset) return false;
  if (!table.resize(size)) return false;
  return file_read(file, table.data(), size) == size;
}

bool read_block_id(const ByteBuffer& idBlock, uint32_t offset, uint32_t index, uint64_t* id) {
  const uint32_t length = idBlock.length();
  if (offset > length || index >= (length - offset) / 8) return false;
  ByteReader reader(idBlock, offset + index * 8);
  return reader.read_u64(id);
}

namespace {

bool parse_group(ByteReader& reader, const ByteBuffer& idBlock, uint32_t extIdsOffset,
                 PackageGroup& group) {
  uint32_t ignored = 0;
  uint32_t nameIdsOffset = 0;
  if (!reader.read_u32(&ignored) || !reader.read_u32(&group.entryCount) ||
      !reader.read_u32(&nameIdsOffset) || !reader.read_u32(&ignored)) {
    return false;
  }
  // Every entry has a type byte in the table, so a count beyond the remaining bytes is damage;
  // refusing it here keeps the allocation proportional to the table.
  if (group.entryCount > reader.remaining()) return false;
  if (!group.entries.allocate(group.entryCount)) return false;
  for (uint32_t j = 0; j < group.entryCount; ++j) {
    PackageEntry& entry = group.entries[j];
    uint8_t typeByte = 0;
    if (!reader.read_u8(&typeByte)) return false;
    entry.extIndex = typeByte & kExtIndexMask;
    if (!read_block_id(idBlock, nameIdsOffset, j, &entry.nameId) ||
        !read_block_id(idBlock, extIdsOffset, entry.extIndex, &entry.extId)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool parse_index_table(const ByteBuffer& table, ByteBuffer& idBlock,
                       TCountedArray<PackageGroup>& groups, uint32_t* entryCount) {
  ByteReader reader(table);
  uint32_t groupCount = 0;
  uint32_t ignored = 0;
  uint32_t idBlockSize = 0;
  if (!reader.read_u32(&groupCount) || !reader.read_u32(&ignored) ||
      !reader.read_u32(&idBlockSize) || !reader.read_u32(&ignored)) {
    return false;
  }
  if (idBlockSize > reader.remaining() || !idBlock.resize(idBlockSize) ||
      !reader.read_bytes(idBlock.data(), idBlockSize)) {
    return false;
  }
  uint32_t extIdsOffset = 0;
  if (!reader.read_u32(&ignored) || !reader.read_u32(&extIdsOffset) || !reader.read_u32(&ignored) ||
      !reader.read_u32(&ignored)) {
    return false;
  }
  if (groupCount > reader.remaining() / kGroupHeaderSize) return false;
  if (!groups.allocate(groupCount)) return false;
  uint32_t total = 0;
  for (uint32_t g = 0; g < groupCount; ++g) {
    if (!parse_group(reader, idBlock, extIdsOffset, groups[g])) return false;
    // Cannot wrap: each entry consumed one byte of a table whose size is a u32.
    total += groups[g].entryCount;
  }
  *entryCount = total;
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

bool read_entry_locations(const ByteBuffer& entryTable, TCountedArray<PackageGroup>& groups) {
  ByteReader reader(entryTable);
  for (uint32_t g = 0; g < groups.count(); ++g) {
    PackageGroup& group = groups[g];
    for (uint32_t j = 0; j < group.entryCount; ++j) {
      EntryInfo info;
      if (!read_entry_info(reader, &info)) return false;
      group.entries[j].rawSize = info.rawSize;
    }
  }
  for (uint32_t g = 0; g < groups.count(); ++g) {
    PackageGroup& group = groups[g];
    for (uint32_t j = 0; j < group.entryCount; ++j) {
      if (!reader.read_u32(&group.entries[j].blockOffset)) return false;
    }
  }
  return true;
}
