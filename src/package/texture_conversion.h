#ifndef VINTREL_PACKAGE_TEXTURE_CONVERSION_H_
#define VINTREL_PACKAGE_TEXTURE_CONVERSION_H_

// The metadata that a replaced entry gets from its replacing file when no "meta" file is given:
// a TextureMeta from a DDS texture's header, a LocMeta from a localisation file's id list.

#include <cstdint>

#include "base/status.h"
#include "image/dds_header.h"

class ByteBuffer;

// Results of the converters.
enum MetaConversion : int {
  kMetaFailed = 0,     // the file cannot be converted; the package update fails
  kMetaNone = 1,       // no conversion for this extension; meta untouched, old metadata stays
  kMetaConverted = 2,  // meta holds the new metadata
};

// Classes of DDS pixel formats, in the numbering of the game's texture tools. Only kDxt1,
// kDxt3, kDxt5, kArgb32, kArgb16 and kEightBit have a texture format.
enum class DdsFormatClass : uint8_t {
  kUnknown = 0,
  kDxt1 = 1,
  kDxt2 = 2,
  kDxt3 = 3,
  kDxt4 = 4,
  kDxt5 = 5,
  kCtx1 = 6,
  kAti2 = 7,
  kFloatR32 = 8,            // FourCC 114
  kFloatG16R16 = 9,         // FourCC 112
  kSignedV16U16 = 10,       // the signed bump-map descriptor
  kFloatA16B16G16R16 = 11,  // FourCC 113
  kArgb32 = 12,             // flags 0x41, 32 bits, alpha mask 0xFF000000
  kArgb16 = 14,             // flags 0x41, 16 bits
  kRgb24 = 15,              // flags 0x40, 24 bits
  kXrgb32 = 16,             // flags 0x40, 32 bits
  kEightBit = 18,           // any other 8-bit format (alpha-only, 8-bit RGB, ...)
  kLuminance8 = 19,         // flags 0x20000, 8 bits
};

// The class of the first row of the classification table that the pixel format matches. Flag
// words are compared whole, FourCCs as u32 regardless of the flags.
DdsFormatClass classify_dds_format(const DdsPixelFormat& format);

// The TextureMeta format code of a class (15, 16, 17, 6, 10 or 20); 0 when unsupported.
uint8_t texture_format_of(DdsFormatClass formatClass);

// Chooses the converter by extension id: "dds" and "loc" (their name_hash ids, made on first
// use); kMetaNone, meta untouched, for every other extension. The converters below record why a
// file cannot be converted in *status when one is given.
MetaConversion convert_meta(const ByteBuffer& content, ByteBuffer& meta, uint64_t extId,
                            Status* status = nullptr);

// A TextureMeta (format, mipCount, kind, u16 width, u16 height, and u16 depth for a volume
// deeper than 1: 7 or 9 bytes) from a DDS file. kMetaFailed when the file is shorter than 128
// bytes, lacks the "DDS " magic or the header size 124, has an unsupported pixel format, or is a
// cube map and a volume at once.
MetaConversion convert_dds_header(const ByteBuffer& content, ByteBuffer& meta,
                                  Status* status = nullptr);

// A LocMeta (u32 count, then count u64 ids in file order) from a localisation file ("LOC" 0x02,
// u32 count, count u64 ids). kMetaFailed when the magic is missing or the file is too short for
// its count; the count is checked before anything is copied.
MetaConversion convert_loc_header(const ByteBuffer& content, ByteBuffer& meta,
                                  Status* status = nullptr);

#endif  // VINTREL_PACKAGE_TEXTURE_CONVERSION_H_
