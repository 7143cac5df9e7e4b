#ifndef VINTREL_IMAGE_DDS_TEXTURE_H_
#define VINTREL_IMAGE_DDS_TEXTURE_H_

// What a DDS texture holds, and its decoding to RGBA.
//
// A decoded level is one image: a flat texture as it is; a cube map as its six faces side by
// side, left to right in the order the file stores them, +X, -X, +Y, -Y, +Z, -Z (a face the
// file lacks stays transparent black); a volume as its slices side by side, the first on the
// left. doc/texture_format.md describes the layout.

#include <cstdint>

#include "image/dds_format.h"
#include "image/dds_header.h"

class RgbaImage;
class Status;

enum class DdsKind : uint8_t { kFlat, kCube, kVolume };

constexpr uint32_t kCubeFaceCount = 6;

// The shape of a texture, worked out from its header and checked against the floor's limits.
struct DdsTexture {
  DdsHeader header;
  DdsPixelLayout layout;
  DdsKind kind = DdsKind::kFlat;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t depth = 1;     // a volume's slices at level 0; 1 otherwise
  uint32_t mipCount = 1;  // the header's count, 1 when it says 0
  uint32_t faces = 0;     // a cube map's faces present: bit i for face i of the order above
  // The bytes of pixel data that the header declares: every level of every face or slice.
  uint64_t dataBytes = 0;
};

// The side of level mip of a texture whose level 0 has this side: halved per level, at least 1.
inline uint32_t mip_side(uint32_t side, uint32_t mip) {
  return mip >= 32 || (side >> mip) == 0 ? 1 : side >> mip;
}

// The number of levels of a full mip chain down to 1 x 1 (x 1): 1 + log2 of the longest side.
uint32_t full_mip_count(uint32_t width, uint32_t height, uint32_t depth = 1);

// Works out the shape of a texture from its header. False, with the reason in *status, when its
// pixel format cannot be read (describe_dds_format), it is a cube map and a volume at once, a
// side (or a volume's depth) is 0 or beyond kImageMaxSide, its level 0 decoded (six faces of a
// cube map, every slice of a volume) holds more than kImageMaxPixels, or it declares more levels
// than its full mip chain. A cube map that names none of its faces is taken to hold all six; a
// volume of depth 0 or 1 is a flat texture.
bool plan_dds_texture(const DdsHeader& header, DdsTexture* texture, Status* status);

// Reads the header of a DDS file of size bytes and plans it (read_dds_header, plan_dds_texture),
// then checks that the file holds every byte its header declares. False, with the reason in
// *status, otherwise; nothing is allocated.
bool open_dds_texture(const uint8_t* data, uint32_t size, DdsTexture* texture, Status* status);

// Decodes level mip of a DDS file of size bytes into image, laid out as the top of this file
// says. False, with the reason in *status and image empty, when open_dds_texture fails, the
// texture has no level mip, or the heap cannot give the image; every check comes before the
// image is allocated. *texture, when given, receives the texture's shape.
bool decode_dds(const uint8_t* data, uint32_t size, uint32_t mip, RgbaImage* image, Status* status,
                DdsTexture* texture = nullptr);

// Decodes one surface of width x height pixels stored in layout from bytes, which hold
// dds_surface_bytes(layout, width, height), into image at column x0 (image wide enough).
void decode_surface(const DdsPixelLayout& layout, const uint8_t* bytes, uint32_t width,
                    uint32_t height, RgbaImage* image, uint32_t x0);

#endif  // VINTREL_IMAGE_DDS_TEXTURE_H_
