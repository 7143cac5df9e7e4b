#include "driver/report.h"

#include <cstdarg>
#include <cstdio>

void report_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vfprintf(stdout, format, args);
  va_end(args);
  // Progress lines must reach a console or a pipe in order with the exit of the process.
  fflush(stdout);
}

void report_line(const char* program, const char* kind, const char* text) {
  fflush(stdout);
  fprintf(stderr, "%s: %s: %s\n", program, kind, text);
  fflush(stderr);
}
