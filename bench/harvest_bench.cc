// What names harvest adds to verify's work, by the kind of bytes a game's entries hold: for each
// kind, M MiB are compressed at zlib level 1 (as the bench game's blocks are), and then inflated
// (verify's work) and scanned for the names of 50,000 entries (harvest's work beyond it), R times;
// the best time of each counts, and the scan's over the inflate's is the ratio to hold against
// names harvest's target of 1.3 times verify.
//
//   harvest_bench [--mib M] [--runs R]      (default 64 MiB, 5 runs)
//
// The kinds: the bench game's entries (make_game bench: words from a ten-word vocabulary
// separated by spaces, one token in eight a random byte); random bytes, as compressed textures and
// sounds are to the scan; and a script that names an entry of the game on every line of 24 bytes,
// a worst case no game's files come near. A plain program, so that the Windows builds run it too.

#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/name_hash.h"
#include "names/name_harvest.h"
#include "names/name_table.h"
#include "tests/support/bytes.h"

namespace {

constexpr uint32_t kEntries = 50000;

// The names the bench game gives its entries: "p00012_e3".
std::string entry_name(uint32_t i) {
  char name[32];
  std::snprintf(name, sizeof name, "p%05u_e%u", i / 5, i % 5);
  return name;
}

vtest::Bytes random_bytes(size_t size) {
  vtest::Bytes out(size);
  uint64_t state = 0x9E3779B97F4A7C15ull;
  for (uint8_t& byte : out) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return out;
}

// Lines of 24 bytes, each loading an entry of the game by its name and ext.
vtest::Bytes dense_script(size_t size) {
  std::string text;
  text.reserve(size + 32);
  for (uint32_t i = 0; text.size() < size; ++i) {
    text += "load(\"" + entry_name(i * 7919 % kEntries) + ".bin\")\n";
  }
  text.resize(size);
  return vtest::Bytes(text.begin(), text.end());
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char* argv[]) {
  uint32_t mib = 64;
  uint32_t runs = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    const uint32_t value = static_cast<uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
    if (std::strcmp(argv[i], "--mib") == 0) mib = value;
    if (std::strcmp(argv[i], "--runs") == 0) runs = value;
  }
  if (mib == 0) mib = 1;
  if (runs == 0) runs = 1;
  const size_t size = static_cast<size_t>(mib) << 20;

  EntryIds ids;
  for (uint32_t i = 0; i < kEntries; ++i) {
    if (!ids.Add(name_hash(entry_name(i).c_str()), name_hash("bin"))) return 2;
  }
  if (!ids.Finish()) return 2;

  const struct {
    const char* what;
    vtest::Bytes bytes;
  } kinds[] = {
      {"the bench game's entries", vtest::MakeData(size, 1)},
      {"random bytes", random_bytes(size)},
      {"a script naming an entry every 24 bytes", dense_script(size)},
  };
  NameHarvester harvester;
  std::vector<uint8_t> inflated(size);
  for (const auto& kind : kinds) {
    uLongf packedSize = compressBound(static_cast<uLong>(size));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, kind.bytes.data(), static_cast<uLong>(size), 1) !=
        Z_OK) {
      return 2;
    }
    double inflate = 1e9;
    double scan = 1e9;
    uint32_t found = 0;
    for (uint32_t run = 0; run < runs; ++run) {
      auto start = std::chrono::steady_clock::now();
      uLongf inflatedSize = static_cast<uLongf>(size);
      if (uncompress(inflated.data(), &inflatedSize, packed.data(), packedSize) != Z_OK) return 2;
      const double inflateTime = seconds_since(start);
      NameTable lines;
      start = std::chrono::steady_clock::now();
      if (!harvester.Scan(inflated.data(), static_cast<uint32_t>(inflatedSize), ids, lines)) {
        return 2;
      }
      const double scanTime = seconds_since(start);
      if (inflateTime < inflate) inflate = inflateTime;
      if (scanTime < scan) scan = scanTime;
      found = lines.count();
    }
    std::printf("%s: %u MiB (%.1f%% compressed), inflate %.3f s, scan %.3f s: %.2f, %u lines\n",
                kind.what, mib, 100.0 * packedSize / size, inflate, scan, scan / inflate, found);
  }
  return 0;
}
