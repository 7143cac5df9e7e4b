// Records of the game's two file formats, shared by the synthetic game writer and the
// independent reader: the manifest (manifest.bin) with its package directory, the package
// header, and compressed blocks. Encoders and decoders here are written from the file layout
// alone and share no code with the tool.
#ifndef VINTREL_TESTS_SUPPORT_GAME_FORMAT_H_
#define VINTREL_TESTS_SUPPORT_GAME_FORMAT_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/bytes.h"

namespace vtest {

// Case-insensitive CRC-64 (reflected polynomial 0xD0AB0F0002C00600, preset all ones, final
// complement), computed bit by bit; only A-Z are lower-cased. "" -> 0, "abc" -> 0xA65ABC18AD994B81.
uint64_t NameHash(std::string_view text);
// An id as the programs print it: 16 lower-case hexadecimal digits.
std::string IdText(uint64_t id);

constexpr uint8_t kNoArchive = 0xFF;
constexpr uint32_t kPackageMagic = 0x4B50424F;  // "OBPK"
constexpr size_t kPackageHeaderSize = 30;
constexpr size_t kManifestHeaderSize = 44;
constexpr uint64_t kPackageAlignment = 2048;

// --- Manifest -------------------------------------------------------------------------------

struct IdNameRecord {
  uint64_t id = 0;
  std::string name;  // u32 length in the file
  bool operator==(const IdNameRecord& o) const { return id == o.id && name == o.name; }
};

struct ArchiveRecord {
  uint8_t tag = 0;
  std::string name;  // u16 length; file name without directory and without ".upak"
  bool operator==(const ArchiveRecord& o) const { return tag == o.tag && name == o.name; }
};

struct PackageRecord {
  std::string name;  // u8 length
  uint64_t package_id = 0;
  uint16_t attr_word1 = 0;
  uint16_t attr_word2 = 0;
  std::vector<uint16_t> words;  // at most 255
  uint8_t attr_byte1 = 0;
  uint8_t archive_index = kNoArchive;
  uint8_t attr_byte2 = 0;
  uint8_t attr_byte3 = 0;
  uint64_t offset = 0;
  bool operator==(const PackageRecord& o) const;
};

// Section 0 of the manifest.
struct PackageDirectory {
  uint32_t directory_value = 0;
  std::vector<IdNameRecord> id_names;
  std::vector<ArchiveRecord> archives;
  std::vector<PackageRecord> packages;
  Bytes tail;  // bytes after the last PackageRecord (not part of the directory proper)
};

// Encodes the directory exactly as the game stores it, `tail` last.
Bytes EncodePackageDirectory(const PackageDirectory& directory);

// Decodes section 0. Returns nullopt and sets *error when a record is cut short; bytes after
// the last PackageRecord go to `tail`.
std::optional<PackageDirectory> DecodePackageDirectory(const Bytes& section, std::string* error);

// Encoded size of one PackageRecord: 26 + name length + 2 * word count.
size_t PackageRecordSize(const PackageRecord& record);

// How the five sections are placed in a manifest file.
struct ManifestLayout {
  uint32_t version = 13;
  std::array<int, 5> order = {0, 1, 2, 3, 4};  // file order of the sections (a permutation)
  std::array<uint32_t, 5> gap_before = {};     // junk bytes before each section (by index)
};

// Builds a manifest file: the 44-byte header, then the sections in `layout.order`, each after
// its gap (junk bytes 0xA5). The default layout is the tool's own: contiguous, order 0..4.
Bytes EncodeManifest(const std::array<Bytes, 5>& sections, const ManifestLayout& layout = {});

struct ParsedManifest {
  uint32_t version = 0;
  std::array<uint32_t, 5> section_offset = {};
  std::array<uint32_t, 5> section_size = {};
  std::array<Bytes, 5> sections;
  PackageDirectory directory;  // decoded from sections[0]
};

// Reads a manifest file. Fails (nullopt, *error set) when the header is short, a section runs
// past the end of the file, or section 0 cannot be decoded.
std::optional<ParsedManifest> DecodeManifest(const Bytes& file, std::string* error);

// True when the sections follow the header contiguously in order 0..4 (the tool's layout).
bool IsContiguousLayout(const ParsedManifest& manifest);

// --- Packages -------------------------------------------------------------------------------

struct PackageHeader {
  uint32_t magic = kPackageMagic;
  uint8_t attr_byte = 0;
  uint32_t attr_word = 0;
  uint32_t index_offset = 0;
  uint32_t index_size = 0;
  uint32_t entry_table_offset = 0;
  uint32_t entry_table_size = 0;
  uint32_t data_offset = 0;
  uint8_t split_compress = 0;
  bool operator==(const PackageHeader& o) const;
};

// 30 bytes, field by field.
Bytes EncodePackageHeader(const PackageHeader& header);
// Decodes the first 30 bytes at `position`; nullopt when fewer remain (magic not checked).
std::optional<PackageHeader> DecodePackageHeader(const Bytes& bytes, size_t position);

// --- Compressed blocks ----------------------------------------------------------------------

// A zlib stream of `raw` at `level` (0-9; zlib wrapper, 32 KiB window).
Bytes Deflate(const Bytes& raw, int level = 9);

// A compressed block: u32 raw size, then Deflate(raw, level).
Bytes MakeBlock(const Bytes& raw, int level = 9);

struct InflatedBlock {
  Bytes data;             // exactly the declared raw size
  size_t block_size = 0;  // 4 + the zlib stream's length in bytes
};

// Inflates the block starting at `position`. Fails when the prefix is short, the stream is
// corrupt or cut short, or it inflates to more or fewer bytes than the declared raw size.
std::optional<InflatedBlock> InflateBlock(const Bytes& bytes, size_t position, std::string* error);

}  // namespace vtest

#endif  // VINTREL_TESTS_SUPPORT_GAME_FORMAT_H_
