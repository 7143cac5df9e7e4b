#ifndef VINTREL_IMAGE_DDS_MAKE_H_
#define VINTREL_IMAGE_DDS_MAKE_H_

// Making a DDS texture from an RGBA image: the header to make comes from another texture's
// header ("like" it) or from a format's name and a mip count; make_dds then writes the header and
// every level.

#include <cstdint>

#include "image/dds_format.h"
#include "image/dds_header.h"

class ByteBuffer;
class RgbaImage;
class Status;

// A mip count that asks for the full chain, down to 1 x 1.
constexpr uint32_t kFullMipChain = 0;

// The header of a texture like `like`: a copy of it, its pixel format (masks included), width,
// height and mip count, and every other field as it is, so that a level 0 decoded from an
// A8R8G8B8 texture of one level gives the same file again. False, with the reason in *status,
// when like is a cube map or a volume (only flat textures are made), or plan_dds_texture refuses
// it: a format the floor cannot read, a size beyond its limits, more levels than the full chain.
bool dds_target_like(const DdsHeader& like, DdsHeader* target, Status* status);

// The header of a flat texture of width x height pixels in format with mipCount levels
// (kFullMipChain for the full chain), written as common writers write it: the flags of the
// fields given, the pitch (or for DXT the size of level 0), the caps of a mip-mapped texture
// when there are several levels. False, with the reason in *status, when the size is beyond the
// floor's limits or mipCount beyond the full chain.
bool dds_target_for_format(TextureFormat format, uint32_t width, uint32_t height, uint32_t mipCount,
                           DdsHeader* target, Status* status);

// Makes the texture that target describes (one of the two above) from image into *dds: the
// header, then every level as MipChain makes them (in linear light, colour weighted by alpha,
// alpha keeping the image's coverage when the format keeps alpha). An image of another size
// than the target's is refused, naming both sizes, unless `resize` asks for it to be resampled.
// False, with the reason in *status and *dds empty, on that refusal, when plan_dds_texture
// refuses the target or it is not flat, and when the heap cannot give what it needs.
bool make_dds(const RgbaImage& image, const DdsHeader& target, bool resize, ByteBuffer* dds,
              Status* status);

// What a texture is made like: a DDS header (dds_target_like), or else a format with a mip count
// at the image's own size (dds_target_for_format); `resize` as make_dds takes it.
struct DdsRecipe {
  const DdsHeader* like = nullptr;
  TextureFormat format = TextureFormat::kDxt1;
  uint32_t mipCount = kFullMipChain;
  bool resize = false;
};

// The texture commands' one call: decodes a PNG file's bytes (decode_png), works out the target
// from the recipe and makes the DDS into *dds (make_dds). False, with the first function's
// reason in *status and *dds empty, when any of them fails.
bool make_dds_from_png(const uint8_t* png, uint32_t size, const DdsRecipe& recipe, ByteBuffer* dds,
                       Status* status);

#endif  // VINTREL_IMAGE_DDS_MAKE_H_
