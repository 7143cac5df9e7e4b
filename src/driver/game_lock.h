#ifndef VINTREL_DRIVER_GAME_LOCK_H_
#define VINTREL_DRIVER_GAME_LOCK_H_

#include "base/file_lock.h"
#include "base/status.h"

// Only one program at a time may change a game directory: a second one would delete, truncate or
// rename the files the first is building. Takes destDir + "vintrel.lock" (destDir ends in a
// separator) into lock, which holds it until released. False, with the reason in *status, when
// another holder has it (kBusy), when the directory does not exist (kNotFound), or when the lock
// file cannot be created.
bool lock_game_directory(const char* destDir, FileLock& lock, Status* status);

#endif  // VINTREL_DRIVER_GAME_LOCK_H_
