#ifndef VINTREL_DRIVER_REPORT_H_
#define VINTREL_DRIVER_REPORT_H_

#include "base/string_buffer.h"

// Formats by the C library's printf rules and writes the result to standard output, adding
// nothing: every message carries its own "\n". All of the program's output goes through here.
void report_error(const char* format, ...) VINTREL_PRINTF_FORMAT(1, 2);

// Writes one line for people to standard error: "<program>: <kind>: <text>\n" ("vintrel: error:
// ..."). Standard output carries only the tool's own messages; what is added for people (the
// reason of a failure, warnings) goes here, after what standard output has been given.
void report_line(const char* program, const char* kind, const char* text);

#endif  // VINTREL_DRIVER_REPORT_H_
