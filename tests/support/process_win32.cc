// Runs a child process on Windows: CreateProcessW with a quoted command line, pipes read on two
// threads. The tests' texts are UTF-8, and so are the child's program, arguments, working
// directory and environment; they reach it in UTF-16, whatever the ANSI code page.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
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

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int count =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(count), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], count);
  return wide;
}

std::string Narrow(const wchar_t* text) {
  const int count = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (count <= 1) return std::string();
  std::string narrow(static_cast<size_t>(count), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &narrow[0], count, nullptr, nullptr);
  narrow.pop_back();
  return narrow;
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
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* p = block; *p != L'\0'; p += wcslen(p) + 1) entries.push_back(Narrow(p));
    FreeEnvironmentStringsW(block);
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

// Suspends or resumes every thread of a process: ntdll's calls, which Windows has had since XP
// and wine implements, though no SDK header declares them.
bool SetSuspended(HANDLE process, bool suspended) {
  typedef LONG(NTAPI * ProcessCall)(HANDLE);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return false;
  const ProcessCall call = reinterpret_cast<ProcessCall>(reinterpret_cast<void*>(
      GetProcAddress(ntdll, suspended ? "NtSuspendProcess" : "NtResumeProcess")));
  return call != nullptr && call(process) >= 0;
}

// Watches for the files of ProcessOptions while the child runs: pauses it once, kills it once.
void Watch(const ProcessOptions& options, HANDLE process) {
  bool paused = options.pause_when_exists.empty();
  bool killed = options.kill_when_exists.empty();
  std::error_code ignored;
  while ((!paused || !killed) && WaitForSingleObject(process, 1) == WAIT_TIMEOUT) {
    if (!paused && std::filesystem::exists(options.pause_when_exists, ignored)) {
      const bool suspended = SetSuspended(process, true);
      if (options.while_paused) options.while_paused();
      if (suspended) SetSuspended(process, false);
      paused = true;
    }
    if (!killed && std::filesystem::exists(options.kill_when_exists, ignored)) {
      TerminateProcess(process, 1);
      killed = true;
    }
  }
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
  std::wstring wideCommand = Wide(command);
  // The block holds NULs of its own; Wide converts it whole.
  std::wstring environment = Wide(BuildEnvironment(options));
  const std::wstring cwd = options.cwd.wstring();

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_in.get();
  startup.hStdOutput = out_write.get();
  startup.hStdError = err_write.get();
  PROCESS_INFORMATION info{};
  const BOOL created = CreateProcessW(Wide(program).c_str(), &wideCommand[0], nullptr, nullptr,
                                      TRUE, CREATE_UNICODE_ENVIRONMENT, &environment[0],
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
  std::thread watcher;
  if (!options.kill_when_exists.empty() || !options.pause_when_exists.empty()) {
    watcher = std::thread([&options, &process] { Watch(options, process.get()); });
  }
  std::thread err_thread(Drain, err_read.get(), &raw_err);
  Drain(out_read.get(), &raw_out);
  err_thread.join();
  if (watcher.joinable()) watcher.join();
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
  if (result.exit_code == -1) {
    char status[32];
    snprintf(status, sizeof status, "0x%08lX", static_cast<unsigned long>(code));
    result.err += std::string("[the process ended with status ") + status + "]";
  }
  return result;
}

}  // namespace vtest
