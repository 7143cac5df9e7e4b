#include "json/json_reader.h"

#include <clocale>
#include <cstdlib>
#include <cstring>

const TokenName TokenNameTable[14] = {
    {TokString, "string"}, {TokNumber, "number"}, {TokIdentifier, "identifier"},
    {TokEnd, "<EOF>"},     {TokObjectBegin, "{"}, {TokObjectEnd, "}"},
    {TokArrayBegin, "["},  {TokArrayEnd, "]"},    {TokColon, ":"},
    {TokComma, ","},       {TokTrue, "true"},     {TokFalse, "false"},
    {TokNull, "null"},     {-1, nullptr},
};

namespace {

bool IsWhite(uint32_t c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t'; }

bool IsDigit(uint32_t c) { return c >= '0' && c <= '9'; }

bool IsWordStart(uint32_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool IsWordChar(uint32_t c) { return IsWordStart(c) || IsDigit(c); }

// Appends n bytes to a buffer and keeps it NUL-terminated. False when it cannot grow.
bool AppendBytes(CStringBufferA& buffer, const char* bytes, int32_t n) {
  const int32_t length = buffer.Length();
  if (n > INT32_MAX - 1 - length) return false;
  if (length + n + 1 > buffer.Capacity() && !buffer.Reserve(length + n + 1)) return false;
  std::memcpy(buffer.Data() + length, bytes, static_cast<size_t>(n));
  buffer.Data()[length + n] = 0;
  buffer.SetLength(length + n);
  return true;
}

bool AppendText(CStringBufferA& buffer, const char* text) {
  return AppendBytes(buffer, text, static_cast<int32_t>(std::strlen(text)));
}

// Empties a buffer without giving its block back.
void Empty(CStringBufferA& buffer) {
  buffer.SetLength(0);
  if (buffer.Capacity() > 0) buffer.Data()[0] = 0;
}

// value * 10 + digit, false when that exceeds 2^64 - 1.
bool AccumulateDigit(uint64_t* value, uint32_t digit) {
  if (*value > (UINT64_MAX - digit) / 10) return false;
  *value = *value * 10 + digit;
  return true;
}

// The decimal digits of value, most significant first, NUL-terminated; 21 bytes are enough.
void FormatDecimal(uint64_t value, char out[21]) {
  char reversed[20];
  int n = 0;
  do {
    reversed[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (int i = 0; i < n; ++i) out[i] = reversed[n - 1 - i];
  out[n] = 0;
}

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

bool number_parts_value(const NumberParts& parts, double* value) {
  TStringBufferA<128> text;
  char digits[21];
  bool ok = AppendText(text, parts.negative ? "-" : "+");
  FormatDecimal(parts.integer, digits);
  ok = ok && AppendText(text, digits);
  // The process may have switched LC_NUMERIC away from "C"; strtod reads the current locale's
  // point, so the text is written with that one.
  const char* point = std::localeconv()->decimal_point;
  ok = ok && AppendText(text, point != nullptr && point[0] != 0 ? point : ".");
  if (!parts.hasFraction) {
    ok = ok && AppendText(text, "0");
  } else {
    for (uint32_t i = 0; ok && i < parts.fractionZeros; ++i) ok = AppendText(text, "0");
    if (parts.fraction != 0) {
      FormatDecimal(parts.fraction, digits);
      ok = ok && AppendText(text, digits);
    }
  }
  ok = ok && AppendText(text, parts.exponent < 0 ? "E-" : "E");
  // The lexer never produces INT32_MIN, but the magnitude is taken in 64 bits all the same.
  const int64_t exponent = parts.exponent;
  FormatDecimal(static_cast<uint64_t>(exponent < 0 ? -exponent : exponent), digits);
  ok = ok && AppendText(text, digits);
  if (!ok) return false;
  *value = std::strtod(text.Data(), nullptr);
  return true;
}

uint32_t utf8_decode(const char* text, uint32_t* codePoint) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  *codePoint = 0;
  const unsigned char lead = p[0];
  if (lead < 0x80) {
    *codePoint = lead;
    return lead == 0 ? 0 : 1;
  }
  uint32_t length;
  uint32_t value;
  uint32_t minimum;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    value = lead & 0x1F;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    value = lead & 0x0F;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    value = lead & 0x07;
    minimum = 0x10000;
  } else {
    return 0;  // a continuation byte or F8-FF
  }
  // Each byte is checked before the next is read, so the NUL at the end stops the walk.
  for (uint32_t i = 1; i < length; ++i) {
    if (!IsContinuation(p[i])) return 0;
    value = (value << 6) | (p[i] & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *codePoint = value;
  return length;
}

uint32_t utf8_encode(uint32_t codePoint, char out[4]) {
  if (codePoint < 0x80) {
    out[0] = static_cast<char>(codePoint);
    return 1;
  }
  if (codePoint < 0x800) {
    out[0] = static_cast<char>(0xC0 | (codePoint >> 6));
    out[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 2;
  }
  if (codePoint < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (codePoint >> 12));
    out[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 3;
  }
  if (codePoint <= 0x10FFFF) {
    out[0] = static_cast<char>(0xF0 | (codePoint >> 18));
    out[1] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 4;
  }
  return 0;
}

JsonReader::JsonReader() : position_(nullptr), number_() { position_ = text_.Data(); }

bool JsonReader::Start(const char* text) {
  if (text == nullptr) text = "";
  if (std::strlen(text) > static_cast<size_t>(INT32_MAX - 1)) return false;
  if (text_.Assign(text) == nullptr) return false;
  position_ = text_.Data();
  tokenStart_ = position_;
  error_ = nullptr;
  errorAt_ = nullptr;
  return true;
}

bool JsonReader::Fail(JsonToken token, const char* expected) {
  if (error_ != nullptr) return false;
  errorAt_ = tokenStart_;
  if (token == TokInvalid) {
    const char first = *tokenStart_;
    if (first == '"') {
      error_ = "a string is not closed, or holds an escape that is not valid";
    } else if (first == '+' || first == '-' || (first >= '0' && first <= '9')) {
      error_ = "a number is malformed or too large";
    } else {
      error_ = "unexpected character";
    }
  } else if (token == TokEnd && *tokenStart_ != 0) {
    error_ = "the text is not valid UTF-8 here";
  } else {
    error_ = expected;
  }
  return false;
}

JsonError JsonReader::Error() const {
  JsonError error;
  if (error_ == nullptr) return error;
  error.what = error_;
  error.line = 1;
  error.column = 1;
  for (const char* p = text_.Data(); p < errorAt_; ++p) {
    if (*p == '\n') {
      ++error.line;
      error.column = 1;
    } else if ((static_cast<unsigned char>(*p) & 0xC0) != 0x80) {
      ++error.column;
    }
  }
  return error;
}

// An undecodable sequence reads as 0, the end of the text, and the position stays on it, so
// every later read sees the end as well.
uint32_t JsonReader::ReadChar() {
  uint32_t c;
  position_ += utf8_decode(position_, &c);
  return c;
}

uint32_t JsonReader::PeekChar() const {
  uint32_t c;
  utf8_decode(position_, &c);
  return c;
}

JsonToken JsonReader::NextToken() {
  uint32_t c;
  do {
    tokenStart_ = position_;
    c = ReadChar();
  } while (IsWhite(c));
  switch (c) {
    case 0:
      return TokEnd;
    case '"':
      return ReadString();
    case ',':
      return TokComma;
    case ':':
      return TokColon;
    case '[':
      return TokArrayBegin;
    case ']':
      return TokArrayEnd;
    case '{':
      return TokObjectBegin;
    case '}':
      return TokObjectEnd;
    default:
      break;
  }
  if (c == '+' || c == '-' || IsDigit(c)) return ReadNumber(c);
  return ReadWord(c);
}

JsonToken JsonReader::ReadString() {
  Empty(string_);
  for (;;) {
    // A run of plain ASCII characters is copied at once; only quotes, escapes, control bytes and
    // bytes of multi-byte sequences go the long way.
    const char* run = position_;
    while (*position_ >= 0x20 && *position_ < 0x7F && *position_ != '"' && *position_ != '\\') {
      ++position_;
    }
    if (position_ != run && !AppendBytes(string_, run, static_cast<int32_t>(position_ - run))) {
      return TokInvalid;
    }
    uint32_t c = ReadChar();
    if (c == 0) return TokInvalid;
    if (c == '"') return TokString;
    if (c == '\\' && !ReadEscape(&c)) return TokInvalid;
    char bytes[4];
    const uint32_t n = utf8_encode(c, bytes);
    if (!AppendBytes(string_, bytes, static_cast<int32_t>(n))) return TokInvalid;
  }
}

bool JsonReader::ReadEscape(uint32_t* codePoint) {
  const uint32_t c = ReadChar();
  switch (c) {
    case 0:
    case '\n':
      return false;
    case 'b':
      *codePoint = 8;
      return true;
    case 'f':
      *codePoint = 12;
      return true;
    case 'n':
      *codePoint = 10;
      return true;
    case 'r':
      *codePoint = 13;
      return true;
    case 't':
      *codePoint = 9;
      return true;
    case 'u':
      break;
    default:
      *codePoint = c;  // the quote, the backslash and every other character stand for themselves
      return true;
  }
  uint32_t unit;
  if (!ReadHex4(&unit)) return false;
  if (unit < 0xD800 || unit > 0xDBFF) {
    *codePoint = unit;
    return true;
  }
  // The low half: a second "\u" escape, or four digits directly after the high half's.
  if (PeekChar() == '\\') {
    ReadChar();
    if (ReadChar() != 'u') return false;
  }
  uint32_t low;
  if (!ReadHex4(&low) || low < 0xDC00 || low > 0xDFFF) return false;
  *codePoint = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
  return true;
}

bool JsonReader::ReadHex4(uint32_t* unit) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    const uint32_t c = ReadChar();
    uint32_t digit;
    if (IsDigit(c)) {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    value = (value << 4) | digit;
  }
  *unit = value;
  return true;
}

JsonToken JsonReader::ReadNumber(uint32_t first) {
  number_ = NumberParts();
  uint32_t c = first;
  if (c == '+' || c == '-') {
    number_.negative = c == '-';
    c = ReadChar();
    if (!IsDigit(c)) return TokInvalid;
  }
  number_.integer = c - '0';
  for (;;) {
    c = PeekChar();
    if (IsDigit(c)) {
      ReadChar();
      if (!AccumulateDigit(&number_.integer, c - '0')) return TokInvalid;
    } else if (c == '.') {
      ReadChar();
      return ReadFraction();
    } else if (c == 'e' || c == 'E') {
      ReadChar();
      return ReadExponent();
    } else {
      return TokNumber;  // the end, white space or another token's first character
    }
  }
}

JsonToken JsonReader::ReadFraction() {
  uint32_t c = ReadChar();
  if (IsWhite(c)) return TokNumber;
  number_.hasFraction = true;
  for (;;) {
    if (!IsDigit(c)) return TokInvalid;
    const uint32_t digit = c - '0';
    // Leading zeros are counted, not accumulated, so that they do not count against the limit.
    if (number_.fraction == 0 && digit == 0) {
      ++number_.fractionZeros;
    } else if (!AccumulateDigit(&number_.fraction, digit)) {
      return TokInvalid;
    }
    c = PeekChar();
    if (c == 'e' || c == 'E') {
      ReadChar();
      return ReadExponent();
    }
    if (!IsDigit(c)) return TokNumber;
    ReadChar();
  }
}

JsonToken JsonReader::ReadExponent() {
  uint32_t c = ReadChar();
  bool negative = false;
  if (c == '-') {
    negative = true;
    c = ReadChar();
  } else if (c == '+') {
    c = ReadChar();
  }
  if (!IsDigit(c)) return TokInvalid;
  int32_t exponent = static_cast<int32_t>(c - '0');
  for (c = PeekChar(); IsDigit(c); c = PeekChar()) {
    ReadChar();
    const int32_t digit = static_cast<int32_t>(c - '0');
    if (exponent > (INT32_MAX - digit) / 10) return TokInvalid;
    exponent = exponent * 10 + digit;
  }
  number_.exponent = negative ? -exponent : exponent;
  return TokNumber;
}

JsonToken JsonReader::ReadWord(uint32_t first) {
  if (!IsWordStart(first)) return TokInvalid;
  Empty(word_);
  char c = static_cast<char>(first);
  if (!AppendBytes(word_, &c, 1)) return TokInvalid;
  // The character after the word is left for the next token.
  while (IsWordChar(PeekChar())) {
    c = static_cast<char>(ReadChar());
    if (!AppendBytes(word_, &c, 1)) return TokInvalid;
  }
  for (const TokenName* row = TokenNameTable; row->name != nullptr; ++row) {
    if (std::strcmp(row->name, word_.Data()) == 0) return static_cast<JsonToken>(row->kind);
  }
  return TokIdentifier;
}

bool JsonReader::ReadValue(JsonToken token, JsonValue* value, int32_t depth) {
  switch (token) {
    case TokString: {
      const char* text = string_.Data();
      value->SetString(text);
      // A copy that could not be allocated leaves "" behind; that is a failure, not a value.
      if (value->type == JsonType::String && (text[0] == 0 || value->Text()[0] != 0)) return true;
      return Fail(token, "out of memory");
    }
    case TokNumber: {
      double number;
      if (!number_parts_value(number_, &number)) return Fail(token, "out of memory");
      value->SetNumber(number);
      return true;
    }
    case TokObjectBegin:
      if (depth >= kJsonMaxDepth) return Fail(token, "nested deeper than 512 levels");
      if (!value->SetType(JsonType::Object)) return Fail(token, "out of memory");
      return ReadObjectBody(value, depth + 1);
    case TokArrayBegin:
      if (depth >= kJsonMaxDepth) return Fail(token, "nested deeper than 512 levels");
      if (!value->SetType(JsonType::Array)) return Fail(token, "out of memory");
      return ReadArrayBody(value, depth + 1);
    case TokTrue:
      value->SetBool(true);
      return true;
    case TokFalse:
      value->SetBool(false);
      return true;
    case TokNull:
      return true;
    default:
      return Fail(token, "expected a value");
  }
}

bool JsonReader::ReadObjectBody(JsonValue* object, int32_t depth) {
  JsonToken token = NextToken();
  for (;;) {
    if (token == TokObjectEnd) return true;
    if (token != TokString) return Fail(token, "expected a key string or '}'");
    JsonRef member = NewValue();
    if (!member) return Fail(token, "out of memory");
    // The member is attached before it is filled. A member that cannot be stored, or whose key
    // cannot be interned (it could never be found), fails the document rather than vanish.
    if (!object->AddMember(string_.Data(), member) || object->payload.list->tail->key == nullptr) {
      return Fail(token, "out of memory");
    }
    token = NextToken();
    if (token != TokColon) return Fail(token, "expected ':'");
    if (!ReadValue(NextToken(), member.Get(), depth)) return false;
    member.Release();
    token = NextToken();
    if (token == TokObjectEnd) return true;
    if (token != TokComma) return Fail(token, "expected ',' or '}'");
    token = NextToken();
  }
}

bool JsonReader::ReadArrayBody(JsonValue* array, int32_t depth) {
  JsonToken token = NextToken();
  for (;;) {
    if (token == TokArrayEnd) return true;
    if (token == TokInvalid || token == TokEnd) return Fail(token, "expected a value or ']'");
    JsonRef element = NewValue();
    if (!element || !array->Append(element)) return Fail(token, "out of memory");
    const bool ok = ReadValue(token, element.Get(), depth);
    element.Release();
    if (!ok) return false;
    token = NextToken();
    if (token == TokArrayEnd) return true;
    if (token != TokComma) return Fail(token, "expected ',' or ']'");
    token = NextToken();
  }
}

JsonRef JsonReader::ParseDocument() {
  JsonRef root;
  bool ok = false;
  const JsonToken token = NextToken();
  switch (token) {
    case TokObjectBegin:
      root = NewObject();
      ok = root ? ReadObjectBody(root.Get(), 1) : Fail(token, "out of memory");
      break;
    case TokArrayBegin:
      root = NewArray();
      ok = root ? ReadArrayBody(root.Get(), 1) : Fail(token, "out of memory");
      break;
    default:
      Fail(token, "expected '{' or '[' to begin the document");
      break;
  }
  if (!ok) root.Release();
  return root;
}

JsonRef JsonParse(const char* text) {
  JsonError ignored;
  return JsonParse(text, &ignored);
}

JsonRef JsonParse(const char* text, JsonError* error) {
  JsonReader reader;
  if (!reader.Start(text)) {
    error->what = "out of memory";
    return JsonRef();
  }
  JsonRef document = reader.ParseDocument();
  if (!document) *error = reader.Error();
  return document;
}
