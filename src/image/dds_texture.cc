#include "image/dds_texture.h"

#include <cstring>

#include "base/coding.h"
#include "image/dxt_block.h"
#include "image/image_status.h"
#include "image/rgba_image.h"

namespace {

const char* const kKindNames[] = {"flat texture", "cube map", "volume"};

// How many surfaces level mip has: one per face of a cube map, one per slice of a volume.
uint32_t surface_count(const DdsTexture& texture, uint32_t mip) {
  switch (texture.kind) {
    case DdsKind::kCube: {
      uint32_t count = 0;
      for (uint32_t f = 0; f < kCubeFaceCount; ++f) count += (texture.faces >> f) & 1;
      return count;
    }
    case DdsKind::kVolume:
      return mip_side(texture.depth, mip);
    case DdsKind::kFlat:
      break;
  }
  return 1;
}

uint64_t level_bytes(const DdsTexture& texture, uint32_t mip) {
  return dds_surface_bytes(texture.layout, mip_side(texture.width, mip),
                           mip_side(texture.height, mip)) *
         surface_count(texture, mip);
}

// The value of a channel widened (or narrowed) to 8 bits, rounded: v * 255 / (2^bits - 1).
uint8_t channel_value(uint32_t pixel, const DdsChannel& channel) {
  const uint64_t top = (uint64_t{1} << channel.bits) - 1;
  const uint64_t v = (pixel & channel.mask) >> channel.shift;
  return static_cast<uint8_t>((v * 255 + top / 2) / top);
}

// A channel's 8-bit values by its bits, worked out once per surface for channels of up to 8
// bits, so that a pixel costs no division; wider channels are worked out pixel by pixel.
class ChannelTable {
 public:
  explicit ChannelTable(const DdsChannel& channel) : channel_(channel) {
    if (channel.bits == 0 || channel.bits > 8) return;
    for (uint32_t v = 0; v < (1u << channel.bits); ++v) {
      values_[v] = channel_value(v << channel.shift, channel);
    }
  }

  // absent: what a pixel has where the format lacks the channel.
  uint8_t operator()(uint32_t pixel, uint8_t absent) const {
    if (channel_.bits == 0) return absent;
    if (channel_.bits > 8) return channel_value(pixel, channel_);
    return values_[(pixel & channel_.mask) >> channel_.shift];
  }

 private:
  DdsChannel channel_;
  uint8_t values_[256] = {};
};

void decode_masked(const DdsPixelLayout& layout, const uint8_t* bytes, uint32_t width,
                   uint32_t height, RgbaImage* image, uint32_t x0) {
  const uint32_t size = layout.pixelBytes;
  const ChannelTable red(layout.red);
  const ChannelTable green(layout.green);
  const ChannelTable blue(layout.blue);
  const ChannelTable alpha(layout.alpha);
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* out = image->row(y) + 4 * x0;
    const uint8_t* in = bytes + static_cast<uint64_t>(y) * width * size;
    for (uint32_t x = 0; x < width; ++x, in += size, out += 4) {
      uint32_t pixel = 0;
      for (uint32_t k = 0; k < size; ++k) pixel |= static_cast<uint32_t>(in[k]) << (8 * k);
      out[0] = red(pixel, 0);
      out[1] = layout.luminance ? out[0] : green(pixel, 0);
      out[2] = layout.luminance ? out[0] : blue(pixel, 0);
      out[3] = alpha(pixel, 255);
    }
  }
}

void decode_blocks(const DdsPixelLayout& layout, const uint8_t* bytes, uint32_t width,
                   uint32_t height, RgbaImage* image, uint32_t x0) {
  uint8_t pixels[64];
  for (uint32_t by = 0; by < height; by += 4) {
    for (uint32_t bx = 0; bx < width; bx += 4, bytes += layout.blockBytes) {
      decode_dxt_block(layout.encoding, bytes, pixels);
      // A block at the right or bottom edge may reach past the surface; those pixels are dropped.
      const uint32_t w = width - bx < 4 ? width - bx : 4;
      const uint32_t h = height - by < 4 ? height - by : 4;
      for (uint32_t y = 0; y < h; ++y) {
        std::memcpy(image->row(by + y) + 4 * (x0 + bx), pixels + 16 * y, 4 * w);
      }
    }
  }
}

}  // namespace

uint32_t full_mip_count(uint32_t width, uint32_t height, uint32_t depth) {
  uint32_t longest = width > height ? width : height;
  if (depth > longest) longest = depth;
  uint32_t count = 1;
  while (longest > 1) {
    longest >>= 1;
    ++count;
  }
  return count;
}

bool plan_dds_texture(const DdsHeader& header, DdsTexture* texture, Status* status) {
  *texture = DdsTexture();
  texture->header = header;
  if (!describe_dds_format(header.format, &texture->layout, status)) return false;
  const bool cube = (header.caps2 & kDdsCaps2CubeMap) != 0;
  const bool volume = (header.caps2 & kDdsCaps2Volume) != 0;
  if (cube && volume) {
    return image_fail(status, StatusCode::kUnsupported,
                      "a texture cannot be a cube map and a volume at once");
  }
  // A volume of one slice is a flat texture, as the metadata conversion has it.
  const bool slices = volume && header.depth > 1;
  texture->kind = cube ? DdsKind::kCube : slices ? DdsKind::kVolume : DdsKind::kFlat;
  texture->width = header.width;
  texture->height = header.height;
  texture->depth = slices ? header.depth : 1;
  if (cube) {
    texture->faces = (header.caps2 & kDdsCaps2AllFaces) / kDdsCaps2FirstFace;
    if (texture->faces == 0) texture->faces = (1u << kCubeFaceCount) - 1;
  }
  if (!check_image_size("the texture", texture->width, texture->height, status)) return false;
  if (texture->depth > kImageMaxSide) {
    return image_fail(status, StatusCode::kUnsupported,
                      "the volume has %u slices: the tool takes at most %u", texture->depth,
                      kImageMaxSide);
  }
  // Level 0 decoded: every face or slice side by side.
  const uint32_t surfaces = cube ? kCubeFaceCount : texture->depth;
  const uint64_t pixels = static_cast<uint64_t>(texture->width) * texture->height * surfaces;
  if (pixels > kImageMaxPixels) {
    return image_fail(status, StatusCode::kUnsupported,
                      "the %s is %u x %u pixels with %u %s: more than the %u pixels the tool "
                      "decodes at once",
                      kKindNames[static_cast<int>(texture->kind)], texture->width, texture->height,
                      surfaces, cube ? "faces" : "slices", kImageMaxPixels);
  }
  const uint32_t fullChain = full_mip_count(texture->width, texture->height, texture->depth);
  if (header.mipCount > fullChain) {
    return image_fail(
        status, StatusCode::kCorrupt,
        "the header declares %u mip levels, but a %s of %u x %u pixels has at most %u",
        header.mipCount, kKindNames[static_cast<int>(texture->kind)], texture->width,
        texture->height, fullChain);
  }
  texture->mipCount = header.mipCount > 1 ? header.mipCount : 1;
  // At most 15 levels of at most 2^26 pixels of at most 4 bytes each, times six faces: no sum
  // comes near 64 bits.
  for (uint32_t mip = 0; mip < texture->mipCount; ++mip) {
    texture->dataBytes += level_bytes(*texture, mip);
  }
  return true;
}

bool open_dds_texture(const uint8_t* data, uint32_t size, DdsTexture* texture, Status* status) {
  DdsHeader header;
  if (!read_dds_header(data, size, &header, status)) return false;
  if (!plan_dds_texture(header, texture, status)) return false;
  const uint32_t present = size - kDdsFileHeaderSize;
  if (texture->dataBytes > present) {
    char name[kPixelFormatNameSize];
    name_pixel_format(header.format, name);
    return image_fail(status, StatusCode::kCorrupt,
                      "the file ends inside its pixel data: the header declares %llu bytes (%s, "
                      "%u x %u, %u mip level%s), the file holds %u after the header",
                      static_cast<unsigned long long>(texture->dataBytes), name, texture->width,
                      texture->height, texture->mipCount, texture->mipCount == 1 ? "" : "s",
                      present);
  }
  return true;
}

void decode_surface(const DdsPixelLayout& layout, const uint8_t* bytes, uint32_t width,
                    uint32_t height, RgbaImage* image, uint32_t x0) {
  if (layout.encoding == DdsEncoding::kMasked) {
    decode_masked(layout, bytes, width, height, image, x0);
  } else {
    decode_blocks(layout, bytes, width, height, image, x0);
  }
}

bool decode_dds(const uint8_t* data, uint32_t size, uint32_t mip, RgbaImage* image, Status* status,
                DdsTexture* texture) {
  image->Release();
  DdsTexture local;
  DdsTexture& t = texture != nullptr ? *texture : local;
  if (!open_dds_texture(data, size, &t, status)) return false;
  if (mip >= t.mipCount) {
    return image_fail(status, StatusCode::kRefused,
                      "the texture has %u mip level%s (0 to %u): there is no level %u", t.mipCount,
                      t.mipCount == 1 ? "" : "s", t.mipCount - 1, mip);
  }
  const uint32_t width = mip_side(t.width, mip);
  const uint32_t height = mip_side(t.height, mip);
  const uint32_t slots = t.kind == DdsKind::kCube ? kCubeFaceCount : surface_count(t, mip);
  if (!image->Allocate(width * slots, height, status)) return false;

  const uint64_t surfaceBytes = dds_surface_bytes(t.layout, width, height);
  // A cube map stores each face's whole chain before the next face; a flat texture and a volume
  // store level after level, a volume's slices one after another within its level.
  const uint8_t* pixels = data + kDdsFileHeaderSize;
  if (t.kind == DdsKind::kCube) {
    uint64_t chainBytes = 0;
    uint64_t before = 0;
    for (uint32_t m = 0; m < t.mipCount; ++m) {
      const uint64_t bytes =
          dds_surface_bytes(t.layout, mip_side(t.width, m), mip_side(t.height, m));
      chainBytes += bytes;
      if (m < mip) before += bytes;
    }
    uint64_t offset = 0;
    for (uint32_t face = 0; face < kCubeFaceCount; ++face) {
      if (((t.faces >> face) & 1) == 0) continue;
      decode_surface(t.layout, pixels + offset + before, width, height, image, face * width);
      offset += chainBytes;
    }
    return true;
  }
  uint64_t offset = 0;
  for (uint32_t m = 0; m < mip; ++m) offset += level_bytes(t, m);
  for (uint32_t slice = 0; slice < slots; ++slice) {
    decode_surface(t.layout, pixels + offset + slice * surfaceBytes, width, height, image,
                   slice * width);
  }
  return true;
}
