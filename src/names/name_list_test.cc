#include "names/name_list.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "driver/name_hash.h"
#include "names/name_table.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/scratch_dir.h"

namespace {

using Texts = std::set<std::string>;

// Every text of a table, each checked to be found under its own id.
Texts TextsOf(const NameTable& table) {
  Texts texts;
  for (uint32_t i = 0; i < table.slot_count(); ++i) {
    const char* text = table.text(i);
    if (text == nullptr) continue;
    EXPECT_EQ(table.id(i), name_hash(text)) << text;
    EXPECT_EQ(table.Find(name_hash(text)), text) << text;
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), table.count());
  return texts;
}

std::vector<std::string> Lines(const WarningList& warnings) {
  std::vector<std::string> lines;
  for (uint32_t i = 0; i < warnings.count(); ++i) lines.push_back(warnings.line(i));
  return lines;
}

TEST(NameList, Format) {
  const std::string tooLong(kNameLineMost + 1, 'a');
  // Twelve lines that are not UTF-8: ten are named, and the rest counted.
  std::string manyBad;
  std::vector<std::string> manyWarnings;
  for (int line = 1; line <= 12; ++line) {
    manyBad += "\xC0\n";
    if (line <= 10)
      manyWarnings.push_back(" line " + std::to_string(line) + " is not UTF-8; it was skipped");
  }
  manyWarnings.push_back(": 2 more malformed lines were skipped");
  const struct {
    const char* what;
    std::string text;
    Texts names;
    Texts exts;
    std::vector<std::string> warnings;  // after the file's quoted path
  } cases[] = {
      {"comments and blank lines",
       "# heroes\n\n \t \n  # indented\nhero.dds\n#not.a.name\n",
       {"hero"},
       {"dds"},
       {}},
      {"byte order mark, CRLF, no last line end",
       "\xEF\xBB\xBFmenu.txt\r\n\r\nicons.bin",
       {"menu", "icons"},
       {"txt", "bin"},
       {}},
      {"the last dot after the last separator",
       "ui/hero.dds\nlevel.v2\\map\nx.tar.gz\n.hidden\nnoext\nends.\n",
       {"ui/hero", "level.v2\\map", "x.tar", "noext", "ends"},
       {"dds", "gz", "hidden"},
       {}},
      {"spaces and tabs around a name", "  ui/menu one.txt \t\n", {"ui/menu one"}, {"txt"}, {}},
      {"case, and duplicates: the first spelling stays",
       "Hero.DDS\nhero.dds\nHERO\nhero.Dds\n",
       {"Hero"},
       {"DDS"},
       {}},
      {"malformed lines",
       "good.txt\nbad\xFF.txt\nnul" + std::string(1, '\0') + "here\n" + tooLong + "\n" +
           std::string(kNameLineMost, 'b') + "\r\n" + std::string(100000, 'c') + "\nlast.bin",
       {"good", std::string(kNameLineMost, 'b'), "last"},
       {"txt", "bin"},
       {" line 2 is not UTF-8; it was skipped", " line 3 holds a NUL byte; it was skipped",
        " line 4 is longer than 4096 bytes; it was skipped",
        " line 6 is longer than 4096 bytes; it was skipped"}},
      {"many malformed lines", manyBad + "ok", {"ok"}, {}, manyWarnings},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    vtest::ScratchDir dir;
    const std::string path = (dir / "list.txt").string();
    ASSERT_TRUE(vtest::WriteTextFile(path, c.text));
    NameLists lists;
    WarningList warnings;
    Status status;
    ASSERT_TRUE(lists.LoadFile(path.c_str(), warnings, &status));
    EXPECT_EQ(TextsOf(lists.names()), c.names);
    EXPECT_EQ(TextsOf(lists.exts()), c.exts);
    std::vector<std::string> expected;
    for (const std::string& warning : c.warnings) expected.push_back("\"" + path + "\"" + warning);
    EXPECT_EQ(Lines(warnings), expected);
  }
}

TEST(NameList, NamesAndExtsAreLookedUpApart) {
  NameLists lists;
  ASSERT_TRUE(lists.AddLine("ui/hero.dds", 11));
  ASSERT_TRUE(lists.AddBuiltinExts());
  EXPECT_STREQ(lists.Name(name_hash("UI/HERO")), "ui/hero");
  EXPECT_STREQ(lists.Ext(name_hash("dds")), "dds");
  EXPECT_STREQ(lists.Ext(name_hash("ogg")), "ogg");
  EXPECT_EQ(lists.Name(name_hash("dds")), nullptr);
  EXPECT_EQ(lists.Ext(name_hash("ui/hero")), nullptr);
}

TEST(NameList, FolderListsAddUpInNameOrder) {
  vtest::ScratchDir dir;
  ASSERT_TRUE(vtest::WriteTextFile(dir / "names" / "b.TXT", "NAME.bin\nsecond\n"));
  ASSERT_TRUE(vtest::WriteTextFile(dir / "names" / "a.txt", "Name.bin\nfirst\n"));
  ASSERT_TRUE(vtest::WriteTextFile(dir / "names" / "c.dat", "ignored\n"));
  dir.MakeDir("names/d.txt");  // a folder, which cannot be read as a list
  NameLists lists;
  WarningList warnings;
  Status status;
  ASSERT_TRUE(lists.LoadFolder((dir / "names").string().c_str(), warnings, &status));
  EXPECT_EQ(TextsOf(lists.names()), (Texts{"Name", "first", "second"}));
  ASSERT_EQ(warnings.count(), 1u);
  EXPECT_NE(std::string(warnings.line(0)).find("d.txt"), std::string::npos) << warnings.line(0);
  // A missing folder holds no list; a missing file is a failure of its own.
  EXPECT_TRUE(lists.LoadFolder((dir / "none").string().c_str(), warnings, &status));
  EXPECT_FALSE(lists.LoadFile((dir / "none.txt").string().c_str(), warnings, &status));
  EXPECT_EQ(status.code(), StatusCode::kIoError);
}

// Memory is counted as the allocation hooks hand it out: slots of 12 bytes and the texts' own
// block, without pointers, so that a 32-bit build holds the same. Names of some 40 bytes take at
// most twice their bytes, however many there are.
TEST(NameTable, HoldsAtMostTwiceItsTexts) {
  NameTable table;
  uint64_t textBytes = 0;
  for (uint32_t i = 0; i < 100000; ++i) {
    const std::string text = "levels/level_" + std::to_string(i % 97) + "/props/prop_" +
                             std::to_string(i) + (i % 2 ? "_variant" : "_base");
    bool added = false;
    ASSERT_TRUE(table.Add(text.data(), static_cast<uint32_t>(text.size()), &added));
    ASSERT_TRUE(added);
    textBytes += text.size() + 1;
  }
  table.Trim();
  EXPECT_EQ(table.count(), 100000u);
  EXPECT_STREQ(table.Find(name_hash("LEVELS/LEVEL_89/PROPS/PROP_99999_VARIANT")),
               "levels/level_89/props/prop_99999_variant");
  EXPECT_LE(table.held_bytes(), 2 * textBytes);
}

TEST(NameList, RunningOutOfMemoryFailsCleanlyAtEveryAllocation) {
  vtest::ScratchDir dir;
  const std::string path = (dir / "list.txt").string();
  ASSERT_TRUE(vtest::WriteTextFile(path, "ui/hero.dds\nmenu.txt\nbad\xFF\n"));
  for (uint32_t n = 1;; ++n) {
    NameLists lists;
    WarningList warnings;
    Status status;
    AllocFailureScope failure;
    failure.FailNth(n);
    const bool loaded = lists.LoadFile(path.c_str(), warnings, &status);
    failure.Restore();
    if (failure.failed() == 0) {
      EXPECT_TRUE(loaded);
      break;
    }
    // A lost warning is no failure; a name that cannot be kept is.
    if (!loaded) {
      EXPECT_EQ(status.code(), StatusCode::kOutOfMemory) << n;
    }
  }
}

}  // namespace
