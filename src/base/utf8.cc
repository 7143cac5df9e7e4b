#include "base/utf8.h"

namespace {

bool is_continuation(uint8_t byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

uint32_t utf8_sequence_length(const uint8_t* bytes, uint32_t n) {
  const uint8_t lead = bytes[0];
  if (lead < 0x80) return 1;
  // The second byte's range rules out overlong forms (E0, F0), surrogates (ED) and values above
  // U+10FFFF (F4); C0, C1 and F5 to FF begin nothing at all.
  uint32_t length = 0;
  uint8_t low = 0x80;
  uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (n < length || bytes[1] < low || bytes[1] > high) return 0;
  for (uint32_t i = 2; i < length; ++i) {
    if (!is_continuation(bytes[i])) return 0;
  }
  return length;
}
