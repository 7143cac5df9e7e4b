#include "package/package_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/platform_faults.h"
#include "tests/support/bytes.h"
#include "tests/support/game_writer.h"
#include "tests/support/scratch_dir.h"

namespace {

using vtest::Bytes;

// Counts the calls of the platform seam, failing none.
uint32_t g_seamCalls = 0;
bool CountCall(SysCall) {
  ++g_seamCalls;
  return false;
}

std::vector<vtest::EntrySpec> Entries(int count) {
  std::vector<vtest::EntrySpec> entries;
  for (int i = 0; i < count; ++i) {
    entries.push_back(vtest::Entry("entry" + std::to_string(i), i % 2 ? "dds" : "bin",
                                   vtest::MakeData(100 + i, i), Bytes(i % 5, uint8_t(i))));
  }
  return entries;
}

class PackageReaderTest : public testing::Test {
 protected:
  PackageReaderTest() : reader_(indexTable_, entryTable_, idBlock_) {}

  // Places the package behind `gap` junk bytes in an archive of its own and reads it.
  bool Read(const vtest::PackageSpec& plan, vtest::PackageLayout* layout, size_t cutTo = 0) {
    std::string error;
    Bytes archive(1234, 0xA5);
    const Bytes package = vtest::BuildPackage(plan, layout, &error);
    EXPECT_FALSE(package.empty()) << error;
    vtest::PutBytes(archive, package);
    if (cutTo != 0) archive.resize(1234 + cutTo);
    // Windows refuses to rewrite a file that a handle still holds.
    file_.reset();
    EXPECT_TRUE(vtest::WriteFile(dir_ / "archive.upak", archive));
    file_.reset(open_file((dir_ / "archive.upak").string().c_str(), "r"));
    g_seamCalls = 0;
    g_sysFaultHook = &CountCall;
    const bool read = reader_.Read(file_.get(), 1234, &status_);
    g_sysFaultHook = nullptr;
    seamCalls_ = g_seamCalls;
    return read && reader_.ReadEntryTable(&status_);
  }

  vtest::ScratchDir dir_;
  ByteBuffer indexTable_;
  ByteBuffer entryTable_;
  ByteBuffer idBlock_;
  PackageReader reader_;
  ScopedFile file_;
  ZlibStreams streams_;
  Status status_;
  uint32_t seamCalls_ = 0;  // of the last Read
};

TEST_F(PackageReaderTest, ReadsTablesWhereverTheyLie) {
  struct Case {
    const char* what;
    int entries;
    uint32_t indexGap;
    bool entryTableFirst;
    uint32_t tableGap;
    uint32_t seamCalls;  // reads, and the archive's size when a table lies beyond the first read
  } cases[] = {
      {"both in the first read", 3, 0, false, 0, 1},
      {"tables beyond the first read", 3, 5000, false, 0, 3},
      {"tables larger than the first read", 400, 0, false, 0, 3},
      {"EntryTable first, far from the IndexTable", 3, 0, true, 100000, 3},
      {"IndexTable first, far from the EntryTable", 3, 0, false, 100000, 3},
      {"both beyond the first read, far apart", 3, 5000, false, 100000, 4},
  };
  for (bool split : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.what << (split ? " (split)" : " (full)"));
      vtest::PackageSpec plan = vtest::OneGroupPackage("pack", split, Entries(c.entries));
      plan.index_gap = c.indexGap;
      plan.entry_table_first = c.entryTableFirst;
      plan.table_gap = c.tableGap;
      vtest::PackageLayout layout;
      ASSERT_TRUE(Read(plan, &layout)) << status_.what();
      ASSERT_TRUE(reader_.has_tables());
      EXPECT_EQ(seamCalls_, c.seamCalls);
      EXPECT_EQ(reader_.base(), 1234u);
      EXPECT_EQ(reader_.split(), split);
      EXPECT_EQ(vtest::Bytes(indexTable_.data(), indexTable_.data() + indexTable_.length()),
                layout.index_table);
      ASSERT_EQ(reader_.entry_count(), layout.entries.size());
      for (uint32_t k = 0; k < reader_.entry_count(); ++k) {
        const PackageEntry& entry = reader_.entry(k);
        const vtest::EntryLayout& expected = layout.entries[k];
        EXPECT_EQ(entry.nameId, expected.name_id);
        EXPECT_EQ(entry.extId, expected.ext_id);
        EXPECT_EQ(entry.rawSize, expected.data.size());
        EXPECT_EQ(Bytes(entry.meta, entry.meta + entry.metaSize), expected.meta);
        if (split) {
          EXPECT_EQ(entry.blockOffset, expected.location);
        }
      }
      ByteBuffer data;
      const uint32_t first = split ? reader_.entry(0).blockOffset : reader_.header().dataOffset;
      ASSERT_TRUE(reader_.ReadBlock(file_.get(), first, streams_, data, &status_))
          << status_.what();
      EXPECT_EQ(Bytes(data.data(), data.data() + layout.entries[0].data.size()),
                layout.entries[0].data);
    }
  }
}

TEST_F(PackageReaderTest, FailuresSayWhatIsWrong) {
  struct Case {
    const char* what;
    vtest::PackageFault fault;
    std::optional<uint32_t> vtest::PackageSpec::*field;
    uint32_t value;
    size_t cutTo;
    const char* reason;
  } cases[] = {
      {"wrong magic", vtest::PackageFault::kBadMagic, nullptr, 0, 0, "do not begin with \"OBPK\""},
      {"header cut", vtest::PackageFault::kNone, nullptr, 0, 20,
       "cannot read the package header: the archive ends first"},
      {"IndexTable cut", vtest::PackageFault::kIndexTableCut, nullptr, 0, 0,
       "more than the index table holds"},
      {"EntryTable cut", vtest::PackageFault::kEntryTableCut, nullptr, 0, 0,
       "the entry table ends inside the record of entry 2"},
      {"ids beyond the IdBlock", vtest::PackageFault::kNameIdsOutOfBlock, nullptr, 0, 0,
       "the name id of entry 0 lies outside the id block"},
      {"IndexTable past the archive", vtest::PackageFault::kNone,
       &vtest::PackageSpec::override_index_size, 0x7FFFFFFF, 0,
       "the index table runs past the end of the archive"},
      {"EntryTable past the archive", vtest::PackageFault::kNone,
       &vtest::PackageSpec::override_entry_table_size, 0xFFFFFFF0, 0,
       "the entry table runs past the end of the archive"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    vtest::PackageSpec plan = vtest::OneGroupPackage("pack", true, Entries(3));
    plan.fault = c.fault;
    if (c.field != nullptr) plan.*c.field = c.value;
    vtest::PackageLayout layout;
    status_.Clear();
    EXPECT_FALSE(Read(plan, &layout, c.cutTo));
    EXPECT_NE(std::strstr(status_.what(), c.reason), nullptr) << status_.what();
    EXPECT_LE(indexTable_.capacity() + entryTable_.capacity(), 1u << 20);
  }
}

}  // namespace
