#include "report/line_text.h"

#include <cstdio>

namespace {

bool is_control(uint8_t b) { return b < 0x20 || b == 0x7F; }

}  // namespace

bool append_escaped(const uint8_t* bytes, uint32_t length, CStringBufferA& out) {
  uint32_t controls = 0;
  for (uint32_t i = 0; i < length; ++i) controls += is_control(bytes[i]) ? 1 : 0;
  const uint64_t total = static_cast<uint64_t>(out.Length()) + length + 3ull * controls;
  if (total >= INT32_MAX || !out.Reserve(static_cast<int32_t>(total) + 1)) return false;
  char* p = out.Data() + out.Length();
  for (uint32_t i = 0; i < length; ++i) {
    if (is_control(bytes[i])) {
      std::snprintf(p, 5, "\\x%02x", bytes[i]);
      p += 4;
    } else {
      *p++ = static_cast<char>(bytes[i]);
    }
  }
  *p = '\0';
  out.SetLength(static_cast<int32_t>(total));
  return true;
}
