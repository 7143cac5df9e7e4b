#ifndef VINTREL_BASE_TEMP_FILE_H_
#define VINTREL_BASE_TEMP_FILE_H_

#include <cstdint>

#include "base/file.h"
#include "base/shared_string.h"
#include "base/status.h"

// A temporary file of one owner: "vintrel-<process id>-<number>.tmp" in a temporary directory.
// Each owner of a process takes a number of its own, and two processes never share an id, so no
// two owners, and no two runs, share a file. It is created when first needed (read and write, no
// sharing), rewound but not truncated by every later use, and closed and deleted with its owner.
// A failure names the directory rather than the file, so that what a run prints does not depend
// on its process id.
class TempFile {
 public:
  TempFile() = default;
  ~TempFile() { Close(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Where the file goes: dir, which ends in a separator, and the owner's number. False when out
  // of memory. Closes and deletes a file made under an earlier name.
  bool Place(const char* dir, uint32_t number);
  // Creates the file on first use, otherwise moves to its start; the file's bytes stay. False,
  // with the reason in *status, when it cannot be created or moved in.
  bool Rewind(Status* status);
  // Closes and deletes the file when it was made.
  void Close();

  FileHandle file() const { return file_.get(); }
  const char* dir() const { return dir_.Text(); }
  // The reasons of failed writes and reads, naming the directory.
  bool FailWrite(Status* status) const;
  bool FailRead(Status* status) const;

 private:
  ScopedFile file_;
  SharedString dir_;
  SharedString path_;
};

#endif  // VINTREL_BASE_TEMP_FILE_H_
