#include "tests/support/game_reader.h"

#include <algorithm>
#include <map>

#include "tests/support/scratch_dir.h"

namespace vtest {
namespace {

std::nullopt_t Fail(std::string* error, const std::string& message) {
  *error = message;
  return std::nullopt;
}

// Copies `size` bytes at `start + offset` of `archive`; false when they are not all there.
bool Slice(const Bytes& archive, uint64_t start, uint64_t offset, uint64_t size, Bytes* out) {
  uint64_t position = start + offset;  // both below 2^33: no wrap
  if (position > archive.size() || size > archive.size() - position) return false;
  out->assign(archive.begin() + static_cast<ptrdiff_t>(position),
              archive.begin() + static_cast<ptrdiff_t>(position + size));
  return true;
}

bool AllZero(const Bytes& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

}  // namespace

std::optional<ParsedPackage> ReadPackage(const Bytes& archive, uint64_t offset,
                                         std::string* error) {
  ParsedPackage p;
  p.start = offset;
  if (offset > archive.size()) return Fail(error, "package offset past the end of the archive");
  std::optional<PackageHeader> header = DecodePackageHeader(archive, static_cast<size_t>(offset));
  if (!header) return Fail(error, "package header cut short");
  p.header = *header;
  const PackageHeader& h = p.header;
  if (h.magic != kPackageMagic) return Fail(error, "package magic is not OBPK");
  auto invalid = [](uint32_t v) { return v == 0 || v == 0xFFFFFFFFu; };
  if (invalid(h.index_offset) || h.index_size == 0 || invalid(h.entry_table_offset) ||
      h.entry_table_size == 0 || invalid(h.data_offset)) {
    p.has_tables = false;
    return p;
  }
  if (!Slice(archive, offset, h.index_offset, h.index_size, &p.index_table)) {
    return Fail(error, "IndexTable runs past the end of the archive");
  }
  if (!Slice(archive, offset, h.entry_table_offset, h.entry_table_size, &p.entry_table)) {
    return Fail(error, "EntryTable runs past the end of the archive");
  }

  ByteCursor index(p.index_table);
  uint32_t group_count = 0, id_block_size = 0, ext_ids_offset = 0;
  Bytes id_block;
  if (!index.ReadU32(&group_count) || !index.Skip(4) || !index.ReadU32(&id_block_size) ||
      !index.Skip(4) || !index.ReadBytes(id_block_size, &id_block) || !index.Skip(4) ||
      !index.ReadU32(&ext_ids_offset) || !index.Skip(8)) {
    return Fail(error, "IndexTable cut short before the groups");
  }
  if (group_count > index.remaining() / 16) return Fail(error, "groupCount exceeds the IndexTable");
  if (ext_ids_offset <= id_block.size()) {
    size_t available = std::min<size_t>((id_block.size() - ext_ids_offset) / 8, 32);
    for (size_t i = 0; i < available; ++i) {
      p.ext_ids.push_back(GetU64(id_block, ext_ids_offset + 8 * i));
    }
  }
  for (uint32_t g = 0; g < group_count; ++g) {
    uint32_t entry_count = 0, name_ids_offset = 0;
    if (!index.Skip(4) || !index.ReadU32(&entry_count) || !index.ReadU32(&name_ids_offset) ||
        !index.Skip(4)) {
      return Fail(error, "GroupHeader " + std::to_string(g) + " cut short");
    }
    if (entry_count > index.remaining()) {
      return Fail(error, "type bytes of group " + std::to_string(g) + " cut short");
    }
    if (name_ids_offset > id_block.size() ||
        entry_count > (id_block.size() - name_ids_offset) / 8) {
      return Fail(error, "name ids of group " + std::to_string(g) + " lie outside the IdBlock");
    }
    p.group_entry_counts.push_back(entry_count);
    for (uint32_t j = 0; j < entry_count; ++j) {
      ParsedEntry e;
      index.ReadU8(&e.type_byte);
      uint32_t ext_index = e.type_byte & 31u;
      if (ext_ids_offset > id_block.size() || ext_index >= (id_block.size() - ext_ids_offset) / 8) {
        return Fail(error, "extIndex " + std::to_string(ext_index) + " lies outside the IdBlock");
      }
      e.name_id = GetU64(id_block, name_ids_offset + 8 * size_t{j});
      e.ext_id = GetU64(id_block, ext_ids_offset + 8 * size_t{ext_index});
      p.entries.push_back(std::move(e));
    }
  }

  ByteCursor table(p.entry_table);
  if (p.entries.size() > table.remaining() / 8) {
    return Fail(error, "EntryTable too small for its entries");
  }
  for (ParsedEntry& e : p.entries) {
    uint32_t meta_size = 0;
    if (!table.ReadU32(&e.raw_size) || !table.ReadU32(&meta_size) ||
        !table.ReadBytes(meta_size, &e.meta)) {
      return Fail(error, "EntryInfo cut short");
    }
  }
  for (ParsedEntry& e : p.entries) {
    if (!table.ReadU32(&e.location)) return Fail(error, "EntryLocations cut short");
  }

  uint64_t tables_end = std::max(uint64_t{h.index_offset} + h.index_size,
                                 uint64_t{h.entry_table_offset} + h.entry_table_size);
  if (h.data_offset >= tables_end &&
      !Slice(archive, offset, tables_end, h.data_offset - tables_end, &p.table_padding)) {
    return Fail(error, "dataOffset lies past the end of the archive");
  }

  if (h.split_compress != 0) {
    for (ParsedEntry& e : p.entries) {
      if (offset + e.location > archive.size()) {
        return Fail(error, "block offset past the end of the archive");
      }
      std::optional<InflatedBlock> block =
          InflateBlock(archive, static_cast<size_t>(offset + e.location), error);
      if (!block) return std::nullopt;
      if (block->data.size() != e.raw_size) {
        return Fail(error, "block raw size differs from the entry's rawSize");
      }
      e.data = std::move(block->data);
      e.block_offset = e.location;
      e.block_size = block->block_size;
      p.end = std::max(p.end, e.block_offset + e.block_size);
    }
    if (p.entries.empty()) p.end = h.data_offset;
  } else {
    if (offset + h.data_offset > archive.size()) {
      return Fail(error, "dataOffset lies past the end of the archive");
    }
    std::optional<InflatedBlock> block =
        InflateBlock(archive, static_cast<size_t>(offset + h.data_offset), error);
    if (!block) return std::nullopt;
    uint64_t total = 0;
    for (const ParsedEntry& e : p.entries) total += e.raw_size;
    if (total != block->data.size()) {
      return Fail(error, "full block holds " + std::to_string(block->data.size()) +
                             " bytes, the entries " + std::to_string(total));
    }
    size_t position = 0;
    for (ParsedEntry& e : p.entries) {
      e.data.assign(block->data.begin() + static_cast<ptrdiff_t>(position),
                    block->data.begin() + static_cast<ptrdiff_t>(position + e.raw_size));
      position += e.raw_size;
    }
    p.end = uint64_t{h.data_offset} + block->block_size;
  }

  uint64_t end = offset + p.end;
  uint64_t boundary = (end + kPackageAlignment - 1) / kPackageAlignment * kPackageAlignment;
  p.tail_reaches_boundary = boundary <= archive.size();
  uint64_t stop = std::min<uint64_t>(boundary, archive.size());
  p.tail_padding.assign(archive.begin() + static_cast<ptrdiff_t>(end),
                        archive.begin() + static_cast<ptrdiff_t>(stop));
  return p;
}

std::optional<ParsedManifest> ReadManifestFile(const std::filesystem::path& path,
                                               std::string* error) {
  std::optional<Bytes> bytes = ReadFile(path);
  if (!bytes) return Fail(error, "cannot read " + path.string());
  return DecodeManifest(*bytes, error);
}

std::optional<ParsedPackage> ReadPackageFile(const std::filesystem::path& archive, uint64_t offset,
                                             std::string* error) {
  std::optional<Bytes> bytes = ReadFile(archive);
  if (!bytes) return Fail(error, "cannot read " + archive.string());
  return ReadPackage(*bytes, offset, error);
}

std::string CheckWrittenPackage(const ParsedPackage& p) {
  const PackageHeader& h = p.header;
  if (!p.has_tables) return "package has a validity field of 0 or 0xFFFFFFFF";
  if (p.start % kPackageAlignment != 0) return "package does not start on a 2048 boundary";
  if (h.index_offset != kPackageHeaderSize) return "indexOffset is not 30";
  if (h.entry_table_offset != kPackageHeaderSize + h.index_size) {
    return "EntryTable does not follow the IndexTable";
  }
  uint64_t tables_end = uint64_t{h.entry_table_offset} + h.entry_table_size;
  uint64_t aligned = (tables_end + kPackageAlignment - 1) / kPackageAlignment * kPackageAlignment;
  if (h.data_offset != aligned) return "dataOffset is not the next multiple of 2048";
  if (p.table_padding.size() != aligned - tables_end || !AllZero(p.table_padding)) {
    return "bytes between the EntryTable and dataOffset are not zero";
  }
  if (h.split_compress != 0) {
    uint64_t expected = h.data_offset;
    for (size_t i = 0; i < p.entries.size(); ++i) {
      if (p.entries[i].location != expected) {
        return "block " + std::to_string(i) + " is not back to back in table order";
      }
      expected += p.entries[i].block_size;
    }
  } else {
    for (size_t i = 0; i < p.entries.size(); ++i) {
      if (p.entries[i].location != p.entries[i].raw_size) {
        return "EntryLocation " + std::to_string(i) + " of a full package is not its rawSize";
      }
    }
  }
  if (!p.tail_reaches_boundary) return "archive ends before the next 2048 boundary";
  if (!AllZero(p.tail_padding)) return "bytes after the last block are not zero";
  return std::string();
}

std::optional<std::vector<ResolvedPackage>> ReadGame(const std::filesystem::path& dir,
                                                     std::string* error) {
  std::optional<ParsedManifest> manifest = ReadManifestFile(dir / "manifest.bin", error);
  if (!manifest) return std::nullopt;
  const PackageDirectory& directory = manifest->directory;
  std::map<std::string, Bytes> archives;
  std::vector<ResolvedPackage> result;
  for (const PackageRecord& record : directory.packages) {
    ResolvedPackage resolved;
    resolved.record = record;
    if (record.archive_index != kNoArchive) {
      if (record.archive_index >= directory.archives.size()) {
        return Fail(error, "package " + record.name + " names archive index " +
                               std::to_string(record.archive_index) + " of " +
                               std::to_string(directory.archives.size()));
      }
      resolved.archive = directory.archives[record.archive_index].name;
      auto it = archives.find(resolved.archive);
      if (it == archives.end()) {
        std::optional<Bytes> bytes = ReadFile(dir / (resolved.archive + ".upak"));
        if (!bytes) return Fail(error, "cannot read archive " + resolved.archive + ".upak");
        it = archives.emplace(resolved.archive, std::move(*bytes)).first;
      }
      resolved.package = ReadPackage(it->second, record.offset, error);
      if (!resolved.package) {
        *error = "package " + record.name + " in " + resolved.archive + ": " + *error;
        return std::nullopt;
      }
    }
    result.push_back(std::move(resolved));
  }
  return result;
}

}  // namespace vtest
