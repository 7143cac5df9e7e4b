#ifndef VINTREL_JSON_JSON_READER_H_
#define VINTREL_JSON_JSON_READER_H_

#include <cstdint>

#include "base/string_buffer.h"
#include "json/json_value.h"

// Parses a NUL-terminated UTF-8 text (null reads as the empty text) into a tree of JsonValues.
// The result is the top-level Object or Array, or an empty handle on any failure: a lexical or
// grammatical error, nesting deeper than kJsonMaxDepth, or an exhausted pool or heap. Nothing
// after the top level's closing bracket is read.
//
// Liberties taken beyond standard JSON: a leading "+" and leading zeros on numbers, a comma
// before a closing bracket, raw control characters (line breaks included) inside strings, a
// backslash before any character standing for that character, the low surrogate of a "\u" pair
// written either as a second "\u" escape or as four hexadecimal digits directly after the high
// surrogate's, and the bare words "string" and "number" standing for the most recent string
// literal and number.
JsonRef JsonParse(const char* text);

// Where and why a parse failed: the position of the token at which the reader gave up (line and
// column counted from 1, a column being one character of UTF-8) and what it expected there or
// found wrong ("expected ',' or '}'").
struct JsonError {
  uint32_t line = 0;
  uint32_t column = 0;
  const char* what = "";
};

// JsonParse that also says where and why it failed.
JsonRef JsonParse(const char* text, JsonError* error);

// Objects and arrays nested deeper than this fail the parse, so that no input exhausts the stack.
constexpr int32_t kJsonMaxDepth = 512;

enum JsonToken : int32_t {
  TokInvalid = 1,
  TokString = 2,
  TokNumber = 3,
  TokIdentifier = 4,
  TokEnd = 5,
  TokObjectBegin = 6,
  TokObjectEnd = 7,
  TokArrayBegin = 8,
  TokArrayEnd = 9,
  TokColon = 10,
  TokComma = 11,
  TokTrue = 12,
  TokFalse = 13,
  TokNull = 14,
};

struct TokenName {
  int32_t kind;
  const char* name;
};

// The tokens' names, TokString to TokNull in code order, closed by {-1, null}. Also the keyword
// table of bare words.
extern const TokenName TokenNameTable[14];

// The parts of a number as written. The fraction's digits are kept as their count of leading
// zeros followed by the value of the rest, which must fit in 64 bits.
struct NumberParts {
  bool negative;
  uint64_t integer;
  bool hasFraction;  // false when no digit follows the point
  uint32_t fractionZeros;
  uint64_t fraction;
  int32_t exponent;
};

// The double for sign, integer, ".", the fraction's digits as written ("0" when none), "E" and
// the exponent, as strtod converts that text. The text is written with the decimal point of the
// current C locale, so the result does not depend on it. False when no memory is left for the
// text (only a fraction with a great many leading zeros needs the heap).
bool number_parts_value(const NumberParts& parts, double* value);

// Decodes the character at text. Returns the number of bytes it takes (1 to 4) and stores its
// code point; returns 0 and stores 0 at the terminating NUL and at any sequence that is not
// well-formed, shortest-form UTF-8 of a scalar value (no surrogates, nothing above 10FFFF).
// Never reads past the first byte that is not a continuation byte.
uint32_t utf8_decode(const char* text, uint32_t* codePoint);

// Writes the UTF-8 form of codePoint (surrogate values included, as three bytes) to out and
// returns its length, 1 to 4; 0 for values above 10FFFF.
uint32_t utf8_encode(uint32_t codePoint, char out[4]);

// The tokenizer and parser state of one JsonParse call; exposed for tests.
class JsonReader {
 public:
  JsonReader();
  JsonReader(const JsonReader&) = delete;
  JsonReader& operator=(const JsonReader&) = delete;

  // Copies the text and starts at its beginning. False when the copy cannot be made.
  bool Start(const char* text);
  // Reads the next token. After TokString, StringText() holds the literal's text; after
  // TokNumber, Number() holds its parts.
  JsonToken NextToken();
  // Reads the document's top level (the first token onward).
  JsonRef ParseDocument();

  const char* StringText() const { return string_.Data(); }
  // Where the token last read lies in the text: the offset of its first byte, and of the byte
  // after it (white space after a number that ends in "." included).
  uint32_t TokenStart() const { return static_cast<uint32_t>(tokenStart_ - text_.Data()); }
  uint32_t TokenEnd() const { return static_cast<uint32_t>(position_ - text_.Data()); }
  const NumberParts& Number() const { return number_; }
  // After a failed ParseDocument: where and why.
  JsonError Error() const;

 private:
  // Records the first failure of a parse, at the token just read; always false.
  bool Fail(JsonToken token, const char* expected);

  uint32_t ReadChar();
  uint32_t PeekChar() const;

  JsonToken ReadString();
  bool ReadEscape(uint32_t* codePoint);
  bool ReadHex4(uint32_t* unit);
  JsonToken ReadNumber(uint32_t first);
  JsonToken ReadFraction();
  JsonToken ReadExponent();
  JsonToken ReadWord(uint32_t first);

  bool ReadObjectBody(JsonValue* object, int32_t depth);
  bool ReadArrayBody(JsonValue* array, int32_t depth);
  bool ReadValue(JsonToken token, JsonValue* value, int32_t depth);

  CStringBufferA text_;
  const char* position_;
  const char* tokenStart_ = nullptr;  // the first character of the token last read
  const char* error_ = nullptr;
  const char* errorAt_ = nullptr;
  TStringBufferA<128> string_;
  TStringBufferA<128> word_;
  NumberParts number_;
};

#endif  // VINTREL_JSON_JSON_READER_H_
