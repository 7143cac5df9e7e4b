#include "report/text_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// What the table prints, read back from a file in the test's temporary directory.
std::string Printed(const TextTable& table) {
  const std::string path = testing::TempDir() + "text_table.txt";
  std::FILE* file = std::fopen(path.c_str(), "w+b");
  if (file == nullptr) return "(cannot create " + path + ")";
  table.Print(file);
  std::string text;
  std::rewind(file);
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) text.push_back(char(c));
  std::fclose(file);
  std::remove(path.c_str());
  return text;
}

TEST(TextTable, ColumnsAreAsWideAsTheirWidestCell) {
  TextTable table(3, 1u << 1);  // the middle column holds numbers
  table.Cell("name");
  table.Cell("bytes");
  table.Cell("note");
  table.Cell("h\xc3\xa9ros");  // five characters in six bytes
  table.Number(7);
  table.Cell("");      // an empty last cell leaves no trailing spaces
  table.Cell("a\tb");  // a control character is shown, never printed
  table.Number(123456);
  table.Cell("x");
  table.Cell("cut");  // a partial last row goes as far as it goes
  ASSERT_TRUE(table.ok());
  EXPECT_EQ(Printed(table),
            "name     bytes  note\n"
            "h\xc3\xa9ros        7\n"
            "a\\x09b  123456  x\n"
            "cut\n");
}

}  // namespace
