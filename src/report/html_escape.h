#ifndef VINTREL_REPORT_HTML_ESCAPE_H_
#define VINTREL_REPORT_HTML_ESCAPE_H_

#include <cstdint>

#include "base/byte_buffer.h"

// Appends any bytes to out as text of an HTML page, safe both between tags and inside a quoted
// attribute: '&', '<', '>', '"' and '\'' become character references; a control character (C0
// and DEL) and every byte that begins no well-formed UTF-8 sequence become the visible text \xNN
// (two lower-case hexadecimal digits, as Python's "backslashreplace" shows a byte it cannot
// decode); a C1 control character (U+0080 to U+009F) becomes \u00NN; any other well-formed UTF-8
// sequence stays as it is. The result is well-formed UTF-8 without markup, whatever the input.
// False, with out unchanged, when out cannot grow.
bool append_html_escaped(const uint8_t* bytes, uint32_t length, ByteBuffer& out);

// Where to cut length bytes near `wanted` so that escaping the two parts one after the other gives
// what escaping the whole gives: length when wanted >= length, else a cut of wanted - 3 to
// wanted, and at least 1 when wanted is. For text escaped in pieces of bounded size.
uint32_t html_escape_piece(const uint8_t* bytes, uint32_t length, uint32_t wanted);

#endif  // VINTREL_REPORT_HTML_ESCAPE_H_
