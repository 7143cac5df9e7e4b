// Moving bytes in and out of the tool's ByteBuffer, for tests of the code that holds them.
#ifndef VINTREL_TESTS_SUPPORT_BUFFER_BYTES_H_
#define VINTREL_TESTS_SUPPORT_BUFFER_BYTES_H_

#include <cstdint>
#include <cstring>

#include "base/byte_buffer.h"
#include "tests/support/bytes.h"

namespace vtest {

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

// Far below any size a hostile count or section size could ask for.
constexpr uint32_t kModestAllocation = 1u << 20;

}  // namespace vtest

#endif  // VINTREL_TESTS_SUPPORT_BUFFER_BYTES_H_
