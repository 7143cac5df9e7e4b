#ifndef VINTREL_IMAGE_THUMBNAIL_H_
#define VINTREL_IMAGE_THUMBNAIL_H_

// Thumbnails for a report's page: each as large as it may be, up to a longest side, within a
// number of bytes of PNG.

#include <cstdint>

#include "base/byte_buffer.h"
#include "image/png_codec.h"

class RgbaImage;
class Status;
struct DdsTexture;

// What a thumbnail may take: its longer side in pixels, and the bytes of its PNG.
struct ThumbnailLimits {
  uint32_t maxSide = 256;
  uint32_t maxBytes = 0;
};

// The level of a texture that its thumbnail is made from: the smallest whose decoded image (a cube
// map's faces and a volume's slices side by side) is at least maxSide pixels on its longer side,
// or level 0 when none is, so that a large texture is not decoded whole for a small picture.
uint32_t thumbnail_mip(const DdsTexture& texture, uint32_t maxSide);

// Makes thumbnails one after another, keeping its PNG writer from one to the next: one per thread.
class ThumbnailMaker {
 public:
  // A thumbnail of image (make_thumbnail) as large as limits allow, as a compact PNG
  // (encode_compact_png) into *png: at most limits.maxSide pixels on its longer side (and never
  // larger than the image), its PNG at most limits.maxBytes. Since a PNG's size follows its
  // pixels, the side is found from a probe of at most 64 pixels a side, whose PNG, scaled to
  // limits.maxBytes, gives the side to make (a tenth smaller, since a larger thumbnail of a
  // texture may take up to a quarter more bytes a pixel); when that PNG is still too large, the
  // side shrinks by the square root of the excess and a twentieth more, and the thumbnail is made
  // again. False, with the reason in *status and *png empty, when even a thumbnail of one pixel
  // takes more than limits.maxBytes, a limit is 0, or the heap cannot give what it needs.
  bool FromImage(const RgbaImage& image, const ThumbnailLimits& limits, ByteBuffer* png,
                 Status* status);

  // A thumbnail of the DDS file of size bytes as FromImage makes one, its probe and its picture
  // each made from the smallest level that is large enough for them (thumbnail_mip). False, with
  // the reason in *status and *png empty, when the texture cannot be decoded (open_dds_texture's
  // reasons) or the thumbnail made.
  bool FromDds(const uint8_t* dds, uint32_t size, const ThumbnailLimits& limits, ByteBuffer* png,
               Status* status);

 private:
  uint32_t PredictSide(const RgbaImage& image, uint32_t side, uint32_t maxBytes, Status* status);
  bool Fit(const RgbaImage& image, uint32_t side, uint32_t maxBytes, ByteBuffer* png,
           Status* status);

  CompactPngWriter writer_;
  ByteBuffer probe_;  // the probe's PNG
};

#endif  // VINTREL_IMAGE_THUMBNAIL_H_
