#include "base/shared_string.h"

#include <cstdint>
#include <cstring>

#include "base/alloc_hooks.h"
#include "base/string_buffer.h"

namespace {

// Written only with a zero: a caller may store the terminating NUL through Data() of an empty
// string, never anything else.
char g_sharedEmptyText[1] = {0};

// The block header: u32 capacity at the block start, u32 length after it, the text 8 bytes in.
constexpr uint32_t kHeaderSize = 8;

char* BlockStart(char* text) { return text - kHeaderSize; }

uint32_t HeaderField(const char* text, uint32_t offset) {
  uint32_t value;
  std::memcpy(&value, text - kHeaderSize + offset, sizeof(value));
  return value;
}

void SetHeaderField(char* text, uint32_t offset, uint32_t value) {
  std::memcpy(text - kHeaderSize + offset, &value, sizeof(value));
}

constexpr uint32_t kCapacityOffset = 0;
constexpr uint32_t kLengthOffset = 4;

}  // namespace

SharedString::SharedString() : text_(g_sharedEmptyText) {}

SharedString::~SharedString() { Release(); }

bool SharedString::IsEmpty() const { return text_ == g_sharedEmptyText; }

uint32_t SharedString::Length() const { return IsEmpty() ? 0 : HeaderField(text_, kLengthOffset); }

uint32_t SharedString::Capacity() const {
  return IsEmpty() ? 0 : HeaderField(text_, kCapacityOffset);
}

void SharedString::Release() {
  if (IsEmpty()) return;
  AllocHooks.freeHook(BlockStart(text_));
  text_ = g_sharedEmptyText;
}

bool SharedString::ReserveLength(uint32_t len) {
  if (!IsEmpty()) {
    // len + 1 cannot wrap here: capacity is at most UINT32_MAX - 8.
    if (len < HeaderField(text_, kCapacityOffset) - 1) {
      SetHeaderField(text_, kLengthOffset, len);
      return true;
    }
    Release();
    if (len == 0) return false;
  }
  // The block is len + 9 bytes; a length that would wrap that sum cannot be stored.
  if (len > UINT32_MAX - (kHeaderSize + 1)) return false;
  void* block = AllocHooks.allocHook(len + kHeaderSize + 1);
  if (block == nullptr) return false;
  text_ = static_cast<char*>(block) + kHeaderSize;
  SetHeaderField(text_, kCapacityOffset, len + 1);
  SetHeaderField(text_, kLengthOffset, len);
  return true;
}

void SharedString::Assign(const char* text) {
  if (text == nullptr) {
    Release();
    return;
  }
  // The string's own text: reallocating would free the block before the copy could read it, and
  // the text is already in place.
  if (text == text_ && !IsEmpty()) {
    SetHeaderField(text_, kLengthOffset, static_cast<uint32_t>(std::strlen(text_)));
    return;
  }
  const size_t measured = std::strlen(text);
  if (measured > UINT32_MAX - (kHeaderSize + 1)) {
    Release();
    return;
  }
  const uint32_t len = static_cast<uint32_t>(measured);
  if (!ReserveLength(len)) return;
  // memmove: a tail of the string's own text is copied into the block it lies in.
  std::memmove(text_, text, len + 1);
}

void SharedString::Assign(const CStringBufferA& buffer) {
  const char* text = buffer.Data();
  Assign(text != nullptr ? text : "");
}
