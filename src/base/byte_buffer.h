#ifndef VINTREL_BASE_BYTE_BUFFER_H_
#define VINTREL_BASE_BYTE_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <new>

#include "base/alloc_hooks.h"

// A growable block of bytes. Capacity grows in whole granules (8192 bytes everywhere in the
// program), never shrinks, and new capacity is zero-filled. Not copyable; assign() copies.
class ByteBuffer {
 public:
  static constexpr uint32_t kGranule = 8192;

  // A granule of 0 is taken as kGranule.
  explicit ByteBuffer(uint32_t granule = kGranule);
  ~ByteBuffer();
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;

  // Makes capacity at least n, rounded up to whole granules, and zero-fills the new bytes; contents
  // and length unchanged. Returns false, with the buffer exactly as it was, when the heap cannot
  // supply the block or the rounded capacity would not fit in 32 bits.
  bool reserve(uint32_t n);
  // reserve(n), then length = n. Bytes beyond the old length are not cleared.
  bool resize(uint32_t n);
  // Copies the source's length bytes; length becomes the source's. The block is kept when it is
  // large enough. False (unchanged) on allocation failure.
  bool assign(const ByteBuffer& source);
  // Frees the block; length and capacity become 0, granule stays.
  void release();

  uint32_t granule() const { return granule_; }
  uint32_t length() const { return length_; }
  uint32_t capacity() const { return capacity_; }
  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }

 private:
  uint32_t granule_;
  uint32_t length_;
  uint32_t capacity_;
  uint8_t* data_;
};

// A bounded little-endian cursor over a ByteBuffer. It reads the buffer's data and length afresh
// at every call, so it stays valid when the buffer grows. Every read fails, returning false and
// leaving position unchanged, when fewer bytes remain than it needs, and (even for 0 bytes) when
// position lies beyond the buffer's length. Reads of 0 bytes otherwise succeed.
class ByteReader {
 public:
  explicit ByteReader(const ByteBuffer& buffer, uint32_t position = 0)
      : buffer_(&buffer), position_(position) {}

  bool read_u8(uint8_t* value);
  bool read_u16(uint16_t* value);
  bool read_u32(uint32_t* value);
  bool read_u64(uint64_t* value);
  // Copies the next n bytes to destination.
  bool read_bytes(void* destination, uint32_t n);
  // The address of the next n bytes inside the buffer, advancing past them; null (position
  // unchanged) when fewer than n remain. Valid until the buffer is next grown or released.
  // take_bytes(0) returns a non-null address even when the buffer has no block yet.
  const uint8_t* take_bytes(uint32_t n);
  // Passes over n bytes; false (position unchanged) when fewer remain.
  bool skip(uint32_t n);

  uint32_t position() const { return position_; }
  void set_position(uint32_t position) { position_ = position; }
  // Bytes between position and length; 0 when position lies beyond length.
  uint32_t remaining() const;

 private:
  const ByteBuffer* buffer_;
  uint32_t position_;
};

// Appends little-endian values at the buffer's length. Each write reserves length + width first;
// on failure (no memory, or length + width beyond 32 bits) it returns false and the buffer is
// unchanged.
class ByteWriter {
 public:
  explicit ByteWriter(ByteBuffer& buffer) : buffer_(&buffer) {}

  bool write_u8(uint8_t value);
  bool write_u16(uint16_t value);
  bool write_u32(uint32_t value);
  // The low u32 first, each half low byte first.
  bool write_u64(uint64_t value);
  // Appends n bytes; a null source appends nothing and succeeds only when n is 0. The source may
  // lie inside the buffer itself.
  bool write_bytes(const void* source, uint32_t n);

 private:
  ByteBuffer* buffer_;
};

// Makes room for n bytes after the buffer's length, at least doubling the capacity when it must
// grow, so that a buffer filled by many small appends is copied only a logarithmic number of
// times. False, the buffer unchanged, when length + n does not fit in 32 bits or the heap cannot
// supply the block.
bool reserve_for_append(ByteBuffer& buffer, uint32_t n);

// A list of 16-bit values that grows in steps of 128 elements; its user keeps the count.
class U16Array {
 public:
  U16Array() = default;
  ~U16Array();
  U16Array(const U16Array&) = delete;
  U16Array& operator=(const U16Array&) = delete;

  // Makes capacity at least count elements, rounded up to a multiple of 128 (new elements zero).
  // Reserving 0 changes nothing. False, unchanged, on allocation failure or when the byte size
  // would not fit in 32 bits.
  bool reserve(uint32_t count);
  void release();

  uint16_t* data() { return data_; }
  const uint16_t* data() const { return data_; }
  uint32_t capacity() const { return capacity_; }

 private:
  uint16_t* data_ = nullptr;
  uint32_t capacity_ = 0;
};

// An array of records allocated through the allocation hooks as one block that keeps the element
// count in front of the elements. Every element is value-constructed on allocation and destroyed
// (in reverse order) when the array is released or destroyed.
template <typename T>
class TCountedArray {
 public:
  TCountedArray() = default;
  ~TCountedArray() { release(); }
  TCountedArray(const TCountedArray&) = delete;
  TCountedArray& operator=(const TCountedArray&) = delete;

  // Allocates count elements, releasing any earlier ones. False (and empty) when the byte size
  // does not fit in 32 bits or the heap cannot supply it.
  bool allocate(uint32_t count) {
    release();
    const uint32_t limit = UINT32_MAX - kHeader;
    if (count > limit / sizeof(T)) return false;
    void* block = AllocHooks.allocHook(kHeader + count * static_cast<uint32_t>(sizeof(T)));
    if (block == nullptr) return false;
    *static_cast<uint32_t*>(block) = count;
    block_ = static_cast<unsigned char*>(block);
    T* items = elements();
    for (uint32_t i = 0; i < count; ++i) new (&items[i]) T();
    return true;
  }

  void release() {
    if (block_ == nullptr) return;
    T* items = elements();
    for (uint32_t i = count(); i > 0; --i) items[i - 1].~T();
    AllocHooks.freeHook(block_);
    block_ = nullptr;
  }

  // Exchanges the elements of two arrays without copying them.
  void swap(TCountedArray& other) {
    unsigned char* block = block_;
    block_ = other.block_;
    other.block_ = block;
  }

  uint32_t count() const { return block_ ? *reinterpret_cast<const uint32_t*>(block_) : 0; }
  T& operator[](uint32_t i) { return elements()[i]; }
  const T& operator[](uint32_t i) const { return elements()[i]; }

 private:
  // The count sits in front, padded so that the elements keep their alignment.
  static constexpr uint32_t kHeader = alignof(T) > sizeof(uint32_t)
                                          ? static_cast<uint32_t>(alignof(T))
                                          : 8;
  T* elements() { return reinterpret_cast<T*>(block_ + kHeader); }
  const T* elements() const { return reinterpret_cast<const T*>(block_ + kHeader); }

  unsigned char* block_ = nullptr;
};

#endif  // VINTREL_BASE_BYTE_BUFFER_H_
