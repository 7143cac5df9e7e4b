// Builders for the files a mod brings in: DDS textures, "loc" localisation files, and the
// vintrel.json configuration.
#ifndef VINTREL_TESTS_SUPPORT_REPLACE_FILES_H_
#define VINTREL_TESTS_SUPPORT_REPLACE_FILES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/bytes.h"

namespace vtest {

constexpr uint32_t FourCC(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

// The fields of a DDS file that matter here; the rest is written as a real writer would.
struct DdsSpec {
  uint32_t header_size = 124;
  uint32_t width = 4;
  uint32_t height = 4;
  uint32_t depth = 0;
  uint32_t mip_count = 0;
  uint32_t caps2 = 0;
  // Pixel format (32 bytes from file offset 76).
  uint32_t pf_size = 32;
  uint32_t pf_flags = 0x4;  // FourCC
  uint32_t fourcc = FourCC('D', 'X', 'T', '1');
  uint32_t rgb_bit_count = 0;
  uint32_t r_mask = 0, g_mask = 0, b_mask = 0, a_mask = 0;
  Bytes payload;  // the pixel data after the 128-byte header
};

// "DDS " + the 124-byte header + payload.
Bytes MakeDds(const DdsSpec& plan);

// A DXT1 texture with its full mip chain down to 1x1 and deterministic block data.
DdsSpec Dxt1Texture(uint32_t width, uint32_t height, uint64_t seed);
// A 32-bit A8R8G8B8 texture (flags 0x41, A mask 0xFF000000), one level.
DdsSpec Argb32Texture(uint32_t width, uint32_t height, uint64_t seed);

// The 7- or 9-byte TextureMeta the game keeps for a texture.
Bytes TextureMeta(uint8_t format, uint8_t mip_count, uint8_t kind, uint16_t width, uint16_t height,
                  std::optional<uint16_t> depth = std::nullopt);

// "LOC" 0x02, u32 count (default ids.size()), the ids, then `tail`.
Bytes MakeLoc(const std::vector<uint64_t>& ids, std::optional<uint32_t> count = std::nullopt,
              const Bytes& tail = {});
// The LocMeta made from a loc file: u32 count, then the ids.
Bytes LocMeta(const std::vector<uint64_t>& ids);

struct ConfigFile {
  std::string name;
  std::string ext;
  std::string src;
  std::optional<std::string> pkg;
  std::optional<std::string> meta;
};

// A vintrel.json text: {"upak": ..., "fullcopy": true, "files": [...]}; "upak" and "fullcopy"
// only when given/true. Strings are JSON-escaped.
std::string MakeConfigJson(const std::vector<ConfigFile>& files,
                           std::optional<std::string> upak = std::nullopt, bool fullcopy = false);

// The files of examples/mod, by relative path (vintrel.json included): a 4x4 DXT1 "hero"
// texture with its mip chain restricted to package "ui_common", a "strings" localisation
// file, and a plain "menu" "txt" file with a "meta" file. Against ExampleGame() the tool
// rewrites ui_common (split) and world_full (full) into the user archive "mod".
std::vector<std::pair<std::string, Bytes>> ExampleMod();

}  // namespace vtest

#endif  // VINTREL_TESTS_SUPPORT_REPLACE_FILES_H_
