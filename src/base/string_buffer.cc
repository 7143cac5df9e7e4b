#include "base/string_buffer.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/alloc_hooks.h"

namespace {

// The empty text of every string buffer. Release(false) writes its NUL through data, so it is
// writable, but only ever with a zero.
char g_bufferEmptyText[1] = {0};

// The largest power of two a signed 32-bit capacity can hold.
constexpr int32_t kMaxCapacity = int32_t{1} << 30;

int32_t NextPowerOfTwo(int32_t n) {
  int32_t capacity = 1;
  while (capacity < n) capacity <<= 1;
  return capacity;
}

// Characters before the first NUL, looking at no more than limit bytes.
int32_t BoundedLength(const char* text, int32_t limit) {
  int32_t length = 0;
  while (length < limit && text[length] != '\0') ++length;
  return length;
}

}  // namespace

CStringBufferA::CStringBufferA() : data_(g_bufferEmptyText), capacity_(0), length_(0) {}

CStringBufferA::~CStringBufferA() {
  if (data_ != nullptr && data_ != g_bufferEmptyText) AllocHooks.freeHook(data_);
}

bool CStringBufferA::Reserve(int32_t n) { return ReserveHeap(n); }

void CStringBufferA::Release(bool freeBlock) {
  if (freeBlock) {
    if (data_ != nullptr && data_ != g_bufferEmptyText) AllocHooks.freeHook(data_);
    data_ = g_bufferEmptyText;
    capacity_ = 0;
  } else if (data_ != nullptr) {
    data_[0] = '\0';
  }
  length_ = 0;
}

bool CStringBufferA::ReserveHeap(int32_t n) {
  if (n <= capacity_) return true;
  // Beyond 2^30 the next power of two no longer fits the signed capacity.
  if (n > kMaxCapacity) return false;
  const int32_t capacity = NextPowerOfTwo(n);
  char* block = static_cast<char*>(AllocHooks.allocHook(static_cast<uint32_t>(capacity)));
  if (block == nullptr) return false;
  if (data_ != nullptr && data_ != g_bufferEmptyText) {
    // The old text ends at its NUL within the old capacity, which is below the new one.
    const int32_t length = BoundedLength(data_, capacity_);
    std::memcpy(block, data_, static_cast<size_t>(length));
    block[length] = '\0';
    AllocHooks.freeHook(data_);
  } else {
    block[0] = '\0';
  }
  data_ = block;
  capacity_ = capacity;
  return true;
}

bool CStringBufferA::IsHeapBlock(const char* inlineText) const {
  return data_ != nullptr && data_ != g_bufferEmptyText && data_ != inlineText;
}

bool CStringBufferA::ReserveWithInline(int32_t n, char* inlineText, int32_t inlineSize) {
  const bool wasEmpty = data_ == g_bufferEmptyText;
  if (n <= inlineSize && (wasEmpty || data_ == inlineText)) {
    // Coming from the empty state the inline bytes hold nothing yet, whatever length says.
    if (wasEmpty || length_ == 0) inlineText[0] = '\0';
    data_ = inlineText;
    // The inline storage always has room for the NUL.
    capacity_ = n < 1 ? 1 : n;
    return true;
  }
  if (data_ != inlineText) return ReserveHeap(n);

  // The inline text moves to the heap. Only once the block exists does data leave inlineText, so
  // that a failed allocation leaves the text where it was.
  char* const oldData = data_;
  const int32_t oldCapacity = capacity_;
  data_ = g_bufferEmptyText;
  capacity_ = 0;
  if (!ReserveHeap(n)) {
    data_ = oldData;
    capacity_ = oldCapacity;
    return false;
  }
  int32_t length = BoundedLength(inlineText, inlineSize);
  if (length > capacity_ - 1) length = capacity_ - 1;
  std::memcpy(data_, inlineText, static_cast<size_t>(length));
  data_[length] = '\0';
  return true;
}

void CStringBufferA::ReleaseWithInline(const char* inlineText, bool freeBlock) {
  if (data_ == inlineText) {
    data_ = g_bufferEmptyText;
    capacity_ = 0;
    length_ = 0;
    return;
  }
  CStringBufferA::Release(freeBlock);
}

int32_t CStringBufferA::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  // The first pass consumes its list; the second needs a fresh copy.
  va_list formatArgs;
  va_copy(formatArgs, args);
  const int measured = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);

  int32_t result;
  if (measured == 0) {
    Release(false);
    result = 0;
  } else if (measured < 0 || measured >= INT32_MAX || !Reserve(measured + 1)) {
    // An encoding error or a text that cannot be held: a failure, not an empty success.
    Release(false);
    result = -1;
  } else {
    std::vsnprintf(data_, static_cast<size_t>(measured) + 1, format, formatArgs);
    length_ = measured;
    result = measured;
  }
  va_end(formatArgs);
  return result;
}

const char* CStringBufferA::Assign(const char* text) {
  if (text == nullptr) {
    Release(false);
    return data_;
  }
  const size_t measured = std::strlen(text);
  if (measured >= static_cast<size_t>(INT32_MAX)) return nullptr;
  const int32_t length = static_cast<int32_t>(measured);
  if (!Reserve(length + 1)) return nullptr;
  // memmove: the text may be a tail of this buffer's own text, which never needs a larger block.
  std::memmove(data_, text, static_cast<size_t>(length) + 1);
  length_ = length;
  return data_;
}
