// An independent reader of manifests and packages, for checking what the tool wrote. It
// never crashes on bad input: every failure is a nullopt with a message.
#ifndef VINTREL_TESTS_SUPPORT_GAME_READER_H_
#define VINTREL_TESTS_SUPPORT_GAME_READER_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/game_format.h"

namespace vtest {

struct ParsedEntry {
  uint64_t name_id = 0;
  uint64_t ext_id = 0;
  uint8_t type_byte = 0;
  uint32_t raw_size = 0;
  Bytes meta;
  uint32_t location = 0;      // the stored EntryLocation
  uint64_t block_offset = 0;  // split: where its block starts, relative to the package
  uint64_t block_size = 0;    // split: 4 + stream length; full: 0
  Bytes data;                 // the inflated bytes (rawSize of them)
};

struct ParsedPackage {
  uint64_t start = 0;  // archive position of "OBPK"
  PackageHeader header;
  // False when a validity field (offsets/sizes 0 or 0xFFFFFFFF) makes the package one that the
  // tool passes over; nothing below `header` is filled then.
  bool has_tables = true;
  Bytes index_table;
  Bytes entry_table;
  std::vector<uint32_t> group_entry_counts;
  std::vector<uint64_t> ext_ids;  // the full extension list (extIdsOffset onwards in the IdBlock,
                                  // up to 32 ids or the end of the block)
  std::vector<ParsedEntry> entries;  // table order
  // The bytes between the end of the later table and dataOffset (a written package has zeros
  // here); empty when dataOffset lies before the tables' end.
  Bytes table_padding;
  uint64_t end = 0;  // relative offset where the last block ends
  // The bytes from `start + end` up to the next multiple of 2048 of the archive position, or
  // to the end of the file if it comes first (a written package has zeros here).
  Bytes tail_padding;
  bool tail_reaches_boundary = false;  // the archive holds the whole padding
};

// Reads the package at `offset` of `archive`. Fails on a wrong magic, a short header or table,
// ids outside the IdBlock, an extIndex past the list, a damaged or short block, and (full
// packages) a block shorter than the sum of rawSizes.
std::optional<ParsedPackage> ReadPackage(const Bytes& archive, uint64_t offset, std::string* error);

// Whole-file helpers.
std::optional<ParsedManifest> ReadManifestFile(const std::filesystem::path& path,
                                               std::string* error);
std::optional<ParsedPackage> ReadPackageFile(const std::filesystem::path& archive, uint64_t offset,
                                             std::string* error);

// Checks the layout rules of a package the tool wrote: indexOffset 30, EntryTable right after
// the IndexTable, dataOffset the next multiple of 2048 after them, zero padding, split blocks
// back to back from dataOffset in table order, EntryLocation = rawSize in a full package, and
// zero fill to the next 2048 boundary. Returns an empty string when all hold, else the first
// rule broken.
std::string CheckWrittenPackage(const ParsedPackage& package);

// One package as reached through the manifest: its record and, unless its archive index is
// 0xFF, its parsed contents.
struct ResolvedPackage {
  PackageRecord record;
  std::string archive;  // archive name, empty for kNoArchive
  std::optional<ParsedPackage> package;
};

// Reads "<dir>/manifest.bin" and every package it lists (from "<dir>/<archive>.upak"). Fails
// when the manifest or any listed package cannot be read, or an archive index is out of range.
std::optional<std::vector<ResolvedPackage>> ReadGame(const std::filesystem::path& dir,
                                                     std::string* error);

}  // namespace vtest

#endif  // VINTREL_TESTS_SUPPORT_GAME_READER_H_
