#include "manifest/game_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/game_writer.h"
#include "tests/support/scratch_dir.h"

namespace {

using vtest::Bytes;

std::string Text(const uint8_t* bytes, uint32_t length) {
  return std::string(reinterpret_cast<const char*>(bytes), length);
}

TEST(GameReader, ReadsEveryPackageEntryAndItsDataWithoutARun) {
  vtest::ScratchDir dir;
  vtest::GameLayout layout;
  std::string error;
  ASSERT_TRUE(vtest::WriteGame(vtest::ExampleGame(), dir.path(), &layout, &error)) << error;

  GameReader game;
  Status status;
  ASSERT_TRUE(game.Open(dir.path().string().c_str(), "manifest.bin", &status)) << status.what();
  ASSERT_EQ(game.archive_count(), layout.directory.archives.size());
  for (uint32_t i = 0; i < game.archive_count(); ++i) {
    EXPECT_EQ(Text(game.archive(i).name, game.archive(i).nameLength),
              layout.directory.archives[i].name);
  }
  ASSERT_EQ(game.package_count(), layout.packages.size());
  for (uint32_t k = 0; k < game.package_count(); ++k) {
    const vtest::PackageLayout& expected = layout.packages[k];
    SCOPED_TRACE(expected.record.name);
    const PackageRecord& record = game.record(k);
    EXPECT_EQ(Text(record.name, record.nameLength), expected.record.name);
    EXPECT_EQ(record.packageId, expected.record.package_id);
    EXPECT_EQ(record.offset, expected.record.offset);
    if (record.archiveIndex == kNoArchive) {
      EXPECT_FALSE(game.ReadPackage(k, &status));
      continue;
    }
    ASSERT_TRUE(game.ReadPackage(k, &status)) << status.what();
    ASSERT_EQ(game.package().entry_count(), expected.entries.size());
    for (uint32_t e = 0; e < game.package().entry_count(); ++e) {
      const PackageEntry& entry = game.package().entry(e);
      EXPECT_EQ(entry.nameId, expected.entries[e].name_id);
      EXPECT_EQ(entry.extId, expected.entries[e].ext_id);
      EXPECT_EQ(Bytes(entry.meta, entry.meta + entry.metaSize), expected.entries[e].meta);
      ByteBuffer data;
      ASSERT_TRUE(game.ReadEntryData(e, data, &status)) << status.what();
      EXPECT_EQ(Bytes(data.data(), data.data() + data.length()), expected.entries[e].data);
    }
  }
}

TEST(GameReader, FailuresNameTheFile) {
  vtest::ScratchDir dir;
  GameReader missing;
  Status status;
  EXPECT_FALSE(missing.Open(dir.path().string().c_str(), "manifest.bin", &status));
  EXPECT_EQ(status.code(), StatusCode::kNotFound);

  vtest::GameSpec game = vtest::ExampleGame();
  game.omit_archives = {game.archives[0].name};
  vtest::GameLayout layout;
  std::string error;
  ASSERT_TRUE(vtest::WriteGame(game, dir.path(), &layout, &error)) << error;
  GameReader reader;
  ASSERT_TRUE(reader.Open(dir.path().string().c_str(), "manifest.bin", &status));
  ASSERT_NE(reader.record(0).archiveIndex, kNoArchive);
  ASSERT_EQ(reader.record(0).archiveIndex, 0);
  EXPECT_FALSE(reader.ReadPackage(0, &status));
  EXPECT_STREQ(status.what(), "cannot open archive");
  EXPECT_NE(std::strstr(status.path(), (game.archives[0].name + ".upak").c_str()), nullptr);
}

}  // namespace
