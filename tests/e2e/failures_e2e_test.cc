// Runs of the main job that fail: exit status 1, no message on standard output beyond the
// progress lines already printed, one line on standard error that says why, and the game left as
// it was: its archives, manifest.bin and origmanifest.bin.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/game_run.h"
#include "tests/support/scratch_dir.h"

namespace vtest {
namespace {

// A game and a mod that would run, for a failure case to break.
struct FailingRun {
  GameSpec game;
  std::vector<ConfigFile> config;
  std::optional<std::string> upak;
  std::vector<std::pair<std::string, Bytes>> files;  // mod files
  // Applied to game/ after the game is written; what it leaves counts as the untouched game.
  std::function<void(const std::filesystem::path&)> alter_game;

  PackageSpec& Package(const std::string& name) {
    for (PackageSpec& p : game.packages) {
      if (p.record.name == name) return p;
    }
    ADD_FAILURE() << "no package " << name;
    return game.packages.front();
  }
  void Replace(const std::string& name, const std::string& ext, const Bytes& data) {
    const std::string file = name + "." + ext;
    config.push_back({name, ext, file, {}, {}});
    files.push_back({file, data});
  }
};

// Three packages: "first" (split, in base) is always rewritten before the others are reached;
// "second" (split, in extra) holds "other.bin" first in table order and "hero.dds"; "third"
// (full, in extra) holds "strings.loc" and "more.bin". The manifest is shuffled and carries
// version 12, so that any rewrite of it shows.
FailingRun BaseRun() {
  FailingRun run;
  GameSpec& game = run.game;
  game.archives = {{1, "base"}, {2, "extra"}};
  game.packages = {
      MakePackage("first", 0, true, {Entry("data", "bin", MakeData(500, 1), {1})}),
      MakePackage(
          "second", 1, true,
          {Entry("other", "bin", MakeData(300, 2), {2}),
           Entry("hero", "dds", MakeDds(Dxt1Texture(8, 8, 3)), TextureMeta(15, 4, 1, 8, 8))}),
      MakePackage("third", 1, false,
                  {Entry("strings", "loc", MakeLoc({5}), LocMeta({5})),
                   Entry("more", "bin", MakeData(200, 4), {3})}),
  };
  game.gap_before = {7, 3, 5};
  game.opaque_sections = OpaqueSections();
  game.manifest_layout.version = 12;
  game.manifest_layout.order = {4, 3, 2, 1, 0};
  game.manifest_layout.gap_before = {2, 0, 1, 0, 3};
  run.Replace("data", "bin", MakeData(700, 5));
  return run;
}

struct FailureCase {
  std::string name;
  std::function<void(FailingRun&)> setup;
  std::vector<std::string> printed;  // packages whose progress lines come before the failure
  std::string error;                 // a regular expression that the error line matches
};

// Without this gtest prints a case as its raw bytes, the uninitialised ones of std::function
// included, which memory checkers report.
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

FailureCase UnsupportedTexture(const std::string& name, const std::function<void(DdsSpec&)>& edit,
                               const std::string& why) {
  return {"UnsupportedTexture" + name,
          [edit](FailingRun& run) {
            DdsSpec plan = Dxt1Texture(8, 8, 20);
            edit(plan);
            run.Replace("hero", "dds", MakeDds(plan));
          },
          {"first", "second"},
          "\"[^\"]*hero\\.dds\": " + why};
}

FailureCase ReplacedDdsFile(const std::string& name, Bytes dds, const std::string& why) {
  return {name,
          [dds](FailingRun& run) { run.Replace("hero", "dds", dds); },
          {"first", "second"},
          "\"[^\"]*hero\\.dds\": " + why};
}

FailureCase PackageFaultCase(const std::string& name, const std::string& package,
                             PackageFault fault, std::vector<std::string> printed,
                             const std::string& why) {
  return {name,
          [package, fault](FailingRun& run) {
            run.Package(package).fault = fault;
            // Give the damaged package a replaced entry, so that it is read beyond its header.
            if (package == "second") run.Replace("hero", "dds", MakeDds(Dxt1Texture(4, 4, 21)));
            if (package == "third") run.Replace("strings", "loc", MakeLoc({6}));
          },
          std::move(printed),
          "^vintrel: error: package \"" + package +
              "\" in \"[^\"]*extra\\.upak\" at offset [0-9]+: " + why};
}

std::vector<FailureCase> FailureCases() {
  Bytes shortDds = MakeDds(Dxt1Texture(4, 4, 22));
  shortDds.resize(127);
  Bytes cutLoc = MakeLoc({1, 2, 3});
  cutLoc.resize(20);
  Bytes wrongLocMagic = MakeLoc({1});
  wrongLocMagic[3] = 3;

  std::vector<FailureCase> cases = {
      {"MissingReplacingFile",
       [](FailingRun& run) {
         run.config.push_back({"hero", "dds", "absent.dds", {}, {}});
       },
       {"first", "second"},
       "cannot read \"[^\"]*absent\\.dds\": "},
      {"MissingMetaFile",
       [](FailingRun& run) {
         run.config.push_back({"hero", "dds", "hero.dds", {}, "absent.meta"});
         run.files.push_back({"hero.dds", MakeDds(Dxt1Texture(4, 4, 23))});
       },
       {"first", "second"},
       "cannot read \"[^\"]*absent\\.meta\": "},
      PackageFaultCase("CorruptBlockInSplitPackage", "second", PackageFault::kCorruptBlock,
                       {"first", "second"}, "a compressed block is damaged"),
      PackageFaultCase("CorruptBlockInFullPackage", "third", PackageFault::kCorruptBlock,
                       {"first", "third"}, "a compressed block is damaged"),
      PackageFaultCase("ArchiveEndsInsideTheBlock", "third", PackageFault::kCutLastBlock,
                       {"first", "third"}, "a compressed block is cut short by the end"),
      PackageFaultCase("WrongMagic", "second", PackageFault::kBadMagic, {"first"},
                       "no package here"),
      PackageFaultCase("IndexTableCut", "second", PackageFault::kIndexTableCut, {"first"},
                       "group 0 declares 2 entries, more than the index table holds"),
      PackageFaultCase("EntryTableCutInSplitPackage", "second", PackageFault::kEntryTableCut,
                       {"first", "second"}, "the entry table ends inside the record of entry 1"),
      PackageFaultCase("EntryTableCutInFullPackage", "third", PackageFault::kEntryTableCut,
                       {"first", "third"}, "the entry table ends inside the record of entry 1"),
      PackageFaultCase("NameIdsOutsideTheIdBlock", "second", PackageFault::kNameIdsOutOfBlock,
                       {"first"}, "the name id of entry 0 lies outside the id block"),
      PackageFaultCase("ExtIndexPastTheExtensionList", "second", PackageFault::kExtIndexOutOfList,
                       {"first"}, "the extension id of entry 1 .* lies outside the id block"),
      {"MissingArchive",
       [](FailingRun& run) { run.game.omit_archives = {"extra"}; },
       {},
       "cannot open archive \"[^\"]*extra\\.upak\": "},
      {"ArchiveIndexPastTheList",
       [](FailingRun& run) { run.Package("third").archive_index = 5; },
       {"first"},
       "package record 2 names archive 5 of a list of 2"},
      {"DirectoryCutInsideTheLastRecord",
       [](FailingRun& run) {
         const ManifestLayout layout = run.game.manifest_layout;
         run.alter_game = [layout](const std::filesystem::path& dir) {
           std::string error;
           std::optional<ParsedManifest> manifest = ReadManifestFile(dir / "manifest.bin", &error);
           ASSERT_TRUE(manifest) << error;
           std::array<Bytes, 5> sections = manifest->sections;
           sections[0].resize(sections[0].size() - 5);
           ASSERT_TRUE(WriteFile(dir / "manifest.bin", EncodeManifest(sections, layout)));
         };
       },
       {"first"},
       "the package directory ends inside a package record"},
      // Creating the user archive would truncate the game's own archive of that name.
      {"UserArchiveNamedLikeAGameArchive",
       [](FailingRun& run) { run.upak = "base"; },
       {},
       "\"upak\" \"base\" names an archive of the game; choose another name"},
      UnsupportedTexture(
          "Dxt2", [](DdsSpec& s) { s.fourcc = FourCC('D', 'X', 'T', '2'); },
          "unsupported texture format \\(FourCC \"DXT2\"\\)"),
      UnsupportedTexture(
          "Ati2", [](DdsSpec& s) { s.fourcc = FourCC('A', 'T', 'I', '2'); },
          "unsupported texture format \\(FourCC \"ATI2\"\\)"),
      UnsupportedTexture(
          "FloatRed", [](DdsSpec& s) { s.fourcc = 114; },
          "unsupported texture format \\(FourCC 114\\)"),
      UnsupportedTexture(
          "Rgb24",
          [](DdsSpec& s) {
            s.pf_flags = 0x40;
            s.fourcc = 0;
            s.rgb_bit_count = 24;
          },
          "unsupported texture format \\(pixel format flags 0x40, 24 bits per pixel\\)"),
      UnsupportedTexture(
          "Luminance8",
          [](DdsSpec& s) {
            s.pf_flags = 0x20000;
            s.fourcc = 0;
            s.rgb_bit_count = 8;
          },
          "unsupported texture format \\(pixel format flags 0x20000, 8 bits per pixel\\)"),
      UnsupportedTexture(
          "CubeMapAndVolume",
          [](DdsSpec& s) {
            s.caps2 = 0x200200;
            s.depth = 2;
          },
          "a texture cannot be a cube map and a volume at once"),
      UnsupportedTexture(
          "HeaderSize123", [](DdsSpec& s) { s.header_size = 123; },
          "the DDS header does not give its size as 124 bytes"),
      ReplacedDdsFile("DdsFileOf127Bytes", shortDds,
                      "the DDS file is shorter than its 128-byte header"),
      ReplacedDdsFile("NotADdsFile", {'D', 'D', 'S', '!', 0, 0, 0, 0}, "not a DDS texture"),
      {"LocFileCutInsideItsIds",
       [cutLoc](FailingRun& run) { run.Replace("strings", "loc", cutLoc); },
       {"first", "third"},
       "\"[^\"]*strings\\.loc\": the localisation file declares 3 ids but holds only 1"},
      {"LocFileWithWrongMagic",
       [wrongLocMagic](FailingRun& run) { run.Replace("strings", "loc", wrongLocMagic); },
       {"first", "third"},
       "\"[^\"]*strings\\.loc\": not a localisation file"},
  };
  return cases;
}

class MainJobFailure : public GameRunTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(MainJobFailure, LeavesTheGameUntouched) {
  FailingRun run = BaseRun();
  GetParam().setup(run);
  WriteGame(run.game);
  if (run.alter_game) {
    run.alter_game(run_.game_path());
    SnapshotGame();
  }
  WriteMod(run.config, run.upak);
  for (const auto& [path, bytes] : run.files) WriteModFile(path, bytes);

  ExpectFailure(Run(), GetParam().printed, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(Cases, MainJobFailure, testing::ValuesIn(FailureCases()),
                         [](const testing::TestParamInfo<FailureCase>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace vtest
