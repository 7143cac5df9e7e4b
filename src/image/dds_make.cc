#include "image/dds_make.h"

#include <cstring>

#include "base/byte_buffer.h"
#include "image/dds_texture.h"
#include "image/dxt_block.h"
#include "image/image_status.h"
#include "image/mip_chain.h"
#include "image/png_codec.h"
#include "image/rgba_image.h"

namespace {

bool plan_flat(const DdsHeader& header, DdsTexture* texture, Status* status) {
  if (!plan_dds_texture(header, texture, status)) return false;
  if (texture->kind != DdsKind::kFlat) {
    return image_fail(status, StatusCode::kUnsupported,
                      "the texture is a %s: only flat textures can be made",
                      texture->kind == DdsKind::kCube ? "cube map" : "volume");
  }
  return true;
}

// A channel's bits, in place, for each 8-bit value: value * (2^bits - 1) / 255, rounded.
class ChannelPlacer {
 public:
  explicit ChannelPlacer(const DdsChannel& channel) {
    if (channel.bits == 0) return;
    const uint64_t top = (uint64_t{1} << channel.bits) - 1;
    for (uint32_t value = 0; value < 256; ++value) {
      bits_[value] = static_cast<uint32_t>((value * top + 127) / 255 << channel.shift);
    }
  }

  uint32_t operator()(uint8_t value) const { return bits_[value]; }

 private:
  uint32_t bits_[256] = {};
};

void encode_masked(const DdsPixelLayout& layout, const RgbaImage& level, uint8_t* out) {
  const ChannelPlacer red(layout.red);
  const ChannelPlacer green(layout.green);
  const ChannelPlacer blue(layout.blue);
  const ChannelPlacer alpha(layout.alpha);
  const uint64_t pixels = static_cast<uint64_t>(level.width()) * level.height();
  const uint8_t* p = level.pixels();
  for (uint64_t i = 0; i < pixels; ++i, p += 4) {
    uint32_t pixel = alpha(p[3]);
    if (layout.luminance) {
      // Luminance from the sRGB values with the weights of Rec. 709, which sum to 65536: grey
      // stays as it is.
      const uint32_t grey = (13933u * p[0] + 46871u * p[1] + 4732u * p[2] + 32768u) >> 16;
      pixel |= red(static_cast<uint8_t>(grey));
    } else {
      pixel |= red(p[0]) | green(p[1]) | blue(p[2]);
    }
    for (uint32_t k = 0; k < layout.pixelBytes; ++k) {
      *out++ = static_cast<uint8_t>(pixel >> (8 * k));
    }
  }
}

void encode_blocks(const DdsPixelLayout& layout, const RgbaImage& level, uint8_t* out) {
  const uint32_t width = level.width();
  const uint32_t height = level.height();
  uint8_t pixels[64];
  for (uint32_t by = 0; by < height; by += 4) {
    for (uint32_t bx = 0; bx < width; bx += 4, out += layout.blockBytes) {
      // A block that reaches past the edge repeats the last row and column, which the decoder
      // drops.
      for (uint32_t y = 0; y < 4; ++y) {
        const uint8_t* row = level.row(by + y < height ? by + y : height - 1);
        for (uint32_t x = 0; x < 4; ++x) {
          const uint32_t sx = bx + x < width ? bx + x : width - 1;
          std::memcpy(pixels + 4 * (4 * y + x), row + 4 * sx, 4);
        }
      }
      encode_dxt_block(layout.encoding, pixels, out);
    }
  }
}

void encode_level(const DdsPixelLayout& layout, const RgbaImage& level, uint8_t* out) {
  if (layout.encoding == DdsEncoding::kMasked) {
    encode_masked(layout, level, out);
  } else {
    encode_blocks(layout, level, out);
  }
}

}  // namespace

bool dds_target_like(const DdsHeader& like, DdsHeader* target, Status* status) {
  DdsTexture texture;
  if (!plan_flat(like, &texture, status)) return false;
  *target = like;
  target->hasDxgiFormat = false;
  return true;
}

bool dds_target_for_format(TextureFormat format, uint32_t width, uint32_t height, uint32_t mipCount,
                           DdsHeader* target, Status* status) {
  if (!check_image_size("the texture", width, height, status)) return false;
  const uint32_t fullChain = full_mip_count(width, height);
  if (mipCount > fullChain) {
    return image_fail(status, StatusCode::kRefused,
                      "a texture of %u x %u pixels has at most %u mip levels, not %u", width,
                      height, fullChain, mipCount);
  }
  const uint32_t mips = mipCount == kFullMipChain ? fullChain : mipCount;
  DdsHeader header;
  header.format = pixel_format_of(format);
  DdsPixelLayout layout;
  describe_dds_format(header.format, &layout, nullptr);
  const bool blocks = layout.encoding != DdsEncoding::kMasked;
  header.flags = kDdsFlagsTexture | (blocks ? kDdsFlagsLinearSize : kDdsFlagsPitch) |
                 (mips > 1 ? kDdsFlagsMipCount : 0);
  header.width = width;
  header.height = height;
  // At most 16384 pixels of 4 bytes a row, or 2^26 pixels of 1 byte in DXT blocks: 32 bits hold
  // either.
  header.pitchOrLinearSize = blocks
                                 ? static_cast<uint32_t>(dds_surface_bytes(layout, width, height))
                                 : width * layout.pixelBytes;
  header.mipCount = mips;
  header.caps = kDdsCapsTexture | (mips > 1 ? kDdsCapsComplex | kDdsCapsMipMap : 0);
  *target = header;
  return true;
}

bool make_dds(const RgbaImage& image, const DdsHeader& target, bool resize, ByteBuffer* dds,
              Status* status) {
  dds->resize(0);
  DdsTexture texture;
  if (!plan_flat(target, &texture, status)) return false;
  if ((image.width() != texture.width || image.height() != texture.height) && !resize) {
    return image_fail(status, StatusCode::kRefused,
                      "the image is %u x %u pixels, but the texture is %u x %u", image.width(),
                      image.height(), texture.width, texture.height);
  }
  // Level 0 of at most 2^26 pixels of 4 bytes, and a third more for the other levels.
  const uint64_t total = kDdsFileHeaderSize + texture.dataBytes;
  if (total > UINT32_MAX || !dds->resize(static_cast<uint32_t>(total))) {
    return image_out_of_memory(status);
  }
  write_dds_header(target, dds->data());

  const DdsPixelLayout& layout = texture.layout;
  const bool keepsAlpha = layout.encoding != DdsEncoding::kMasked || layout.alpha.bits != 0;
  MipChain levels(image, texture.width, texture.height, keepsAlpha);
  uint8_t* out = dds->data() + kDdsFileHeaderSize;
  for (uint32_t mip = 0; mip < texture.mipCount; ++mip) {
    const RgbaImage* level = levels.Next(status);
    if (level == nullptr) {
      dds->resize(0);
      return false;
    }
    encode_level(layout, *level, out);
    out += dds_surface_bytes(layout, level->width(), level->height());
  }
  return true;
}

bool make_dds_from_png(const uint8_t* png, uint32_t size, const DdsRecipe& recipe, ByteBuffer* dds,
                       Status* status) {
  dds->resize(0);
  RgbaImage image;
  DdsHeader target;
  if (!decode_png(png, size, &image, status)) return false;
  const bool planned = recipe.like != nullptr
                           ? dds_target_like(*recipe.like, &target, status)
                           : dds_target_for_format(recipe.format, image.width(), image.height(),
                                                   recipe.mipCount, &target, status);
  return planned && make_dds(image, target, recipe.resize, dds, status);
}
