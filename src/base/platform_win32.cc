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
#include <cstdio>
#include <cstring>

#include "base/byte_buffer.h"
#include "base/platform.h"
#include "base/platform_faults.h"

namespace {

// INVALID_HANDLE_VALUE is all bits set, the same value as kNoFile.
HANDLE to_handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

// Whether a path is too long for the narrow functions. What counts is the length of the full path
// that the system makes of it: a short relative path under a deep working directory is long.
bool is_long(const char* path) {
  if (path == nullptr) return false;
  const DWORD needed = GetFullPathNameA(path, 0, nullptr, nullptr);
  if (needed == 0) return strlen(path) >= MAX_PATH;
  return needed > MAX_PATH;
}

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

// The error code of this thread's most recent call of the seam; 0 after one that succeeded.
thread_local uint32_t t_lastError = 0;

bool succeed() {
  t_lastError = 0;
  return true;
}

// Records error (GetLastError() by default) as the outcome of the present call.
bool fail(DWORD error = GetLastError()) {
  t_lastError = error != 0 ? static_cast<uint32_t>(error) : ERROR_GEN_FAILURE;
  return false;
}

// The outcome of a call that returns a BOOL.
bool outcome(BOOL ok) { return ok ? succeed() : fail(); }

FileHandle opened(HANDLE handle) {
  if (handle == INVALID_HANDLE_VALUE) {
    fail();
    return kNoFile;
  }
  succeed();
  return reinterpret_cast<FileHandle>(handle);
}

// A failure injected by a test's fault hook reads as a failing disk.
bool injected_fault(SysCall call) { return sys_fault(call) && !fail(ERROR_IO_DEVICE); }

}  // namespace

FileHandle sys_create_file(const char* path, FileAccess access, FileShare share,
                           FileDisposition disposition) {
  if (injected_fault(SysCall::kCreateFile)) return kNoFile;
  DWORD desired = access == FileAccess::kRead    ? GENERIC_READ
                  : access == FileAccess::kWrite ? GENERIC_WRITE
                                                 : GENERIC_READ | GENERIC_WRITE;
  DWORD sharing = share == FileShare::kRead ? FILE_SHARE_READ : 0;
  DWORD creation = disposition == FileDisposition::kOpenExisting   ? OPEN_EXISTING
                   : disposition == FileDisposition::kCreateAlways ? CREATE_ALWAYS
                                                                   : OPEN_ALWAYS;
  if (!is_long(path)) {
    return opened(
        CreateFileA(path, desired, sharing, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  const LongPath wide(path);
  if (wide.get() == nullptr) {
    fail(ERROR_NOT_ENOUGH_MEMORY);
    return kNoFile;
  }
  return opened(
      CreateFileW(wide.get(), desired, sharing, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool sys_read_file(FileHandle file, void* buffer, uint32_t count, uint32_t* done) {
  *done = 0;
  if (injected_fault(SysCall::kReadFile)) return false;
  DWORD transferred = 0;
  const BOOL ok = ReadFile(to_handle(file), buffer, count, &transferred, nullptr);
  *done = ok ? static_cast<uint32_t>(transferred) : 0;
  return outcome(ok);
}

bool sys_read_file_at(FileHandle file, uint64_t offset, void* buffer, uint32_t count,
                      uint32_t* done) {
  *done = 0;
  if (injected_fault(SysCall::kReadFile)) return false;
  if (offset > static_cast<uint64_t>(INT64_MAX)) return fail(ERROR_NEGATIVE_SEEK);
  // On a handle opened without FILE_FLAG_OVERLAPPED the read is synchronous: it starts at the
  // offset and leaves the file pointer after the bytes read.
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD transferred = 0;
  if (ReadFile(to_handle(file), buffer, count, &transferred, &at)) {
    *done = static_cast<uint32_t>(transferred);
    return succeed();
  }
  // A synchronous read from an offset at or past the end fails with ERROR_HANDLE_EOF; the seam
  // reports the end of a file as a read of 0 bytes.
  if (GetLastError() == ERROR_HANDLE_EOF) return succeed();
  return fail();
}

bool sys_write_file(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) {
  *done = 0;
  if (injected_fault(SysCall::kWriteFile)) return false;
  DWORD transferred = 0;
  const BOOL ok = WriteFile(to_handle(file), buffer, count, &transferred, nullptr);
  *done = ok ? static_cast<uint32_t>(transferred) : 0;
  return outcome(ok);
}

bool sys_set_file_pointer(FileHandle file, int64_t distance, SeekOrigin origin,
                          uint64_t* newPosition) {
  if (injected_fault(SysCall::kSetFilePointer)) return false;
  const DWORD method = origin == SeekOrigin::kBegin     ? FILE_BEGIN
                       : origin == SeekOrigin::kCurrent ? FILE_CURRENT
                                                        : FILE_END;
  LARGE_INTEGER move;
  move.QuadPart = distance;
  LARGE_INTEGER reached;
  reached.QuadPart = 0;
  if (!SetFilePointerEx(to_handle(file), move, &reached, method)) return fail();
  if (newPosition != nullptr) *newPosition = static_cast<uint64_t>(reached.QuadPart);
  return succeed();
}

bool sys_set_end_of_file(FileHandle file) {
  if (injected_fault(SysCall::kSetEndOfFile)) return false;
  return outcome(SetEndOfFile(to_handle(file)));
}

bool sys_get_file_size(FileHandle file, uint64_t* size) {
  if (injected_fault(SysCall::kGetFileSize)) return false;
  LARGE_INTEGER length;
  if (!GetFileSizeEx(to_handle(file), &length)) return fail();
  if (length.QuadPart < 0) return fail(ERROR_ARITHMETIC_OVERFLOW);
  *size = static_cast<uint64_t>(length.QuadPart);
  return succeed();
}

bool sys_flush_file(FileHandle file) {
  if (injected_fault(SysCall::kFlushFile)) return false;
  return outcome(FlushFileBuffers(to_handle(file)));
}

// The system's lazy writer already writes changed data in the background.
void sys_start_flush(FileHandle) {}

bool sys_close_handle(FileHandle file) {
  if (file == kNoFile) return fail(ERROR_INVALID_HANDLE);
  return outcome(CloseHandle(to_handle(file)));
}

bool sys_file_exists(const char* path) {
  if (!is_long(path))
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ? succeed() : fail();
  const LongPath wide(path);
  if (wide.get() == nullptr) return fail(ERROR_NOT_ENOUGH_MEMORY);
  return GetFileAttributesW(wide.get()) != INVALID_FILE_ATTRIBUTES ? succeed() : fail();
}

bool sys_delete_file(const char* path) {
  if (injected_fault(SysCall::kDeleteFile)) return false;
  if (!is_long(path)) return outcome(DeleteFileA(path));
  const LongPath wide(path);
  if (wide.get() == nullptr) return fail(ERROR_NOT_ENOUGH_MEMORY);
  return outcome(DeleteFileW(wide.get()));
}

bool sys_copy_file(const char* existing, const char* target, bool failIfExists) {
  if (injected_fault(SysCall::kCopyFile)) return false;
  if (!is_long(existing) && !is_long(target)) {
    return outcome(CopyFileA(existing, target, failIfExists ? TRUE : FALSE));
  }
  const LongPath wideExisting(existing);
  const LongPath wideTarget(target);
  if (wideExisting.get() == nullptr || wideTarget.get() == nullptr) {
    return fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  return outcome(CopyFileW(wideExisting.get(), wideTarget.get(), failIfExists ? TRUE : FALSE));
}

namespace {

BOOL move_once(const char* existing, const char* target) {
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  if (!is_long(existing) && !is_long(target)) return MoveFileExA(existing, target, flags);
  const LongPath wideExisting(existing);
  const LongPath wideTarget(target);
  if (wideExisting.get() == nullptr || wideTarget.get() == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  return MoveFileExW(wideExisting.get(), wideTarget.get(), flags);
}

// Virus scanners and indexers open a file right after it was closed, and a rename fails while
// they hold it; they let go within moments.
constexpr DWORD kRenameRetryMilliseconds = 2000;
constexpr DWORD kRenameRetryPause = 50;

bool is_transient(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_LOCK_VIOLATION;
}

}  // namespace

bool sys_move_file(const char* existing, const char* target) {
  if (injected_fault(SysCall::kMoveFile)) return false;
  const DWORD start = GetTickCount();
  for (;;) {
    if (move_once(existing, target)) return succeed();
    const DWORD error = GetLastError();
    if (!is_transient(error) || GetTickCount() - start >= kRenameRetryMilliseconds) {
      return fail(error);
    }
    Sleep(kRenameRetryPause);
  }
}

namespace {

// Opens a file only to ask about it: no access, every kind of sharing, directories included.
HANDLE open_for_query(const char* path) {
  const DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  if (!is_long(path)) {
    return CreateFileA(path, 0, sharing, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                       nullptr);
  }
  const LongPath wide(path);
  if (wide.get() == nullptr) return INVALID_HANDLE_VALUE;
  return CreateFileW(wide.get(), 0, sharing, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                     nullptr);
}

bool file_identity(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
  const HANDLE file = open_for_query(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  const BOOL ok = GetFileInformationByHandle(file, info);
  CloseHandle(file);
  return ok != FALSE;
}

}  // namespace

bool sys_same_file(const char* a, const char* b) {
  BY_HANDLE_FILE_INFORMATION one;
  BY_HANDLE_FILE_INFORMATION other;
  if (!file_identity(a, &one) || !file_identity(b, &other)) return fail();
  succeed();
  return one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
         one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
}

FileHandle sys_lock_file(const char* path, bool* busy) {
  *busy = false;
  if (injected_fault(SysCall::kCreateFile)) return kNoFile;
  const DWORD flags = FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE;
  const DWORD start = GetTickCount();
  for (;;) {
    HANDLE lock = INVALID_HANDLE_VALUE;
    if (!is_long(path)) {
      lock =
          CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, flags, nullptr);
    } else {
      const LongPath wide(path);
      if (wide.get() == nullptr) {
        fail(ERROR_NOT_ENOUGH_MEMORY);
        return kNoFile;
      }
      lock = CreateFileW(wide.get(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, flags,
                         nullptr);
    }
    if (lock != INVALID_HANDLE_VALUE) return opened(lock);
    const DWORD error = GetLastError();
    // A lock file whose holder has just closed it is being deleted and refuses opens with access
    // denied for that moment.
    if (error == ERROR_ACCESS_DENIED && GetTickCount() - start < kRenameRetryMilliseconds) {
      Sleep(kRenameRetryPause);
      continue;
    }
    *busy = error == ERROR_SHARING_VIOLATION;
    fail(error);
    return kNoFile;
  }
}

void sys_unlock_file(FileHandle lock, const char*) { sys_close_handle(lock); }

uint32_t sys_get_temp_path(uint32_t size, char* buffer) {
  if (injected_fault(SysCall::kGetTempPath)) return 0;
  // Without a buffer the call only measures, as with a size of 0.
  if (buffer == nullptr) size = 0;
  const DWORD length = GetTempPathA(size, buffer);
  if (length == 0) {
    fail();
  } else {
    succeed();
  }
  return static_cast<uint32_t>(length);
}

uint32_t sys_last_error() { return t_lastError; }

void sys_native_path(const char* path, CStringBufferA& out) { out.Assign(path); }

void sys_error_text(uint32_t code, char* buffer, uint32_t size) {
  if (size == 0) return;
  buffer[0] = '\0';
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, buffer, size, nullptr);
  // The system's texts end in a full stop and a line end, which a one-line message does not want.
  while (length > 0 && (buffer[length - 1] == '\n' || buffer[length - 1] == '\r' ||
                        buffer[length - 1] == '.' || buffer[length - 1] == ' ')) {
    buffer[--length] = '\0';
  }
  if (length == 0) snprintf(buffer, size, "system error %lu", static_cast<unsigned long>(code));
}

uint32_t sys_current_thread_id() { return static_cast<uint32_t>(GetCurrentThreadId()); }

void sys_sleep(uint32_t milliseconds) { Sleep(milliseconds); }

bool sys_stderr_is_terminal() {
  // A console handle has a console mode; a pipe or a file (or a terminal emulator that is a
  // pipe underneath) has none.
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}
