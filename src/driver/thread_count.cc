#include "driver/thread_count.h"

#include <cstdlib>

#include "base/platform.h"

bool parse_thread_count(const char* text, uint32_t* count) {
  if (text == nullptr || *text == '\0') return false;
  uint64_t value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    // Anything beyond the cap is the cap; counting stops before the value could wrap.
    if (value <= kMaxThreads) value = value * 10 + static_cast<uint32_t>(*p - '0');
  }
  if (value == 0) return false;
  *count = value > kMaxThreads ? kMaxThreads : static_cast<uint32_t>(value);
  return true;
}

uint32_t processor_thread_count() {
  const uint32_t processors = sys_processor_count();
  return processors > kMaxThreads ? kMaxThreads : processors;
}

uint32_t run_thread_count(const char** ignored) {
  *ignored = nullptr;
  const char* text = std::getenv(kThreadsVariable);
  if (text == nullptr || *text == '\0') return processor_thread_count();
  uint32_t count = 0;
  if (parse_thread_count(text, &count)) return count;
  *ignored = text;
  return processor_thread_count();
}
