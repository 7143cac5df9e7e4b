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
// Deflate makes at most 258 bytes of 2 bits: no stream inflates to more than 1032 times its
// size.
constexpr uint64_t kLargestInflation = 1032;

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

// The bytes of the image's rows as the compressed data holds them, a filter byte in front of
// each; interlaced images have more. 0 for a colour type PNG does not have.
uint64_t row_bytes(uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colourType) {
  const uint32_t channels[7] = {1, 0, 3, 1, 2, 0, 4};
  if (colourType > 6 || channels[colourType] == 0) return 0;
  const uint64_t bits = static_cast<uint64_t>(width) * channels[colourType] * bitDepth;
  return static_cast<uint64_t>(height) * (1 + (bits + 7) / 8);
}

// Walks the chunks from the signature to IEND without reading their data, and checks that the
// image data could inflate to the rows that IHDR declares, so that stb_image, which takes room
// for them first, is never asked to take more than the file can fill.
bool check_png(const uint8_t* data, uint32_t size, Status* status) {
  if (size < sizeof(kSignature) || std::memcmp(data, kSignature, sizeof(kSignature)) != 0) {
    return image_fail(status, StatusCode::kUnsupported,
                      "not a PNG image: the file does not begin with the PNG signature");
  }
  uint32_t position = sizeof(kSignature);
  uint64_t rows = 0;
  uint64_t compressed = 0;
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
    if (position == sizeof(kSignature)) {
      if (!is_type(type, "IHDR") || length != kHeaderLength) {
        return image_fail(status, StatusCode::kCorrupt,
                          "the PNG does not begin with its 13-byte IHDR chunk");
      }
      const uint8_t* header = data + position + 8;
      const uint32_t width = read_be32(header);
      const uint32_t height = read_be32(header + 4);
      if (!check_image_size("the PNG", width, height, status)) return false;
      rows = row_bytes(width, height, header[8], header[9]);
    }
    if (is_type(type, "IDAT")) {
      imageData = true;
      compressed += length;
    }
    if (is_type(type, "IEND")) break;
    position += kChunkOverhead + length;
  }
  if (!imageData) {
    return image_fail(status, StatusCode::kCorrupt, "the PNG has no image data (IDAT chunk)");
  }
  if (rows / kLargestInflation > compressed) {
    return image_fail(status, StatusCode::kCorrupt,
                      "the PNG's %llu bytes of image data cannot hold its %llu bytes of rows",
                      static_cast<unsigned long long>(compressed),
                      static_cast<unsigned long long>(rows));
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
