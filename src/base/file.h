#ifndef VINTREL_BASE_FILE_H_
#define VINTREL_BASE_FILE_H_

#include <cstdint>

#include "base/platform.h"

class ByteBuffer;
class Status;

// File access over the platform's handles. No buffering: every call goes to the system.
// Failures are results; nothing here prints.

constexpr uint64_t kBadPosition = UINT64_MAX;
constexpr uint32_t kTransferSize = 2048;

// Opens a file with a C-like mode: only the first character ("r", "w", "a") and whether the second
// is "+" matter. "r": read, others may read, must exist. "r+": read/write, no sharing, must exist.
// "w"/"w+": write (read/write), no sharing, truncated or created. "a"/"a+": like "w"/"w+" but an
// existing file is kept and the position is at its end. Any other mode returns kNoFile without
// touching the file system.
FileHandle open_file(const char* path, const char* mode);
// Closes a handle; kNoFile is ignored.
void close_file(FileHandle file);

// True when exactly the value's width was transferred; values are little-endian.
bool file_read_u32(FileHandle file, uint32_t* value);
bool file_read_u8(FileHandle file, uint8_t* value);
bool file_write_u32(FileHandle file, uint32_t value);
bool file_write_u8(FileHandle file, uint8_t value);
// The number of bytes read or written in one request (short at the end of a file or on error).
uint32_t file_read(FileHandle file, void* buffer, uint32_t count);
uint32_t file_write(FileHandle file, const void* buffer, uint32_t count);
// The number of bytes read in one request from position on (short at the end of the file or on
// error); the file's current position afterwards is not defined.
uint32_t file_read_at(FileHandle file, uint64_t position, void* buffer, uint32_t count);

// Moves to a position from the start; returns it, or kBadPosition on failure (positions above
// INT64_MAX always fail).
uint64_t file_seek(FileHandle file, uint64_t position);
// The current position, or kBadPosition on failure.
uint64_t file_position(FileHandle file);
// The file's size, or kBadPosition on failure.
uint64_t file_size(FileHandle file);
// Ends the file at the current position; moving past the end first fills the gap with zeros.
bool file_set_end(FileHandle file);
// Asks the system to put everything written so far on the disk.
bool file_flush(FileHandle file);
// Flushes the directory that holds path (the part before its last '\\' or '/', or the working
// directory when it has none), so that a name just created, renamed or removed there is durable.
bool flush_directory_of(const char* path);
// Asks the system to start putting what was written on the disk, without waiting: a later
// file_flush then waits for less. A hint; where the system has no such request it does nothing.
void file_start_flush(FileHandle file);

// Reads a whole file (below 4 GiB) into the buffer: true when every byte arrived. The buffer's
// capacity is zero-filled and its length set to 0 first; after a failure its length may already
// be the file's size with incomplete content. A file of 4 GiB or more fails. On failure *status,
// when given, says why: the system's error, the file's size, or no memory for the buffer.
bool read_whole_file(const char* path, ByteBuffer& buffer, Status* status = nullptr);
// Creates the folder at path and every folder above it that is missing; an existing folder is
// fine. False, with the reason in *status naming the folder that could not be made.
bool create_folders(const char* path, Status* status);
// Copies up to n bytes from source to destination in pieces of kTransferSize through the
// caller's buffer. Returns the count both read and completely written; a short read, the end of
// the source or a short write ends the copy early.
uint64_t copy_file_bytes(FileHandle source, FileHandle destination, uint64_t n,
                         uint8_t (&transfer)[kTransferSize]);

// Owns one handle and closes it on destruction.
class ScopedFile {
 public:
  ScopedFile() = default;
  explicit ScopedFile(FileHandle file) : file_(file) {}
  ~ScopedFile() { close_file(file_); }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;

  FileHandle get() const { return file_; }
  bool is_open() const { return file_ != kNoFile; }
  // Closes the present handle and takes another.
  void reset(FileHandle file = kNoFile) {
    close_file(file_);
    file_ = file;
  }
  // Gives the handle up without closing it.
  FileHandle release() {
    FileHandle file = file_;
    file_ = kNoFile;
    return file;
  }

 private:
  FileHandle file_ = kNoFile;
};

#endif  // VINTREL_BASE_FILE_H_
