#ifndef VINTREL_BASE_ARRAY_H_
#define VINTREL_BASE_ARRAY_H_

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "base/alloc_hooks.h"

// A growable array of records: plain structs of values, copied as bytes. Its block comes from the
// allocation hooks and at least doubles when it must grow, so that n appends copy the records a
// logarithmic number of times. Not copyable.
template <typename T>
class TArray {
  static_assert(std::is_trivially_copyable<T>::value && std::is_trivially_destructible<T>::value,
                "TArray holds records of plain values; give texts a store of their own");

 public:
  TArray() = default;
  ~TArray() { Release(); }
  TArray(const TArray&) = delete;
  TArray& operator=(const TArray&) = delete;

  // Makes room for at least count records. False, the array unchanged, when the byte size would
  // not fit in 32 bits or the heap cannot supply it.
  bool Reserve(uint32_t count) {
    if (count <= capacity_) return true;
    if (count > UINT32_MAX / sizeof(T)) return false;
    T* block = static_cast<T*>(AllocHooks.allocHook(count * static_cast<uint32_t>(sizeof(T))));
    if (block == nullptr) return false;
    if (count_ != 0) std::memcpy(static_cast<void*>(block), items_, count_ * sizeof(T));
    AllocHooks.freeHook(items_);
    items_ = block;
    capacity_ = count;
    return true;
  }

  // Appends a copy of item. False, the array unchanged, when it cannot grow.
  bool Append(const T& item) {
    if (count_ == capacity_) {
      if (count_ == UINT32_MAX) return false;
      const uint64_t doubled = capacity_ < 8 ? 8 : 2ull * capacity_;
      const uint32_t wanted =
          doubled > UINT32_MAX / sizeof(T) ? count_ + 1 : static_cast<uint32_t>(doubled);
      if (!Reserve(wanted) && !Reserve(count_ + 1)) return false;
    }
    items_[count_++] = item;
    return true;
  }

  // Drops every record and keeps the block.
  void Clear() { count_ = 0; }
  // Gives the block back.
  void Release() {
    AllocHooks.freeHook(items_);
    items_ = nullptr;
    count_ = 0;
    capacity_ = 0;
  }

  uint32_t count() const { return count_; }
  T& operator[](uint32_t i) { return items_[i]; }
  const T& operator[](uint32_t i) const { return items_[i]; }
  T* begin() { return items_; }
  T* end() { return items_ + count_; }
  const T* begin() const { return items_; }
  const T* end() const { return items_ + count_; }

 private:
  T* items_ = nullptr;
  uint32_t count_ = 0;
  uint32_t capacity_ = 0;
};

#endif  // VINTREL_BASE_ARRAY_H_
