#include "image/mip_chain.h"

#include "image/dds_texture.h"

namespace {

bool has_alpha_below_opaque(const RgbaImage& image) {
  const uint64_t pixels = static_cast<uint64_t>(image.width()) * image.height();
  const uint8_t* p = image.pixels();
  for (uint64_t i = 0; i < pixels; ++i) {
    if (p[4 * i + 3] != 255) return true;
  }
  return false;
}

}  // namespace

MipChain::MipChain(const RgbaImage& image, uint32_t width, uint32_t height, bool keepCoverage)
    : image_(image),
      width_(width),
      height_(height),
      scaleAlpha_(keepCoverage && has_alpha_below_opaque(image)) {
  if (scaleAlpha_) coverage_ = alpha_coverage(image);
}

const RgbaImage* MipChain::Next(Status* status) {
  const uint32_t mip = mip_++;
  const uint32_t width = mip_side(width_, mip);
  const uint32_t height = mip_side(height_, mip);
  if (width == image_.width() && height == image_.height()) return &image_;
  const bool made = mip <= kStep
                        ? resample_to_linear(image_, width, height, &band_, &made_, status)
                        : resample_linear(recent_[mip % kStep], width, height, &made_, status);
  if (!made || !encode_srgb_image(made_, &level_, status)) return nullptr;
  if (scaleAlpha_) scale_alpha_to_coverage(&level_, coverage_);
  // The slot held level mip - kStep, which no later level needs.
  recent_[mip % kStep].Swap(made_);
  if (mip == kStep) band_.Release();
  return &level_;
}
