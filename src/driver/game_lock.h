#ifndef VINTREL_DRIVER_GAME_LOCK_H_
#define VINTREL_DRIVER_GAME_LOCK_H_

#include "base/file_lock.h"
#include "base/status.h"
#include "manifest/game_commit.h"

// Only one program at a time may change a game directory: a second one would delete, truncate or
// rename the files the first is building. Takes destDir + "vintrel.lock" (destDir ends in a
// separator) into lock, which holds it until released. False, with the reason in *status, when
// another holder has it (kBusy), when the directory does not exist (kNotFound), or when the lock
// file cannot be created.
bool lock_game_directory(const char* destDir, FileLock& lock, Status* status);

// Takes the lock as lock_game_directory does, then finishes a change of the game that a crash
// interrupted (finish_interrupted_change, manifest/game_commit.h); *recovery says what that did.
// What every program that changes a game does first. False, with the reason, when either fails.
bool lock_and_recover(const char* destDir, FileLock& lock, ChangeRecovery* recovery,
                      Status* status);

#endif  // VINTREL_DRIVER_GAME_LOCK_H_
