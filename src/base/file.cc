#include "base/file.h"

#include <cstring>

#include "base/array.h"
#include "base/byte_buffer.h"
#include "base/coding.h"
#include "base/platform.h"
#include "base/status.h"
#include "base/string_buffer.h"

FileHandle open_file(const char* path, const char* mode) {
  if (mode == nullptr) return kNoFile;
  const bool update = mode[0] != '\0' && mode[1] == '+';
  FileAccess access;
  FileShare share = FileShare::kNone;
  FileDisposition disposition;
  switch (mode[0]) {
    case 'r':
      access = update ? FileAccess::kReadWrite : FileAccess::kRead;
      if (!update) share = FileShare::kRead;
      disposition = FileDisposition::kOpenExisting;
      break;
    case 'w':
      access = update ? FileAccess::kReadWrite : FileAccess::kWrite;
      disposition = FileDisposition::kCreateAlways;
      break;
    case 'a':
      access = update ? FileAccess::kReadWrite : FileAccess::kWrite;
      disposition = FileDisposition::kOpenAlways;
      break;
    default:
      return kNoFile;
  }
  FileHandle file = sys_create_file(path, access, share, disposition);
  if (file != kNoFile && mode[0] == 'a' &&
      !sys_set_file_pointer(file, 0, SeekOrigin::kEnd, nullptr)) {
    // An append handle that is not at the end would overwrite the file's data.
    sys_close_handle(file);
    return kNoFile;
  }
  return file;
}

void close_file(FileHandle file) {
  if (file != kNoFile) sys_close_handle(file);
}

bool file_read_u32(FileHandle file, uint32_t* value) {
  uint8_t bytes[4];
  if (file_read(file, bytes, 4) != 4) return false;
  *value = decode_u32(bytes);
  return true;
}

bool file_read_u8(FileHandle file, uint8_t* value) { return file_read(file, value, 1) == 1; }

bool file_write_u32(FileHandle file, uint32_t value) {
  uint8_t bytes[4];
  encode_u32(bytes, value);
  return file_write(file, bytes, 4) == 4;
}

bool file_write_u8(FileHandle file, uint8_t value) { return file_write(file, &value, 1) == 1; }

uint32_t file_read(FileHandle file, void* buffer, uint32_t count) {
  uint32_t done = 0;
  if (!sys_read_file(file, buffer, count, &done)) return 0;
  return done;
}

uint32_t file_read_at(FileHandle file, uint64_t position, void* buffer, uint32_t count) {
  uint32_t done = 0;
  if (!sys_read_file_at(file, position, buffer, count, &done)) return 0;
  return done;
}

uint32_t file_write(FileHandle file, const void* buffer, uint32_t count) {
  uint32_t done = 0;
  if (!sys_write_file(file, buffer, count, &done)) return 0;
  return done;
}

uint64_t file_seek(FileHandle file, uint64_t position) {
  // The system takes a signed distance; larger positions would turn negative.
  if (position > static_cast<uint64_t>(INT64_MAX)) return kBadPosition;
  uint64_t reached = 0;
  if (!sys_set_file_pointer(file, static_cast<int64_t>(position), SeekOrigin::kBegin, &reached)) {
    return kBadPosition;
  }
  return reached;
}

uint64_t file_position(FileHandle file) {
  uint64_t position = 0;
  if (!sys_set_file_pointer(file, 0, SeekOrigin::kCurrent, &position)) return kBadPosition;
  return position;
}

uint64_t file_size(FileHandle file) {
  uint64_t size = 0;
  if (!sys_get_file_size(file, &size)) return kBadPosition;
  return size;
}

bool file_set_end(FileHandle file) { return sys_set_end_of_file(file); }

bool file_flush(FileHandle file) { return sys_flush_file(file); }

void file_start_flush(FileHandle file) { sys_start_flush(file); }

bool flush_directory_of(const char* path) {
  const char* end = nullptr;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '\\' || *p == '/') end = p;
  }
  if (end == nullptr) return sys_flush_directory(".");
  CStringBufferA directory;
  // The root keeps its separator: "/" is a directory, "" is not.
  const int32_t length = static_cast<int32_t>(end - path) + (end == path ? 1 : 0);
  if (directory.Format("%.*s", length, path) <= 0) return false;
  return sys_flush_directory(directory.Data());
}

bool read_whole_file(const char* path, ByteBuffer& buffer, Status* status) {
  Status ignored;
  if (status == nullptr) status = &ignored;
  if (buffer.capacity() > 0) memset(buffer.data(), 0, buffer.capacity());
  buffer.resize(0);
  ScopedFile file(open_file(path, "r"));
  const uint64_t size = file.is_open() ? file_size(file.get()) : kBadPosition;
  if (size == kBadPosition) {
    status->FailIo("cannot read", path);
    return false;
  }
  // A size of 4 GiB or more does not fit the buffer; it fails rather than losing its high bits.
  if (size > UINT32_MAX) {
    status->Fail(StatusCode::kUnsupported,
                 "a file of %llu bytes is too large to read whole; the limit is 4 GiB",
                 static_cast<unsigned long long>(size));
    status->SetPath(path);
    return false;
  }
  const uint32_t length = static_cast<uint32_t>(size);
  if (!buffer.reserve(length)) {
    status->Fail(StatusCode::kOutOfMemory, "out of memory for a file of %u bytes", length);
    status->SetPath(path);
    return false;
  }
  buffer.resize(length);
  // One request normally brings everything; a system may split very large reads, so the rest
  // is asked for until the file ends.
  uint32_t total = 0;
  while (total < length) {
    const uint32_t got = file_read(file.get(), buffer.data() + total, length - total);
    if (got == 0) break;
    total += got;
  }
  if (total == length) return true;
  status->FailIo("cannot read", path);
  return false;
}

uint64_t copy_file_bytes(FileHandle source, FileHandle destination, uint64_t n,
                         uint8_t (&transfer)[kTransferSize]) {
  uint64_t total = 0;
  uint32_t got =
      file_read(source, transfer, n < kTransferSize ? static_cast<uint32_t>(n) : kTransferSize);
  while (got > 0) {
    if (file_write(destination, transfer, got) < got) break;
    n -= got;
    total += got;
    got = file_read(source, transfer, n < kTransferSize ? static_cast<uint32_t>(n) : kTransferSize);
  }
  return total;
}

bool create_folders(const char* path, Status* status) {
  PathBuffer folder;
  if (folder.Assign(path) == nullptr) return status->FailOutOfMemory();
  char* text = folder.Data();
  const auto is_separator = [](char c) { return c == '/' || c == '\\'; };
  // Back from the path to the deepest folder that exists, noting where each missing one ends.
  TArray<uint32_t> missing;
  for (uint32_t end = static_cast<uint32_t>(std::strlen(text)); end != 0;) {
    text[end] = '\0';
    if (sys_file_exists(text)) break;
    if (!missing.Append(end)) return status->FailOutOfMemory();
    while (end != 0 && !is_separator(text[end - 1])) --end;
    while (end != 0 && is_separator(text[end - 1])) --end;
  }
  for (uint32_t i = missing.count(); i != 0; --i) {
    if (folder.Assign(path) == nullptr) return status->FailOutOfMemory();
    folder.Data()[missing[i - 1]] = '\0';
    if (sys_create_directory(folder.Data())) continue;
    // Another program may have made it meanwhile.
    const uint32_t error = sys_last_error();
    if (!sys_is_directory(folder.Data())) {
      status->FailIo("cannot create the folder", folder.Data(), error);
      return false;
    }
  }
  return true;
}
