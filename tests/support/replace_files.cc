#include "tests/support/replace_files.h"

#include <algorithm>

#include "tests/support/game_format.h"

namespace vtest {

Bytes MakeDds(const DdsSpec& plan) {
  Bytes out;
  PutText(out, "DDS ");
  PutU32(out, plan.header_size);
  // Flags as a real writer sets them: caps, height, width, pixel format, plus mip-map count
  // and depth when present. The tool does not consult them.
  uint32_t flags = 0x1 | 0x2 | 0x4 | 0x1000;
  if (plan.mip_count > 1) flags |= 0x20000;
  if (plan.depth > 1) flags |= 0x800000;
  PutU32(out, flags);
  PutU32(out, plan.height);
  PutU32(out, plan.width);
  PutU32(out, static_cast<uint32_t>(plan.payload.size()));  // linear size, not consulted
  PutU32(out, plan.depth);
  PutU32(out, plan.mip_count);
  for (int i = 0; i < 11; ++i) PutU32(out, 0);
  PutU32(out, plan.pf_size);
  PutU32(out, plan.pf_flags);
  PutU32(out, plan.fourcc);
  PutU32(out, plan.rgb_bit_count);
  PutU32(out, plan.r_mask);
  PutU32(out, plan.g_mask);
  PutU32(out, plan.b_mask);
  PutU32(out, plan.a_mask);
  uint32_t caps = 0x1000;  // texture
  if (plan.mip_count > 1) caps |= 0x400008;
  if (plan.caps2 != 0) caps |= 0x8;
  PutU32(out, caps);
  PutU32(out, plan.caps2);
  PutU32(out, 0);
  PutU32(out, 0);
  PutU32(out, 0);
  PutBytes(out, plan.payload);
  return out;
}

DdsSpec Dxt1Texture(uint32_t width, uint32_t height, uint64_t seed) {
  DdsSpec plan;
  plan.width = width;
  plan.height = height;
  uint32_t levels = 0;
  size_t bytes = 0;
  for (uint32_t w = width, h = height;; w = std::max(1u, w / 2), h = std::max(1u, h / 2)) {
    ++levels;
    bytes += size_t{std::max(1u, (w + 3) / 4)} * std::max(1u, (h + 3) / 4) * 8;
    if (w == 1 && h == 1) break;
  }
  plan.mip_count = levels;
  plan.payload = MakeData(bytes, seed);
  return plan;
}

DdsSpec Argb32Texture(uint32_t width, uint32_t height, uint64_t seed) {
  DdsSpec plan;
  plan.width = width;
  plan.height = height;
  plan.mip_count = 1;
  plan.pf_flags = 0x41;
  plan.fourcc = 0;
  plan.rgb_bit_count = 32;
  plan.r_mask = 0x00FF0000;
  plan.g_mask = 0x0000FF00;
  plan.b_mask = 0x000000FF;
  plan.a_mask = 0xFF000000;
  plan.payload = MakeData(size_t{width} * height * 4, seed);
  return plan;
}

Bytes TextureMeta(uint8_t format, uint8_t mip_count, uint8_t kind, uint16_t width, uint16_t height,
                  std::optional<uint16_t> depth) {
  Bytes out;
  PutU8(out, format);
  PutU8(out, mip_count);
  PutU8(out, kind);
  PutU16(out, width);
  PutU16(out, height);
  if (depth) PutU16(out, *depth);
  return out;
}

Bytes MakeLoc(const std::vector<uint64_t>& ids, std::optional<uint32_t> count, const Bytes& tail) {
  Bytes out;
  PutText(out, "LOC");
  PutU8(out, 2);
  PutU32(out, count ? *count : static_cast<uint32_t>(ids.size()));
  for (uint64_t id : ids) PutU64(out, id);
  PutBytes(out, tail);
  return out;
}

Bytes LocMeta(const std::vector<uint64_t>& ids) {
  Bytes out;
  PutU32(out, static_cast<uint32_t>(ids.size()));
  for (uint64_t id : ids) PutU64(out, id);
  return out;
}

namespace {

std::string Quote(const std::string& text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out = "\"";
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      out += "\\u00";
      out += kDigits[c >> 4];
      out += kDigits[c & 15];
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

}  // namespace

std::string MakeConfigJson(const std::vector<ConfigFile>& files, std::optional<std::string> upak,
                           bool fullcopy) {
  std::string out = "{\n";
  if (upak) out += "  \"upak\": " + Quote(*upak) + ",\n";
  if (fullcopy) out += "  \"fullcopy\": true,\n";
  out += "  \"files\": [";
  for (size_t i = 0; i < files.size(); ++i) {
    const ConfigFile& f = files[i];
    out += i == 0 ? "\n" : ",\n";
    out += "    {\"name\": " + Quote(f.name) + ", \"ext\": " + Quote(f.ext) +
           ", \"src\": " + Quote(f.src);
    if (f.pkg) out += ", \"pkg\": " + Quote(*f.pkg);
    if (f.meta) out += ", \"meta\": " + Quote(*f.meta);
    out += "}";
  }
  out += files.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

std::vector<std::pair<std::string, Bytes>> ExampleMod() {
  // Real DXT1 blocks: one solid colour per level (both endpoints the same RGB565 value, all
  // indices 0), so a viewer shows red, green and blue mip levels.
  DdsSpec hero;
  hero.mip_count = 3;
  for (uint16_t colour : {uint16_t{0xF800}, uint16_t{0x07E0}, uint16_t{0x001F}}) {
    PutU16(hero.payload, colour);
    PutU16(hero.payload, colour);
    PutU32(hero.payload, 0);
  }
  // A localisation file keeps its strings after the ids; only the ids become metadata.
  Bytes strings =
      MakeLoc({NameHash("greeting"), NameHash("farewell"), NameHash("welcome_back")}, {});
  PutText(strings, std::string("Well met\0Safe travels\0Welcome back\0", 35));
  const std::string menu = "Start\nOptions\nCredits\nQuit\n";
  const std::string config = MakeConfigJson(
      {
          {"hero", "dds", "hero.dds", std::string("ui_common"), std::nullopt},
          {"strings", "loc", "strings.loc", std::nullopt, std::nullopt},
          {"menu", "txt", "menu.txt", std::nullopt, std::string("menu.meta")},
      },
      std::string("mod"));
  return {
      {"vintrel.json", Bytes(config.begin(), config.end())},
      {"hero.dds", MakeDds(hero)},
      {"strings.loc", strings},
      {"menu.txt", Bytes(menu.begin(), menu.end())},
      {"menu.meta", Bytes{0x01, 0x00, 0x02, 0x00}},
  };
}

}  // namespace vtest
