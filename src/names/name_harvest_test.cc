#include "names/name_harvest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "driver/name_hash.h"

namespace {

std::set<std::string> TextsOf(const NameTable& table) {
  std::set<std::string> texts;
  for (uint32_t i = 0; i < table.slot_count(); ++i) {
    if (table.text(i) != nullptr) texts.insert(table.text(i));
  }
  return texts;
}

TEST(NameHarvester, KeepsTheRunsThatNameEntries) {
  EntryIds ids;
  for (const auto& [name, ext] : {std::pair<const char*, const char*>{"ui/hero", "dds"},
                                  {"ui\\icons", "bin"},
                                  {"notes", "txt"},
                                  {"fx.v2", "shader"},
                                  {"data.cfg", "bin"},
                                  {"h\xC3\xA9ros", "dds"}}) {
    ASSERT_TRUE(ids.Add(name_hash(name), name_hash(ext)));
  }
  ASSERT_TRUE(ids.Finish());
  const std::string tooLong = "ui/" + std::string(kNameLineMost, 'a');
  const struct {
    const char* what;
    std::string bytes;
    std::set<std::string> lines;
  } cases[] = {
      {"a path in quotes", "load(\"ui/hero.dds\")", {"ui/hero.dds"}},
      {"the other separator, in another case", "UI\\Hero.DDS", {"UI/Hero.DDS"}},
      {"a name whose separator is '\\'", "x = ui/icons.bin;", {"ui\\icons.bin"}},
      {"a name in quotes of either kind", "\"notes\" 'notes'", {"notes"}},
      {"a quote closes one run and opens the next", "\"a\" \"notes\"", {"notes"}},
      {"a path after a quote that nothing closes", "\"ui/hero.dds", {"ui/hero.dds"}},
      {"a word without quotes, separator or dot", "notes", {}},
      {"an ext no entry of the name has", "ui/hero.png", {"ui/hero"}},
      {"leading and trailing dots and separators", "see ../ui/hero.dds.", {"ui/hero.dds"}},
      {"a name with a dot of its own", "fx.v2.shader fx.v2.tga", {"fx.v2.shader", "fx.v2."}},
      {"a run that is a name whole", "data.cfg", {"data.cfg."}},
      {"binary bytes around a path", std::string("\x93ui/hero.dds\xFF\x00", 14), {"ui/hero.dds"}},
      {"UTF-8 in a name, a stray byte before one",
       "h\xC3\xA9ros.dds \xC3ui/hero.dds",
       {"h\xC3\xA9ros.dds", "ui/hero.dds"}},
      {"names that no entry has", "ui/hero2.dds ui_common ui/missing.dds hero.dds", {}},
      {"a run too long for a name list", tooLong, {}},
  };
  NameHarvester harvester;
  for (const auto& c : cases) {
    NameTable lines;
    ASSERT_TRUE(harvester.Scan(reinterpret_cast<const uint8_t*>(c.bytes.data()),
                               static_cast<uint32_t>(c.bytes.size()), ids, lines));
    EXPECT_EQ(TextsOf(lines), c.lines) << c.what;
  }
}

TEST(NameHarvester, ListsLinesSortedWithoutANameItsExtsGive) {
  NameTable table;
  for (const char* line : {"ui/hero", "ui/hero.dds", "b.x", "fx.v2.", "fx.v2.shader", "a"}) {
    ASSERT_TRUE(table.Add(line, static_cast<uint32_t>(std::strlen(line))));
  }
  TArray<const char*> lines;
  ASSERT_TRUE(list_name_lines(table, lines));
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.end()),
            (std::vector<std::string>{"a", "b.x", "fx.v2.shader", "ui/hero.dds"}));
}

}  // namespace
