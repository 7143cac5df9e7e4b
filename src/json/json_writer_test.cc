#include "json/json_writer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Text(const ByteBuffer& buffer) {
  return std::string(reinterpret_cast<const char*>(buffer.data()), buffer.length());
}

std::string Quoted(const std::string& bytes) {
  ByteBuffer out;
  JsonWriter json(out);
  json.String(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()));
  EXPECT_TRUE(json.ok());
  return Text(out);
}

TEST(JsonWriter, EscapesWhatJsonAndTerminalsRequire) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain", "\"plain\""},
      {"q\"b\\s/", "\"q\\\"b\\\\s/\""},
      {"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
      {std::string("\0\x1b\x7f", 3), "\"\\u0000\\u001b\\u007f\""},
      {"caf\xC3\xA9 \xE2\x82\xAC", "\"caf\xC3\xA9 \xE2\x82\xAC\""},  // UTF-8 passes through
      {"\xE9t\xE9", "\"\\u00e9t\\u00e9\""},                          // Latin-1 is escaped
      {"\xC3", "\"\\u00c3\""},                                       // a cut sequence too
      {"\xED\xA0\x80", "\"\\u00ed\\u00a0\\u0080\""},                 // and a surrogate
  };
  for (const auto& c : cases) EXPECT_EQ(Quoted(c.in), c.out) << c.in;
}

TEST(JsonWriter, PutsTheRootsMembersAndTheirArraysElementsOnLinesOfTheirOwn) {
  ByteBuffer out;
  JsonWriter json(out);
  json.BeginObject();
  json.Key("list");
  json.BeginArray();
  json.BeginObject();
  json.Key("id");
  json.HexString(reinterpret_cast<const uint8_t*>("\x01\xAB"), 2);
  json.Key("size");
  json.Uint(18446744073709551615ull);
  json.Key("tags");
  json.BeginArray();
  json.Bool(true);
  json.Bool(false);
  json.EndArray();
  json.EndObject();
  json.Null();
  json.EndArray();
  json.Key("empty");
  json.BeginArray();
  json.EndArray();
  json.Key("zero");
  json.Uint(0);
  json.EndObject();
  ASSERT_TRUE(json.ok());
  EXPECT_EQ(Text(out),
            "{\n"
            "  \"list\": [\n"
            "    {\"id\": \"01ab\", \"size\": 18446744073709551615, \"tags\": [true, false]},\n"
            "    null\n"
            "  ],\n"
            "  \"empty\": [],\n"
            "  \"zero\": 0\n"
            "}\n");
}

TEST(JsonWriter, FailsBeyondItsDepthAndOnAnUnmatchedEnd) {
  ByteBuffer deep;
  JsonWriter tooDeep(deep);
  for (uint32_t i = 0; i <= JsonWriter::kMaxDepth; ++i) tooDeep.BeginArray();
  EXPECT_FALSE(tooDeep.ok());

  ByteBuffer unmatched;
  JsonWriter extraEnd(unmatched);
  extraEnd.EndObject();
  EXPECT_FALSE(extraEnd.ok());
}

}  // namespace
