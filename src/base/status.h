#ifndef VINTREL_BASE_STATUS_H_
#define VINTREL_BASE_STATUS_H_

#include <cstdarg>
#include <cstdint>

#include "base/shared_string.h"
#include "base/string_buffer.h"

// What kind of failure a Status records.
enum class StatusCode : uint8_t {
  kOk = 0,
  kIoError,      // a system call failed; system_error() holds the system's code
  kNotFound,     // a file that must exist does not
  kCorrupt,      // bytes that do not follow their format
  kUnsupported,  // well-formed input that the tool cannot handle
  kOutOfMemory,
  kRefused,  // a setting or state that the tool will not act on, because acting would do harm
  kBusy,     // another run is using the game directory
};

// Why an operation failed, carried from where the failure is found up to whoever reports it: the
// kind, a description, the file and (for a package) the package it concerns, and the system's
// error code. A function that can fail for more than one cause takes a Status* and records the
// cause where it finds it; callers that know more (which package, which archive) add that on the
// way up without replacing the cause. Texts are copied; when the heap cannot hold a copy, the
// text is left out of the description rather than lost with the failure. Not copyable.
class Status {
 public:
  Status() = default;
  Status(const Status&) = delete;
  Status& operator=(const Status&) = delete;

  bool ok() const { return code_ == StatusCode::kOk; }
  StatusCode code() const { return code_; }
  // The description of the failure ("the entry table runs past the end of the archive"), or for
  // an I/O failure the operation that failed ("cannot open archive"); "" when ok.
  const char* what() const { return what_; }
  const char* path() const { return path_.Text(); }
  const char* package() const { return package_.Text(); }
  bool has_package() const { return hasPackage_; }
  uint64_t offset() const { return offset_; }
  uint32_t line() const { return line_; }
  uint32_t column() const { return column_; }
  uint32_t system_error() const { return systemError_; }

  // Records a failure, replacing anything recorded before. what is printf-formatted and cut at
  // kWhatSize - 1 bytes.
  void Fail(StatusCode code, const char* format, ...) VINTREL_PRINTF_FORMAT(3, 4);
  // The same with the arguments of a caller's own printf-like function.
  void FailWith(StatusCode code, const char* format, va_list args);
  // The same, naming the file it concerns.
  void FailAt(StatusCode code, const char* path, const char* format, ...)
      VINTREL_PRINTF_FORMAT(4, 5);
  // Records an I/O failure of operation on path, with the error code of the platform seam's most
  // recent failed call (0, and no system text, when that call did not fail but came up short).
  void FailIo(const char* operation, const char* path);
  // Records an I/O failure with a given system error code.
  void FailIo(const char* operation, const char* path, uint32_t systemError);
  // Records that the heap could not give what was asked. Returns false, for a caller's
  // "return status->FailOutOfMemory();".
  bool FailOutOfMemory();
  // Makes this a copy of other: a failure found on a worker's thread, handed to the run's status.
  void Assign(const Status& other);

  // Added by a caller that knows more. SetPath names the file the failure concerns, when it names
  // none yet.
  void SetPath(const char* path);
  // The package (and the archive it lies in, as the path, with
  // its offset there) is recorded only when the failure names no file of its own yet.
  void SetPackage(const char* name, const char* archivePath, uint64_t offset);
  // A position in the text file the failure concerns, counted from 1.
  void SetTextPosition(uint32_t line, uint32_t column);

  // Back to ok.
  void Clear();

  // One line, without a line end: what failed, where, and why. Forms:
  //   cannot open archive "/g/data0.upak": No such file or directory      (I/O)
  //   package "town" in "/g/data0.upak" at offset 2048: the entry table runs past the end of ...
  //   "/m/vintrel.json" line 4, column 9: expected ',' or '}'
  //   "/m/hero.dds": unsupported texture format
  //   "upak" "data0" names an archive of the game; choose another name   (no file)
  // False when the text cannot be formatted (no memory).
  bool Describe(CStringBufferA& out) const;

  // Room for a description that names two paths.
  static constexpr uint32_t kWhatSize = 512;

 private:
  StatusCode code_ = StatusCode::kOk;
  char what_[kWhatSize] = {};
  SharedString path_;
  SharedString package_;
  bool hasPackage_ = false;
  uint64_t offset_ = 0;
  uint32_t line_ = 0;
  uint32_t column_ = 0;
  uint32_t systemError_ = 0;
};

#endif  // VINTREL_BASE_STATUS_H_
