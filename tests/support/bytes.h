// Byte strings and little-endian coding for the test-support library. The support library is
// the independent side that checks the tool's files, so it shares no code with src/.
#ifndef VINTREL_TESTS_SUPPORT_BYTES_H_
#define VINTREL_TESTS_SUPPORT_BYTES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vtest {

using Bytes = std::vector<uint8_t>;

// Appends the value little-endian, byte by byte.
void PutU8(Bytes& out, uint8_t value);
void PutU16(Bytes& out, uint16_t value);
void PutU32(Bytes& out, uint32_t value);
void PutU64(Bytes& out, uint64_t value);
void PutBytes(Bytes& out, const Bytes& bytes);
void PutText(Bytes& out, std::string_view text);  // the characters, no length, no NUL
// The characters of a text as bytes, no NUL: a vintrel.json to write, say.
Bytes TextBytes(std::string_view text);

// Overwrites bytes at `position`, which must leave room for the value (asserted).
void SetU32(Bytes& out, size_t position, uint32_t value);

// Bounded little-endian cursor. Every Read* returns false and leaves `position` unchanged when
// fewer bytes remain than the value needs.
class ByteCursor {
 public:
  ByteCursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit ByteCursor(const Bytes& bytes) : ByteCursor(bytes.data(), bytes.size()) {}

  bool ReadU8(uint8_t* value);
  bool ReadU16(uint16_t* value);
  bool ReadU32(uint32_t* value);
  bool ReadU64(uint64_t* value);
  bool ReadBytes(size_t count, Bytes* bytes);
  bool ReadText(size_t count, std::string* text);
  bool Skip(size_t count);

  size_t position() const { return position_; }
  size_t remaining() const { return size_ - position_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

// Little-endian value at `position` of `bytes`; 0 when it does not fit.
uint32_t GetU32(const Bytes& bytes, size_t position);
uint64_t GetU64(const Bytes& bytes, size_t position);

// Deterministic pseudo-random bytes (xorshift) that zlib compresses, but not to nothing: short
// runs of a small alphabet mixed with literal noise. Same seed, same bytes.
Bytes MakeData(size_t size, uint64_t seed);
// size characters that differ at every position of a block, so that a misplaced piece shows.
std::string PatternText(size_t size);

// Lower-case hex of the bytes, for test failure messages.
std::string Hex(const Bytes& bytes);

}  // namespace vtest

#endif  // VINTREL_TESTS_SUPPORT_BYTES_H_
