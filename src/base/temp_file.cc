#include "base/temp_file.h"

#include "base/platform.h"
#include "base/string_buffer.h"

bool TempFile::Place(const char* dir, uint32_t number) {
  Close();
  PathBuffer path;
  if (path.Format("%svintrel-%u-%u.tmp", dir, sys_process_id(), number) <= 0) return false;
  dir_.Assign(dir);
  path_.Assign(path);
  return !dir_.IsEmpty() && !path_.IsEmpty();
}

bool TempFile::Rewind(Status* status) {
  if (file_.is_open()) {
    if (file_seek(file_.get(), 0) == 0) return true;
    return FailRead(status);
  }
  file_.reset(open_file(path_.Text(), "w+"));
  if (file_.is_open()) return true;
  status->FailIo("cannot create a temporary file in", dir_.Text());
  return false;
}

void TempFile::Close() {
  if (!file_.is_open()) return;
  file_.reset();
  sys_delete_file(path_.Text());
}

bool TempFile::FailWrite(Status* status) const {
  status->FailIo("cannot write a temporary file in", dir_.Text());
  return false;
}

bool TempFile::FailRead(Status* status) const {
  status->FailIo("cannot read a temporary file in", dir_.Text());
  return false;
}
