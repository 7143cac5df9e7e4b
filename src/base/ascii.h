#ifndef VINTREL_BASE_ASCII_H_
#define VINTREL_BASE_ASCII_H_

// Case folding of the "C" locale: only the letters A to Z change; every other byte, 0x80 to 0xFF
// included, stays as it is.

#include <cstdint>

inline char ascii_lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline uint8_t ascii_lower(uint8_t c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<uint8_t>(c - 'A' + 'a') : c;
}

#endif  // VINTREL_BASE_ASCII_H_
