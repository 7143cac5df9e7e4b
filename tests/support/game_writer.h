// A synthetic game, described in memory and written to a directory the way the game itself
// would: manifest.bin with five sections and several .upak archives holding split and full
// packages at unaligned offsets. The writer returns a layout of everything it placed, so that
// tests can compare the tool's output with what went in.
//
// Typical use:
//   vtest::GameSpec game = vtest::ExampleGame();       // or build one by hand
//   vtest::GameLayout layout;
//   std::string error;
//   ASSERT_TRUE(vtest::WriteGame(game, dir.path(), &layout, &error)) << error;
#ifndef VINTREL_TESTS_SUPPORT_GAME_WRITER_H_
#define VINTREL_TESTS_SUPPORT_GAME_WRITER_H_

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/game_format.h"

namespace vtest {

// One entry of a package. `name_id`/`ext_id` are what the package stores; Entry() fills them
// from texts with NameHash, RawEntry() takes them as given.
struct EntrySpec {
  std::string name;  // informational when made by RawEntry
  std::string ext;
  uint64_t name_id = 0;
  uint64_t ext_id = 0;
  uint8_t type_high_bits = 0;  // 0-7: the three uninterpreted high bits of the typeByte
  Bytes data;
  Bytes meta;
};
EntrySpec Entry(const std::string& name, const std::string& ext, Bytes data, Bytes meta = {});
EntrySpec RawEntry(uint64_t name_id, uint64_t ext_id, Bytes data, Bytes meta = {});

struct GroupSpec {
  uint32_t field0 = 0x11111111;  // the GroupHeader's uninterpreted u32s
  uint32_t field3 = 0x33333333;
  std::vector<EntrySpec> entries;  // may be empty (entryCount 0)
};

// Deliberate faults, for failure tests.
enum class PackageFault {
  kNone,
  kBadMagic,           // "OBPX" instead of "OBPK"
  kIndexTableCut,      // indexSize stops inside the last group's type bytes
  kEntryTableCut,      // entryTableSize stops inside the last EntryInfo
  kNameIdsOutOfBlock,  // the last group's nameIdsOffset points past the IdBlock
  kExtIndexOutOfList,  // the last entry's extIndex is one past the extension list
  kCorruptBlock,       // a byte of the first block's Adler-32 (table order) is flipped
  kCutLastBlock,       // the package ends inside its last placed block; it must be the last
                       // package of its archive, which then ends there too
};

struct PackageSpec {
  // Manifest record. `record.offset` and `record.archive_index` are filled by the writer from
  // `archive_index` below; every other field is written as given.
  PackageRecord record;
  uint8_t archive_index = 0;  // index into GameSpec::archives; kNoArchive = in no archive

  // Header fields.
  bool split = true;        // split compress (one block per entry) or full (one block)
  uint8_t split_value = 1;  // the nonzero byte stored for a split package
  uint8_t attr_byte = 0x5A;
  uint32_t attr_word = 0xC0DE1234;
  // Header overrides applied after layout (e.g. a validity field set to 0 or 0xFFFFFFFF).
  std::optional<uint32_t> override_index_offset, override_index_size, override_entry_table_offset,
      override_entry_table_size, override_data_offset;

  // IndexTable content.
  std::vector<GroupSpec> groups;
  // The extension id list (at most 32). Empty: made from the entries' ext ids, in first-seen
  // order. When given, every entry's ext id must be in it.
  std::vector<uint64_t> ext_ids;
  std::array<uint32_t, 5> index_fields = {0xA0A0A001, 0xA0A0A002, 0xA0A0A003, 0xA0A0A004,
                                          0xA0A0A005};  // the five uninterpreted u32s
  Bytes index_tail;                                     // uninterpreted bytes after the last group
  Bytes entry_table_tail;  // uninterpreted bytes after the last EntryLocation

  // Placement inside the package.
  uint32_t index_gap = 0;          // junk between the header and the first table
  bool entry_table_first = false;  // EntryTable before IndexTable
  uint32_t table_gap = 0;          // junk between the two tables
  uint32_t data_gap = 0;           // junk between the second table and dataOffset
  bool align_data = false;         // round dataOffset up to 2048 (zero fill) after data_gap
  // Split packages: the order in which blocks are placed (a permutation of table order; empty
  // means table order), and junk bytes between consecutive blocks.
  std::vector<size_t> block_order;
  uint32_t block_gap = 0;
  int level = 9;  // zlib level of the blocks

  PackageFault fault = PackageFault::kNone;
};

// Everything the writer placed for one entry, in table order.
struct EntryLayout {
  uint64_t name_id = 0;
  uint64_t ext_id = 0;
  uint8_t type_byte = 0;
  Bytes data;
  Bytes meta;
  uint32_t location = 0;  // the stored EntryLocation (split: block offset; full: rawSize)
};

struct PackageLayout {
  PackageRecord record;  // as written to the manifest (archive_index and offset filled)
  std::string archive;   // archive name (no ".upak"); empty when in no archive
  uint64_t offset = 0;   // position of "OBPK" in the archive
  uint64_t size = 0;     // bytes from the package start to the end of its last block
  PackageHeader header;  // as written, overrides applied
  Bytes index_table;     // the IndexTable bytes as written
  Bytes entry_table;     // the EntryTable bytes as written
  std::vector<uint64_t> ext_ids;
  std::vector<EntryLayout> entries;
};

// Builds one package (offsets relative to its first byte) and, if `layout` is given, fills its
// header, tables, ext ids, entries and size; record, archive and offset are left to the caller.
// Returns empty bytes and sets *error when the plan is inconsistent (more than 32 ext ids, an
// entry's ext id missing from a given list, a block order that is not a permutation, a fault
// that needs an entry in a package without one).
Bytes BuildPackage(const PackageSpec& plan, PackageLayout* layout, std::string* error);

struct GameSpec {
  std::vector<ArchiveRecord> archives;  // the manifest's list; a name may appear twice
  std::vector<PackageSpec> packages;    // manifest order; placed in each archive in this order
  uint32_t directory_value = 0x0D1EC7;
  std::vector<IdNameRecord> id_names;
  Bytes directory_tail;                  // bytes after the last PackageRecord in section 0
  std::array<Bytes, 4> opaque_sections;  // sections 1-4
  ManifestLayout manifest_layout;        // section order, gaps and version
  // Junk bytes written in an archive before each package (by package index; missing = 0);
  // packages therefore sit at unaligned offsets. `archive_tail` junk ends every archive.
  std::vector<uint32_t> gap_before;
  uint32_t archive_tail = 0;
  // Archive names (no ".upak") that are not written, to test a missing archive.
  std::vector<std::string> omit_archives;
  // Cut manifest.bin to this many bytes after building it.
  std::optional<size_t> truncate_manifest;
};

struct GameLayout {
  std::vector<PackageLayout> packages;     // manifest order
  std::vector<std::string> archive_files;  // distinct archive names written, "<name>.upak"
  PackageDirectory directory;              // section 0 as written
  Bytes manifest;                          // manifest.bin as written
};

// Writes "<dir>/<name>.upak" for every distinct archive name and "<dir>/manifest.bin". The
// directory must exist. Returns false with *error set when the plan is inconsistent (e.g. an
// ext id not in a given ext list, more than 32 ext ids, an out-of-range block order) or a file
// cannot be written.
bool WriteGame(const GameSpec& plan, const std::filesystem::path& dir, GameLayout* layout,
               std::string* error);

// The small example game of examples/game: three archive files, one listed twice, split and
// full packages, a "hero" "dds" texture, a "loc" entry, plain data entries, a group with no
// entries, typeBytes with high bits set, a package in no archive, and a script that names
// entries.
GameSpec ExampleGame();

// A package plan of one group holding these entries, named `name` with the id NameHash(name);
// its other fields keep their defaults.
PackageSpec OneGroupPackage(const std::string& name, bool split, std::vector<EntrySpec> entries);

// Finds a package of the layout by its record name; nullptr when absent.
const PackageLayout* FindPackage(const GameLayout& layout, const std::string& name);

}  // namespace vtest

#endif  // VINTREL_TESTS_SUPPORT_GAME_WRITER_H_
