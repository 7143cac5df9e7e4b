#ifndef VINTREL_IMAGE_RESAMPLE_H_
#define VINTREL_IMAGE_RESAMPLE_H_

// Resampling images with stb_image_resize, and the alpha coverage that mip levels keep.

#include <cstdint>

class RgbaImage;
class Status;

// An image in linear light, the form from which mip levels are resampled: R, G and B as linear
// intensity and A straight, each in 16 bits (0 to 65535), rows top to bottom without padding. A
// level resampled from another in this form keeps far more than the 8 bits of an RgbaImage, so
// that a chain of levels made from one another loses nothing to rounding. The block comes from
// the allocation hooks; not copyable.
class LinearImage {
 public:
  LinearImage() = default;
  ~LinearImage() { Release(); }
  LinearImage(const LinearImage&) = delete;
  LinearImage& operator=(const LinearImage&) = delete;

  // Makes the image width x height pixels, their values undefined, keeping its block when that
  // is large enough. False, with the reason in *status and the image empty, when the pixels are
  // more than kImageMaxPixels or the heap cannot give the block.
  bool Allocate(uint32_t width, uint32_t height, Status* status);
  void Release();
  void Swap(LinearImage& other);

  bool empty() const { return pixels_ == nullptr; }
  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }
  uint16_t* pixels() { return pixels_; }
  const uint16_t* pixels() const { return pixels_; }

 private:
  uint16_t* pixels_ = nullptr;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t capacity_ = 0;  // pixels the block holds
};

// image in linear light into *linear: colour through the sRGB curve, alpha times 257. False, with
// the reason in *status, when the heap cannot give the block.
bool linearise_image(const RgbaImage& image, LinearImage* linear, Status* status);

// linear back in 8-bit sRGB into *image: each colour value the nearest of the 256 sRGB values in
// linear light, alpha rounded. False, with the reason in *status, when the heap cannot give it.
bool encode_srgb_image(const LinearImage& linear, RgbaImage* image, Status* status);

// Resamples source to width x height into *out as resample_image does, but in linear light from
// end to end: no sRGB curve on the way in or out. out must not be &source.
bool resample_linear(const LinearImage& source, uint32_t width, uint32_t height, LinearImage* out,
                     Status* status);

// The same from an 8-bit image, which is taken into linear light (as linearise_image does) a band
// of some hundred rows at a time into *band, so that no copy of the whole image is made. The
// level is the one resample_linear makes from linearise_image's copy but for the last bits of the
// float arithmetic, since a band is placed a fraction of a row off: a few units of 65535 in
// colour, more only where the filtered alpha comes near zero and colour counts for little. out
// and band must be two images.
bool resample_to_linear(const RgbaImage& image, uint32_t width, uint32_t height, LinearImage* band,
                        LinearImage* out, Status* status);

// Resamples source to width x height into *out: colour taken from sRGB into linear light,
// filtered with each pixel weighted by its alpha (so that transparent pixels lend no colour),
// and back to sRGB; alpha filtered as it is. Mitchell's filter when shrinking, Catmull-Rom's
// when enlarging; the edges repeat the outermost pixels. False, with the reason in *status and
// *out empty, when the size is beyond the floor's limits or the heap cannot give what it needs.
// out must not be &source.
bool resample_image(const RgbaImage& source, uint32_t width, uint32_t height, RgbaImage* out,
                    Status* status);

// The pixels a cut-out test of alpha at one half keeps (alpha of 128 or more), as a fraction of
// all pixels: the coverage. 1 for an image without pixels.
double alpha_coverage(const RgbaImage& image);

// Scales the alpha of every pixel by the one factor that brings the image's coverage nearest to
// `coverage` (rounded, at most 255), as texture tools do for the mip levels of a cut-out
// texture, whose coverage would otherwise shrink or grow level by level. Alpha is left as it is
// when no factor comes nearer than 1.
void scale_alpha_to_coverage(RgbaImage* image, double coverage);

// A copy of image no larger than maxSide pixels a side, resampled as resample_image does, the
// sides keeping their proportion (each at least 1 pixel); a copy of the same size when image is
// no larger. False, with the reason, when maxSide is 0 or the heap cannot give it.
bool make_thumbnail(const RgbaImage& image, uint32_t maxSide, RgbaImage* thumbnail, Status* status);

#endif  // VINTREL_IMAGE_RESAMPLE_H_
