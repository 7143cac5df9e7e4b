// A PNG writer for the tests of the image floor, written from the format's description: the
// signature, then IHDR, PLTE and tRNS when given, one IDAT of the rows (each after a filter byte
// of 0, "none") compressed with zlib, and IEND; every chunk with its CRC.
#ifndef VINTREL_TESTS_SUPPORT_PNG_FILE_H_
#define VINTREL_TESTS_SUPPORT_PNG_FILE_H_

#include <cstdint>

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

}  // namespace vtest

#endif  // VINTREL_TESTS_SUPPORT_PNG_FILE_H_
