#ifndef VINTREL_PACKAGE_ARCHIVE_WINDOW_H_
#define VINTREL_PACKAGE_ARCHIVE_WINDOW_H_

#include <cstdint>

#include "base/byte_buffer.h"
#include "base/platform.h"

// Reads an archive through one cached window, so that the packages of an archive, which lie one
// after another, share a system call: the first bytes of a package are looked for in the window
// before the archive is read again. The archive must not change while the window is in use.
class ArchiveWindow {
 public:
  // Bytes read into the window at a time.
  static constexpr uint32_t kSize = 64 * 1024;

  ArchiveWindow() = default;
  explicit ArchiveWindow(FileHandle archive) : archive_(archive) {}
  ArchiveWindow(const ArchiveWindow&) = delete;
  ArchiveWindow& operator=(const ArchiveWindow&) = delete;

  // The archive to read from now on; what the window held is forgotten.
  void Reset(FileHandle archive);
  FileHandle archive() const { return archive_; }

  // Makes the bytes [position, position + count) of the archive available, count at most kSize:
  // from the window when it holds them, else by one read of kSize bytes from position. *bytes
  // points at them and *got is how many there are, fewer than count only where the archive ends
  // or the read failed (read_error() then holds the system's error code). The bytes stay valid
  // until the next call. False, with *got 0, only when the window's block cannot be allocated.
  bool Fetch(uint64_t position, uint32_t count, const uint8_t** bytes, uint32_t* got);
  // The system's error code of the window's last read; 0 when it succeeded.
  uint32_t read_error() const { return readError_; }

 private:
  FileHandle archive_ = kNoFile;
  uint64_t start_ = 0;  // the archive position of the window's first byte
  bool atEnd_ = false;  // the last read reached the end of the archive
  uint32_t readError_ = 0;
  ByteBuffer bytes_;  // length: the bytes the window holds
};

#endif  // VINTREL_PACKAGE_ARCHIVE_WINDOW_H_
