#ifndef VINTREL_BASE_FILE_LOCK_H_
#define VINTREL_BASE_FILE_LOCK_H_

#include "base/platform.h"
#include "base/shared_string.h"

// Holds a lock file (sys_lock_file) from Acquire until Release or destruction, which removes it.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { Release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Takes the lock at path. False when another holder has it (*busy true) or the file cannot be
  // made (*busy false; sys_last_error says why).
  bool Acquire(const char* path, bool* busy);
  void Release();
  bool held() const { return file_ != kNoFile; }

 private:
  FileHandle file_ = kNoFile;
  SharedString path_;
};

#endif  // VINTREL_BASE_FILE_LOCK_H_
