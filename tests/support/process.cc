#include "tests/support/process.h"

#ifdef _WIN32
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <thread>
#else
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vtest {

#ifdef _WIN32

namespace {

// Owns a Win32 handle; null and INVALID_HANDLE_VALUE both mean none.
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  HANDLE get() const { return handle_; }
  HANDLE* out() {
    Reset();
    return &handle_;
  }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  void Reset() {
    if (valid()) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

// Quotes one argument so that the C runtime's command-line parser gives it back unchanged:
// backslashes are literal except in front of a quote, where each pair becomes one backslash;
// so backslashes before an embedded quote or before the closing quote are doubled.
std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

// Environment names compare without regard to case on Windows.
int CompareNames(const std::string& a, const std::string& b) {
  const int result =
      CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                     b.data(), static_cast<int>(b.size()));
  return result - CSTR_EQUAL;
}

// The name of an environment entry "NAME=value". Entries of the per-drive directories look like
// "=C:=C:\dir": their name starts after the leading '='.
std::string EntryName(const std::string& entry) { return entry.substr(0, entry.find('=', 1)); }

std::string BuildEnvironment(const ProcessOptions& options) {
  std::vector<std::string> entries;
  if (char* block = GetEnvironmentStringsA()) {
    for (const char* p = block; *p != '\0'; p += strlen(p) + 1) entries.emplace_back(p);
    FreeEnvironmentStringsA(block);
  }
  auto remove = [&entries](const std::string& name) {
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&name](const std::string& entry) {
                                   return CompareNames(EntryName(entry), name) == 0;
                                 }),
                  entries.end());
  };
  for (const std::string& name : options.unset_env) remove(name);
  for (const auto& [name, value] : options.env) {
    remove(name);
    entries.push_back(name + "=" + value);
  }
  // CreateProcess wants the block sorted by name, without regard to case.
  std::stable_sort(entries.begin(), entries.end(), [](const std::string& a, const std::string& b) {
    return CompareNames(EntryName(a), EntryName(b)) < 0;
  });
  std::string block;
  for (const std::string& e : entries) block += e + '\0';
  // An empty block still needs its two terminating NULs.
  if (entries.empty()) block += '\0';
  return block + '\0';
}

void Drain(HANDLE pipe, std::string* out) {
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) out->append(buffer, got);
}

// The C runtime writes "\n" as "\r\n" to a pipe in text mode; the tests compare output as a
// text-mode reader would see it, the same on every platform.
std::string TextModeNewlines(const std::string& raw) {
  std::string text;
  text.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    text += raw[i];
  }
  return text;
}

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options) {
  ProcessResult result;
  // The child's ends are inheritable, the parent's are not.
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  ScopedHandle out_read, out_write, err_read, err_write;
  if (!CreatePipe(out_read.out(), out_write.out(), &inherit, 0) ||
      !CreatePipe(err_read.out(), err_write.out(), &inherit, 0) ||
      !SetHandleInformation(out_read.get(), HANDLE_FLAG_INHERIT, 0) ||
      !SetHandleInformation(err_read.get(), HANDLE_FLAG_INHERIT, 0)) {
    result.failure = "CreatePipe failed with error " + std::to_string(GetLastError());
    return result;
  }
  ScopedHandle null_in(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inherit, OPEN_EXISTING, 0, nullptr));

  std::string command = QuoteArgument(program);
  for (const std::string& arg : args) command += " " + QuoteArgument(arg);
  std::string environment = BuildEnvironment(options);
  const std::string cwd = options.cwd.string();

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_in.get();
  startup.hStdOutput = out_write.get();
  startup.hStdError = err_write.get();
  PROCESS_INFORMATION info{};
  const BOOL created =
      CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, TRUE, 0, &environment[0],
                     cwd.empty() ? nullptr : cwd.c_str(), &startup, &info);
  const DWORD create_error = GetLastError();
  // Only the child may hold the writing ends now, so that the reads below end with it.
  out_write.Reset();
  err_write.Reset();
  null_in.Reset();
  if (!created) {
    result.failure = "cannot run " + program + ": CreateProcess failed with error " +
                     std::to_string(create_error);
    return result;
  }
  ScopedHandle process(info.hProcess);
  ScopedHandle thread(info.hThread);
  result.started = true;
  // Both pipes are drained at once so that a child filling one of them cannot block.
  std::string raw_out, raw_err;
  std::thread err_thread(Drain, err_read.get(), &raw_err);
  Drain(out_read.get(), &raw_out);
  err_thread.join();
  result.out = TextModeNewlines(raw_out);
  result.err = TextModeNewlines(raw_err);

  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  if (!GetExitCodeProcess(process.get(), &code)) {
    result.exit_code = -1;
    return result;
  }
  // A process ended by an unhandled exception exits with its NTSTATUS code (0xC0000005 and
  // the like): reported as -1, as a POSIX child ended by a signal.
  result.exit_code = (code & 0xC0000000u) == 0xC0000000u ? -1 : static_cast<int>(code);
  return result;
}

#else  // POSIX

namespace {

// Owns a file descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

struct Pipe {
  Fd read, write;
  bool Open() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    read.Reset(fds[0]);
    write.Reset(fds[1]);
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    return true;
  }
};

// Runs in the child between fork and exec; reports a failure through `report` and exits.
[[noreturn]] void ExecChild(const std::string& program, const std::vector<std::string>& args,
                            const ProcessOptions& options, int out, int err, int report) {
  int null_in = open("/dev/null", O_RDONLY);
  if (null_in < 0 || dup2(null_in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
    int code = errno;
    (void)!write(report, &code, sizeof code);
    _exit(127);
  }
  for (const std::string& name : options.unset_env) unsetenv(name.c_str());
  for (const auto& [name, value] : options.env) setenv(name.c_str(), value.c_str(), 1);
  if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) {
    int code = errno;
    (void)!write(report, &code, sizeof code);
    _exit(127);
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  if (program.find('/') == std::string::npos) {
    execvp(program.c_str(), argv.data());
  } else {
    execv(program.c_str(), argv.data());
  }
  int code = errno;
  (void)!write(report, &code, sizeof code);
  _exit(127);
}

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options) {
  ProcessResult result;
  Pipe out, err, report;
  if (!out.Open() || !err.Open() || !report.Open()) {
    result.failure = std::string("pipe failed: ") + strerror(errno);
    return result;
  }
  pid_t pid = fork();
  if (pid < 0) {
    result.failure = std::string("fork failed: ") + strerror(errno);
    return result;
  }
  if (pid == 0) {
    ExecChild(program, args, options, out.write.get(), err.write.get(), report.write.get());
  }
  out.write.Reset();
  err.write.Reset();
  report.write.Reset();

  int exec_errno = 0;
  ssize_t got = 0;
  do {
    got = read(report.read.get(), &exec_errno, sizeof exec_errno);
  } while (got < 0 && errno == EINTR);
  bool exec_failed = got == static_cast<ssize_t>(sizeof exec_errno);

  // Both pipes are read together so that a child filling one of them cannot block.
  pollfd fds[2] = {{out.read.get(), POLLIN, 0}, {err.read.get(), POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open_count;
      }
    }
  }

  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (exec_failed) {
    result.failure = "cannot run " + program + ": " + strerror(exec_errno);
    return result;
  }
  result.started = true;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

#endif

}  // namespace vtest
