#ifndef VINTREL_BASE_FILE_NAME_H_
#define VINTREL_BASE_FILE_NAME_H_

// Which texts can be the name of one file or folder on every system the programs run on: the
// rules of Windows, which refuse more names than POSIX systems do, and the way a file system that
// ignores case compares two paths.

#include <cstdint>

#include "base/string_buffer.h"

// The most bytes one component of a path may take.
constexpr uint32_t kMaxFileNameBytes = 255;

// Why a text cannot be one component of a path.
enum class FileNameProblem {
  kUsable,
  kEmpty,        // nothing: two separators in a row, or one first (an absolute or UNC path)
  kDots,         // "." or "..": the folder itself or the one above it
  kTooLong,      // more than kMaxFileNameBytes bytes
  kNotUtf8,      // bytes that are not well-formed UTF-8, which Windows cannot name a file by
  kControl,      // a control character (below 0x20, or 0x7F)
  kRefusedChar,  // one of < > : " | ? * (':' also makes a drive letter or a stream)
  kTrailingDot,  // ends in a dot or a space, which Windows drops from a name
  kDevice,       // a name that Windows reserves for a device
};

// The first problem of the length bytes at name, in the order of FileNameProblem; kUsable when
// there is none. A separator ('/' or '\') in the text is not looked at: the caller splits paths.
FileNameProblem file_name_problem(const char* name, uint32_t length);

// What the problem is, to follow a name in a message: "is empty", "is a name that Windows
// reserves for a device", ...
const char* file_name_problem_text(FileNameProblem problem);

// Whether Windows takes the name for a device rather than a file: CON, PRN, AUX, NUL, CONIN$,
// CONOUT$, COM0 to COM9 and LPT0 to LPT9 (and COM or LPT with a superscript 1, 2 or 3), in any
// case, alone or before an extension, spaces before the extension ignored.
bool is_device_name(const char* name, uint32_t length);

// The length bytes of a path as a file system that ignores case compares them: the capital
// letters A to Z and those of Latin-1, Latin Extended-A, Greek and Cyrillic become small, and '\'
// becomes '/'; every other byte stays. Replaces out. False when out cannot grow.
bool fold_path_case(const char* path, uint32_t length, CStringBufferA& out);

#endif  // VINTREL_BASE_FILE_NAME_H_
