#include "driver/game_lock.h"

#include "base/platform.h"
#include "base/string_buffer.h"

bool lock_game_directory(const char* destDir, FileLock& lock, Status* status) {
  PathBuffer path;
  if (path.Format("%svintrel.lock", destDir) <= 0) {
    status->FailOutOfMemory();
    return false;
  }
  bool busy = false;
  if (lock.Acquire(path.Data(), &busy)) return true;
  const uint32_t error = sys_last_error();
  if (busy) {
    status->FailAt(StatusCode::kBusy, destDir,
                   "another run is using this directory; try again when it has ended");
  } else if (!sys_file_exists(destDir)) {
    status->FailAt(StatusCode::kNotFound, destDir, "the game directory does not exist");
  } else {
    status->FailIo("cannot create the lock file", path.Data(), error);
  }
  return false;
}

bool lock_and_recover(const char* destDir, FileLock& lock, ChangeRecovery* recovery,
                      Status* status) {
  return lock_game_directory(destDir, lock, status) &&
         finish_interrupted_change(destDir, recovery, status);
}
