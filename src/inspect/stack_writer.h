#ifndef VINTREL_INSPECT_STACK_WRITER_H_
#define VINTREL_INSPECT_STACK_WRITER_H_

// The work of stack: every mod's configuration loaded, the stack made and checked against OUTDIR
// and, when asked, the game, and OUTDIR/vintrel.json written; nothing is written when any of it
// fails.

#include <cstdint>

#include "base/byte_buffer.h"
#include "base/string_buffer.h"
#include "base/warning_list.h"
#include "driver/pack_file_entry.h"
#include "inspect/command.h"
#include "inspect/stack.h"
#include "inspect/stack_entries.h"
#include "names/name_list.h"

constexpr char kConfigName[] = "vintrel.json";

// Everything a stack did and found.
struct StackResult {
  TCountedArray<StackMod> mods;  // in load order
  uint32_t count = 0;
  TCountedArray<CStringBufferA> relative;  // per mod: the way from OUTDIR to its directory
  Stack stack;
  bool withGame = false;
  StackEntries entries;  // with --game
  NameLists names;       // what the reports show the ids by
  PathBuffer configPath;
  const char* upak = nullptr;
  bool fullCopy = false;
  uint32_t written = 0;  // files in the written vintrel.json
  ByteBuffer config;     // its bytes
  WarningList warnings;  // for standard error, and the JSON report
  WarningList errors;    // why nothing was written
};

// Stacks the count mods in modDirs (in load order) into outDir, with the user archive upak (null:
// the last mod's), and reads the game in gameDir when it is not null; the name lists are those of
// gather_names, with nameFiles. A file given by "name_id", "ext_id" or "pkg_id" keeps that key in
// the stack. False, with the reasons in result.errors and nothing written, when a mod's
// configuration cannot be read, OUTDIR holds other files or is a mod's, a mod cannot be reached
// from it by a relative path, the game or a name list cannot be read, or the file cannot be
// written; the mods' warnings are in result.warnings either way.
bool make_stack(const char* outDir, char* const* modDirs, uint32_t count, const char* upak,
                const char* gameDir, StackResult& result,
                const OptionValues& nameFiles = OptionValues());

#endif  // VINTREL_INSPECT_STACK_WRITER_H_
