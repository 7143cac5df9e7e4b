#include "image/thumbnail.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/byte_buffer.h"
#include "base/status.h"
#include "image/dds_make.h"
#include "image/dds_texture.h"
#include "image/png_codec.h"
#include "image/rgba_image.h"

namespace {

// Noise, which no PNG compresses, or a smooth gradient; opaque or with alpha.
void Paint(uint32_t width, uint32_t height, bool noise, bool opaque, RgbaImage* image) {
  ASSERT_TRUE(image->Allocate(width, height, nullptr));
  uint32_t state = 12345;
  for (uint32_t i = 0; i < width * height; ++i) {
    uint8_t* p = image->pixels() + 4 * i;
    for (int c = 0; c < 3; ++c) {
      state = state * 1103515245 + 12345;
      p[c] = noise ? static_cast<uint8_t>(state >> 16) : static_cast<uint8_t>(i % width + c);
    }
    p[3] = opaque ? 255 : static_cast<uint8_t>(i / width);
  }
}

TEST(CompactPng, DecodesToTheSamePixels) {
  for (const bool opaque : {true, false}) {
    RgbaImage image;
    Paint(37, 19, true, opaque, &image);
    ByteBuffer png;
    Status status;
    ASSERT_TRUE(encode_compact_png(image, &png, &status)) << status.what();
    EXPECT_EQ(png.data()[25], opaque ? 2 : 6) << "colour type";
    RgbaImage again;
    ASSERT_TRUE(decode_png(png.data(), png.length(), &again, &status)) << status.what();
    ASSERT_EQ(again.width(), 37u);
    ASSERT_EQ(again.height(), 19u);
    EXPECT_EQ(std::memcmp(again.pixels(), image.pixels(), 37 * 19 * 4), 0) << opaque;
  }
}

// The thumbnail keeps within its bytes, shrinking only as far as it must.
TEST(ThumbnailMaker, KeepsWithinTheBytesAllowed) {
  struct Case {
    const char* what;
    uint32_t width, height;
    bool noise;
    uint32_t maxBytes;
    uint32_t leastSide, mostSide;  // of the longer side
  } cases[] = {
      {"a smooth image keeps the largest side", 1024, 512, false, 12000, 256, 256},
      {"noise shrinks to fit", 512, 512, true, 12000, 40, 128},
      {"a small image is not enlarged", 8, 4, true, 12000, 8, 8},
  };
  for (const Case& c : cases) {
    RgbaImage image;
    Paint(c.width, c.height, c.noise, true, &image);
    ByteBuffer png;
    Status status;
    ThumbnailMaker maker;
    ASSERT_TRUE(maker.FromImage(image, {256, c.maxBytes}, &png, &status)) << c.what;
    EXPECT_LE(png.length(), c.maxBytes) << c.what;
    RgbaImage shown;
    ASSERT_TRUE(decode_png(png.data(), png.length(), &shown, &status)) << c.what;
    const uint32_t longer = shown.width() > shown.height() ? shown.width() : shown.height();
    EXPECT_GE(longer, c.leastSide) << c.what;
    EXPECT_LE(longer, c.mostSide) << c.what;
  }
  RgbaImage image;
  Paint(16, 16, true, true, &image);
  ByteBuffer png;
  Status status;
  ThumbnailMaker maker;
  EXPECT_FALSE(maker.FromImage(image, {256, 40}, &png, &status));
  EXPECT_NE(std::string(status.what()).find("one pixel"), std::string::npos) << status.what();
  EXPECT_EQ(png.length(), 0u);
}

TEST(ThumbnailMip, TheSmallestLevelAtLeastTheSide) {
  struct Case {
    DdsKind kind;
    uint32_t width, height, depth, mips;
    uint32_t expected;
  } cases[] = {
      {DdsKind::kFlat, 1024, 512, 1, 11, 2},  // 256 x 128
      {DdsKind::kFlat, 1024, 1024, 1, 2, 1},  // the chain stops at 512
      {DdsKind::kFlat, 8, 8, 1, 4, 0},
      {DdsKind::kCube, 64, 64, 1, 7, 0},  // six faces of 64 side by side, then of 32
      {DdsKind::kVolume, 256, 256, 4, 9, 1},
  };
  for (const Case& c : cases) {
    DdsTexture texture;
    texture.kind = c.kind;
    texture.width = c.width;
    texture.height = c.height;
    texture.depth = c.depth;
    texture.mipCount = c.mips;
    EXPECT_EQ(thumbnail_mip(texture, 256), c.expected) << c.width << " " << c.mips;
  }
}

TEST(ThumbnailMaker, DecodesTheLevelOfATextureOrSaysWhy) {
  RgbaImage image;
  Paint(512, 256, false, false, &image);
  DdsHeader target;
  ByteBuffer dds;
  Status status;
  ASSERT_TRUE(
      dds_target_for_format(TextureFormat::kDxt5, 512, 256, kFullMipChain, &target, &status));
  ASSERT_TRUE(make_dds(image, target, false, &dds, &status)) << status.what();
  ByteBuffer png;
  ThumbnailMaker maker;
  ASSERT_TRUE(maker.FromDds(dds.data(), dds.length(), {128, 40000}, &png, &status))
      << status.what();
  RgbaImage shown;
  ASSERT_TRUE(decode_png(png.data(), png.length(), &shown, &status));
  EXPECT_EQ(shown.width(), 128u);
  EXPECT_EQ(shown.height(), 64u);

  EXPECT_FALSE(maker.FromDds(dds.data(), 200, {128, 40000}, &png, &status));
  EXPECT_NE(std::string(status.what()).find("ends inside its pixel data"), std::string::npos)
      << status.what();
}

}  // namespace
