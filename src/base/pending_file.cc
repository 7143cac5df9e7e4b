#include "base/pending_file.h"

#include "base/platform.h"
#include "base/string_buffer.h"

bool PendingFile::Create(const char* tempPath, const char* finalPath, Status* status) {
  Discard();
  finalPath_.Assign(finalPath);
  if (finalPath_.IsEmpty()) {
    status->FailOutOfMemory();
    return false;
  }
  file_.reset(open_file(tempPath, "w"));
  if (!file_.is_open()) {
    status->FailIo("cannot create", tempPath);
    return false;
  }
  tempPath_.Assign(tempPath);
  if (tempPath_.IsEmpty()) {
    // Without its name the file could not be deleted later: give it up now.
    file_.reset();
    sys_delete_file(tempPath);
    status->FailOutOfMemory();
    return false;
  }
  return true;
}

bool PendingFile::Finish(Status* status) {
  if (!file_.is_open()) return true;
  if (!file_flush(file_.get())) {
    status->FailIo("cannot write", tempPath_.Text());
    return false;
  }
  file_.reset();
  return true;
}

bool PendingFile::Commit(Status* status) {
  if (!Finish(status)) return false;
  if (!sys_move_file(tempPath_.Text(), finalPath_.Text())) {
    status->FailIo("cannot replace", finalPath_.Text());
    return false;
  }
  tempPath_.Release();
  if (flush_directory_of(finalPath_.Text())) return true;
  status->FailIo("cannot flush the directory of", finalPath_.Text());
  return false;
}

void PendingFile::Discard() {
  file_.reset();
  if (tempPath_.IsEmpty()) return;
  sys_delete_file(tempPath_.Text());
  tempPath_.Release();
}

void PendingFile::HandOver() {
  file_.reset();
  tempPath_.Release();
}

bool write_whole_file(const char* path, const ByteBuffer& bytes, Status* status) {
  Status local;
  Status* reason = status != nullptr ? status : &local;
  PathBuffer tempPath;
  if (tempPath.Format("%s.tmp", path) <= 0) return reason->FailOutOfMemory();
  PendingFile file;
  if (!file.Create(tempPath.Data(), path, reason)) return false;
  if (bytes.length() != 0 &&
      file_write(file.file(), bytes.data(), bytes.length()) != bytes.length()) {
    reason->FailIo("cannot write", tempPath.Data());
    return false;
  }
  return file.Commit(reason);
}
