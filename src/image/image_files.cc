#include "image/image_files.h"

#include "base/byte_buffer.h"
#include "base/file.h"
#include "base/pending_file.h"
#include "base/status.h"
#include "image/dds_texture.h"
#include "image/png_codec.h"
#include "image/rgba_image.h"

bool read_png_file(const char* path, RgbaImage* image, Status* status) {
  image->Release();
  ByteBuffer bytes;
  Status local;
  Status* reason = status != nullptr ? status : &local;
  if (!read_whole_file(path, bytes, reason)) {
    reason->SetPath(path);
    return false;
  }
  if (!decode_png(bytes.data(), bytes.length(), image, reason)) {
    reason->SetPath(path);
    return false;
  }
  return true;
}

bool write_png_file(const char* path, const RgbaImage& image, Status* status) {
  ByteBuffer png;
  return encode_png(image, &png, status) && write_whole_file(path, png, status);
}

bool dds_level_png(const uint8_t* data, uint32_t size, uint32_t mip, RgbaImage* image,
                   ByteBuffer* png, Status* status, DdsTexture* texture) {
  return decode_dds(data, size, mip, image, status, texture) && encode_png(*image, png, status);
}
