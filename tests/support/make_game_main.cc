// make_game: writes a synthetic game directory for trying the tool by hand and for benchmarks.
//
//   make_game example DIR                     the small example game (a few KB)
//   make_game example-mod DIR                 the example mod that goes with it
//   make_game bench DIR --bytes N [--seed S] [--level L]
//       about N bytes of archives: thousands of split and full packages named "pNNNNN" with
//       entries "pNNNNN_eK" of 1 KB to 8 MB, written one package at a time. Blocks use zlib
//       level 1 unless --level says otherwise (level 9 would make a large game slow to write).
//   make_game many DIR --packages P --entries K [--seed S]
//       P small packages of K entries each (16 to 64 bytes, split and full in turn) in four
//       archives: a game with many records and entries but little data, for measuring the cost
//       of the walk over packages and of the look-up of configured files.
//   make_game many-mod DIR --packages P --entries K --files F
//       a mod for that game with F configured files: the first 20 (or F, when fewer) replace one
//       entry each of packages spread over the game; the others never match, half of them
//       naming no entry and half naming a real entry but restricted to a package that does not
//       exist. Every F therefore rewrites the same packages.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/game_writer.h"
#include "tests/support/random.h"
#include "tests/support/replace_files.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

int Usage() {
  std::printf(
      "usage: make_game example DIR\n"
      "       make_game example-mod DIR\n"
      "       make_game bench DIR --bytes N [--seed S] [--level L]\n"
      "       make_game many DIR --packages P --entries K [--seed S]\n"
      "       make_game many-mod DIR --packages P --entries K --files F\n");
  return 2;
}

using vtest::Random;

// Mostly small entries with a tail of large ones, log-uniform within each band.
size_t EntrySize(Random& random) {
  double low = 1024.0, high = 65536.0;
  if (random.Below(10) == 0) {
    low = 65536.0;
    high = 8.0 * 1024 * 1024;
  }
  return static_cast<size_t>(low * std::pow(high / low, random.Unit()));
}

int WriteExample(const fs::path& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  vtest::GameLayout layout;
  std::string error;
  if (!vtest::WriteGame(vtest::ExampleGame(), dir, &layout, &error)) {
    std::fprintf(stderr, "make_game: %s\n", error.c_str());
    return 1;
  }
  std::printf("wrote %zu packages in %zu archives to %s\n", layout.packages.size(),
              layout.archive_files.size(), dir.string().c_str());
  return 0;
}

int WriteExampleMod(const fs::path& dir) {
  for (const auto& [name, bytes] : vtest::ExampleMod()) {
    if (!vtest::WriteFile(dir / name, bytes)) {
      std::fprintf(stderr, "make_game: cannot write %s\n", name.c_str());
      return 1;
    }
  }
  return 0;
}

int WriteBench(const fs::path& dir, uint64_t target_bytes, uint64_t seed, int level) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  Random random(seed);
  static const char* const kExts[] = {"bin", "txt", "dat", "dds", "loc", "snd"};

  size_t archive_files = static_cast<size_t>(
      std::min<uint64_t>(16, std::max<uint64_t>(2, target_bytes / (256u << 20) + 2)));
  vtest::PackageDirectory directory;
  directory.directory_value = 13;
  directory.id_names = {{vtest::NameHash("bench"), "bench"}};
  std::vector<std::ofstream> outs;
  std::vector<uint64_t> sizes(archive_files, 0);
  for (size_t a = 0; a < archive_files; ++a) {
    std::string name = "bench" + std::to_string(a);
    directory.archives.push_back({static_cast<uint8_t>(a + 1), name});
    outs.emplace_back(dir / (name + ".upak"), std::ios::binary | std::ios::trunc);
    if (!outs.back()) {
      std::fprintf(stderr, "make_game: cannot create %s.upak\n", name.c_str());
      return 1;
    }
  }
  // bench0 is listed a second time; half of its packages are reached through that record.
  directory.archives.push_back({0x7F, "bench0"});

  uint64_t written = 0;
  for (uint32_t index = 0; written < target_bytes; ++index) {
    char name[16];
    std::snprintf(name, sizeof name, "p%05u", index);
    vtest::PackageSpec plan;
    plan.record.name = name;
    plan.record.package_id = vtest::NameHash(name);
    plan.record.attr_word1 = static_cast<uint16_t>(random.Next());
    plan.record.attr_word2 = static_cast<uint16_t>(random.Next());
    plan.record.words.resize(random.Below(4));
    for (uint16_t& w : plan.record.words) w = static_cast<uint16_t>(random.Next());
    plan.record.attr_byte1 = static_cast<uint8_t>(random.Next());
    plan.split = random.Below(2) == 0;
    plan.level = level;
    plan.attr_word = static_cast<uint32_t>(random.Next());
    uint32_t groups = 1 + random.Below(3);
    uint32_t entry = 0;
    for (uint32_t g = 0; g < groups; ++g) {
      vtest::GroupSpec group;
      uint32_t count = random.Below(4);  // 0 to 3, so some groups are empty
      for (uint32_t k = 0; k < count; ++k, ++entry) {
        std::string entry_name = std::string(name) + "_e" + std::to_string(entry);
        vtest::EntrySpec e = vtest::Entry(entry_name, kExts[random.Below(6)],
                                          vtest::MakeData(EntrySize(random), random.Next()),
                                          vtest::MakeData(random.Below(12), random.Next()));
        e.type_high_bits = static_cast<uint8_t>(random.Below(8));
        group.entries.push_back(std::move(e));
      }
      plan.groups.push_back(std::move(group));
    }
    if (entry == 0)
      plan.groups[0].entries.push_back(
          vtest::Entry(std::string(name) + "_e0", "bin", vtest::MakeData(1024, index)));

    if (index % 97 == 96) {  // now and then a package in no archive
      plan.record.archive_index = vtest::kNoArchive;
      directory.packages.push_back(plan.record);
      continue;
    }
    std::string error;
    vtest::PackageLayout layout;
    vtest::Bytes bytes = vtest::BuildPackage(plan, &layout, &error);
    if (bytes.empty()) {
      std::fprintf(stderr, "make_game: %s: %s\n", name, error.c_str());
      return 1;
    }
    size_t file = index % archive_files;
    // Unaligned offsets, as the game's own archives have them.
    vtest::Bytes gap(random.Below(32), 0xCC);
    outs[file].write(reinterpret_cast<const char*>(gap.data()),
                     static_cast<std::streamsize>(gap.size()));
    sizes[file] += gap.size();
    plan.record.offset = sizes[file];
    plan.record.archive_index =
        static_cast<uint8_t>(file == 0 && index % 2 == 1 ? archive_files : file);
    outs[file].write(reinterpret_cast<const char*>(bytes.data()),
                     static_cast<std::streamsize>(bytes.size()));
    sizes[file] += bytes.size();
    written += gap.size() + bytes.size();
    directory.packages.push_back(plan.record);
  }
  for (size_t a = 0; a < archive_files; ++a) {
    outs[a].close();
    if (!outs[a]) {
      std::fprintf(stderr, "make_game: cannot write bench%zu.upak\n", a);
      return 1;
    }
  }

  std::array<vtest::Bytes, 5> sections;
  sections[0] = vtest::EncodePackageDirectory(directory);
  for (int i = 1; i < 5; ++i) sections[i] = vtest::MakeData(64 * i, seed + i);
  vtest::Bytes manifest = vtest::EncodeManifest(sections);
  std::ofstream out(dir / "manifest.bin", std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(manifest.data()),
            static_cast<std::streamsize>(manifest.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "make_game: cannot write manifest.bin\n");
    return 1;
  }
  std::printf("wrote %zu packages, %llu bytes in %zu archives to %s\n", directory.packages.size(),
              static_cast<unsigned long long>(written), archive_files, dir.string().c_str());
  return 0;
}

// The names and extensions of the "many" game, shared by the game and its mod.
constexpr uint32_t kManyArchives = 4;
constexpr uint32_t kManyMatches = 20;
const char* const kManyExts[] = {"bin", "dat", "snd", "txt"};

std::string ManyPackageName(uint32_t package) {
  char name[16];
  std::snprintf(name, sizeof name, "p%06u", package);
  return name;
}

std::string ManyEntryName(uint32_t package, uint32_t entry) {
  return ManyPackageName(package) + "_e" + std::to_string(entry);
}

const char* ManyEntryExt(uint32_t package, uint32_t entry) {
  return kManyExts[(package + entry) % 4];
}

int WriteMany(const fs::path& dir, uint32_t packages, uint32_t entries, uint64_t seed) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  Random random(seed);
  vtest::PackageDirectory directory;
  directory.directory_value = 13;
  std::vector<std::ofstream> outs;
  std::vector<uint64_t> sizes(kManyArchives, 0);
  for (uint32_t a = 0; a < kManyArchives; ++a) {
    std::string name = "many" + std::to_string(a);
    directory.archives.push_back({static_cast<uint8_t>(a), name});
    outs.emplace_back(dir / (name + ".upak"), std::ios::binary | std::ios::trunc);
    if (!outs.back()) {
      std::fprintf(stderr, "make_game: cannot create %s.upak\n", name.c_str());
      return 1;
    }
  }
  for (uint32_t p = 0; p < packages; ++p) {
    const std::string name = ManyPackageName(p);
    std::vector<vtest::EntrySpec> specs;
    for (uint32_t e = 0; e < entries; ++e) {
      specs.push_back(vtest::Entry(ManyEntryName(p, e), ManyEntryExt(p, e),
                                   vtest::MakeData(16 + random.Below(49), random.Next()),
                                   vtest::MakeData(random.Below(8), random.Next())));
    }
    vtest::PackageSpec plan = vtest::OneGroupPackage(name, p % 2 == 0, std::move(specs));
    plan.level = 1;
    std::string error;
    vtest::Bytes bytes = vtest::BuildPackage(plan, nullptr, &error);
    if (bytes.empty()) {
      std::fprintf(stderr, "make_game: %s: %s\n", name.c_str(), error.c_str());
      return 1;
    }
    const uint32_t file = p % kManyArchives;
    plan.record.archive_index = static_cast<uint8_t>(file);
    plan.record.offset = sizes[file];
    outs[file].write(reinterpret_cast<const char*>(bytes.data()),
                     static_cast<std::streamsize>(bytes.size()));
    sizes[file] += bytes.size();
    directory.packages.push_back(plan.record);
  }
  for (uint32_t a = 0; a < kManyArchives; ++a) {
    outs[a].close();
    if (!outs[a]) {
      std::fprintf(stderr, "make_game: cannot write many%u.upak\n", a);
      return 1;
    }
  }
  std::array<vtest::Bytes, 5> sections;
  sections[0] = vtest::EncodePackageDirectory(directory);
  if (!vtest::WriteFile(dir / "manifest.bin", vtest::EncodeManifest(sections))) {
    std::fprintf(stderr, "make_game: cannot write manifest.bin\n");
    return 1;
  }
  std::printf("wrote %u packages of %u entries to %s\n", packages, entries, dir.string().c_str());
  return 0;
}

int WriteManyMod(const fs::path& dir, uint32_t packages, uint32_t entries, uint32_t files) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  std::vector<vtest::ConfigFile> config;
  const uint32_t matches = std::min(files, kManyMatches);
  for (uint32_t i = 0; i < files; ++i) {
    const uint32_t package = static_cast<uint32_t>(uint64_t{i} * packages / files);
    const uint32_t entry = i % entries;
    if (i < matches) {
      const uint32_t target = static_cast<uint32_t>(uint64_t{i} * packages / matches);
      const std::string src = "r" + std::to_string(i) + ".bin";
      if (!vtest::WriteFile(dir / src, vtest::MakeData(32, i))) {
        std::fprintf(stderr, "make_game: cannot write %s\n", src.c_str());
        return 1;
      }
      config.push_back({ManyEntryName(target, 0), ManyEntryExt(target, 0), src, {}, {}});
    } else if (i % 2 == 0) {
      config.push_back({"absent_" + std::to_string(i), "bin", "absent.bin", {}, {}});
    } else {
      config.push_back({ManyEntryName(package, entry),
                        ManyEntryExt(package, entry),
                        "absent.bin",
                        std::string("elsewhere"),
                        {}});
    }
  }
  if (!vtest::WriteTextFile(dir / "vintrel.json", vtest::MakeConfigJson(config, "many_user"))) {
    std::fprintf(stderr, "make_game: cannot write vintrel.json\n");
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  std::string command = argv[1];
  fs::path dir = argv[2];
  if (command == "example" && argc == 3) return WriteExample(dir);
  if (command == "example-mod" && argc == 3) return WriteExampleMod(dir);
  if (command != "bench" && command != "many" && command != "many-mod") return Usage();
  uint64_t bytes = 0, seed = 1, packages = 0, entries = 0, files = 0;
  int level = 1;
  for (int i = 3; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--bytes") == 0) {
      bytes = std::strtoull(argv[i + 1], nullptr, 10);
    } else if (std::strcmp(argv[i], "--seed") == 0) {
      seed = std::strtoull(argv[i + 1], nullptr, 10);
    } else if (std::strcmp(argv[i], "--level") == 0) {
      level = std::atoi(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--packages") == 0) {
      packages = std::strtoull(argv[i + 1], nullptr, 10);
    } else if (std::strcmp(argv[i], "--entries") == 0) {
      entries = std::strtoull(argv[i + 1], nullptr, 10);
    } else if (std::strcmp(argv[i], "--files") == 0) {
      files = std::strtoull(argv[i + 1], nullptr, 10);
    } else {
      return Usage();
    }
  }
  if (argc % 2 == 0) return Usage();
  if (command != "bench") {
    // The ids and counts of the many game's tables are 32-bit; a package holds at most 255
    // entries here so that its one group stays small.
    if (packages == 0 || packages > UINT32_MAX || entries == 0 || entries > 255) return Usage();
    if (command == "many") {
      return WriteMany(dir, static_cast<uint32_t>(packages), static_cast<uint32_t>(entries), seed);
    }
    if (files == 0 || files > UINT32_MAX) return Usage();
    return WriteManyMod(dir, static_cast<uint32_t>(packages), static_cast<uint32_t>(entries),
                        static_cast<uint32_t>(files));
  }
  if (bytes == 0 || level < 0 || level > 9) return Usage();
  return WriteBench(dir, bytes, seed, level);
}
