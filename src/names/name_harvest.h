#ifndef VINTREL_NAMES_NAME_HARVEST_H_
#define VINTREL_NAMES_NAME_HARVEST_H_

// Names found in a game's own files: the paths that its scripts and text files mention, kept when
// they are names of the game's entries, and written as a name list.
//
// A run is a stretch of letters, digits, '_', '-', '.', '/', '\' and well-formed UTF-8 sequences
// of other characters. A run is tried when it looks like a path or a name: it holds a '.', '/' or
// '\' ("ui/hero.dds", "hero.dds", "ui\hero"), or a pair of quotes of one kind encloses it
// ("notes", 'notes'). Leading '.', '/', '\' and '-' ("../", "./") and trailing dots are not part
// of it, and it is at least 2 bytes long and shorter than a name list's longest line. Each run
// is tried as found, and when it holds a separator with every separator '/' and with every one
// '\'; each of those as a name and ext split at its last dot (the name "ui/hero" of
// "ui/hero.dds") and, when it has such a dot, whole as a name. Ids ignore the case of A to Z, so
// a lower-case spelling needs no try of its own.

#include <cstdint>

#include "base/array.h"
#include "base/byte_buffer.h"
#include "names/name_list.h"
#include "names/name_table.h"

// The ids of a game's entries, as harvesting looks them up: for a name id, the ext ids of the
// entries with that name. Id 0, the empty name's, is never found.
class EntryIds {
 public:
  EntryIds() = default;
  EntryIds(const EntryIds&) = delete;
  EntryIds& operator=(const EntryIds&) = delete;

  // Adds an entry, in any order; the same one any number of times. False when out of memory.
  bool Add(uint64_t nameId, uint64_t extId);
  // Makes the look-up, after the last Add and before the first Exts. False when out of memory.
  bool Finish();

  // The ext ids of the entries whose name id is nameId, *count of them, each once; null when no
  // entry has that name id.
  const uint64_t* Exts(uint64_t nameId, uint32_t* count) const;

 private:
  struct Pair {
    uint64_t nameId;
    uint64_t extId;
  };
  struct Slot {
    uint64_t nameId;  // 0: the slot is empty
    uint32_t first;   // of its ext ids in exts_
    uint32_t count;
  };
  TArray<Pair> pairs_;  // until Finish
  TArray<uint64_t> exts_;
  TCountedArray<Slot> slots_;  // open addressing, at most half full
  uint32_t mask_ = 0;
  TCountedArray<uint64_t> bits_;  // bit (name id & bitMask_) is set for each name id
  uint32_t bitMask_ = 0;
};

// Finds the names of a game's entries in bytes. One per thread: it keeps the run it is trying.
class NameHarvester {
 public:
  NameHarvester() = default;
  NameHarvester(const NameHarvester&) = delete;
  NameHarvester& operator=(const NameHarvester&) = delete;

  // Tries every run of bytes and adds to lines each try that names an entry of ids, as a line of
  // a name list: "ui/hero.dds" when an entry has the name and the ext as found, else the name
  // alone ("ui/hero"), with a dot at its end when its own last part holds a dot ("fx.v2." for
  // the name "fx.v2"), so that the line reads back as that name. lines keeps one spelling of a
  // line, whatever its case. False when out of memory; what was added stays.
  bool Scan(const uint8_t* bytes, uint32_t length, const EntryIds& ids, NameTable& lines);

 private:
  // Tries the run of length bytes at run; quoted when a pair of quotes encloses it.
  bool Try(const uint8_t* run, uint32_t length, bool quoted, const EntryIds& ids, NameTable& lines);
  // Tries the run as copied into text_, its separators as this variant has them, with its ext's
  // dot at dot (length when it has none).
  bool TryVariant(uint32_t length, uint32_t dot, const EntryIds& ids, NameTable& lines);

  char text_[kNameLineMost + 1];  // the run being tried, and room for a dot and a NUL after it
};

// The name id of a name list's line: the name_hash of its part before the ext's dot.
uint64_t line_name_id(const char* line, uint32_t length);

// The lines of table as a name list gives them, sorted by their bytes, leaving out a name alone
// ("ui/hero", "fx.v2.") when another line gives it with an ext ("ui/hero.dds"). The texts are
// table's, valid until it changes. False when out of memory.
bool list_name_lines(const NameTable& table, TArray<const char*>& lines);

#endif  // VINTREL_NAMES_NAME_HARVEST_H_
