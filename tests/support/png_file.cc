#include "tests/support/png_file.h"

#include <zlib.h>

#include <string>

namespace vtest {

namespace {

void PutBigU32(Bytes& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutChunk(Bytes& out, const std::string& type, const Bytes& data) {
  PutBigU32(out, static_cast<uint32_t>(data.size()));
  Bytes typed(type.begin(), type.end());
  typed.insert(typed.end(), data.begin(), data.end());
  out.insert(out.end(), typed.begin(), typed.end());
  PutBigU32(out, static_cast<uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))));
}

}  // namespace

Bytes MakePng(const PngSpec& spec) {
  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes header;
  PutBigU32(header, spec.width);
  PutBigU32(header, spec.height);
  header.push_back(spec.bit_depth);
  header.push_back(spec.colour_type);
  header.push_back(0);  // deflate
  header.push_back(0);  // adaptive filtering
  header.push_back(0);  // not interlaced
  PutChunk(out, "IHDR", header);
  if (!spec.palette.empty()) PutChunk(out, "PLTE", spec.palette);
  if (!spec.transparency.empty()) PutChunk(out, "tRNS", spec.transparency);
  Bytes raw;
  const size_t rowBytes = spec.height == 0 ? 0 : spec.rows.size() / spec.height;
  for (uint32_t y = 0; y < spec.height; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), spec.rows.begin() + y * rowBytes, spec.rows.begin() + (y + 1) * rowBytes);
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  Bytes packed(packedSize);
  compress(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()));
  packed.resize(packedSize);
  PutChunk(out, "IDAT", packed);
  PutChunk(out, "IEND", {});
  return out;
}

Bytes Picture(uint32_t width, uint32_t height, uint8_t red) {
  PngSpec png;
  png.width = width;
  png.height = height;
  for (uint32_t i = 0; i < width * height; ++i) {
    png.rows.insert(png.rows.end(), {red, 40, static_cast<uint8_t>(i == 0 ? 250 : 90), 255});
  }
  return MakePng(png);
}

std::pair<uint32_t, uint32_t> PngSize(const Bytes& png) {
  auto u32 = [&png](size_t at) {
    return png.size() < at + 4 ? 0u
                               : uint32_t{png[at]} << 24 | uint32_t{png[at + 1]} << 16 |
                                     uint32_t{png[at + 2]} << 8 | png[at + 3];
  };
  return {u32(16), u32(20)};
}

}  // namespace vtest
