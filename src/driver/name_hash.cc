#include "driver/name_hash.h"

#include "base/ascii.h"

namespace {

constexpr uint64_t kReflectedPolynomial = 0xD0AB0F0002C00600ull;

struct CrcTable {
  uint64_t entry[256];
};

constexpr CrcTable MakeTable() {
  CrcTable table{};
  for (uint64_t i = 0; i < 256; ++i) {
    uint64_t v = i;
    for (int round = 0; round < 8; ++round) {
      v = (v & 1) ? (v >> 1) ^ kReflectedPolynomial : v >> 1;
    }
    table.entry[i] = v;
  }
  return table;
}

constexpr CrcTable kTable = MakeTable();

static_assert(kTable.entry[1] == 0x01A1561E0005800Cull, "CRC table entry 1");
static_assert(kTable.entry[128] == 0xD0AB0F0002C00600ull, "CRC table entry 128");
static_assert(kTable.entry[255] == 0x9FAD380A037C8404ull, "CRC table entry 255");

}  // namespace

uint64_t name_hash_part(uint64_t state, const char* text, uint32_t length) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  for (uint32_t i = 0; i < length; ++i) {
    state = kTable.entry[(state ^ ascii_lower(p[i])) & 0xFF] ^ (state >> 8);
  }
  return state;
}

uint64_t name_hash(const char* text) {
  uint64_t r = kNameHashStart;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    r = kTable.entry[(r ^ ascii_lower(static_cast<uint8_t>(*p))) & 0xFF] ^ (r >> 8);
  }
  return name_hash_end(r);
}
