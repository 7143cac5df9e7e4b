// Making DXT blocks: stb_dxt chooses the colour endpoints, which are then refined here by the same
// means stb_dxt's own refinement uses (least squares over the chosen indices), with the pixels
// matched to the palette that decoders compute, exactly, rather than along stb_dxt's projection.

#include <stb_dxt.h>

#include <climits>
#include <cstring>

#include "base/coding.h"
#include "image/dxt_block.h"

namespace {

// Rounds of refinement after stb_dxt's fit; each is kept only when it lowers the error, and most
// blocks stop after one or two.
constexpr int kRefineRounds = 3;

struct ColourBlock {
  int rgb[16][3];
  uint32_t counted;  // bit i: pixel i takes a colour (all but DXT1's transparent pixels)
};

struct ColourFit {
  uint16_t c0 = 0;
  uint16_t c1 = 0;
  uint32_t indices = 0;
  int error = INT_MAX;
};

int square(int v) { return v * v; }

// Matches each counted pixel to the nearest of the palette's colours (the first three in
// three-colour mode) and sums the squared error; pixels not counted take index 3.
void match(const ColourBlock& block, bool fourColour, ColourFit* fit) {
  uint8_t palette[4][4];
  dxt_colour_palette(fit->c0, fit->c1, fourColour, palette);
  const int entries = fourColour ? 4 : 3;
  uint32_t indices = 0;
  int error = 0;
  for (int i = 0; i < 16; ++i) {
    if (((block.counted >> i) & 1) == 0) {
      indices |= 3u << (2 * i);
      continue;
    }
    int best = INT_MAX;
    uint32_t bestIndex = 0;
    for (int e = 0; e < entries; ++e) {
      const int d = square(block.rgb[i][0] - palette[e][0]) +
                    square(block.rgb[i][1] - palette[e][1]) +
                    square(block.rgb[i][2] - palette[e][2]);
      if (d < best) {
        best = d;
        bestIndex = static_cast<uint32_t>(e);
      }
    }
    indices |= bestIndex << (2 * i);
    error += best;
  }
  fit->indices = indices;
  fit->error = error;
}

int widen(int value, int bits) {
  return bits == 5 ? (value << 3) | (value >> 2) : (value << 2) | (value >> 4);
}

// New endpoints for the fit's indices: least squares gives each channel's two ideal values, and
// of the 3 x 3 quantised pairs around them the one whose palette, as decoders compute it, fits the
// pixels best is taken. False when the indices cannot tell the endpoints apart.
bool refit(const ColourBlock& block, bool fourColour, ColourFit* fit) {
  // The weight of c0 in each palette entry; c1 has 1 minus it.
  const float weights[4] = {1.0f, 0.0f, fourColour ? 2.0f / 3 : 0.5f, fourColour ? 1.0f / 3 : 0};
  float aa = 0, bb = 0, ab = 0, ax[3] = {0, 0, 0}, bx[3] = {0, 0, 0};
  uint32_t index[16];
  for (int i = 0; i < 16; ++i) {
    index[i] = (fit->indices >> (2 * i)) & 3;
    if (((block.counted >> i) & 1) == 0) continue;
    const float a = weights[index[i]];
    const float b = 1 - a;
    aa += a * a;
    bb += b * b;
    ab += a * b;
    for (int c = 0; c < 3; ++c) {
      ax[c] += a * static_cast<float>(block.rgb[i][c]);
      bx[c] += b * static_cast<float>(block.rgb[i][c]);
    }
  }
  const float determinant = aa * bb - ab * ab;
  if (determinant < 1e-3f) return false;
  int ends[2][3];
  for (int c = 0; c < 3; ++c) {
    const int bits = c == 1 ? 6 : 5;
    const int top = (1 << bits) - 1;
    const float ideal0 = (ax[c] * bb - bx[c] * ab) / determinant;
    const float ideal1 = (bx[c] * aa - ax[c] * ab) / determinant;
    const int near0 = static_cast<int>(ideal0 * top / 255.0f + 0.5f);
    const int near1 = static_cast<int>(ideal1 * top / 255.0f + 0.5f);
    int best = INT_MAX;
    for (int q0 = near0 - 1; q0 <= near0 + 1; ++q0) {
      if (q0 < 0 || q0 > top) continue;
      for (int q1 = near1 - 1; q1 <= near1 + 1; ++q1) {
        if (q1 < 0 || q1 > top) continue;
        const int e0 = widen(q0, bits);
        const int e1 = widen(q1, bits);
        const int values[4] = {e0, e1, fourColour ? (2 * e0 + e1) / 3 : (e0 + e1) / 2,
                               (e0 + 2 * e1) / 3};
        int error = 0;
        for (int i = 0; i < 16; ++i) {
          if (((block.counted >> i) & 1) != 0) error += square(block.rgb[i][c] - values[index[i]]);
        }
        if (error < best) {
          best = error;
          ends[0][c] = q0;
          ends[1][c] = q1;
        }
      }
    }
    if (best == INT_MAX) return false;
  }
  fit->c0 = static_cast<uint16_t>(ends[0][0] << 11 | ends[0][1] << 5 | ends[0][2]);
  fit->c1 = static_cast<uint16_t>(ends[1][0] << 11 | ends[1][1] << 5 | ends[1][2]);
  return true;
}

// Puts the endpoints in the order that selects the mode (c0 > c1 for four colours, c0 <= c1 for
// three), renumbering the indices to match, and writes the 8 bytes.
void write_colour_block(ColourFit fit, bool fourColour, uint8_t* out) {
  if (fourColour && fit.c0 < fit.c1) {
    const uint16_t c = fit.c0;
    fit.c0 = fit.c1;
    fit.c1 = c;
    fit.indices ^= 0x55555555;  // 0 <-> 1, 2 <-> 3
  } else if (fourColour && fit.c0 == fit.c1) {
    fit.indices = 0;  // equal endpoints would read as three-colour mode: every pixel takes c0
  } else if (!fourColour && fit.c0 > fit.c1) {
    const uint16_t c = fit.c0;
    fit.c0 = fit.c1;
    fit.c1 = c;
    for (int i = 0; i < 16; ++i) {
      const uint32_t index = (fit.indices >> (2 * i)) & 3;
      if (index < 2) fit.indices ^= 1u << (2 * i);
    }
  }
  encode_u16(out, fit.c0);
  encode_u16(out + 2, fit.c1);
  encode_u32(out + 4, fit.indices);
}

void encode_colour_block(const uint8_t (&pixels)[64], bool dxt1, uint8_t* out) {
  ColourBlock block;
  block.counted = 0;
  int sum[3] = {0, 0, 0};
  int count = 0;
  for (int i = 0; i < 16; ++i) {
    for (int c = 0; c < 3; ++c) block.rgb[i][c] = pixels[4 * i + c];
    if (dxt1 && pixels[4 * i + 3] < 128) continue;
    block.counted |= 1u << i;
    for (int c = 0; c < 3; ++c) sum[c] += block.rgb[i][c];
    ++count;
  }
  const bool fourColour = block.counted == 0xFFFF;
  if (count == 0) {
    ColourFit clear;
    clear.indices = 0xFFFFFFFF;
    write_colour_block(clear, false, out);
    return;
  }
  // stb_dxt sees the counted pixels only: the others take their mean colour. It wants one alpha
  // value throughout, and a block aligned for its 32-bit reads.
  alignas(4) uint8_t source[64];
  for (int i = 0; i < 16; ++i) {
    const bool counted = ((block.counted >> i) & 1) != 0;
    for (int c = 0; c < 3; ++c) {
      source[4 * i + c] = static_cast<uint8_t>(counted ? block.rgb[i][c] : sum[c] / count);
    }
    source[4 * i + 3] = 255;
  }
  uint8_t start[8];
  stb_compress_dxt_block(start, source, 0, STB_DXT_HIGHQUAL);
  ColourFit fit;
  fit.c0 = decode_u16(start);
  fit.c1 = decode_u16(start + 2);
  match(block, fourColour, &fit);
  for (int round = 0; round < kRefineRounds && fit.error > 0; ++round) {
    ColourFit next = fit;
    if (!refit(block, fourColour, &next)) break;
    match(block, fourColour, &next);
    if (next.error >= fit.error) break;
    fit = next;
  }
  write_colour_block(fit, fourColour, out);
}

}  // namespace

void encode_dxt_block(DdsEncoding encoding, const uint8_t (&pixels)[64], uint8_t* block) {
  switch (encoding) {
    case DdsEncoding::kDxt1:
      encode_colour_block(pixels, true, block);
      break;
    case DdsEncoding::kDxt3:
      for (int i = 0; i < 8; ++i) {
        uint32_t pair = 0;
        for (int k = 0; k < 2; ++k) {
          const uint32_t alpha = pixels[4 * (2 * i + k) + 3];
          pair |= ((alpha * 15 + 127) / 255) << (4 * k);
        }
        block[i] = static_cast<uint8_t>(pair);
      }
      encode_colour_block(pixels, false, block + 8);
      break;
    case DdsEncoding::kDxt5: {
      uint8_t alpha[16];
      for (int i = 0; i < 16; ++i) alpha[i] = pixels[4 * i + 3];
      stb_compress_bc4_block(block, alpha);
      encode_colour_block(pixels, false, block + 8);
      break;
    }
    case DdsEncoding::kMasked:
      break;
  }
}
