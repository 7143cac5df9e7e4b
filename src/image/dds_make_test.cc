#include "image/dds_make.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/byte_buffer.h"
#include "base/status.h"
#include "image/dds_texture.h"
#include "image/png_codec.h"
#include "image/resample.h"
#include "image/rgba_image.h"
#include "tests/support/replace_files.h"

namespace {

using vtest::Bytes;

enum class Alpha { kOpaque, kCutOut, kSmooth };

// Colour along one line, a few steps a pixel, as DXT blocks keep it; alpha as asked.
void Paint(uint32_t width, uint32_t height, Alpha alpha, RgbaImage* image) {
  ASSERT_TRUE(image->Allocate(width, height, nullptr));
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t* p = image->row(y) + 4 * x;
      const uint32_t t = 2 * (x + y);
      p[0] = static_cast<uint8_t>(60 + t);
      p[1] = static_cast<uint8_t>(90 + t / 2);
      p[2] = static_cast<uint8_t>(200 - t);
      p[3] = alpha == Alpha::kOpaque   ? 255
             : alpha == Alpha::kCutOut ? (((x / 2 + y / 2) % 2) != 0 ? 255 : 0)
                                       : static_cast<uint8_t>(255 * x / width);
    }
  }
}

Bytes ToBytes(const ByteBuffer& buffer) {
  return Bytes(buffer.data(), buffer.data() + buffer.length());
}

// How far a format's decoded channels may lie from what it was made from: colour, then alpha
// for an image with smooth alpha (cut-out alpha, 0 or 255, every format with alpha keeps).
struct Bound {
  TextureFormat format;
  int colour;
  int smoothAlpha;
};
const Bound kBounds[] = {
    {TextureFormat::kDxt1, 14, 127},    {TextureFormat::kDxt3, 14, 8},
    {TextureFormat::kDxt5, 14, 8},      {TextureFormat::kA8R8G8B8, 0, 0},
    {TextureFormat::kA1R5G5B5, 4, 127}, {TextureFormat::kA4R4G4B4, 8, 8},
    {TextureFormat::kR5G6B5, 4, -1},    {TextureFormat::kA8, -1, 0},
    {TextureFormat::kL8, 0, -1},
};

// The largest difference of a channel between made and decoded, over the pixels that count:
// colour where the decoded pixel is not transparent. A format without colour (bound -1) decodes
// to black, one without alpha to 255; L8 is compared with the luminance of the colour. Alpha is
// checked when `alpha` is given: exactly for cut-out alpha (0 or 255), which every format with
// alpha keeps.
void ExpectWithin(const RgbaImage& made, const RgbaImage& decoded, const Bound& bound,
                  const Alpha* alpha, int slack, const std::string& what) {
  ASSERT_EQ(made.width(), decoded.width()) << what;
  ASSERT_EQ(made.height(), decoded.height()) << what;
  int colourError = 0;
  int alphaError = 0;
  for (uint32_t i = 0; i < made.width() * made.height(); ++i) {
    const uint8_t* m = made.pixels() + 4 * i;
    const uint8_t* d = decoded.pixels() + 4 * i;
    for (int c = 0; c < 3 && d[3] != 0; ++c) {
      int expected = bound.colour < 0 ? 0 : m[c];
      if (bound.format == TextureFormat::kL8) {
        expected = static_cast<int>(0.2126 * m[0] + 0.7152 * m[1] + 0.0722 * m[2] + 0.5);
      }
      colourError = std::max(colourError, std::abs(d[c] - expected));
    }
    const int expectedAlpha = bound.smoothAlpha < 0 ? 255 : m[3];
    alphaError = std::max(alphaError, std::abs(d[3] - expectedAlpha));
  }
  EXPECT_LE(colourError, std::max(bound.colour, 0) + slack) << what;
  if (alpha == nullptr) return;
  const bool exact = *alpha != Alpha::kSmooth || bound.smoothAlpha < 0;
  EXPECT_LE(alphaError, exact ? 0 : bound.smoothAlpha) << what;
}

TEST(MakeDds, EveryFormatAlphaSizeAndMipCount) {
  const Alpha alphas[] = {Alpha::kOpaque, Alpha::kCutOut, Alpha::kSmooth};
  const uint32_t sizes[][2] = {{5, 3}, {64, 32}};
  for (const Bound& bound : kBounds) {
    for (const Alpha alpha : alphas) {
      for (const auto& size : sizes) {
        for (const uint32_t mips : {1u, kFullMipChain}) {
          const std::string what = std::string(texture_format_text(bound.format)) + " alpha " +
                                   std::to_string(static_cast<int>(alpha)) + " " +
                                   std::to_string(size[0]) + "x" + std::to_string(size[1]) +
                                   " mips " + std::to_string(mips);
          RgbaImage image;
          Paint(size[0], size[1], alpha, &image);
          DdsHeader target;
          ByteBuffer dds;
          Status status;
          ASSERT_TRUE(
              dds_target_for_format(bound.format, size[0], size[1], mips, &target, &status) &&
              make_dds(image, target, false, &dds, &status))
              << what << ": " << status.what();
          DdsTexture texture;
          ASSERT_TRUE(open_dds_texture(dds.data(), dds.length(), &texture, &status)) << what;
          EXPECT_EQ(texture.header.format, pixel_format_of(bound.format)) << what;
          EXPECT_EQ(texture.mipCount, mips == 1 ? 1 : full_mip_count(size[0], size[1])) << what;
          EXPECT_EQ(texture.dataBytes + kDdsFileHeaderSize, dds.length()) << what;
          for (uint32_t mip = 0; mip < texture.mipCount; ++mip) {
            // Level 0 is the image; a smaller one, the image resampled, its alpha then scaled
            // to the image's coverage, which this does not check.
            RgbaImage reference;
            RgbaImage decoded;
            if (mip == 0) {
              ASSERT_TRUE(reference.Assign(image, nullptr));
            } else {
              ASSERT_TRUE(resample_image(image, mip_side(size[0], mip), mip_side(size[1], mip),
                                         &reference, nullptr));
            }
            ASSERT_TRUE(decode_dds(dds.data(), dds.length(), mip, &decoded, &status)) << what;
            ExpectWithin(reference, decoded, bound, mip == 0 ? &alpha : nullptr, mip == 0 ? 0 : 6,
                         what + " level " + std::to_string(mip));
          }
        }
      }
    }
  }
}

TEST(MakeDds, LikeAnArgb32TextureGivesItsBytesAgain) {
  const Bytes original = vtest::MakeDds(vtest::Argb32Texture(7, 5, 3));
  RgbaImage image;
  Status status;
  DdsHeader like;
  DdsHeader target;
  ByteBuffer made;
  ASSERT_TRUE(
      decode_dds(original.data(), static_cast<uint32_t>(original.size()), 0, &image, &status));
  ASSERT_TRUE(
      read_dds_header(original.data(), static_cast<uint32_t>(original.size()), &like, &status));
  ASSERT_TRUE(dds_target_like(like, &target, &status));
  ASSERT_TRUE(make_dds(image, target, false, &made, &status)) << status.what();
  EXPECT_EQ(ToBytes(made), original);
}

TEST(MakeDds, LikeATextureKeepsItsHeader) {
  // The game's 8 x 8 DXT1 texture of 4 levels.
  const Bytes game = vtest::MakeDds(vtest::Dxt1Texture(8, 8, 7));
  DdsHeader like;
  DdsHeader target;
  RgbaImage image;
  ByteBuffer made;
  Status status;
  ASSERT_TRUE(read_dds_header(game.data(), static_cast<uint32_t>(game.size()), &like, &status));
  ASSERT_TRUE(dds_target_like(like, &target, &status));
  Paint(8, 8, Alpha::kOpaque, &image);
  ASSERT_TRUE(make_dds(image, target, false, &made, &status)) << status.what();
  ASSERT_EQ(made.length(), game.size());
  EXPECT_EQ(Bytes(made.data(), made.data() + kDdsFileHeaderSize),
            Bytes(game.begin(), game.begin() + kDdsFileHeaderSize));
  // From a PNG of 16 x 4 pixels, resampled when asked.
  Paint(16, 4, Alpha::kOpaque, &image);
  ByteBuffer png;
  ASSERT_TRUE(encode_png(image, &png, nullptr));
  DdsRecipe recipe;
  recipe.like = &like;
  EXPECT_FALSE(make_dds_from_png(png.data(), png.length(), recipe, &made, &status));
  recipe.resize = true;
  ASSERT_TRUE(make_dds_from_png(png.data(), png.length(), recipe, &made, &status)) << status.what();
  EXPECT_EQ(made.length(), game.size());
}

// Every level of image, in A8R8G8B8, which keeps each level as it was made.
void MakeChain(const RgbaImage& image, ByteBuffer* dds) {
  DdsHeader target;
  ASSERT_TRUE(dds_target_for_format(TextureFormat::kA8R8G8B8, image.width(), image.height(),
                                    kFullMipChain, &target, nullptr));
  ASSERT_TRUE(make_dds(image, target, false, dds, nullptr));
}

TEST(MakeDds, LevelsAverageInLinearLight) {
  // Black and white pixels in a checkerboard average to half the light, which sRGB writes as
  // 188, not 128.
  RgbaImage image;
  ASSERT_TRUE(image.Allocate(8, 8, nullptr));
  for (uint32_t i = 0; i < 64; ++i) {
    const uint8_t v = ((i % 8 + i / 8) % 2) != 0 ? 255 : 0;
    uint8_t* p = image.pixels() + 4 * i;
    p[0] = p[1] = p[2] = v;
    p[3] = 255;
  }
  ByteBuffer dds;
  RgbaImage level;
  MakeChain(image, &dds);
  for (uint32_t mip = 1; mip < 4; ++mip) {
    ASSERT_TRUE(decode_dds(dds.data(), dds.length(), mip, &level, nullptr));
    for (uint32_t i = 0; i < level.width() * level.height() * 4; i += 4) {
      EXPECT_NEAR(level.pixels()[i], 188, 6) << "level " << mip;
    }
  }
}

TEST(LinearImage, KeepsEvery8BitValue) {
  // Levels are resampled in linear light with 16 bits a channel: an image taken there and back
  // unresampled is the same image.
  RgbaImage image;
  ASSERT_TRUE(image.Allocate(256, 1, nullptr));
  for (uint32_t v = 0; v < 256; ++v) {
    for (uint32_t c = 0; c < 4; ++c) image.pixels()[4 * v + c] = static_cast<uint8_t>(v);
  }
  LinearImage linear;
  RgbaImage back;
  ASSERT_TRUE(linearise_image(image, &linear, nullptr) &&
              encode_srgb_image(linear, &back, nullptr));
  EXPECT_EQ(std::vector<uint8_t>(back.pixels(), back.pixels() + 1024),
            std::vector<uint8_t>(image.pixels(), image.pixels() + 1024));
}

TEST(LinearImage, BandsOfTheImageGiveTheLevelsOfTheWhole) {
  // Opaque noise, tall enough for several bands of rows, shrunk by uneven ratios and enlarged:
  // where the bands place their rows by a fraction of a row, the float arithmetic differs in its
  // last bits, which moves no 8-bit value by more than one.
  RgbaImage image;
  ASSERT_TRUE(image.Allocate(5, 1500, nullptr));
  uint32_t seed = 7;
  for (uint32_t i = 0; i < 5 * 1500 * 4; ++i) {
    seed = seed * 1103515245u + 12345u;
    image.pixels()[i] = i % 4 == 3 ? 255 : static_cast<uint8_t>(seed >> 16);
  }
  LinearImage whole;
  ASSERT_TRUE(linearise_image(image, &whole, nullptr));
  const uint32_t sizes[][2] = {{2, 750}, {3, 377}, {1, 93}, {1, 1}, {9, 2100}};
  for (const auto& size : sizes) {
    LinearImage level;
    LinearImage band;
    RgbaImage expected;
    RgbaImage banded;
    ASSERT_TRUE(resample_linear(whole, size[0], size[1], &level, nullptr) &&
                encode_srgb_image(level, &expected, nullptr));
    ASSERT_TRUE(resample_to_linear(image, size[0], size[1], &band, &level, nullptr) &&
                encode_srgb_image(level, &banded, nullptr));
    int largest = 0;
    for (uint32_t i = 0; i < 4 * size[0] * size[1]; ++i) {
      largest = std::max(largest, std::abs(banded.pixels()[i] - expected.pixels()[i]));
    }
    EXPECT_LE(largest, 1) << size[0] << " x " << size[1];
  }
}

TEST(MakeDds, LevelsKeepAlphaCoverage) {
  // A cut-out of scattered opaque pixels, 30 % of them: filtered alone, its levels' alpha sinks
  // towards 77 and the cut-out test at 128 would keep nothing.
  RgbaImage image;
  ASSERT_TRUE(image.Allocate(64, 64, nullptr));
  uint32_t seed = 12345;
  for (uint32_t i = 0; i < 64 * 64; ++i) {
    seed = seed * 1103515245u + 12345u;
    uint8_t* p = image.pixels() + 4 * i;
    p[0] = p[1] = p[2] = 200;
    p[3] = (seed >> 16) % 100 < 30 ? 255 : 0;
  }
  const double coverage = alpha_coverage(image);
  ByteBuffer dds;
  RgbaImage level;
  MakeChain(image, &dds);
  for (uint32_t mip = 1; mip <= 4; ++mip) {
    ASSERT_TRUE(decode_dds(dds.data(), dds.length(), mip, &level, nullptr));
    EXPECT_NEAR(alpha_coverage(level), coverage, 0.06) << "level " << mip;
  }
}

TEST(MakeDds, Refusals) {
  auto header = [](uint32_t caps2, uint32_t depth, uint32_t fourCC) {
    vtest::DdsSpec plan = vtest::Dxt1Texture(8, 8, 1);
    plan.caps2 = caps2;
    plan.depth = depth;
    plan.fourcc = fourCC;
    DdsHeader like;
    const Bytes file = vtest::MakeDds(plan);
    read_dds_header(file.data(), static_cast<uint32_t>(file.size()), &like, nullptr);
    return like;
  };
  struct Case {
    const char* what;
    DdsHeader like;
    const char* reason;
  } likes[] = {
      {"a cube map", header(0xFE00, 0, vtest::FourCC('D', 'X', 'T', '1')), "only flat textures"},
      {"a volume", header(0x200000, 4, vtest::FourCC('D', 'X', 'T', '1')), "only flat textures"},
      {"DXT2", header(0, 0, vtest::FourCC('D', 'X', 'T', '2')), "FourCC \"DXT2\""},
  };
  DdsHeader flat;
  EXPECT_TRUE(
      dds_target_like(header(0x200000, 1, vtest::FourCC('D', 'X', 'T', '1')), &flat, nullptr))
      << "a volume of one slice is a flat texture";
  for (const Case& c : likes) {
    DdsHeader target;
    Status status;
    EXPECT_FALSE(dds_target_like(c.like, &target, &status)) << c.what;
    EXPECT_NE(std::string(status.what()).find(c.reason), std::string::npos) << status.what();
  }
  DdsHeader target;
  Status status;
  EXPECT_FALSE(dds_target_for_format(TextureFormat::kDxt1, 8, 8, 5, &target, &status));
  EXPECT_STREQ(status.what(), "a texture of 8 x 8 pixels has at most 4 mip levels, not 5");
  EXPECT_FALSE(dds_target_for_format(TextureFormat::kDxt1, 16385, 8, 1, &target, &status));
  EXPECT_NE(std::string(status.what()).find("at most 16384 pixels a side"), std::string::npos);

  RgbaImage image;
  ByteBuffer dds;
  Paint(6, 4, Alpha::kOpaque, &image);
  ASSERT_TRUE(dds_target_for_format(TextureFormat::kDxt1, 8, 8, 1, &target, nullptr));
  EXPECT_FALSE(make_dds(image, target, false, &dds, &status));
  EXPECT_STREQ(status.what(), "the image is 6 x 4 pixels, but the texture is 8 x 8");
  EXPECT_EQ(dds.length(), 0u);
}

}  // namespace
