#ifndef VINTREL_INSPECT_MESSAGES_H_
#define VINTREL_INSPECT_MESSAGES_H_

// What vintrel-inspect says to people: its exit statuses, its one-line errors and warnings on
// standard error, and the texts that its reports share (ids, names read from the game's files).

#include <cstdint>

#include "base/status.h"
#include "base/string_buffer.h"
#include "base/warning_list.h"
#include "manifest/game_commit.h"
#include "report/line_text.h"

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr char kProgramName[] = "vintrel-inspect";

// Write "vintrel-inspect: error: " (or "warning: ") and the printf-formatted text as one line on
// standard error. Control characters in the text show as \xNN, so that a name read from a file can
// neither break the line nor move the terminal's cursor.
void print_error(const char* format, ...) VINTREL_PRINTF_FORMAT(1, 2);
void print_warning(const char* format, ...) VINTREL_PRINTF_FORMAT(1, 2);
// print_warning for each line of warnings, in order.
void print_warnings(const WarningList& warnings);
// print_error with the failure's one-line description.
void print_failure(const Status& status);
// print_warning with the failure's one-line description followed by remark ("; passed over").
void print_failure_warning(const Status& status, const char* remark);

// print_warning with what finishing an interrupted change of the game in gameDir did, when it
// did anything (manifest/game_commit.h).
void print_recovery(const char* gameDir, const ChangeRecovery& recovery);

// The reason of a failure without the package it concerns, which the caller shows beside it; the
// whole description when the failure names no package. False when out of memory.
bool describe_reason(const Status& status, CStringBufferA& out);

// An id as the reports print it: 16 lower-case hexadecimal digits.
struct IdText {
  char text[17];
};
IdText id_text(uint64_t id);

// Appends "name" to a list of names in quotes, after ", " unless the list is empty. False when out
// of memory.
bool append_quoted(const char* name, CStringBufferA& list);

#endif  // VINTREL_INSPECT_MESSAGES_H_
