#include "manifest/backup_check.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/support/buffer_bytes.h"
#include "tests/support/game_format.h"

namespace {

using vtest::PackageDirectory;

PackageDirectory Directory() {
  PackageDirectory directory;
  directory.id_names = {{7, "seven"}};
  directory.archives = {{1, "data0"}, {2, "data1"}};
  for (const char* name : {"first", "second"}) {
    vtest::PackageRecord record;
    record.name = name;
    record.package_id = vtest::NameHash(name);
    record.words = {3, 4};
    record.archive_index = 1;
    record.offset = 4096;
    directory.packages.push_back(record);
  }
  directory.tail = {0xEE};
  return directory;
}

void Fill(ManifestSections& sections, const PackageDirectory& directory) {
  ASSERT_TRUE(vtest::SetBuffer(sections[0], vtest::EncodePackageDirectory(directory)));
  for (int i = 1; i < ManifestSections::kCount; ++i) {
    ASSERT_TRUE(vtest::SetBuffer(sections[i], vtest::Bytes(static_cast<size_t>(i), uint8_t(i))));
  }
}

TEST(ManifestFollowsBackup, WhatARunWritesPassesAndAnythingElseIsRefused) {
  struct Case {
    const char* what;
    std::function<void(PackageDirectory&)> change;
    const char* refusal;  // null: a run of the tool writes this
  } cases[] = {
      {"unchanged", [](PackageDirectory&) {}, nullptr},
      {"a package moved into an appended user archive",
       [](PackageDirectory& d) {
         d.tail.clear();
         d.archives.push_back({0xFF, "mod"});
         d.packages[1].archive_index = 2;
         d.packages[1].offset = 0;
       },
       nullptr},
      {"fullcopy: every name replaced, every package moved",
       [](PackageDirectory& d) {
         d.tail.clear();
         for (auto& archive : d.archives) archive.name = "mod";
         for (auto& package : d.packages) {
           package.archive_index = 0;
           package.offset = 2048;
         }
       },
       nullptr},
      {"an archive renamed", [](PackageDirectory& d) { d.archives[1].name = "patch"; },
       "the archive list differs"},
      {"an archive added in front",
       [](PackageDirectory& d) {
         d.archives.insert(d.archives.begin(), {0, "new"});
       },
       "the archive list differs"},
      {"an offset changed in place", [](PackageDirectory& d) { d.packages[0].offset = 8192; },
       "package record 0 differs"},
      {"a moved package outside the user archive",
       [](PackageDirectory& d) {
         d.archives.push_back({0xFF, "mod"});
         d.packages[1].archive_index = 0;
       },
       "package record 1 differs"},
      {"a package added", [](PackageDirectory& d) { d.packages.push_back(d.packages[0]); },
       "the number of packages differs"},
      {"a record's words changed",
       [](PackageDirectory& d) {
         d.packages[1].words = {3, 5};
       },
       "package record 1 differs"},
      {"the id names changed", [](PackageDirectory& d) { d.id_names[0].id = 8; },
       "the id names differ"},
  };
  ManifestSections backup;
  Fill(backup, Directory());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PackageDirectory directory = Directory();
    c.change(directory);
    ManifestSections current;
    Fill(current, directory);
    Status status;
    EXPECT_EQ(manifest_follows_backup(current, backup, &status), c.refusal == nullptr);
    if (c.refusal != nullptr) {
      EXPECT_STREQ(status.what(), c.refusal);
    }
  }

  ManifestSections otherSection;
  Fill(otherSection, Directory());
  ASSERT_TRUE(vtest::SetBuffer(otherSection[3], vtest::Bytes{9}));
  Status status;
  EXPECT_FALSE(manifest_follows_backup(otherSection, backup, &status));
  EXPECT_STREQ(status.what(), "section 3 differs");
}

}  // namespace
