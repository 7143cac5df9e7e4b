#ifndef VINTREL_BASE_ASCII_H_
#define VINTREL_BASE_ASCII_H_

// Case folding of the "C" locale: only the letters A to Z change; every other byte, 0x80 to 0xFF
// included, stays as it is.

#include <cstddef>
#include <cstdint>

inline char ascii_lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline uint8_t ascii_lower(uint8_t c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<uint8_t>(c - 'A' + 'a') : c;
}

// Whether length bytes at a and at b are the same but for the case of the letters A to Z.
inline bool ascii_same_but_case(const void* a, const void* b, size_t length) {
  const uint8_t* x = static_cast<const uint8_t*>(a);
  const uint8_t* y = static_cast<const uint8_t*>(b);
  for (size_t i = 0; i < length; ++i) {
    if (ascii_lower(x[i]) != ascii_lower(y[i])) return false;
  }
  return true;
}

#endif  // VINTREL_BASE_ASCII_H_
