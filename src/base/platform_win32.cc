// The Win32 backend of the platform seam: each function is the narrow-character call it is named
// after. NOMINMAX and WIN32_LEAN_AND_MEAN come from the build.
//
// The narrow file functions refuse paths of MAX_PATH characters or more, which the POSIX backend
// and the program's own path buffers accept. A path that long goes to the wide function instead:
// widened from the ANSI code page, made absolute by GetFullPathNameW (the rules the narrow
// functions apply: '/' is a separator, "." and ".." are resolved) and marked "\\?\", which lifts
// the limit. Shorter paths reach the narrow functions unchanged.

#include <windows.h>

#include <cstdint>
#include <cstring>

#include "base/byte_buffer.h"
#include "base/platform.h"
#include "base/platform_faults.h"

namespace {

// INVALID_HANDLE_VALUE is all bits set, the same value as kNoFile.
HANDLE to_handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle from_handle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

bool is_long(const char* path) { return path != nullptr && strlen(path) >= MAX_PATH; }

// A narrow path in the "\\?\" form of the wide functions; get() is null when it could not be made
// (no memory, or a text that the code page cannot convert), and the call then fails.
class LongPath {
 public:
  explicit LongPath(const char* path) {
    const int narrowCount = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    TCountedArray<wchar_t> wide;
    if (narrowCount <= 0 || !wide.allocate(static_cast<uint32_t>(narrowCount)) ||
        MultiByteToWideChar(CP_ACP, 0, path, -1, &wide[0], narrowCount) != narrowCount) {
      return;
    }
    const DWORD fullCount = GetFullPathNameW(&wide[0], 0, nullptr, nullptr);
    // Room for the longest prefix, "\\?\UNC\" in place of a UNC path's leading "\\".
    const uint32_t prefix = 8;
    if (fullCount == 0 || fullCount > UINT32_MAX / sizeof(wchar_t) - prefix ||
        !text_.allocate(prefix + fullCount)) {
      return;
    }
    wchar_t* full = &text_[prefix];
    const DWORD written = GetFullPathNameW(&wide[0], fullCount, full, nullptr);
    if (written == 0 || written >= fullCount) {
      text_.release();
      return;
    }
    if (full[0] == L'\\' && full[1] == L'\\') {
      // Already a device path ("\\?\", "\\.\") stays as it is; "\\server\share" becomes
      // "\\?\UNC\server\share", written over the first of its two backslashes.
      if ((full[2] == L'?' || full[2] == L'.') && full[3] == L'\\') {
        start_ = prefix;
      } else {
        start_ = prefix - 6;
        wcsncpy(&text_[start_], L"\\\\?\\UNC", 7);
      }
    } else {
      start_ = prefix - 4;
      wcsncpy(&text_[start_], L"\\\\?\\", 4);
    }
  }
  LongPath(const LongPath&) = delete;
  LongPath& operator=(const LongPath&) = delete;

  const wchar_t* get() const { return text_.count() == 0 ? nullptr : &text_[start_]; }

 private:
  TCountedArray<wchar_t> text_;
  uint32_t start_ = 0;
};

}  // namespace

FileHandle sys_create_file(const char* path, FileAccess access, FileShare share,
                           FileDisposition disposition) {
  if (sys_fault(SysCall::kCreateFile)) return kNoFile;
  DWORD desired = access == FileAccess::kRead    ? GENERIC_READ
                  : access == FileAccess::kWrite ? GENERIC_WRITE
                                                 : GENERIC_READ | GENERIC_WRITE;
  DWORD sharing = share == FileShare::kRead ? FILE_SHARE_READ : 0;
  DWORD creation = disposition == FileDisposition::kOpenExisting   ? OPEN_EXISTING
                   : disposition == FileDisposition::kCreateAlways ? CREATE_ALWAYS
                                                                   : OPEN_ALWAYS;
  if (!is_long(path)) {
    return from_handle(
        CreateFileA(path, desired, sharing, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  const LongPath wide(path);
  if (wide.get() == nullptr) return kNoFile;
  return from_handle(
      CreateFileW(wide.get(), desired, sharing, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool sys_read_file(FileHandle file, void* buffer, uint32_t count, uint32_t* done) {
  if (sys_fault(SysCall::kReadFile)) {
    *done = 0;
    return false;
  }
  DWORD transferred = 0;
  const BOOL ok = ReadFile(to_handle(file), buffer, count, &transferred, nullptr);
  *done = ok ? static_cast<uint32_t>(transferred) : 0;
  return ok != FALSE;
}

bool sys_write_file(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) {
  if (sys_fault(SysCall::kWriteFile)) {
    *done = 0;
    return false;
  }
  DWORD transferred = 0;
  const BOOL ok = WriteFile(to_handle(file), buffer, count, &transferred, nullptr);
  *done = ok ? static_cast<uint32_t>(transferred) : 0;
  return ok != FALSE;
}

bool sys_set_file_pointer(FileHandle file, int64_t distance, SeekOrigin origin,
                          uint64_t* newPosition) {
  if (sys_fault(SysCall::kSetFilePointer)) return false;
  const DWORD method = origin == SeekOrigin::kBegin     ? FILE_BEGIN
                       : origin == SeekOrigin::kCurrent ? FILE_CURRENT
                                                        : FILE_END;
  LARGE_INTEGER move;
  move.QuadPart = distance;
  LARGE_INTEGER reached;
  reached.QuadPart = 0;
  if (!SetFilePointerEx(to_handle(file), move, &reached, method)) return false;
  if (newPosition != nullptr) *newPosition = static_cast<uint64_t>(reached.QuadPart);
  return true;
}

bool sys_set_end_of_file(FileHandle file) {
  if (sys_fault(SysCall::kSetEndOfFile)) return false;
  return SetEndOfFile(to_handle(file)) != FALSE;
}

bool sys_get_file_size(FileHandle file, uint64_t* size) {
  if (sys_fault(SysCall::kGetFileSize)) return false;
  LARGE_INTEGER length;
  if (!GetFileSizeEx(to_handle(file), &length) || length.QuadPart < 0) return false;
  *size = static_cast<uint64_t>(length.QuadPart);
  return true;
}

bool sys_flush_file(FileHandle file) {
  if (sys_fault(SysCall::kFlushFile)) return false;
  return FlushFileBuffers(to_handle(file)) != FALSE;
}

bool sys_close_handle(FileHandle file) {
  return file != kNoFile && CloseHandle(to_handle(file)) != FALSE;
}

bool sys_file_exists(const char* path) {
  if (!is_long(path)) return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
  const LongPath wide(path);
  return wide.get() != nullptr && GetFileAttributesW(wide.get()) != INVALID_FILE_ATTRIBUTES;
}

bool sys_delete_file(const char* path) {
  if (sys_fault(SysCall::kDeleteFile)) return false;
  if (!is_long(path)) return DeleteFileA(path) != FALSE;
  const LongPath wide(path);
  return wide.get() != nullptr && DeleteFileW(wide.get()) != FALSE;
}

bool sys_copy_file(const char* existing, const char* target, bool failIfExists) {
  if (sys_fault(SysCall::kCopyFile)) return false;
  if (!is_long(existing) && !is_long(target)) {
    return CopyFileA(existing, target, failIfExists ? TRUE : FALSE) != FALSE;
  }
  const LongPath wideExisting(existing);
  const LongPath wideTarget(target);
  return wideExisting.get() != nullptr && wideTarget.get() != nullptr &&
         CopyFileW(wideExisting.get(), wideTarget.get(), failIfExists ? TRUE : FALSE) != FALSE;
}

bool sys_move_file(const char* existing, const char* target) {
  if (sys_fault(SysCall::kMoveFile)) return false;
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  if (!is_long(existing) && !is_long(target)) {
    return MoveFileExA(existing, target, flags) != FALSE;
  }
  const LongPath wideExisting(existing);
  const LongPath wideTarget(target);
  return wideExisting.get() != nullptr && wideTarget.get() != nullptr &&
         MoveFileExW(wideExisting.get(), wideTarget.get(), flags) != FALSE;
}

uint32_t sys_get_temp_path(uint32_t size, char* buffer) {
  if (sys_fault(SysCall::kGetTempPath)) return 0;
  // Without a buffer the call only measures, as with a size of 0.
  if (buffer == nullptr) size = 0;
  return static_cast<uint32_t>(GetTempPathA(size, buffer));
}

uint32_t sys_current_thread_id() { return static_cast<uint32_t>(GetCurrentThreadId()); }

void sys_sleep(uint32_t milliseconds) { Sleep(milliseconds); }
