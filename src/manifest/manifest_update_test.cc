#include "manifest/manifest_update.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "driver/run_context.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/buffer_bytes.h"
#include "tests/support/bytes.h"
#include "tests/support/game_format.h"
#include "tests/support/game_reader.h"
#include "tests/support/game_writer.h"
#include "tests/support/scratch_dir.h"

namespace {

using vtest::BufferBytes;
using vtest::Bytes;
using vtest::NameHash;
using vtest::PackageDirectory;
using vtest::PackageRecord;
using vtest::SetBuffer;

constexpr uint8_t kNoArchive = vtest::kNoArchive;

PackageRecord Record(const std::string& name, uint8_t archiveIndex, uint64_t offset) {
  PackageRecord record;
  record.name = name;
  record.package_id = NameHash(name);
  record.attr_word1 = 0x1234;
  record.attr_word2 = 0xBEEF;
  record.words = {1, 0xFFFF, 7};
  record.attr_byte1 = 0x11;
  record.archive_index = archiveIndex;
  record.attr_byte2 = 0x22;
  record.attr_byte3 = 0x33;
  record.offset = offset;
  return record;
}

vtest::PackageSpec Package(const std::string& name, uint8_t archive,
                           std::vector<vtest::EntrySpec> entries, bool split = true) {
  vtest::PackageSpec package;
  package.record = Record(name, 0, 0);
  package.archive_index = archive;
  package.split = split;
  vtest::GroupSpec group;
  group.entries = std::move(entries);
  package.groups.push_back(std::move(group));
  return package;
}

// Two archives holding split and full packages at unaligned offsets, a package in no archive,
// id names and bytes after the last record. "a.bin" lies in alpha and gamma, "b.bin" in beta.
vtest::GameSpec SmallGame() {
  vtest::GameSpec game;
  game.archives = {{3, "data0"}, {7, "data1"}};
  game.packages = {
      Package("alpha", 0, {vtest::Entry("a", "bin", vtest::MakeData(500, 1))}),
      Package("beta", 0,
              {vtest::Entry("b", "bin", vtest::MakeData(900, 2)),
               vtest::Entry("c", "txt", vtest::MakeData(40, 3))},
              false),
      Package("loose", kNoArchive, {}),
      Package("gamma", 1, {vtest::Entry("a", "bin", vtest::MakeData(300, 4))}),
  };
  game.id_names = {{0x0102030405060708ull, "first"}, {9, ""}};
  game.directory_tail = {0xEE, 0xEF};
  game.gap_before = {5, 0, 0, 3};
  return game;
}

// A package header whose validity fields are 0: the package update passes it over.
Bytes PassedOverPackage() { return vtest::EncodePackageHeader(vtest::PackageHeader{}); }

class ManifestUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    context_.destDir.Assign((dir_.path().string() + "\\").c_str());
    context_.tempDir.Assign((scratch_.path().string() + "\\").c_str());
  }

  // The pass builds the user archive under a temporary name; the run's commit renames it.
  std::filesystem::path UserArchive() const { return dir_ / "user_dlc.upak.tmp"; }
  // What a failed run does last: the pending archive closes its handle and deletes its file, which
  // Windows refuses while the handle is open.
  void DiscardUserArchive() {
    context_.pending.userArchive.Discard();
    EXPECT_FALSE(std::filesystem::exists(UserArchive()));
  }

  void SetDirectory(const Bytes& section) {
    ASSERT_TRUE(SetBuffer(context_.manifestSections[0], section));
  }
  void SetDirectory(const PackageDirectory& directory) {
    SetDirectory(vtest::EncodePackageDirectory(directory));
  }
  Bytes Section0() const { return BufferBytes(context_.manifestSections[0]); }

  PackageDirectory Rebuilt() const {
    std::string error;
    std::optional<PackageDirectory> directory =
        vtest::DecodePackageDirectory(BufferBytes(context_.sectionRebuild), &error);
    EXPECT_TRUE(directory.has_value()) << error;
    return directory.value_or(PackageDirectory());
  }

  // Writes the game's files and loads its package directory.
  void WriteGame(const vtest::GameSpec& game) {
    std::string error;
    ASSERT_TRUE(vtest::WriteGame(game, dir_.path(), &layout_, &error)) << error;
    std::optional<vtest::ParsedManifest> manifest = vtest::DecodeManifest(layout_.manifest, &error);
    ASSERT_TRUE(manifest.has_value()) << error;
    SetDirectory(manifest->sections[0]);
  }

  void Configure(const std::string& name, const std::string& ext, uint64_t packageId = 0) {
    const std::filesystem::path source = dir_ / "mod" / (name + "." + ext);
    ASSERT_TRUE(vtest::WriteFile(source, vtest::MakeData(123, 99)));
    PackFileEntry* entry = PackFileEntryList::NewEntry();
    ASSERT_NE(entry, nullptr);
    entry->sourcePath.Assign(source.string().c_str());
    entry->nameId = NameHash(name);
    entry->extId = NameHash(ext);
    entry->packageId = packageId;
    context_.entries.Append(entry);
  }

  // The package that the user archive holds at offset, or a failure naming what is wrong.
  void ExpectWrittenPackageAt(uint64_t offset, uint64_t nameId) {
    std::string error;
    std::optional<vtest::ParsedPackage> package =
        vtest::ReadPackageFile(UserArchive(), offset, &error);
    ASSERT_TRUE(package.has_value()) << error;
    EXPECT_EQ(vtest::CheckWrittenPackage(*package), "");
    ASSERT_FALSE(package->entries.empty());
    EXPECT_EQ(package->entries[0].name_id, nameId);
  }

  // A run's pass over the context, into the user archive; what it found goes to result_.
  bool Update() {
    UserArchiveTarget target;
    return update_manifest(context_, target, &result_);
  }

  vtest::ScratchDir dir_;
  vtest::ScratchDir scratch_;  // for the temporary file, so that it never shows among the game's
  RunContext context_;
  PassResult result_;
  vtest::GameLayout layout_;
};

TEST_F(ManifestUpdate, NoMatchDeletesUserArchiveAndKeepsDirectory) {
  ASSERT_NO_FATAL_FAILURE(WriteGame(SmallGame()));
  const Bytes before = Section0();
  const std::vector<std::string> filesBefore = vtest::ListFiles(dir_.path());
  Configure("nothing", "bin");

  ASSERT_TRUE(Update());
  EXPECT_EQ(Section0(), before);
  EXPECT_FALSE(std::filesystem::exists(UserArchive()));
  std::vector<std::string> filesAfter = vtest::ListFiles(dir_.path());
  filesAfter.erase(std::remove(filesAfter.begin(), filesAfter.end(), "mod/nothing.bin"),
                   filesAfter.end());
  EXPECT_EQ(filesAfter, filesBefore);
}

TEST_F(ManifestUpdate, ChangedPackageIsRedirectedToAppendedUserArchive) {
  ASSERT_NO_FATAL_FAILURE(WriteGame(SmallGame()));
  // "a.bin" lies in alpha (archive 0) and gamma (archive 1); the package id picks gamma.
  Configure("a", "bin", NameHash("gamma"));

  testing::internal::CaptureStdout();
  const bool ok = Update();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Updating files in package \"gamma\" (split compress).\n");
  ASSERT_TRUE(ok);

  PackageDirectory expected = layout_.directory;
  expected.tail.clear();
  expected.archives.push_back({0xFF, "user_dlc"});
  expected.packages[3].archive_index = 2;
  expected.packages[3].offset = 0;
  EXPECT_EQ(Section0(), vtest::EncodePackageDirectory(expected));
  EXPECT_EQ(BufferBytes(context_.sectionRebuild), Section0());
  ExpectWrittenPackageAt(0, NameHash("a"));
}

TEST_F(ManifestUpdate, FullCopyRenamesArchivesAndRedirectsEveryPackage) {
  ASSERT_NO_FATAL_FAILURE(WriteGame(SmallGame()));
  context_.fullCopy = true;

  testing::internal::CaptureStdout();
  const bool ok = Update();
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(ok);

  const PackageDirectory rebuilt = Rebuilt();
  EXPECT_EQ(Section0(), BufferBytes(context_.sectionRebuild));
  const PackageDirectory& old = layout_.directory;
  EXPECT_EQ(rebuilt.directory_value, old.directory_value);
  EXPECT_EQ(rebuilt.id_names, old.id_names);
  const std::vector<vtest::ArchiveRecord> archives = {{3, "user_dlc"}, {7, "user_dlc"}};
  EXPECT_EQ(rebuilt.archives, archives);
  EXPECT_TRUE(rebuilt.tail.empty());
  ASSERT_EQ(rebuilt.packages.size(), old.packages.size());

  uint64_t nextOffset = 0;
  for (size_t i = 0; i < old.packages.size(); ++i) {
    SCOPED_TRACE(old.packages[i].name);
    PackageRecord record = rebuilt.packages[i];
    if (old.packages[i].archive_index == kNoArchive) {
      EXPECT_EQ(record, old.packages[i]);
      continue;
    }
    // Packages land in the user archive in directory order, each on a 2048-byte boundary.
    EXPECT_EQ(record.archive_index, 0);
    EXPECT_GE(record.offset, nextOffset);
    EXPECT_EQ(record.offset % vtest::kPackageAlignment, 0u);
    ExpectWrittenPackageAt(record.offset, layout_.packages[i].entries[0].name_id);
    nextOffset = record.offset + 1;
    record.archive_index = old.packages[i].archive_index;
    record.offset = old.packages[i].offset;
    EXPECT_EQ(record, old.packages[i]);
  }
}

TEST_F(ManifestUpdate, ArchiveListedTwiceIsOpenedTwice) {
  vtest::GameSpec game;
  game.archives = {{1, "data0"}, {2, "data0"}};
  game.packages = {
      Package("alpha", 0, {vtest::Entry("a", "bin", vtest::MakeData(200, 1))}),
      Package("beta", 1, {vtest::Entry("b", "bin", vtest::MakeData(200, 2))}),
      Package("delta", 0, {vtest::Entry("b", "bin", vtest::MakeData(200, 3))}, false),
  };
  game.gap_before = {0, 7, 1};
  ASSERT_NO_FATAL_FAILURE(WriteGame(game));
  Configure("b", "bin");

  testing::internal::CaptureStdout();
  const bool ok = Update();
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(ok);

  const PackageDirectory rebuilt = Rebuilt();
  ASSERT_EQ(rebuilt.archives.size(), 3u);
  ASSERT_EQ(rebuilt.packages.size(), 3u);
  EXPECT_EQ(rebuilt.packages[0], layout_.directory.packages[0]);
  EXPECT_EQ(rebuilt.packages[1].archive_index, 2);
  EXPECT_EQ(rebuilt.packages[1].offset, 0u);
  EXPECT_EQ(rebuilt.packages[2].archive_index, 2);
  EXPECT_GT(rebuilt.packages[2].offset, 0u);
  ExpectWrittenPackageAt(rebuilt.packages[1].offset, NameHash("b"));
  ExpectWrittenPackageAt(rebuilt.packages[2].offset, NameHash("b"));
}

TEST_F(ManifestUpdate, RecordsInNoArchiveAreCopiedUnchanged) {
  PackageDirectory directory;
  directory.directory_value = 0xCAFEF00D;
  directory.id_names = {{1, "x"}};
  PackageRecord noWords = Record("no words", kNoArchive, 0x1122334455667788ull);
  noWords.words.clear();
  PackageRecord allWords = Record(std::string(255, 'n'), kNoArchive, 5);
  allWords.words.assign(255, 0xA55A);
  // Names may hold any byte: a NUL and a format directive come through as they are.
  PackageRecord oddName = Record(std::string("a\0%s%n", 6), kNoArchive, 6);
  directory.packages = {noWords, allWords, oddName};
  directory.tail = {1, 2, 3};
  ASSERT_EQ(vtest::PackageRecordSize(noWords), 26u + 8u);
  ASSERT_EQ(vtest::PackageRecordSize(allWords), 536u + 255u);

  for (bool fullCopy : {false, true}) {
    SCOPED_TRACE(fullCopy);
    context_.fullCopy = fullCopy;
    SetDirectory(directory);
    ASSERT_TRUE(Update());
    EXPECT_EQ(Section0(), vtest::EncodePackageDirectory(directory));
    EXPECT_FALSE(std::filesystem::exists(UserArchive()));

    PackageDirectory expected = directory;
    expected.tail.clear();
    if (!fullCopy) expected.archives.push_back({0xFF, "user_dlc"});
    EXPECT_EQ(BufferBytes(context_.sectionRebuild), vtest::EncodePackageDirectory(expected));
  }
}

TEST_F(ManifestUpdate, EmptyListsAreWalked) {
  struct Case {
    const char* what;
    bool idNames, archives, packages;
  };
  const Case cases[] = {
      {"all empty", false, false, false},
      {"no id names", false, true, true},
      {"no archives", true, false, true},
      {"no packages", true, true, false},
  };
  ASSERT_TRUE(vtest::WriteFile(dir_ / "data0.upak", PassedOverPackage()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PackageDirectory directory;
    if (c.idNames) directory.id_names = {{7, "seven"}};
    if (c.archives) directory.archives = {{4, "data0"}};
    if (c.packages) {
      directory.packages = {Record("p", kNoArchive, 0)};
      if (c.archives) directory.packages.push_back(Record("q", 0, 0));
    }
    SetDirectory(directory);
    ASSERT_TRUE(Update());
    EXPECT_EQ(Section0(), vtest::EncodePackageDirectory(directory));
    // The user archive always joins the list at the end: alone, at index 0, when it was empty.
    PackageDirectory expected = directory;
    expected.archives.push_back({0xFF, "user_dlc"});
    EXPECT_EQ(BufferBytes(context_.sectionRebuild), vtest::EncodePackageDirectory(expected));
  }
}

// A directory over one archive file, listed twice, whose packages are all passed over.
PackageDirectory PassedOverDirectory() {
  PackageDirectory directory;
  directory.directory_value = 0x01020304;
  directory.id_names = {{0x1111, "id"}, {0x2222, ""}};
  directory.archives = {{1, "data0"}, {2, "data0"}};
  directory.packages = {Record("p0", 0, 0), Record("p1", kNoArchive, 0), Record("p2", 1, 0)};
  return directory;
}

TEST_F(ManifestUpdate, DirectoryCutAtEveryLengthFailsAfterCreatingUserArchive) {
  ASSERT_TRUE(vtest::WriteFile(dir_ / "data0.upak", PassedOverPackage()));
  const Bytes full = vtest::EncodePackageDirectory(PassedOverDirectory());
  SetDirectory(full);
  ASSERT_TRUE(Update());

  for (size_t length = 0; length < full.size(); ++length) {
    SCOPED_TRACE(length);
    const Bytes cut(full.begin(), full.begin() + length);
    SetDirectory(cut);
    EXPECT_FALSE(Update());
    EXPECT_EQ(Section0(), cut);
    EXPECT_TRUE(std::filesystem::exists(UserArchive()));
    DiscardUserArchive();
  }
}

TEST_F(ManifestUpdate, DamagedDirectoryBytesAreHandled) {
  ASSERT_TRUE(vtest::WriteFile(dir_ / "data0.upak", PassedOverPackage()));
  const Bytes good = vtest::EncodePackageDirectory(PassedOverDirectory());
  for (size_t position = 0; position < good.size(); ++position) {
    for (uint8_t value : {uint8_t{0x00}, uint8_t{0x7F}, uint8_t{0xFF}}) {
      SCOPED_TRACE(testing::Message() << "byte " << position << " = " << int{value});
      Bytes damaged = good;
      damaged[position] = value;
      SetDirectory(damaged);
      // Nothing here can move a package, so section 0 stays as read either way.
      Update();
      EXPECT_EQ(Section0(), damaged);
      DiscardUserArchive();
    }
  }
}

TEST_F(ManifestUpdate, EveryFailedAllocationFailsThePass) {
  ASSERT_TRUE(vtest::WriteFile(dir_ / "data0.upak", PassedOverPackage()));
  const Bytes section = vtest::EncodePackageDirectory(PassedOverDirectory());
  for (uint32_t n = 1;; ++n) {
    SCOPED_TRACE(n);
    SetDirectory(section);
    AllocFailureScope failure;
    failure.FailNth(n);
    const bool ok = Update();
    failure.Restore();
    if (failure.failed() == 0) {
      EXPECT_TRUE(ok);
      // The rebuild keeps its block from the first round; the handles, a name and the words
      // allocate in every pass.
      EXPECT_GT(n, 3u);
      break;
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(Section0(), section);
    DiscardUserArchive();
  }
}

TEST_F(ManifestUpdate, HugeCountsFailWithoutAllocating) {
  // Empty lists: idNameCount at 0, archiveCount at 8, packageCount at 12.
  const Bytes empty = vtest::EncodePackageDirectory(PackageDirectory());
  ASSERT_EQ(empty.size(), 16u);
  struct Case {
    const char* what;
    size_t position;
    uint32_t count;
    bool fullCopy;
  };
  // 2^24 handles would take well over the probe's limit, yet pass the handle array's own check.
  const Case cases[] = {
      {"idNameCount", 0, 0xFFFFFFFFu, false},
      {"archiveCount", 8, 1u << 24, true},
      {"packageCount", 12, 0xFFFFFFFFu, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes directory = empty;
    vtest::SetU32(directory, c.position, c.count);
    SetDirectory(directory);
    context_.fullCopy = c.fullCopy;
    AllocFailureScope probe;
    probe.FailAtOrAbove(vtest::kModestAllocation);
    const bool ok = Update();
    probe.Restore();
    EXPECT_FALSE(ok);
    EXPECT_EQ(probe.failed(), 0u);
  }
}

TEST_F(ManifestUpdate, RefusedRunWritesNothing) {
  ASSERT_TRUE(vtest::WriteFile(dir_ / "Data0.upak", PassedOverPackage()));
  PackageDirectory tooMany;
  for (int i = 0; i < 255; ++i) tooMany.archives.push_back({0, "a" + std::to_string(i)});
  PackageDirectory listsData0;
  listsData0.archives = {{0, "Data0"}};
  listsData0.packages = {Record("p", 0, 0)};
  // The archive's path ends at the NUL, so this names Data0.upak as well.
  PackageDirectory listsData0AndNul = listsData0;
  listsData0AndNul.archives[0].name = std::string("Data0\0junk", 10);

  struct Case {
    const char* what;
    PackageDirectory directory;
    std::string userPackage;
  };
  const Case cases[] = {
      {"255 archives leave no index for the user archive", tooMany, "user_dlc"},
      {"user archive name too long for its record", PackageDirectory(), std::string(65536, 'u')},
      {"user archive named like a listed archive", listsData0, "Data0"},
      {"the same name in other case", listsData0, "dATA0"},
      {"the same name before a NUL", listsData0AndNul, "Data0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetDirectory(c.directory);
    context_.userPackage.Assign(c.userPackage.c_str());
    ASSERT_EQ(context_.userPackage.Length(), c.userPackage.size());
    EXPECT_FALSE(Update());
    EXPECT_EQ(vtest::ListFiles(dir_.path()), std::vector<std::string>{"Data0.upak"});
    EXPECT_EQ(vtest::ReadFile(dir_ / "Data0.upak"), PassedOverPackage());
  }
}

TEST_F(ManifestUpdate, UserArchiveTakesIndex254BesideFullList) {
  PackageDirectory directory;
  for (int i = 0; i < 254; ++i) {
    const std::string name = "a" + std::to_string(i);
    directory.archives.push_back({0, name});
    ASSERT_TRUE(vtest::WriteFile(dir_ / (name + ".upak"), Bytes()));
  }
  SetDirectory(directory);
  ASSERT_TRUE(Update());
  const PackageDirectory rebuilt = Rebuilt();
  ASSERT_EQ(rebuilt.archives.size(), 255u);
  EXPECT_EQ(rebuilt.archives[254], (vtest::ArchiveRecord{0xFF, "user_dlc"}));
}

TEST_F(ManifestUpdate, ArchiveIndexOutsideListFails) {
  ASSERT_TRUE(vtest::WriteFile(dir_ / "data0.upak", PassedOverPackage()));
  for (uint8_t index : {uint8_t{1}, uint8_t{2}, uint8_t{0xFE}}) {
    for (bool fullCopy : {false, true}) {
      SCOPED_TRACE(testing::Message() << "index " << int{index} << ", fullcopy " << fullCopy);
      PackageDirectory directory;
      directory.archives = {{0, "data0"}};
      directory.packages = {Record("p", index, 0)};
      SetDirectory(directory);
      context_.fullCopy = fullCopy;
      EXPECT_FALSE(Update());
    }
  }
}

TEST_F(ManifestUpdate, FailuresAroundTheArchives) {
  ASSERT_TRUE(vtest::WriteFile(dir_ / "data0.upak", PassedOverPackage()));
  ASSERT_TRUE(vtest::WriteFile(dir_ / "junk.upak", Bytes(64, 'J')));
  PackageDirectory missing;
  missing.archives = {{0, "data0"}, {0, "gone"}};
  PackageDirectory notAPackage;
  notAPackage.archives = {{0, "junk"}};
  notAPackage.packages = {Record("p", 0, 0)};
  // With fullcopy a package that stays where it is would be looked for in the user archive once
  // another package has been written there.
  std::string error;
  ASSERT_TRUE(vtest::WriteFile(
      dir_ / "full.upak",
      vtest::BuildPackage(Package("q", 0, {vtest::Entry("a", "bin", {1})}), nullptr, &error)));
  PackageDirectory passedOver;
  passedOver.archives = {{0, "data0"}, {0, "full"}};
  passedOver.packages = {Record("p", 0, 0), Record("q", 1, 0)};

  struct Case {
    const char* what;
    PackageDirectory directory;
    bool fullCopy;
  };
  const Case cases[] = {
      {"a listed archive is missing", missing, false},
      {"the package update fails", notAPackage, false},
      {"fullcopy leaves a package in its old archive beside one it moved", passedOver, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes section = vtest::EncodePackageDirectory(c.directory);
    SetDirectory(section);
    context_.fullCopy = c.fullCopy;
    EXPECT_FALSE(Update());
    EXPECT_EQ(Section0(), section);
  }
}

TEST_F(ManifestUpdate, FullCopyThatWritesNothingLeavesTheDirectory) {
  ASSERT_TRUE(vtest::WriteFile(dir_ / "data0.upak", PassedOverPackage()));
  PackageDirectory directory;
  directory.archives = {{0, "data0"}};
  directory.packages = {Record("p", 0, 0)};
  const Bytes section = vtest::EncodePackageDirectory(directory);
  SetDirectory(section);
  context_.fullCopy = true;
  EXPECT_TRUE(Update());
  EXPECT_EQ(Section0(), section);
  EXPECT_FALSE(std::filesystem::exists(UserArchive()));
}

// A plan counts what a run writes: the same moves, and the user archive's length, with nothing
// written or printed; and so does a run on several threads.
TEST_F(ManifestUpdate, EveryTargetAndThreadCountMovesTheSamePackages) {
  ASSERT_NO_FATAL_FAILURE(WriteGame(SmallGame()));
  context_.fullCopy = true;
  const Bytes before = Section0();
  const std::vector<std::string> files = vtest::ListFiles(dir_.path());
  CountingTarget counting;
  PassResult planned;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(update_manifest(context_, counting, &planned));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(vtest::ListFiles(dir_.path()), files);
  EXPECT_EQ(vtest::ListFiles(scratch_.path()), std::vector<std::string>{});

  for (uint32_t threads : {1u, 3u}) {
    SCOPED_TRACE(threads);
    context_.threads = threads;
    SetDirectory(before);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(Update());
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(result_.moves.count(), planned.moves.count());
    for (uint32_t k = 0; k < planned.moves.count(); ++k) {
      EXPECT_EQ(result_.moves[k].moved, planned.moves[k].moved);
      EXPECT_EQ(result_.moves[k].offset, planned.moves[k].offset);
      EXPECT_EQ(result_.moves[k].bytes, planned.moves[k].bytes);
    }
    EXPECT_EQ(result_.userArchiveBytes, std::filesystem::file_size(UserArchive()));
    EXPECT_EQ(result_.userArchiveBytes, planned.userArchiveBytes);
    EXPECT_EQ(vtest::ListFiles(scratch_.path()), std::vector<std::string>{});
    DiscardUserArchive();
  }
}

TEST_F(ManifestUpdate, UserArchiveThatCannotBeCreatedFails) {
  context_.destDir.Assign(((dir_ / "absent").string() + "\\").c_str());
  SetDirectory(PackageDirectory());
  EXPECT_FALSE(Update());
}

}  // namespace
