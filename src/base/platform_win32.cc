// The Win32 backend of the platform seam. NOMINMAX and WIN32_LEAN_AND_MEAN come from the build.
//
// The program's texts are UTF-8: the command line (taken as UTF-16 and converted here), the
// paths it builds from it and from vintrel.json, and the system's messages. Every call that takes
// a path converts it to UTF-16 and calls the wide-character function, so that any path works
// whatever the ANSI code page, also where the program's manifest cannot make that code page
// UTF-8 (before Windows 10 1903, and under wine).
//
// A path whose full form reaches MAX_PATH is made absolute by GetFullPathNameW (the rules of the
// system: '/' is a separator, "." and ".." are resolved, the working directory is taken) and
// marked "\\?\", which lifts the limit on every Windows. Shorter paths are passed as they stand.

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
// _beginthreadex
#include <process.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/byte_buffer.h"
#include "base/platform.h"
#include "base/platform_faults.h"

namespace {

// INVALID_HANDLE_VALUE is all bits set, the same value as kNoFile.
HANDLE to_handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

// Characters of a path that fit without the heap: MAX_PATH and its NUL.
constexpr uint32_t kInlinePath = MAX_PATH + 1;

// A UTF-8 path as the wide functions take it. get() is null when it could not be made, and
// error() then says why: a text that is not UTF-8 (ERROR_NO_UNICODE_TRANSLATION) or no memory.
class WidePath {
 public:
  explicit WidePath(const char* path) { error_ = Convert(path); }
  WidePath(const WidePath&) = delete;
  WidePath& operator=(const WidePath&) = delete;

  const wchar_t* get() const { return error_ == 0 ? text_ : nullptr; }
  DWORD error() const { return error_; }

 private:
  DWORD Convert(const char* path);
  DWORD MakeLong(const wchar_t* wide, DWORD fullCount);

  wchar_t inline_[kInlinePath];
  TCountedArray<wchar_t> heap_;
  TCountedArray<wchar_t> long_;
  const wchar_t* text_ = nullptr;
  DWORD error_ = 0;
};

DWORD WidePath::Convert(const char* path) {
  const int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
  if (count <= 0) return ERROR_NO_UNICODE_TRANSLATION;
  wchar_t* wide = inline_;
  if (static_cast<uint32_t>(count) > kInlinePath) {
    if (!heap_.allocate(static_cast<uint32_t>(count))) return ERROR_NOT_ENOUGH_MEMORY;
    wide = &heap_[0];
  }
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide, count) != count) {
    return ERROR_NO_UNICODE_TRANSLATION;
  }
  // What counts is the length of the full path that the system makes of it: a short relative
  // path under a deep working directory is long. The size asked for includes the NUL.
  const DWORD fullCount = GetFullPathNameW(wide, 0, nullptr, nullptr);
  if (fullCount == 0 || fullCount <= MAX_PATH) {
    text_ = wide;
    return 0;
  }
  return MakeLong(wide, fullCount);
}

DWORD WidePath::MakeLong(const wchar_t* wide, DWORD fullCount) {
  // Room for the longest prefix, "\\?\UNC\" in place of a UNC path's leading "\\".
  const uint32_t prefix = 8;
  if (fullCount > UINT32_MAX / sizeof(wchar_t) - prefix || !long_.allocate(prefix + fullCount)) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  wchar_t* full = &long_[prefix];
  const DWORD written = GetFullPathNameW(wide, fullCount, full, nullptr);
  if (written == 0 || written >= fullCount) return ERROR_BAD_PATHNAME;
  uint32_t start = 0;
  if (full[0] == L'\\' && full[1] == L'\\') {
    // Already a device path ("\\?\", "\\.\") stays as it is; "\\server\share" becomes
    // "\\?\UNC\server\share", written over the first of its two backslashes.
    if ((full[2] == L'?' || full[2] == L'.') && full[3] == L'\\') {
      start = prefix;
    } else {
      start = prefix - 6;
      wcsncpy(&long_[start], L"\\\\?\\UNC", 7);
    }
  } else {
    start = prefix - 4;
    wcsncpy(&long_[start], L"\\\\?\\", 4);
  }
  text_ = &long_[start];
  return 0;
}

// The count UTF-16 characters of text as UTF-8 into buffer, followed by a NUL; size counts the
// NUL. Returns the bytes written before the NUL: 0 also when the text does not fit. An unpaired
// surrogate becomes U+FFFD.
uint32_t to_utf8(const wchar_t* text, uint32_t count, char* buffer, uint32_t size) {
  if (size == 0) return 0;
  buffer[0] = '\0';
  if (count == 0 || count > INT32_MAX || size > INT32_MAX) return 0;
  const int written = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(count), buffer,
                                          static_cast<int>(size) - 1, nullptr, nullptr);
  if (written <= 0) return 0;
  buffer[written] = '\0';
  return static_cast<uint32_t>(written);
}

// The number of UTF-8 bytes that count UTF-16 characters become, without a NUL.
uint32_t utf8_length(const wchar_t* text, uint32_t count) {
  if (count == 0 || count > INT32_MAX) return 0;
  const int needed =
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(count), nullptr, 0, nullptr, nullptr);
  return needed > 0 ? static_cast<uint32_t>(needed) : 0;
}

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

FileHandle not_opened(DWORD error) {
  fail(error);
  return kNoFile;
}

// A failure injected by a test's fault hook reads as a failing disk.
bool injected_fault(SysCall call) { return sys_fault(call) && !fail(ERROR_IO_DEVICE); }

// The file's present position, for a recording hook.
uint64_t position_of(FileHandle file) {
  LARGE_INTEGER none;
  none.QuadPart = 0;
  LARGE_INTEGER at;
  at.QuadPart = 0;
  SetFilePointerEx(to_handle(file), none, &at, FILE_CURRENT);
  return static_cast<uint64_t>(at.QuadPart);
}

}  // namespace

FileHandle sys_create_file(const char* path, FileAccess access, FileShare share,
                           FileDisposition disposition) {
  if (injected_fault(SysCall::kCreateFile)) return kNoFile;
  const DWORD desired = access == FileAccess::kRead    ? GENERIC_READ
                        : access == FileAccess::kWrite ? GENERIC_WRITE
                                                       : GENERIC_READ | GENERIC_WRITE;
  const DWORD sharing = share == FileShare::kRead ? FILE_SHARE_READ : 0;
  const DWORD creation = disposition == FileDisposition::kOpenExisting   ? OPEN_EXISTING
                         : disposition == FileDisposition::kCreateAlways ? CREATE_ALWAYS
                         : disposition == FileDisposition::kCreateNew    ? CREATE_NEW
                                                                         : OPEN_ALWAYS;
  const WidePath wide(path);
  if (wide.get() == nullptr) return not_opened(wide.error());
  const FileHandle file = opened(
      CreateFileW(wide.get(), desired, sharing, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file != kNoFile && sys_recording() && access != FileAccess::kRead) {
    sys_record(SysChange::kOpen, file, path, nullptr, 0, nullptr, 0,
               disposition == FileDisposition::kCreateAlways);
  }
  return file;
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
  const uint64_t at = sys_recording() ? position_of(file) : 0;
  DWORD transferred = 0;
  const BOOL ok = WriteFile(to_handle(file), buffer, count, &transferred, nullptr);
  if (ok && transferred > 0) {
    sys_record(SysChange::kWrite, file, nullptr, nullptr, at, buffer,
               static_cast<uint32_t>(transferred));
  }
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
  if (!SetEndOfFile(to_handle(file))) return fail();
  if (sys_recording()) sys_record(SysChange::kSetEnd, file, nullptr, nullptr, position_of(file));
  return succeed();
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
  if (!FlushFileBuffers(to_handle(file))) return fail();
  sys_record(SysChange::kFlush, file);
  return succeed();
}

// Windows has no directory flush. NTFS's journal writes the changes of names in the order they
// were made, and every rename is written through, so the names are as durable as a flush would
// make them.
bool sys_flush_directory(const char* path) {
  if (injected_fault(SysCall::kFlushDirectory)) return false;
  sys_record(SysChange::kFlushDirectory, kNoFile, path);
  return succeed();
}

bool sys_directory_flush_exists() { return false; }

// The system's lazy writer already writes changed data in the background.
void sys_start_flush(FileHandle) {}

bool sys_close_handle(FileHandle file) {
  if (file == kNoFile) return fail(ERROR_INVALID_HANDLE);
  sys_record(SysChange::kClose, file);
  return outcome(CloseHandle(to_handle(file)));
}

bool sys_file_exists(const char* path) {
  const WidePath wide(path);
  if (wide.get() == nullptr) return fail(wide.error());
  return GetFileAttributesW(wide.get()) != INVALID_FILE_ATTRIBUTES ? succeed() : fail();
}

bool sys_get_file_write_time(const char* path, uint64_t* time) {
  const WidePath wide(path);
  if (wide.get() == nullptr) return fail(wide.error());
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(wide.get(), GetFileExInfoStandard, &data)) return fail();
  *time = static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 |
          data.ftLastWriteTime.dwLowDateTime;
  return succeed();
}

bool sys_delete_file(const char* path) {
  if (injected_fault(SysCall::kDeleteFile)) return false;
  const WidePath wide(path);
  if (wide.get() == nullptr) return fail(wide.error());
  if (!DeleteFileW(wide.get())) return fail();
  sys_record(SysChange::kDelete, kNoFile, path);
  return succeed();
}

bool sys_is_directory(const char* path) {
  const WidePath wide(path);
  if (wide.get() == nullptr) return fail(wide.error());
  const DWORD attributes = GetFileAttributesW(wide.get());
  if (attributes == INVALID_FILE_ATTRIBUTES) return fail();
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? succeed() : fail(ERROR_DIRECTORY);
}

bool sys_is_link(const char* path) {
  const WidePath wide(path);
  if (wide.get() == nullptr) return fail(wide.error());
  const DWORD attributes = GetFileAttributesW(wide.get());
  if (attributes == INVALID_FILE_ATTRIBUTES) return fail();
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? succeed()
                                                          : fail(ERROR_NOT_A_REPARSE_POINT);
}

bool sys_create_directory(const char* path) {
  const WidePath wide(path);
  if (wide.get() == nullptr) return fail(wide.error());
  return outcome(CreateDirectoryW(wide.get(), nullptr));
}

bool sys_remove_directory(const char* path) {
  const WidePath wide(path);
  if (wide.get() == nullptr) return fail(wide.error());
  return outcome(RemoveDirectoryW(wide.get()));
}

namespace {

// Appends a UTF-16 name and its NUL to names. False when the name is no text or memory runs out.
bool append_name(const wchar_t* name, ByteBuffer& names) {
  const uint32_t count = static_cast<uint32_t>(wcslen(name));
  const uint32_t needed = utf8_length(name, count);
  if (needed == 0 || !reserve_for_append(names, needed + 1)) return false;
  const uint32_t length = names.length();
  if (!names.resize(length + needed + 1)) return false;
  return to_utf8(name, count, reinterpret_cast<char*>(names.data() + length), needed + 1) == needed;
}

// Closes a search handle on every path.
class ScopedFind {
 public:
  explicit ScopedFind(HANDLE find) : find_(find) {}
  ~ScopedFind() {
    if (find_ != INVALID_HANDLE_VALUE) FindClose(find_);
  }
  ScopedFind(const ScopedFind&) = delete;
  ScopedFind& operator=(const ScopedFind&) = delete;

  HANDLE get() const { return find_; }

 private:
  HANDLE find_;
};

}  // namespace

bool sys_list_directory(const char* path, ByteBuffer& names) {
  CStringBufferA pattern;
  if (pattern.Format("%s\\*", path) <= 0) return fail(ERROR_NOT_ENOUGH_MEMORY);
  const WidePath wide(pattern.Data());
  if (wide.get() == nullptr) return fail(wide.error());
  WIN32_FIND_DATAW data;
  const ScopedFind find(
      FindFirstFileExW(wide.get(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0));
  if (find.get() == INVALID_HANDLE_VALUE) {
    // An empty directory still has "." and ".."; no file at all is the root of an empty drive.
    return GetLastError() == ERROR_FILE_NOT_FOUND ? succeed() : fail();
  }
  do {
    const wchar_t* name = data.cFileName;
    if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) continue;
    if (!append_name(name, names)) return fail(ERROR_NOT_ENOUGH_MEMORY);
  } while (FindNextFileW(find.get(), &data));
  const DWORD error = GetLastError();
  return error == ERROR_NO_MORE_FILES ? succeed() : fail(error);
}

bool sys_full_path(const char* path, CStringBufferA& out) {
  out.Assign("");
  const WidePath wide(path);
  if (wide.get() == nullptr) return fail(wide.error());
  const DWORD count = GetFullPathNameW(wide.get(), 0, nullptr, nullptr);
  if (count == 0) return fail();
  TCountedArray<wchar_t> full;
  if (!full.allocate(count)) return fail(ERROR_NOT_ENOUGH_MEMORY);
  const DWORD written = GetFullPathNameW(wide.get(), count, &full[0], nullptr);
  if (written == 0 || written >= count) return fail(ERROR_BAD_PATHNAME);
  // A long path came marked "\\?\" (or "\\?\UNC\" for "\\server"): the mark is for the system.
  const wchar_t* text = &full[0];
  uint32_t length = written;
  if (wcsncmp(text, L"\\\\?\\UNC\\", 8) == 0) {
    full[6] = L'\\';
    text = &full[6];
    length -= 6;
  } else if (wcsncmp(text, L"\\\\?\\", 4) == 0) {
    text += 4;
    length -= 4;
  }
  const uint32_t needed = utf8_length(text, length);
  if (needed == 0 || needed >= INT32_MAX || !out.Reserve(static_cast<int32_t>(needed + 1))) {
    return fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  if (to_utf8(text, length, out.Data(), needed + 1) != needed) {
    out.Assign("");
    return fail(ERROR_NO_UNICODE_TRANSLATION);
  }
  out.SetLength(static_cast<int32_t>(needed));
  return succeed();
}

bool sys_copy_file(const char* existing, const char* target, bool failIfExists) {
  if (injected_fault(SysCall::kCopyFile)) return false;
  const WidePath wideExisting(existing);
  const WidePath wideTarget(target);
  if (wideExisting.get() == nullptr) return fail(wideExisting.error());
  if (wideTarget.get() == nullptr) return fail(wideTarget.error());
  return outcome(CopyFileW(wideExisting.get(), wideTarget.get(), failIfExists ? TRUE : FALSE));
}

namespace {

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
  const WidePath wideExisting(existing);
  const WidePath wideTarget(target);
  if (wideExisting.get() == nullptr) return fail(wideExisting.error());
  if (wideTarget.get() == nullptr) return fail(wideTarget.error());
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  const DWORD start = GetTickCount();
  for (;;) {
    if (MoveFileExW(wideExisting.get(), wideTarget.get(), flags)) {
      sys_record(SysChange::kRename, kNoFile, existing, target);
      return succeed();
    }
    const DWORD error = GetLastError();
    if (!is_transient(error) || GetTickCount() - start >= kRenameRetryMilliseconds) {
      return fail(error);
    }
    Sleep(kRenameRetryPause);
  }
}

namespace {

// Opens a file only to ask about it: no access, every kind of sharing, directories included.
bool file_identity(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
  const WidePath wide(path);
  if (wide.get() == nullptr) return fail(wide.error());
  const DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const HANDLE file = CreateFileW(wide.get(), 0, sharing, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return fail();
  const BOOL ok = GetFileInformationByHandle(file, info);
  if (!ok) fail();
  CloseHandle(file);
  return ok != FALSE;
}

}  // namespace

bool sys_same_file(const char* a, const char* b) {
  BY_HANDLE_FILE_INFORMATION one;
  BY_HANDLE_FILE_INFORMATION other;
  if (!file_identity(a, &one) || !file_identity(b, &other)) return false;
  succeed();
  return one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
         one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
}

FileHandle sys_lock_file(const char* path, bool* busy) {
  *busy = false;
  if (injected_fault(SysCall::kCreateFile)) return kNoFile;
  const WidePath wide(path);
  if (wide.get() == nullptr) return not_opened(wide.error());
  const DWORD flags = FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE;
  const DWORD start = GetTickCount();
  for (;;) {
    const HANDLE lock = CreateFileW(wide.get(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_ALWAYS, flags, nullptr);
    if (lock != INVALID_HANDLE_VALUE) return opened(lock);
    const DWORD error = GetLastError();
    // A lock file whose holder has just closed it is being deleted and refuses opens with access
    // denied for that moment.
    if (error == ERROR_ACCESS_DENIED && GetTickCount() - start < kRenameRetryMilliseconds) {
      Sleep(kRenameRetryPause);
      continue;
    }
    *busy = error == ERROR_SHARING_VIOLATION;
    return not_opened(error);
  }
}

void sys_unlock_file(FileHandle lock, const char*) { sys_close_handle(lock); }

uint32_t sys_get_temp_path(uint32_t size, char* buffer) {
  if (injected_fault(SysCall::kGetTempPath)) return 0;
  // GetTempPathW gives at most MAX_PATH + 1 characters, its NUL included.
  wchar_t wide[MAX_PATH + 2];
  const DWORD count = GetTempPathW(MAX_PATH + 2, wide);
  if (count == 0 || count > MAX_PATH + 1) {
    fail();
    return 0;
  }
  const uint32_t needed = utf8_length(wide, count);
  if (needed == 0) {
    fail(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  succeed();
  // Without a buffer, or with one too small, the call only measures.
  if (buffer == nullptr || size <= needed) return needed + 1;
  return to_utf8(wide, count, buffer, size);
}

bool sys_user_data_path(CStringBufferA& out) {
  out.Assign(nullptr);
  // The size asked for includes the NUL; the value may be longer than MAX_PATH.
  const DWORD size = GetEnvironmentVariableW(L"APPDATA", nullptr, 0);
  if (size <= 1) return fail(ERROR_ENVVAR_NOT_FOUND);
  TCountedArray<wchar_t> wide;
  if (!wide.allocate(size)) return fail(ERROR_NOT_ENOUGH_MEMORY);
  const DWORD count = GetEnvironmentVariableW(L"APPDATA", &wide[0], size);
  if (count == 0 || count >= size) return fail(ERROR_ENVVAR_NOT_FOUND);
  const uint32_t needed = utf8_length(&wide[0], count);
  TCountedArray<char> base;
  if (needed == 0) return fail(ERROR_NO_UNICODE_TRANSLATION);
  if (!base.allocate(needed + 1)) return fail(ERROR_NOT_ENOUGH_MEMORY);
  to_utf8(&wide[0], count, &base[0], needed + 1);
  const char last = base[needed - 1];
  const char* separator = last == '\\' || last == '/' ? "" : "\\";
  if (out.Format("%s%sVintrel", &base[0], separator) <= 0) {
    out.Assign(nullptr);
    return fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  return succeed();
}

uint32_t sys_last_error() { return t_lastError; }

void sys_native_path(const char* path, CStringBufferA& out) { out.Assign(path); }

void sys_error_text(uint32_t code, char* buffer, uint32_t size) {
  if (size == 0) return;
  buffer[0] = '\0';
  wchar_t text[512];
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, 512, nullptr);
  // The system's texts end in a full stop and a line end, which a one-line message does not want.
  while (length > 0 && (text[length - 1] == L'\n' || text[length - 1] == L'\r' ||
                        text[length - 1] == L'.' || text[length - 1] == L' ')) {
    --length;
  }
  char utf8[3 * 512 + 1];
  uint32_t written = to_utf8(text, length, utf8, sizeof utf8);
  if (written == 0) {
    snprintf(buffer, size, "system error %lu", static_cast<unsigned long>(code));
    return;
  }
  // Cut to fit, never inside a character: continuation bytes are 10xxxxxx.
  if (written >= size) {
    written = size - 1;
    while (written > 0 && (static_cast<uint8_t>(utf8[written]) & 0xC0) == 0x80) --written;
  }
  memcpy(buffer, utf8, written);
  buffer[written] = '\0';
}

namespace {

// The arguments in UTF-8, for the life of the process.
TCountedArray<char*> g_arguments;
TCountedArray<char> g_argumentText;

UINT g_savedConsoleOutput = 0;
void restore_console_output() { SetConsoleOutputCP(g_savedConsoleOutput); }

}  // namespace

void sys_start_program(int* argc, char*** argv) {
  // The console shows the program's UTF-8 output as such while the program runs; the code page
  // it had is put back at the end, for the programs that run after it in the same console.
  const UINT consoleOutput = GetConsoleOutputCP();
  if (consoleOutput != 0 && consoleOutput != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
    g_savedConsoleOutput = consoleOutput;
    atexit(restore_console_output);
  }

  // The narrow arguments that the C runtime made have already lost what the ANSI code page
  // cannot hold; the wide command line still has it. They stay when it cannot be converted.
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return;
  uint32_t total = 0;
  bool convertible = count > 0;
  for (int i = 0; i < count && convertible; ++i) {
    const uint32_t characters = static_cast<uint32_t>(wcslen(wide[i]));
    const uint32_t length = utf8_length(wide[i], characters);
    convertible = (length > 0 || characters == 0) && length < UINT32_MAX / 2 - total;
    total += length + 1;
  }
  if (convertible && g_arguments.allocate(static_cast<uint32_t>(count) + 1) &&
      g_argumentText.allocate(total)) {
    uint32_t at = 0;
    for (int i = 0; i < count; ++i) {
      char* text = &g_argumentText[at];
      at += to_utf8(wide[i], static_cast<uint32_t>(wcslen(wide[i])), text, total - at) + 1;
      g_arguments[static_cast<uint32_t>(i)] = text;
    }
    g_arguments[static_cast<uint32_t>(count)] = nullptr;
    *argc = count;
    *argv = &g_arguments[0];
  }
  LocalFree(wide);
}

static_assert(sizeof(SRWLOCK) <= 64, "SysLock storage");
static_assert(sizeof(CONDITION_VARIABLE) <= 64, "SysCondition storage");
static_assert(sizeof(HANDLE) <= 16, "SysThread storage");

namespace {

SRWLOCK* lock_of(unsigned char* storage) { return reinterpret_cast<SRWLOCK*>(storage); }
CONDITION_VARIABLE* condition_of(unsigned char* storage) {
  return reinterpret_cast<CONDITION_VARIABLE*>(storage);
}
HANDLE* handle_of(SysThread* thread) { return reinterpret_cast<HANDLE*>(thread->storage_); }

// _beginthreadex rather than CreateThread: the C runtime then sets up its data for the thread.
unsigned __stdcall run_thread(void* argument) {
  SysThread* thread = static_cast<SysThread*>(argument);
  thread->entry(thread->argument);
  return 0;
}

}  // namespace

SysLock::SysLock() { InitializeSRWLock(lock_of(storage_)); }
SysLock::~SysLock() {}
void SysLock::Acquire() { AcquireSRWLockExclusive(lock_of(storage_)); }
void SysLock::Release() { ReleaseSRWLockExclusive(lock_of(storage_)); }

SysCondition::SysCondition() { InitializeConditionVariable(condition_of(storage_)); }
SysCondition::~SysCondition() {}
void SysCondition::Wait(SysLock& lock) {
  SleepConditionVariableSRW(condition_of(storage_), lock_of(lock.storage_), INFINITE, 0);
}
void SysCondition::WakeAll() { WakeAllConditionVariable(condition_of(storage_)); }

bool sys_create_thread(SysThread* thread, ThreadEntry entry, void* argument) {
  thread->entry = entry;
  thread->argument = argument;
  const uintptr_t handle = _beginthreadex(nullptr, 0, run_thread, thread, 0, nullptr);
  *handle_of(thread) = reinterpret_cast<HANDLE>(handle);
  return handle != 0;
}

void sys_join_thread(SysThread* thread) {
  WaitForSingleObject(*handle_of(thread), INFINITE);
  CloseHandle(*handle_of(thread));
}

uint32_t sys_processor_count() {
  // Every processor group counts; GetSystemInfo would see only the process's own group.
  const DWORD count = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  return count > 0 ? static_cast<uint32_t>(count) : 1;
}

uint32_t sys_process_id() { return static_cast<uint32_t>(GetCurrentProcessId()); }

uint32_t sys_current_thread_id() { return static_cast<uint32_t>(GetCurrentThreadId()); }

void sys_sleep(uint32_t milliseconds) { Sleep(milliseconds); }

bool sys_stderr_is_terminal() {
  // A console handle has a console mode; a pipe or a file (or a terminal emulator that is a
  // pipe underneath) has none.
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}
