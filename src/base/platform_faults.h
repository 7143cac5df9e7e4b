#ifndef VINTREL_BASE_PLATFORM_FAULTS_H_
#define VINTREL_BASE_PLATFORM_FAULTS_H_

#include <cstdint>

#include "base/platform.h"

// Two test hooks in the platform seam. The program never installs either.
//
// The fault hook: when it is installed, every file call of the seam asks it first and, when it
// answers true, fails at once as the system call would have failed, before touching the file
// system. Tests use it to make each write, open or rename of a run fail in turn.
enum class SysCall : uint8_t {
  kCreateFile,
  kReadFile,
  kWriteFile,
  kSetFilePointer,
  kSetEndOfFile,
  kGetFileSize,
  kFlushFile,
  kCloseHandle,
  kDeleteFile,
  kCopyFile,
  kMoveFile,
  kGetTempPath,
  kFlushDirectory,
};

typedef bool (*SysFaultHook)(SysCall call);

extern SysFaultHook g_sysFaultHook;

// True when the installed hook asks this call to fail.
inline bool sys_fault(SysCall call) { return g_sysFaultHook != nullptr && g_sysFaultHook(call); }

// The recording hook: every call of the seam that changes a file or a directory tells it, after
// the system has done it, what it changed, with what a test needs to build the states a crash
// could leave on the disk. Calls on a handle name the handle only; a recorder keeps which path
// each handle was opened by (kOpen). Reads, the lock file (sys_lock_file) and sys_copy_file,
// which nothing that must survive a crash uses, are not told.
enum class SysChange : uint8_t {
  kOpen,            // file was opened for writing by path; truncated: an existing file was emptied
  kWrite,           // count bytes at offset of file
  kSetEnd,          // file now ends at offset
  kFlush,           // file's data and size are on the disk
  kClose,           // file was closed
  kRename,          // path now has the name target, replacing any file of that name
  kDelete,          // path was removed
  kFlushDirectory,  // the names created, renamed and removed in directory path are on the disk
};

struct SysChangeEvent {
  SysChange change;
  FileHandle file = kNoFile;
  const char* path = nullptr;
  const char* target = nullptr;
  uint64_t offset = 0;
  const void* bytes = nullptr;
  uint32_t count = 0;
  bool truncated = false;
};

typedef void (*SysRecordHook)(const SysChangeEvent& event);

extern SysRecordHook g_sysRecordHook;

inline bool sys_recording() { return g_sysRecordHook != nullptr; }
// Tells the installed hook, if any, what a call changed; the fields that the change does not use
// are left out.
void sys_record(SysChange change, FileHandle file, const char* path = nullptr,
                const char* target = nullptr, uint64_t offset = 0, const void* bytes = nullptr,
                uint32_t count = 0, bool truncated = false);

#endif  // VINTREL_BASE_PLATFORM_FAULTS_H_
