#ifndef VINTREL_IMAGE_DDS_FORMAT_H_
#define VINTREL_IMAGE_DDS_FORMAT_H_

// How a DDS pixel format stores its pixels: as blocks of 4 x 4 pixels (DXT1, DXT3, DXT5) or as
// pixels of 1 to 4 bytes whose channels the masks give; and the formats a texture can be made in
// by name.

#include <cstdint>

#include "image/dds_header.h"

class Status;

enum class DdsEncoding : uint8_t {
  kDxt1,    // 8 bytes a block: two RGB565 colours and 2-bit indices; 1-bit alpha
  kDxt3,    // 16 bytes a block: 4-bit alpha for each pixel, then a DXT1 colour block
  kDxt5,    // 16 bytes a block: two alpha values and 3-bit indices, then a DXT1 colour block
  kMasked,  // pixels of 1 to 4 bytes; each channel is one run of bits that its mask gives
};

// One channel of a masked pixel: its bits are (pixel & mask) >> shift, `bits` of them; a channel
// the format lacks has mask 0 and bits 0.
struct DdsChannel {
  uint32_t mask = 0;
  uint8_t shift = 0;
  uint8_t bits = 0;
};

struct DdsPixelLayout {
  DdsEncoding encoding = DdsEncoding::kMasked;
  uint32_t blockBytes = 0;  // DXT: the bytes of a block of 4 x 4 pixels (8 or 16)
  uint32_t pixelBytes = 0;  // masked: the bytes of a pixel (1 to 4)
  bool luminance = false;   // masked: the red channel is luminance, shown as grey
  DdsChannel red;
  DdsChannel green;
  DdsChannel blue;
  DdsChannel alpha;
};

// Works out how the pixels of a format are stored. The FourCCs "DXT1", "DXT3" and "DXT5" are
// taken whatever the flags say; any other format is read by its masks:
//   - flags with kDdpfFourCC (and another FourCC): refused;
//   - kDdpfLuminance: the red mask is luminance (grey), and the alpha mask alpha with
//     kDdpfAlphaPixels;
//   - kDdpfRgb: the red, green and blue masks, and the alpha mask with kDdpfAlphaPixels;
//   - kDdpfAlpha alone: the alpha mask (colour black).
// A channel with mask 0 is absent: colour 0, alpha 255. False, with the reason in *status (the
// format named as name_pixel_format names it), for any other FourCC or flags, a bit count other
// than 8, 16, 24 or 32, a mask that is not one run of bits or reaches past the bit count, masks
// that overlap, or no channel at all.
bool describe_dds_format(const DdsPixelFormat& format, DdsPixelLayout* layout, Status* status);

// The bytes of one surface (one face or slice of one level) of width x height pixels.
uint64_t dds_surface_bytes(const DdsPixelLayout& layout, uint32_t width, uint32_t height);

// A short name of a pixel format for people: "DXT1"; the channels of a masked format from the
// highest bit down, unused bits as X ("A8R8G8B8", "X8R8G8B8", "R5G6B5", "A8L8", "A8"); for any
// other FourCC the FourCC ("FourCC \"ATI2\"", or its number when not printable); for anything else
// its flags and bit count ("flags 0x80000, 32 bits").
constexpr uint32_t kPixelFormatNameSize = 48;
void name_pixel_format(const DdsPixelFormat& format, char (&out)[kPixelFormatNameSize]);

// The formats a texture can be made in by name.
enum class TextureFormat : uint8_t {
  kDxt1,
  kDxt3,
  kDxt5,
  kA8R8G8B8,
  kA1R5G5B5,
  kA4R4G4B4,
  kR5G6B5,
  kA8,
  kL8,
};
constexpr uint32_t kTextureFormatCount = 9;
// The names, for messages: "DXT1, DXT3, DXT5, A8R8G8B8, A1R5G5B5, A4R4G4B4, R5G6B5, A8, L8".
extern const char kTextureFormatNames[];

// The format a name stands for, letters in either case. False for any other name.
bool parse_texture_format(const char* name, TextureFormat* format);
// "DXT1", "A8R8G8B8", ...
const char* texture_format_text(TextureFormat format);
// The pixel format written for it: the FourCC with kDdpfFourCC, or the masks with kDdpfRgb (and
// kDdpfAlphaPixels when it has alpha), kDdpfAlpha for A8, kDdpfLuminance for L8.
DdsPixelFormat pixel_format_of(TextureFormat format);

#endif  // VINTREL_IMAGE_DDS_FORMAT_H_
