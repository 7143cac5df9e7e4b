#include "package/package_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/byte_buffer.h"
#include "base/file.h"
#include "tests/support/bytes.h"
#include "tests/support/game_format.h"
#include "tests/support/scratch_dir.h"

namespace {

using vtest::Bytes;

void Fill(ByteBuffer& buffer, const Bytes& bytes) {
  ASSERT_TRUE(buffer.resize(static_cast<uint32_t>(bytes.size())));
  for (size_t i = 0; i < bytes.size(); ++i) buffer.data()[i] = bytes[i];
}

PackageHeader SampleHeader() {
  PackageHeader header;
  header.attrByte = 0x5A;
  header.attrWord = 0xC0DE1234;
  header.indexOffset = 30;
  header.indexSize = 100;
  header.entryTableOffset = 130;
  header.entryTableSize = 31;
  header.dataOffset = 2048;
  header.splitCompress = 1;
  return header;
}

TEST(PackageHeader, WritesThirtyBytesFieldByField) {
  vtest::ScratchDir dir;
  const std::string path = (dir / "header.bin").string();
  {
    ScopedFile file(open_file(path.c_str(), "w"));
    ASSERT_TRUE(file.is_open());
    ASSERT_TRUE(write_package_header(file.get(), SampleHeader()));
  }
  const Bytes bytes = *vtest::ReadFile(path);
  ASSERT_EQ(bytes.size(), kPackageHeaderSize);
  EXPECT_EQ(vtest::GetU32(bytes, kHeaderMagicOffset), kPackageMagic);
  EXPECT_EQ(bytes[kHeaderAttrByteOffset], 0x5A);
  EXPECT_EQ(vtest::GetU32(bytes, kHeaderAttrWordOffset), 0xC0DE1234u);
  EXPECT_EQ(vtest::GetU32(bytes, kHeaderIndexOffsetOffset), 30u);
  EXPECT_EQ(vtest::GetU32(bytes, kHeaderIndexSizeOffset), 100u);
  EXPECT_EQ(vtest::GetU32(bytes, kHeaderEntryTableOffsetOffset), 130u);
  EXPECT_EQ(vtest::GetU32(bytes, kHeaderEntryTableSizeOffset), 31u);
  EXPECT_EQ(vtest::GetU32(bytes, kHeaderDataOffsetOffset), 2048u);
  EXPECT_EQ(bytes[kHeaderSplitCompressOffset], 1);
  // The independent encoder agrees.
  vtest::PackageHeader same;
  same.attr_byte = 0x5A;
  same.attr_word = 0xC0DE1234;
  same.index_offset = 30;
  same.index_size = 100;
  same.entry_table_offset = 130;
  same.entry_table_size = 31;
  same.data_offset = 2048;
  same.split_compress = 1;
  EXPECT_EQ(bytes, vtest::EncodePackageHeader(same));
}

class HeaderFile {
 public:
  // Writes bytes and reads a header from position 0.
  bool Read(const Bytes& bytes, PackageHeader* header) {
    const std::string path = (dir_ / "package.bin").string();
    if (!vtest::WriteFile(path, bytes)) return false;
    ScopedFile file(open_file(path.c_str(), "r"));
    return file.is_open() && read_package_header(file.get(), header);
  }

 private:
  vtest::ScratchDir dir_;
};

TEST(PackageHeader, ReadsWhatWasWritten) {
  vtest::ScratchDir dir;
  const std::string path = (dir / "header.bin").string();
  PackageHeader written = SampleHeader();
  written.splitCompress = 0;
  {
    ScopedFile file(open_file(path.c_str(), "w"));
    ASSERT_TRUE(write_package_header(file.get(), written));
    ASSERT_EQ(file_write(file.get(), "tail", 4), 4u);
  }
  ScopedFile file(open_file(path.c_str(), "r"));
  PackageHeader read;
  ASSERT_TRUE(read_package_header(file.get(), &read));
  EXPECT_EQ(file_position(file.get()), 30u);
  EXPECT_EQ(read.attrByte, written.attrByte);
  EXPECT_EQ(read.attrWord, written.attrWord);
  EXPECT_EQ(read.indexOffset, written.indexOffset);
  EXPECT_EQ(read.indexSize, written.indexSize);
  EXPECT_EQ(read.entryTableOffset, written.entryTableOffset);
  EXPECT_EQ(read.entryTableSize, written.entryTableSize);
  EXPECT_EQ(read.dataOffset, written.dataOffset);
  EXPECT_EQ(read.splitCompress, 0);
}

TEST(PackageHeader, TruncationAndWrongMagicFail) {
  vtest::PackageHeader header;
  header.index_offset = 30;
  const Bytes bytes = vtest::EncodePackageHeader(header);
  HeaderFile file;
  PackageHeader read;
  ASSERT_TRUE(file.Read(bytes, &read));
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    EXPECT_FALSE(file.Read(Bytes(bytes.begin(), bytes.begin() + cut), &read)) << cut;
  }
  for (size_t at = 0; at < 4; ++at) {
    Bytes damaged = bytes;
    damaged[at] ^= 0x20;  // "obpk" is not "OBPK" either
    EXPECT_FALSE(file.Read(damaged, &read)) << at;
  }
}

TEST(PackageHeader, ValidityFields) {
  EXPECT_TRUE(package_has_tables(SampleHeader()));
  struct Case {
    const char* what;
    uint32_t PackageHeader::*field;
    uint32_t value;
    bool usable;
  } cases[] = {
      {"indexOffset 0", &PackageHeader::indexOffset, 0, false},
      {"indexOffset all ones", &PackageHeader::indexOffset, 0xFFFFFFFF, false},
      {"indexSize 0", &PackageHeader::indexSize, 0, false},
      {"indexSize all ones", &PackageHeader::indexSize, 0xFFFFFFFF, true},
      {"entryTableOffset 0", &PackageHeader::entryTableOffset, 0, false},
      {"entryTableOffset all ones", &PackageHeader::entryTableOffset, 0xFFFFFFFF, false},
      {"entryTableSize 0", &PackageHeader::entryTableSize, 0, false},
      {"dataOffset 0", &PackageHeader::dataOffset, 0, false},
      {"dataOffset all ones", &PackageHeader::dataOffset, 0xFFFFFFFF, false},
      {"attrWord 0 is not checked", &PackageHeader::attrWord, 0, true},
  };
  for (const Case& c : cases) {
    PackageHeader header = SampleHeader();
    header.*c.field = c.value;
    EXPECT_EQ(package_has_tables(header), c.usable) << c.what;
  }
  PackageHeader noSplit = SampleHeader();
  noSplit.attrByte = 0;
  noSplit.splitCompress = 0;
  EXPECT_TRUE(package_has_tables(noSplit));
}

TEST(WrittenDataOffset, RoundsTheTablesEndUpTo2048) {
  struct Case {
    uint32_t indexSize;
    uint32_t entryTableSize;
    bool ok;
    uint32_t expected;
  } cases[] = {
      {100, 31, true, 2048},     // ends at 161
      {1000, 1018, true, 2048},  // ends exactly at 2048
      {1000, 1019, true, 4096},  // one byte beyond
      {1, 1, true, 2048},
      {0xFFFFF000u, 0x800, false, 0},  // beyond 32 bits once rounded
      {0xFFFFFFFFu, 0xFFFFFFFFu, false, 0},
  };
  for (const Case& c : cases) {
    uint32_t dataOffset = 0;
    EXPECT_EQ(written_data_offset(c.indexSize, c.entryTableSize, &dataOffset), c.ok)
        << c.indexSize << "+" << c.entryTableSize;
    if (c.ok) {
      EXPECT_EQ(dataOffset, c.expected) << c.indexSize << "+" << c.entryTableSize;
    }
  }
  uint64_t aligned = 0;
  ASSERT_TRUE(align_package_position(0, &aligned));
  EXPECT_EQ(aligned, 0u);
  ASSERT_TRUE(align_package_position(0x100000001ull, &aligned));
  EXPECT_EQ(aligned, 0x100000800ull);
  EXPECT_FALSE(align_package_position(UINT64_MAX, &aligned));
}

TEST(SplitDataArea, StopsAtFourGiBWithoutWrapping) {
  constexpr uint32_t kMax = UINT32_MAX;
  struct Case {
    uint32_t offset;
    uint32_t streamSize;
    bool ok;
    uint32_t next;
  } blocks[] = {
      {0, 0, true, 4},
      {2048, 100, true, 2152},
      {kMax - 104, 100, true, kMax},  // the area ends on the last addressable byte
      {kMax - 103, 100, false, 0},
      {0, kMax - 4, true, kMax},
      {0, kMax - 3, false, 0},  // the stream and its prefix alone pass 4 GiB
      {0, kMax, false, 0},
      {kMax, 0, false, 0},
  };
  for (const Case& c : blocks) {
    uint32_t next = 0;
    EXPECT_EQ(next_block_offset(c.offset, c.streamSize, &next), c.ok)
        << c.offset << " + " << c.streamSize;
    if (c.ok) {
      EXPECT_EQ(next, c.next) << c.offset << " + " << c.streamSize;
    }
  }
  uint32_t location = 0;
  ASSERT_TRUE(entry_location(2048, kMax - 2048, &location));
  EXPECT_EQ(location, kMax);
  EXPECT_FALSE(entry_location(2048, kMax - 2047, &location));
  EXPECT_FALSE(entry_location(kMax, kMax, &location));
}

// An IndexTable: groupCount, junk, idBlockSize, junk, IdBlock, junk, extIdsOffset, junk, junk,
// then the groups.
struct TableGroup {
  uint32_t nameIdsOffset;
  std::vector<uint8_t> typeBytes;
};

Bytes IndexTable(const std::vector<uint64_t>& ids, uint32_t extIdsOffset,
                 const std::vector<TableGroup>& groups, const Bytes& tail = {}) {
  Bytes table;
  vtest::PutU32(table, static_cast<uint32_t>(groups.size()));
  vtest::PutU32(table, 0xA0A0A001);
  vtest::PutU32(table, static_cast<uint32_t>(ids.size() * 8));
  vtest::PutU32(table, 0xA0A0A002);
  for (uint64_t id : ids) vtest::PutU64(table, id);
  vtest::PutU32(table, 0xA0A0A003);
  vtest::PutU32(table, extIdsOffset);
  vtest::PutU32(table, 0xA0A0A004);
  vtest::PutU32(table, 0xA0A0A005);
  for (const TableGroup& group : groups) {
    vtest::PutU32(table, 0x11111111);
    vtest::PutU32(table, static_cast<uint32_t>(group.typeBytes.size()));
    vtest::PutU32(table, group.nameIdsOffset);
    vtest::PutU32(table, 0x33333333);
    for (uint8_t type : group.typeBytes) vtest::PutU8(table, type);
  }
  vtest::PutBytes(table, tail);
  return table;
}

// 3 name ids, then 32 extension ids 0xE00..0xE1F.
std::vector<uint64_t> SampleIds() {
  std::vector<uint64_t> ids = {0xAAA0, 0xAAA1, 0xAAA2};
  for (uint64_t i = 0; i < 32; ++i) ids.push_back(0xE00 + i);
  return ids;
}

// Two entries in the first group, none in the second, one in the third; typeBytes with high
// bits set and the 32nd extension.
Bytes SampleIndexTable(const Bytes& tail = {}) {
  return IndexTable(SampleIds(), 24, {{0, {0x00, 0xE1}}, {16, {}}, {16, {0xFF}}}, tail);
}

TEST(ParseIndexTable, ReadsGroupsAndIds) {
  ByteBuffer table;
  ByteBuffer idBlock;
  Fill(table, SampleIndexTable(Bytes{1, 2, 3}));
  TCountedArray<PackageEntry> entries;
  Status status;
  ASSERT_TRUE(parse_index_table(table, idBlock, entries, &status));
  EXPECT_EQ(idBlock.length(), 35u * 8);
  // Groups of 2, 0 and 1 entries, in table order.
  ASSERT_EQ(entries.count(), 3u);
  struct Expected {
    const PackageEntry& entry;
    uint32_t extIndex;
    uint64_t nameId;
    uint64_t extId;
  } expected[] = {
      {entries[0], 0, 0xAAA0, 0xE00},
      {entries[1], 1, 0xAAA1, 0xE01},   // 0xE1: the high 3 bits are ignored
      {entries[2], 31, 0xAAA2, 0xE1F},  // third group, 0xFF: the 32nd extension id
  };
  for (const Expected& e : expected) {
    EXPECT_EQ(e.entry.extIndex, e.extIndex);
    EXPECT_EQ(e.entry.nameId, e.nameId);
    EXPECT_EQ(e.entry.extId, e.extId);
    EXPECT_EQ(e.entry.match, nullptr);
  }
}

TEST(ParseIndexTable, NoGroups) {
  ByteBuffer table;
  ByteBuffer idBlock;
  Fill(table, IndexTable({}, 0, {}));
  TCountedArray<PackageEntry> entries;
  Status status;
  ASSERT_TRUE(parse_index_table(table, idBlock, entries, &status));
  EXPECT_EQ(entries.count(), 0u);
}

TEST(ParseIndexTable, TruncationAtEveryLengthFails) {
  const Bytes bytes = SampleIndexTable();
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    ByteBuffer table;
    ByteBuffer idBlock;
    Fill(table, Bytes(bytes.begin(), bytes.begin() + cut));
    TCountedArray<PackageEntry> entries;
    Status status;
    EXPECT_FALSE(parse_index_table(table, idBlock, entries, &status)) << cut;
    EXPECT_EQ(status.code(), StatusCode::kCorrupt) << cut;
  }
}

TEST(ParseIndexTable, IdLookupsStayInsideTheIdBlock) {
  // IdBlock of 35 ids = 280 bytes; extension list at 24 holds 32 ids, so it ends exactly there.
  struct Case {
    const char* what;
    uint32_t extIdsOffset;
    TableGroup group;
    bool ok;
  } cases[] = {
      {"last name id ends at the block's end", 24, {264, {0, 0}}, true},
      {"name ids one byte past the end", 24, {265, {0, 0}}, false},
      {"nameIdsOffset beyond the block", 24, {0xFFFFFFF8u, {0}}, false},
      {"extIndex 31 ends at the block's end", 24, {0, {31}}, true},
      {"extension list one byte later", 25, {0, {31}}, false},
      {"extIdsOffset beyond the block", 0xFFFFFFF0u, {0, {0}}, false},
      {"no entries: offsets are not used", 0xFFFFFFF0u, {0xFFFFFFF0u, {}}, true},
  };
  for (const Case& c : cases) {
    ByteBuffer table;
    ByteBuffer idBlock;
    Fill(table, IndexTable(SampleIds(), c.extIdsOffset, {c.group}));
    TCountedArray<PackageEntry> entries;
    Status status;
    EXPECT_EQ(parse_index_table(table, idBlock, entries, &status), c.ok) << c.what;
    if (!c.ok) {
      EXPECT_NE(std::strstr(status.what(), "outside the id block"), nullptr) << c.what;
    }
  }
}

TEST(ParseIndexTable, CountsBeyondTheTableFailWithoutAllocating) {
  Bytes manyGroups = IndexTable({}, 0, {{0, {}}});
  vtest::SetU32(manyGroups, 0, 0x40000000);
  Bytes manyEntries = IndexTable({1}, 0, {{0, {0}}});
  vtest::SetU32(manyEntries, manyEntries.size() - 13, 0x7FFFFFFF);
  Bytes hugeIdBlock = IndexTable({1}, 0, {});
  vtest::SetU32(hugeIdBlock, 8, 0xFFFFFFF0u);
  for (const Bytes& bytes : {manyGroups, manyEntries, hugeIdBlock}) {
    ByteBuffer table;
    ByteBuffer idBlock;
    Fill(table, bytes);
    TCountedArray<PackageEntry> entries;
    Status status;
    EXPECT_FALSE(parse_index_table(table, idBlock, entries, &status));
    EXPECT_EQ(status.code(), StatusCode::kCorrupt) << status.what();
    EXPECT_LE(idBlock.capacity(), ByteBuffer::kGranule);
  }
}

Bytes EntryTable(const std::vector<std::pair<uint32_t, Bytes>>& infos,
                 const std::vector<uint32_t>& locations) {
  Bytes table;
  for (const auto& info : infos) {
    vtest::PutU32(table, info.first);
    vtest::PutU32(table, static_cast<uint32_t>(info.second.size()));
    vtest::PutBytes(table, info.second);
  }
  for (uint32_t location : locations) vtest::PutU32(table, location);
  return table;
}

TEST(EntryTable, ReadsInfosThenLocations) {
  ByteBuffer indexTable;
  ByteBuffer idBlock;
  Fill(indexTable, SampleIndexTable());
  TCountedArray<PackageEntry> entries;
  Status status;
  ASSERT_TRUE(parse_index_table(indexTable, idBlock, entries, &status));

  const Bytes bytes = EntryTable({{10, {1, 2, 3}}, {20, {}}, {30, {9}}}, {2048, 3000, 4000});
  ByteBuffer table;
  Fill(table, bytes);
  ByteReader reader(table);
  EntryInfo info;
  ASSERT_TRUE(read_entry_info(reader, &info));
  EXPECT_EQ(info.rawSize, 10u);
  ASSERT_EQ(info.metaSize, 3u);
  EXPECT_EQ(info.meta[2], 3);
  ASSERT_TRUE(read_entry_info(reader, &info));
  EXPECT_EQ(info.metaSize, 0u);

  ASSERT_TRUE(parse_entry_table(table, true, entries, &status));
  EXPECT_EQ(entries[0].rawSize, 10u);
  EXPECT_EQ(entries[1].rawSize, 20u);
  EXPECT_EQ(entries[2].rawSize, 30u);
  EXPECT_EQ(entries[0].blockOffset, 2048u);
  EXPECT_EQ(entries[1].blockOffset, 3000u);
  EXPECT_EQ(entries[2].blockOffset, 4000u);
  ASSERT_EQ(entries[2].metaSize, 1u);
  EXPECT_EQ(entries[2].meta[0], 9);

  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    Fill(table, Bytes(bytes.begin(), bytes.begin() + cut));
    EXPECT_FALSE(parse_entry_table(table, true, entries, &status)) << cut;
    EXPECT_NE(std::strstr(status.what(), "the entry table ends"), nullptr) << cut;
  }
  // A full package has no locations to read.
  Fill(table, EntryTable({{10, {1, 2, 3}}, {20, {}}, {30, {9}}}, {}));
  EXPECT_TRUE(parse_entry_table(table, false, entries, &status));
}

TEST(EntryTable, ShortRecordLeavesThePosition) {
  ByteBuffer table;
  Fill(table, EntryTable({{10, {1, 2, 3}}}, {}));
  table.resize(table.length() - 1);
  ByteReader reader(table);
  EntryInfo info;
  EXPECT_FALSE(read_entry_info(reader, &info));
  EXPECT_EQ(reader.position(), 0u);
  Bytes hugeMeta;
  vtest::PutU32(hugeMeta, 1);
  vtest::PutU32(hugeMeta, 0xFFFFFFFF);
  Fill(table, hugeMeta);
  ByteReader second(table);
  EXPECT_FALSE(read_entry_info(second, &info));
  EXPECT_EQ(second.position(), 0u);
}

TEST(ReadPackageTable, ChecksTheArchiveSizeFirst) {
  vtest::ScratchDir dir;
  const std::string path = (dir / "archive.bin").string();
  Bytes bytes(100, 0);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
  ASSERT_TRUE(vtest::WriteFile(path, bytes));
  ScopedFile file(open_file(path.c_str(), "r"));
  struct Case {
    uint64_t base;
    uint32_t offset;
    uint32_t size;
    bool ok;
  } cases[] = {
      {10, 20, 70, true},   // ends exactly at the end of the file
      {10, 20, 71, false},  // one byte beyond
      {10, 91, 0, false},   // offset beyond the file
      {10, 0xFFFFFFFF, 0xFFFFFFFF, false},
      {200, 0, 1, false},  // package start beyond the file
  };
  for (const Case& c : cases) {
    ByteBuffer table;
    EXPECT_EQ(read_package_table(file.get(), c.base, c.offset, c.size, 100, table), c.ok)
        << c.base << " " << c.offset << " " << c.size;
    if (c.ok) {
      ASSERT_EQ(table.length(), c.size);
      EXPECT_EQ(table.data()[0], 30);
    } else {
      EXPECT_EQ(table.capacity(), 0u);
    }
  }
}

}  // namespace
