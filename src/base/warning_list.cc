#include "base/warning_list.h"

#include <cstdarg>
#include <cstdio>

bool WarningList::Add(const char* format, ...) {
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
    return false;
  }
  std::vsnprintf(reinterpret_cast<char*>(text_.data() + start), static_cast<size_t>(length) + 1,
                 format, args);
  va_end(args);
  if (starts_.Append(start)) return true;
  text_.resize(start);
  return false;
}

void WarningList::Clear() {
  text_.resize(0);
  starts_.Clear();
}

const char* WarningList::line(uint32_t i) const {
  return reinterpret_cast<const char*>(text_.data() + starts_[i]);
}
