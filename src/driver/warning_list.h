#ifndef VINTREL_DRIVER_WARNING_LIST_H_
#define VINTREL_DRIVER_WARNING_LIST_H_

#include <cstdint>

#include "base/byte_buffer.h"
#include "base/string_buffer.h"

// Remarks about a run that do not change its outcome (a configured key the tool does not know, a
// configured file that replaced nothing), one line each, in the order they were made.
class WarningList {
 public:
  WarningList() = default;
  WarningList(const WarningList&) = delete;
  WarningList& operator=(const WarningList&) = delete;

  // Adds one printf-formatted line. A line that cannot be stored for want of memory is dropped:
  // a remark is never worth failing a run for.
  void Add(const char* format, ...) VINTREL_PRINTF_FORMAT(2, 3);

  uint32_t count() const { return starts_.length() / 4; }
  // Line i, NUL-terminated, without a line end.
  const char* line(uint32_t i) const;

 private:
  ByteBuffer text_;    // the lines, each followed by its NUL
  ByteBuffer starts_;  // where each line begins in text_, as u32
};

#endif  // VINTREL_DRIVER_WARNING_LIST_H_
