#include "package/entry_meta.h"

#include "base/coding.h"

bool decode_texture_meta(const uint8_t* meta, uint32_t size, TextureMeta* texture) {
  if (size != kTextureMetaSize && size != kVolumeTextureMetaSize) return false;
  const uint8_t kind = meta[2];
  const bool volume = size == kVolumeTextureMetaSize;
  if (volume != (kind == kTextureVolume) ||
      (!volume && kind != kTextureFlat && kind != kTextureCube)) {
    return false;
  }
  texture->format = meta[0];
  texture->mipCount = meta[1];
  texture->kind = kind;
  texture->width = decode_u16(meta + 3);
  texture->height = decode_u16(meta + 5);
  texture->depth = volume ? decode_u16(meta + 7) : 1;
  return true;
}

const char* texture_format_name(uint8_t format) {
  switch (format) {
    case 15:
      return "DXT1";
    case 16:
      return "DXT3";
    case 17:
      return "DXT5";
    case 6:
      return "ARGB32";
    case 10:
      return "ARGB16";
    case 20:
      return "8-bit";
    default:
      return nullptr;
  }
}

const char* texture_kind_name(uint8_t kind) {
  switch (kind) {
    case kTextureFlat:
      return "flat";
    case kTextureVolume:
      return "volume";
    case kTextureCube:
      return "cube";
    default:
      return nullptr;
  }
}

bool decode_loc_meta(const uint8_t* meta, uint32_t size, uint32_t* count) {
  if (size < 4) return false;
  const uint32_t declared = decode_u32(meta);
  if (declared != (size - 4) / 8 || (size - 4) % 8 != 0) return false;
  *count = declared;
  return true;
}
