#include "image/resample.h"

#include <stb_image_resize.h>

#include "image/image_status.h"
#include "image/rgba_image.h"

namespace {

constexpr uint32_t kCovered = 128;  // the alpha at which a cut-out test keeps a pixel

// For each alpha value v, how many pixels have an alpha of v or more.
void count_alpha_at_least(const RgbaImage& image, uint64_t (&atLeast)[257]) {
  uint64_t histogram[256] = {};
  const uint64_t pixels = static_cast<uint64_t>(image.width()) * image.height();
  const uint8_t* p = image.pixels();
  for (uint64_t i = 0; i < pixels; ++i) ++histogram[p[4 * i + 3]];
  atLeast[256] = 0;
  for (int v = 255; v >= 0; --v) atLeast[v] = atLeast[v + 1] + histogram[v];
}

uint64_t distance(uint64_t a, uint64_t b) { return a > b ? a - b : b - a; }

}  // namespace

bool resample_image(const RgbaImage& source, uint32_t width, uint32_t height, RgbaImage* out,
                    Status* status) {
  if (!out->Allocate(width, height, status)) return false;
  const int done = stbir_resize_uint8_generic(
      source.pixels(), static_cast<int>(source.width()), static_cast<int>(source.height()),
      static_cast<int>(source.stride()), out->pixels(), static_cast<int>(width),
      static_cast<int>(height), static_cast<int>(out->stride()), 4, 3, 0, STBIR_EDGE_CLAMP,
      STBIR_FILTER_DEFAULT, STBIR_COLORSPACE_SRGB, nullptr);
  if (done == 0) {
    out->Release();
    return image_out_of_memory(status);
  }
  return true;
}

double alpha_coverage(const RgbaImage& image) {
  const uint64_t pixels = static_cast<uint64_t>(image.width()) * image.height();
  if (pixels == 0) return 1;
  uint64_t atLeast[257];
  count_alpha_at_least(image, atLeast);
  return static_cast<double>(atLeast[kCovered]) / static_cast<double>(pixels);
}

void scale_alpha_to_coverage(RgbaImage* image, double coverage) {
  const uint64_t pixels = static_cast<uint64_t>(image->width()) * image->height();
  if (pixels == 0) return;
  uint64_t atLeast[257];
  count_alpha_at_least(*image, atLeast);
  const uint64_t wanted = static_cast<uint64_t>(coverage * static_cast<double>(pixels) + 0.5);
  // Scaling by s keeps the pixels whose alpha v has round(v * s) >= 128, which are those with
  // v >= t for some threshold t: choose the threshold whose count comes nearest, the one nearest
  // to 128 among equals, and the factor that takes it to exactly 127.5, 255 / (2t - 1).
  uint32_t threshold = kCovered;
  for (uint32_t t = 1; t <= 255; ++t) {
    const uint64_t d = distance(atLeast[t], wanted);
    const uint64_t best = distance(atLeast[threshold], wanted);
    const uint32_t fromHalf = t > kCovered ? t - kCovered : kCovered - t;
    const uint32_t bestFromHalf =
        threshold > kCovered ? threshold - kCovered : kCovered - threshold;
    if (d < best || (d == best && fromHalf < bestFromHalf)) threshold = t;
  }
  if (threshold == kCovered) return;
  const uint32_t divisor = 2 * threshold - 1;
  uint8_t scaled[256];
  for (uint32_t v = 0; v < 256; ++v) {
    const uint32_t s = (2 * v * 255 + divisor) / (2 * divisor);  // v * 255 / divisor, rounded
    scaled[v] = static_cast<uint8_t>(s > 255 ? 255 : s);
  }
  uint8_t* p = image->pixels();
  for (uint64_t i = 0; i < pixels; ++i) p[4 * i + 3] = scaled[p[4 * i + 3]];
}

bool make_thumbnail(const RgbaImage& image, uint32_t maxSide, RgbaImage* thumbnail,
                    Status* status) {
  if (maxSide == 0) {
    return image_fail(status, StatusCode::kRefused, "a thumbnail must be at least 1 pixel a side");
  }
  const uint32_t w = image.width();
  const uint32_t h = image.height();
  if (w <= maxSide && h <= maxSide) return thumbnail->Assign(image, status);
  const uint64_t longer = w > h ? w : h;
  uint64_t tw = (static_cast<uint64_t>(w) * maxSide + longer / 2) / longer;
  uint64_t th = (static_cast<uint64_t>(h) * maxSide + longer / 2) / longer;
  if (tw == 0) tw = 1;
  if (th == 0) th = 1;
  return resample_image(image, static_cast<uint32_t>(tw), static_cast<uint32_t>(th), thumbnail,
                        status);
}
