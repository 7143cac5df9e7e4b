// Runs a child process on Windows: CreateProcessA with a quoted command line, pipes read on two
// threads.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "tests/support/process.h"

namespace vtest {

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
  std::thread killer;
  if (!options.kill_when_exists.empty()) {
    killer = std::thread([&options, &process] {
      std::error_code ignored;
      while (WaitForSingleObject(process.get(), 1) == WAIT_TIMEOUT) {
        if (std::filesystem::exists(options.kill_when_exists, ignored)) {
          TerminateProcess(process.get(), 1);
          return;
        }
      }
    });
  }
  std::thread err_thread(Drain, err_read.get(), &raw_err);
  Drain(out_read.get(), &raw_out);
  err_thread.join();
  if (killer.joinable()) killer.join();
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

}  // namespace vtest
