#include "image/dxt_block.h"

#include <cstring>

#include "base/coding.h"

namespace {

void decode_colour_block(const uint8_t* block, bool dxt1, uint8_t (&pixels)[64]) {
  const uint16_t c0 = decode_u16(block);
  const uint16_t c1 = decode_u16(block + 2);
  uint8_t palette[4][4];
  dxt_colour_palette(c0, c1, !dxt1 || c0 > c1, palette);
  const uint32_t indices = decode_u32(block + 4);
  for (int i = 0; i < 16; ++i) std::memcpy(pixels + 4 * i, palette[(indices >> (2 * i)) & 3], 4);
}

// 4-bit alpha for each pixel, pixel 0 in the low nibble of the first byte.
void decode_explicit_alpha(const uint8_t* block, uint8_t (&pixels)[64]) {
  for (int i = 0; i < 16; ++i) {
    const uint8_t nibble = (block[i / 2] >> (4 * (i % 2))) & 0xF;
    pixels[4 * i + 3] = static_cast<uint8_t>(nibble * 17);
  }
}

// Two alpha values, then sixteen 3-bit indices in 48 bits, pixel 0 in the lowest bits.
void decode_interpolated_alpha(const uint8_t* block, uint8_t (&pixels)[64]) {
  const uint32_t a0 = block[0];
  const uint32_t a1 = block[1];
  uint8_t values[8] = {static_cast<uint8_t>(a0), static_cast<uint8_t>(a1)};
  if (a0 > a1) {
    for (uint32_t k = 1; k <= 6; ++k)
      values[1 + k] = static_cast<uint8_t>(((7 - k) * a0 + k * a1) / 7);
  } else {
    for (uint32_t k = 1; k <= 4; ++k)
      values[1 + k] = static_cast<uint8_t>(((5 - k) * a0 + k * a1) / 5);
    values[6] = 0;
    values[7] = 255;
  }
  const uint64_t indices = static_cast<uint64_t>(decode_u32(block + 2)) |
                           static_cast<uint64_t>(decode_u16(block + 6)) << 32;
  for (int i = 0; i < 16; ++i) pixels[4 * i + 3] = values[(indices >> (3 * i)) & 7];
}

}  // namespace

void dxt_colour_palette(uint16_t c0, uint16_t c1, bool fourColour, uint8_t (&palette)[4][4]) {
  const uint16_t ends[2] = {c0, c1};
  for (int e = 0; e < 2; ++e) {
    const uint32_t r = (ends[e] >> 11) & 0x1F;
    const uint32_t g = (ends[e] >> 5) & 0x3F;
    const uint32_t b = ends[e] & 0x1F;
    palette[e][0] = static_cast<uint8_t>((r << 3) | (r >> 2));
    palette[e][1] = static_cast<uint8_t>((g << 2) | (g >> 4));
    palette[e][2] = static_cast<uint8_t>((b << 3) | (b >> 2));
    palette[e][3] = 255;
  }
  for (int c = 0; c < 3; ++c) {
    const uint32_t a = palette[0][c];
    const uint32_t b = palette[1][c];
    if (fourColour) {
      palette[2][c] = static_cast<uint8_t>((2 * a + b) / 3);
      palette[3][c] = static_cast<uint8_t>((a + 2 * b) / 3);
    } else {
      palette[2][c] = static_cast<uint8_t>((a + b) / 2);
      palette[3][c] = 0;
    }
  }
  palette[2][3] = 255;
  palette[3][3] = fourColour ? 255 : 0;
}

void decode_dxt_block(DdsEncoding encoding, const uint8_t* block, uint8_t (&pixels)[64]) {
  switch (encoding) {
    case DdsEncoding::kDxt1:
      decode_colour_block(block, true, pixels);
      break;
    case DdsEncoding::kDxt3:
      decode_colour_block(block + 8, false, pixels);
      decode_explicit_alpha(block, pixels);
      break;
    case DdsEncoding::kDxt5:
      decode_colour_block(block + 8, false, pixels);
      decode_interpolated_alpha(block, pixels);
      break;
    case DdsEncoding::kMasked:
      break;
  }
}
