#include "image/png_codec.h"

#include <stb_image.h>
#include <stb_image_write.h>

#include <climits>
#include <cstring>

#include "base/byte_buffer.h"
#include "image/image_status.h"
#include "image/resample.h"
#include "image/rgba_image.h"

namespace {

const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint32_t kChunkOverhead = 12;  // length, type, CRC
constexpr uint32_t kHeaderLength = 13;   // IHDR's data
constexpr uint32_t kLargestChunk = 0x7FFFFFFF;

// PNG stores its numbers big-endian.
uint32_t read_be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

bool is_type(const uint8_t* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

// A chunk's type as text, for a message; a byte that is not a letter shows as '?'.
void type_text(const uint8_t* type, char (&out)[5]) {
  for (int i = 0; i < 4; ++i) {
    const bool letter = (type[i] >= 'A' && type[i] <= 'Z') || (type[i] >= 'a' && type[i] <= 'z');
    out[i] = letter ? static_cast<char>(type[i]) : '?';
  }
  out[4] = '\0';
}

// Walks the chunks from the signature to IEND without reading their data.
bool check_png(const uint8_t* data, uint32_t size, Status* status) {
  if (size < sizeof(kSignature) || std::memcmp(data, kSignature, sizeof(kSignature)) != 0) {
    return image_fail(status, StatusCode::kUnsupported,
                      "not a PNG image: the file does not begin with the PNG signature");
  }
  uint32_t position = sizeof(kSignature);
  bool first = true;
  bool imageData = false;
  for (;;) {
    if (size - position < kChunkOverhead) {
      return image_fail(status, StatusCode::kCorrupt,
                        "the PNG is truncated: it ends after %u bytes, before its IEND chunk",
                        size);
    }
    const uint32_t length = read_be32(data + position);
    const uint8_t* type = data + position + 4;
    char name[5];
    type_text(type, name);
    if (length > kLargestChunk) {
      return image_fail(status, StatusCode::kCorrupt, "the PNG's \"%s\" chunk declares %u bytes",
                        name, length);
    }
    if (length > size - position - kChunkOverhead) {
      return image_fail(status, StatusCode::kCorrupt,
                        "the PNG is truncated: its \"%s\" chunk declares %u bytes, %u remain", name,
                        length, size - position - kChunkOverhead);
    }
    if (first) {
      if (!is_type(type, "IHDR") || length != kHeaderLength) {
        return image_fail(status, StatusCode::kCorrupt,
                          "the PNG does not begin with its 13-byte IHDR chunk");
      }
      const uint32_t width = read_be32(data + position + 8);
      const uint32_t height = read_be32(data + position + 12);
      if (!check_image_size("the PNG", width, height, status)) return false;
      first = false;
    }
    imageData = imageData || is_type(type, "IDAT");
    if (is_type(type, "IEND")) break;
    position += kChunkOverhead + length;
  }
  if (!imageData) {
    return image_fail(status, StatusCode::kCorrupt, "the PNG has no image data (IDAT chunk)");
  }
  return true;
}

struct PngSink {
  ByteBuffer* out;
  bool ok;
};

void append_to_sink(void* context, void* data, int size) {
  PngSink* sink = static_cast<PngSink*>(context);
  if (size <= 0 || !sink->ok) return;
  sink->ok = ByteWriter(*sink->out).write_bytes(data, static_cast<uint32_t>(size));
}

}  // namespace

bool decode_png(const uint8_t* data, uint32_t size, RgbaImage* image, Status* status) {
  image->Release();
  if (!check_png(data, size, status)) return false;
  if (size > INT_MAX) {
    return image_fail(status, StatusCode::kUnsupported, "the PNG is larger than 2 GiB");
  }
  int width = 0;
  int height = 0;
  int channels = 0;
  uint8_t* pixels =
      stbi_load_from_memory(data, static_cast<int>(size), &width, &height, &channels, 4);
  if (pixels == nullptr) {
    const char* reason = stbi_failure_reason();
    if (reason != nullptr && std::strcmp(reason, "outofmem") == 0) {
      return image_out_of_memory(status);
    }
    return image_fail(status, StatusCode::kCorrupt, "the PNG's image data cannot be decoded (%s)",
                      reason != nullptr ? reason : "no reason given");
  }
  // stb_image took the block from the allocation hooks (stb_image.cc).
  image->Adopt(pixels, static_cast<uint32_t>(width), static_cast<uint32_t>(height));
  return true;
}

bool encode_png(const RgbaImage& image, ByteBuffer* png, Status* status) {
  png->resize(0);
  PngSink sink = {png, true};
  const int done = stbi_write_png_to_func(append_to_sink, &sink, static_cast<int>(image.width()),
                                          static_cast<int>(image.height()), 4, image.pixels(),
                                          static_cast<int>(image.stride()));
  if (done == 0 || !sink.ok) {
    png->resize(0);
    return image_out_of_memory(status);
  }
  return true;
}

bool encode_thumbnail_png(const RgbaImage& image, uint32_t maxSide, ByteBuffer* png,
                          Status* status) {
  RgbaImage thumbnail;
  return make_thumbnail(image, maxSide, &thumbnail, status) && encode_png(thumbnail, png, status);
}
