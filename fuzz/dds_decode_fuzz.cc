// libFuzzer target for the DDS decoder: any bytes as a DDS file, decoded at its first and last
// level. A flat texture that decodes is then made again like its own header and decoded once
// more, which must succeed with the same size. Besides the sanitizers' checks, a refusal must
// leave the image empty.

#include <cstddef>
#include <cstdint>

#include "base/byte_buffer.h"
#include "image/dds_make.h"
#include "image/dds_texture.h"
#include "image/rgba_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  const uint32_t length = static_cast<uint32_t>(size);
  RgbaImage image;
  DdsTexture texture;
  if (!decode_dds(data, length, 0, &image, nullptr, &texture)) {
    if (!image.empty()) __builtin_trap();
    return 0;
  }
  RgbaImage last;
  if (!decode_dds(data, length, texture.mipCount - 1, &last, nullptr)) __builtin_trap();
  DdsHeader target;
  if (texture.kind != DdsKind::kFlat || !dds_target_like(texture.header, &target, nullptr)) {
    return 0;
  }
  ByteBuffer made;
  RgbaImage again;
  if (!make_dds(image, target, false, &made, nullptr) ||
      !decode_dds(made.data(), made.length(), 0, &again, nullptr) ||
      again.width() != image.width() || again.height() != image.height()) {
    __builtin_trap();
  }
  return 0;
}
