#include "driver/thread_count.h"

#include <gtest/gtest.h>

namespace {

TEST(ParseThreadCount, TakesDecimalsFromOneAndCapsThem) {
  struct Case {
    const char* text;
    bool ok;
    uint32_t count;
  } cases[] = {
      {"1", true, 1},   {"8", true, 8},
      {"0", false, 0},  {"", false, 0},
      {"-2", false, 0}, {"2x", false, 0},
      {" 2", false, 0}, {"99999999999999999999", true, kMaxThreads},
  };
  for (const Case& c : cases) {
    uint32_t count = 0;
    EXPECT_EQ(parse_thread_count(c.text, &count), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(count, c.count > kMaxThreads ? kMaxThreads : c.count) << c.text;
    }
  }
  EXPECT_FALSE(parse_thread_count(nullptr, nullptr));
}

}  // namespace
