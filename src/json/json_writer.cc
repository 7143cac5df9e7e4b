#include "json/json_writer.h"

#include <cstring>

#include "base/utf8.h"

namespace {

const char kHexDigits[] = "0123456789abcdef";

// The bytes that have a two-character escape, each followed by the letter that stands for it.
const char kShortEscapes[] = "\"\"\\\\\bb\ff\nn\rr\tt";

// The letter of b's two-character escape, or 0 when b has only the \u form.
char short_escape(uint8_t b) {
  for (const char* p = kShortEscapes; *p != '\0'; p += 2) {
    if (static_cast<uint8_t>(*p) == b) return p[1];
  }
  return 0;
}

}  // namespace

JsonWriter::JsonWriter(ByteBuffer& out) : out_(out), writer_(out) {}

void JsonWriter::Append(const void* bytes, uint32_t length) {
  if (ok_ && !(reserve_for_append(out_, length) && writer_.write_bytes(bytes, length))) ok_ = false;
}

void JsonWriter::NewLine(uint32_t depth) {
  Append('\n');
  for (uint32_t i = 0; i < depth; ++i) Append("  ", 2);
}

void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (depth_ == 0) return;
  Level& level = levels_[depth_ - 1];
  if (level.count != 0) Append(',');
  if (level.ownLines) {
    NewLine(depth_);
  } else if (level.count != 0) {
    Append(' ');
  }
  ++level.count;
}

void JsonWriter::Begin(bool array, char bracket) {
  BeforeValue();
  if (depth_ == kMaxDepth) {
    ok_ = false;
    return;
  }
  Level& level = levels_[depth_];
  level.ownLines = depth_ == 0 || (array && levels_[depth_ - 1].ownLines);
  level.count = 0;
  ++depth_;
  Append(bracket);
}

void JsonWriter::End(char bracket) {
  if (depth_ == 0) {
    ok_ = false;
    return;
  }
  const Level& level = levels_[--depth_];
  if (level.ownLines && level.count != 0) NewLine(depth_);
  Append(bracket);
  if (depth_ == 0) Append('\n');
}

void JsonWriter::BeginObject() { Begin(false, '{'); }
void JsonWriter::EndObject() { End('}'); }
void JsonWriter::BeginArray() { Begin(true, '['); }
void JsonWriter::EndArray() { End(']'); }

void JsonWriter::Key(const char* key) {
  BeforeValue();
  Quoted(reinterpret_cast<const uint8_t*>(key), static_cast<uint32_t>(std::strlen(key)));
  Append(": ", 2);
  afterKey_ = true;
}

void JsonWriter::String(const char* text) {
  String(reinterpret_cast<const uint8_t*>(text), static_cast<uint32_t>(std::strlen(text)));
}

void JsonWriter::String(const uint8_t* bytes, uint32_t length) {
  BeforeValue();
  Quoted(bytes, length);
}

void JsonWriter::Quoted(const uint8_t* bytes, uint32_t length) {
  Append('"');
  uint32_t i = 0;
  while (i < length) {
    // Runs of bytes that need no escape go out in one append.
    uint32_t run = i;
    while (run < length) {
      const uint8_t b = bytes[run];
      if (b < 0x20 || b == '"' || b == '\\' || b == 0x7F) break;
      if (b < 0x80) {
        ++run;
        continue;
      }
      const uint32_t sequence = utf8_sequence_length(bytes + run, length - run);
      if (sequence == 0) break;
      run += sequence;
    }
    Append(bytes + i, run - i);
    if (run == length) break;
    const uint8_t b = bytes[run];
    const char letter = short_escape(b);
    if (letter != 0) {
      const char escape[2] = {'\\', letter};
      Append(escape, 2);
    } else {
      const char escape[6] = {'\\', 'u', '0', '0', kHexDigits[b >> 4], kHexDigits[b & 0xF]};
      Append(escape, 6);
    }
    i = run + 1;
  }
  Append('"');
}

void JsonWriter::HexString(const uint8_t* bytes, uint32_t length) {
  BeforeValue();
  Append('"');
  char digits[128];
  uint32_t n = 0;
  for (uint32_t i = 0; i < length; ++i) {
    digits[n++] = kHexDigits[bytes[i] >> 4];
    digits[n++] = kHexDigits[bytes[i] & 0xF];
    if (n == sizeof(digits)) {
      Append(digits, n);
      n = 0;
    }
  }
  Append(digits, n);
  Append('"');
}

void JsonWriter::Uint(uint64_t value) {
  BeforeValue();
  char digits[20];
  uint32_t n = 0;
  do {
    digits[sizeof(digits) - ++n] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  Append(digits + sizeof(digits) - n, n);
}

void JsonWriter::Bool(bool value) {
  BeforeValue();
  if (value) {
    Append("true", 4);
  } else {
    Append("false", 5);
  }
}

void JsonWriter::Null() {
  BeforeValue();
  Append("null", 4);
}
