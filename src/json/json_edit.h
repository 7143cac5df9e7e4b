#ifndef VINTREL_JSON_JSON_EDIT_H_
#define VINTREL_JSON_JSON_EDIT_H_

// Edits of a JSON document as text: what is not edited keeps its bytes, so that a person's layout,
// key order, spelling of numbers and keys the program does not know all stay as they were.

#include <cstdint>

#include "base/array.h"
#include "base/byte_buffer.h"

// Where something lies in a text: the offsets of its first byte and of the byte after it.
struct JsonSpan {
  uint32_t begin = 0;
  uint32_t end = 0;
};

// The elements of an array that is the value of a member of a document's top-level object.
struct JsonArraySpans {
  JsonSpan array;             // from its '[' to the ']' (begin of each)
  TArray<JsonSpan> elements;  // each element's first token to the end of its last
};

// Finds, in the NUL-terminated text of a document that JsonParse reads, the first member of the
// top-level object named key, and when its value is an array, where it and each element lie.
// False when the text is no object, has no such member, its value is not an array, or memory runs
// out.
bool find_member_array(const char* text, const char* key, JsonArraySpans* spans);

// Writes into out the length bytes of text with the elements of spans for which drop[i] is
// nonzero taken out, each with the separator before it (after it, for the first), so that the
// rest keep their layout: "[\n  a,\n  b\n]" without a is "[\n  b\n]". An array left empty
// becomes "[]". False when out of memory.
bool drop_array_elements(const char* text, uint32_t length, const JsonArraySpans& spans,
                         const uint8_t* drop, ByteBuffer& out);

#endif  // VINTREL_JSON_JSON_EDIT_H_
