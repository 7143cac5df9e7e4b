#include "image/thumbnail.h"

#include <cmath>

#include "image/dds_texture.h"
#include "image/image_status.h"
#include "image/resample.h"
#include "image/rgba_image.h"

namespace {

// The longer side of the probe whose PNG tells how large a PNG of the image becomes, and how much
// smaller than the probe foretells a thumbnail is made: a texture's larger thumbnail takes up to a
// quarter more bytes a pixel than its probe, and this keeps nearly every one to a single try.
constexpr uint32_t kProbeSide = 64;
constexpr double kProbeMargin = 0.9;

uint32_t longer_side(uint32_t width, uint32_t height) { return width > height ? width : height; }

// The longer side of level mip decoded: a cube map's faces and a volume's slices side by side.
uint32_t level_longer_side(const DdsTexture& texture, uint32_t mip) {
  uint32_t across = 1;
  if (texture.kind == DdsKind::kCube) across = kCubeFaceCount;
  if (texture.kind == DdsKind::kVolume) across = mip_side(texture.depth, mip);
  return longer_side(mip_side(texture.width, mip) * across, mip_side(texture.height, mip));
}

bool check_limits(const ThumbnailLimits& limits, Status* status) {
  if (limits.maxSide != 0 && limits.maxBytes != 0) return true;
  return image_fail(status, StatusCode::kRefused, "a thumbnail must be allowed a side and bytes");
}

}  // namespace

uint32_t thumbnail_mip(const DdsTexture& texture, uint32_t maxSide) {
  uint32_t mip = 0;
  while (mip + 1 < texture.mipCount && level_longer_side(texture, mip + 1) >= maxSide) ++mip;
  return mip;
}

// The side at which the thumbnail's PNG should just fit maxBytes, at most `side`; 0, with the
// reason in *status, when the probe cannot be made.
uint32_t ThumbnailMaker::PredictSide(const RgbaImage& image, uint32_t side, uint32_t maxBytes,
                                     Status* status) {
  if (side <= kProbeSide) return side;
  RgbaImage probe;
  if (!make_thumbnail(image, kProbeSide, &probe, status) ||
      !writer_.Write(probe, &probe_, status)) {
    return 0;
  }
  const double scale = std::sqrt(static_cast<double>(maxBytes) / probe_.length()) * kProbeMargin;
  const double predicted = longer_side(probe.width(), probe.height()) * scale;
  if (predicted >= side) return side;
  return predicted < 1 ? 1 : static_cast<uint32_t>(predicted);
}

// The thumbnail at `side` pixels on its longer side, or smaller until its PNG fits maxBytes.
bool ThumbnailMaker::Fit(const RgbaImage& image, uint32_t side, uint32_t maxBytes, ByteBuffer* png,
                         Status* status) {
  RgbaImage thumbnail;
  for (;;) {
    if (!make_thumbnail(image, side, &thumbnail, status) ||
        !writer_.Write(thumbnail, png, status)) {
      png->resize(0);
      return false;
    }
    if (png->length() <= maxBytes) return true;
    if (side == 1) {
      const uint32_t length = png->length();
      png->resize(0);
      return image_fail(status, StatusCode::kRefused,
                        "a thumbnail of one pixel takes %u bytes, more than the %u allowed", length,
                        maxBytes);
    }
    const double scale = std::sqrt(static_cast<double>(maxBytes) / png->length()) * 0.95;
    const uint32_t next = static_cast<uint32_t>(side * scale);
    side = next == 0 ? 1 : (next < side ? next : side - 1);
  }
}

bool ThumbnailMaker::FromImage(const RgbaImage& image, const ThumbnailLimits& limits,
                               ByteBuffer* png, Status* status) {
  png->resize(0);
  if (!check_limits(limits, status)) return false;
  const uint32_t longer = longer_side(image.width(), image.height());
  const uint32_t side = PredictSide(image, longer < limits.maxSide ? longer : limits.maxSide,
                                    limits.maxBytes, status);
  return side != 0 && Fit(image, side, limits.maxBytes, png, status);
}

bool ThumbnailMaker::FromDds(const uint8_t* dds, uint32_t size, const ThumbnailLimits& limits,
                             ByteBuffer* png, Status* status) {
  png->resize(0);
  DdsTexture texture;
  if (!check_limits(limits, status) || !open_dds_texture(dds, size, &texture, status)) {
    return false;
  }
  // Neither the probe nor the thumbnail decodes or resamples more than it shows.
  const uint32_t longer = level_longer_side(texture, 0);
  uint32_t side = longer < limits.maxSide ? longer : limits.maxSide;
  RgbaImage image;
  if (side > kProbeSide) {
    if (!decode_dds(dds, size, thumbnail_mip(texture, kProbeSide), &image, status)) return false;
    side = PredictSide(image, side, limits.maxBytes, status);
    if (side == 0) return false;
  }
  return decode_dds(dds, size, thumbnail_mip(texture, side), &image, status) &&
         Fit(image, side, limits.maxBytes, png, status);
}
