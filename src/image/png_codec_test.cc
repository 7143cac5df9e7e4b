#include "image/png_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/byte_buffer.h"
#include "base/status.h"
#include "image/image_files.h"
#include "image/rgba_image.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/png_file.h"
#include "tests/support/scratch_dir.h"

namespace {

using vtest::Bytes;
using vtest::PngSpec;

// Pixels as 0xRRGGBBAA, row by row.
std::vector<uint32_t> ToPixels(const RgbaImage& image) {
  std::vector<uint32_t> out;
  const uint8_t* p = image.pixels();
  for (uint32_t i = 0; i < image.width() * image.height(); ++i, p += 4) {
    out.push_back(uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]);
  }
  return out;
}

PngSpec Png(uint32_t width, uint8_t depth, uint8_t type, Bytes rows) {
  PngSpec spec;
  spec.width = width;
  spec.bit_depth = depth;
  spec.colour_type = type;
  spec.rows = rows;
  return spec;
}

bool Decode(const Bytes& file, RgbaImage* image, Status* status) {
  return decode_png(file.data(), static_cast<uint32_t>(file.size()), image, status);
}

TEST(DecodePng, EveryKindToRgba) {
  PngSpec palette = Png(3, 8, 3, {0, 1, 2});
  palette.palette = {0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF};
  palette.transparency = {0x80};  // entry 0 half transparent, the others opaque
  PngSpec greyKey = Png(2, 8, 0, {0x10, 0x20});
  greyKey.transparency = {0x00, 0x20};  // grey 0x20 is transparent
  struct Case {
    const char* what;
    PngSpec png;
    std::vector<uint32_t> expected;
  } cases[] = {
      {"RGBA 8", Png(2, 8, 6, {1, 2, 3, 4, 5, 6, 7, 8}), {0x01020304, 0x05060708}},
      {"RGB 8", Png(1, 8, 2, {1, 2, 3}), {0x010203FF}},
      {"grey 8", Png(2, 8, 0, {0x00, 0x7F}), {0x000000FF, 0x7F7F7FFF}},
      {"grey and alpha 8", Png(1, 8, 4, {0x40, 0x80}), {0x40404080}},
      {"RGBA 16: the high bytes", Png(1, 16, 6, {1, 0xFF, 2, 0, 3, 0, 4, 0xFF}), {0x01020304}},
      {"grey 16", Png(1, 16, 0, {0xAB, 0xCD}), {0xABABABFF}},
      {"grey 1",
       Png(8, 1, 0, {0xA5}),
       {0xFFFFFFFF, 0x000000FF, 0xFFFFFFFF, 0x000000FF, 0x000000FF, 0xFFFFFFFF, 0x000000FF,
        0xFFFFFFFF}},
      {"palette with tRNS", palette, {0xFF000080, 0x00FF00FF, 0x0000FFFF}},
      {"grey with a transparent key", greyKey, {0x101010FF, 0x20202000}},
  };
  for (const Case& c : cases) {
    RgbaImage image;
    Status status;
    ASSERT_TRUE(Decode(vtest::MakePng(c.png), &image, &status)) << c.what << ": " << status.what();
    EXPECT_EQ(ToPixels(image), c.expected) << c.what;
  }
}

TEST(DecodePng, RefusesBeforeAllocating) {
  auto sized = [](uint32_t width, uint32_t height) {
    PngSpec spec = Png(1, 8, 0, {0});
    Bytes file = vtest::MakePng(spec);
    // IHDR's width and height, big-endian, after the signature, the length and the type.
    for (int i = 0; i < 4; ++i) {
      file[16 + i] = static_cast<uint8_t>(width >> (24 - 8 * i));
      file[20 + i] = static_cast<uint8_t>(height >> (24 - 8 * i));
    }
    return file;
  };
  // After the signature and IHDR's 25 bytes comes IDAT: its length at 33, its type at 37.
  const Bytes small = sized(1, 1);
  Bytes noData = small;
  noData[37] = 'x';  // IDAT becomes the ancillary chunk "xDAT"
  Bytes hugeChunk = small;
  const uint8_t length[] = {0x80, 0, 0, 1};
  std::copy(length, length + 4, hugeChunk.begin() + 33);
  struct Case {
    const char* what;
    Bytes file;
    const char* reason;
  } cases[] = {
      {"a DDS", {'D', 'D', 'S', ' ', 124, 0, 0, 0}, "not a PNG image"},
      {"the signature alone", Bytes(small.begin(), small.begin() + 8), "ends after 8 bytes"},
      {"width 16385", sized(16385, 1), "at most 16384 pixels a side"},
      {"height 70000, beyond 16 bits", sized(1, 70000), "at most 16384 pixels a side"},
      {"width 0", sized(0, 1), "no pixels"},
      {"16384 x 16384", sized(16384, 16384), "at most 67108864 pixels in all"},
      {"8192 x 8192 in a few bytes", sized(8192, 8192), "cannot hold its 67117056 bytes"},
      {"no IDAT", noData, "no image data"},
      {"a chunk of 2 GiB", hugeChunk, "declares 2147483649 bytes"},
  };
  for (const Case& c : cases) {
    RgbaImage image;
    Status status;
    AllocFailureScope failure;
    const bool decoded = Decode(c.file, &image, &status);
    failure.Restore();
    EXPECT_FALSE(decoded) << c.what;
    EXPECT_EQ(failure.allocations(), 0u) << c.what;
    EXPECT_NE(std::string(status.what()).find(c.reason), std::string::npos)
        << c.what << ": " << status.what();
  }
  // Truncated anywhere, a PNG is refused; damaged image data is stb_image's to find.
  const Bytes file = vtest::MakePng(Png(2, 8, 6, {1, 2, 3, 4, 5, 6, 7, 8}));
  for (size_t length = 0; length < file.size(); ++length) {
    RgbaImage image;
    EXPECT_FALSE(decode_png(file.data(), static_cast<uint32_t>(length), &image, nullptr)) << length;
  }
  Bytes damaged = file;
  damaged[41 + 2] ^= 0xFF;  // inside the zlib stream of IDAT
  RgbaImage image;
  Status status;
  EXPECT_FALSE(Decode(damaged, &image, &status));
  EXPECT_NE(std::string(status.what()).find("cannot be decoded"), std::string::npos)
      << status.what();
}

TEST(EncodePng, RoundTripAndThumbnail) {
  RgbaImage image;
  ASSERT_TRUE(image.Allocate(100, 40, nullptr));
  for (uint32_t i = 0; i < 100 * 40 * 4; ++i) image.pixels()[i] = static_cast<uint8_t>(i * 7);
  vtest::ScratchDir dir;
  const std::string path = (dir / "image.png").string();
  Status status;
  ASSERT_TRUE(write_png_file(path.c_str(), image, &status)) << status.what();
  RgbaImage again;
  ASSERT_TRUE(read_png_file(path.c_str(), &again, &status)) << status.what();
  EXPECT_EQ(ToPixels(again), ToPixels(image));

  ByteBuffer png;
  ASSERT_TRUE(encode_thumbnail_png(image, 16, &png, &status)) << status.what();
  ASSERT_TRUE(decode_png(png.data(), png.length(), &again, &status)) << status.what();
  EXPECT_EQ(again.width(), 16u);
  EXPECT_EQ(again.height(), 6u);

  EXPECT_FALSE(read_png_file((dir / "missing.png").string().c_str(), &again, &status));
  EXPECT_NE(std::string(status.path()).find("missing.png"), std::string::npos);
}

}  // namespace
