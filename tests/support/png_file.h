// A PNG writer for the tests of the image floor, written from the format's description: the
// signature, then IHDR, PLTE and tRNS when given, one IDAT of the rows (each after a filter byte
// of 0, "none") compressed with zlib, and IEND; every chunk with its CRC.
#ifndef VINTREL_TESTS_SUPPORT_PNG_FILE_H_
#define VINTREL_TESTS_SUPPORT_PNG_FILE_H_

#include <cstdint>
#include <utility>

#include "tests/support/bytes.h"

namespace vtest {

struct PngSpec {
  uint32_t width = 1;
  uint32_t height = 1;
  uint8_t bit_depth = 8;
  uint8_t colour_type = 6;  // 0 grey, 2 RGB, 3 palette, 4 grey and alpha, 6 RGBA
  Bytes rows;               // the rows' samples packed as the format packs them, no filter bytes
  Bytes palette;            // PLTE: RGB triples
  Bytes transparency;       // tRNS
};

Bytes MakePng(const PngSpec& spec);

// A width x height RGBA PNG of one colour but for a brighter top-left pixel, as an editor saves it.
Bytes Picture(uint32_t width, uint32_t height, uint8_t red);

// The width and height a PNG's IHDR gives (0 x 0 when it is too short to hold them).
std::pair<uint32_t, uint32_t> PngSize(const Bytes& png);

}  // namespace vtest

#endif  // VINTREL_TESTS_SUPPORT_PNG_FILE_H_
