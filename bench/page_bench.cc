// page_bench: a mod of many real textures on a generated game, for timing the HTML page of plan
// (bench/page_bench.sh), and the measure of a page.
//
//   page_bench make DIR [--textures N] [--seed S]
//       writes DIR/game, whose packages hold 50 DDS textures each (split and full in turn, blocks
//       at zlib level 1, in two archives), and DIR/mod, whose vintrel.json replaces every one of
//       them (default 2000) with a texture of its own. A texture is 256 x 256 (3 in 10), 512 x
//       512 (4 in 10), 1024 x 1024 (2 in 10) or 1024 x 512, DXT1 (3 in 5) or DXT5 with alpha,
//       with its full mip chain, made by the tool's make_dds from fractal value noise in colour,
//       whose roughness varies from texture to texture as photographs and game art do. One mod
//       texture in ten is DXT5 where the game's is DXT1, so that its row carries a warning. The
//       textures come from a pool of 12 game and 12 mod images for each size and format.
//   page_bench measure PAGE N
//       prints the page's bytes, its bytes per texture (of N), and its images' count and longer
//       sides (least, median, most); exits 1 when the page holds more than 40 KiB a texture.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/byte_buffer.h"
#include "base/status.h"
#include "image/dds_make.h"
#include "image/rgba_image.h"
#include "tests/support/game_format.h"
#include "tests/support/game_writer.h"
#include "tests/support/random.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kPerPackage = 50;
constexpr uint32_t kPoolImages = 12;
constexpr uint64_t kBytesPerTexture = 40 * 1024;

using vtest::Random;

struct Shape {
  uint32_t width;
  uint32_t height;
};
const Shape kShapes[] = {{256, 256}, {512, 512}, {1024, 1024}, {1024, 512}};

uint32_t PickShape(Random& random) {
  const uint32_t r = random.Below(10);
  return r < 3 ? 0 : r < 7 ? 1 : r < 9 ? 2 : 3;
}

// Value noise: octaves of random lattices, each bilinearly spread over the image, their weights
// falling by `roughness` an octave; colour in three channels, alpha in the fourth when asked.
void PaintNoise(uint32_t width, uint32_t height, double roughness, bool alpha, Random& random,
                RgbaImage* image) {
  std::vector<float> sum(static_cast<size_t>(width) * height * 4, 0.0f);
  double weight = 1.0;
  double total = 0.0;
  for (uint32_t cell = std::max(width, height) / 4; cell >= 1; cell /= 2) {
    const uint32_t gw = width / cell + 2;
    const uint32_t gh = height / cell + 2;
    std::vector<float> lattice(static_cast<size_t>(gw) * gh * 4);
    for (float& v : lattice) v = static_cast<float>(random.Unit());
    for (uint32_t y = 0; y < height; ++y) {
      const uint32_t gy = y / cell;
      const float ty = static_cast<float>(y % cell) / cell;
      for (uint32_t x = 0; x < width; ++x) {
        const uint32_t gx = x / cell;
        const float tx = static_cast<float>(x % cell) / cell;
        const float* a = &lattice[(static_cast<size_t>(gy) * gw + gx) * 4];
        const float* b = a + 4;
        const float* c = a + static_cast<size_t>(gw) * 4;
        const float* d = c + 4;
        float* out = &sum[(static_cast<size_t>(y) * width + x) * 4];
        for (int k = 0; k < 4; ++k) {
          const float top = a[k] + (b[k] - a[k]) * tx;
          const float bottom = c[k] + (d[k] - c[k]) * tx;
          out[k] += static_cast<float>(weight) * (top + (bottom - top) * ty);
        }
      }
    }
    total += weight;
    weight *= roughness;
    if (cell == 1) break;
  }
  if (!image->Allocate(width, height, nullptr)) std::abort();
  // A tint per image, so that the pictures differ in colour as well as in grain.
  float tint[3];
  for (float& t : tint) t = 0.4f + 0.6f * static_cast<float>(random.Unit());
  for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
    uint8_t* p = image->pixels() + 4 * i;
    for (int k = 0; k < 3; ++k) {
      const double v = sum[4 * i + k] / total * tint[k] * 255.0 * 1.3 - 25.0;
      p[k] = static_cast<uint8_t>(std::min(255.0, std::max(0.0, v)));
    }
    const double a = (sum[4 * i + 3] / total - 0.5) * 4.0 * 255.0 + 128.0;
    p[3] = alpha ? static_cast<uint8_t>(std::min(255.0, std::max(0.0, a))) : 255;
  }
}

// A DDS texture made from noise, and the metadata the game keeps for it.
struct Texture {
  vtest::Bytes dds;
  vtest::Bytes meta;
};

Texture MakeTexture(const Shape& shape, bool dxt5, Random& random) {
  RgbaImage image;
  PaintNoise(shape.width, shape.height, 0.35 + 0.35 * random.Unit(), dxt5, random, &image);
  DdsHeader target;
  ByteBuffer dds;
  Status status;
  if (!dds_target_for_format(dxt5 ? TextureFormat::kDxt5 : TextureFormat::kDxt1, shape.width,
                             shape.height, kFullMipChain, &target, &status) ||
      !make_dds(image, target, false, &dds, &status)) {
    std::fprintf(stderr, "page_bench: %s\n", status.what());
    std::exit(1);
  }
  Texture texture;
  texture.dds.assign(dds.data(), dds.data() + dds.length());
  // The format code, the mip count, the kind (flat), then width and height as 16-bit numbers.
  const uint32_t mips = target.mipCount;
  texture.meta = {static_cast<uint8_t>(dxt5 ? 17 : 15),
                  static_cast<uint8_t>(mips),
                  1,
                  static_cast<uint8_t>(shape.width),
                  static_cast<uint8_t>(shape.width >> 8),
                  static_cast<uint8_t>(shape.height),
                  static_cast<uint8_t>(shape.height >> 8)};
  return texture;
}

// The pool: kPoolImages textures for each shape and format, [shape][dxt5][i].
using Pool = std::array<std::array<std::vector<Texture>, 2>, 4>;

Pool MakePool(Random& random) {
  Pool pool;
  for (uint32_t s = 0; s < 4; ++s) {
    for (int dxt5 = 0; dxt5 < 2; ++dxt5) {
      for (uint32_t i = 0; i < kPoolImages; ++i) {
        pool[s][dxt5].push_back(MakeTexture(kShapes[s], dxt5 != 0, random));
      }
    }
  }
  return pool;
}

bool WriteBytes(const fs::path& path, const vtest::Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

int Make(const fs::path& dir, uint32_t textures, uint64_t seed) {
  std::error_code ec;
  fs::create_directories(dir / "game", ec);
  fs::create_directories(dir / "mod" / "textures", ec);
  Random random(seed);
  std::printf("making the pools of textures ...\n");
  std::fflush(stdout);
  const Pool gamePool = MakePool(random);
  const Pool modPool = MakePool(random);

  vtest::PackageDirectory directory;
  directory.directory_value = 13;
  const char* const archives[] = {"textures0", "textures1"};
  std::vector<std::ofstream> outs;
  std::vector<uint64_t> sizes(2, 0);
  for (uint8_t a = 0; a < 2; ++a) {
    directory.archives.push_back({a, archives[a]});
    outs.emplace_back(dir / "game" / (std::string(archives[a]) + ".upak"),
                      std::ios::binary | std::ios::trunc);
  }
  std::string config = "{\n  \"upak\": \"pagebench\",\n  \"files\": [\n";
  uint64_t gameBytes = 0;
  uint64_t modBytes = 0;
  for (uint32_t p = 0; p * kPerPackage < textures; ++p) {
    char package[16];
    std::snprintf(package, sizeof(package), "tex%03u", p);
    std::vector<vtest::EntrySpec> entries;
    for (uint32_t e = 0; e < kPerPackage && p * kPerPackage + e < textures; ++e) {
      char name[48];
      std::snprintf(name, sizeof(name), "textures/%s/t%03u", package, e);
      const uint32_t shape = PickShape(random);
      const bool dxt5 = random.Below(5) < 2;
      const Texture& original = gamePool[shape][dxt5][random.Below(kPoolImages)];
      const bool otherFormat = !dxt5 && random.Below(10) == 0;
      const Texture& replacing = modPool[shape][dxt5 || otherFormat][random.Below(kPoolImages)];
      entries.push_back(vtest::Entry(name, "dds", original.dds, original.meta));
      char file[48];
      std::snprintf(file, sizeof(file), "%s_t%03u.dds", package, e);
      if (!WriteBytes(dir / "mod" / "textures" / file, replacing.dds)) {
        std::fprintf(stderr, "page_bench: cannot write %s\n", file);
        return 1;
      }
      gameBytes += original.dds.size();
      modBytes += replacing.dds.size();
      config += std::string(p == 0 && e == 0 ? "" : ",\n") + "    {\"name\": \"" + name +
                "\", \"ext\": \"dds\", \"src\": \"textures/" + file + "\"}";
    }
    auto layout = vtest::OneGroupPackage(package, p % 2 == 0, std::move(entries));
    layout.level = 1;
    std::string error;
    const vtest::Bytes bytes = vtest::BuildPackage(layout, nullptr, &error);
    if (bytes.empty()) {
      std::fprintf(stderr, "page_bench: %s: %s\n", package, error.c_str());
      return 1;
    }
    const uint32_t a = p % 2;
    layout.record.offset = sizes[a];
    layout.record.archive_index = static_cast<uint8_t>(a);
    outs[a].write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    sizes[a] += bytes.size();
    directory.packages.push_back(layout.record);
  }
  for (std::ofstream& out : outs) {
    out.close();
    if (!out) {
      std::fprintf(stderr, "page_bench: cannot write an archive\n");
      return 1;
    }
  }
  config += "\n  ]\n}\n";
  std::array<vtest::Bytes, 5> sections;
  sections[0] = vtest::EncodePackageDirectory(directory);
  for (int i = 1; i < 5; ++i) sections[i] = vtest::Bytes(64 * i, static_cast<uint8_t>(i));
  if (!WriteBytes(dir / "game" / "manifest.bin", vtest::EncodeManifest(sections)) ||
      !WriteBytes(dir / "mod" / "vintrel.json", vtest::Bytes(config.begin(), config.end()))) {
    std::fprintf(stderr, "page_bench: cannot write the manifest or vintrel.json\n");
    return 1;
  }
  std::printf("wrote %u textures: %llu bytes of DDS in the game, %llu in the mod\n", textures,
              static_cast<unsigned long long>(gameBytes),
              static_cast<unsigned long long>(modBytes));
  return 0;
}

int Base64Digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  return c == '+' ? 62 : c == '/' ? 63 : -1;
}

int Measure(const char* path, uint32_t textures) {
  std::ifstream in(path, std::ios::binary);
  const std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (page.empty() || textures == 0) {
    std::fprintf(stderr, "page_bench: cannot read %s\n", path);
    return 1;
  }
  static const char kPrefix[] = "data:image/png;base64,";
  std::vector<uint32_t> sides;
  for (size_t at = page.find(kPrefix); at != std::string::npos; at = page.find(kPrefix, at + 1)) {
    // The IHDR's width and height are bytes 16 to 23 of the PNG: base64 digits 0 to 31.
    uint8_t head[24];
    const char* digits = page.c_str() + at + sizeof(kPrefix) - 1;
    for (int group = 0; group < 8; ++group) {
      uint32_t v = 0;
      for (int k = 0; k < 4; ++k)
        v = v << 6 | static_cast<uint32_t>(Base64Digit(digits[group * 4 + k]) & 63);
      head[group * 3] = static_cast<uint8_t>(v >> 16);
      head[group * 3 + 1] = static_cast<uint8_t>(v >> 8);
      head[group * 3 + 2] = static_cast<uint8_t>(v);
    }
    const uint32_t width =
        uint32_t{head[16]} << 24 | uint32_t{head[17]} << 16 | uint32_t{head[18]} << 8 | head[19];
    const uint32_t height =
        uint32_t{head[20]} << 24 | uint32_t{head[21]} << 16 | uint32_t{head[22]} << 8 | head[23];
    sides.push_back(std::max(width, height));
  }
  size_t placeholders = 0;
  for (size_t at = page.find("data-placeholder"); at != std::string::npos;
       at = page.find("data-placeholder", at + 1)) {
    ++placeholders;
  }
  std::sort(sides.begin(), sides.end());
  const double perTexture = static_cast<double>(page.size()) / textures;
  std::printf(
      "page: %zu bytes, %.0f bytes per texture (at most %llu), %zu images, %zu placeholders\n",
      page.size(), perTexture, static_cast<unsigned long long>(kBytesPerTexture), sides.size(),
      placeholders);
  if (!sides.empty()) {
    std::printf("thumbnails' longer side: least %u, median %u, most %u pixels\n", sides.front(),
                sides[sides.size() / 2], sides.back());
  }
  return perTexture <= kBytesPerTexture ? 0 : 1;
}

int Usage() {
  std::fprintf(stderr,
               "usage: page_bench make DIR [--textures N] [--seed S]\n"
               "       page_bench measure PAGE N\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "make") == 0) {
    uint32_t textures = 2000;
    uint64_t seed = 1;
    for (int i = 3; i + 1 < argc; i += 2) {
      if (std::strcmp(argv[i], "--textures") == 0) {
        textures = static_cast<uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
      } else if (std::strcmp(argv[i], "--seed") == 0) {
        seed = std::strtoull(argv[i + 1], nullptr, 10);
      } else {
        return Usage();
      }
    }
    return Make(argv[2], textures, seed);
  }
  if (argc == 4 && std::strcmp(argv[1], "measure") == 0) {
    return Measure(argv[2], static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)));
  }
  return Usage();
}
