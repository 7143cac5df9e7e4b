#include "image/png_codec.h"

#include <stb_image.h>
#include <stb_image_write.h>
#include <zlib.h>

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

void write_be32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// How zlib deflates a compact PNG's rows: runs of a byte and Huffman codes, no other matches. On
// the Paeth residuals of photographs and game art that is faster than level 1 and smaller than
// level 6 (matches there cost more than the literals they save), and on flat pictures it keeps
// nearly all that matches would gain.
constexpr int kCompactStrategy = Z_RLE;

// The Paeth predictor: of the pixels left, above and above-left, the one nearest to
// left + above - above-left.
uint8_t paeth(uint8_t left, uint8_t above, uint8_t aboveLeft) {
  const int estimate = left + above - aboveLeft;
  const int toLeft = estimate > left ? estimate - left : left - estimate;
  const int toAbove = estimate > above ? estimate - above : above - estimate;
  const int toAboveLeft = estimate > aboveLeft ? estimate - aboveLeft : aboveLeft - estimate;
  if (toLeft <= toAbove && toLeft <= toAboveLeft) return left;
  return toAbove <= toAboveLeft ? above : aboveLeft;
}

bool is_opaque(const RgbaImage& image) {
  const uint8_t* p = image.pixels();
  const uint64_t pixels = static_cast<uint64_t>(image.width()) * image.height();
  for (uint64_t i = 0; i < pixels; ++i) {
    if (p[4 * i + 3] != 255) return false;
  }
  return true;
}

// The rows as a PNG's image data holds them before compression: a filter byte (4, Paeth), then
// each pixel's channels less the prediction from its neighbours.
void filter_rows(const RgbaImage& image, uint32_t channels, uint8_t* out) {
  const uint32_t width = image.width();
  for (uint32_t y = 0; y < image.height(); ++y) {
    const uint8_t* row = image.row(y);
    const uint8_t* above = y == 0 ? nullptr : image.row(y - 1);
    *out++ = 4;
    for (uint32_t x = 0; x < width; ++x) {
      for (uint32_t c = 0; c < channels; ++c) {
        const uint32_t i = 4 * x + c;
        const uint8_t left = x == 0 ? 0 : row[i - 4];
        const uint8_t up = above == nullptr ? 0 : above[i];
        const uint8_t upLeft = above == nullptr || x == 0 ? 0 : above[i - 4];
        *out++ = static_cast<uint8_t>(row[i] - paeth(left, up, upLeft));
      }
    }
  }
}

// Writes a chunk at out: its length, its type, its data (copied from data unless that is null:
// then the length bytes after the type already hold it), and the CRC over type and data.
void write_chunk(uint8_t* out, const char* type, const uint8_t* data, uint32_t length) {
  write_be32(out, length);
  std::memcpy(out + 4, type, 4);
  if (data != nullptr && length != 0) std::memcpy(out + 8, data, length);
  const uLong crc = crc32(0, out + 4, 4 + length);
  write_be32(out + 8 + length, static_cast<uint32_t>(crc));
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

CompactPngWriter::CompactPngWriter() { std::memset(&stream_, 0, sizeof(stream_)); }

CompactPngWriter::~CompactPngWriter() {
  if (made_) deflateEnd(&stream_);
}

bool CompactPngWriter::Write(const RgbaImage& image, ByteBuffer* png, Status* status) {
  png->resize(0);
  const uint32_t channels = is_opaque(image) ? 3 : 4;
  const uint64_t rowBytes = 1 + static_cast<uint64_t>(image.width()) * channels;
  const uint64_t rawBytes = rowBytes * image.height();
  // The floor's largest image takes 256 MiB; within 1 GiB, deflate's bound and the file's size
  // fit in 32 bits.
  if (image.empty() || rawBytes > (uint64_t{1} << 30)) {
    return image_fail(status, StatusCode::kUnsupported, "the image is too large for a compact PNG");
  }
  if (made_ ? deflateReset(&stream_) != Z_OK
            : deflateInit2(&stream_, 1, Z_DEFLATED, 15, 8, kCompactStrategy) != Z_OK) {
    return image_out_of_memory(status);
  }
  made_ = true;
  if (!rows_.resize(static_cast<uint32_t>(rawBytes))) return image_out_of_memory(status);
  filter_rows(image, channels, rows_.data());

  // The signature, IHDR, then IDAT's length and type; its data is deflated straight after them.
  constexpr uint32_t kBeforeData = sizeof(kSignature) + kChunkOverhead + kHeaderLength + 8;
  const uLong bound = deflateBound(&stream_, static_cast<uLong>(rawBytes));
  if (!png->resize(kBeforeData + static_cast<uint32_t>(bound) + 4 + kChunkOverhead)) {
    return image_out_of_memory(status);
  }
  uint8_t header[kHeaderLength];
  write_be32(header, image.width());
  write_be32(header + 4, image.height());
  header[8] = 8;                             // bits a channel
  header[9] = channels == 3 ? 2 : 6;         // RGB or RGBA
  header[10] = header[11] = header[12] = 0;  // deflate, adaptive filters, not interlaced
  uint8_t* out = png->data();
  std::memcpy(out, kSignature, sizeof(kSignature));
  write_chunk(out + sizeof(kSignature), "IHDR", header, kHeaderLength);
  stream_.next_in = rows_.data();
  stream_.avail_in = static_cast<uInt>(rawBytes);
  stream_.next_out = out + kBeforeData;
  stream_.avail_out = static_cast<uInt>(bound);
  if (deflate(&stream_, Z_FINISH) != Z_STREAM_END) return image_out_of_memory(status);
  const uint32_t length = static_cast<uint32_t>(stream_.total_out);
  write_chunk(out + kBeforeData - 8, "IDAT", nullptr, length);
  write_chunk(out + kBeforeData + length + 4, "IEND", nullptr, 0);
  png->resize(kBeforeData + length + 4 + kChunkOverhead);
  return true;
}

bool encode_compact_png(const RgbaImage& image, ByteBuffer* png, Status* status) {
  CompactPngWriter writer;
  return writer.Write(image, png, status);
}

bool encode_thumbnail_png(const RgbaImage& image, uint32_t maxSide, ByteBuffer* png,
                          Status* status) {
  RgbaImage thumbnail;
  return make_thumbnail(image, maxSide, &thumbnail, status) && encode_png(thumbnail, png, status);
}
