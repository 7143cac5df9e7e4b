#include "json/json_edit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct DropCase {
  const char* text;
  std::vector<uint8_t> drop;
  const char* expected;
};

TEST(JsonEdit, DropsElementsAndKeepsEverythingElse) {
  const DropCase cases[] = {
      {"{\"files\": [\n  {\"a\": 1},\n  {\"b\": [2, {}]},\n  \"c\"\n], \"x\": 1.50}\n",
       {0, 1, 0},
       "{\"files\": [\n  {\"a\": 1},\n  \"c\"\n], \"x\": 1.50}\n"},
      {"{\"files\": [\n  {\"a\": 1},\n  {\"b\": 2},\n  \"c\"\n]}",
       {1, 0, 1},
       "{\"files\": [\n  {\"b\": 2}\n]}"},
      {"{\"files\": [1, 2]}", {1, 1}, "{\"files\": []}"},
      {"{\"files\": [1, 2,]}", {0, 1}, "{\"files\": [1,]}"},
      // The first member of that name is the one; a key may be written with escapes.
      {"{\"upak\": \"m\", \"fil\\u0065s\": [1, 2], \"files\": [3]}",
       {1, 0},
       "{\"upak\": \"m\", \"fil\\u0065s\": [2], \"files\": [3]}"},
  };
  for (const DropCase& c : cases) {
    JsonArraySpans spans;
    ASSERT_TRUE(find_member_array(c.text, "files", &spans)) << c.text;
    ASSERT_EQ(spans.elements.count(), c.drop.size()) << c.text;
    ByteBuffer out;
    ASSERT_TRUE(drop_array_elements(c.text, static_cast<uint32_t>(std::strlen(c.text)), spans,
                                    c.drop.data(), out));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data()), out.length()), c.expected);
  }
  JsonArraySpans spans;
  for (const char* text : {"[1]", "{\"files\": 3}", "{\"other\": []}", "{\"files\": [1"}) {
    EXPECT_FALSE(find_member_array(text, "files", &spans)) << text;
  }
}

}  // namespace
