#ifndef VINTREL_BASE_PENDING_FILE_H_
#define VINTREL_BASE_PENDING_FILE_H_

#include "base/file.h"
#include "base/shared_string.h"
#include "base/status.h"

// A file that is built under a temporary name and put in place by one rename, so that a reader
// of the final name sees either the old file or the whole new one. From Create until Commit the
// object is armed: destroying it, or Discard, closes and deletes the temporary file. It never
// deletes a file it did not create.
class PendingFile {
 public:
  PendingFile() = default;
  ~PendingFile() { Discard(); }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Creates (or truncates) tempPath for writing, without sharing, and remembers finalPath. False,
  // with the reason in *status and nothing armed, when either name cannot be stored or the file
  // cannot be created.
  bool Create(const char* tempPath, const char* finalPath, Status* status);
  // Puts everything written on the disk and closes the file; it stays armed.
  bool Finish(Status* status);
  // Finishes the file if still open, renames it over the final name, disarms, and flushes the
  // directory so that the new name is durable. False when that fails: still armed when the rename
  // failed, disarmed with the file in place when only the directory's flush did.
  bool Commit(Status* status);
  // Closes and deletes the temporary file now, if armed.
  void Discard();
  // Disarms without deleting anything: another owner has taken the temporary file, which must be
  // finished (closed) already.
  void HandOver();

  bool armed() const { return !tempPath_.IsEmpty(); }
  FileHandle file() const { return file_.get(); }
  const char* temp_path() const { return tempPath_.Text(); }
  const char* final_path() const { return finalPath_.Text(); }

 private:
  ScopedFile file_;
  SharedString tempPath_;
  SharedString finalPath_;
};

// Writes bytes to a file at path under the temporary name path.tmp, which is renamed over path
// once every byte is on the disk: a failure leaves path as it was and no partial file. False,
// with the reason in *status (which may be null), otherwise.
bool write_whole_file(const char* path, const ByteBuffer& bytes, Status* status);

#endif  // VINTREL_BASE_PENDING_FILE_H_
