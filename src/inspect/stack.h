#ifndef VINTREL_INSPECT_STACK_H_
#define VINTREL_INSPECT_STACK_H_

// Several mods stacked into one configuration that applies them in load order: wherever two mods
// would replace the same entry, the one loaded later wins. The later mods' files come first, each
// mod's own files in their own order, and the tool's rule that the first matching configured file
// wins does the rest. Works on configurations already loaded; reads and writes nothing.

#include <cstdint>

#include "base/byte_buffer.h"
#include "base/string_buffer.h"
#include "driver/pack_file_entry.h"
#include "driver/run_context.h"

// One mod of a stack: its directory as the command line gave it, and its configuration as
// load_config loaded it.
struct StackMod {
  const char* dir = nullptr;
  RunContext context;
};

// Where a file of the stack comes from.
struct StackPlace {
  uint32_t mod = 0;                     // its mod's place in load order, from 0
  const PackFileEntry* file = nullptr;  // the mod's own configured file
};

// Two files of different mods, with the same name and ext, that can replace the same entry: both
// apply to every package, or one does, or both name the same "pkg". The winner comes first in the
// stack, its mod being loaded later.
struct StackConflict {
  uint32_t winner = 0;     // places in the stack, from 1
  uint32_t loser = 0;      //
  bool shadowed = false;   // the loser can never be used, and is left out of the stack
  bool identical = false;  // not set here: the caller compares the files' bytes
};

class Stack {
 public:
  Stack() = default;
  Stack(const Stack&) = delete;
  Stack& operator=(const Stack&) = delete;

  // Stacks count mods, given in load order, and finds their conflicts. False when out of memory.
  bool Build(const StackMod* mods, uint32_t count);

  // Copies of every configured file of every mod, in the stack's order (each one's index is its
  // place), each marked with the file that shadows it as load_config marks a mod's own files.
  const PackFileEntryList& files() const { return files_; }
  // Where the file at place (from 1) comes from.
  const StackPlace& place(uint32_t place) const { return places_[place - 1]; }
  // The place in the stack of file index (from 1) of mod.
  uint32_t place_of(uint32_t mod, uint32_t index) const { return firstPlace_[mod] + index - 1; }

  // The conflicts, by the loser's place, then the winner's.
  uint32_t conflict_count() const { return conflicts_.count(); }
  StackConflict& conflict(uint32_t i) { return conflicts_[i]; }
  const StackConflict& conflict(uint32_t i) const { return conflicts_[i]; }

 private:
  bool FindConflicts();

  PackFileEntryList files_;
  TCountedArray<StackPlace> places_;
  TCountedArray<uint32_t> firstPlace_;
  TCountedArray<StackConflict> conflicts_;
};

// The path that leads from directory from to directory to, both full paths: ".." for every
// component of from below what they share, then the rest of to, separated by '/' (which both
// systems take); empty when they are the same. False, out empty, when they lie under different
// roots (another drive or share on Windows) or memory runs out.
bool relative_path(const char* from, const char* to, CStringBufferA& out);

#endif  // VINTREL_INSPECT_STACK_H_
