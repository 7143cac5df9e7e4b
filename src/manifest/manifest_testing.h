// Helpers shared by the manifest tests: moving bytes in and out of a ByteBuffer, and a probe that
// records the largest block asked of the allocation hooks.
#ifndef VINTREL_MANIFEST_MANIFEST_TESTING_H_
#define VINTREL_MANIFEST_MANIFEST_TESTING_H_

#include <cstdint>
#include <cstring>

#include "base/alloc_hooks.h"
#include "base/byte_buffer.h"
#include "tests/support/bytes.h"

namespace manifest_testing {

// Replaces the buffer's contents with bytes; false when the buffer cannot grow.
inline bool SetBuffer(ByteBuffer& buffer, const vtest::Bytes& bytes) {
  if (!buffer.resize(static_cast<uint32_t>(bytes.size()))) return false;
  if (!bytes.empty()) std::memcpy(buffer.data(), bytes.data(), bytes.size());
  return true;
}

inline vtest::Bytes BufferBytes(const ByteBuffer& buffer) {
  if (buffer.length() == 0) return {};
  return vtest::Bytes(buffer.data(), buffer.data() + buffer.length());
}

// While alive, every allocation through the hooks is measured; the largest size asked is kept.
// One probe at a time.
class LargestAllocation {
 public:
  LargestAllocation() {
    AllocHooks.freeHook(nullptr);  // installs the defaults, so the hook saved below is final
    next_ = AllocHooks.allocHook;
    largest_ = 0;
    AllocHooks.allocHook = &Record;
  }
  ~LargestAllocation() { AllocHooks.allocHook = next_; }
  LargestAllocation(const LargestAllocation&) = delete;
  LargestAllocation& operator=(const LargestAllocation&) = delete;

  uint32_t largest() const { return largest_; }

 private:
  static void* Record(uint32_t size) {
    if (size > largest_) largest_ = size;
    return next_(size);
  }

  static inline void* (*next_)(uint32_t) = nullptr;
  static inline uint32_t largest_ = 0;
};

// Far below any size a hostile count or section size could ask for.
constexpr uint32_t kModestAllocation = 1u << 20;

}  // namespace manifest_testing

#endif  // VINTREL_MANIFEST_MANIFEST_TESTING_H_
