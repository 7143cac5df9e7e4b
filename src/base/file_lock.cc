#include "base/file_lock.h"

bool FileLock::Acquire(const char* path, bool* busy) {
  Release();
  *busy = false;
  path_.Assign(path);
  if (path_.IsEmpty()) return false;
  file_ = sys_lock_file(path, busy);
  if (file_ == kNoFile) path_.Release();
  return file_ != kNoFile;
}

void FileLock::Release() {
  if (file_ == kNoFile) return;
  sys_unlock_file(file_, path_.Text());
  file_ = kNoFile;
  path_.Release();
}
