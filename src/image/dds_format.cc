#include "image/dds_format.h"

#include <cstdio>
#include <cstring>

#include "base/ascii.h"
#include "image/image_status.h"

namespace {

struct NamedFormat {
  const char* name;
  DdsPixelFormat format;
};

constexpr uint32_t kRgbAlpha = kDdpfRgb | kDdpfAlphaPixels;

// In the order of TextureFormat.
const NamedFormat kNamedFormats[kTextureFormatCount] = {
    {"DXT1", {32, kDdpfFourCC, kFourCCDxt1, 0, 0, 0, 0, 0}},
    {"DXT3", {32, kDdpfFourCC, kFourCCDxt3, 0, 0, 0, 0, 0}},
    {"DXT5", {32, kDdpfFourCC, kFourCCDxt5, 0, 0, 0, 0, 0}},
    {"A8R8G8B8", {32, kRgbAlpha, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000}},
    {"A1R5G5B5", {32, kRgbAlpha, 0, 16, 0x7C00, 0x3E0, 0x1F, 0x8000}},
    {"A4R4G4B4", {32, kRgbAlpha, 0, 16, 0xF00, 0xF0, 0xF, 0xF000}},
    {"R5G6B5", {32, kDdpfRgb, 0, 16, 0xF800, 0x7E0, 0x1F, 0}},
    {"A8", {32, kDdpfAlpha, 0, 8, 0, 0, 0, 0xFF}},
    {"L8", {32, kDdpfLuminance, 0, 8, 0xFF, 0, 0, 0}},
};

uint8_t lowest_bit(uint32_t mask) {
  uint8_t shift = 0;
  while ((mask & 1) == 0) {
    mask >>= 1;
    ++shift;
  }
  return shift;
}

// Fills channel from a mask; false when the mask is not one run of bits.
bool take_mask(uint32_t mask, DdsChannel* channel) {
  *channel = DdsChannel();
  if (mask == 0) return true;
  const uint8_t shift = lowest_bit(mask);
  const uint32_t run = mask >> shift;
  // One run of ones is one less than a power of two.
  if ((run & (run + 1)) != 0) return false;
  uint8_t bits = 0;
  for (uint32_t v = run; v != 0; v >>= 1) ++bits;
  channel->mask = mask;
  channel->shift = shift;
  channel->bits = bits;
  return true;
}

// Without a status no name is made: name_pixel_format asks describe_masked without one.
bool refuse(Status* status, const DdsPixelFormat& format, const char* why) {
  if (status == nullptr) return false;
  char name[kPixelFormatNameSize];
  name_pixel_format(format, name);
  return image_fail(status, StatusCode::kUnsupported, "unsupported texture format (%s): %s", name,
                    why);
}

bool describe_masked(const DdsPixelFormat& f, DdsPixelLayout* layout, Status* status) {
  const uint32_t bits = f.rgbBitCount;
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    return refuse(status, f, "the tool reads pixels of 8, 16, 24 or 32 bits");
  }
  const bool withAlpha = (f.flags & kDdpfAlphaPixels) != 0;
  uint32_t masks[4] = {0, 0, 0, 0};  // red (or luminance), green, blue, alpha
  if ((f.flags & kDdpfLuminance) != 0) {
    layout->luminance = true;
    masks[0] = f.rMask;
    masks[3] = withAlpha ? f.aMask : 0;
  } else if ((f.flags & kDdpfRgb) != 0) {
    masks[0] = f.rMask;
    masks[1] = f.gMask;
    masks[2] = f.bMask;
    masks[3] = withAlpha ? f.aMask : 0;
  } else if ((f.flags & kDdpfAlpha) != 0) {
    masks[3] = f.aMask;
  } else {
    return refuse(status, f, "its flags name no colour, luminance or alpha channels");
  }
  DdsChannel* channels[4] = {&layout->red, &layout->green, &layout->blue, &layout->alpha};
  uint32_t seen = 0;
  for (int i = 0; i < 4; ++i) {
    if (!take_mask(masks[i], channels[i]))
      return refuse(status, f, "a mask is not one run of bits");
    if (bits < 32 && (masks[i] >> bits) != 0) {
      return refuse(status, f, "a mask reaches past the pixel's bits");
    }
    if ((seen & masks[i]) != 0) return refuse(status, f, "two masks overlap");
    seen |= masks[i];
  }
  if (seen == 0) return refuse(status, f, "it has no channel masks");
  layout->encoding = DdsEncoding::kMasked;
  layout->pixelBytes = bits / 8;
  return true;
}

// Appends text to out at *used, cutting at the end of out.
void append(char (&out)[kPixelFormatNameSize], uint32_t* used, const char* text) {
  const int n = std::snprintf(out + *used, kPixelFormatNameSize - *used, "%s", text);
  if (n > 0)
    *used = *used + static_cast<uint32_t>(n) < kPixelFormatNameSize
                ? *used + static_cast<uint32_t>(n)
                : kPixelFormatNameSize - 1;
}

}  // namespace

const char kTextureFormatNames[] = "DXT1, DXT3, DXT5, A8R8G8B8, A1R5G5B5, A4R4G4B4, R5G6B5, A8, L8";

bool describe_dds_format(const DdsPixelFormat& format, DdsPixelLayout* layout, Status* status) {
  *layout = DdsPixelLayout();
  const DdsEncoding blocks[] = {DdsEncoding::kDxt1, DdsEncoding::kDxt3, DdsEncoding::kDxt5};
  const uint32_t fourCCs[] = {kFourCCDxt1, kFourCCDxt3, kFourCCDxt5};
  for (int i = 0; i < 3; ++i) {
    if (format.fourCC != fourCCs[i]) continue;
    layout->encoding = blocks[i];
    layout->blockBytes = i == 0 ? 8 : 16;
    return true;
  }
  if ((format.flags & kDdpfFourCC) != 0) {
    return refuse(status, format, "the tool reads DXT1, DXT3, DXT5 and formats given by masks");
  }
  return describe_masked(format, layout, status);
}

uint64_t dds_surface_bytes(const DdsPixelLayout& layout, uint32_t width, uint32_t height) {
  if (layout.encoding == DdsEncoding::kMasked) {
    return static_cast<uint64_t>(width) * height * layout.pixelBytes;
  }
  const uint64_t blocksWide = (static_cast<uint64_t>(width) + 3) / 4;
  const uint64_t blocksHigh = (static_cast<uint64_t>(height) + 3) / 4;
  return blocksWide * blocksHigh * layout.blockBytes;
}

void name_pixel_format(const DdsPixelFormat& format, char (&out)[kPixelFormatNameSize]) {
  out[0] = '\0';
  uint32_t used = 0;
  for (const NamedFormat& named : kNamedFormats) {
    if (named.format.fourCC != 0 && named.format.fourCC == format.fourCC) {
      append(out, &used, named.name);
      return;
    }
  }
  if (format.fourCC != 0 && (format.flags & kDdpfFourCC) != 0) {
    bool printable = true;
    char code[5] = {};
    for (int i = 0; i < 4; ++i) {
      code[i] = static_cast<char>(format.fourCC >> (8 * i));
      printable = printable && code[i] >= 0x20 && code[i] <= 0x7E;
    }
    if (printable) {
      std::snprintf(out, sizeof(out), "FourCC \"%s\"", code);
    } else {
      std::snprintf(out, sizeof(out), "FourCC %u", format.fourCC);
    }
    return;
  }
  DdsPixelLayout layout;
  if (!describe_masked(format, &layout, nullptr)) {
    std::snprintf(out, sizeof(out), "flags 0x%X, %u bits", format.flags, format.rgbBitCount);
    return;
  }
  // The channels from the highest bit down; a gap between them is unused (X).
  struct Named {
    const DdsChannel* channel;
    char letter;
  } channels[4] = {{&layout.alpha, 'A'},
                   {&layout.red, layout.luminance ? 'L' : 'R'},
                   {&layout.green, 'G'},
                   {&layout.blue, 'B'}};
  int bit = static_cast<int>(format.rgbBitCount);
  while (bit > 0) {
    const Named* next = nullptr;
    for (const Named& c : channels) {
      if (c.channel->bits == 0 || c.channel->shift >= bit) continue;
      if (next == nullptr || c.channel->shift > next->channel->shift) next = &c;
    }
    const int top = next == nullptr ? 0 : next->channel->shift + next->channel->bits;
    char part[16];
    if (top < bit) {
      std::snprintf(part, sizeof(part), "X%d", bit - top);
      append(out, &used, part);
    }
    if (next == nullptr) break;
    std::snprintf(part, sizeof(part), "%c%u", next->letter, next->channel->bits);
    append(out, &used, part);
    bit = next->channel->shift;
  }
}

bool parse_texture_format(const char* name, TextureFormat* format) {
  const size_t length = std::strlen(name);
  for (uint32_t i = 0; i < kTextureFormatCount; ++i) {
    const char* known = kNamedFormats[i].name;
    if (std::strlen(known) == length && ascii_same_but_case(known, name, length)) {
      *format = static_cast<TextureFormat>(i);
      return true;
    }
  }
  return false;
}

const char* texture_format_text(TextureFormat format) {
  return kNamedFormats[static_cast<uint32_t>(format)].name;
}

DdsPixelFormat pixel_format_of(TextureFormat format) {
  return kNamedFormats[static_cast<uint32_t>(format)].format;
}
