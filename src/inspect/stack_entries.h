#ifndef VINTREL_INSPECT_STACK_ENTRIES_H_
#define VINTREL_INSPECT_STACK_ENTRIES_H_

// What a stack does to a game's entries: every entry that two or more of its mods would replace,
// with the mod that wins it and those that lose it; the files that lose somewhere and still win
// elsewhere, and those that replace nothing; and the replacing textures whose layout differs from
// the game's. The game is read as a plan reads it: its untouched manifest, every package in an
// archive, each entry looked up as a run looks it up.

#include <cstdint>

#include "base/array.h"
#include "base/byte_buffer.h"
#include "base/status.h"
#include "base/warning_list.h"
#include "driver/run_context.h"
#include "inspect/stack.h"
#include "manifest/game_reader.h"
#include "names/name_list.h"
#include "package/entry_meta.h"
#include "package/package_format.h"

// An entry of the game that two or more mods of the stack would replace.
struct EntryConflict {
  uint32_t record = 0;  // the package record that holds it
  uint32_t entry = 0;   // its place in the package's entry table
  uint32_t winner = 0;  // the winning file's place in the stack
  uint32_t loserCount = 0;
  uint32_t firstLoser = 0;  // where its losers begin in StackEntries::loser()
};

class StackEntries {
 public:
  // Opens the game in gameDir through its untouched manifest. False, with the reason in *status,
  // when it cannot be read.
  bool Open(const char* gameDir, Status* status);
  // Finds what the stack of mods (count, in load order) does to the game opened; the warnings
  // show the files by names. A package that cannot be read is passed over with a warning. False,
  // with the reason in *status, when memory runs out.
  bool Find(const Stack& stack, const StackMod* mods, uint32_t count, const NameLists& names,
            Status* status);

  const GameReader& game() const { return game_; }
  // The packages in which the stack replaces an entry, and the entries it replaces.
  uint32_t packages_replaced() const { return packagesReplaced_; }
  uint32_t entries_replaced() const { return entriesReplaced_; }
  uint32_t conflict_count() const { return conflicts_.count(); }
  const EntryConflict& conflict(uint32_t i) const { return conflicts_[i]; }
  // Losing file i of all the conflicts, by its place in the stack: a mod's first file that matches
  // the entry.
  uint32_t loser(uint32_t i) const { return losers_[i]; }
  // By the file's place in the stack: whether it replaces an entry somewhere (the last loaded mod
  // to match it winning it), whether its mod matches an entry somewhere with it, and whether it
  // loses an entry to a later mod somewhere.
  bool wins(uint32_t place) const { return flags_[place - 1] & kWins; }
  bool matches(uint32_t place) const { return flags_[place - 1] & kMatches; }
  bool loses(uint32_t place) const { return flags_[place - 1] & kLoses; }
  // The warnings: packages that could not be read, textures that differ from the game's.
  const WarningList& warnings() const { return warnings_; }

 private:
  static constexpr uint8_t kWins = 1;
  static constexpr uint8_t kMatches = 2;
  static constexpr uint8_t kLoses = 4;

  bool WalkPackage(const Stack& stack, const StackMod* mods, uint32_t count, uint32_t k,
                   const NameLists& names);
  bool CheckTexture(const Stack& stack, uint32_t place, uint32_t k, const PackageEntry& entry,
                    const NameLists& names);

  const char* gameDir_ = nullptr;  // as Open was given it
  RunContext context_;             // the game's untouched manifest
  GameReader game_;
  TArray<EntryConflict> conflicts_;
  TArray<uint32_t> losers_;  // places in the stack
  TCountedArray<uint8_t> flags_;
  uint32_t packagesReplaced_ = 0;
  uint32_t entriesReplaced_ = 0;
  // The metadata each replacing texture gives its entries, read when first needed: 0 not yet, 1
  // a texture's, 2 none to compare (not a texture, or the file cannot be used).
  TCountedArray<uint8_t> textureState_;
  TCountedArray<TextureMeta> textures_;
  WarningList warnings_;
};

#endif  // VINTREL_INSPECT_STACK_ENTRIES_H_
