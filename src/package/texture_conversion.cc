#include "package/texture_conversion.h"

#include <cstring>

#include "base/byte_buffer.h"
#include "base/coding.h"
#include "driver/name_hash.h"
#include "package/entry_meta.h"

namespace {

constexpr uint32_t kLocMagic = 0x02434F4C;  // "LOC" 0x02
constexpr uint32_t kLocIdsOffset = 8;

// Flag words compared whole by the classification.
constexpr uint32_t kFlagsRgbAlpha = kDdpfRgb | kDdpfAlphaPixels;
constexpr uint32_t kFlagsRgb = kDdpfRgb;
constexpr uint32_t kFlagsLuminance = kDdpfLuminance;

bool is_signed_bump_map(const DdsPixelFormat& f) {
  return f.size == 32 && f.flags == 0x80000 && f.fourCC == 0 && f.rgbBitCount == 32 &&
         f.rMask == 0xFFFF && f.gMask == 0xFFFF0000 && f.bMask == 0 && f.aMask == 0;
}

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
MetaConversion unsupported_format(Status* status, const DdsHeader& header) {
  if (status == nullptr) return kMetaFailed;
  const DdsPixelFormat& f = header.format;
  if (header.hasDxgiFormat) {
    status->Fail(StatusCode::kUnsupported, "unsupported texture format (DXGI format %u)",
                 header.dxgiFormat);
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
  if (f.fourCC == dds_fourcc('D', 'X', 'T', '1')) return DdsFormatClass::kDxt1;
  if (f.fourCC == dds_fourcc('D', 'X', 'T', '2')) return DdsFormatClass::kDxt2;
  if (f.fourCC == dds_fourcc('D', 'X', 'T', '3')) return DdsFormatClass::kDxt3;
  if (f.fourCC == dds_fourcc('D', 'X', 'T', '4')) return DdsFormatClass::kDxt4;
  if (f.fourCC == dds_fourcc('D', 'X', 'T', '5')) return DdsFormatClass::kDxt5;
  if (f.fourCC == dds_fourcc('A', 'T', 'I', '2')) return DdsFormatClass::kAti2;
  if (f.fourCC == dds_fourcc('C', 'T', 'X', '1')) return DdsFormatClass::kCtx1;
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
  DdsHeader header;
  if (!read_dds_header(content.data(), content.length(), &header, status)) return kMetaFailed;

  const uint8_t textureFormat = texture_format_of(classify_dds_format(header.format));
  if (textureFormat == 0) return unsupported_format(status, header);
  uint8_t* out = meta.data();
  out[0] = textureFormat;
  encode_u16(out + 3, static_cast<uint16_t>(header.width));
  encode_u16(out + 5, static_cast<uint16_t>(header.height));

  switch (header.caps2 & (kDdsCaps2CubeMap | kDdsCaps2Volume)) {
    case 0:
      out[2] = kTextureFlat;
      meta.resize(kTextureMetaSize);
      break;
    case kDdsCaps2CubeMap:
      out[2] = kTextureCube;
      meta.resize(kTextureMetaSize);
      break;
    case kDdsCaps2Volume:
      if (header.depth == 1) {
        out[2] = kTextureFlat;
        meta.resize(kTextureMetaSize);
      } else {
        out[2] = kTextureVolume;
        encode_u16(out + 7, static_cast<uint16_t>(header.depth));
      }
      break;
    default:
      return unconvertible(status, "a texture cannot be a cube map and a volume at once");
  }
  out[1] = header.mipCount > 1 ? static_cast<uint8_t>(header.mipCount) : 1;
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
