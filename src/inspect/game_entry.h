#ifndef VINTREL_INSPECT_GAME_ENTRY_H_
#define VINTREL_INSPECT_GAME_ENTRY_H_

// One entry of a game read whole, as the commands that take NAME EXT [--pkg PACKAGE] read it
// (extract, texture export, texture make --game).

#include <cstdint>

#include "base/byte_buffer.h"
#include "base/status.h"
#include "base/string_buffer.h"
#include "base/warning_list.h"
#include "inspect/game_lookup.h"
#include "manifest/game_reader.h"
#include "names/name_list.h"

// The entry asked for, by its ids (packageId 0 for the first package that holds it) and by the
// texts that messages show for them (pkg null when packageId is 0), and what the command does
// with it, for the warning that names the other packages that hold it: "extracting it from" the
// package chosen.
struct EntryRequest {
  uint64_t nameId = 0;
  uint64_t extId = 0;
  uint64_t packageId = 0;
  const char* name = nullptr;
  const char* ext = nullptr;
  const char* pkg = nullptr;
  const char* doing = "extracting it from";
};

// The request for NAME EXT [--pkg PACKAGE] as a command's arguments give them (pkg null when not
// given): the ids that argument_id gives, and the arguments as texts, or the lists' texts for
// ids they know. Valid while the arguments and names live.
EntryRequest entry_request(const NameLists& names, const char* name, const char* ext,
                           const char* pkg);

// The entry as it was read.
struct GameEntry {
  uint32_t record = kNoRecord;  // the package record it came from
  CStringBufferA package;       // that package's name
  ByteBuffer data;
  ByteBuffer meta;
};

// Reads the entry's data and metadata from the first package in manifest order that holds it
// (only that package when request.packageId is not 0); the search goes on only to name the others
// in a warning. Packages that cannot be read are passed over, each with a warning in warnings.
// False, with the reason in *status, when the package named cannot hold it, no package holds it,
// its data cannot be read, or memory runs out.
bool read_game_entry(GameReader& game, const EntryRequest& request, GameEntry* entry,
                     WarningList& warnings, Status* status);

#endif  // VINTREL_INSPECT_GAME_ENTRY_H_
