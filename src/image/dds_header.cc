#include "image/dds_header.h"

#include "base/coding.h"
#include "image/image_status.h"

namespace {

// Offsets in the file, the magic included.
constexpr uint32_t kPixelFormatOffset = 76;
constexpr uint32_t kDxgiFormatOffset = kDdsFileHeaderSize;

// The header's fields in file order from offset 8, each a u32; the pixel format's eight fields
// follow reserved1.
template <typename Header, typename Visit>
void visit_fields(Header& h, Visit visit) {
  visit(h.flags);
  visit(h.height);
  visit(h.width);
  visit(h.pitchOrLinearSize);
  visit(h.depth);
  visit(h.mipCount);
  for (auto& word : h.reserved1) visit(word);
  visit(h.format.size);
  visit(h.format.flags);
  visit(h.format.fourCC);
  visit(h.format.rgbBitCount);
  visit(h.format.rMask);
  visit(h.format.gMask);
  visit(h.format.bMask);
  visit(h.format.aMask);
  visit(h.caps);
  visit(h.caps2);
  visit(h.caps3);
  visit(h.caps4);
  visit(h.reserved2);
}

}  // namespace

bool operator==(const DdsPixelFormat& a, const DdsPixelFormat& b) {
  return a.size == b.size && a.flags == b.flags && a.fourCC == b.fourCC &&
         a.rgbBitCount == b.rgbBitCount && a.rMask == b.rMask && a.gMask == b.gMask &&
         a.bMask == b.bMask && a.aMask == b.aMask;
}

bool has_dds_magic(const uint8_t* data, uint32_t size) {
  return size >= 4 && decode_u32(data) == kDdsMagic;
}

bool read_dds_header(const uint8_t* data, uint32_t size, DdsHeader* header, Status* status) {
  if (!has_dds_magic(data, size)) {
    return image_fail(status, StatusCode::kUnsupported,
                      "not a DDS texture: the file does not begin with \"DDS \"");
  }
  if (size < kDdsFileHeaderSize) {
    return image_fail(status, StatusCode::kUnsupported,
                      "the DDS file is shorter than its 128-byte header");
  }
  if (decode_u32(data + 4) != kDdsHeaderSize) {
    return image_fail(status, StatusCode::kUnsupported,
                      "the DDS header does not give its size as 124 bytes");
  }
  // Every field lies inside the 128 bytes checked above.
  const uint8_t* field = data + 8;
  visit_fields(*header, [&field](uint32_t& value) {
    value = decode_u32(field);
    field += 4;
  });
  static_assert(kPixelFormatOffset == 8 + 4 * (6 + 11), "the pixel format follows reserved1");
  header->hasDxgiFormat = header->format.fourCC == kFourCCDx10 && size - kDxgiFormatOffset >= 4;
  header->dxgiFormat = header->hasDxgiFormat ? decode_u32(data + kDxgiFormatOffset) : 0;
  return true;
}

void write_dds_header(const DdsHeader& header, uint8_t* out) {
  encode_u32(out, kDdsMagic);
  encode_u32(out + 4, kDdsHeaderSize);
  uint8_t* field = out + 8;
  visit_fields(header, [&field](const uint32_t& value) {
    encode_u32(field, value);
    field += 4;
  });
}
