#include "report/html_escape.h"

#include <cstring>

#include "base/utf8.h"

namespace {

const char kHexDigits[] = "0123456789abcdef";

bool is_continuation(uint8_t b) { return (b & 0xC0) == 0x80; }

// The reference that stands for an ASCII byte, or null when the byte stands for itself or is a
// control character.
const char* reference(uint8_t b) {
  switch (b) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return "&quot;";
    case '\'':
      return "&#39;";
    default:
      return nullptr;
  }
}

// What the sequence of `sequence` bytes at bytes[0] becomes: written to out when out is not null;
// returns its length either way. sequence is 0 for a byte that begins no well-formed sequence.
uint32_t escape_one(const uint8_t* bytes, uint32_t sequence, uint8_t* out) {
  const uint8_t b = bytes[0];
  if (sequence == 0 || b < 0x20 || b == 0x7F) {
    if (out != nullptr) {
      const uint8_t text[4] = {'\\', 'x', uint8_t(kHexDigits[b >> 4]),
                               uint8_t(kHexDigits[b & 0xF])};
      std::memcpy(out, text, sizeof(text));
    }
    return 4;
  }
  if (sequence == 2 && b == 0xC2 && bytes[1] < 0xA0) {
    if (out != nullptr) {
      const uint8_t text[6] = {'\\',
                               'u',
                               '0',
                               '0',
                               uint8_t(kHexDigits[bytes[1] >> 4]),
                               uint8_t(kHexDigits[bytes[1] & 0xF])};
      std::memcpy(out, text, sizeof(text));
    }
    return 6;
  }
  if (sequence == 1) {
    const char* ref = reference(b);
    if (ref != nullptr) {
      const uint32_t length = static_cast<uint32_t>(std::strlen(ref));
      if (out != nullptr) std::memcpy(out, ref, length);
      return length;
    }
  }
  if (out != nullptr) std::memcpy(out, bytes, sequence);
  return sequence;
}

}  // namespace

bool append_html_escaped(const uint8_t* bytes, uint32_t length, ByteBuffer& out) {
  // Measured first, so that a failure to grow leaves out as it was.
  uint64_t total = 0;
  for (uint32_t i = 0; i < length;) {
    const uint32_t sequence = utf8_sequence_length(bytes + i, length - i);
    total += escape_one(bytes + i, sequence, nullptr);
    i += sequence == 0 ? 1 : sequence;
  }
  if (total > UINT32_MAX || !reserve_for_append(out, static_cast<uint32_t>(total))) return false;
  const uint32_t start = out.length();
  if (!out.resize(start + static_cast<uint32_t>(total))) return false;
  uint8_t* p = out.data() + start;
  for (uint32_t i = 0; i < length;) {
    const uint32_t sequence = utf8_sequence_length(bytes + i, length - i);
    p += escape_one(bytes + i, sequence, p);
    i += sequence == 0 ? 1 : sequence;
  }
  return true;
}

uint32_t html_escape_piece(const uint8_t* bytes, uint32_t length, uint32_t wanted) {
  if (wanted >= length) return length;
  // A well-formed sequence is at most four bytes, so one that runs through the cut starts at
  // most three bytes before it; cutting before a byte that is no continuation splits none.
  for (uint32_t back = 0; back <= 3 && back < wanted; ++back) {
    if (!is_continuation(bytes[wanted - back])) return wanted - back;
  }
  return wanted;
}
