#include "driver/warning_list.h"

#include <cstdarg>
#include <cstdio>

#include "base/coding.h"

void WarningList::Add(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  const uint32_t start = text_.length();
  // The text with its NUL, and its start, must both fit; otherwise the line is dropped whole.
  if (length < 0 || static_cast<uint32_t>(length) >= UINT32_MAX - 1 - start ||
      !text_.resize(start + static_cast<uint32_t>(length) + 1)) {
    va_end(args);
    return;
  }
  std::vsnprintf(reinterpret_cast<char*>(text_.data() + start), static_cast<size_t>(length) + 1,
                 format, args);
  va_end(args);
  ByteWriter starts(starts_);
  if (!starts.write_u32(start)) text_.resize(start);
}

const char* WarningList::line(uint32_t i) const {
  return reinterpret_cast<const char*>(text_.data() + decode_u32(starts_.data() + 4 * i));
}
