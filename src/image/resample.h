#ifndef VINTREL_IMAGE_RESAMPLE_H_
#define VINTREL_IMAGE_RESAMPLE_H_

// Resampling images with stb_image_resize, and the alpha coverage that mip levels keep.

#include <cstdint>

class RgbaImage;
class Status;

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
