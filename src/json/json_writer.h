#ifndef VINTREL_JSON_JSON_WRITER_H_
#define VINTREL_JSON_JSON_WRITER_H_

#include <cstdint>

#include "base/byte_buffer.h"

// Writes one JSON document front to back into a ByteBuffer, for programs that print JSON. The
// writer places the commas and the layout: the members of the outermost container, and the
// elements of every array nested directly in a container laid out that way, each go on a line of
// their own, indented by two spaces a level; everything inside them stays on one line. So a list
// of records prints one record per line. A finished document ends with a line end.
//
// Strings are written as valid UTF-8 whatever their bytes: '"', '\' and the control characters
// (DEL included) are escaped; bytes of 0x80 and above pass through where they form well-formed
// UTF-8, and any other byte is read as Latin-1, becoming the "\u00XX" escape of its own value.
// A name in the game's code page (say "\xE9t\xE9") therefore shows as the characters it most
// likely means, though such a string cannot be told apart from the same characters written in
// UTF-8.
//
// The caller keeps the grammar: a Key before each value inside an object, none inside an array.
class JsonWriter {
 public:
  // Containers nested deeper than this make the writer fail.
  static constexpr uint32_t kMaxDepth = 16;

  explicit JsonWriter(ByteBuffer& out);
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  // The key of the next member of the open object.
  void Key(const char* key);

  void String(const char* text);
  void String(const uint8_t* bytes, uint32_t length);
  // The bytes as a string of lower-case hexadecimal digits, two per byte.
  void HexString(const uint8_t* bytes, uint32_t length);
  void Uint(uint64_t value);
  void Bool(bool value);
  void Null();

  // False once an append failed for want of memory or the nesting went deeper than kMaxDepth;
  // the document is then incomplete.
  bool ok() const { return ok_; }

 private:
  struct Level {
    bool ownLines = false;  // each member or element on a line of its own
    uint32_t count = 0;
  };

  void BeforeValue();
  void Begin(bool array, char bracket);
  void End(char bracket);
  void Append(const void* bytes, uint32_t length);
  void Append(char c) { Append(&c, 1); }
  void NewLine(uint32_t depth);
  void Quoted(const uint8_t* bytes, uint32_t length);

  ByteBuffer& out_;
  ByteWriter writer_;
  Level levels_[kMaxDepth];
  uint32_t depth_ = 0;
  bool afterKey_ = false;
  bool ok_ = true;
};

#endif  // VINTREL_JSON_JSON_WRITER_H_
