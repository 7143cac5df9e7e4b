#ifndef VINTREL_IMAGE_DDS_HEADER_H_
#define VINTREL_IMAGE_DDS_HEADER_H_

// The header of a DDS texture file: the magic "DDS ", a 124-byte header whose pixel format sits
// at file offset 76, then the pixel data (doc/texture_format.md). Every field is a little-endian
// u32.

#include <cstdint>

class Status;

constexpr uint32_t kDdsMagic = 0x20534444;  // "DDS "
constexpr uint32_t kDdsHeaderSize = 124;
// The magic and the header: where the pixel data begins.
constexpr uint32_t kDdsFileHeaderSize = 4 + kDdsHeaderSize;

// Header flags (which fields a writer says are valid; readers here do not consult them).
constexpr uint32_t kDdsFlagsTexture = 0x1007;  // caps, height, width, pixel format
constexpr uint32_t kDdsFlagsPitch = 0x8;
constexpr uint32_t kDdsFlagsMipCount = 0x20000;
constexpr uint32_t kDdsFlagsLinearSize = 0x80000;
constexpr uint32_t kDdsFlagsDepth = 0x800000;

// Pixel format flags.
constexpr uint32_t kDdpfAlphaPixels = 0x1;  // the alpha mask is valid beside colour or luminance
constexpr uint32_t kDdpfAlpha = 0x2;        // alpha only
constexpr uint32_t kDdpfFourCC = 0x4;
constexpr uint32_t kDdpfRgb = 0x40;
constexpr uint32_t kDdpfLuminance = 0x20000;

// Caps and caps 2.
constexpr uint32_t kDdsCapsComplex = 0x8;
constexpr uint32_t kDdsCapsTexture = 0x1000;
constexpr uint32_t kDdsCapsMipMap = 0x400000;
constexpr uint32_t kDdsCaps2CubeMap = 0x200;
// The faces of a cube map, in the order in which the file stores them: +X, -X, +Y, -Y, +Z, -Z.
constexpr uint32_t kDdsCaps2FirstFace = 0x400;
constexpr uint32_t kDdsCaps2AllFaces = 0xFC00;
constexpr uint32_t kDdsCaps2Volume = 0x200000;

constexpr uint32_t dds_fourcc(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}
constexpr uint32_t kFourCCDxt1 = dds_fourcc('D', 'X', 'T', '1');
constexpr uint32_t kFourCCDxt3 = dds_fourcc('D', 'X', 'T', '3');
constexpr uint32_t kFourCCDxt5 = dds_fourcc('D', 'X', 'T', '5');
// A file whose FourCC is "DX10" names its format in a second header after the first, as a DXGI
// format number at file offset 128.
constexpr uint32_t kFourCCDx10 = dds_fourcc('D', 'X', '1', '0');

// The 32-byte pixel format of a DDS header (at file offset 76).
struct DdsPixelFormat {
  uint32_t size = 0;
  uint32_t flags = 0;
  uint32_t fourCC = 0;
  uint32_t rgbBitCount = 0;
  uint32_t rMask = 0;
  uint32_t gMask = 0;
  uint32_t bMask = 0;
  uint32_t aMask = 0;
};

bool operator==(const DdsPixelFormat& a, const DdsPixelFormat& b);
inline bool operator!=(const DdsPixelFormat& a, const DdsPixelFormat& b) { return !(a == b); }

// Every field of the header, the ones no reader here consults included, so that a header read
// and written again gives the same 128 bytes.
struct DdsHeader {
  uint32_t flags = 0;
  uint32_t height = 0;
  uint32_t width = 0;
  uint32_t pitchOrLinearSize = 0;
  uint32_t depth = 0;
  uint32_t mipCount = 0;
  uint32_t reserved1[11] = {};
  DdsPixelFormat format;
  uint32_t caps = 0;
  uint32_t caps2 = 0;
  uint32_t caps3 = 0;
  uint32_t caps4 = 0;
  uint32_t reserved2 = 0;
  // Set when the FourCC is "DX10" and the file is long enough to hold the format number.
  bool hasDxgiFormat = false;
  uint32_t dxgiFormat = 0;
};

// Whether the size bytes at data begin with the magic "DDS ": whether they claim to be a DDS
// texture at all.
bool has_dds_magic(const uint8_t* data, uint32_t size);

// Reads the header at the start of a DDS file of size bytes. False, with the reason in *status
// (when given) and *header unspecified, when the file does not begin with "DDS " (fewer than 4
// bytes included), is shorter than the 128 bytes of the magic and header, or does not give the
// header's size as 124. Nothing else is checked: the fields are taken as they are.
bool read_dds_header(const uint8_t* data, uint32_t size, DdsHeader* header, Status* status);

// Writes the magic and the header (the size field as 124): 128 bytes at out.
void write_dds_header(const DdsHeader& header, uint8_t* out);

#endif  // VINTREL_IMAGE_DDS_HEADER_H_
