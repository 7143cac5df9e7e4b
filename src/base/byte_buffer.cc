#include "base/byte_buffer.h"

#include <cstdint>
#include <cstring>

#include "base/alloc_hooks.h"
#include "base/coding.h"

namespace {

// take_bytes(0) hands out an address even when the buffer has no block yet; no byte is read
// through it.
const uint8_t kNoBytes[1] = {0};

constexpr uint32_t kU16Step = 128;

}  // namespace

ByteBuffer::ByteBuffer(uint32_t granule)
    : granule_(granule != 0 ? granule : kGranule), length_(0), capacity_(0), data_(nullptr) {}

ByteBuffer::~ByteBuffer() { release(); }

bool ByteBuffer::reserve(uint32_t n) {
  // Rounded up in 64 bits: near 4 GiB the granule multiple would wrap to a small number and
  // pass as "already large enough".
  const uint64_t needed64 = (static_cast<uint64_t>(n) + granule_ - 1) / granule_ * granule_;
  if (needed64 <= capacity_) return true;
  if (needed64 > UINT32_MAX) return false;
  const uint32_t needed = static_cast<uint32_t>(needed64);
  uint8_t* block = static_cast<uint8_t*>(AllocHooks.allocHook(needed));
  if (block == nullptr) return false;
  if (data_ != nullptr) {
    // The whole old block, not just length: callers may have written past length.
    std::memcpy(block, data_, capacity_);
    AllocHooks.freeHook(data_);
  }
  std::memset(block + capacity_, 0, needed - capacity_);
  data_ = block;
  capacity_ = needed;
  return true;
}

bool ByteBuffer::resize(uint32_t n) {
  if (!reserve(n)) return false;
  length_ = n;
  return true;
}

bool ByteBuffer::assign(const ByteBuffer& source) {
  if (&source == this) return true;
  if (!reserve(source.length_)) return false;
  if (source.length_ != 0) std::memcpy(data_, source.data_, source.length_);
  length_ = source.length_;
  return true;
}

void ByteBuffer::release() {
  if (data_ != nullptr) AllocHooks.freeHook(data_);
  data_ = nullptr;
  capacity_ = 0;
  length_ = 0;
}

uint32_t ByteReader::remaining() const {
  const uint32_t length = buffer_->length();
  return position_ <= length ? length - position_ : 0;
}

// Every read goes through here: the bound is the remaining count, so no width can wrap past it,
// and a position beyond the length fails even for 0 bytes.
const uint8_t* ByteReader::take_bytes(uint32_t n) {
  if (position_ > buffer_->length()) return nullptr;
  if (n > buffer_->length() - position_) return nullptr;
  const uint8_t* data = buffer_->data();
  const uint8_t* bytes = data != nullptr ? data + position_ : kNoBytes;
  position_ += n;
  return bytes;
}

bool ByteReader::skip(uint32_t n) { return take_bytes(n) != nullptr; }

bool ByteReader::read_bytes(void* destination, uint32_t n) {
  const uint8_t* bytes = take_bytes(n);
  if (bytes == nullptr) return false;
  if (n != 0) std::memcpy(destination, bytes, n);
  return true;
}

bool ByteReader::read_u8(uint8_t* value) {
  const uint8_t* p = take_bytes(1);
  if (p == nullptr) return false;
  *value = p[0];
  return true;
}

bool ByteReader::read_u16(uint16_t* value) {
  const uint8_t* p = take_bytes(2);
  if (p == nullptr) return false;
  *value = decode_u16(p);
  return true;
}

bool ByteReader::read_u32(uint32_t* value) {
  const uint8_t* p = take_bytes(4);
  if (p == nullptr) return false;
  *value = decode_u32(p);
  return true;
}

bool ByteReader::read_u64(uint64_t* value) {
  const uint8_t* p = take_bytes(8);
  if (p == nullptr) return false;
  *value = decode_u64(p);
  return true;
}

bool reserve_for_append(ByteBuffer& buffer, uint32_t n) {
  const uint32_t length = buffer.length();
  if (n > UINT32_MAX - length) return false;
  if (n <= buffer.capacity() - length) return true;
  const uint64_t doubled = 2ull * buffer.capacity();
  // Near 4 GiB doubling no longer fits in 32 bits; the exact need may still.
  if (doubled > length + n && doubled <= UINT32_MAX &&
      buffer.reserve(static_cast<uint32_t>(doubled))) {
    return true;
  }
  return buffer.reserve(length + n);
}

bool ByteWriter::write_bytes(const void* source, uint32_t n) {
  if (source == nullptr) return n == 0;
  if (n == 0) return true;
  const uint32_t length = buffer_->length();
  // length + n must not wrap into a small reservation.
  if (n > UINT32_MAX - length) return false;

  // A source inside the buffer's own block would be freed by a growing reserve: remember it as
  // an offset and find it again in the new block.
  const uintptr_t start = reinterpret_cast<uintptr_t>(buffer_->data());
  const uintptr_t from = reinterpret_cast<uintptr_t>(source);
  const bool inside =
      buffer_->data() != nullptr && from >= start && from - start < buffer_->capacity();
  const uintptr_t offset = from - start;

  if (!buffer_->reserve(length + n)) return false;
  const uint8_t* bytes = inside ? buffer_->data() + offset : static_cast<const uint8_t*>(source);
  std::memmove(buffer_->data() + length, bytes, n);
  return buffer_->resize(length + n);
}

bool ByteWriter::write_u8(uint8_t value) { return write_bytes(&value, 1); }

bool ByteWriter::write_u16(uint16_t value) {
  uint8_t bytes[2];
  encode_u16(bytes, value);
  return write_bytes(bytes, 2);
}

bool ByteWriter::write_u32(uint32_t value) {
  uint8_t bytes[4];
  encode_u32(bytes, value);
  return write_bytes(bytes, 4);
}

bool ByteWriter::write_u64(uint64_t value) {
  uint8_t bytes[8];
  encode_u64(bytes, value);
  return write_bytes(bytes, 8);
}

U16Array::~U16Array() { release(); }

bool U16Array::reserve(uint32_t count) {
  if (count == 0) return true;
  // Rounded up and doubled into bytes without wrapping 32 bits.
  if (count > (UINT32_MAX / 2) / kU16Step * kU16Step) return false;
  const uint32_t needed = (count + kU16Step - 1) / kU16Step * kU16Step;
  if (data_ != nullptr && needed <= capacity_) return true;
  uint16_t* block = static_cast<uint16_t*>(AllocHooks.allocHook(needed * 2));
  if (block == nullptr) return false;
  std::memset(block + capacity_, 0, static_cast<size_t>(needed - capacity_) * 2);
  if (data_ != nullptr) {
    std::memcpy(block, data_, static_cast<size_t>(capacity_) * 2);
    AllocHooks.freeHook(data_);
  }
  data_ = block;
  capacity_ = needed;
  return true;
}

void U16Array::release() {
  if (data_ != nullptr) AllocHooks.freeHook(data_);
  data_ = nullptr;
  capacity_ = 0;
}
