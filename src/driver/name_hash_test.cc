#include "driver/name_hash.h"

#include <gtest/gtest.h>

TEST(NameHash, CheckValues) {
  EXPECT_EQ(name_hash(""), 0u);
  EXPECT_EQ(name_hash("abc"), 0xA65ABC18AD994B81ull);
  EXPECT_EQ(name_hash("ABC"), 0xA65ABC18AD994B81ull);
}

TEST(NameHash, FoldsOnlyAsciiLetters) {
  EXPECT_EQ(name_hash("Hero"), name_hash("hero"));
  EXPECT_EQ(name_hash("DDS"), name_hash("dds"));
  EXPECT_EQ(name_hash("A_Z-09"), name_hash("a_z-09"));
  // Bytes from 0x80 up are left as they are: 0xC0 and 0xE0 differ only in the bit that folds A-Z.
  EXPECT_NE(name_hash("\xC0"), name_hash("\xE0"));
  // '@' and '[' sit next to 'A' and 'Z' and must not be folded onto '`' and '{'.
  EXPECT_NE(name_hash("@"), name_hash("`"));
  EXPECT_NE(name_hash("["), name_hash("{"));
}

TEST(NameHash, InPartsGivesTheSameId) {
  const uint64_t name = name_hash_part(kNameHashStart, "UI/Hero", 7);
  EXPECT_EQ(name_hash_end(name), name_hash("ui/hero"));
  EXPECT_EQ(name_hash_end(name_hash_part(name, ".dds", 4)), name_hash("ui/hero.dds"));
}

TEST(NameHash, StopsAtTheFirstNul) {
  const char text[] = {'a', 'b', 'c', '\0', 'x', '\0'};
  EXPECT_EQ(name_hash(text), name_hash("abc"));
}

TEST(NameHash, SingleBytesDiffer) {
  // A CRC separates every pair of single bytes; a table built wrongly collides somewhere.
  for (int a = 1; a < 256; ++a) {
    const char textA[] = {static_cast<char>(a), '\0'};
    for (int b = a + 1; b < 256; ++b) {
      const char textB[] = {static_cast<char>(b), '\0'};
      const bool sameLetter = (a >= 'A' && a <= 'Z' && b == a + 32);
      if (sameLetter) continue;
      ASSERT_NE(name_hash(textA), name_hash(textB)) << a << " " << b;
    }
  }
}
