#include "driver/config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/name_hash.h"
#include "driver/run_context.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/scratch_dir.h"

namespace {

// Loads a configuration text from a scratch source directory and keeps what was printed.
class LoadConfig : public testing::Test {
 protected:
  void SetUp() override {
    srcDir_ = dir_.path().string() + "\\";
    context_.srcDir.Assign(srcDir_.c_str());
  }

  bool Load(const std::string& text) {
    EXPECT_TRUE(vtest::WriteTextFile(dir_ / "vintrel.json", text));
    return LoadPath((dir_ / "vintrel.json").string());
  }

  bool LoadPath(const std::string& path) {
    testing::internal::CaptureStdout();
    const bool ok = load_config(path.c_str(), context_);
    printed_ = testing::internal::GetCapturedStdout();
    return ok;
  }

  std::vector<const PackFileEntry*> Entries() const {
    std::vector<const PackFileEntry*> list;
    for (const PackFileEntry* e = context_.entries.head(); e != nullptr; e = e->next) {
      list.push_back(e);
    }
    return list;
  }

  vtest::ScratchDir dir_;
  std::string srcDir_;
  RunContext context_;
  std::string printed_;
};

struct BadConfig {
  const char* text;
  const char* message;
};

TEST_F(LoadConfig, EveryFailurePrintsItsOneLine) {
  const BadConfig cases[] = {
      {"", "Failed to parse \"\".\n"},
      {"{", "Failed to parse \"{\".\n"},
      {"\"files\"", "Failed to parse \"\"files\"\".\n"},
      {"[]", "Expected object element.\n"},
      {"[{\"files\":[]}]", "Expected object element.\n"},
      {"{}", "Missing files.\n"},
      {"{\"Files\":[]}", "Missing files.\n"},
      {"{\"files\":{}}", "Expected array element.\n"},
      {"{\"files\":null}", "Expected array element.\n"},
      {"{\"files\":\"a\"}", "Expected array element.\n"},
      {"{\"files\":[\"x\"]}", "Missing name.\n"},
      {"{\"files\":[5]}", "Missing name.\n"},
      {"{\"files\":[{\"name\":5,\"ext\":\"a\",\"src\":\"b\"}]}", "Missing name.\n"},
      {"{\"files\":[{\"name\":\"a\",\"src\":\"b\"}]}", "Missing ext.\n"},
      {"{\"files\":[{\"name\":\"a\",\"ext\":null,\"src\":\"b\"}]}", "Missing ext.\n"},
      {"{\"files\":[{\"name\":\"a\",\"ext\":\"b\"}]}", "Missing src.\n"},
      {"{\"files\":[{\"name\":\"a\",\"ext\":\"b\",\"src\":[]}]}", "Missing src.\n"},
  };
  for (const BadConfig& c : cases) {
    RunContext fresh;
    fresh.srcDir.Assign(srcDir_.c_str());
    ASSERT_TRUE(vtest::WriteTextFile(dir_ / "vintrel.json", c.text));
    testing::internal::CaptureStdout();
    const bool ok = load_config((dir_ / "vintrel.json").string().c_str(), fresh);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message) << c.text;
    EXPECT_FALSE(ok) << c.text;
  }
}

TEST_F(LoadConfig, MissingFileNamesThePath) {
  const std::string path = (dir_ / "absent.json").string();
  EXPECT_FALSE(LoadPath(path));
  EXPECT_EQ(printed_, "Failed to read \"" + path + "\".\n");
}

TEST_F(LoadConfig, EmptyFileListUsesDefaults) {
  ASSERT_TRUE(Load("{\"files\":[]}"));
  EXPECT_EQ(printed_, "");
  EXPECT_TRUE(Entries().empty());
  EXPECT_STREQ(context_.userPackage.Text(), "user");
  EXPECT_FALSE(context_.fullCopy);
}

TEST_F(LoadConfig, UpakIsTakenOnlyFromAString) {
  ASSERT_TRUE(Load("{\"upak\":\"mods\",\"files\":[]}"));
  EXPECT_STREQ(context_.userPackage.Text(), "mods");
  ASSERT_TRUE(Load("{\"upak\":5,\"files\":[]}"));
  EXPECT_STREQ(context_.userPackage.Text(), "user");
}

TEST_F(LoadConfig, FullCopyTakesTheTruthValue) {
  const struct {
    const char* value;
    bool expected;
  } cases[] = {{"\"1\"", true},  {"\"true\"", false}, {"2.5", true},   {"0.5", false},
               {"true", true},   {"false", false},    {"null", false}, {"0", false},
               {"\" 7\"", true}, {"{}", false},       {"[1]", false},  {"-1", true}};
  for (const auto& c : cases) {
    context_.fullCopy = !c.expected;
    ASSERT_TRUE(Load(std::string("{\"fullcopy\":") + c.value + ",\"files\":[]}")) << c.value;
    EXPECT_EQ(context_.fullCopy, c.expected) << c.value;
  }
}

TEST_F(LoadConfig, SettingsAreStoredBeforeFilesIsChecked) {
  EXPECT_FALSE(Load("{\"upak\":\"mods\",\"fullcopy\":true}"));
  EXPECT_EQ(printed_, "Missing files.\n");
  EXPECT_STREQ(context_.userPackage.Text(), "mods");
  EXPECT_TRUE(context_.fullCopy);
}

TEST_F(LoadConfig, EntriesCarryIdsAndPathsInOrder) {
  ASSERT_TRUE(Load(R"({"files":[
      {"name":"Hero","ext":"DDS","src":"tex\\a.dds"},
      {"name":"hero","ext":"dds","src":"b.dds","pkg":"Level1","meta":"b.meta"},
      {"name":"menu","ext":"loc","src":"m.loc","pkg":"","meta":""},
      {"name":"x","ext":"y","src":"z","pkg":7,"meta":false}]})"));
  const std::vector<const PackFileEntry*> entries = Entries();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(context_.entries.tail(), entries[3]);

  EXPECT_EQ(entries[0]->nameId, name_hash("hero"));
  EXPECT_EQ(entries[0]->extId, name_hash("dds"));
  EXPECT_EQ(entries[0]->packageId, 0u);
  EXPECT_EQ(std::string(entries[0]->sourcePath.Text()), srcDir_ + "tex\\a.dds");
  EXPECT_TRUE(entries[0]->metaPath.IsEmpty());

  EXPECT_EQ(entries[1]->nameId, entries[0]->nameId);
  EXPECT_EQ(entries[1]->packageId, name_hash("level1"));
  EXPECT_EQ(std::string(entries[1]->metaPath.Text()), srcDir_ + "b.meta");

  // An empty "pkg" is no restriction; an empty "meta" names the source directory itself.
  EXPECT_EQ(entries[2]->packageId, 0u);
  EXPECT_EQ(std::string(entries[2]->metaPath.Text()), srcDir_);

  EXPECT_EQ(entries[3]->packageId, 0u);
  EXPECT_TRUE(entries[3]->metaPath.IsEmpty());
}

// "name_id", "ext_id" and "pkg_id" give an id in place of the text whose name_hash it would be:
// exactly one of each pair, and the id as 16 hexadecimal digits.
TEST_F(LoadConfig, IdKeysStandForTexts) {
  const struct {
    const char* element;
    const char* printed;  // "" with no line of the loader's own
    const char* reason;   // after "file 1 of "files" "; null when it loads
    uint64_t nameId;
    uint64_t extId;
    uint64_t packageId;
  } cases[] = {
      {R"({"name_id":"FA3AA6289BC5B513","ext":"dds","src":"a"})", "", nullptr,
       0xfa3aa6289bc5b513ull, name_hash("dds"), 0},
      {R"({"name":"hero","ext_id":"4ff1b0b24da38373","pkg_id":"0000000000000007","src":"a"})", "",
       nullptr, name_hash("hero"), 0x4ff1b0b24da38373ull, 7},
      {R"({"name":"hero","name_id":"fa3aa6289bc5b513","ext":"dds","src":"a"})", "Missing name.\n",
       "has both \"name\" and \"name_id\"; give one of them", 0, 0, 0},
      {R"({"name_id":"fa3aa6289bc5b51","ext":"dds","src":"a"})", "Missing name.\n",
       "has a \"name_id\" that is not 16 hexadecimal digits", 0, 0, 0},
      {R"({"name_id":1234,"ext":"dds","src":"a"})", "Missing name.\n",
       "has a \"name_id\" that is not 16 hexadecimal digits", 0, 0, 0},
      {R"({"name":"a","ext":5,"ext_id":"4ff1b0b24da38373","src":"a"})", "Missing ext.\n",
       "has both \"ext\" and \"ext_id\"; give one of them", 0, 0, 0},
      {R"({"name":"a","ext_id":"4ff1b0b24da3837g","src":"a"})", "Missing ext.\n",
       "has an \"ext_id\" that is not 16 hexadecimal digits", 0, 0, 0},
      {R"({"name":"a","ext":"b","src":"a","pkg":"ui","pkg_id":"9c5a51ed169d7093"})", "",
       "has both \"pkg\" and \"pkg_id\"; give one of them", 0, 0, 0},
      {R"({"name":"a","ext":"b","src":"a","pkg_id":"0x5a51ed169d7093"})", "",
       "has a \"pkg_id\" that is not 16 hexadecimal digits", 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.element);
    RunContext fresh;
    fresh.srcDir.Assign(srcDir_.c_str());
    ASSERT_TRUE(vtest::WriteTextFile(dir_ / "vintrel.json",
                                     std::string("{\"files\":[") + c.element + "]}"));
    testing::internal::CaptureStdout();
    const bool ok = load_config((dir_ / "vintrel.json").string().c_str(), fresh);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
    EXPECT_EQ(ok, c.reason == nullptr);
    if (c.reason != nullptr) {
      EXPECT_NE(
          std::string(fresh.failure.what()).find(std::string("file 1 of \"files\" ") + c.reason),
          std::string::npos)
          << fresh.failure.what();
      continue;
    }
    const PackFileEntry* entry = fresh.entries.head();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->nameId, c.nameId);
    EXPECT_EQ(entry->extId, c.extId);
    EXPECT_EQ(entry->packageId, c.packageId);
    EXPECT_EQ(fresh.warnings.count(), 0u);  // the keys are known
  }
}

TEST_F(LoadConfig, EntriesBeforeAFailingElementStay) {
  EXPECT_FALSE(Load(R"({"files":[{"name":"a","ext":"b","src":"c"},{"name":"d"}]})"));
  EXPECT_EQ(printed_, "Missing ext.\n");
  ASSERT_EQ(Entries().size(), 1u);
  EXPECT_EQ(Entries()[0]->nameId, name_hash("a"));
}

TEST_F(LoadConfig, FirstOfTwoEqualKeysWins) {
  ASSERT_TRUE(Load(R"({"upak":"first","upak":"second",
      "files":[{"name":"a","name":"b","ext":"e","src":"s"}]})"));
  EXPECT_STREQ(context_.userPackage.Text(), "first");
  ASSERT_EQ(Entries().size(), 1u);
  EXPECT_EQ(Entries()[0]->nameId, name_hash("a"));
}

TEST_F(LoadConfig, HeapExhaustionFailsCleanlyAtEveryAllocation) {
  const std::string text =
      R"({"upak":"mods","files":[{"name":"a","ext":"b","src":"c","pkg":"p","meta":"m"},)"
      R"({"name":"d","ext":"e","src":"f"}]})";
  ASSERT_TRUE(vtest::WriteTextFile(dir_ / "vintrel.json", text));
  const std::string path = (dir_ / "vintrel.json").string();
  for (uint32_t n = 1; n < 10000; ++n) {
    RunContext context;
    context.srcDir.Assign(srcDir_.c_str());
    testing::internal::CaptureStdout();
    AllocFailureScope failure;
    failure.FailNth(n);
    const bool ok = load_config(path.c_str(), context);
    failure.Restore();
    const std::string printed = testing::internal::GetCapturedStdout();
    if (failure.failed() == 0) {
      EXPECT_TRUE(ok);
      break;
    }
    // Either the load fails with exactly one line, or the failed allocation did not matter.
    if (!ok) {
      EXPECT_EQ(printed.find('\n'), printed.size() - 1) << "allocation " << n << ": " << printed;
    } else {
      EXPECT_EQ(printed, "") << "allocation " << n;
    }
  }
}

}  // namespace
