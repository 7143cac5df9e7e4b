#include "inspect/meta_report.h"

#include <gtest/gtest.h>

#include "driver/name_hash.h"

namespace {

TextureMeta texture(uint8_t format, uint8_t kind, uint16_t width, uint16_t height, uint16_t depth,
                    uint8_t mips) {
  TextureMeta t;
  t.format = format;
  t.kind = kind;
  t.width = width;
  t.height = height;
  t.depth = depth;
  t.mipCount = mips;
  return t;
}

TEST(DescribeMeta, SaysWhatTheMetadataHolds) {
  const uint8_t flat[] = {17, 12, kTextureFlat, 0x00, 0x08, 0x00, 0x04};
  const uint8_t cube[] = {16, 1, kTextureCube, 64, 0, 64, 0};
  const uint8_t volume[] = {99, 3, kTextureVolume, 16, 0, 8, 0, 4, 0};
  const uint8_t loc[] = {1, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
  const uint8_t bad[] = {17, 1, 9, 1, 0, 1, 0};  // no such kind
  const struct {
    const char* ext;
    const uint8_t* meta;
    uint32_t size;
    const char* expected;
  } cases[] = {
      {"dds", flat, sizeof(flat), "DXT5 2048x1024, 12 mips"},
      {"dds", cube, sizeof(cube), "DXT3 cube 64x64, 1 mip"},
      {"dds", volume, sizeof(volume), "format 99 volume 16x8x4, 3 mips"},
      {"loc", loc, sizeof(loc), "loc, 1 id"},
      {"dds", bad, sizeof(bad), ""},
      {"txt", flat, sizeof(flat), ""},
  };
  for (const auto& c : cases) {
    CStringBufferA text;
    ASSERT_TRUE(describe_meta(decode_meta(name_hash(c.ext), c.meta, c.size), text));
    EXPECT_STREQ(text.Data(), c.expected);
  }
}

TEST(TexturesDiffer, InEachFieldOfTheLayout) {
  const TextureMeta game = texture(15, kTextureFlat, 1024, 1024, 1, 11);
  EXPECT_FALSE(textures_differ(game, game));
  const TextureMeta others[] = {
      texture(17, kTextureFlat, 1024, 1024, 1, 11), texture(15, kTextureCube, 1024, 1024, 1, 11),
      texture(15, kTextureFlat, 512, 1024, 1, 11),  texture(15, kTextureFlat, 1024, 512, 1, 11),
      texture(15, kTextureFlat, 1024, 1024, 2, 11), texture(15, kTextureFlat, 1024, 1024, 1, 10),
  };
  for (const TextureMeta& other : others) EXPECT_TRUE(textures_differ(other, game));
}

TEST(DescribeTextureDifference, GivesBothLayouts) {
  CStringBufferA text;
  ASSERT_TRUE(describe_texture_difference("hero.dds", texture(17, kTextureFlat, 2048, 2048, 1, 12),
                                          "hero", "dds", "ui_common",
                                          texture(15, kTextureFlat, 1024, 1024, 1, 11), text));
  EXPECT_STREQ(text.Data(),
               "\"hero.dds\" is DXT5 2048x2048, 12 mips; the game's \"hero\" \"dds\" in "
               "\"ui_common\" is DXT1 1024x1024, 11 mips");
}

}  // namespace
