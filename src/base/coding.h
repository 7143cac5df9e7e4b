#ifndef VINTREL_BASE_CODING_H_
#define VINTREL_BASE_CODING_H_

// Little-endian encoding and decoding of fixed-width integers, byte by byte, whatever the
// machine's own order. The caller guarantees that the bytes are there.

#include <cstdint>

inline uint16_t decode_u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t decode_u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t decode_u64(const uint8_t* p) {
  return static_cast<uint64_t>(decode_u32(p)) | (static_cast<uint64_t>(decode_u32(p + 4)) << 32);
}

inline void encode_u16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

inline void encode_u32(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value >> 16);
  p[3] = static_cast<uint8_t>(value >> 24);
}

inline void encode_u64(uint8_t* p, uint64_t value) {
  encode_u32(p, static_cast<uint32_t>(value));
  encode_u32(p + 4, static_cast<uint32_t>(value >> 32));
}

#endif  // VINTREL_BASE_CODING_H_
