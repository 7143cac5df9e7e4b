#ifndef VINTREL_PACKAGE_PACKAGE_FORMAT_H_
#define VINTREL_PACKAGE_PACKAGE_FORMAT_H_

// The layout of a package: the 30-byte header, the IndexTable with its IdBlock and groups, and
// the EntryTable. Every offset in a package counts from its first byte (the magic). The layout
// is described in doc/package_format.md; PackageReader (package/package_reader.h) reads it.

#include <cstdint>

#include "base/byte_buffer.h"
#include "base/platform.h"
#include "base/status.h"

struct PackFileEntry;

constexpr uint32_t kPackageMagic = 0x4B50424F;  // "OBPK"
constexpr uint32_t kPackageHeaderSize = 30;
// Packages written into the user archive start and end on this boundary.
constexpr uint32_t kPackageAlignment = 2048;

// Field offsets in the header. Nothing is padded: the u32 fields from attrWord on stand at odd
// offsets.
constexpr uint32_t kHeaderMagicOffset = 0;
constexpr uint32_t kHeaderAttrByteOffset = 4;
constexpr uint32_t kHeaderAttrWordOffset = 5;
constexpr uint32_t kHeaderIndexOffsetOffset = 9;
constexpr uint32_t kHeaderIndexSizeOffset = 13;
constexpr uint32_t kHeaderEntryTableOffsetOffset = 17;
constexpr uint32_t kHeaderEntryTableSizeOffset = 21;
constexpr uint32_t kHeaderDataOffsetOffset = 25;
constexpr uint32_t kHeaderSplitCompressOffset = 29;

// The low 5 bits of a typeByte index the extension id list; the high 3 bits mean nothing here.
constexpr uint8_t kExtIndexMask = 0x1F;
// A GroupHeader is four u32s.
constexpr uint32_t kGroupHeaderSize = 16;

struct PackageHeader {
  uint32_t magic = kPackageMagic;
  uint8_t attrByte = 0;
  uint32_t attrWord = 0;
  uint32_t indexOffset = 0;
  uint32_t indexSize = 0;
  uint32_t entryTableOffset = 0;
  uint32_t entryTableSize = 0;
  uint32_t dataOffset = 0;
  uint8_t splitCompress = 0;  // nonzero: one block per entry; 0: one block for all entries
};

// Decodes the 30 header bytes at bytes. False, with the reason in *status, when the magic is not
// "OBPK"; *header is then of no use.
bool decode_package_header(const uint8_t* bytes, PackageHeader* header, Status* status);
// The 30 header bytes, field by field.
void encode_package_header(const PackageHeader& header, uint8_t* bytes);

// Reads the header at the file's current position. False on a short read or when the magic is not
// "OBPK"; *header is then of no use.
bool read_package_header(FileHandle file, PackageHeader* header);

// Writes the 30 header bytes at the file's current position in one request. False on a short
// write.
bool write_package_header(FileHandle file, const PackageHeader& header);

// False when indexOffset, entryTableOffset or dataOffset is 0 or 0xFFFFFFFF, or indexSize or
// entryTableSize is 0: such a package has nothing that can be rewritten and is passed over. The
// other fields are not looked at.
bool package_has_tables(const PackageHeader& header);

// The dataOffset of a written package: 30 + indexSize + entryTableSize rounded up to a multiple
// of 2048 (a sum already on the boundary stays). False when the result does not fit in 32 bits.
bool written_data_offset(uint32_t indexSize, uint32_t entryTableSize, uint32_t* dataOffset);

// position rounded up to a multiple of 2048; false when that does not fit in 64 bits.
bool align_package_position(uint64_t position, uint64_t* aligned);

// The limits of a split package's data area, whose blocks are addressed by u32 EntryLocations
// from the package's start. next_block_offset: where the block after one of streamSize bytes
// (behind its 4-byte size prefix) placed at offset begins in the data area; false when that
// would pass 4 GiB. entry_location: the EntryLocation of a block at blockOffset in a data area
// at dataOffset; false when it does not fit in 32 bits. Neither wraps.
bool next_block_offset(uint32_t offset, uint32_t streamSize, uint32_t* next);
bool entry_location(uint32_t dataOffset, uint32_t blockOffset, uint32_t* location);

// Reads size bytes from base + offset (64-bit arithmetic) of the file into table, whose length
// becomes size. Fails without allocating when the table would end beyond fileSize (the
// archive's size), and on a short read.
bool read_package_table(FileHandle file, uint64_t base, uint32_t offset, uint32_t size,
                        uint64_t fileSize, ByteBuffer& table);

// One entry of a package, in table order: its ids from the IndexTable, its EntryInfo and (split
// package) EntryLocation from the EntryTable, and what the update makes of it.
struct PackageEntry {
  uint64_t nameId = 0;
  uint64_t extId = 0;
  uint32_t extIndex = 0;  // typeByte & 0x1F
  uint32_t rawSize = 0;   // uncompressed size; for a replaced entry, the replacing file's size
  uint32_t metaSize = 0;
  const uint8_t* meta = nullptr;  // the old metadata, a view into the EntryTable's buffer
  // Split package: first the old EntryLocation, then the offset of the new block from the start
  // of the new data area.
  uint32_t blockOffset = 0;
  const PackFileEntry* match = nullptr;  // the configured file that replaces the entry
};

// The u64 at byte offset + 8 * index of the IdBlock. False when those 8 bytes do not lie wholly
// inside the block.
bool read_block_id(const ByteBuffer& idBlock, uint32_t offset, uint32_t index, uint64_t* id);

// Parses an IndexTable: copies its IdBlock into idBlock and makes one PackageEntry per entry, in
// table order, with its extIndex, nameId and extId. Fails, with the reason in *status, when a
// read runs past the end of the table, an id look-up leaves the IdBlock, a count cannot be backed
// by the table's remaining bytes, or an allocation fails; the outputs are then of no use. Bytes
// after the last group are not read.
bool parse_index_table(const ByteBuffer& table, ByteBuffer& idBlock,
                       TCountedArray<PackageEntry>& entries, Status* status);

// One EntryInfo record of an EntryTable; meta points into the table's buffer.
struct EntryInfo {
  uint32_t rawSize = 0;
  uint32_t metaSize = 0;
  const uint8_t* meta = nullptr;
};

// Reads the EntryInfo record at the reader's position and moves past it. False, with the
// position unchanged, when the record runs past the end of the table.
bool read_entry_info(ByteReader& reader, EntryInfo* info);

// Walks an EntryTable from its start: every entry's rawSize and metadata view from its EntryInfo,
// then, for a split package, the N EntryLocations that follow into the entries' blockOffset, in
// table order. A full package's locations are not read. False, with the reason in *status, when
// the table ends early.
bool parse_entry_table(const ByteBuffer& entryTable, bool split,
                       TCountedArray<PackageEntry>& entries, Status* status);

#endif  // VINTREL_PACKAGE_PACKAGE_FORMAT_H_
