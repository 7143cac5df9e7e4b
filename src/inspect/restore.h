#ifndef VINTREL_INSPECT_RESTORE_H_
#define VINTREL_INSPECT_RESTORE_H_

// Undoing the tool's runs on a game: putting the untouched manifest back, or, after a game update
// has replaced manifest.bin, removing what the runs left that the new game does not use.

#include "base/status.h"
#include "base/string_buffer.h"
#include "manifest/game_commit.h"

// What a restore changed, in the order it changed it, and why it stopped. Each path is empty
// unless that change was made.
struct RestoreResult {
  ChangeRecovery recovery;      // what finishing an interrupted change did first
  PathBuffer restoredManifest;  // manifest.bin, put back from the back-up
  PathBuffer deletedArchive;    // the user archive
  PathBuffer deletedBackup;     // origmanifest.bin
  Status failure;               // ok when the restore was done
  const char* remark = "";      // follows the failure's description: what the failure left
  Status kept;                  // a restore that was done but whose record stayed: why
};

// Puts the back-up origmanifest.bin in gameDir back as manifest.bin and deletes the user archive
// that manifest.bin names and the back-up does not, and the back-up, as one change of the game
// (manifest/game_commit.h), holding the tool's lock and after finishing an interrupted change.
// Everything is checked first: it refuses, changing nothing, when there is no back-up, when it
// cannot be read, when manifest.bin is not what a run writes from it, or when the user archive's
// name is not one a run writes or leads to one of the back-up's archives. False, with the reason
// in result->failure, when it refuses or the change fails.
bool restore_game(const char* gameDir, RestoreResult* result);

// For a game whose manifest.bin a game update replaced: deletes the archive upak + ".upak" (when
// upak is not null) and the stale back-up origmanifest.bin as one change, holding the tool's lock
// and after finishing an interrupted change, and nothing else. It refuses, changing nothing, when
// there is no back-up or it cannot be read, when manifest.bin is missing or cannot be read, when
// manifest.bin is what a run writes from the back-up (plain restore_game undoes that), and when
// upak is not a plain file name, names no file, or names an archive that manifest.bin lists, by
// name or by identity. False, with the reason in result->failure, when it refuses or a step fails.
bool restore_after_update(const char* gameDir, const char* upak, RestoreResult* result);

#endif  // VINTREL_INSPECT_RESTORE_H_
