#include "package/texture_conversion.h"

#include <cstring>

#include "base/byte_buffer.h"
#include "base/coding.h"
#include "driver/name_hash.h"
#include "package/entry_meta.h"

namespace {

constexpr uint32_t kDdsMagic = 0x20534444;  // "DDS "
constexpr uint32_t kDdsHeaderSize = 124;
constexpr uint32_t kDdsFileMinimum = 4 + kDdsHeaderSize;
// Offsets in the file, the magic included.
constexpr uint32_t kDdsHeightOffset = 12;
constexpr uint32_t kDdsPixelFormatOffset = 76;
constexpr uint32_t kDdsCaps2Offset = 112;

constexpr uint32_t kCaps2CubeMap = 0x200;
constexpr uint32_t kCaps2Volume = 0x200000;

constexpr uint32_t kLocMagic = 0x02434F4C;  // "LOC" 0x02
constexpr uint32_t kLocIdsOffset = 8;

constexpr uint32_t kFlagsRgbAlpha = 0x41;
constexpr uint32_t kFlagsRgb = 0x40;
constexpr uint32_t kFlagsLuminance = 0x20000;

constexpr uint32_t fourcc(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

bool is_signed_bump_map(const DdsPixelFormat& f) {
  return f.size == 32 && f.flags == 0x80000 && f.fourCC == 0 && f.rgbBitCount == 32 &&
         f.rMask == 0xFFFF && f.gMask == 0xFFFF0000 && f.bMask == 0 && f.aMask == 0;
}

constexpr uint32_t kDx10FourCC = fourcc('D', 'X', '1', '0');
// A file whose FourCC is "DX10" names its format in a second header, as a DXGI format number.
constexpr uint32_t kDx10FormatOffset = 128;

bool printable(uint32_t code) {
  for (int i = 0; i < 4; ++i) {
    const uint8_t c = static_cast<uint8_t>(code >> (8 * i));
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

MetaConversion unconvertible(Status* status, const char* what) {
  if (status != nullptr) status->Fail(StatusCode::kUnsupported, "%s", what);
  return kMetaFailed;
}

// Says which pixel format a texture has that the game cannot take.
MetaConversion unsupported_format(Status* status, const ByteBuffer& content,
                                  const DdsPixelFormat& f) {
  if (status == nullptr) return kMetaFailed;
  if (f.fourCC == kDx10FourCC && content.length() >= kDx10FormatOffset + 4) {
    status->Fail(StatusCode::kUnsupported, "unsupported texture format (DXGI format %u)",
                 decode_u32(content.data() + kDx10FormatOffset));
  } else if (f.fourCC != 0 && printable(f.fourCC)) {
    const char name[5] = {static_cast<char>(f.fourCC), static_cast<char>(f.fourCC >> 8),
                          static_cast<char>(f.fourCC >> 16), static_cast<char>(f.fourCC >> 24),
                          '\0'};
    status->Fail(StatusCode::kUnsupported, "unsupported texture format (FourCC \"%s\")", name);
  } else if (f.fourCC != 0) {
    status->Fail(StatusCode::kUnsupported, "unsupported texture format (FourCC %u)", f.fourCC);
  } else {
    status->Fail(StatusCode::kUnsupported,
                 "unsupported texture format (pixel format flags 0x%X, %u bits per pixel)", f.flags,
                 f.rgbBitCount);
  }
  return kMetaFailed;
}

}  // namespace

DdsFormatClass classify_dds_format(const DdsPixelFormat& f) {
  // The order of the rows decides between FourCC rows and RGB rows.
  if (f.fourCC == fourcc('D', 'X', 'T', '1')) return DdsFormatClass::kDxt1;
  if (f.fourCC == fourcc('D', 'X', 'T', '2')) return DdsFormatClass::kDxt2;
  if (f.fourCC == fourcc('D', 'X', 'T', '3')) return DdsFormatClass::kDxt3;
  if (f.fourCC == fourcc('D', 'X', 'T', '4')) return DdsFormatClass::kDxt4;
  if (f.fourCC == fourcc('D', 'X', 'T', '5')) return DdsFormatClass::kDxt5;
  if (f.fourCC == fourcc('A', 'T', 'I', '2')) return DdsFormatClass::kAti2;
  if (f.fourCC == fourcc('C', 'T', 'X', '1')) return DdsFormatClass::kCtx1;
  if (f.fourCC == 114) return DdsFormatClass::kFloatR32;
  if (is_signed_bump_map(f)) return DdsFormatClass::kSignedV16U16;
  if (f.fourCC == 112) return DdsFormatClass::kFloatG16R16;
  if (f.flags == kFlagsRgbAlpha && f.rgbBitCount == 32 && f.aMask == 0xFF000000) {
    return DdsFormatClass::kArgb32;
  }
  if (f.fourCC == 113) return DdsFormatClass::kFloatA16B16G16R16;
  if (f.flags == kFlagsRgbAlpha && f.rgbBitCount == 16) return DdsFormatClass::kArgb16;
  if (f.flags == kFlagsRgb && f.rgbBitCount == 24) return DdsFormatClass::kRgb24;
  if (f.flags == kFlagsRgb && f.rgbBitCount == 32) return DdsFormatClass::kXrgb32;
  if (f.flags == kFlagsLuminance && f.rgbBitCount == 8) return DdsFormatClass::kLuminance8;
  if (f.rgbBitCount == 8) return DdsFormatClass::kEightBit;
  return DdsFormatClass::kUnknown;
}

uint8_t texture_format_of(DdsFormatClass formatClass) {
  switch (formatClass) {
    case DdsFormatClass::kDxt1:
      return 15;
    case DdsFormatClass::kDxt3:
      return 16;
    case DdsFormatClass::kDxt5:
      return 17;
    case DdsFormatClass::kArgb32:
      return 6;
    case DdsFormatClass::kArgb16:
      return 10;
    case DdsFormatClass::kEightBit:
      return 20;
    default:
      return 0;
  }
}

MetaConversion convert_meta(const ByteBuffer& content, ByteBuffer& meta, uint64_t extId,
                            Status* status) {
  static const uint64_t ddsId = name_hash("dds");
  static const uint64_t locId = name_hash("loc");
  if (extId == ddsId) return convert_dds_header(content, meta, status);
  if (extId == locId) return convert_loc_header(content, meta, status);
  return kMetaNone;
}

MetaConversion convert_dds_header(const ByteBuffer& content, ByteBuffer& meta, Status* status) {
  if (!meta.resize(kVolumeTextureMetaSize)) return unconvertible(status, "out of memory");
  ByteReader reader(content);
  uint32_t magic = 0;
  if (!reader.read_u32(&magic) || magic != kDdsMagic) {
    return unconvertible(status, "not a DDS texture: the file does not begin with \"DDS \"");
  }
  if (content.length() < kDdsFileMinimum) {
    return unconvertible(status, "the DDS file is shorter than its 128-byte header");
  }

  uint32_t headerSize = 0;
  uint32_t height = 0;
  uint32_t width = 0;
  uint32_t depth = 0;
  uint32_t mipCount = 0;
  uint32_t caps2 = 0;
  DdsPixelFormat format;
  // Every field lies inside the 128 bytes checked above, so none of these reads can fail.
  reader.read_u32(&headerSize);
  if (headerSize != kDdsHeaderSize) {
    return unconvertible(status, "the DDS header does not give its size as 124 bytes");
  }
  reader.set_position(kDdsHeightOffset);
  reader.read_u32(&height);
  reader.read_u32(&width);
  reader.skip(4);  // pitch or linear size
  reader.read_u32(&depth);
  reader.read_u32(&mipCount);
  reader.set_position(kDdsPixelFormatOffset);
  uint32_t* fields[] = {&format.size,  &format.flags, &format.fourCC, &format.rgbBitCount,
                        &format.rMask, &format.gMask, &format.bMask,  &format.aMask};
  for (uint32_t* field : fields) reader.read_u32(field);
  reader.set_position(kDdsCaps2Offset);
  reader.read_u32(&caps2);

  const uint8_t textureFormat = texture_format_of(classify_dds_format(format));
  if (textureFormat == 0) return unsupported_format(status, content, format);
  uint8_t* out = meta.data();
  out[0] = textureFormat;
  encode_u16(out + 3, static_cast<uint16_t>(width));
  encode_u16(out + 5, static_cast<uint16_t>(height));

  switch (caps2 & (kCaps2CubeMap | kCaps2Volume)) {
    case 0:
      out[2] = kTextureFlat;
      meta.resize(kTextureMetaSize);
      break;
    case kCaps2CubeMap:
      out[2] = kTextureCube;
      meta.resize(kTextureMetaSize);
      break;
    case kCaps2Volume:
      if (depth == 1) {
        out[2] = kTextureFlat;
        meta.resize(kTextureMetaSize);
      } else {
        out[2] = kTextureVolume;
        encode_u16(out + 7, static_cast<uint16_t>(depth));
      }
      break;
    default:
      return unconvertible(status, "a texture cannot be a cube map and a volume at once");
  }
  out[1] = mipCount > 1 ? static_cast<uint8_t>(mipCount) : 1;
  return kMetaConverted;
}

MetaConversion convert_loc_header(const ByteBuffer& content, ByteBuffer& meta, Status* status) {
  meta.resize(0);
  ByteReader reader(content);
  uint32_t magic = 0;
  uint32_t count = 0;
  if (!reader.read_u32(&magic) || magic != kLocMagic) {
    return unconvertible(status,
                         "not a localisation file: the file does not begin with \"LOC\" and 2");
  }
  if (!reader.read_u32(&count)) {
    return unconvertible(status, "the localisation file ends before its id count");
  }
  // The whole list must be in the file before anything is allocated for it; by division, so
  // that no count can wrap the size.
  if (count > reader.remaining() / 8) {
    if (status != nullptr) {
      status->Fail(StatusCode::kUnsupported,
                   "the localisation file declares %u ids but holds only %u", count,
                   reader.remaining() / 8);
    }
    return kMetaFailed;
  }
  const uint32_t idBytes = count * 8;
  if (!meta.resize(4 + idBytes)) return unconvertible(status, "out of memory");
  encode_u32(meta.data(), count);
  if (idBytes != 0) std::memcpy(meta.data() + 4, content.data() + kLocIdsOffset, idBytes);
  return kMetaConverted;
}
