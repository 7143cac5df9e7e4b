#ifndef VINTREL_INSPECT_PRUNE_H_
#define VINTREL_INSPECT_PRUNE_H_

// The work of prune: which configured files of a mod change nothing that a run of the tool would
// give the game, and the mod's vintrel.json without them.

#include <cstdint>

#include "base/byte_buffer.h"
#include "base/status.h"
#include "base/string_buffer.h"
#include "driver/run_context.h"
#include "inspect/command.h"
#include "manifest/game_reader.h"
#include "names/name_list.h"

// Why prune takes a configured file out of the mod.
enum class PruneReason : uint8_t {
  kKept,
  kMissing,  // its "src" file no longer exists
  kSame,     // every entry it would replace holds its bytes, and the metadata a run would give it
  kUnused,   // it would replace no entry of the game
};

// What prune found and did.
struct PruneResult {
  RunContext mod;   // the mod's configuration, and its warnings
  RunContext game;  // the game's untouched manifest
  GameReader reader;
  NameLists names;
  PathBuffer configPath;
  TCountedArray<PruneReason> reasons;  // per configured file, in order
  uint32_t removed = 0;
  bool written = false;  // vintrel.json was rewritten
};

// Loads MODDIR's vintrel.json and reads the game as a run of the tool reads it (its untouched
// manifest), then decides, for each configured file, whether it goes: a file whose "src" no longer
// exists; one that replaces no entry of the game; and one whose bytes, and the metadata a run
// would give its entries, every entry it would replace holds already, unless a later file that
// stays could replace the same entries (it would take them over once this one is gone). Unless
// dryRun, when any file goes, rewrites vintrel.json without them through a temporary name: the
// text loses exactly their elements of "files", every other byte stays. No other file is touched.
// False, with the reason in *status, when the configuration or the game cannot be read (a package
// too), a configured file that exists cannot be read, or vintrel.json cannot be written.
bool prune_mod(const char* modDir, const char* gameDir, bool dryRun, const OptionValues& nameFiles,
               PruneResult& result, Status* status);

#endif  // VINTREL_INSPECT_PRUNE_H_
