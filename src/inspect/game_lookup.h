#ifndef VINTREL_INSPECT_GAME_LOOKUP_H_
#define VINTREL_INSPECT_GAME_LOOKUP_H_

// The look-ups that the commands share: a game directory opened through its manifest, the ids
// that arguments name, package records by id and entries by ids.

#include <cstdint>

#include "base/byte_buffer.h"
#include "base/status.h"
#include "base/string_buffer.h"
#include "base/warning_list.h"
#include "driver/run_context.h"
#include "json/json_writer.h"
#include "manifest/game_reader.h"

constexpr uint32_t kNoRecord = UINT32_MAX;

// Opens the game in directory dir through its manifest.bin. False, having printed why, when the
// manifest cannot be read. When a change of the game was interrupted after it committed, warns so
// and reads the game as that change leaves it.
bool open_game(const char* dir, GameReader& game);

// Opens the game in directory dir as a run of the tool reads it: through its untouched manifest,
// origmanifest.bin once a run has made it, which context holds. What the reading warns of (a
// change of the game that was interrupted after it committed, read as that change leaves it) is
// added to warnings. False, with the reason in *status, when that cannot be read or memory runs
// out.
bool open_untouched_game(const char* dir, RunContext& context, GameReader& game,
                         WarningList& warnings, Status* status);

// How much of the work each package of the game is, for a progress bar: the bytes from its start
// to the next package of the same archive file, or to the file's end, and at least 1; 0 for a
// record in no archive. False when out of memory.
bool package_weights(const GameReader& game, TCountedArray<uint64_t>& weights);

// The same from the sizes of the game's archive files, archiveBytes[i] that of archive i (0 when
// unknown), for a caller that holds the archives open.
bool weigh_packages(const GameReader& game, const TCountedArray<uint64_t>& archiveBytes,
                    TCountedArray<uint64_t>& weights);

// The id that a NAME, EXT or PACKAGE argument stands for, as the tool turns the configuration's
// "name", "ext" and "pkg" into ids: the name_hash of the text, so that case does not matter. "0x"
// followed by exactly 16 hexadecimal digits stands for that id itself, for entries known only by
// the ids the reports print.
uint64_t argument_id(const char* text);
// Whether the argument is "0x" followed by exactly 16 hexadecimal digits, an id itself.
bool is_id_argument(const char* text);

// The record's name as text (bytes after a NUL in it are cut off). False when out of memory.
bool record_name(const GameReader& game, uint32_t k, CStringBufferA& name);

// The first package record, in manifest order, whose id is the one the argument stands for. When
// others have that id too, it warns with their names. kNoRecord, having printed why, when none
// has it.
uint32_t select_record(const GameReader& game, const char* argument);

// Whether a package that the argument pkg (with the id packageId) names can hold entries at all:
// some record has the id, and one of them lies in an archive (every command passes over packages
// in no archive, as the tool does). False, with the reason in *status, otherwise.
bool check_package(const GameReader& game, const char* pkg, uint64_t packageId, Status* status);

// Walks the packages of a game in manifest order for the entries with a name id and an extension
// id: every package in an archive, or only those whose record has packageId when it is not 0 (as
// the configuration's "pkg" restricts a file). After kMatch, the game's package() is the package
// of record() and entry() is the index of the entry in it.
class EntrySearch {
 public:
  enum Step { kMatch, kUnreadable, kDone };

  EntrySearch(GameReader& game, uint64_t nameId, uint64_t extId, uint64_t packageId);
  EntrySearch(const EntrySearch&) = delete;
  EntrySearch& operator=(const EntrySearch&) = delete;

  // The next matching entry (kMatch); kUnreadable, with the reason in *status, for a package that
  // cannot be read, after which the search goes on with the next package; kDone at the end.
  // Packages in no archive are passed over.
  Step Next(Status* status);

  uint32_t record() const { return record_; }
  uint32_t entry() const { return entry_; }

 private:
  GameReader& game_;
  uint64_t nameId_;
  uint64_t extId_;
  uint64_t packageId_;
  uint32_t record_ = kNoRecord;
  uint32_t entry_ = 0;
  bool inPackage_ = false;
};

// Writes the members that place a package record in a JSON object: its name under nameKey, its
// id, its archive (null when it lies in no archive) and its offset.
void write_record_members(JsonWriter& json, const PackageRecord& record, const char* nameKey);

#endif  // VINTREL_INSPECT_GAME_LOOKUP_H_
