#ifndef VINTREL_DRIVER_REPORT_H_
#define VINTREL_DRIVER_REPORT_H_

#include "base/string_buffer.h"

// Formats by the C library's printf rules and writes the result to standard output, adding
// nothing: every message carries its own "\n". All of the program's output goes through here.
void report_error(const char* format, ...) VINTREL_PRINTF_FORMAT(1, 2);

#endif  // VINTREL_DRIVER_REPORT_H_
