#include "json/json_edit.h"

#include <cstring>

#include "json/json_reader.h"

namespace {

// Reads past the value that begins with token, nested containers included. False when the text
// ends first or holds a token no value may.
bool skip_value(JsonReader& reader, JsonToken token) {
  if (token != TokObjectBegin && token != TokArrayBegin) {
    return token == TokString || token == TokNumber || token == TokIdentifier || token == TokTrue ||
           token == TokFalse || token == TokNull;
  }
  // Brackets are counted rather than matched: the document was read whole by JsonParse already,
  // and counting needs no stack, however deep the nesting.
  uint32_t depth = 1;
  while (depth != 0) {
    const JsonToken next = reader.NextToken();
    if (next == TokObjectBegin || next == TokArrayBegin) {
      ++depth;
    } else if (next == TokObjectEnd || next == TokArrayEnd) {
      --depth;
    } else if (next == TokEnd || next == TokInvalid) {
      return false;
    }
  }
  return true;
}

// The elements of the array whose '[' was just read, up to its ']'.
bool read_elements(JsonReader& reader, JsonArraySpans* spans) {
  spans->array.begin = reader.TokenStart();
  for (;;) {
    JsonToken token = reader.NextToken();
    if (token == TokArrayEnd) break;
    JsonSpan element;
    element.begin = reader.TokenStart();
    if (!skip_value(reader, token)) return false;
    element.end = reader.TokenEnd();
    if (!spans->elements.Append(element)) return false;
    token = reader.NextToken();
    if (token == TokArrayEnd) break;
    if (token != TokComma) return false;
  }
  spans->array.end = reader.TokenStart();
  return true;
}

bool append(ByteBuffer& out, const char* text, uint32_t begin, uint32_t end) {
  return ByteWriter(out).write_bytes(text + begin, end - begin);
}

}  // namespace

bool find_member_array(const char* text, const char* key, JsonArraySpans* spans) {
  spans->elements.Clear();
  JsonReader reader;
  if (!reader.Start(text) || reader.NextToken() != TokObjectBegin) return false;
  for (;;) {
    JsonToken token = reader.NextToken();
    if (token != TokString) return false;  // the end of the object, or no key
    const bool wanted = std::strcmp(reader.StringText(), key) == 0;
    if (reader.NextToken() != TokColon) return false;
    token = reader.NextToken();
    if (wanted) return token == TokArrayBegin && read_elements(reader, spans);
    if (!skip_value(reader, token)) return false;
    if (reader.NextToken() != TokComma) return false;
  }
}

bool drop_array_elements(const char* text, uint32_t length, const JsonArraySpans& spans,
                         const uint8_t* drop, ByteBuffer& out) {
  out.resize(0);
  const TArray<JsonSpan>& elements = spans.elements;
  const uint32_t count = elements.count();
  uint32_t kept = 0;
  for (uint32_t i = 0; i < count; ++i) kept += drop[i] == 0;
  if (kept == 0) {
    return append(out, text, 0, spans.array.begin + 1) &&
           append(out, text, spans.array.end, length);
  }
  // Each kept element comes with the separator that stood before it, the first with what stood
  // before the first element; after the last comes what followed the last element.
  bool first = true;
  for (uint32_t i = 0; i < count; ++i) {
    if (drop[i] != 0) continue;
    const uint32_t from = first ? 0 : elements[i - 1].end;
    const uint32_t before = first ? elements[0].begin : elements[i].begin;
    if (!append(out, text, from, before) ||
        !append(out, text, elements[i].begin, elements[i].end)) {
      return false;
    }
    first = false;
  }
  return append(out, text, elements[count - 1].end, length);
}
