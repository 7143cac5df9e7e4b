#include "names/name_glob.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct GlobCase {
  const char* pattern;
  const char* text;
  bool matches;
};

TEST(NameGlob, MatchesNamesAsTheTableSays) {
  const GlobCase cases[] = {
      {"hero.dds", "hero.dds", true},
      {"HERO.dds", "Hero.DDS", true},
      {"hero.dds", "hero.dds2", false},
      {"*.dds", "hero.dds", true},
      {"*.dds", "ui/icons/hero.dds", true},  // no separator: the last part only
      {"*.dds", "hero.dds/x.bin", false},
      {"ui/*.dds", "ui/hero.dds", true},
      {"ui/*.dds", "ui/icons/hero.dds", false},
      {"ui\\*.dds", "ui/hero.dds", true},
      {"ui/**", "ui/icons/hero.dds", true},
      {"ui/**", "uix/hero.dds", false},
      {"**/hero.dds", "hero.dds", true},
      {"**/hero.dds", "a/b\\hero.dds", true},
      {"**/hero.dds", "ahero.dds", false},
      {"ui/**/*.dds", "ui/hero.dds", true},
      {"ui/**/*.dds", "ui/a/b/hero.dds", true},
      {"h?ro.*", "h\xC3\xA9ro.dds", true},
      {"h?ro.*", "hro.dds", false},
      {"a/?", "a//", false},
      {"*", "", true},
      {"", "", true},
      {"", "x", false},
      {"fa3aa6289bc5b513.*", "fa3aa6289bc5b513.dds", true},
  };
  for (const GlobCase& c : cases) {
    NameGlob glob;
    ASSERT_TRUE(glob.Compile(c.pattern));
    EXPECT_EQ(glob.Match(c.text, static_cast<uint32_t>(std::strlen(c.text))), c.matches)
        << c.pattern << " " << c.text;
  }
}

}  // namespace
