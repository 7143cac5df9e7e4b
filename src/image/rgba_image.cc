#include "image/rgba_image.h"

#include <cstring>

#include "base/alloc_hooks.h"
#include "image/image_status.h"

bool check_image_size(const char* what, uint32_t width, uint32_t height, Status* status) {
  if (width == 0 || height == 0) {
    return image_fail(status, StatusCode::kCorrupt, "%s is %u x %u pixels: it has no pixels", what,
                      width, height);
  }
  if (width > kImageMaxSide || height > kImageMaxSide) {
    return image_fail(status, StatusCode::kUnsupported,
                      "%s is %u x %u pixels: the tool takes at most %u pixels a side", what, width,
                      height, kImageMaxSide);
  }
  if (width > kImageMaxPixels / height) {
    return image_fail(status, StatusCode::kUnsupported,
                      "%s is %u x %u pixels: the tool takes at most %u pixels in all", what, width,
                      height, kImageMaxPixels);
  }
  return true;
}

bool RgbaImage::Allocate(uint32_t width, uint32_t height, Status* status) {
  Release();
  if (width == 0 || height == 0 || width > kImageMaxPixels / height) {
    return image_fail(status, StatusCode::kUnsupported,
                      "an image of %u x %u pixels is beyond the tool's %u pixels", width, height,
                      kImageMaxPixels);
  }
  // At most 2^26 pixels of 4 bytes: the size fits in 32 bits.
  const uint32_t bytes = width * height * 4;
  uint8_t* block = static_cast<uint8_t*>(AllocHooks.allocHook(bytes));
  if (block == nullptr) return image_out_of_memory(status);
  std::memset(block, 0, bytes);
  Adopt(block, width, height);
  return true;
}

void RgbaImage::Adopt(uint8_t* pixels, uint32_t width, uint32_t height) {
  Release();
  pixels_ = pixels;
  width_ = width;
  height_ = height;
}

bool RgbaImage::Assign(const RgbaImage& source, Status* status) {
  if (&source == this) return true;
  if (source.empty()) {
    Release();
    return true;
  }
  RgbaImage copy;
  if (!copy.Allocate(source.width_, source.height_, status)) return false;
  std::memcpy(copy.pixels_, source.pixels_, static_cast<size_t>(source.stride()) * source.height_);
  Swap(copy);
  return true;
}

void RgbaImage::Release() {
  if (pixels_ != nullptr) AllocHooks.freeHook(pixels_);
  pixels_ = nullptr;
  width_ = 0;
  height_ = 0;
}

void RgbaImage::Swap(RgbaImage& other) {
  uint8_t* pixels = pixels_;
  const uint32_t width = width_;
  const uint32_t height = height_;
  pixels_ = other.pixels_;
  width_ = other.width_;
  height_ = other.height_;
  other.pixels_ = pixels;
  other.width_ = width;
  other.height_ = height;
}
