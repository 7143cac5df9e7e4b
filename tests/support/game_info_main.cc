// game_info DIR: prints what a game directory's manifest lists (archives, and for every package
// its archive, offset and entries), one line each, so that two states of a game can be compared
// with diff. Used by scripts/demo.sh.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "tests/support/game_reader.h"

namespace {

std::string Hex(const vtest::Bytes& bytes) {
  std::string text;
  char digits[3];
  for (uint8_t b : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", b);
    text += digits;
  }
  return text;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: game_info DIR\n");
    return 2;
  }
  std::string error;
  const auto manifest = vtest::ReadManifestFile(std::string(argv[1]) + "/manifest.bin", &error);
  if (!manifest) {
    std::fprintf(stderr, "manifest.bin: %s\n", error.c_str());
    return 1;
  }
  const auto& archives = manifest->directory.archives;
  for (size_t i = 0; i < archives.size(); ++i) {
    std::printf("archive %zu: %s.upak (tag 0x%02x)\n", i, archives[i].name.c_str(),
                archives[i].tag);
  }
  const auto game = vtest::ReadGame(argv[1], &error);
  if (!game) {
    std::fprintf(stderr, "packages: %s\n", error.c_str());
    return 1;
  }
  for (const vtest::ResolvedPackage& p : *game) {
    if (p.archive.empty()) {
      std::printf("package %s: in no archive\n", p.record.name.c_str());
      continue;
    }
    const vtest::ParsedPackage& package = *p.package;
    std::printf("package %s: %s.upak @ %" PRIu64 " (%s compress)\n", p.record.name.c_str(),
                p.archive.c_str(), p.record.offset,
                package.header.split_compress ? "split" : "full");
    for (const vtest::ParsedEntry& entry : package.entries) {
      std::printf("  entry %016" PRIx64 ".%016" PRIx64 ": %u bytes, meta %s\n", entry.name_id,
                  entry.ext_id, entry.raw_size, Hex(entry.meta).c_str());
    }
  }
  return 0;
}
