// vintrel-inspect unpack run as a process: a game taken out into folders, with names that no
// system could take as they are, and then run again as the mod unpack wrote: every entry must hold
// what it held before, and nothing may lie outside OUTDIR.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/game_format.h"
#include "tests/support/game_reader.h"
#include "tests/support/game_writer.h"
#include "tests/support/png_file.h"
#include "tests/support/process.h"
#include "tests/support/replace_files.h"
#include "tests/support/scratch_dir.h"

namespace vtest {
namespace {

std::string Id(uint64_t id) { return IdText(id); }

std::string Id(const std::string& name) { return Id(NameHash(name)); }

size_t WarningLines(const std::string& err) {
  size_t count = 0;
  for (size_t at = err.find("vintrel-inspect: warning: "); at != std::string::npos;
       at = err.find("vintrel-inspect: warning: ", at + 1)) {
    ++count;
  }
  return count;
}

// Every entry of every package the game's manifest lists, in manifest and table order: the ids,
// the data and the metadata.
std::vector<std::vector<ParsedEntry>> Entries(const std::filesystem::path& game) {
  std::string error;
  const auto packages = ReadGame(game, &error);
  EXPECT_TRUE(packages.has_value()) << error;
  std::vector<std::vector<ParsedEntry>> entries;
  for (const ResolvedPackage& resolved : packages.value_or(std::vector<ResolvedPackage>())) {
    entries.emplace_back();
    if (!resolved.package) continue;
    for (const ParsedEntry& entry : resolved.package->entries) {
      ParsedEntry kept;
      kept.name_id = entry.name_id;
      kept.ext_id = entry.ext_id;
      kept.data = entry.data;
      kept.meta = entry.meta;
      entries.back().push_back(kept);
    }
  }
  return entries;
}

// Every entry holds the ids, data and metadata it held.
void ExpectSameEntries(const std::vector<std::vector<ParsedEntry>>& after,
                       const std::vector<std::vector<ParsedEntry>>& before) {
  EXPECT_EQ(after.size(), before.size());
  for (size_t k = 0; k < before.size() && k < after.size(); ++k) {
    EXPECT_EQ(after[k].size(), before[k].size()) << "package " << k;
    for (size_t e = 0; e < before[k].size() && e < after[k].size(); ++e) {
      EXPECT_EQ(after[k][e].name_id, before[k][e].name_id) << k << " " << e;
      EXPECT_EQ(after[k][e].ext_id, before[k][e].ext_id) << k << " " << e;
      EXPECT_EQ(after[k][e].data, before[k][e].data) << k << " " << e;
      EXPECT_EQ(after[k][e].meta, before[k][e].meta) << k << " " << e;
    }
  }
}

constexpr char kExampleNames[] =
    "cursor.dds\nhero.dds\nlayout.bin\nmenu.txt\nstrings.loc\ntheme.ogg\n";

// Entries with names that a path cannot take as they are, names that land on each other's paths,
// duplicates, textures whose metadata the tool would make otherwise, a package named as a device,
// one whose id is not its name's and two records of one id.
GameSpec HostileGame() {
  GameSpec game;
  game.archives = {{1, "base"}};
  const Bytes texture = MakeDds(Dxt1Texture(4, 4, 1));
  const Bytes derived = TextureMeta(15, 3, 1, 4, 4);
  PackageSpec town =
      OneGroupPackage("town", true,
                      {Entry("../evil", "bin", MakeData(10, 1)),
                       Entry("/abs", "bin", MakeData(11, 2)),
                       Entry("C:drive", "bin", MakeData(12, 3)),
                       Entry("\\\\server\\share\\x", "bin", MakeData(13, 4)),
                       Entry("CON", "bin", MakeData(14, 5)),
                       Entry("ask?", "bin", MakeData(15, 6)),
                       Entry("ctl\x01", "bin", MakeData(16, 7)),
                       Entry("trail./x", "bin", MakeData(17, 8)),
                       Entry("space /x", "bin", MakeData(18, 9)),
                       Entry(std::string(252, 'a'), "bin", MakeData(19, 10)),
                       Entry("_Unknown/x", "bin", MakeData(20, 11)),
                       Entry("\xC3\x89"
                             "clair",
                             "bin", MakeData(21, 12)),
                       Entry("\xC3\xA9"
                             "clair",
                             "bin", MakeData(22, 13)),
                       Entry("a/b", "bin", MakeData(23, 14)),
                       Entry("a\\b", "bin", MakeData(24, 15)),
                       Entry("pic", "dds", texture, derived),
                       Entry("pic.dds", "meta", MakeData(25, 16)),
                       Entry("twin", "bin", MakeData(26, 17)),
                       Entry("twin", "bin", MakeData(27, 18)),
                       Entry("ui/hero", "dds", texture, TextureMeta(15, 9, 1, 4, 4)),
                       Entry("junk", "dds", MakeData(40, 19), {1, 2, 3}),
                       Entry("empty", "bin", {}),
                       RawEntry(0x1234567890abcdefu, 0xfedcba0987654321u, MakeData(28, 20), {7})});
  PackageSpec device = OneGroupPackage("CON", false, {Entry("x", "bin", MakeData(30, 21))});
  PackageSpec odd = OneGroupPackage("odd", true, {Entry("y", "bin", MakeData(31, 22), {5})});
  odd.record.package_id = 0x0123456789abcdefu;
  PackageSpec twinA = OneGroupPackage(
      "twin_a", true, {Entry("shared", "bin", MakeData(6, 23)), Entry("only_a", "bin", {1})});
  PackageSpec twinB = OneGroupPackage(
      "twin_b", false, {Entry("shared", "bin", MakeData(6, 24)), Entry("only_b", "bin", {2})});
  twinB.record.package_id = NameHash("twin_a");
  game.packages = {town, device, odd, twinA, twinB};
  return game;
}

// A name list of every name of HostileGame.
std::string HostileNames() {
  return "../evil.bin\n/abs.bin\nC:drive.bin\n\\\\server\\share\\x.bin\nCON.bin\nask?.bin\n"
         "ctl\x01.bin\ntrail./x.bin\nspace /x.bin\n_Unknown/x.bin\n\xC3\x89"
         "clair.bin\n\xC3\xA9"
         "clair.bin\na/b.bin\na\\b.bin\npic.dds\npic.dds.meta\ntwin.bin\nui/hero.dds\njunk.dds\n"
         "empty.bin\nx.bin\ny.bin\nshared.bin\nonly_a.bin\nonly_b.bin\n" +
         std::string(252, 'a') + ".bin\n";
}

class UnpackTest : public testing::Test {
 protected:
  ProcessResult Inspect(const std::vector<std::string>& args) const {
    return RunProcess(VINTREL_INSPECT_EXE, args);
  }

  // Writes the game and a name list, unpacks it whole with options on 1 and on 3 threads (which
  // must write the same files and say the same), checks that nothing lies outside OUTDIR, runs
  // the tool on what was unpacked and checks that every entry holds what it held. The result of
  // the unpack.
  ProcessResult RoundTrip(const GameSpec& game, const std::string& names,
                          const std::vector<std::string>& options = {}) {
    std::string error;
    EXPECT_TRUE(WriteGame(game, game_, nullptr, &error)) << error;
    EXPECT_TRUE(WriteTextFile(dir_ / "names.txt", names));
    const std::vector<std::vector<ParsedEntry>> before = Entries(game_);
    std::vector<std::string> unpack = {"unpack", game_.string(), out(), "--names",
                                       (dir_ / "names.txt").string()};
    unpack.insert(unpack.end(), options.begin(), options.end());
    std::vector<std::string> args = unpack;
    args.insert(args.end(), {"--threads", "3"});
    const ProcessResult three = Inspect(args);
    std::filesystem::rename(out(), dir_ / "out3");
    args = unpack;
    args.insert(args.end(), {"--threads", "1"});
    const ProcessResult one = Inspect(args);
    EXPECT_EQ(one.exit_code, 0) << one.err;
    EXPECT_EQ(one.out, three.out);
    EXPECT_EQ(one.err, three.err);
    EXPECT_EQ(DiffTrees(out(), dir_ / "out3"), std::vector<std::string>());
    // What the unpacks wrote lies in their OUTDIRs alone.
    for (const std::string& file : ListFiles(dir_.path())) {
      EXPECT_TRUE(file.rfind("game/", 0) == 0 || file.rfind("out/", 0) == 0 ||
                  file.rfind("out3/", 0) == 0 || file == "names.txt")
          << file;
    }
    const ProcessResult run =
        RunProcess(VINTREL_EXE, {out(), game_.string(), dir_.MakeDir("tmp").string()});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    ExpectSameEntries(Entries(game_), before);
    return one;
  }

  std::string out() const { return (dir_ / "out").string(); }

  ScratchDir dir_;
  std::filesystem::path game_ = dir_.MakeDir("game");
};

TEST_F(UnpackTest, ExampleGameComesBackAsItWas) {
  const ProcessResult result = RoundTrip(ExampleGame(), kExampleNames);
  EXPECT_EQ(result.err, "");
  EXPECT_NE(result.out.find("unpacked 12 entries of 6 packages"), std::string::npos) << result.out;
  EXPECT_TRUE(
      FilesEqual(dir_ / "out" / "ui_common" / "menu.txt", dir_ / "out3/ui_common/menu.txt"));
}

// Each texture gets its level 0 as a PNG beside it, which vintrel.json does not list and texture
// sync finds up to date; then the modder's round: one PNG edited, texture sync, prune, run, and
// that texture alone has changed.
TEST_F(UnpackTest, PngsBesideTexturesMakeAModOfTheOneEdited) {
  const ProcessResult result = RoundTrip(ExampleGame(), kExampleNames, {"--png"});
  EXPECT_EQ(result.err, "");
  EXPECT_NE(result.out.find(", and 4 PNG files beside the textures\n"), std::string::npos)
      << result.out;
  const std::filesystem::path out = dir_ / "out";
  size_t textures = 0;
  for (const std::string& file : ListFiles(out)) {
    if (file.size() < 4 || file.compare(file.size() - 4, 4, ".dds") != 0) continue;
    ++textures;
    const Bytes dds = ReadFile(out / file).value_or(Bytes{});
    const std::string png = file.substr(0, file.size() - 4) + ".png";
    EXPECT_EQ(PngSize(ReadFile(out / png).value_or(Bytes{})),
              std::make_pair(GetU32(dds, 16), GetU32(dds, 12)))
        << png;
  }
  EXPECT_EQ(textures, 4u);
  EXPECT_EQ(ReadTextFile(out / "vintrel.json").value_or(".png").find(".png"), std::string::npos);
  const std::vector<std::string> sync = {"texture", "sync", out.string(), "--game", game_.string()};
  std::vector<std::string> dryRun = sync;
  dryRun.push_back("--dry-run");
  EXPECT_EQ(Inspect(dryRun).out, "0 textures to make, 4 up to date, 0 without a PNG\n");

  std::vector<std::vector<ParsedEntry>> expected = Entries(game_);
  ASSERT_TRUE(WriteFile(out / "ui_common" / "hero.png", Picture(8, 8, 200)));
  std::filesystem::last_write_time(
      out / "ui_common" / "hero.dds",
      std::filesystem::file_time_type::clock::now() - std::chrono::seconds(60));
  const ProcessResult synced = Inspect(sync);
  EXPECT_EQ(synced.exit_code, 0) << synced.err;
  const ProcessResult pruned = Inspect({"prune", out.string(), game_.string()});
  EXPECT_EQ(pruned.exit_code, 0) << pruned.err;
  const ProcessResult run =
      RunProcess(VINTREL_EXE, {out.string(), game_.string(), dir_.MakeDir("tmp2").string()});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  // ui_common's hero, the first entry of the first package.
  const Bytes hero = ReadFile(out / "ui_common" / "hero.dds").value_or(Bytes{});
  EXPECT_NE(hero, expected[0][0].data);
  expected[0][0].data = hero;
  ExpectSameEntries(Entries(game_), expected);
}

// The entries' own paths come first, then the PNGs of entries whose ext is "dds": a PNG without
// a place, or of a texture that cannot be decoded, is not written, with a warning each.
TEST_F(UnpackTest, PngsGiveWayToEntriesAndToTexturesNamedSo) {
  GameSpec game;
  game.archives = {{1, "base"}};
  const Bytes texture = MakeDds(Dxt1Texture(4, 4, 1));
  const Bytes meta = TextureMeta(15, 3, 1, 4, 4);
  game.packages = {OneGroupPackage(
      "ui", true,
      {Entry("a", "tex", MakeDds(Dxt1Texture(8, 8, 2))), Entry("a", "dds", texture, meta),
       Entry("b", "dds", texture, meta), Entry("b", "png", MakeData(10, 1)),
       Entry("junk", "dds", MakeData(11, 2), {1})})};
  const ProcessResult result = RoundTrip(game, "a.tex\na.dds\nb.dds\nb.png\njunk.dds\n", {"--png"});
  const std::filesystem::path out = dir_ / "out";
  EXPECT_EQ(ListFiles(out),
            (std::vector<std::string>{"ui/a.dds", "ui/a.png", "ui/a.tex", "ui/b.dds", "ui/b.png",
                                      "ui/junk.dds", "ui/junk.dds.meta", "vintrel.json"}));
  EXPECT_EQ(PngSize(ReadFile(out / "ui" / "a.png").value_or(Bytes{})), std::make_pair(4u, 4u));
  EXPECT_EQ(ReadFile(out / "ui" / "b.png"), MakeData(10, 1));
  EXPECT_EQ(WarningLines(result.err), 3u) << result.err;
  for (const char* why :
       {"a.tex\" is a texture whose PNG", "would land on the PNG of another texture",
        "b.dds\" is a texture whose PNG", "would land on the path of an entry's file",
        "junk.dds\" is a texture that cannot be decoded"}) {
    EXPECT_NE(result.err.find(why), std::string::npos) << why << "\n" << result.err;
  }
}

TEST_F(UnpackTest, HostileNamesStayInsideAndComeBackAsTheyWere) {
  const ProcessResult result = RoundTrip(HostileGame(), HostileNames());
  const std::string unknown = "town/_unknown/";
  const std::vector<std::string> byId = {"../evil",
                                         "/abs",
                                         "C:drive",
                                         "\\\\server\\share\\x",
                                         "CON",
                                         "ask?",
                                         "ctl\x01",
                                         "trail./x",
                                         "space /x",
                                         std::string(252, 'a'),
                                         "_Unknown/x",
                                         "\xC3\xA9"
                                         "clair",
                                         "a\\b"};
  std::vector<std::string> expected = {
      "out/" + Id("CON") + "/x.bin",
      "out/odd/y.bin",
      "out/town/\xC3\x89"
      "clair.bin",
      "out/town/_duplicate/17.bin",
      "out/town/_duplicate/18.bin",
      "out/town/_unknown/" + Id("pic.dds") + ".meta",
      "out/town/_unknown/" + Id(0x1234567890abcdefu) + "." + Id(0xfedcba0987654321u),
      "out/town/a/b.bin",
      "out/town/junk.dds",
      "out/town/junk.dds.meta",
      "out/town/pic.dds",
      "out/town/ui/hero.dds",
      "out/town/ui/hero.dds.meta",
      "out/town/empty.bin",
      "out/twin_a/_duplicate/0.bin",
      "out/twin_a/only_a.bin",
      "out/twin_b/_duplicate/0.bin",
      "out/twin_b/only_b.bin",
      "out/vintrel.json",
  };
  for (const std::string& name : byId) expected.push_back("out/" + unknown + Id(name) + ".bin");
  std::sort(expected.begin(), expected.end());
  std::vector<std::string> files;
  for (const std::string& file : ListFiles(dir_.path())) {
    if (file.rfind("out/", 0) == 0) files.push_back(file);
  }
  EXPECT_EQ(files, expected);
  // One warning for each name that could not be a path, for the package named as a device, and
  // for each package with duplicates.
  EXPECT_EQ(WarningLines(result.err), byId.size() + 1 + 1 + 3) << result.err;
  const std::string config = ReadTextFile(dir_ / "out" / "vintrel.json").value_or("");
  for (const std::string& line : std::vector<std::string>{
           "{\"name\": \"ui/hero\", \"ext\": \"dds\", \"src\": \"town/ui/hero.dds\", \"pkg\": "
           "\"town\", \"meta\": \"town/ui/hero.dds.meta\"}",
           "{\"name\": \"pic\", \"ext\": \"dds\", \"src\": \"town/pic.dds\", \"pkg\": \"town\"}",
           "\"pkg_id\": \"0123456789abcdef\"",
           "\"src\": \"twin_b/only_b.bin\", \"pkg_id\": \"" + Id("twin_a") + "\""}) {
    EXPECT_NE(config.find(line), std::string::npos) << line << "\n" << config;
  }
  EXPECT_EQ(config.find("_duplicate"), std::string::npos) << config;
}

// OUTDIR must be empty unless --force; with it, files at unpack's paths are replaced, a link there
// is replaced rather than followed, and a link on the way to one stops the unpack.
TEST_F(UnpackTest, ForceReplacesFilesButFollowsNoLink) {
  std::string error;
  ASSERT_TRUE(WriteGame(HostileGame(), game_, nullptr, &error)) << error;
  ASSERT_TRUE(WriteTextFile(dir_ / "names.txt", HostileNames()));
  const std::filesystem::path written = dir_ / "out" / "odd" / "y.bin";
  ASSERT_TRUE(WriteTextFile(written, "old"));
  ASSERT_TRUE(WriteTextFile(dir_ / "out" / "keep.txt", "mine"));
  const ProcessResult refused = Inspect({"unpack", game_.string(), out()});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.err.find("holds"), std::string::npos) << refused.err;
  EXPECT_EQ(ReadTextFile(written), "old");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out" / "vintrel.json"));

  const std::vector<std::string> forced = {
      "unpack", game_.string(),       out(),     "--force",
      "--pkg",  "0x0123456789abcdef", "--names", (dir_ / "names.txt").string()};
  EXPECT_EQ(Inspect(forced).exit_code, 0);
  EXPECT_EQ(ReadFile(written), MakeData(31, 22));
  EXPECT_EQ(ReadTextFile(dir_ / "out" / "keep.txt"), "mine");

  ASSERT_TRUE(WriteTextFile(dir_ / "outside" / "target", "outside"));
  std::filesystem::remove(written);
  std::error_code linked;
  std::filesystem::create_symlink(dir_ / "outside" / "target", written, linked);
  if (linked) return;  // no symbolic links here
  EXPECT_EQ(Inspect(forced).exit_code, 0);
  EXPECT_FALSE(std::filesystem::is_symlink(written));
  EXPECT_EQ(ReadFile(written), MakeData(31, 22));
  EXPECT_EQ(ReadTextFile(dir_ / "outside" / "target"), "outside");

  std::filesystem::remove_all(dir_ / "out" / "odd");
  std::filesystem::create_directory_symlink(dir_ / "outside", dir_ / "out" / "odd");
  const ProcessResult stopped = Inspect(forced);
  EXPECT_EQ(stopped.exit_code, 1);
  EXPECT_NE(stopped.err.find("symbolic link"), std::string::npos) << stopped.err;
  EXPECT_EQ(ListFiles(dir_ / "outside"), std::vector<std::string>{"target"});
}

}  // namespace
}  // namespace vtest
