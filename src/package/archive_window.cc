#include "package/archive_window.h"

#include "base/file.h"

void ArchiveWindow::Reset(FileHandle archive) {
  archive_ = archive;
  start_ = 0;
  atEnd_ = false;
  readError_ = 0;
  bytes_.resize(0);
}

bool ArchiveWindow::Fetch(uint64_t position, uint32_t count, const uint8_t** bytes, uint32_t* got) {
  *got = 0;
  // What the window holds from position on; a window that ends with the archive holds all there
  // is, however few bytes that is.
  if (position >= start_ && position - start_ <= bytes_.length()) {
    const uint32_t held = bytes_.length() - static_cast<uint32_t>(position - start_);
    if (held >= count || (atEnd_ && readError_ == 0)) {
      *bytes = bytes_.data() + (position - start_);
      *got = held < count ? held : count;
      return true;
    }
  }
  if (!bytes_.resize(kSize)) {
    Reset(archive_);
    return false;
  }
  const uint32_t read = file_read_at(archive_, position, bytes_.data(), kSize);
  readError_ = read < kSize ? sys_last_error() : 0;
  atEnd_ = read < kSize;
  start_ = position;
  bytes_.resize(read);
  *bytes = bytes_.data();
  *got = read < count ? read : count;
  return true;
}
