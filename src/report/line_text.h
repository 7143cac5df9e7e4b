#ifndef VINTREL_REPORT_LINE_TEXT_H_
#define VINTREL_REPORT_LINE_TEXT_H_

#include <cstdint>

#include "base/string_buffer.h"

// Appends bytes to out for a line of text: control characters (NUL included) as \xNN, every other
// byte as it is, so that a name read from a file can neither break a line nor move a terminal's
// cursor. False when out of memory.
bool append_escaped(const uint8_t* bytes, uint32_t length, CStringBufferA& out);

#endif  // VINTREL_REPORT_LINE_TEXT_H_
