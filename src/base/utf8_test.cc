#include "base/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Utf8Case {
  const char* what;
  std::string bytes;
  uint32_t length;
};

TEST(Utf8, SequenceLengthOfEachForm) {
  const Utf8Case cases[] = {
      {"ASCII", "a", 1},
      {"NUL", std::string(1, '\0'), 1},
      {"two bytes", "\xC3\xA9", 2},
      {"three bytes", "\xE2\x82\xAC", 3},
      {"four bytes", "\xF0\x9F\x98\x80", 4},
      {"highest code point", "\xF4\x8F\xBF\xBF", 4},
      {"stray continuation", "\x80", 0},
      {"overlong two bytes", "\xC0\xAF", 0},
      {"overlong three bytes", "\xE0\x80\xAF", 0},
      {"overlong four bytes", "\xF0\x80\x80\xAF", 0},
      {"surrogate", "\xED\xA0\x80", 0},
      {"above U+10FFFF", "\xF4\x90\x80\x80", 0},
      {"never used", "\xFF", 0},
      {"cut short", "\xE2\x82", 0},
      {"bad continuation", "\xE2\x28\xA1", 0},
      {"Latin-1 e acute", "\xE9t\xE9", 0},
  };
  for (const Utf8Case& c : cases) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(c.bytes.data());
    EXPECT_EQ(utf8_sequence_length(bytes, static_cast<uint32_t>(c.bytes.size())), c.length)
        << c.what;
  }
}

}  // namespace
