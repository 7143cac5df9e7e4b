#ifndef VINTREL_BASE_PLATFORM_H_
#define VINTREL_BASE_PLATFORM_H_

#include <cstdint>

#include "base/byte_buffer.h"
#include "base/string_buffer.h"

// The one seam between the tool and the operating system. Two backends implement it, chosen at
// build time: platform_win32.cc (the Win32 calls named beside each function) and
// platform_posix.cc. The POSIX backend turns every backslash of a path into '/' right before the
// system call, so that the program's paths work unchanged on both.
//
// Paths and texts are UTF-8. The Win32 backend converts each path to UTF-16 and calls the
// wide-character function named after the narrow one given here (CreateFileA: CreateFileW), so
// that any path works whatever the system's ANSI code page; a path that is not UTF-8 fails there
// with ERROR_NO_UNICODE_TRANSLATION.

// The system's file handle: a Win32 HANDLE or a POSIX file descriptor. -1 means no file is open.
typedef intptr_t FileHandle;
constexpr FileHandle kNoFile = -1;

enum class FileAccess { kRead, kWrite, kReadWrite };
// kRead: other openers may read while the file is open; kNone: no other opener at all.
enum class FileShare { kNone, kRead };
// kOpenExisting fails on a missing file; kCreateAlways truncates or creates; kOpenAlways opens
// or creates; kCreateNew creates and fails when anything is at the path already, a symbolic link
// too (which it never follows).
enum class FileDisposition { kOpenExisting, kCreateAlways, kOpenAlways, kCreateNew };
enum class SeekOrigin { kBegin, kCurrent, kEnd };

// CreateFileA. The POSIX backend keeps the sharing rules with open file description locks: a
// shared-read open takes a read lock, any other a write lock, and an open whose lock conflicts
// fails; truncation happens only after the lock is held. A lock binds only openers that lock
// too, and a write lock needs write access, so a read-only open there always admits other
// readers. Opening a directory fails as on Win32. Returns kNoFile on failure.
FileHandle sys_create_file(const char* path, FileAccess access, FileShare share,
                           FileDisposition disposition);
// ReadFile / WriteFile: *done receives the count transferred (0 on failure). A read is one request,
// resumed only after an interruption, and succeeds with 0 at the end of the file. A write
// transfers everything or fails.
bool sys_read_file(FileHandle file, void* buffer, uint32_t count, uint32_t* done);
bool sys_write_file(FileHandle file, const void* buffer, uint32_t count, uint32_t* done);
// ReadFile with an OVERLAPPED offset / pread: like sys_read_file, from offset bytes into the file
// instead of the current position, in one request. The current position afterwards is not
// defined (Win32 moves it past the bytes read, POSIX leaves it). Offsets above INT64_MAX fail.
bool sys_read_file_at(FileHandle file, uint64_t offset, void* buffer, uint32_t count,
                      uint32_t* done);
// SetFilePointerEx. Moving past the end is allowed; a later write or end-of-file fills the gap
// with zero bytes.
bool sys_set_file_pointer(FileHandle file, int64_t distance, SeekOrigin origin,
                          uint64_t* newPosition);
// SetEndOfFile: the file ends at the current position (shrinking or zero-extending it).
bool sys_set_end_of_file(FileHandle file);
// GetFileSize: the full 64-bit size.
bool sys_get_file_size(FileHandle file, uint64_t* size);
// FlushFileBuffers / fsync.
bool sys_flush_file(FileHandle file);
// fsync of the directory path (a trailing separator is allowed): makes the names created, renamed
// and deleted in it so far durable. Windows has no such call: the Win32 backend only checks the
// fault hook and succeeds, since NTFS's journal keeps the order of those changes and every rename
// there is written through (sys_move_file).
bool sys_flush_directory(const char* path);
// Whether sys_flush_directory does anything on this system (POSIX) or succeeds without (Win32).
bool sys_directory_flush_exists();
// sync_file_range(SYNC_FILE_RANGE_WRITE) on Linux: starts writing the file's changed data to the
// disk without waiting for it, so that a later sys_flush_file has less left to wait for. Where
// the system has no such request (Win32, other POSIX systems) it does nothing. Only a hint: its
// failure changes nothing for the caller, and it reports none.
void sys_start_flush(FileHandle file);
// CloseHandle.
bool sys_close_handle(FileHandle file);
// GetFileAttributesA: whether anything exists at the path.
bool sys_file_exists(const char* path);
// GetFileAttributesExA's ftLastWriteTime / stat's st_mtim: when the file at path was last
// written, as a count in the system's own unit (100 ns since 1601; ns since 1970), only for
// comparing two files' times. False when nothing is there.
bool sys_get_file_write_time(const char* path, uint64_t* time);
// DeleteFileA.
bool sys_delete_file(const char* path);
// GetFileAttributesA with FILE_ATTRIBUTE_DIRECTORY / stat: whether path is a directory. False
// also when nothing is there (sys_last_error then says why).
bool sys_is_directory(const char* path);
// GetFileAttributesA with FILE_ATTRIBUTE_REPARSE_POINT / lstat: whether path is itself a symbolic
// link, a junction or another reparse point, rather than where it leads. False also when nothing
// is there.
bool sys_is_link(const char* path);
// CreateDirectoryA / mkdir: creates one directory, whose parent must exist. Fails when anything is
// there already.
bool sys_create_directory(const char* path);
// RemoveDirectoryA / rmdir: removes an empty directory.
bool sys_remove_directory(const char* path);
// FindFirstFileA and FindNextFileA / opendir and readdir: appends to names the name of every
// entry of the directory but "." and "..", each followed by a NUL, in the system's order. False,
// with names holding what was appended so far, when the directory cannot be read or the buffer
// cannot grow.
bool sys_list_directory(const char* path, ByteBuffer& names);
// GetFullPathNameA / realpath: the absolute form of an existing path, into out: Win32 resolves
// "." and ".." by the text and takes the working directory (and drive) of the process; POSIX
// also follows symbolic links. A long Win32 path comes without the "\\?\" mark. False, with out
// empty, when the path does not exist (POSIX) or cannot be made absolute.
bool sys_full_path(const char* path, CStringBufferA& out);
// CopyFileA: copies existing to target, replacing target unless failIfExists. Fails, leaving
// the target as it was, when both name the same file or either is in use by an exclusive opener;
// a copy that fails part way removes the target rather than leave it incomplete.
bool sys_copy_file(const char* existing, const char* target, bool failIfExists);
// MoveFileExA with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH / rename: replaces
// target. Both names must lie on one volume. On Windows a rename refused with a sharing violation
// or access denied is tried again for about two seconds: virus scanners and indexers open files
// that were just closed. On POSIX the new name is durable only after sys_flush_directory.
bool sys_move_file(const char* existing, const char* target);
// Whether both paths lead to one existing file, by the file's identity (volume serial number and
// file index on Windows, device and inode on POSIX) rather than by spelling: case, 8.3 aliases
// and links all count. False when either does not exist.
bool sys_same_file(const char* a, const char* b);
// Creates path if needed and holds it open with no sharing, as a lock that admits one holder at
// a time. kNoFile, with *busy true, when another holder has it; kNoFile with *busy false when it
// cannot be created. The lock ends with its holder even when the process is killed: the Win32
// backend opens the file delete-on-close; the POSIX one holds an open file description lock,
// which the system drops with the process.
FileHandle sys_lock_file(const char* path, bool* busy);
// Gives the lock up and removes its file (on POSIX while still holding it, so that no one locks
// the removed file afterwards).
void sys_unlock_file(FileHandle lock, const char* path);
// GetTempPathA: writes the temporary directory, ending in a separator, and returns its length;
// when size is too small (or buffer is null), writes nothing and returns the size needed (NUL
// included); 0 on failure. POSIX: TMPDIR when set and non-empty, else /tmp/, with a '/' added
// when it lacks one.
uint32_t sys_get_temp_path(uint32_t size, char* buffer);
// The folder in which the program keeps the user's own data, without a final separator; it need
// not exist. Win32: "%APPDATA%\Vintrel" (GetEnvironmentVariableW of APPDATA). POSIX:
// "$XDG_DATA_HOME/vintrel", where an unset, empty or relative XDG_DATA_HOME stands for
// "$HOME/.local/share", as freedesktop.org's base directory convention has it. False, with out
// empty, when the environment names no such folder (no APPDATA; no HOME) or out cannot grow.
bool sys_user_data_path(CStringBufferA& out);
// The system's error code (errno, GetLastError) of this thread's most recent call of a file
// function above that failed; 0 when that call succeeded. A failure injected by a test's fault
// hook reads as a device I/O error.
uint32_t sys_last_error();
// The system's own text for an error code (strerror, FormatMessageA), on one line without a final
// full stop, cut to fit size bytes with its NUL.
void sys_error_text(uint32_t code, char* buffer, uint32_t size);
// The path as the system sees it, for messages: the POSIX backend turns each backslash into '/',
// the Win32 backend keeps it as it is. out is empty when it cannot grow.
void sys_native_path(const char* path, CStringBufferA& out);
// GetCommandLineW: replaces *argc and *argv by the program's arguments in UTF-8, and has the
// console show UTF-8 output as such while the program runs (SetConsoleOutputCP, put back at exit).
// Each program's main calls it first. The POSIX backend leaves the arguments as the system gave
// them.
void sys_start_program(int* argc, char*** argv);
// Threads. Every object that threads share is guarded by a SysLock; a thread waits for a change
// of such an object on a SysCondition. Both hold the backend's own object (SRWLOCK and
// CONDITION_VARIABLE, pthread_mutex_t and pthread_cond_t) in storage of their own, so that this
// header needs no system header.
class SysLock {
 public:
  SysLock();
  ~SysLock();
  SysLock(const SysLock&) = delete;
  SysLock& operator=(const SysLock&) = delete;

  // AcquireSRWLockExclusive / pthread_mutex_lock. Not recursive.
  void Acquire();
  void Release();

 private:
  friend class SysCondition;
  alignas(8) unsigned char storage_[64];
};

// Holds a SysLock for its own lifetime.
class SysLockHeld {
 public:
  explicit SysLockHeld(SysLock& lock) : lock_(lock) { lock_.Acquire(); }
  ~SysLockHeld() { lock_.Release(); }
  SysLockHeld(const SysLockHeld&) = delete;
  SysLockHeld& operator=(const SysLockHeld&) = delete;

 private:
  SysLock& lock_;
};

class SysCondition {
 public:
  SysCondition();
  ~SysCondition();
  SysCondition(const SysCondition&) = delete;
  SysCondition& operator=(const SysCondition&) = delete;

  // SleepConditionVariableSRW / pthread_cond_wait: releases lock, which the caller holds, until
  // woken, then takes it again. May return without a wake: callers test their condition in a
  // loop.
  void Wait(SysLock& lock);
  // WakeAllConditionVariable / pthread_cond_broadcast.
  void WakeAll();

 private:
  alignas(8) unsigned char storage_[64];
};

typedef void (*ThreadEntry)(void* argument);

// A thread started by sys_create_thread, until sys_join_thread.
struct SysThread {
  ThreadEntry entry = nullptr;
  void* argument = nullptr;
  alignas(8) unsigned char storage_[16];
};

// _beginthreadex / pthread_create: runs entry(argument) on a new thread. thread must stay where
// it is until joined. False when the system cannot start a thread.
bool sys_create_thread(SysThread* thread, ThreadEntry entry, void* argument);
// WaitForSingleObject and CloseHandle / pthread_join: waits for the thread to end.
void sys_join_thread(SysThread* thread);
// GetActiveProcessorCount / sched_getaffinity: the processors this process may run on; at least
// 1.
uint32_t sys_processor_count();
// GetCurrentProcessId / getpid.
uint32_t sys_process_id();
// GetCurrentThreadId: never 0.
uint32_t sys_current_thread_id();
// Sleep.
void sys_sleep(uint32_t milliseconds);
// isatty / GetConsoleMode: whether standard error is a terminal or console, on which a line can be
// redrawn in place.
bool sys_stderr_is_terminal();

#endif  // VINTREL_BASE_PLATFORM_H_
