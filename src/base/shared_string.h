#ifndef VINTREL_BASE_SHARED_STRING_H_
#define VINTREL_BASE_SHARED_STRING_H_

#include <cstdint>

class CStringBufferA;

// A plain stored string: one pointer to NUL-terminated narrow text. Empty, it points to a shared
// static empty text (never null). Otherwise it points 8 bytes into a heap block of length + 9
// bytes: u32 capacity (length + 1 when allocated), u32 length, the text and its NUL. The string
// owns its block; it is not copyable.
class SharedString {
 public:
  SharedString();
  ~SharedString();
  SharedString(const SharedString&) = delete;
  SharedString& operator=(const SharedString&) = delete;

  // Prepares the string for a text of len characters and sets its length to len. Reuses the
  // block when len + 1 is less than its capacity. Returns true when the caller may copy len + 1
  // bytes to Data(); false (string left empty) when the block cannot be allocated, when len + 9
  // does not fit in 32 bits, or when len is 0 and the old block was too small (it is freed).
  bool ReserveLength(uint32_t len);

  // Copies a NUL-terminated text; a null text empties the string. On allocation failure the
  // string is left empty. The text may be the string's own text or a tail of it.
  void Assign(const char* text);
  // Copies the buffer's text; a buffer whose data is null counts as the empty text.
  void Assign(const CStringBufferA& buffer);

  // Frees the block and returns to the empty state.
  void Release();

  const char* Text() const { return text_; }
  char* Data() { return text_; }
  bool IsEmpty() const;
  // Length and capacity from the block header; 0 in the empty state.
  uint32_t Length() const;
  uint32_t Capacity() const;

 private:
  char* text_;
};

#endif  // VINTREL_BASE_SHARED_STRING_H_
