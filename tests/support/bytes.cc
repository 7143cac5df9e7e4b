#include "tests/support/bytes.h"

#include <cassert>

namespace vtest {

void PutU8(Bytes& out, uint8_t value) { out.push_back(value); }

void PutU16(Bytes& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(Bytes& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutU64(Bytes& out, uint64_t value) {
  for (int shift = 0; shift < 64; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutBytes(Bytes& out, const Bytes& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

void PutText(Bytes& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }

Bytes TextBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

void SetU32(Bytes& out, size_t position, uint32_t value) {
  assert(out.size() >= 4 && position <= out.size() - 4);
  for (int i = 0; i < 4; ++i) out[position + i] = static_cast<uint8_t>(value >> (8 * i));
}

bool ByteCursor::ReadU8(uint8_t* value) {
  if (remaining() < 1) return false;
  *value = data_[position_++];
  return true;
}

bool ByteCursor::ReadU16(uint16_t* value) {
  if (remaining() < 2) return false;
  *value = static_cast<uint16_t>(data_[position_] | data_[position_ + 1] << 8);
  position_ += 2;
  return true;
}

bool ByteCursor::ReadU32(uint32_t* value) {
  if (remaining() < 4) return false;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | data_[position_ + i];
  *value = v;
  position_ += 4;
  return true;
}

bool ByteCursor::ReadU64(uint64_t* value) {
  if (remaining() < 8) return false;
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | data_[position_ + i];
  *value = v;
  position_ += 8;
  return true;
}

bool ByteCursor::ReadBytes(size_t count, Bytes* bytes) {
  if (count > remaining()) return false;
  bytes->assign(data_ + position_, data_ + position_ + count);
  position_ += count;
  return true;
}

bool ByteCursor::ReadText(size_t count, std::string* text) {
  if (count > remaining()) return false;
  text->assign(reinterpret_cast<const char*>(data_ + position_), count);
  position_ += count;
  return true;
}

bool ByteCursor::Skip(size_t count) {
  if (count > remaining()) return false;
  position_ += count;
  return true;
}

uint32_t GetU32(const Bytes& bytes, size_t position) {
  ByteCursor cursor(bytes);
  uint32_t value = 0;
  if (!cursor.Skip(position) || !cursor.ReadU32(&value)) return 0;
  return value;
}

uint64_t GetU64(const Bytes& bytes, size_t position) {
  ByteCursor cursor(bytes);
  uint64_t value = 0;
  if (!cursor.Skip(position) || !cursor.ReadU64(&value)) return 0;
  return value;
}

std::string PatternText(size_t size) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return text;
}

Bytes MakeData(size_t size, uint64_t seed) {
  uint64_t state = seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull;
  auto next = [&state]() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  // Words from a small vocabulary with occasional random bytes: deflate finds matches, yet the
  // output is far from a run of one byte, so a wrong offset or length shows in the data.
  static const char* const kWords[] = {"stone ", "river ", "ash ",  "lantern ", "vault ",
                                       "ember ", "moss ",  "iron ", "veil ",    "crown "};
  Bytes out(size);
  size_t position = 0;
  while (position < size) {
    uint64_t r = next();
    if ((r & 7) == 0) {
      out[position++] = static_cast<uint8_t>(r >> 8);
      continue;
    }
    for (const char* w = kWords[(r >> 16) % 10]; *w != '\0' && position < size; ++w) {
      out[position++] = static_cast<uint8_t>(*w);
    }
  }
  return out;
}

std::string Hex(const Bytes& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 15]);
  }
  return text;
}

}  // namespace vtest
