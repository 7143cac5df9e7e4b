#include "report/text_table.h"

#include <cinttypes>
#include <cstdarg>
#include <cstring>

#include "base/utf8.h"
#include "report/line_text.h"

namespace {

uint32_t display_width(const char* text, uint32_t length) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text);
  uint32_t width = 0;
  uint32_t i = 0;
  while (i < length) {
    const uint32_t sequence = utf8_sequence_length(bytes + i, length - i);
    i += sequence == 0 ? 1 : sequence;
    ++width;
  }
  return width;
}

void pad(std::FILE* out, uint32_t count) {
  static const char kSpaces[] = "                                ";
  while (count > 0) {
    const uint32_t n = count < sizeof(kSpaces) - 1 ? count : sizeof(kSpaces) - 1;
    std::fwrite(kSpaces, 1, n, out);
    count -= n;
  }
}

}  // namespace

TextTable::TextTable(uint32_t columns, uint32_t rightAligned)
    : columns_(columns == 0 ? 1 : (columns > kMaxColumns ? kMaxColumns : columns)),
      rightAligned_(rightAligned) {}

void TextTable::Cell(const char* text) {
  const size_t length = std::strlen(text);
  if (length >= UINT32_MAX) {
    ok_ = false;
    return;
  }
  Cell(reinterpret_cast<const uint8_t*>(text), static_cast<uint32_t>(length));
}

void TextTable::Cell(const uint8_t* bytes, uint32_t length) {
  escaped_.Release(false);
  ByteWriter writer(cells_);
  if (!ok_ || !append_escaped(bytes, length, escaped_) ||
      !reserve_for_append(cells_, static_cast<uint32_t>(escaped_.Length()) + 1) ||
      !writer.write_bytes(escaped_.Data(), static_cast<uint32_t>(escaped_.Length())) ||
      !writer.write_u8(0)) {
    ok_ = false;
    return;
  }
  uint32_t& width = widths_[cellCount_ % columns_];
  const uint32_t cellWidth =
      display_width(escaped_.Data(), static_cast<uint32_t>(escaped_.Length()));
  if (cellWidth > width) width = cellWidth;
  ++cellCount_;
}

void TextTable::Number(uint64_t value) { Format("%" PRIu64, value); }

void TextTable::Format(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  if (length < 0) text[0] = '\0';
  Cell(text);
}

void TextTable::Print(std::FILE* out) const {
  const char* next = reinterpret_cast<const char*>(cells_.data());
  for (uint32_t first = 0; first < cellCount_; first += columns_) {
    const uint32_t count = cellCount_ - first < columns_ ? cellCount_ - first : columns_;
    const char* row[kMaxColumns];
    uint32_t lengths[kMaxColumns];
    // The row ends at its last cell that is not empty, so that no line ends in spaces.
    uint32_t end = 0;
    for (uint32_t c = 0; c < count; ++c) {
      row[c] = next;
      lengths[c] = static_cast<uint32_t>(std::strlen(next));
      next += lengths[c] + 1;
      if (lengths[c] != 0) end = c + 1;
    }
    for (uint32_t c = 0; c < end; ++c) {
      if (c != 0) pad(out, 2);
      const uint32_t fill = widths_[c] - display_width(row[c], lengths[c]);
      if ((rightAligned_ >> c) & 1) pad(out, fill);
      std::fwrite(row[c], 1, lengths[c], out);
      if (!((rightAligned_ >> c) & 1) && c + 1 < end) pad(out, fill);
    }
    std::fputc('\n', out);
  }
}
