#ifndef VINTREL_IMAGE_RGBA_IMAGE_H_
#define VINTREL_IMAGE_RGBA_IMAGE_H_

// An image of 8-bit RGBA pixels, and the limits that every image of the floor keeps.

#include <cstdint>

class Status;

// The longest side of a texture or a PNG the floor takes, and the most pixels it holds in one
// image (a cube map's six faces or a volume's slices together): 64 Mi pixels, 256 MiB of RGBA,
// which a 32-bit program can still find room for.
constexpr uint32_t kImageMaxSide = 16384;
constexpr uint32_t kImageMaxPixels = 1u << 26;

// Checks the size of what is about to be read against the limits, before anything is allocated
// for it. False, with the reason in *status naming the input as `what` ("the PNG", "the
// texture"), when a side is 0 or beyond kImageMaxSide, or the pixels are more than
// kImageMaxPixels.
bool check_image_size(const char* what, uint32_t width, uint32_t height, Status* status);

// Pixels are R, G, B, A bytes, rows top to bottom without padding (4 x width bytes a row), colour
// in sRGB and alpha straight (not premultiplied), as in a PNG. The block comes from the
// allocation hooks. Not copyable; Swap exchanges two images.
class RgbaImage {
 public:
  RgbaImage() = default;
  ~RgbaImage() { Release(); }
  RgbaImage(const RgbaImage&) = delete;
  RgbaImage& operator=(const RgbaImage&) = delete;

  // Makes the image width x height pixels of transparent black. False, with the reason in
  // *status and the image empty, when a side is 0, the pixels are more than kImageMaxPixels (an
  // image made by the floor may be wider than kImageMaxSide: a cube map's faces side by side), or
  // the heap cannot give the block.
  bool Allocate(uint32_t width, uint32_t height, Status* status);
  // Takes over a block from the allocation hooks that holds width x height pixels; the caller has
  // checked the size.
  void Adopt(uint8_t* pixels, uint32_t width, uint32_t height);
  // Makes this a copy of source. False, with the reason, when the heap cannot give the block.
  bool Assign(const RgbaImage& source, Status* status);
  void Release();
  void Swap(RgbaImage& other);

  bool empty() const { return pixels_ == nullptr; }
  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }
  // Bytes from one row to the next.
  uint32_t stride() const { return width_ * 4; }
  uint8_t* pixels() { return pixels_; }
  const uint8_t* pixels() const { return pixels_; }
  uint8_t* row(uint32_t y) { return pixels_ + static_cast<uint64_t>(y) * stride(); }
  const uint8_t* row(uint32_t y) const { return pixels_ + static_cast<uint64_t>(y) * stride(); }

 private:
  uint8_t* pixels_ = nullptr;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
};

#endif  // VINTREL_IMAGE_RGBA_IMAGE_H_
