#include "package/package_update.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/file.h"
#include "driver/name_hash.h"
#include "driver/pack_file_entry.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/bytes.h"
#include "tests/support/game_format.h"
#include "tests/support/game_reader.h"
#include "tests/support/game_writer.h"
#include "tests/support/replace_files.h"
#include "tests/support/scratch_dir.h"

namespace {

using vtest::Bytes;

TEST(FindPackFileEntry, FirstQualifyingEntryWins) {
  PackFileEntryList list;
  struct Configured {
    uint64_t nameId;
    uint64_t extId;
    uint64_t packageId;
  } configured[] = {
      {1, 10, 500},  // 0: only in package 500
      {1, 10, 0},    // 1: any package
      {1, 10, 0},    // 2: never reached for (1, 10)
      {2, 10, 600},  // 3
      {1, 11, 0},    // 4
  };
  std::vector<const PackFileEntry*> entries;
  for (const Configured& c : configured) {
    PackFileEntry* entry = PackFileEntryList::NewEntry();
    ASSERT_NE(entry, nullptr);
    entry->nameId = c.nameId;
    entry->extId = c.extId;
    entry->packageId = c.packageId;
    list.Append(entry);
    entries.push_back(entry);
  }
  struct Case {
    uint64_t nameId;
    uint64_t extId;
    uint64_t packageId;
    int expected;  // index into entries, -1 for none
  } cases[] = {
      {1, 10, 500, 0},  {1, 10, 501, 1}, {1, 10, 0, 1},  {2, 10, 600, 3},
      {2, 10, 601, -1}, {1, 11, 7, 4},   {2, 11, 0, -1}, {10, 1, 0, -1},
  };
  for (const Case& c : cases) {
    const PackFileEntry* expected = c.expected < 0 ? nullptr : entries[c.expected];
    EXPECT_EQ(find_pack_file_entry(list, c.nameId, c.extId, c.packageId), expected)
        << c.nameId << " " << c.extId << " " << c.packageId;
  }
  PackFileEntryList empty;
  EXPECT_EQ(find_pack_file_entry(empty, 1, 10, 0), nullptr);
}

vtest::PackageSpec Package(bool split, std::vector<vtest::EntrySpec> entries,
                           const std::string& name = "pack") {
  return vtest::OneGroupPackage(name, split, std::move(entries));
}

// Three entries of different kinds, with metadata of their own.
std::vector<vtest::EntrySpec> SampleEntries() {
  return {
      vtest::Entry("hero", "dds", vtest::MakeData(3000, 1), Bytes{15, 1, 1, 4, 0, 4, 0}),
      vtest::Entry("level", "bin", vtest::MakeData(20000, 2), Bytes{0xAB, 0xCD}),
      vtest::Entry("strings", "loc", vtest::MakeData(500, 3), Bytes{1, 0, 0, 0, 9, 9, 9, 9}),
  };
}

Bytes SampleDds() { return vtest::MakeDds(vtest::Dxt1Texture(16, 8, 42)); }

class UpdatePackageTest : public testing::Test {
 protected:
  struct Placed {
    std::string archive;
    uint64_t offset = 0;
    size_t size = 0;  // the package's bytes in the archive
    vtest::PackageLayout layout;
  };

  struct Outcome {
    bool ok = false;
    bool changed = false;
    uint64_t newOffset = 0;
    std::string out;
  };

  UpdatePackageTest() : targetPath_(Path("user.upak")) {
    worker_.blocks.Place((dir_.path().string() + "\\").c_str(), 0);
    // "w+" so that the test can read what was written through the same handle: the file admits
    // no second opener while it is open, as on Windows.
    target_.reset(open_file(targetPath_.c_str(), "w+"));
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // Writes the replacing file (and its meta file) and appends it to the configuration.
  PackFileEntry* Configure(const std::string& name, const std::string& ext, const Bytes& data,
                           const std::string& pkg = "", const std::optional<Bytes>& meta = {}) {
    const std::string file = "src-" + std::to_string(++files_) + "." + ext;
    EXPECT_TRUE(vtest::WriteFile(dir_ / file, data));
    PackFileEntry* entry = PackFileEntryList::NewEntry();
    entry->sourcePath.Assign(Path(file).c_str());
    if (meta) {
      EXPECT_TRUE(vtest::WriteFile(dir_ / (file + ".meta"), *meta));
      entry->metaPath.Assign(Path(file + ".meta").c_str());
    }
    entry->nameId = name_hash(name.c_str());
    entry->extId = name_hash(ext.c_str());
    entry->packageId = pkg.empty() ? 0 : name_hash(pkg.c_str());
    entries_.Append(entry);
    return entry;
  }

  // Writes the package into an archive of its own behind gap junk bytes.
  Placed Place(const vtest::PackageSpec& plan, uint32_t gap = 1234) {
    Placed placed;
    std::string error;
    const Bytes package = vtest::BuildPackage(plan, &placed.layout, &error);
    EXPECT_FALSE(package.empty()) << error;
    Bytes archive(gap, 0xA5);
    vtest::PutBytes(archive, package);
    vtest::PutBytes(archive, Bytes(100, 0x5A));
    placed.archive = Path("game-" + std::to_string(++archives_) + ".upak");
    placed.offset = gap;
    placed.size = package.size();
    EXPECT_TRUE(vtest::WriteFile(placed.archive, archive));
    return placed;
  }

  // Rewrites the placed package into the user archive, through a sink that appends to it.
  Outcome Update(const Placed& placed, const std::string& name = "pack") {
    Outcome outcome;
    ScopedFile source(open_file(placed.archive.c_str(), "r"));
    EXPECT_TRUE(source.is_open());
    FileSink sink(target_.get(), file_size(target_.get()), targetPath_.c_str());
    testing::internal::CaptureStdout();
    outcome.ok = update_package(worker_, entries_, fullCopy_, name_hash(name.c_str()), source.get(),
                                placed.offset, sink, &outcome.changed, &outcome.newOffset);
    outcome.out = testing::internal::GetCapturedStdout();
    return outcome;
  }

  // The user archive's bytes, read through the open handle; its position is kept.
  Bytes TargetBytes() {
    const uint64_t position = file_position(target_.get());
    const uint64_t size = file_size(target_.get());
    Bytes bytes(static_cast<size_t>(size));
    EXPECT_EQ(file_seek(target_.get(), 0), 0u);
    EXPECT_EQ(file_read(target_.get(), bytes.data(), static_cast<uint32_t>(size)), size);
    EXPECT_EQ(file_seek(target_.get(), position), position);
    return bytes;
  }

  // Reads back a package of the user archive and checks the layout of written packages.
  vtest::ParsedPackage Written(uint64_t offset) {
    std::string error;
    std::optional<vtest::ParsedPackage> package = vtest::ReadPackage(TargetBytes(), offset, &error);
    EXPECT_TRUE(package.has_value()) << error;
    if (!package) return {};
    EXPECT_EQ(vtest::CheckWrittenPackage(*package), "");
    return *package;
  }

  vtest::ScratchDir dir_;
  const std::string targetPath_;
  PackFileEntryList entries_;
  bool fullCopy_ = false;
  PackageWorker worker_;
  ScopedFile target_;
  int files_ = 0;
  int archives_ = 0;
};

TEST_F(UpdatePackageTest, NothingMatchedWritesNothing) {
  Configure("nowhere", "dds", SampleDds());
  Configure("hero", "dds", SampleDds(), "another package");
  for (bool split : {true, false}) {
    const Outcome outcome = Update(Place(Package(split, SampleEntries())));
    EXPECT_TRUE(outcome.ok);
    EXPECT_FALSE(outcome.changed);
    EXPECT_EQ(outcome.out, "");
  }
  EXPECT_EQ(TargetBytes().size(), 0u);
  EXPECT_EQ(worker_.blocks.file(), kNoFile);
}

TEST_F(UpdatePackageTest, FullCopyRewritesEveryEntryUnchanged) {
  fullCopy_ = true;
  struct Case {
    const char* what;
    bool split;
  } cases[] = {
      {"split", true},
      {"full", false},
  };
  uint64_t expectedOffset = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Placed placedPackage = Place(Package(c.split, SampleEntries()));
    const Outcome outcome = Update(placedPackage);
    ASSERT_TRUE(outcome.ok);
    EXPECT_TRUE(outcome.changed);
    EXPECT_EQ(outcome.newOffset, expectedOffset);
    // The progress line is the pass's: a package update prints nothing.
    EXPECT_EQ(outcome.out, "");
    const vtest::ParsedPackage written = Written(outcome.newOffset);
    const vtest::PackageLayout& old = placedPackage.layout;
    EXPECT_EQ(written.header.attr_byte, old.header.attr_byte);
    EXPECT_EQ(written.header.attr_word, old.header.attr_word);
    EXPECT_EQ(written.header.split_compress, old.header.split_compress);
    EXPECT_EQ(written.index_table, old.index_table);
    ASSERT_EQ(written.entries.size(), old.entries.size());
    for (size_t i = 0; i < old.entries.size(); ++i) {
      EXPECT_EQ(written.entries[i].data, old.entries[i].data) << i;
      EXPECT_EQ(written.entries[i].meta, old.entries[i].meta) << i;
    }
    const Bytes archive = TargetBytes();
    EXPECT_EQ(archive.size() % 2048, 0u);
    if (c.split) {
      // Blocks are compressed anew at level 0.
      for (const vtest::ParsedEntry& entry : written.entries) {
        const uint64_t at = outcome.newOffset + entry.block_offset + 4;
        EXPECT_EQ(archive[at], 0x78);
        EXPECT_EQ(archive[at + 1], 0x01);
      }
    }
    expectedOffset = archive.size();
  }
}

TEST_F(UpdatePackageTest, SplitWorkedLayout) {
  // One group of two entries and one extension id: the IndexTable is 32 + 16 (name ids) + 8
  // (extension id) + 18 (group) = 74 bytes; 26 bytes of tail make it 100.
  vtest::PackageSpec plan =
      Package(true, {vtest::Entry("hero", "dds", vtest::MakeData(900, 5), Bytes{1, 2, 3}),
                     vtest::Entry("plain", "dds", vtest::MakeData(700, 6))});
  plan.index_tail = Bytes(26, 0xEE);
  plan.index_gap = 17;
  plan.data_gap = 5;
  const Placed placed = Place(plan);
  ASSERT_EQ(placed.layout.index_table.size(), 100u);
  const Bytes dds = SampleDds();
  Configure("hero", "dds", dds);

  const Outcome outcome = Update(placed);
  ASSERT_TRUE(outcome.ok);
  const vtest::ParsedPackage written = Written(outcome.newOffset);
  EXPECT_EQ(written.header.index_offset, 30u);
  EXPECT_EQ(written.header.index_size, 100u);
  EXPECT_EQ(written.header.entry_table_offset, 130u);
  EXPECT_EQ(written.header.entry_table_size, (8u + 7u) + (8u + 0u) + 2u * 4u);
  EXPECT_EQ(written.header.data_offset, 2048u);
  ASSERT_EQ(written.entries.size(), 2u);
  EXPECT_EQ(written.entries[0].data, dds);
  EXPECT_EQ(written.entries[0].raw_size, dds.size());
  EXPECT_EQ(written.entries[0].meta, vtest::TextureMeta(15, 5, 1, 16, 8));
  EXPECT_EQ(written.entries[1].meta, Bytes{});
  EXPECT_EQ(written.entries[0].location, 2048u);
  EXPECT_EQ(written.entries[1].location, 2048u + written.entries[0].block_size);
  // The stored dds file compresses at level 0 to its size plus 11 bytes.
  EXPECT_EQ(written.entries[0].block_size, 4 + dds.size() + 11);
  EXPECT_EQ(written.end, written.entries[1].location + written.entries[1].block_size);
  EXPECT_EQ(TargetBytes().size(), (written.end + 2047) / 2048 * 2048);
}

TEST_F(UpdatePackageTest, FullPackageIsOneBlockOfTheNewSizes) {
  const std::vector<vtest::EntrySpec> entries = SampleEntries();
  const Bytes level = vtest::MakeData(45000, 77);
  Configure("level", "bin", level);
  const Outcome outcome = Update(Place(Package(false, entries)));
  ASSERT_TRUE(outcome.ok);
  const vtest::ParsedPackage written = Written(outcome.newOffset);
  ASSERT_EQ(written.entries.size(), 3u);
  EXPECT_EQ(written.entries[0].data, entries[0].data);
  EXPECT_EQ(written.entries[1].data, level);
  EXPECT_EQ(written.entries[2].data, entries[2].data);
  EXPECT_EQ(written.entries[1].meta, entries[1].meta);  // "bin" keeps its metadata
  // The EntryTable ends with the three new rawSizes.
  const Bytes& table = written.entry_table;
  ASSERT_GE(table.size(), 12u);
  EXPECT_EQ(vtest::GetU32(table, table.size() - 12), 3000u);
  EXPECT_EQ(vtest::GetU32(table, table.size() - 8), 45000u);
  EXPECT_EQ(vtest::GetU32(table, table.size() - 4), 500u);
  // One block at dataOffset that inflates to the sum.
  std::string error;
  const Bytes archive = TargetBytes();
  const std::optional<vtest::InflatedBlock> block =
      vtest::InflateBlock(archive, outcome.newOffset + written.header.data_offset, &error);
  ASSERT_TRUE(block.has_value()) << error;
  EXPECT_EQ(block->data.size(), 3000u + 45000u + 500u);
  EXPECT_EQ(archive[written.header.data_offset + 4], 0x78);
  EXPECT_EQ(archive[written.header.data_offset + 5], 0x01);
}

TEST_F(UpdatePackageTest, MetadataOfReplacedEntries) {
  const Bytes dds = SampleDds();
  const Bytes loc = vtest::MakeLoc({11, 22});
  const Bytes metaFile = {0xDE, 0xAD, 0xBE, 0xEF, 0x01};
  struct Case {
    const char* what;
    const char* name;
    const char* ext;
    Bytes data;
    std::optional<Bytes> meta;
    size_t entry;
    Bytes expected;
  } cases[] = {
      {"texture without meta", "hero", "dds", dds, std::nullopt, 0,
       vtest::TextureMeta(15, 5, 1, 16, 8)},
      {"texture with meta", "hero", "dds", dds, metaFile, 0, metaFile},
      {"other extension keeps its metadata", "level", "bin", Bytes{1, 2, 3}, std::nullopt, 1,
       Bytes{0xAB, 0xCD}},
      {"other extension with meta", "level", "bin", Bytes{1, 2, 3}, metaFile, 1, metaFile},
      {"loc without meta", "strings", "loc", loc, std::nullopt, 2, vtest::LocMeta({11, 22})},
      {"empty meta file", "level", "bin", Bytes{1}, Bytes{}, 1, Bytes{}},
  };
  for (bool split : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (split ? " (split)" : " (full)"));
      entries_.Clear();
      Configure(c.name, c.ext, c.data, "", c.meta);
      const Outcome outcome = Update(Place(Package(split, SampleEntries())));
      ASSERT_TRUE(outcome.ok);
      const vtest::ParsedPackage written = Written(outcome.newOffset);
      ASSERT_EQ(written.entries.size(), 3u);
      EXPECT_EQ(written.entries[c.entry].data, c.data);
      EXPECT_EQ(written.entries[c.entry].meta, c.expected);
    }
  }
}

TEST_F(UpdatePackageTest, PackageIdRestrictsAConfiguredFile) {
  const Bytes mine = {1, 1, 1};
  const Bytes any = {2, 2, 2};
  Configure("level", "bin", mine, "mine");
  Configure("level", "bin", any);
  const Outcome inMine = Update(Place(Package(true, SampleEntries(), "mine")), "mine");
  ASSERT_TRUE(inMine.ok);
  EXPECT_EQ(Written(inMine.newOffset).entries[1].data, mine);
  const Outcome inOther = Update(Place(Package(true, SampleEntries(), "other")), "other");
  ASSERT_TRUE(inOther.ok);
  EXPECT_EQ(Written(inOther.newOffset).entries[1].data, any);
}

TEST_F(UpdatePackageTest, SecondPackageStartsOnTheNextBoundary) {
  fullCopy_ = true;
  // The second split package is much shorter than the first: the temporary file still holds the
  // first one's bytes beyond the second's end, and they must not be copied.
  const Outcome first = Update(Place(Package(true, SampleEntries(), "big")), "big");
  const Outcome second =
      Update(Place(Package(true, {vtest::Entry("tiny", "bin", Bytes{7})}, "small")), "small");
  ASSERT_TRUE(first.ok);
  ASSERT_TRUE(second.ok);
  const vtest::ParsedPackage big = Written(first.newOffset);
  EXPECT_EQ(second.newOffset, (big.end + 2047) / 2048 * 2048);
  const vtest::ParsedPackage small = Written(second.newOffset);
  ASSERT_EQ(small.entries.size(), 1u);
  EXPECT_EQ(small.entries[0].data, Bytes{7});
  // Tables, then the data from 2048: the package ends at 2048 + 4 + 12 and is padded to 4096.
  EXPECT_EQ(small.end, 2048u + 4u + 12u);
  EXPECT_EQ(TargetBytes().size(), second.newOffset + 4096);
  EXPECT_EQ(file_position(target_.get()), second.newOffset + 4096);
}

TEST_F(UpdatePackageTest, SourceLayoutsAreReadAsStored) {
  fullCopy_ = true;
  std::vector<vtest::PackageSpec> specs;
  vtest::PackageSpec reordered = Package(true, SampleEntries());
  reordered.entry_table_first = true;
  reordered.table_gap = 9;
  reordered.block_order = {2, 0, 1};
  reordered.block_gap = 13;
  specs.push_back(reordered);
  vtest::PackageSpec groups = Package(false, {});
  groups.groups = {vtest::GroupSpec{}, vtest::GroupSpec{}};
  groups.groups[1].entries = SampleEntries();
  groups.groups[1].entries[0].type_high_bits = 7;
  groups.entry_table_tail = Bytes(5, 0x77);
  specs.push_back(groups);
  vtest::PackageSpec aligned = Package(true, SampleEntries());
  aligned.align_data = true;
  aligned.level = 1;
  specs.push_back(aligned);
  for (const vtest::PackageSpec& plan : specs) {
    const Placed placed = Place(plan, 3);
    const Outcome outcome = Update(placed);
    ASSERT_TRUE(outcome.ok);
    const vtest::ParsedPackage written = Written(outcome.newOffset);
    ASSERT_EQ(written.entries.size(), placed.layout.entries.size());
    for (size_t i = 0; i < written.entries.size(); ++i) {
      EXPECT_EQ(written.entries[i].data, placed.layout.entries[i].data);
      EXPECT_EQ(written.entries[i].type_byte, placed.layout.entries[i].type_byte);
    }
  }
}

TEST_F(UpdatePackageTest, PackagesWithoutTablesArePassedOver) {
  fullCopy_ = true;
  struct Case {
    const char* what;
    std::optional<uint32_t> vtest::PackageSpec::*field;
    uint32_t value;
  } cases[] = {
      {"indexOffset 0", &vtest::PackageSpec::override_index_offset, 0},
      {"indexOffset all ones", &vtest::PackageSpec::override_index_offset, 0xFFFFFFFF},
      {"indexSize 0", &vtest::PackageSpec::override_index_size, 0},
      {"entryTableOffset all ones", &vtest::PackageSpec::override_entry_table_offset, 0xFFFFFFFF},
      {"entryTableSize 0", &vtest::PackageSpec::override_entry_table_size, 0},
      {"dataOffset 0", &vtest::PackageSpec::override_data_offset, 0},
      {"dataOffset all ones", &vtest::PackageSpec::override_data_offset, 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    vtest::PackageSpec plan = Package(true, SampleEntries());
    plan.*c.field = c.value;
    const Outcome outcome = Update(Place(plan));
    EXPECT_TRUE(outcome.ok) << c.what;
    EXPECT_FALSE(outcome.changed) << c.what;
    EXPECT_EQ(outcome.out, "") << c.what;
  }
  EXPECT_EQ(TargetBytes().size(), 0u);
}

TEST_F(UpdatePackageTest, DamagedPackagesFail) {
  fullCopy_ = true;
  struct Case {
    const char* what;
    vtest::PackageFault fault;
    const char* reason;
  } cases[] = {
      {"wrong magic", vtest::PackageFault::kBadMagic, "do not begin with \"OBPK\""},
      {"IndexTable cut short", vtest::PackageFault::kIndexTableCut,
       "more than the index table holds"},
      {"EntryTable cut short", vtest::PackageFault::kEntryTableCut,
       "the entry table ends inside the record of entry 2"},
      {"name ids beyond the IdBlock", vtest::PackageFault::kNameIdsOutOfBlock,
       "the name id of entry 0 lies outside the id block"},
      {"extIndex beyond the IdBlock", vtest::PackageFault::kExtIndexOutOfList,
       "the extension id of entry 2 (index 3) lies outside the id block"},
      {"corrupt block", vtest::PackageFault::kCorruptBlock,
       "a compressed block is damaged (incorrect data check)"},
      {"last block cut short", vtest::PackageFault::kCutLastBlock,
       "a compressed block is cut short by the end of the file"},
  };
  for (bool split : {true, false}) {
    for (const Case& c : cases) {
      const std::string what = std::string(c.what) + (split ? " (split)" : " (full)");
      vtest::PackageSpec plan = Package(split, SampleEntries());
      plan.fault = c.fault;
      const Placed placed = Place(plan);
      Bytes archive = *vtest::ReadFile(placed.archive);
      if (c.fault == vtest::PackageFault::kCutLastBlock) {
        archive.resize(placed.offset + placed.size);  // no junk after the cut
        ASSERT_TRUE(vtest::WriteFile(placed.archive, archive));
      }
      worker_.failure.Clear();
      const Outcome outcome = Update(placed);
      EXPECT_FALSE(outcome.ok) << what;
      EXPECT_FALSE(outcome.changed) << what;
      EXPECT_NE(std::strstr(worker_.failure.what(), c.reason), nullptr)
          << what << ": " << worker_.failure.what();
    }
  }
}

TEST_F(UpdatePackageTest, TablesLargerThanTheArchiveFail) {
  fullCopy_ = true;
  struct Case {
    const char* what;
    std::optional<uint32_t> vtest::PackageSpec::*field;
    uint32_t value;
  } cases[] = {
      {"indexSize", &vtest::PackageSpec::override_index_size, 0x7FFFFFFF},
      {"entryTableSize", &vtest::PackageSpec::override_entry_table_size, 0xFFFFFFF0},
      {"indexOffset beyond the archive", &vtest::PackageSpec::override_index_offset, 0x10000000},
  };
  for (const Case& c : cases) {
    vtest::PackageSpec plan = Package(true, SampleEntries());
    plan.*c.field = c.value;
    const Outcome outcome = Update(Place(plan));
    EXPECT_FALSE(outcome.ok) << c.what;
    for (const ByteBuffer* buffer : worker_.work.All()) {
      EXPECT_LE(buffer->capacity(), 1u << 20) << c.what;
    }
  }
}

TEST_F(UpdatePackageTest, FullPackageWhoseSizesPassTheDataFails) {
  fullCopy_ = true;
  const Placed placed = Place(Package(false, SampleEntries()));
  // The first rawSize grows by one, so the last entry runs one byte past the inflated data.
  Bytes archive = *vtest::ReadFile(placed.archive);
  const size_t at = placed.offset + placed.layout.header.entry_table_offset;
  vtest::SetU32(archive, at, vtest::GetU32(archive, at) + 1);
  ASSERT_TRUE(vtest::WriteFile(placed.archive, archive));
  EXPECT_FALSE(Update(placed).ok);
}

TEST_F(UpdatePackageTest, SplitEntryWhoseRawSizeDisagreesWithItsBlockKeepsBoth) {
  fullCopy_ = true;
  const Placed placed = Place(Package(true, SampleEntries()));
  // The first EntryInfo claims five bytes more than its block holds (and says so itself).
  Bytes archive = *vtest::ReadFile(placed.archive);
  const size_t at = placed.offset + placed.layout.header.entry_table_offset;
  const uint32_t claimed = vtest::GetU32(archive, at) + 5;
  vtest::SetU32(archive, at, claimed);
  ASSERT_TRUE(vtest::WriteFile(placed.archive, archive));
  const Outcome outcome = Update(placed);
  ASSERT_TRUE(outcome.ok);
  ASSERT_TRUE(outcome.changed);

  // The EntryTable carries the claim over; the block stays whole: its own prefix still matches
  // its stream, so the entry's bytes can be read back.
  const Bytes written = TargetBytes();
  const std::optional<vtest::PackageHeader> header =
      vtest::DecodePackageHeader(written, outcome.newOffset);
  ASSERT_TRUE(header.has_value());
  const size_t table = outcome.newOffset + header->entry_table_offset;
  EXPECT_EQ(vtest::GetU32(written, table), claimed);
  const uint32_t location =
      vtest::GetU32(written, table + header->entry_table_size - 4 * SampleEntries().size());
  std::string error;
  const std::optional<vtest::InflatedBlock> block =
      vtest::InflateBlock(written, outcome.newOffset + location, &error);
  ASSERT_TRUE(block.has_value()) << error;
  EXPECT_EQ(block->data, SampleEntries()[0].data);
}

TEST_F(UpdatePackageTest, ReplacementFailuresFail) {
  vtest::DdsSpec unsupported = vtest::Dxt1Texture(8, 8, 1);
  unsupported.fourcc = vtest::FourCC('D', 'X', 'T', '2');
  struct Case {
    const char* what;
    const char* name;
    const char* ext;
    Bytes data;
  } cases[] = {
      {"unsupported texture", "hero", "dds", vtest::MakeDds(unsupported)},
      {"short loc file", "strings", "loc", Bytes{'L', 'O', 'C', 2, 5, 0, 0, 0}},
  };
  for (bool split : {true, false}) {
    for (const Case& c : cases) {
      entries_.Clear();
      Configure(c.name, c.ext, c.data);
      const Outcome outcome = Update(Place(Package(split, SampleEntries())));
      EXPECT_FALSE(outcome.ok) << c.what;
      EXPECT_FALSE(outcome.changed) << c.what;
    }
    entries_.Clear();
    PackFileEntry* missing = Configure("level", "bin", Bytes{1});
    missing->sourcePath.Assign(Path("no such file").c_str());
    EXPECT_FALSE(Update(Place(Package(split, SampleEntries()))).ok);
    entries_.Clear();
    PackFileEntry* noMeta = Configure("level", "bin", Bytes{1}, "", Bytes{});
    noMeta->metaPath.Assign(Path("no such meta").c_str());
    EXPECT_FALSE(Update(Place(Package(split, SampleEntries()))).ok);
  }
}

TEST_F(UpdatePackageTest, EveryAllocationFailureFails) {
  fullCopy_ = true;
  Configure("hero", "dds", SampleDds());
  for (bool split : {true, false}) {
    const Placed placed = Place(Package(split, SampleEntries()));
    uint32_t n = 1;
    for (; n < 500; ++n) {
      // Empty buffers, so that every growth happens again in this run.
      for (ByteBuffer* buffer : worker_.work.All()) buffer->release();
      ASSERT_EQ(file_seek(target_.get(), 0), 0u);
      ASSERT_TRUE(file_set_end(target_.get()));
      ScopedFile source(open_file(placed.archive.c_str(), "r"));
      FileSink sink(target_.get(), 0, targetPath_.c_str());
      bool changed = false;
      uint64_t newOffset = 0;
      AllocFailureScope failure;
      failure.FailNth(n);
      const bool ok = update_package(worker_, entries_, fullCopy_, name_hash("pack"), source.get(),
                                     placed.offset, sink, &changed, &newOffset);
      failure.Restore();
      if (failure.failed() == 0) {
        EXPECT_TRUE(ok);
        break;
      }
      EXPECT_FALSE(ok) << "allocation " << n << (split ? " (split)" : " (full)");
      EXPECT_FALSE(changed) << "allocation " << n;
    }
    EXPECT_GT(n, 5u);
    EXPECT_LT(n, 500u);
  }
}

}  // namespace
