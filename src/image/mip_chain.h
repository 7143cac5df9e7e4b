#ifndef VINTREL_IMAGE_MIP_CHAIN_H_
#define VINTREL_IMAGE_MIP_CHAIN_H_

// The mip levels of a texture, made from an image one after another.

#include <cstdint>

#include "image/resample.h"
#include "image/rgba_image.h"

class Status;

// Levels from level 0 down, level m being mip_side(width, m) x mip_side(height, m) pixels. Level
// 0 is the image itself when it has that size, and resampled from it otherwise. Every resampled
// level is made in linear light with 16 bits a channel (resample_linear): levels 0 to 4 from the
// image, each later level k from level k - 4, which was never rounded to 8 bits, so that no level
// is made from more than 16 times its size a side (stb_image_resize's cost per level grows with
// the ratio: straight from the image, the levels of a 2048 x 2048 texture cost more than the
// rest of its making; doc/benchmarks.md). When keepCoverage is set and the image has alpha below
// 255, each resampled level's alpha is scaled to the image's coverage (scale_alpha_to_coverage),
// so that a cut-out keeps its shape in the distance. image must outlive the chain.
class MipChain {
 public:
  MipChain(const RgbaImage& image, uint32_t width, uint32_t height, bool keepCoverage);
  MipChain(const MipChain&) = delete;
  MipChain& operator=(const MipChain&) = delete;

  // The next level, valid until the next call. Null, with the reason in *status, when the heap
  // cannot give what it needs.
  const RgbaImage* Next(Status* status);

 private:
  static constexpr uint32_t kStep = 4;

  const RgbaImage& image_;
  uint32_t width_;
  uint32_t height_;
  bool scaleAlpha_;
  double coverage_ = 1;
  uint32_t mip_ = 0;           // the level Next makes
  LinearImage band_;           // rows of the image in linear light, while levels come from it
  LinearImage recent_[kStep];  // level k in slot k % kStep, until level k + kStep is made
  LinearImage made_;
  RgbaImage level_;
};

#endif  // VINTREL_IMAGE_MIP_CHAIN_H_
