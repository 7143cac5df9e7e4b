#include "image/resample.h"

#include <stb_image_resize.h>

#include <cmath>
#include <utility>

#include "base/alloc_hooks.h"
#include "image/image_status.h"
#include "image/rgba_image.h"

namespace {

constexpr uint32_t kLinearTop = 65535;

// The sRGB curve of a value in [0, 1] to linear light.
double srgb_to_linear(double value) {
  return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

// The two conversions between 8-bit sRGB and 16-bit linear values, worked out once: 256 values
// one way, and for the way back each 16-bit value's 8-bit one, which changes where the linear
// value passes the midpoint of two sRGB values (rounding in sRGB, as the curve's inverse would).
struct SrgbTables {
  uint16_t toLinear[256];
  uint8_t toSrgb[kLinearTop + 1];

  SrgbTables() {
    for (uint32_t n = 0; n < 256; ++n) {
      toLinear[n] = static_cast<uint16_t>(std::lround(srgb_to_linear(n / 255.0) * kLinearTop));
    }
    uint32_t n = 0;
    double next = srgb_to_linear(0.5 / 255.0) * kLinearTop;  // where n + 1 begins
    for (uint32_t v = 0; v <= kLinearTop; ++v) {
      while (n < 255 && v >= next) {
        ++n;
        next = n < 255 ? srgb_to_linear((n + 0.5) / 255.0) * kLinearTop : kLinearTop + 1.0;
      }
      toSrgb[v] = static_cast<uint8_t>(n);
    }
  }
};

const SrgbTables& srgb_tables() {
  static const SrgbTables tables;
  return tables;
}

// Rows [first, first + count) of image in linear light into out, as linearise_image takes them.
void linearise_rows(const RgbaImage& image, uint32_t first, uint32_t count, uint16_t* out) {
  const uint16_t* toLinear = srgb_tables().toLinear;
  const uint64_t values = 4 * static_cast<uint64_t>(image.width()) * count;
  const uint8_t* in = image.row(first);
  for (uint64_t i = 0; i < values; i += 4) {
    out[i] = toLinear[in[i]];
    out[i + 1] = toLinear[in[i + 1]];
    out[i + 2] = toLinear[in[i + 2]];
    out[i + 3] = static_cast<uint16_t>(in[i + 3] * 257);
  }
}

// stb_image_resize on 16-bit RGBA in linear light, colour weighted by alpha, the edges repeating
// the outer pixels; the scales and the shift place the output's rows as stbir_resize_subpixel
// has it. False when it cannot take its working memory.
bool resize_linear(const uint16_t* in, uint32_t inWidth, uint32_t inHeight, uint16_t* out,
                   uint32_t width, uint32_t height, float xScale, float yScale, float yShift) {
  return stbir_resize_subpixel(in, static_cast<int>(inWidth), static_cast<int>(inHeight),
                               static_cast<int>(inWidth * 8), out, static_cast<int>(width),
                               static_cast<int>(height), static_cast<int>(width * 8),
                               STBIR_TYPE_UINT16, 4, 3, 0, STBIR_EDGE_CLAMP, STBIR_EDGE_CLAMP,
                               STBIR_FILTER_DEFAULT, STBIR_FILTER_DEFAULT, STBIR_COLORSPACE_LINEAR,
                               nullptr, xScale, yScale, 0, yShift) != 0;
}

// As stb_image_resize works out a scale from two sizes.
float scale_of(uint32_t to, uint32_t from) {
  return static_cast<float>(to) / static_cast<float>(from);
}

// The rows of the image that resample_to_linear takes into linear light at a time, about.
constexpr uint32_t kBandRows = 512;

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

bool LinearImage::Allocate(uint32_t width, uint32_t height, Status* status) {
  if (width == 0 || height == 0 || width > kImageMaxPixels / height) {
    Release();
    return image_fail(status, StatusCode::kUnsupported,
                      "an image of %u x %u pixels is beyond the tool's %u pixels", width, height,
                      kImageMaxPixels);
  }
  if (width * height > capacity_) {
    Release();
    // At most 2^26 pixels of 8 bytes: the size fits in 32 bits.
    pixels_ = static_cast<uint16_t*>(AllocHooks.allocHook(width * height * 8));
    if (pixels_ == nullptr) return image_out_of_memory(status);
    capacity_ = width * height;
  }
  width_ = width;
  height_ = height;
  return true;
}

void LinearImage::Release() {
  if (pixels_ != nullptr) AllocHooks.freeHook(pixels_);
  pixels_ = nullptr;
  width_ = 0;
  height_ = 0;
  capacity_ = 0;
}

void LinearImage::Swap(LinearImage& other) {
  std::swap(pixels_, other.pixels_);
  std::swap(width_, other.width_);
  std::swap(height_, other.height_);
  std::swap(capacity_, other.capacity_);
}

bool linearise_image(const RgbaImage& image, LinearImage* linear, Status* status) {
  if (!linear->Allocate(image.width(), image.height(), status)) return false;
  linearise_rows(image, 0, image.height(), linear->pixels());
  return true;
}

bool encode_srgb_image(const LinearImage& linear, RgbaImage* image, Status* status) {
  if (!image->Allocate(linear.width(), linear.height(), status)) return false;
  const uint8_t* toSrgb = srgb_tables().toSrgb;
  const uint64_t values = 4 * static_cast<uint64_t>(linear.width()) * linear.height();
  const uint16_t* in = linear.pixels();
  uint8_t* out = image->pixels();
  for (uint64_t i = 0; i < values; i += 4) {
    out[i] = toSrgb[in[i]];
    out[i + 1] = toSrgb[in[i + 1]];
    out[i + 2] = toSrgb[in[i + 2]];
    out[i + 3] = static_cast<uint8_t>((in[i + 3] * 255u + kLinearTop / 2) / kLinearTop);
  }
  return true;
}

bool resample_linear(const LinearImage& source, uint32_t width, uint32_t height, LinearImage* out,
                     Status* status) {
  if (!out->Allocate(width, height, status)) return false;
  if (!resize_linear(source.pixels(), source.width(), source.height(), out->pixels(), width, height,
                     scale_of(width, source.width()), scale_of(height, source.height()), 0)) {
    out->Release();
    return image_out_of_memory(status);
  }
  return true;
}

bool resample_to_linear(const RgbaImage& image, uint32_t width, uint32_t height, LinearImage* band,
                        LinearImage* out, Status* status) {
  if (!out->Allocate(width, height, status)) return false;
  const uint32_t inWidth = image.width();
  const uint32_t inHeight = image.height();
  const float xScale = scale_of(width, inWidth);
  const float yScale = scale_of(height, inHeight);
  const double rowsPerRow = static_cast<double>(inHeight) / height;
  // The rows beyond a band's own that its output rows reach: Mitchell's filter reaches 2 output
  // rows either side when shrinking, Catmull-Rom's 2 image rows when enlarging; one more for
  // rounding. Rows that stb_image_resize repeats past a band's edges then reach no output row of
  // the band but at the image's own edges, where it repeats them as it would for the whole.
  const uint32_t reach =
      static_cast<uint32_t>(std::ceil(2 * (rowsPerRow > 1 ? rowsPerRow : 1))) + 1;
  const uint32_t bandOut =
      rowsPerRow < kBandRows ? static_cast<uint32_t>(kBandRows / rowsPerRow) : 1;
  for (uint32_t y0 = 0; y0 < height; y0 += bandOut) {
    const uint32_t y1 = height - y0 > bandOut ? y0 + bandOut : height;
    const double top = std::floor(y0 * rowsPerRow) - reach;
    const double bottom = std::ceil(y1 * rowsPerRow) + reach;
    const uint32_t first = top > 0 ? static_cast<uint32_t>(top) : 0;
    const uint32_t end = bottom < inHeight ? static_cast<uint32_t>(bottom) : inHeight;
    if (!band->Allocate(inWidth, end - first, status)) {
      out->Release();
      return false;
    }
    linearise_rows(image, first, end - first, band->pixels());
    if (!resize_linear(band->pixels(), inWidth, end - first,
                       out->pixels() + 4 * static_cast<uint64_t>(y0) * width, width, y1 - y0,
                       xScale, yScale,
                       static_cast<float>(y0 - first * static_cast<double>(yScale)))) {
      out->Release();
      return image_out_of_memory(status);
    }
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
