#ifndef VINTREL_REPORT_TEXT_TABLE_H_
#define VINTREL_REPORT_TEXT_TABLE_H_

#include <cstdint>
#include <cstdio>

#include "base/byte_buffer.h"
#include "base/string_buffer.h"

// Rows of text cells printed in columns two spaces apart, each as wide as its widest cell. Cells
// are copied as they are added, row after row, with their control characters shown as \xNN, so
// that names read from a file cannot break a row. Width counts characters: a well-formed UTF-8
// sequence is one, and so is any other byte. Lines end without trailing spaces.
class TextTable {
 public:
  static constexpr uint32_t kMaxColumns = 12;

  // columns is 1 to kMaxColumns; bit i of rightAligned aligns column i to the right (numbers).
  explicit TextTable(uint32_t columns, uint32_t rightAligned = 0);
  TextTable(const TextTable&) = delete;
  TextTable& operator=(const TextTable&) = delete;

  // Appends a cell to the current row; the row is complete after `columns` cells.
  void Cell(const char* text);
  void Cell(const CStringBufferA& text) { Cell(text.Data()); }
  void Cell(const uint8_t* bytes, uint32_t length);
  void Number(uint64_t value);
  // A cell of printf-formatted text, cut at 255 bytes.
  void Format(const char* format, ...) VINTREL_PRINTF_FORMAT(2, 3);

  // False once an append failed for want of memory; the table is then incomplete.
  bool ok() const { return ok_; }

  // Writes the rows to out, one line each; a partial last row is printed as far as it goes.
  void Print(std::FILE* out) const;

 private:
  ByteBuffer cells_;  // every cell's text and a NUL, in order
  CStringBufferA escaped_;
  uint32_t columns_;
  uint32_t rightAligned_;
  uint32_t widths_[kMaxColumns] = {};
  uint32_t cellCount_ = 0;
  bool ok_ = true;
};

#endif  // VINTREL_REPORT_TEXT_TABLE_H_
