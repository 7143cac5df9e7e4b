// libFuzzer target for the PNG path: any bytes as a PNG file. An image that decodes is encoded
// again, which must decode to the same pixels, and made into a thumbnail. Besides the
// sanitizers' checks, a refusal must leave the image empty.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/byte_buffer.h"
#include "image/png_codec.h"
#include "image/rgba_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  RgbaImage image;
  if (!decode_png(data, static_cast<uint32_t>(size), &image, nullptr)) {
    if (!image.empty()) __builtin_trap();
    return 0;
  }
  ByteBuffer png;
  RgbaImage again;
  if (!encode_png(image, &png, nullptr) || !decode_png(png.data(), png.length(), &again, nullptr) ||
      again.width() != image.width() || again.height() != image.height() ||
      std::memcmp(again.pixels(), image.pixels(),
                  static_cast<size_t>(image.stride()) * image.height()) != 0) {
    __builtin_trap();
  }
  ByteBuffer thumbnail;
  if (!encode_thumbnail_png(image, 32, &thumbnail, nullptr)) __builtin_trap();
  return 0;
}
