#ifndef VINTREL_PACKAGE_ENTRY_META_H_
#define VINTREL_PACKAGE_ENTRY_META_H_

// The metadata of texture and localisation entries, as convert_meta makes it from a replacing
// file and as the game's own packages carry it: a TextureMeta (u8 format, u8 mipCount, u8 kind,
// u16 width, u16 height, and u16 depth for a volume texture) and a LocMeta (u32 count, then count
// u64 ids).

#include <cstdint>

constexpr uint8_t kTextureFlat = 1;
constexpr uint8_t kTextureVolume = 2;
constexpr uint8_t kTextureCube = 3;
constexpr uint32_t kTextureMetaSize = 7;
constexpr uint32_t kVolumeTextureMetaSize = 9;

struct TextureMeta {
  uint8_t format = 0;
  uint8_t mipCount = 0;
  uint8_t kind = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  uint16_t depth = 1;  // stored only for a volume texture
};

// Decodes the size bytes of a TextureMeta: 7 for a flat or cube texture, 9 for a volume texture.
// False, *texture unchanged, when the kind is none of the three or does not go with the size.
bool decode_texture_meta(const uint8_t* meta, uint32_t size, TextureMeta* texture);

// The name of a format code that convert_meta writes ("DXT1", "DXT3", "DXT5", "ARGB32",
// "ARGB16", "8-bit"); null for any other code.
const char* texture_format_name(uint8_t format);
// "flat", "volume" or "cube"; null for any other kind.
const char* texture_kind_name(uint8_t kind);

// The count of the size bytes of a LocMeta. False, *count unchanged, unless size is exactly
// 4 + 8 * count.
bool decode_loc_meta(const uint8_t* meta, uint32_t size, uint32_t* count);

#endif  // VINTREL_PACKAGE_ENTRY_META_H_
