#ifndef VINTREL_IMAGE_PNG_CODEC_H_
#define VINTREL_IMAGE_PNG_CODEC_H_

// PNG images to and from RGBA, through stb_image and stb_image_write.

#include <zlib.h>

#include <cstdint>

#include "base/byte_buffer.h"

class RgbaImage;
class Status;

// Decodes a PNG of any kind (grey, grey with alpha, RGB, RGBA or palette; 1 to 16 bits a
// channel; interlaced or not; a tRNS chunk gives alpha) into 8-bit RGBA; 16-bit channels keep
// their high byte. Before anything is allocated it checks the signature, that the file holds
// every chunk it declares up to IEND and at least one IDAT, the size in IHDR against the floor's
// limits (check_image_size), and that the compressed data could inflate to the rows IHDR
// declares (deflate inflates at most 1032 times), so that no more is allocated than the file
// can fill. False, with the reason in *status and image empty, on any
// of those, when the compressed data cannot be decoded (stb_image's reason in parentheses), or
// when the heap cannot give the image. Chunk CRCs are not checked.
bool decode_png(const uint8_t* data, uint32_t size, RgbaImage* image, Status* status);

// Encodes image as an 8-bit RGBA PNG into *png (replacing what it held). False, with the reason,
// when the heap cannot give what the encoder needs.
bool encode_png(const RgbaImage& image, ByteBuffer* png, Status* status);

// Encodes image as a small PNG quickly, for a report's page: 8-bit RGB when every pixel is opaque,
// RGBA otherwise; every row Paeth-filtered, the rows deflated by zlib (runs and Huffman codes) in
// one IDAT chunk. Lossless: decode_png gives the same pixels back. It takes a fifth to two fifths
// of encode_png's time; its files are up to two fifths smaller on photographs and paintings (on a
// few no smaller), and about a fifth larger on small sprites that are mostly transparent. False,
// with the reason, when the image holds more than 1 GiB of rows or the heap cannot give what it
// needs.
bool encode_compact_png(const RgbaImage& image, ByteBuffer* png, Status* status);

// Writes compact PNGs one after another, as encode_compact_png does, keeping its zlib stream and
// its buffer from one to the next, so that a thread that makes many thumbnails does not take and
// give back their blocks each time. One per thread.
class CompactPngWriter {
 public:
  CompactPngWriter();
  ~CompactPngWriter();
  CompactPngWriter(const CompactPngWriter&) = delete;
  CompactPngWriter& operator=(const CompactPngWriter&) = delete;

  // encode_compact_png.
  bool Write(const RgbaImage& image, ByteBuffer* png, Status* status);

 private:
  z_stream stream_;
  bool made_ = false;
  ByteBuffer rows_;  // the filtered rows
};

// A thumbnail of image (make_thumbnail: at most maxSide pixels a side) encoded as a PNG, for a
// report's page.
bool encode_thumbnail_png(const RgbaImage& image, uint32_t maxSide, ByteBuffer* png,
                          Status* status);

#endif  // VINTREL_IMAGE_PNG_CODEC_H_
