#ifndef VINTREL_IMAGE_DXT_BLOCK_H_
#define VINTREL_IMAGE_DXT_BLOCK_H_

// Blocks of 4 x 4 pixels of the DXT formats, decoded and made. Pixels are 16 RGBA quadruples,
// row by row. doc/texture_format.md gives the bit layout of each block.

#include <cstdint>

#include "image/dds_format.h"

// The palette of a colour block with endpoints c0 and c1 (RGB565): c0, c1, then in four-colour
// mode (2 c0 + c1) / 3 and (c0 + 2 c1) / 3, in three-colour mode (c0 + c1) / 2 and transparent
// black; each channel widened to 8 bits by repeating its high bits, divisions rounding down.
// RGBA quadruples.
void dxt_colour_palette(uint16_t c0, uint16_t c1, bool fourColour, uint8_t (&palette)[4][4]);

// Decodes a block of `encoding` (not kMasked): 8 bytes for DXT1, 16 for DXT3 and DXT5. A DXT1
// block is in four-colour mode when c0 > c1 and in three-colour mode otherwise; the colour
// block of DXT3 and DXT5 is always in four-colour mode.
void decode_dxt_block(DdsEncoding encoding, const uint8_t* block, uint8_t (&pixels)[64]);

// Makes a block of `encoding` from 16 pixels. The colour endpoints come from stb_dxt (its
// high-quality mode), refined by least squares and a search among the nearest RGB565 values,
// each pixel then taking the palette entry nearest to it; a DXT1 block with a pixel whose alpha
// is below 128 is made in three-colour mode, those pixels transparent. DXT3 keeps alpha to 4
// bits, rounded; DXT5's alpha block is stb_dxt's.
void encode_dxt_block(DdsEncoding encoding, const uint8_t (&pixels)[64], uint8_t* block);

#endif  // VINTREL_IMAGE_DXT_BLOCK_H_
