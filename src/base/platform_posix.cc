// The POSIX backend of the platform seam. Windows' sharing modes become open file description
// locks, and the program's backslash paths become '/' paths right before each system call.

#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "base/alloc_hooks.h"
#include "base/platform.h"
#include "base/platform_faults.h"

static_assert(sizeof(off_t) >= 8, "file positions must be 64-bit");

namespace {

// A copy of a program path with every backslash turned into '/'. Short paths stay on the stack;
// longer ones come from the allocation hooks, so no path is ever cut short. ok() is false when
// the path is null or the heap cannot hold the copy.
class PosixPath {
 public:
  explicit PosixPath(const char* path) {
    if (path == nullptr) return;
    const size_t length = strlen(path);
    if (length >= UINT32_MAX) return;
    char* target = local_;
    if (length >= sizeof(local_)) {
      heap_ = static_cast<char*>(AllocHooks.allocHook(static_cast<uint32_t>(length) + 1));
      if (heap_ == nullptr) return;
      target = heap_;
    }
    for (size_t i = 0; i < length; ++i) target[i] = path[i] == '\\' ? '/' : path[i];
    target[length] = '\0';
    path_ = target;
  }
  ~PosixPath() {
    if (heap_ != nullptr) AllocHooks.freeHook(heap_);
  }
  PosixPath(const PosixPath&) = delete;
  PosixPath& operator=(const PosixPath&) = delete;

  bool ok() const { return path_ != nullptr; }
  const char* c_str() const { return path_; }

 private:
  char local_[512];
  char* heap_ = nullptr;
  const char* path_ = nullptr;
};

// Owns a descriptor of this file's helpers until release().
class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;

  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

int open_retrying(const char* path, int flags) {
  int fd;
  do {
    fd = open(path, flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Takes a whole-file lock that belongs to the open file description, so that two opens in the
// same process exclude each other as two Win32 handles would. Never waits.
bool lock_whole_file(int fd, bool shared) {
#ifdef F_OFD_SETLK
  struct flock lock;
  memset(&lock, 0, sizeof(lock));
  lock.l_type = shared ? F_RDLCK : F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;  // to the end of the file, however far it grows
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
#else
  // flock locks also belong to the open file description.
  return flock(fd, (shared ? LOCK_SH : LOCK_EX) | LOCK_NB) == 0;
#endif
}

bool is_regular(int fd, struct stat* info) {
  return fstat(fd, info) == 0 && S_ISREG(info->st_mode);
}

// Writes all of count bytes, resuming after partial writes and interruptions.
bool write_fully(int fd, const uint8_t* data, size_t count) {
  while (count > 0) {
    ssize_t written = write(fd, data, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    count -= static_cast<size_t>(written);
  }
  return true;
}

// Owns a block from the allocation hooks.
class HookBlock {
 public:
  explicit HookBlock(uint32_t size) : data_(static_cast<uint8_t*>(AllocHooks.allocHook(size))) {}
  ~HookBlock() {
    if (data_ != nullptr) AllocHooks.freeHook(data_);
  }
  HookBlock(const HookBlock&) = delete;
  HookBlock& operator=(const HookBlock&) = delete;

  uint8_t* get() const { return data_; }

 private:
  uint8_t* data_;
};

constexpr uint32_t kCopyPiece = 1u << 20;

// Copies from the start of source to target's current position until the end of source.
bool copy_contents(int source, int target) {
  HookBlock block(kCopyPiece);
  if (block.get() == nullptr) return false;
  for (;;) {
    ssize_t got = read(source, block.get(), kCopyPiece);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (!write_fully(target, block.get(), static_cast<size_t>(got))) return false;
  }
}

int to_fd(FileHandle file) { return file < 0 || file > INT32_MAX ? -1 : static_cast<int>(file); }

// The error code of this thread's most recent call of the seam; 0 after one that succeeded.
thread_local uint32_t t_lastError = 0;

bool succeed() {
  t_lastError = 0;
  return true;
}

// Records error (errno by default) as the outcome of the present call. A failure that the system
// did not explain still reads as an I/O error.
bool fail(int error = errno) {
  t_lastError = error > 0 ? static_cast<uint32_t>(error) : static_cast<uint32_t>(EIO);
  return false;
}

FileHandle fail_open(int error = errno) {
  fail(error);
  return kNoFile;
}

// A failure injected by a test's fault hook reads as a failing disk.
bool injected_fault(SysCall call) { return sys_fault(call) && !fail(EIO); }

}  // namespace

FileHandle sys_create_file(const char* path, FileAccess access, FileShare share,
                           FileDisposition disposition) {
  if (injected_fault(SysCall::kCreateFile)) return kNoFile;
  PosixPath local(path);
  if (!local.ok()) return fail_open(ENOMEM);
  int flags = access == FileAccess::kRead    ? O_RDONLY
              : access == FileAccess::kWrite ? O_WRONLY
                                             : O_RDWR;
  // Never O_TRUNC: another opener's lock has to be checked before any byte is lost.
  if (disposition != FileDisposition::kOpenExisting) flags |= O_CREAT;
  // O_EXCL fails on anything at the path, a symbolic link included, which it does not follow.
  if (disposition == FileDisposition::kCreateNew) flags |= O_EXCL;
  ScopedFd fd(open_retrying(local.c_str(), flags));
  if (fd.get() < 0) return fail_open();
  // A Win32 file handle never refers to a directory or a device.
  struct stat info;
  if (fstat(fd.get(), &info) != 0) return fail_open();
  if (!S_ISREG(info.st_mode)) return fail_open(S_ISDIR(info.st_mode) ? EISDIR : EACCES);
  // A write lock needs a descriptor open for writing, so a read-only open always shares with
  // other readers; every mode of the program that excludes others also writes.
  const bool shared = share == FileShare::kRead || access == FileAccess::kRead;
  if (!lock_whole_file(fd.get(), shared)) return fail_open();
  if (disposition == FileDisposition::kCreateAlways && ftruncate(fd.get(), 0) != 0) {
    return fail_open();
  }
  succeed();
  if (sys_recording() && access != FileAccess::kRead) {
    sys_record(SysChange::kOpen, fd.get(), path, nullptr, 0, nullptr, 0,
               disposition == FileDisposition::kCreateAlways);
  }
  return fd.release();
}

bool sys_read_file(FileHandle file, void* buffer, uint32_t count, uint32_t* done) {
  *done = 0;
  if (injected_fault(SysCall::kReadFile)) return false;
  const int fd = to_fd(file);
  if (fd < 0) return fail(EBADF);
  ssize_t got;
  do {
    got = read(fd, buffer, count);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return fail();
  *done = static_cast<uint32_t>(got);
  return succeed();
}

bool sys_read_file_at(FileHandle file, uint64_t offset, void* buffer, uint32_t count,
                      uint32_t* done) {
  *done = 0;
  if (injected_fault(SysCall::kReadFile)) return false;
  const int fd = to_fd(file);
  if (fd < 0) return fail(EBADF);
  if (offset > static_cast<uint64_t>(INT64_MAX)) return fail(EINVAL);
  ssize_t got;
  do {
    got = pread(fd, buffer, count, static_cast<off_t>(offset));
  } while (got < 0 && errno == EINTR);
  if (got < 0) return fail();
  *done = static_cast<uint32_t>(got);
  return succeed();
}

bool sys_write_file(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) {
  *done = 0;
  if (injected_fault(SysCall::kWriteFile)) return false;
  const int fd = to_fd(file);
  if (fd < 0) return fail(EBADF);
  // As WriteFile on a file, the call writes everything or fails: a partial write is resumed, so
  // that a full disk reports itself instead of showing only as a short count.
  const uint8_t* data = static_cast<const uint8_t*>(buffer);
  const off_t at = sys_recording() ? lseek(fd, 0, SEEK_CUR) : 0;
  int error = 0;
  while (*done < count && error == 0) {
    const ssize_t put = write(fd, data + *done, count - *done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      error = put < 0 ? errno : ENOSPC;
      break;
    }
    *done += static_cast<uint32_t>(put);
  }
  if (*done > 0)
    sys_record(SysChange::kWrite, file, nullptr, nullptr, static_cast<uint64_t>(at), data, *done);
  return error == 0 ? succeed() : fail(error);
}

bool sys_set_file_pointer(FileHandle file, int64_t distance, SeekOrigin origin,
                          uint64_t* newPosition) {
  if (injected_fault(SysCall::kSetFilePointer)) return false;
  const int fd = to_fd(file);
  if (fd < 0) return fail(EBADF);
  const int whence = origin == SeekOrigin::kBegin     ? SEEK_SET
                     : origin == SeekOrigin::kCurrent ? SEEK_CUR
                                                      : SEEK_END;
  const off_t position = lseek(fd, static_cast<off_t>(distance), whence);
  if (position < 0) return fail();
  if (newPosition != nullptr) *newPosition = static_cast<uint64_t>(position);
  return succeed();
}

bool sys_set_end_of_file(FileHandle file) {
  if (injected_fault(SysCall::kSetEndOfFile)) return false;
  const int fd = to_fd(file);
  if (fd < 0) return fail(EBADF);
  const off_t position = lseek(fd, 0, SEEK_CUR);
  if (position < 0) return fail();
  int result;
  do {
    result = ftruncate(fd, position);
  } while (result != 0 && errno == EINTR);
  if (result != 0) return fail();
  sys_record(SysChange::kSetEnd, file, nullptr, nullptr, static_cast<uint64_t>(position));
  return succeed();
}

bool sys_get_file_size(FileHandle file, uint64_t* size) {
  if (injected_fault(SysCall::kGetFileSize)) return false;
  const int fd = to_fd(file);
  struct stat info;
  if (fd < 0) return fail(EBADF);
  if (fstat(fd, &info) != 0) return fail();
  if (info.st_size < 0) return fail(EOVERFLOW);
  *size = static_cast<uint64_t>(info.st_size);
  return succeed();
}

bool sys_flush_file(FileHandle file) {
  if (injected_fault(SysCall::kFlushFile)) return false;
  const int fd = to_fd(file);
  if (fd < 0) return fail(EBADF);
  if (fsync(fd) != 0) return fail();
  sys_record(SysChange::kFlush, file);
  return succeed();
}

bool sys_flush_directory(const char* path) {
  if (injected_fault(SysCall::kFlushDirectory)) return false;
  PosixPath local(path);
  if (!local.ok()) return fail(ENOMEM);
  ScopedFd directory(open_retrying(local.c_str(), O_RDONLY | O_DIRECTORY));
  if (directory.get() < 0 || fsync(directory.get()) != 0) return fail();
  sys_record(SysChange::kFlushDirectory, kNoFile, path);
  return succeed();
}

bool sys_directory_flush_exists() { return true; }

void sys_start_flush(FileHandle file) {
#ifdef SYNC_FILE_RANGE_WRITE
  const int fd = to_fd(file);
  if (fd >= 0) sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#else
  (void)file;
#endif
}

bool sys_close_handle(FileHandle file) {
  const int fd = to_fd(file);
  if (fd < 0) return fail(EBADF);
  sys_record(SysChange::kClose, file);
  // Linux releases the descriptor even when close is interrupted, so it is never retried.
  return close(fd) == 0 ? succeed() : fail();
}

bool sys_file_exists(const char* path) {
  PosixPath local(path);
  struct stat info;
  if (!local.ok()) return fail(ENOMEM);
  return stat(local.c_str(), &info) == 0 ? succeed() : fail();
}

bool sys_get_file_write_time(const char* path, uint64_t* time) {
  PosixPath local(path);
  struct stat info;
  if (!local.ok()) return fail(ENOMEM);
  if (stat(local.c_str(), &info) != 0) return fail();
  *time = static_cast<uint64_t>(info.st_mtim.tv_sec) * 1000000000u +
          static_cast<uint64_t>(info.st_mtim.tv_nsec);
  return succeed();
}

bool sys_delete_file(const char* path) {
  if (injected_fault(SysCall::kDeleteFile)) return false;
  PosixPath local(path);
  if (!local.ok()) return fail(ENOMEM);
  if (unlink(local.c_str()) != 0) return fail();
  sys_record(SysChange::kDelete, kNoFile, path);
  return succeed();
}

bool sys_is_directory(const char* path) {
  PosixPath local(path);
  struct stat info;
  if (!local.ok()) return fail(ENOMEM);
  if (stat(local.c_str(), &info) != 0) return fail();
  return S_ISDIR(info.st_mode) ? succeed() : fail(ENOTDIR);
}

bool sys_is_link(const char* path) {
  PosixPath local(path);
  struct stat info;
  if (!local.ok()) return fail(ENOMEM);
  if (lstat(local.c_str(), &info) != 0) return fail();
  return S_ISLNK(info.st_mode) ? succeed() : fail(EINVAL);
}

bool sys_create_directory(const char* path) {
  PosixPath local(path);
  if (!local.ok()) return fail(ENOMEM);
  return mkdir(local.c_str(), 0777) == 0 ? succeed() : fail();
}

bool sys_remove_directory(const char* path) {
  PosixPath local(path);
  if (!local.ok()) return fail(ENOMEM);
  return rmdir(local.c_str()) == 0 ? succeed() : fail();
}

bool sys_list_directory(const char* path, ByteBuffer& names) {
  PosixPath local(path);
  if (!local.ok()) return fail(ENOMEM);
  DIR* dir = opendir(local.c_str());
  if (dir == nullptr) return fail();
  ByteWriter writer(names);
  bool ok = true;
  int error = 0;
  for (;;) {
    errno = 0;
    const struct dirent* entry = readdir(dir);
    if (entry == nullptr) {
      error = errno;
      ok = error == 0;
      break;
    }
    const char* name = entry->d_name;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    const size_t length = strlen(name) + 1;
    if (!writer.write_bytes(name, static_cast<uint32_t>(length))) {
      ok = false;
      error = ENOMEM;
      break;
    }
  }
  closedir(dir);
  return ok ? succeed() : fail(error);
}

bool sys_full_path(const char* path, CStringBufferA& out) {
  out.Assign("");
  PosixPath local(path);
  if (!local.ok()) return fail(ENOMEM);
  char* full = realpath(local.c_str(), nullptr);
  if (full == nullptr) return fail();
  const bool stored = out.Assign(full) != nullptr;
  free(full);
  return stored ? succeed() : fail(ENOMEM);
}

bool sys_copy_file(const char* existing, const char* target, bool failIfExists) {
  if (injected_fault(SysCall::kCopyFile)) return false;
  PosixPath from(existing);
  PosixPath to(target);
  if (!from.ok() || !to.ok()) return fail(ENOMEM);
  ScopedFd source(open_retrying(from.c_str(), O_RDONLY));
  if (source.get() < 0) return fail();
  struct stat sourceInfo;
  if (!is_regular(source.get(), &sourceInfo)) return fail(EACCES);
  if (!lock_whole_file(source.get(), true)) return fail();

  // The target is emptied only once it is known not to be the source and not to be in use.
  ScopedFd copy(open_retrying(to.c_str(), O_WRONLY | O_CREAT | (failIfExists ? O_EXCL : 0)));
  if (copy.get() < 0) return fail();
  struct stat targetInfo;
  if (!is_regular(copy.get(), &targetInfo)) return fail(EACCES);
  if (targetInfo.st_dev == sourceInfo.st_dev && targetInfo.st_ino == sourceInfo.st_ino) {
    return fail(EINVAL);
  }
  if (!lock_whole_file(copy.get(), false)) return fail();
  if (ftruncate(copy.get(), 0) != 0 || !copy_contents(source.get(), copy.get())) {
    const int error = errno;
    // A partial copy must not pass for the real thing later.
    unlink(to.c_str());
    return fail(error);
  }
  if (close(copy.release()) != 0) {
    const int error = errno;
    unlink(to.c_str());
    return fail(error);
  }
  return succeed();
}

bool sys_move_file(const char* existing, const char* target) {
  if (injected_fault(SysCall::kMoveFile)) return false;
  PosixPath from(existing);
  PosixPath to(target);
  if (!from.ok() || !to.ok()) return fail(ENOMEM);
  if (rename(from.c_str(), to.c_str()) != 0) return fail();
  sys_record(SysChange::kRename, kNoFile, existing, target);
  return succeed();
}

bool sys_same_file(const char* a, const char* b) {
  PosixPath first(a);
  PosixPath second(b);
  if (!first.ok() || !second.ok()) return fail(ENOMEM);
  struct stat one;
  struct stat other;
  if (stat(first.c_str(), &one) != 0 || stat(second.c_str(), &other) != 0) return fail();
  succeed();
  return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

FileHandle sys_lock_file(const char* path, bool* busy) {
  *busy = false;
  if (injected_fault(SysCall::kCreateFile)) return kNoFile;
  PosixPath local(path);
  if (!local.ok()) return fail_open(ENOMEM);
  // A holder that is just finishing removes the file after it was opened here: the lock taken
  // then belongs to a file that no one else will look at, so the file now at the path is tried.
  for (int attempt = 0; attempt < 100; ++attempt) {
    ScopedFd fd(open_retrying(local.c_str(), O_RDWR | O_CREAT));
    if (fd.get() < 0) return fail_open();
    if (!lock_whole_file(fd.get(), false)) {
      const int error = errno;
      *busy = error == EAGAIN || error == EACCES || error == EWOULDBLOCK;
      return fail_open(error);
    }
    struct stat held;
    struct stat named;
    if (fstat(fd.get(), &held) != 0) return fail_open();
    if (stat(local.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
        named.st_ino == held.st_ino) {
      succeed();
      return fd.release();
    }
  }
  *busy = true;
  return fail_open(EWOULDBLOCK);
}

void sys_unlock_file(FileHandle lock, const char* path) {
  PosixPath local(path);
  if (local.ok()) unlink(local.c_str());
  sys_close_handle(lock);
}

void sys_start_program(int*, char***) {
#ifdef __GLIBC__
  // Blocks of a megabyte and more come straight from the system and go straight back to it.
  // Otherwise glibc keeps every large block freed by a thread in that thread's arena and raises
  // its threshold as it goes, and a run on several threads would hold much more memory than it
  // uses; the program's large buffers grow seldom, so the system's calls cost little.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

uint32_t sys_get_temp_path(uint32_t size, char* buffer) {
  if (injected_fault(SysCall::kGetTempPath)) return 0;
  const char* directory = getenv("TMPDIR");
  if (directory == nullptr || directory[0] == '\0') directory = "/tmp/";
  const size_t length = strlen(directory);
  const bool addSlash = directory[length - 1] != '/';
  // The result's length without the NUL; it and the NUL must fit in 32 bits.
  if (length >= UINT32_MAX - 2) {
    fail(ENAMETOOLONG);
    return 0;
  }
  const uint32_t resultLength = static_cast<uint32_t>(length) + (addSlash ? 1 : 0);
  succeed();
  if (buffer == nullptr || size <= resultLength) return resultLength + 1;
  memcpy(buffer, directory, length);
  if (addSlash) buffer[length] = '/';
  buffer[resultLength] = '\0';
  return resultLength;
}

bool sys_user_data_path(CStringBufferA& out) {
  out.Assign(nullptr);
  const char* base = getenv("XDG_DATA_HOME");
  const char* below = "";
  // A relative XDG_DATA_HOME is invalid and to be ignored, by freedesktop.org's convention.
  if (base == nullptr || base[0] != '/') {
    base = getenv("HOME");
    below = ".local/share/";
    if (base == nullptr || base[0] == '\0') return fail(ENOENT);
  }
  const size_t length = strlen(base);
  const char* slash = base[length - 1] == '/' ? "" : "/";
  if (out.Format("%s%s%svintrel", base, slash, below) <= 0) {
    out.Assign(nullptr);
    return fail(ENOMEM);
  }
  return succeed();
}

uint32_t sys_last_error() { return t_lastError; }

void sys_native_path(const char* path, CStringBufferA& out) {
  if (out.Assign(path) == nullptr) return;
  for (char* p = out.Data(); *p != '\0'; ++p) {
    if (*p == '\\') *p = '/';
  }
}

namespace {

// strerror_r comes in two forms: GNU's returns the text, the XSI one fills the buffer.
[[maybe_unused]] const char* chosen_text(int result, const char* buffer) {
  return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* chosen_text(const char* result, const char*) { return result; }

}  // namespace

void sys_error_text(uint32_t code, char* buffer, uint32_t size) {
  if (size == 0) return;
  buffer[0] = '\0';
  char text[256] = {};
  const char* chosen = chosen_text(strerror_r(static_cast<int>(code), text, sizeof(text)), text);
  if (chosen == nullptr) chosen = "unknown error";
  snprintf(buffer, size, "%s", chosen);
}

uint32_t sys_current_thread_id() {
#ifdef SYS_gettid
  return static_cast<uint32_t>(syscall(SYS_gettid));
#else
  // Without a kernel thread id, each thread numbers itself once, starting at 1.
  static std::atomic<uint32_t> next{1};
  thread_local uint32_t id = 0;
  while (id == 0) id = next.fetch_add(1);
  return id;
#endif
}

static_assert(sizeof(pthread_mutex_t) <= 64 && alignof(pthread_mutex_t) <= 8, "SysLock storage");
static_assert(sizeof(pthread_cond_t) <= 64 && alignof(pthread_cond_t) <= 8, "SysCondition storage");
static_assert(sizeof(pthread_t) <= 16 && alignof(pthread_t) <= 8, "SysThread storage");

namespace {

pthread_mutex_t* mutex_of(unsigned char* storage) {
  return reinterpret_cast<pthread_mutex_t*>(storage);
}
pthread_cond_t* condition_of(unsigned char* storage) {
  return reinterpret_cast<pthread_cond_t*>(storage);
}
pthread_t* thread_of(SysThread* thread) { return reinterpret_cast<pthread_t*>(thread->storage_); }

void* run_thread(void* argument) {
  SysThread* thread = static_cast<SysThread*>(argument);
  thread->entry(thread->argument);
  return nullptr;
}

}  // namespace

// Initialising and destroying these cannot fail for default attributes on the systems the
// program runs on; a failure would leave nothing usable, so it aborts.
SysLock::SysLock() {
  if (pthread_mutex_init(mutex_of(storage_), nullptr) != 0) abort();
}
SysLock::~SysLock() { pthread_mutex_destroy(mutex_of(storage_)); }
void SysLock::Acquire() { pthread_mutex_lock(mutex_of(storage_)); }
void SysLock::Release() { pthread_mutex_unlock(mutex_of(storage_)); }

SysCondition::SysCondition() {
  if (pthread_cond_init(condition_of(storage_), nullptr) != 0) abort();
}
SysCondition::~SysCondition() { pthread_cond_destroy(condition_of(storage_)); }
void SysCondition::Wait(SysLock& lock) {
  pthread_cond_wait(condition_of(storage_), mutex_of(lock.storage_));
}
void SysCondition::WakeAll() { pthread_cond_broadcast(condition_of(storage_)); }

bool sys_create_thread(SysThread* thread, ThreadEntry entry, void* argument) {
  thread->entry = entry;
  thread->argument = argument;
  return pthread_create(thread_of(thread), nullptr, run_thread, thread) == 0;
}

void sys_join_thread(SysThread* thread) { pthread_join(*thread_of(thread), nullptr); }

uint32_t sys_processor_count() {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (sched_getaffinity(0, sizeof(allowed), &allowed) == 0) {
    const int count = CPU_COUNT(&allowed);
    if (count > 0) return static_cast<uint32_t>(count);
  }
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<uint32_t>(online) : 1;
}

uint32_t sys_process_id() { return static_cast<uint32_t>(getpid()); }

void sys_sleep(uint32_t milliseconds) {
  struct timespec wait;
  wait.tv_sec = static_cast<time_t>(milliseconds / 1000);
  wait.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  struct timespec left;
  while (nanosleep(&wait, &left) != 0 && errno == EINTR) wait = left;
}

bool sys_stderr_is_terminal() { return isatty(STDERR_FILENO) == 1; }
