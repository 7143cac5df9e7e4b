// The tool's main job seen from outside: replaced entries in rewritten packages of the user
// archive, the redirected manifest, and everything else left as the game had it.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/game_run.h"

namespace vtest {
namespace {

const Bytes kOldHeroMeta = TextureMeta(15, 4, 1, 8, 8);

Bytes OldHero() { return MakeDds(Dxt1Texture(8, 8, 1)); }

// "hero.dds" in a split and in a full package, each beside another entry.
GameSpec TextureGame() {
  GameSpec game;
  game.archives = {{7, "textures"}};
  game.packages = {
      MakePackage("ui", 0, true,
                  {Entry("hero", "dds", OldHero(), kOldHeroMeta),
                   Entry("menu", "txt", MakeData(100, 2), {1, 2})}),
      MakePackage("world", 0, false,
                  {Entry("terrain", "bin", MakeData(300, 3), {9}),
                   Entry("hero", "dds", OldHero(), kOldHeroMeta)}),
  };
  game.gap_before = {5, 3};
  game.opaque_sections = OpaqueSections();
  return game;
}

class MainJob : public GameRunTest {};

struct TextureCase {
  const char* name;
  DdsSpec dds;
  Bytes meta;  // the TextureMeta the entry must get
};

DdsSpec WithFourCC(DdsSpec plan, uint32_t fourcc) {
  plan.fourcc = fourcc;
  return plan;
}

DdsSpec WithCaps2(DdsSpec plan, uint32_t caps2, uint32_t depth = 0) {
  plan.caps2 = caps2;
  plan.depth = depth;
  return plan;
}

DdsSpec Rgb(uint32_t flags, uint32_t bit_count, uint32_t a_mask) {
  DdsSpec plan = Argb32Texture(8, 4, 30);
  plan.pf_flags = flags;
  plan.rgb_bit_count = bit_count;
  plan.a_mask = a_mask;
  plan.payload.resize(8 * 4 * bit_count / 8);
  return plan;
}

DdsSpec Unusual() {
  DdsSpec plan = Dxt1Texture(4, 4, 31);
  plan.width = 0x10040;  // only the low 16 bits are kept
  plan.height = 2;
  plan.mip_count = 300;  // only the low 8 bits are kept
  return plan;
}

const TextureCase kTextureCases[] = {
    {"Dxt1", Dxt1Texture(256, 128, 11), TextureMeta(15, 9, 1, 256, 128)},
    {"Dxt3WithoutMipCount",
     [] {
       DdsSpec s = WithFourCC(Dxt1Texture(64, 64, 12), FourCC('D', 'X', 'T', '3'));
       s.mip_count = 0;
       return s;
     }(),
     TextureMeta(16, 1, 1, 64, 64)},
    {"Dxt5CubeMap",
     WithCaps2(WithFourCC(Dxt1Texture(32, 32, 13), FourCC('D', 'X', 'T', '5')), 0xFE00),
     TextureMeta(17, 6, 3, 32, 32)},
    {"Argb32Volume", WithCaps2(Argb32Texture(16, 8, 14), 0x200000, 4),
     TextureMeta(6, 1, 2, 16, 8, 4)},
    {"Argb32VolumeOfDepthOne", WithCaps2(Argb32Texture(16, 8, 15), 0x200000, 1),
     TextureMeta(6, 1, 1, 16, 8)},
    {"Argb32WithFloatRgbaFourCC", WithFourCC(Argb32Texture(8, 8, 16), 113),
     TextureMeta(6, 1, 1, 8, 8)},
    {"Argb16", Rgb(0x41, 16, 0xF000), TextureMeta(10, 1, 1, 8, 4)},
    {"Alpha8", Rgb(0x2, 8, 0xFF), TextureMeta(20, 1, 1, 8, 4)},
    {"Rgb8", Rgb(0x40, 8, 0), TextureMeta(20, 1, 1, 8, 4)},
    {"WideWithManyMips", Unusual(), TextureMeta(15, 300 & 0xFF, 1, 0x40, 2)},
};

// A case shows as its name in test listings, not as its raw bytes.
void PrintTo(const TextureCase& c, std::ostream* os) { *os << c.name; }

class ReplacedTexture : public GameRunTest, public testing::WithParamInterface<TextureCase> {};

// The entry's data is the whole DDS file, header included; its metadata is made from the header.
TEST_P(ReplacedTexture, GetsTheFileAndItsTextureMeta) {
  WriteGame(TextureGame());
  const Bytes texture = MakeDds(GetParam().dds);
  WriteMod({{"HERO", "DDS", "textures\\hero.dds", {}, {}}});
  WriteModFile("textures/hero.dds", texture);

  Outcome outcome;
  outcome.replaced = {{"ui", "hero", "dds", texture, GetParam().meta},
                      {"world", "hero", "dds", texture, GetParam().meta}};
  ExpectSuccess(Run(), outcome);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ReplacedTexture, testing::ValuesIn(kTextureCases),
                         [](const testing::TestParamInfo<TextureCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(MainJob, ReplacedLocFileGetsItsIdList) {
  GameSpec game;
  game.archives = {{0, "text"}};
  const Bytes oldLoc = MakeLoc({NameHash("yes")});
  game.packages = {MakePackage("lang", 0, false,
                               {Entry("strings", "loc", oldLoc, LocMeta({NameHash("yes")})),
                                Entry("empty", "loc", oldLoc, LocMeta({NameHash("yes")}))}),
                   MakePackage("lang_split", 0, true,
                               {Entry("strings", "loc", oldLoc, LocMeta({NameHash("yes")}))})};
  game.opaque_sections = OpaqueSections();
  WriteGame(game);
  const std::vector<uint64_t> ids = {NameHash("hello"), NameHash("bye"), 0xFFFFFFFFFFFFFFFFull};
  // Bytes after the ids stay in the data but not in the metadata.
  const Bytes strings = MakeLoc(ids, std::nullopt, {0xEE, 0xEE, 0xEE});
  const Bytes empty = MakeLoc({});
  WriteMod({{"strings", "loc", "strings.loc", {}, {}}, {"empty", "loc", "empty.loc", {}, {}}});
  WriteModFile("strings.loc", strings);
  WriteModFile("empty.loc", empty);

  Outcome outcome;
  outcome.replaced = {{"lang", "strings", "loc", strings, LocMeta(ids)},
                      {"lang", "empty", "loc", empty, Bytes(4, 0)},
                      {"lang_split", "strings", "loc", strings, LocMeta(ids)}};
  ExpectSuccess(Run(), outcome);
}

// A "meta" file gives the metadata whatever the extension, so that even a texture the tool
// cannot convert is accepted; without one, only "dds" and "loc" get new metadata.
TEST_F(MainJob, MetadataComesFromTheMetaFileOrStaysAsItWas) {
  GameSpec game;
  game.archives = {{0, "props"}};
  const std::vector<EntrySpec> entries = {
      Entry("hero", "dds", OldHero(), kOldHeroMeta),
      Entry("icon", "dds", OldHero(), kOldHeroMeta),
      Entry("strings", "loc", MakeLoc({1}), LocMeta({1})),
      Entry("data", "bin", MakeData(64, 40), {1, 2, 3}),
      Entry("fake", "bin", MakeData(64, 41), {4, 5}),
  };
  game.packages = {MakePackage("props", 0, true, entries),
                   MakePackage("props_full", 0, false, entries)};
  game.opaque_sections = OpaqueSections();
  WriteGame(game);

  DdsSpec dxt2 = Dxt1Texture(16, 16, 42);
  dxt2.fourcc = FourCC('D', 'X', 'T', '2');
  const Bytes hero = MakeDds(dxt2);
  const Bytes heroMeta = {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01};
  const Bytes icon = MakeDds(Dxt1Texture(4, 4, 43));
  const Bytes strings = MakeLoc({7, 8});
  const Bytes stringsMeta = {0x55};
  const Bytes data = MakeData(500, 44);
  const Bytes fake = MakeDds(Dxt1Texture(4, 4, 45));  // a texture, but configured as "bin"
  WriteMod({{"hero", "dds", "hero.dds", {}, "meta\\hero.meta"},
            {"icon", "dds", "icon.dds", {}, "meta\\empty.meta"},
            {"strings", "loc", "strings.loc", {}, "meta\\strings.meta"},
            {"data", "bin", "data.bin", {}, {}},
            {"fake", "bin", "fake.dds", {}, {}}});
  WriteModFile("hero.dds", hero);
  WriteModFile("meta/hero.meta", heroMeta);
  WriteModFile("icon.dds", icon);
  WriteModFile("meta/empty.meta", {});
  WriteModFile("strings.loc", strings);
  WriteModFile("meta/strings.meta", stringsMeta);
  WriteModFile("data.bin", data);
  WriteModFile("fake.dds", fake);

  Outcome outcome;
  for (const std::string package : {"props", "props_full"}) {
    outcome.replaced.push_back({package, "hero", "dds", hero, heroMeta});
    outcome.replaced.push_back({package, "icon", "dds", icon, Bytes{}});
    outcome.replaced.push_back({package, "strings", "loc", strings, stringsMeta});
    outcome.replaced.push_back({package, "data", "bin", data, std::nullopt});
    outcome.replaced.push_back({package, "fake", "bin", fake, std::nullopt});
  }
  ExpectSuccess(Run(), outcome);
}

// "pkg" restricts a file to one package (its name hashed without regard to case); the same
// entry in other packages stays where it is.
TEST_F(MainJob, PackageRestrictionChangesOnlyThatPackage) {
  GameSpec game;
  game.archives = {{0, "shared"}};
  const EntrySpec shared = Entry("shared", "bin", MakeData(200, 50), {6, 6});
  game.packages = {MakePackage("pack_a", 0, true, {shared}),
                   MakePackage("pack_b", 0, false, {shared}),
                   MakePackage("pack_c", 0, true, {shared})};
  game.opaque_sections = OpaqueSections();
  WriteGame(game);
  const Bytes replacement = MakeData(90, 51);
  WriteMod({{"shared", "bin", "shared.bin", "PACK_B", {}}});
  WriteModFile("shared.bin", replacement);

  Outcome outcome;
  outcome.replaced = {{"pack_b", "shared", "bin", replacement, std::nullopt}};
  ExpectSuccess(Run(), outcome);
}

// When several configured files qualify for an entry, the earliest in the configuration wins;
// one restricted to another package does not qualify.
TEST_F(MainJob, FirstQualifyingConfiguredFileWins) {
  GameSpec game;
  game.archives = {{0, "base"}};
  const std::vector<EntrySpec> entries = {Entry("hero", "dds", OldHero(), kOldHeroMeta),
                                          Entry("data", "bin", MakeData(80, 60), {1})};
  game.packages = {MakePackage("main", 0, true, entries), MakePackage("other", 0, false, entries)};
  game.opaque_sections = OpaqueSections();
  WriteGame(game);
  const Bytes first = MakeDds(Dxt1Texture(16, 8, 61));
  DdsSpec unsupported = Dxt1Texture(4, 4, 62);
  unsupported.fourcc = FourCC('D', 'X', 'T', '4');  // would fail the run if it were used
  const Bytes forOther = MakeData(30, 63);
  const Bytes forAny = MakeData(40, 64);
  WriteMod({{"hero", "dds", "first.dds", {}, {}},
            {"hero", "dds", "second.dds", {}, {}},
            {"data", "bin", "other.bin", "other", {}},
            {"data", "bin", "any.bin", {}, {}}});
  WriteModFile("first.dds", first);
  WriteModFile("second.dds", MakeDds(unsupported));
  WriteModFile("other.bin", forOther);
  WriteModFile("any.bin", forAny);

  const Bytes firstMeta = TextureMeta(15, 5, 1, 16, 8);
  Outcome outcome;
  outcome.replaced = {{"main", "hero", "dds", first, firstMeta},
                      {"main", "data", "bin", forAny, std::nullopt},
                      {"other", "hero", "dds", first, firstMeta},
                      {"other", "data", "bin", forOther, std::nullopt}};
  outcome.warnings = {
      "file 2 of \"files\" (\"hero\" \"dds\") can never be used: file 1 comes first and "
      "takes every entry this one could replace"};
  ExpectSuccess(Run(), outcome);
}

// The example game has split and full packages at unaligned offsets, several groups and an
// empty one, typeBytes with high bits set, a package in no archive, an archive listed twice
// with packages reached through both listings, its manifest sections shuffled and a version
// other than 13. Added here: bytes after the directory, records with 255 and 0 words, and a
// package passed over because its dataOffset is 0xFFFFFFFF, holding "hero.dds" too.
TEST_F(MainJob, WalksTheWholeDirectory) {
  GameSpec game = ExampleGame();
  game.manifest_layout.version = 12;
  game.directory_tail = {0x01, 0x02, 0x03, 0x04, 0x05};
  game.packages[0].record.words.assign(255, 0xA5C3);  // the longest record, moved
  game.packages[2].record.words.clear();              // the shortest, left in place
  PackageSpec ghost =
      MakePackage("ghost", 3, true, {Entry("hero", "dds", OldHero(), kOldHeroMeta)});
  ghost.override_data_offset = 0xFFFFFFFFu;
  game.packages.push_back(ghost);
  WriteGame(game);

  const Bytes hero = MakeDds(Dxt1Texture(16, 16, 80));
  const Bytes cursor = MakeDds(WithFourCC(Dxt1Texture(8, 8, 81), FourCC('D', 'X', 'T', '5')));
  const Bytes layoutData = MakeData(333, 82);
  const std::vector<uint64_t> ids = {NameHash("greeting")};
  const Bytes strings = MakeLoc(ids);
  WriteMod({{"hero", "dds", "textures\\hero.dds", {}, {}},
            {"cursor", "dds", "textures\\cursor.dds", {}, {}},
            {"layout", "bin", "layout.bin", {}, {}},
            {"strings", "loc", "strings.loc", {}, {}}});
  WriteModFile("textures/hero.dds", hero);
  WriteModFile("textures/cursor.dds", cursor);
  WriteModFile("layout.bin", layoutData);
  WriteModFile("strings.loc", strings);

  const Bytes heroMeta = TextureMeta(15, 5, 1, 16, 16);
  Outcome outcome;
  outcome.replaced = {{"ui_common", "hero", "dds", hero, heroMeta},
                      {"ui_common", "cursor", "dds", cursor, TextureMeta(17, 4, 1, 8, 8)},
                      {"ui_common", "layout", "bin", layoutData, std::nullopt},
                      {"world_full", "hero", "dds", hero, heroMeta},
                      {"world_full", "strings", "loc", strings, LocMeta(ids)},
                      {"patch_full", "hero", "dds", hero, heroMeta}};
  ExpectSuccess(Run(), outcome);
}

// The extension list holds up to 32 ids; the last is reached through extIndex 31, whatever the
// typeByte's high bits say.
TEST_F(MainJob, ExtensionListOfThirtyTwoIds) {
  std::vector<EntrySpec> entries;
  for (int i = 0; i < 32; ++i) {
    entries.push_back(Entry("file" + std::to_string(i), "x" + std::to_string(i),
                            MakeData(20 + i, 90 + i), {static_cast<uint8_t>(i)}));
    entries.back().type_high_bits = static_cast<uint8_t>(i % 8);
  }
  GameSpec game;
  game.archives = {{0, "many"}};
  game.packages = {MakePackage("many", 0, true, entries),
                   MakePackage("many_full", 0, false, entries)};
  game.opaque_sections = OpaqueSections();
  WriteGame(game);
  const Bytes last = MakeData(77, 130);
  const Bytes first = MakeData(55, 131);
  WriteMod({{"file31", "x31", "last.bin", {}, {}}, {"file0", "x0", "first.bin", {}, {}}});
  WriteModFile("last.bin", last);
  WriteModFile("first.bin", first);

  Outcome outcome;
  for (const std::string package : {"many", "many_full"}) {
    outcome.replaced.push_back({package, "file31", "x31", last, std::nullopt});
    outcome.replaced.push_back({package, "file0", "x0", first, std::nullopt});
  }
  ExpectSuccess(Run(), outcome);
}

// Entries larger than the tool's read and copy buffers and than one stored deflate block; a
// second split package much shorter than the first, so that stale bytes of the temporary file
// would show.
TEST_F(MainJob, LargeEntries) {
  GameSpec game;
  game.archives = {{0, "big"}};
  game.packages = {
      MakePackage("big", 0, true,
                  {Entry("kept", "bin", MakeData(200000, 140), {1}),
                   Entry("replaced", "bin", MakeData(1000, 141), {2})}),
      MakePackage("small", 0, true, {Entry("replaced", "bin", MakeData(10, 142), {3})}),
      MakePackage("big_full", 0, false,
                  {Entry("kept", "bin", MakeData(150000, 143), {4}),
                   Entry("replaced", "bin", MakeData(70000, 144), {5})}),
  };
  game.opaque_sections = OpaqueSections();
  WriteGame(game);
  const Bytes replacement = MakeData(100000, 145);
  WriteMod({{"replaced", "bin", "replaced.bin", {}, {}}});
  WriteModFile("replaced.bin", replacement);

  Outcome outcome;
  for (const std::string package : {"big", "small", "big_full"}) {
    outcome.replaced.push_back({package, "replaced", "bin", replacement, std::nullopt});
  }
  ExpectSuccess(Run(), outcome);
}

// Empty entries, an empty replacing file, and tables that end exactly on a 2048-byte boundary
// (so that dataOffset is 2048, not 4096).
TEST_F(MainJob, EmptyEntriesAndTablesEndingOnABoundary) {
  // One group of one entry: the IndexTable is 48 + 16 + 1 bytes, the EntryTable 8 + meta + 4.
  const Bytes filling(2048 - 30 - 65 - 12, 0x3C);
  GameSpec game;
  game.archives = {{0, "edge"}};
  game.packages = {
      MakePackage("boundary", 0, true, {Entry("data", "bin", MakeData(40, 180), filling)}),
      MakePackage("boundary_full", 0, false, {Entry("data", "bin", MakeData(40, 181), filling)}),
      MakePackage("empties", 0, true,
                  {Entry("empty", "bin", {}, {7}), Entry("data", "bin", MakeData(5, 182))}),
      MakePackage("empties_full", 0, false,
                  {Entry("empty", "bin", {}), Entry("data", "bin", MakeData(5, 183), {8}),
                   Entry("last", "bin", {})}),
  };
  game.opaque_sections = OpaqueSections();
  WriteGame(game);
  for (const std::string package : {"boundary", "boundary_full"}) {
    const PackageLayout* layout = FindPackage(layout_, package);
    ASSERT_EQ(30 + layout->header.index_size + 8 + filling.size() + 4, 2048u);
  }
  const Bytes data = MakeData(9, 184);
  WriteMod({{"data", "bin", "data.bin", {}, {}}, {"empty", "bin", "nothing.bin", {}, {}}});
  WriteModFile("data.bin", data);
  WriteModFile("nothing.bin", {});

  Outcome outcome;
  for (const std::string package : {"boundary", "boundary_full", "empties", "empties_full"}) {
    outcome.replaced.push_back({package, "data", "bin", data, std::nullopt});
  }
  outcome.replaced.push_back({"empties", "empty", "bin", {}, std::nullopt});
  outcome.replaced.push_back({"empties_full", "empty", "bin", {}, std::nullopt});
  ExpectSuccess(Run(), outcome);
}

TEST_F(MainJob, FullCopyCopiesEveryPackageUnchanged) {
  WriteGame(ExampleGame());
  WriteMod({}, "mods", true);

  Outcome outcome;
  outcome.moved = ArchivedPackages();
  outcome.upak = "mods";
  outcome.fullcopy = true;
  ExpectSuccess(Run(), outcome);
}

TEST_F(MainJob, FullCopyWithAReplacedEntry) {
  WriteGame(ExampleGame());
  const Bytes hero = MakeDds(Argb32Texture(4, 4, 150));
  WriteMod({{"hero", "dds", "hero.dds", "UI_Common", {}}}, std::nullopt, true);
  WriteModFile("hero.dds", hero);

  Outcome outcome;
  outcome.moved = ArchivedPackages();
  outcome.replaced = {{"ui_common", "hero", "dds", hero, TextureMeta(6, 1, 1, 4, 4)}};
  outcome.fullcopy = true;
  ExpectSuccess(Run(), outcome);
}

// Nothing matches: a name in the wrong package, a known name with another extension, an
// unknown name, a name only a package in no archive holds. The replacing files are never read.
TEST_F(MainJob, ConfigurationMatchingNothingLeavesTheDirectory) {
  GameSpec game = ExampleGame();
  game.directory_tail = {0xAB, 0xCD};
  game.packages[3].groups[0].entries.push_back(Entry("relic", "bin", MakeData(10, 160)));
  WriteGame(game);
  WriteMod({{"hero", "dds", "absent.dds", "sound_bank", {}},
            {"theme", "dds", "absent.dds", {}, {}},
            {"nothing", "bin", "absent.bin", {}, {}},
            {"relic", "bin", "absent.bin", {}, {}}});

  Outcome outcome;
  outcome.warnings = {
      "file 1 of \"files\" (\"hero\" \"dds\", pkg \"sound_bank\") replaced no entry in any package",
      "file 2 of \"files\" (\"theme\" \"dds\") replaced no entry in any package",
      "file 3 of \"files\" (\"nothing\" \"bin\") replaced no entry in any package",
      "file 4 of \"files\" (\"relic\" \"bin\") replaced no entry in any package"};
  ExpectSuccess(Run(), outcome);
}

// Every run starts from the game's untouched manifest: a run after the mod changed reflects
// only the new configuration, repeating it gives the same bytes, and a run that matches
// nothing removes the user archive again.
TEST_F(MainJob, LaterRunsReflectOnlyTheirOwnConfiguration) {
  WriteGame(ExampleGame());
  const Bytes hero = MakeDds(Dxt1Texture(16, 16, 170));
  WriteMod({{"hero", "dds", "hero.dds", {}, {}}});
  WriteModFile("hero.dds", hero);
  Outcome first;
  const Bytes heroMeta = TextureMeta(15, 5, 1, 16, 16);
  first.replaced = {{"ui_common", "hero", "dds", hero, heroMeta},
                    {"world_full", "hero", "dds", hero, heroMeta},
                    {"patch_full", "hero", "dds", hero, heroMeta}};
  ExpectSuccess(Run(), first);

  const Bytes theme = MakeData(1234, 171);
  WriteMod({{"theme", "ogg", "theme.ogg", {}, {}}});
  WriteModFile("theme.ogg", theme);
  WriteModFile("hero.dds", MakeDds(Dxt1Texture(32, 32, 172)));
  Outcome second;
  second.replaced = {{"sound_bank", "theme", "ogg", theme, std::nullopt}};
  ExpectSuccess(Run(), second);
  const Bytes manifest = ReadGameFile("manifest.bin");
  const Bytes archive = ReadGameFile("user.upak");

  ExpectSuccess(Run(), second);
  EXPECT_TRUE(SameBytes(ReadGameFile("manifest.bin"), manifest));
  EXPECT_TRUE(SameBytes(ReadGameFile("user.upak"), archive));

  WriteMod({});
  ExpectSuccess(Run(), Outcome());
}

}  // namespace
}  // namespace vtest
