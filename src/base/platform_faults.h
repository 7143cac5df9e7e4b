#ifndef VINTREL_BASE_PLATFORM_FAULTS_H_
#define VINTREL_BASE_PLATFORM_FAULTS_H_

#include <cstdint>

// A test hook in the platform seam. When a hook is installed, every file call of the seam asks it
// first and, when it answers true, fails at once as the system call would have failed, before
// touching the file system. The program never installs one; tests use it to make each write, open
// or rename of a run fail in turn.
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
};

typedef bool (*SysFaultHook)(SysCall call);

extern SysFaultHook g_sysFaultHook;

// True when the installed hook asks this call to fail.
inline bool sys_fault(SysCall call) { return g_sysFaultHook != nullptr && g_sysFaultHook(call); }

#endif  // VINTREL_BASE_PLATFORM_FAULTS_H_
