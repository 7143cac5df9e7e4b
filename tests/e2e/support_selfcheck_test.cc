// Checks the test-support library against itself: what the synthetic game writer writes, the
// independent reader must read back exactly. The tool's own tests trust both sides.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/game_reader.h"
#include "tests/support/game_writer.h"
#include "tests/support/process.h"
#include "tests/support/replace_files.h"
#include "tests/support/scratch_dir.h"

namespace vtest {
namespace {

TEST(SupportNameHash, CheckValues) {
  struct Case {
    const char* text;
    uint64_t id;
  } cases[] = {
      {"", 0},
      {"abc", 0xA65ABC18AD994B81ull},
      {"ABC", 0xA65ABC18AD994B81ull},
  };
  for (const Case& c : cases) EXPECT_EQ(NameHash(c.text), c.id) << c.text;
  EXPECT_EQ(NameHash("Hero"), NameHash("hero"));
  EXPECT_NE(NameHash("\xC4"), NameHash("\xE4"));  // only A-Z fold
}

void ExpectSamePackage(const PackageLayout& want, const ParsedPackage& got) {
  EXPECT_EQ(got.start, want.offset);
  EXPECT_TRUE(got.header == want.header);
  EXPECT_EQ(got.index_table, want.index_table);
  EXPECT_EQ(got.entry_table, want.entry_table);
  EXPECT_EQ(got.end, want.size);
  ASSERT_EQ(got.entries.size(), want.entries.size());
  for (size_t i = 0; i < want.entries.size(); ++i) {
    SCOPED_TRACE("entry " + std::to_string(i));
    EXPECT_EQ(got.entries[i].name_id, want.entries[i].name_id);
    EXPECT_EQ(got.entries[i].ext_id, want.entries[i].ext_id);
    EXPECT_EQ(got.entries[i].type_byte, want.entries[i].type_byte);
    EXPECT_EQ(got.entries[i].location, want.entries[i].location);
    EXPECT_EQ(got.entries[i].meta, want.entries[i].meta);
    EXPECT_EQ(got.entries[i].data, want.entries[i].data);
  }
}

TEST(SupportGameWriter, ExampleGameReadsBack) {
  ScratchDir dir;
  GameLayout layout;
  std::string error;
  ASSERT_TRUE(WriteGame(ExampleGame(), dir.path(), &layout, &error)) << error;

  std::optional<ParsedManifest> manifest = ReadManifestFile(dir / "manifest.bin", &error);
  ASSERT_TRUE(manifest) << error;
  EXPECT_FALSE(IsContiguousLayout(*manifest));  // the example stores its sections shuffled
  EXPECT_EQ(manifest->sections[0], EncodePackageDirectory(layout.directory));
  EXPECT_EQ(manifest->directory.archives, layout.directory.archives);
  EXPECT_EQ(manifest->directory.packages.size(), layout.packages.size());

  std::optional<std::vector<ResolvedPackage>> game = ReadGame(dir.path(), &error);
  ASSERT_TRUE(game) << error;
  ASSERT_EQ(game->size(), layout.packages.size());
  for (size_t i = 0; i < game->size(); ++i) {
    const PackageLayout& want = layout.packages[i];
    const ResolvedPackage& got = (*game)[i];
    SCOPED_TRACE(want.record.name);
    EXPECT_TRUE(got.record == want.record);
    EXPECT_EQ(got.archive, want.archive);
    ASSERT_EQ(got.package.has_value(), want.record.archive_index != kNoArchive);
    if (got.package) ExpectSamePackage(want, *got.package);
  }
  // The example mixes both package kinds, reaches data0 through two records, and has
  // packages at unaligned offsets.
  EXPECT_EQ(FindPackage(layout, "world_full")->record.archive_index, 2);
  EXPECT_EQ(FindPackage(layout, "world_full")->header.split_compress, 0);
  EXPECT_NE(FindPackage(layout, "ui_common")->offset % 2048, 0u);
}

// A package laid out as the tool writes it, alone in an archive padded to 2048.
Bytes ToolStyleArchive(bool split) {
  PackageSpec plan;
  plan.split = split;
  plan.align_data = true;
  plan.groups.resize(2);
  plan.groups[0].entries = {Entry("a", "bin", MakeData(3000, 1), {1, 2}),
                            Entry("b", "dds", MakeData(10, 2))};
  plan.groups[1].entries = {Entry("c", "loc", Bytes{}, {7})};
  std::string error;
  Bytes archive = BuildPackage(plan, nullptr, &error);
  archive.resize((archive.size() + 2047) / 2048 * 2048, 0);
  return archive;
}

TEST(SupportGameReader, WrittenPackageRules) {
  for (bool split : {true, false}) {
    std::string error;
    std::optional<ParsedPackage> package = ReadPackage(ToolStyleArchive(split), 0, &error);
    ASSERT_TRUE(package) << error;
    EXPECT_EQ(CheckWrittenPackage(*package), "") << split;
  }
  // One junk byte between the tables breaks the layout rules.
  PackageSpec plan;
  plan.table_gap = 1;
  plan.align_data = true;
  plan.groups.resize(1);
  plan.groups[0].entries = {Entry("a", "bin", MakeData(100, 1))};
  std::string error;
  Bytes archive = BuildPackage(plan, nullptr, &error);
  archive.resize(4096, 0);
  std::optional<ParsedPackage> package = ReadPackage(archive, 0, &error);
  ASSERT_TRUE(package) << error;
  EXPECT_NE(CheckWrittenPackage(*package), "");
}

TEST(SupportGameReader, FaultsAreFailures) {
  const PackageFault faults[] = {
      PackageFault::kBadMagic,          PackageFault::kIndexTableCut,
      PackageFault::kEntryTableCut,     PackageFault::kNameIdsOutOfBlock,
      PackageFault::kExtIndexOutOfList, PackageFault::kCorruptBlock,
      PackageFault::kCutLastBlock,
  };
  for (bool split : {true, false}) {
    for (PackageFault fault : faults) {
      PackageSpec plan;
      plan.split = split;
      plan.index_tail = {9, 9};
      plan.groups.resize(1);
      plan.groups[0].entries = {Entry("a", "bin", MakeData(500, 1), {1}),
                                Entry("b", "txt", MakeData(700, 2), {2, 3})};
      plan.fault = fault;
      std::string error;
      Bytes archive = BuildPackage(plan, nullptr, &error);
      ASSERT_FALSE(archive.empty()) << error;
      EXPECT_FALSE(ReadPackage(archive, 0, &error))
          << "fault " << static_cast<int>(fault) << " split " << split;
    }
  }
}

TEST(SupportGameReader, ValidityFieldsPassOver) {
  PackageSpec plan;
  plan.groups.resize(1);
  plan.groups[0].entries = {Entry("a", "bin", MakeData(50, 1))};
  plan.override_entry_table_size = 0;
  std::string error;
  std::optional<ParsedPackage> package =
      ReadPackage(BuildPackage(plan, nullptr, &error), 0, &error);
  ASSERT_TRUE(package) << error;
  EXPECT_FALSE(package->has_tables);
}

TEST(SupportGameReader, TruncationAtEveryLengthFails) {
  Bytes archive = ToolStyleArchive(true);
  std::string error;
  std::optional<ParsedPackage> whole = ReadPackage(archive, 0, &error);
  ASSERT_TRUE(whole) << error;
  for (size_t length = 0; length < whole->end; ++length) {
    Bytes cut(archive.begin(), archive.begin() + static_cast<ptrdiff_t>(length));
    EXPECT_FALSE(ReadPackage(cut, 0, &error)) << length;
  }
  Bytes manifest = EncodeManifest({EncodePackageDirectory(PackageDirectory{}), {}, {1}, {}, {}});
  for (size_t length = 0; length < manifest.size(); ++length) {
    Bytes cut(manifest.begin(), manifest.begin() + static_cast<ptrdiff_t>(length));
    EXPECT_FALSE(DecodeManifest(cut, &error)) << length;
  }
}

TEST(SupportGameReader, DamagedBytesAreResults) {
  Bytes archive = ToolStyleArchive(false);
  std::string error;
  std::optional<ParsedPackage> whole = ReadPackage(archive, 0, &error);
  ASSERT_TRUE(whole) << error;
  // Any byte may be damaged without a crash; damage to the magic or the block is always found.
  for (size_t i = 0; i < whole->end; ++i) {
    Bytes damaged = archive;
    damaged[i] ^= 0xFF;
    bool read = ReadPackage(damaged, 0, &error).has_value();
    if (i < 4 || i >= whole->header.data_offset) {
      EXPECT_FALSE(read) << i;
    }
  }
}

TEST(SupportReplaceFiles, DdsFieldsAtTheirOffsets) {
  DdsSpec plan = Dxt1Texture(8, 4, 1);
  plan.caps2 = 0x200;
  Bytes dds = MakeDds(plan);
  // DXT1 8x4: levels 8x4, 4x2, 2x1, 1x1 of 2, 1, 1, 1 blocks of 8 bytes.
  EXPECT_EQ(dds.size(), 128u + 40u);
  EXPECT_EQ(GetU32(dds, 0), 0x20534444u);
  EXPECT_EQ(GetU32(dds, 4), 124u);
  EXPECT_EQ(GetU32(dds, 12), 4u);
  EXPECT_EQ(GetU32(dds, 16), 8u);
  EXPECT_EQ(GetU32(dds, 28), 4u);
  EXPECT_EQ(GetU32(dds, 84), 0x31545844u);
  EXPECT_EQ(GetU32(dds, 112), 0x200u);
  EXPECT_EQ(MakeLoc({5}), (Bytes{'L', 'O', 'C', 2, 1, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(SupportScratchDir, DiffTreesNamesChangedFiles) {
  ScratchDir dir;
  std::string error;
  ASSERT_TRUE(WriteGame(ExampleGame(), dir.MakeDir("a"), nullptr, &error)) << error;
  ASSERT_TRUE(CopyTree(dir / "a", dir / "b"));
  EXPECT_TRUE(DiffTrees(dir / "a", dir / "b").empty());
  Bytes patch = *ReadFile(dir / "b/patch.upak");
  patch[40] ^= 1;
  ASSERT_TRUE(WriteFile(dir / "b/patch.upak", patch));
  ASSERT_TRUE(WriteTextFile(dir / "b/extra/new.txt", "x"));
  EXPECT_EQ(DiffTrees(dir / "a", dir / "b"),
            (std::vector<std::string>{"extra", "extra/new.txt", "patch.upak"}));
}

TEST(SupportProcess, CapturesOutputAndStatus) {
  ProcessResult result = RunProcess(VINTREL_EXE, {});
  ASSERT_TRUE(result.started) << result.failure;
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out,
            "Usage: Vintrel.exe <srcdir> <destdir> [temp path]\n"
            "srcdir must contain \"vintrel.json\".\n");
  ProcessResult missing = RunProcess("/nonexistent/program", {});
  EXPECT_FALSE(missing.started);
}

}  // namespace
}  // namespace vtest
