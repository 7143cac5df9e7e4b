#include "package/texture_conversion.h"

#include <gtest/gtest.h>

#include <optional>

#include "base/byte_buffer.h"
#include "driver/name_hash.h"
#include "tests/support/bytes.h"
#include "tests/support/replace_files.h"

namespace {

using vtest::Bytes;
using vtest::FourCC;

Bytes ToBytes(const ByteBuffer& buffer) {
  return Bytes(buffer.data(), buffer.data() + buffer.length());
}

void Fill(ByteBuffer& buffer, const Bytes& bytes) {
  ASSERT_TRUE(buffer.resize(static_cast<uint32_t>(bytes.size())));
  for (size_t i = 0; i < bytes.size(); ++i) buffer.data()[i] = bytes[i];
}

DdsPixelFormat Format(uint32_t flags, uint32_t fourCC, uint32_t bits, uint32_t r = 0,
                      uint32_t g = 0, uint32_t b = 0, uint32_t a = 0) {
  DdsPixelFormat format;
  format.size = 32;
  format.flags = flags;
  format.fourCC = fourCC;
  format.rgbBitCount = bits;
  format.rMask = r;
  format.gMask = g;
  format.bMask = b;
  format.aMask = a;
  return format;
}

TEST(ClassifyDdsFormat, FirstMatchingRowWins) {
  struct Case {
    const char* what;
    DdsPixelFormat format;
    DdsFormatClass expected;
    uint8_t textureFormat;
  } cases[] = {
      {"DXT1", Format(0x4, FourCC('D', 'X', 'T', '1'), 0), DdsFormatClass::kDxt1, 15},
      {"DXT2", Format(0x4, FourCC('D', 'X', 'T', '2'), 0), DdsFormatClass::kDxt2, 0},
      {"DXT3", Format(0x4, FourCC('D', 'X', 'T', '3'), 0), DdsFormatClass::kDxt3, 16},
      {"DXT4", Format(0x4, FourCC('D', 'X', 'T', '4'), 0), DdsFormatClass::kDxt4, 0},
      {"DXT5", Format(0x4, FourCC('D', 'X', 'T', '5'), 0), DdsFormatClass::kDxt5, 17},
      {"ATI2", Format(0x4, FourCC('A', 'T', 'I', '2'), 0), DdsFormatClass::kAti2, 0},
      {"CTX1", Format(0x4, FourCC('C', 'T', 'X', '1'), 0), DdsFormatClass::kCtx1, 0},
      {"FourCC with any flags", Format(0x41, FourCC('D', 'X', 'T', '1'), 32), DdsFormatClass::kDxt1,
       15},
      {"float R32", Format(0x4, 114, 0), DdsFormatClass::kFloatR32, 0},
      {"float R32 with ARGB fields", Format(0x41, 114, 32, 0, 0, 0, 0xFF000000),
       DdsFormatClass::kFloatR32, 0},
      {"signed bump map", Format(0x80000, 0, 32, 0xFFFF, 0xFFFF0000, 0, 0),
       DdsFormatClass::kSignedV16U16, 0},
      {"bump-map flags, other masks", Format(0x80000, 0, 32, 0xFFFF, 0xFFFF0000, 0, 1),
       DdsFormatClass::kUnknown, 0},
      {"float G16R16", Format(0x4, 112, 0), DdsFormatClass::kFloatG16R16, 0},
      {"float G16R16 with ARGB fields", Format(0x41, 112, 32, 0, 0, 0, 0xFF000000),
       DdsFormatClass::kFloatG16R16, 0},
      {"A8R8G8B8", Format(0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000), DdsFormatClass::kArgb32,
       6},
      {"A8B8G8R8 (only the alpha mask counts)",
       Format(0x41, 0, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000), DdsFormatClass::kArgb32, 6},
      {"float RGBA", Format(0x4, 113, 0), DdsFormatClass::kFloatA16B16G16R16, 0},
      {"float RGBA with ARGB fields", Format(0x41, 113, 32, 0, 0, 0, 0xFF000000),
       DdsFormatClass::kArgb32, 6},
      {"32-bit RGBA, other alpha mask", Format(0x41, 0, 32, 0, 0, 0, 0xFF),
       DdsFormatClass::kUnknown, 0},
      {"A1R5G5B5", Format(0x41, 0, 16, 0x7C00, 0x3E0, 0x1F, 0x8000), DdsFormatClass::kArgb16, 10},
      {"R8G8B8", Format(0x40, 0, 24), DdsFormatClass::kRgb24, 0},
      {"X8R8G8B8", Format(0x40, 0, 32), DdsFormatClass::kXrgb32, 0},
      {"luminance 8", Format(0x20000, 0, 8), DdsFormatClass::kLuminance8, 0},
      {"luminance and alpha flags, 8 bits", Format(0x20001, 0, 8), DdsFormatClass::kEightBit, 20},
      {"alpha only", Format(0x2, 0, 8, 0, 0, 0, 0xFF), DdsFormatClass::kEightBit, 20},
      {"8-bit RGB", Format(0x40, 0, 8), DdsFormatClass::kEightBit, 20},
      {"16-bit luminance", Format(0x20000, 0, 16), DdsFormatClass::kUnknown, 0},
      {"nothing", Format(0, 0, 0), DdsFormatClass::kUnknown, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(classify_dds_format(c.format), c.expected) << c.what;
    EXPECT_EQ(texture_format_of(classify_dds_format(c.format)), c.textureFormat) << c.what;
  }
}

vtest::DdsSpec Dds(uint32_t fourCC, uint32_t width, uint32_t height, uint32_t mips,
                   uint32_t caps2 = 0, uint32_t depth = 0) {
  vtest::DdsSpec plan;
  plan.fourcc = fourCC;
  plan.width = width;
  plan.height = height;
  plan.mip_count = mips;
  plan.caps2 = caps2;
  plan.depth = depth;
  plan.payload = vtest::MakeData(64, width);
  return plan;
}

vtest::DdsSpec Argb32(uint32_t width, uint32_t height, uint32_t caps2, uint32_t depth) {
  vtest::DdsSpec plan = vtest::Argb32Texture(width, height, 1);
  plan.caps2 = caps2;
  plan.depth = depth;
  return plan;
}

TEST(ConvertDdsHeader, MakesTextureMeta) {
  struct Case {
    const char* what;
    vtest::DdsSpec dds;
    Bytes expected;
  } cases[] = {
      {"DXT1 256x128, 9 mips",
       Dds(FourCC('D', 'X', 'T', '1'), 256, 128, 9),
       {15, 9, 1, 0x00, 0x01, 0x80, 0x00}},
      {"DXT5 cube map", Dds(FourCC('D', 'X', 'T', '5'), 64, 64, 7, 0x200 | 0xFE00),
       vtest::TextureMeta(17, 7, 3, 64, 64)},
      {"DXT3, mip count 0", Dds(FourCC('D', 'X', 'T', '3'), 32, 16, 0),
       vtest::TextureMeta(16, 1, 1, 32, 16)},
      {"mip count 1", Dds(FourCC('D', 'X', 'T', '1'), 8, 8, 1), vtest::TextureMeta(15, 1, 1, 8, 8)},
      {"mip count 0x100: the whole u32 is compared, the low 8 bits stored",
       Dds(FourCC('D', 'X', 'T', '1'), 8, 8, 0x100), vtest::TextureMeta(15, 0, 1, 8, 8)},
      {"width and height keep their low 16 bits",
       Dds(FourCC('D', 'X', 'T', '1'), 0x12345, 0x10002, 2),
       vtest::TextureMeta(15, 2, 1, 0x2345, 0x0002)},
      {"A8R8G8B8 volume of depth 4", Argb32(16, 8, 0x200000, 4),
       vtest::TextureMeta(6, 1, 2, 16, 8, 4)},
      {"A8R8G8B8 volume of depth 1", Argb32(16, 8, 0x200000, 1),
       vtest::TextureMeta(6, 1, 1, 16, 8)},
      {"depth without the volume bit", Argb32(16, 8, 0, 4), vtest::TextureMeta(6, 1, 1, 16, 8)},
  };
  for (const Case& c : cases) {
    ByteBuffer content;
    ByteBuffer meta;
    Fill(content, vtest::MakeDds(c.dds));
    ASSERT_EQ(convert_dds_header(content, meta), kMetaConverted) << c.what;
    EXPECT_EQ(ToBytes(meta), c.expected) << c.what << ": " << vtest::Hex(ToBytes(meta));
  }
}

TEST(ConvertDdsHeader, RefusesUnsupportedAndMalformedFiles) {
  auto withFormat = [](uint32_t flags, uint32_t fourCC, uint32_t bits) {
    vtest::DdsSpec plan = Dds(fourCC, 4, 4, 1);
    plan.pf_flags = flags;
    plan.rgb_bit_count = bits;
    return vtest::MakeDds(plan);
  };
  vtest::DdsSpec badSize = Dds(FourCC('D', 'X', 'T', '1'), 4, 4, 1);
  badSize.header_size = 123;
  Bytes file127 = vtest::MakeDds(Dds(FourCC('D', 'X', 'T', '1'), 4, 4, 1));
  file127.resize(127);
  Bytes badMagic = vtest::MakeDds(Dds(FourCC('D', 'X', 'T', '1'), 4, 4, 1));
  badMagic[3] = 'X';
  struct Case {
    const char* what;
    Bytes file;
  } cases[] = {
      {"DXT2", withFormat(0x4, FourCC('D', 'X', 'T', '2'), 0)},
      {"DXT4", withFormat(0x4, FourCC('D', 'X', 'T', '4'), 0)},
      {"ATI2", withFormat(0x4, FourCC('A', 'T', 'I', '2'), 0)},
      {"CTX1", withFormat(0x4, FourCC('C', 'T', 'X', '1'), 0)},
      {"float", withFormat(0x4, 113, 0)},
      {"24-bit RGB", withFormat(0x40, 0, 24)},
      {"32-bit RGB without alpha", withFormat(0x40, 0, 32)},
      {"8-bit luminance", withFormat(0x20000, 0, 8)},
      {"cube map and volume at once", vtest::MakeDds(Argb32(4, 4, 0x200200, 2))},
      {"header size 123", vtest::MakeDds(badSize)},
      {"127 bytes", file127},
      {"wrong magic", badMagic},
      {"3 bytes", Bytes{'D', 'D', 'S'}},
      {"empty", Bytes{}},
  };
  for (const Case& c : cases) {
    ByteBuffer content;
    ByteBuffer meta;
    Fill(content, c.file);
    EXPECT_EQ(convert_dds_header(content, meta), kMetaFailed) << c.what;
  }
}

TEST(ConvertLocHeader, CopiesCountAndIds) {
  const std::vector<uint64_t> ids = {0x0102030405060708u, 0xFFFFFFFFFFFFFFFFu, 0};
  struct Case {
    const char* what;
    Bytes file;
    Bytes expected;
  } cases[] = {
      {"count 0", vtest::MakeLoc({}), Bytes{0, 0, 0, 0}},
      {"three ids", vtest::MakeLoc(ids), vtest::LocMeta(ids)},
      {"bytes after the ids are not copied", vtest::MakeLoc(ids, std::nullopt, Bytes(9, 0xEE)),
       vtest::LocMeta(ids)},
      {"count below the ids present", vtest::MakeLoc(ids, 2), vtest::LocMeta({ids[0], ids[1]})},
  };
  for (const Case& c : cases) {
    ByteBuffer content;
    ByteBuffer meta;
    Fill(content, c.file);
    ASSERT_EQ(convert_loc_header(content, meta), kMetaConverted) << c.what;
    EXPECT_EQ(ToBytes(meta), c.expected) << c.what;
  }
}

TEST(ConvertLocHeader, RefusesShortAndForeignFiles) {
  Bytes count3In20 = vtest::MakeLoc({1, 2, 3});
  count3In20.resize(20);
  Bytes wrongMagic = vtest::MakeLoc({1});
  wrongMagic[3] = 3;
  struct Case {
    const char* what;
    Bytes file;
  } cases[] = {
      {"count 3 in 20 bytes", count3In20},
      {"count 0xFFFFFFFF in a short file", vtest::MakeLoc({1, 2}, 0xFFFFFFFFu)},
      {"count 0x20000000 (8 * count wraps to 0)", vtest::MakeLoc({}, 0x20000000u)},
      {"wrong magic", wrongMagic},
      {"7 bytes", Bytes{'L', 'O', 'C', 2, 0, 0, 0}},
      {"3 bytes", Bytes{'L', 'O', 'C'}},
  };
  for (const Case& c : cases) {
    ByteBuffer content;
    ByteBuffer meta;
    Fill(content, c.file);
    EXPECT_EQ(convert_loc_header(content, meta), kMetaFailed) << c.what;
    EXPECT_LT(meta.capacity(), 1u << 20) << c.what;
  }
}

TEST(ConvertMeta, ChoosesTheConverterByExtensionId) {
  ByteBuffer dds;
  ByteBuffer loc;
  Fill(dds, vtest::MakeDds(Dds(FourCC('D', 'X', 'T', '1'), 256, 128, 9)));
  Fill(loc, vtest::MakeLoc({7}));
  ByteBuffer meta;
  EXPECT_EQ(convert_meta(dds, meta, name_hash("dds")), kMetaConverted);
  EXPECT_EQ(meta.length(), 7u);
  EXPECT_EQ(convert_meta(dds, meta, name_hash("DDS")), kMetaConverted);
  EXPECT_EQ(convert_meta(loc, meta, name_hash("loc")), kMetaConverted);
  EXPECT_EQ(ToBytes(meta), vtest::LocMeta({7}));
  // A texture under a loc id is a malformed loc file.
  EXPECT_EQ(convert_meta(dds, meta, name_hash("loc")), kMetaFailed);
}

TEST(ConvertMeta, OtherExtensionsLeaveMetaUntouched) {
  ByteBuffer dds;
  Fill(dds, vtest::MakeDds(Dds(FourCC('D', 'X', 'T', '1'), 4, 4, 1)));
  for (const char* ext : {"bin", "tga", "", "ddsx"}) {
    ByteBuffer meta;
    Fill(meta, Bytes{9, 8, 7});
    EXPECT_EQ(convert_meta(dds, meta, name_hash(ext)), kMetaNone) << ext;
    EXPECT_EQ(ToBytes(meta), (Bytes{9, 8, 7})) << ext;
  }
}

}  // namespace
