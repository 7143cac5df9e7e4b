#ifndef VINTREL_BASE_UTF8_H_
#define VINTREL_BASE_UTF8_H_

#include <cstdint>

// The length of the well-formed UTF-8 sequence that begins at bytes[0]: 1 for an ASCII byte, 2 to
// 4 for a longer sequence, 0 when no well-formed sequence begins there (a stray continuation
// byte, an overlong form, a surrogate, a value above U+10FFFF, a byte never used in UTF-8, or a
// sequence cut short by the end of the n bytes). n must be at least 1.
uint32_t utf8_sequence_length(const uint8_t* bytes, uint32_t n);

#endif  // VINTREL_BASE_UTF8_H_
