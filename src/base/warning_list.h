#ifndef VINTREL_BASE_WARNING_LIST_H_
#define VINTREL_BASE_WARNING_LIST_H_

#include <cstdint>

#include "base/array.h"
#include "base/byte_buffer.h"
#include "base/string_buffer.h"

// Lines of text in the order they were made: remarks about a run that do not change its outcome
// (a configured key the tool does not know, a configured file that replaced nothing), or any
// other list of one-line texts.
class WarningList {
 public:
  WarningList() = default;
  WarningList(const WarningList&) = delete;
  WarningList& operator=(const WarningList&) = delete;

  // Adds one printf-formatted line. A line that cannot be stored for want of memory is dropped
  // whole, and the result is false: a remark is never worth failing a run for, but a list that
  // others index must know.
  bool Add(const char* format, ...) VINTREL_PRINTF_FORMAT(2, 3);
  // Drops every line and keeps the blocks.
  void Clear();

  uint32_t count() const { return starts_.count(); }
  // Line i, NUL-terminated, without a line end.
  const char* line(uint32_t i) const;

 private:
  ByteBuffer text_;          // the lines, each followed by its NUL
  TArray<uint32_t> starts_;  // where each line begins in text_
};

#endif  // VINTREL_BASE_WARNING_LIST_H_
