#include "package/entry_meta.h"

#include <gtest/gtest.h>

#include "tests/support/bytes.h"
#include "tests/support/replace_files.h"

namespace {

using vtest::Bytes;

TEST(DecodeTextureMeta, ReadsWhatTheConverterWrites) {
  const struct {
    const char* what;
    Bytes meta;
    TextureMeta expected;
  } cases[] = {
      {"flat DXT1", vtest::TextureMeta(15, 9, 1, 256, 128), {15, 9, 1, 256, 128, 1}},
      {"cube DXT5", vtest::TextureMeta(17, 7, 3, 64, 64), {17, 7, 3, 64, 64, 1}},
      {"volume ARGB32", vtest::TextureMeta(6, 1, 2, 16, 8, 4), {6, 1, 2, 16, 8, 4}},
  };
  for (const auto& c : cases) {
    TextureMeta texture;
    ASSERT_TRUE(decode_texture_meta(c.meta.data(), static_cast<uint32_t>(c.meta.size()), &texture))
        << c.what;
    EXPECT_EQ(texture.format, c.expected.format) << c.what;
    EXPECT_EQ(texture.mipCount, c.expected.mipCount) << c.what;
    EXPECT_EQ(texture.kind, c.expected.kind) << c.what;
    EXPECT_EQ(texture.width, c.expected.width) << c.what;
    EXPECT_EQ(texture.height, c.expected.height) << c.what;
    EXPECT_EQ(texture.depth, c.expected.depth) << c.what;
  }
}

TEST(DecodeTextureMeta, RefusesEveryCutAndAKindThatDoesNotFitTheSize) {
  const Bytes volume = vtest::TextureMeta(6, 1, 2, 16, 8, 4);
  TextureMeta texture;
  for (uint32_t size = 0; size < volume.size(); ++size) {
    EXPECT_FALSE(decode_texture_meta(volume.data(), size, &texture)) << size;
  }
  for (const uint8_t kind : {0, 2, 4}) {
    Bytes flat = vtest::TextureMeta(15, 1, 1, 8, 8);
    flat[2] = kind;
    EXPECT_FALSE(decode_texture_meta(flat.data(), static_cast<uint32_t>(flat.size()), &texture))
        << int{kind};
  }
}

TEST(DecodeLocMeta, TakesTheCountOnlyWhenTheIdsFillTheRest) {
  const Bytes meta = vtest::LocMeta({1, 2, 3});
  uint32_t count = 0;
  ASSERT_TRUE(decode_loc_meta(meta.data(), static_cast<uint32_t>(meta.size()), &count));
  EXPECT_EQ(count, 3u);
  for (uint32_t size = 0; size < meta.size(); ++size) {
    EXPECT_FALSE(decode_loc_meta(meta.data(), size, &count)) << size;
  }
}

}  // namespace
