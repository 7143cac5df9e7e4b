// Runs a child process on POSIX: fork and exec, with both pipes drained by poll.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/process.h"

namespace vtest {

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
  const bool watchKill = !options.kill_when_exists.empty();
  const bool watchPause = !options.pause_when_exists.empty();
  bool killed = false;
  bool paused = false;
  while (open_count > 0) {
    std::error_code ignored;
    if (watchPause && !paused && std::filesystem::exists(options.pause_when_exists, ignored)) {
      kill(pid, SIGSTOP);
      int stopped = 0;
      while (waitpid(pid, &stopped, WUNTRACED) < 0 && errno == EINTR) {
      }
      if (options.while_paused) options.while_paused();
      kill(pid, SIGCONT);
      paused = true;
    }
    if (watchKill && !killed && std::filesystem::exists(options.kill_when_exists, ignored)) {
      kill(pid, SIGKILL);
      killed = true;
    }
    const bool watching = (watchKill && !killed) || (watchPause && !paused);
    if (poll(fds, 2, watching ? 1 : -1) < 0) {
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

}  // namespace vtest
