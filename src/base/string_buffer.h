#ifndef VINTREL_BASE_STRING_BUFFER_H_
#define VINTREL_BASE_STRING_BUFFER_H_

#include <cstdint>

#if defined(__GNUC__) || defined(__clang__)
#define VINTREL_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VINTREL_PRINTF_FORMAT(fmt, args)
#endif

// A growable narrow-character working buffer whose text is NUL-terminated at all times. Empty, it
// points to a shared static empty text. Grows in powers of two through the allocation hooks.
class CStringBufferA {
 public:
  CStringBufferA();
  virtual ~CStringBufferA();
  CStringBufferA(const CStringBufferA&) = delete;
  CStringBufferA& operator=(const CStringBufferA&) = delete;

  // Makes room for n characters including the NUL, keeping the text; a new block has the next
  // power of two of n. Returns false, with the buffer unchanged, when the heap cannot supply the
  // block or n exceeds 2^30 (the largest power of two a capacity can hold).
  virtual bool Reserve(int32_t n);
  // freeBlock true: give the block back and return to the empty state. false: keep the block and
  // make the text empty.
  virtual void Release(bool freeBlock);

  // printf-style formatting into the buffer. Returns the new length (0 for an empty result, which
  // keeps the block); -1 when the C library reports an encoding error or the buffer cannot grow
  // to hold the result (the text is then empty). Arguments must not point into the buffer.
  int32_t Format(const char* format, ...) VINTREL_PRINTF_FORMAT(2, 3);
  // Copies a NUL-terminated text (null empties the buffer, keeping the block). Returns Data(), or
  // null when the buffer cannot grow (the buffer is then unchanged). The text may be a tail of
  // the buffer's own text.
  const char* Assign(const char* text);

  const char* Data() const { return data_; }
  char* Data() { return data_; }
  int32_t Capacity() const { return capacity_; }
  int32_t Length() const { return length_; }
  void SetLength(int32_t length) { length_ = length; }

 protected:
  // The Reserve of the base class, shared by the inline variant when it moves to the heap.
  bool ReserveHeap(int32_t n);
  // The Release of every TStringBufferA<N>: a text in inline storage returns to the empty state.
  void ReleaseWithInline(const char* inlineText, bool freeBlock);
  bool ReserveWithInline(int32_t n, char* inlineText, int32_t inlineSize);
  bool IsHeapBlock(const char* inlineText) const;

  char* data_;
  int32_t capacity_;
  int32_t length_;
};

// A string buffer that keeps texts of up to N characters (the NUL included) inside the object and
// moves to a heap block, keeping its text, when asked for more. It starts in the empty state, not
// inline; while inline, Capacity() is the size last asked of Reserve (at least 1, at most N).
// Release of an inline text returns to the empty state whatever freeBlock says.
template <int32_t N>
class TStringBufferA : public CStringBufferA {
 public:
  TStringBufferA() = default;
  ~TStringBufferA() override {
    if (!IsHeapBlock(inlineText_)) data_ = nullptr;  // the base destructor frees heap blocks only
  }

  bool Reserve(int32_t n) override { return ReserveWithInline(n, inlineText_, N); }
  void Release(bool freeBlock) override { ReleaseWithInline(inlineText_, freeBlock); }

  bool IsInline() const { return data_ == inlineText_; }

 private:
  char inlineText_[N];
};

// Paths are formatted into buffers that hold up to 260 characters and the NUL inline, as the
// system's own path buffers do; longer paths move to the heap.
constexpr int32_t kPathInline = 261;
using PathBuffer = TStringBufferA<kPathInline>;

#endif  // VINTREL_BASE_STRING_BUFFER_H_
