#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/status.h"
#include "image/dds_texture.h"
#include "image/rgba_image.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/game_writer.h"
#include "tests/support/replace_files.h"

namespace {

using vtest::Bytes;
using vtest::FourCC;
// Pixels as 0xRRGGBBAA, row by row.
using Pixels = std::vector<uint32_t>;

Pixels ToPixels(const RgbaImage& image) {
  Pixels out;
  const uint8_t* p = image.pixels();
  for (uint32_t i = 0; i < image.width() * image.height(); ++i, p += 4) {
    out.push_back(uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]);
  }
  return out;
}

vtest::DdsSpec Masked(uint32_t flags, uint32_t bits, uint32_t r, uint32_t g, uint32_t b, uint32_t a,
                      uint32_t width, Bytes payload) {
  vtest::DdsSpec plan;
  plan.width = width;
  plan.height = 1;
  plan.pf_flags = flags;
  plan.fourcc = 0;
  plan.rgb_bit_count = bits;
  plan.r_mask = r;
  plan.g_mask = g;
  plan.b_mask = b;
  plan.a_mask = a;
  plan.payload = payload;
  return plan;
}

vtest::DdsSpec Blocks(uint32_t fourCC, uint32_t width, uint32_t height, Bytes payload) {
  vtest::DdsSpec plan;
  plan.fourcc = fourCC;
  plan.width = width;
  plan.height = height;
  plan.payload = payload;
  return plan;
}

// A 4 x 4 block's pixels from one row's four, repeated.
Pixels Rows(const Pixels& row, uint32_t count = 4) {
  Pixels out;
  for (uint32_t y = 0; y < count; ++y) {
    for (const uint32_t pixel : row) out.push_back(pixel);
  }
  return out;
}

bool Decode(const Bytes& file, uint32_t mip, RgbaImage* image, Status* status) {
  return decode_dds(file.data(), static_cast<uint32_t>(file.size()), mip, image, status);
}

// Colour blocks: red and blue, pixels taking the indices 0, 1, 2, 3 along each row.
const Bytes kFourColour = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0xE4, 0xE4, 0xE4};
const Bytes kThreeColour = {0x1F, 0x00, 0x00, 0xF8, 0xE4, 0xE4, 0xE4, 0xE4};
const Bytes kWhite = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
// Alpha indices 0 to 7, twice, in 3-bit fields.
const Bytes kAlphaRamp = {0x88, 0xC6, 0xFA, 0x88, 0xC6, 0xFA};

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Pixels Alphas(std::initializer_list<uint8_t> values, uint32_t rgb) {
  Pixels out;
  for (int round = 0; round < 2; ++round) {
    for (uint8_t v : values) out.push_back(rgb << 8 | v);
  }
  return out;
}

TEST(DecodeDds, EveryFormatAgainstAKnownImage) {
  Pixels nibbles;
  for (uint32_t i = 0; i < 16; ++i) nibbles.push_back(0xFFFFFF00 | (i * 17));
  struct Case {
    const char* what;
    vtest::DdsSpec dds;
    Pixels expected;
  } cases[] = {
      {"A8R8G8B8",
       Masked(0x41, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, 2,
              {0x33, 0x22, 0x11, 0x44, 0x00, 0x00, 0xFF, 0x80}),
       {0x11223344, 0xFF000080}},
      {"X8R8G8B8",
       Masked(0x40, 32, 0xFF0000, 0xFF00, 0xFF, 0, 1, {0x33, 0x22, 0x11, 0x00}),
       {0x112233FF}},
      {"A8B8G8R8",
       Masked(0x41, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000, 1, {0x11, 0x22, 0x33, 0x44}),
       {0x11223344}},
      {"R8G8B8", Masked(0x40, 24, 0xFF0000, 0xFF00, 0xFF, 0, 1, {0x33, 0x22, 0x11}), {0x112233FF}},
      {"A1R5G5B5 (a 5-bit 16 widens to 132)",
       Masked(0x41, 16, 0x7C00, 0x3E0, 0x1F, 0x8000, 3, {0x00, 0xFC, 0xE0, 0x03, 0x10, 0x00}),
       {0xFF0000FF, 0x00FF0000, 0x00008400}},
      {"A4R4G4B4", Masked(0x41, 16, 0xF00, 0xF0, 0xF, 0xF000, 1, {0x34, 0x12}), {0x22334411}},
      {"R5G6B5",
       Masked(0x40, 16, 0xF800, 0x7E0, 0x1F, 0, 3, {0x00, 0xF8, 0xE0, 0x07, 0x20, 0x00}),
       {0xFF0000FF, 0x00FF00FF, 0x000400FF}},
      {"A8", Masked(0x2, 8, 0, 0, 0, 0xFF, 1, {0x80}), {0x00000080}},
      {"L8", Masked(0x20000, 8, 0xFF, 0, 0, 0, 1, {0x40}), {0x404040FF}},
      {"A8L8", Masked(0x20001, 16, 0xFF, 0, 0, 0xFF00, 1, {0x40, 0x80}), {0x40404080}},
      {"R3G3B2", Masked(0x40, 8, 0xE0, 0x1C, 0x03, 0, 1, {0xE3}), {0xFF00FFFF}},
      {"A2R10G10B10 (channels wider than 8 bits)",
       Masked(0x41, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000, 1, {0x00, 0x00, 0xF8, 0xBF}),
       {0xFF8000AA}},
      {"DXT1, four colours", Blocks(FourCC('D', 'X', 'T', '1'), 4, 4, kFourColour),
       Rows({0xFF0000FF, 0x0000FFFF, 0xAA0055FF, 0x5500AAFF})},
      {"DXT1, three colours and transparent black",
       Blocks(FourCC('D', 'X', 'T', '1'), 4, 4, kThreeColour),
       Rows({0x0000FFFF, 0xFF0000FF, 0x7F007FFF, 0x00000000})},
      {"DXT1 2 x 3: the block's edge is dropped",
       Blocks(FourCC('D', 'X', 'T', '1'), 2, 3, kFourColour), Rows({0xFF0000FF, 0x0000FFFF}, 3)},
      {"DXT3",
       Blocks(FourCC('D', 'X', 'T', '3'), 4, 4,
              Join({{0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE}, kWhite})),
       nibbles},
      {"DXT5, eight alpha values",
       Blocks(FourCC('D', 'X', 'T', '5'), 4, 4, Join({{0xFF, 0x00}, kAlphaRamp, kWhite})),
       Alphas({255, 0, 218, 182, 145, 109, 72, 36}, 0xFFFFFF)},
      {"DXT5, six alpha values, 0 and 255",
       Blocks(FourCC('D', 'X', 'T', '5'), 4, 4, Join({{0x00, 0xFF}, kAlphaRamp, kWhite})),
       Alphas({0, 255, 51, 102, 153, 204, 0, 255}, 0xFFFFFF)},
  };
  for (const Case& c : cases) {
    RgbaImage image;
    Status status;
    ASSERT_TRUE(Decode(vtest::MakeDds(c.dds), 0, &image, &status))
        << c.what << ": " << status.what();
    EXPECT_EQ(ToPixels(image), c.expected) << c.what;
  }
}

uint32_t Fnv1a(const RgbaImage& image) {
  uint32_t hash = 2166136261u;
  for (uint32_t i = 0; i < image.width() * image.height() * 4; ++i) {
    hash = (hash ^ image.pixels()[i]) * 16777619u;
  }
  return hash;
}

TEST(DecodeDds, RealTexturesEveryLevel) {
  // examples/mod/hero.dds: one solid colour per level.
  Bytes hero;
  for (const auto& file : vtest::ExampleMod()) {
    if (file.first == "hero.dds") hero = file.second;
  }
  const uint32_t colours[] = {0xFF0000FF, 0x00FF00FF, 0x0000FFFF};
  for (uint32_t mip = 0; mip < 3; ++mip) {
    RgbaImage image;
    Status status;
    ASSERT_TRUE(Decode(hero, mip, &image, &status)) << status.what();
    EXPECT_EQ(ToPixels(image), Pixels(image.width() * image.height(), colours[mip])) << mip;
  }
  // The textures of examples/game, blocks of random bytes (three-colour blocks among them),
  // against the FNV-1a sums of libsquish's decoding of each level.
  const std::vector<uint32_t> sums[] = {{0xebab91e2, 0x1cbac2c8, 0xaee4498b, 0x01062936},
                                        {0xc2d39bbb, 0x1498a214, 0x68e7bc28}};
  std::vector<Bytes> textures;
  for (const vtest::PackageSpec& package : vtest::ExampleGame().packages) {
    for (const vtest::GroupSpec& group : package.groups) {
      for (const vtest::EntrySpec& entry : group.entries) {
        const bool seen = std::find(textures.begin(), textures.end(), entry.data) != textures.end();
        if (entry.ext == "dds" && !seen) textures.push_back(entry.data);
      }
    }
  }
  ASSERT_EQ(textures.size(), 2u);
  for (size_t t = 0; t < textures.size(); ++t) {
    for (uint32_t mip = 0; mip < sums[t].size(); ++mip) {
      RgbaImage image;
      Status status;
      ASSERT_TRUE(Decode(textures[t], mip, &image, &status)) << status.what();
      EXPECT_EQ(Fnv1a(image), sums[t][mip]) << "texture " << t << " level " << mip;
    }
  }
}

TEST(DecodeDds, CubeFacesAndVolumeSlicesSideBySide) {
  // A cube map of 2 x 2 faces with two levels, +Y and -Z missing; each face's level 1 pixel
  // says which face it is.
  vtest::DdsSpec cube = vtest::Argb32Texture(2, 2, 1);
  cube.mip_count = 2;
  cube.caps2 = 0x200 | 0x400 | 0x800 | 0x2000 | 0x4000;
  cube.payload.clear();
  for (uint8_t face : {1, 2, 4, 5}) {
    for (int i = 0; i < 4; ++i) vtest::PutU32(cube.payload, 0xFF000000);
    vtest::PutU32(cube.payload, 0xFF000000 | face);
  }
  RgbaImage image;
  Status status;
  ASSERT_TRUE(Decode(vtest::MakeDds(cube), 1, &image, &status)) << status.what();
  EXPECT_EQ(ToPixels(image),
            (Pixels{0x000001FF, 0x000002FF, 0x00000000, 0x000004FF, 0x000005FF, 0x00000000}));

  // A volume of 2 x 1 x 2 with two levels: the slices of level 0, then level 1's one pixel.
  vtest::DdsSpec volume = vtest::Argb32Texture(2, 1, 1);
  volume.mip_count = 2;
  volume.depth = 2;
  volume.caps2 = 0x200000;
  volume.payload.clear();
  for (uint32_t value : {1, 2, 3, 4, 5}) vtest::PutU32(volume.payload, 0xFF000000 | value);
  ASSERT_TRUE(Decode(vtest::MakeDds(volume), 0, &image, &status)) << status.what();
  EXPECT_EQ(ToPixels(image), (Pixels{0x000001FF, 0x000002FF, 0x000003FF, 0x000004FF}));
  ASSERT_TRUE(Decode(vtest::MakeDds(volume), 1, &image, &status)) << status.what();
  EXPECT_EQ(ToPixels(image), (Pixels{0x000005FF}));
}

TEST(DecodeDds, RefusesBeforeAllocating) {
  auto dxt1 = [](uint32_t width, uint32_t height, uint32_t mips, uint32_t bytes) {
    vtest::DdsSpec plan = Blocks(FourCC('D', 'X', 'T', '1'), width, height, Bytes(bytes, 0));
    plan.mip_count = mips;
    return plan;
  };
  auto withCaps = [&](uint32_t caps2, uint32_t depth) {
    vtest::DdsSpec plan = dxt1(4096, 4096, 1, 0);
    plan.caps2 = caps2;
    plan.depth = depth;
    return vtest::MakeDds(plan);
  };
  vtest::DdsSpec badSize = dxt1(4, 4, 1, 8);
  badSize.header_size = 123;
  Bytes short127 = vtest::MakeDds(dxt1(4, 4, 1, 0));
  short127.resize(127);
  struct Case {
    const char* what;
    Bytes file;
    uint32_t mip;
    const char* reason;
  } cases[] = {
      {"3 bytes", {'D', 'D', 'S'}, 0, "does not begin with \"DDS \""},
      {"127 bytes", short127, 0, "shorter than its 128-byte header"},
      {"header size 123", vtest::MakeDds(badSize), 0, "size as 124"},
      {"DXT2", vtest::MakeDds(Blocks(FourCC('D', 'X', 'T', '2'), 4, 4, {})), 0, "FourCC \"DXT2\""},
      {"FourCC 114", vtest::MakeDds(Blocks(114, 4, 4, {})), 0, "FourCC 114"},
      {"12 bits", vtest::MakeDds(Masked(0x40, 12, 0xF00, 0xF0, 0xF, 0, 1, {0, 0})), 0,
       "8, 16, 24 or 32"},
      {"a mask in two runs", vtest::MakeDds(Masked(0x40, 16, 0x7C01, 0x3E0, 0x1C, 0, 1, {0, 0})), 0,
       "one run"},
      {"masks overlap", vtest::MakeDds(Masked(0x40, 16, 0xFC00, 0x7E0, 0x1F, 0, 1, {0, 0})), 0,
       "overlap"},
      {"a mask past the bits", vtest::MakeDds(Masked(0x40, 16, 0xFF0000, 0, 0, 0, 1, {0, 0})), 0,
       "reaches past"},
      {"no channel flags", vtest::MakeDds(Masked(0, 32, 0xFF, 0, 0, 0, 1, {0, 0, 0, 0})), 0,
       "no colour, luminance or alpha"},
      {"no masks", vtest::MakeDds(Masked(0x40, 16, 0, 0, 0, 0, 1, {0, 0})), 0, "no channel masks"},
      {"cube map and volume", withCaps(0x200200, 2), 0, "at once"},
      {"width 0", vtest::MakeDds(dxt1(0, 4, 1, 0)), 0, "no pixels"},
      {"width 16385", vtest::MakeDds(dxt1(16385, 4, 1, 0)), 0, "at most 16384 pixels a side"},
      {"16384 x 8192", vtest::MakeDds(dxt1(16384, 8192, 1, 0)), 0,
       "at most 67108864 pixels in all"},
      {"cube map of 4096 x 4096 faces", withCaps(0xFE00, 0), 0, "6 faces: more than"},
      {"volume of 16385 slices", withCaps(0x200000, 16385), 0, "16385 slices"},
      {"9 levels of 8 x 8", vtest::MakeDds(dxt1(8, 8, 9, 0)), 0, "at most 4"},
      {"4096 x 4096 DXT1 in 8 bytes", vtest::MakeDds(dxt1(4096, 4096, 1, 8)), 0,
       "ends inside its pixel data"},
      {"level 1 of one", vtest::MakeDds(dxt1(4, 4, 1, 8)), 1, "there is no level 1"},
  };
  for (const Case& c : cases) {
    RgbaImage image;
    Status status;
    AllocFailureScope failure;
    const bool decoded = Decode(c.file, c.mip, &image, &status);
    failure.Restore();
    EXPECT_FALSE(decoded) << c.what;
    EXPECT_EQ(failure.allocations(), 0u) << c.what;
    EXPECT_TRUE(image.empty()) << c.what;
    EXPECT_NE(std::string(status.what()).find(c.reason), std::string::npos)
        << c.what << ": " << status.what();
  }
}

TEST(DecodeDds, RefusesEveryTruncation) {
  const Bytes file = vtest::MakeDds(vtest::Dxt1Texture(8, 8, 7));
  for (size_t length = 0; length < file.size(); ++length) {
    RgbaImage image;
    EXPECT_FALSE(decode_dds(file.data(), static_cast<uint32_t>(length), 3, &image, nullptr))
        << length;
  }
}

}  // namespace
