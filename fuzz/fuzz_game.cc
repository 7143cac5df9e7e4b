#include "fuzz/fuzz_game.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <system_error>

#include "driver/name_hash.h"
#include "driver/run_context.h"
#include "tests/support/game_format.h"
#include "tests/support/replace_files.h"
#include "tests/support/scratch_dir.h"

namespace vfuzz {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Die(const std::string& message) {
  std::fprintf(stderr, "fuzz setup: %s\n", message.c_str());
  std::abort();
}

vtest::PackageSpec FaultPackage(const std::string& name, bool split, vtest::PackageFault fault) {
  vtest::PackageSpec p;
  p.record.name = name;
  p.record.package_id = vtest::NameHash(name);
  p.record.words = {1, 2};
  p.archive_index = 4;
  p.split = split;
  p.fault = fault;
  vtest::GroupSpec group;
  // The first block (the one a fault damages) is carried over, the second is replaced.
  group.entries = {vtest::Entry("theme", "ogg", vtest::MakeData(180, 21), {1, 2, 3}),
                   vtest::Entry("menu", "txt", vtest::MakeData(60, 22))};
  p.groups.push_back(group);
  return p;
}

const char* const kFaultPackages[] = {"bad_block", "cut_table", "cut_block"};

struct ConfiguredFile {
  const char* name;
  const char* ext;
  const char* src;
  const char* pkg;   // nullptr: any package
  const char* meta;  // nullptr: none
};

// The same entry names as the game, so that the seeds reach the replacing paths; "terrain" is
// restricted to a package that does not exist and never matches.
const ConfiguredFile kConfigured[] = {
    {"hero", "dds", "hero.dds", "ui_common", nullptr},
    {"strings", "loc", "strings.loc", nullptr, nullptr},
    {"menu", "txt", "menu.txt", nullptr, "menu.meta"},
    {"layout", "bin", "layout.bin", nullptr, nullptr},
    {"terrain", "bin", "layout.bin", "nowhere", nullptr},
    // Shadowed in ui_common by the first; elsewhere its metadata comes from the meta file.
    {"hero", "dds", "hero.dds", nullptr, "menu.meta"},
};

}  // namespace

vtest::GameSpec FuzzGame() {
  vtest::GameSpec game = vtest::ExampleGame();
  game.archives.push_back({5, "faults"});

  game.packages.push_back(FaultPackage("bad_block", true, vtest::PackageFault::kCorruptBlock));
  game.packages.push_back(FaultPackage("cut_table", false, vtest::PackageFault::kEntryTableCut));
  vtest::PackageSpec passOver = FaultPackage("pass_over", true, vtest::PackageFault::kNone);
  passOver.override_data_offset = 0xFFFFFFFFu;
  game.packages.push_back(passOver);
  // Thirty-one ids that nothing uses, then "loc": the localisation entry has extIndex 31.
  vtest::PackageSpec wide = FaultPackage("wide_ext", false, vtest::PackageFault::kNone);
  for (uint64_t i = 0; i < 31; ++i) wide.ext_ids.push_back(0x1000 + i);
  wide.ext_ids.push_back(vtest::NameHash("loc"));
  wide.groups[0].entries = {vtest::Entry(
      "strings", "loc", vtest::MakeLoc({vtest::NameHash("greeting")}), vtest::LocMeta({1}))};
  game.packages.push_back(wide);
  // Must stay the last package of its archive: the archive ends inside its last block.
  vtest::PackageSpec cutBlock = FaultPackage("cut_block", true, vtest::PackageFault::kCutLastBlock);
  cutBlock.block_order = {1, 0};  // the carried-over block last, so that the cut is read
  game.packages.push_back(cutBlock);
  return game;
}

bool IsFaultPackage(const std::string& name) {
  for (const char* fault : kFaultPackages) {
    if (name == fault) return true;
  }
  return false;
}

std::vector<std::pair<std::string, vtest::Bytes>> ModFiles() {
  std::vector<std::pair<std::string, vtest::Bytes>> files = vtest::ExampleMod();
  files.push_back({"layout.bin", vtest::MakeData(333, 31)});
  return files;
}

bool AddEntries(RunContext& context, const std::string& srcDir) {
  for (const ConfiguredFile& file : kConfigured) {
    PackFileEntry* entry = PackFileEntryList::NewEntry();
    if (entry == nullptr) return false;
    entry->sourcePath.Assign((srcDir + file.src).c_str());
    if (file.meta != nullptr) entry->metaPath.Assign((srcDir + file.meta).c_str());
    entry->nameId = name_hash(file.name);
    entry->extId = name_hash(file.ext);
    entry->packageId = file.pkg != nullptr ? name_hash(file.pkg) : 0;
    context.entries.Append(entry);
  }
  return true;
}

fs::path MakeScratchDir(const char* tag) {
  std::error_code ec;
  fs::path base = "/dev/shm";
  if (!fs::is_directory(base, ec)) base = fs::temp_directory_path(ec);
  if (ec) Die("no temp directory");
  std::random_device device;
  std::mt19937_64 random(
      device() ^
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof name, "vintrel-fuzz-%s-%08x", tag, static_cast<unsigned>(random()));
    const fs::path candidate = base / name;
    if (fs::create_directory(candidate, ec) && !ec) return candidate;
  }
  Die("cannot create a scratch directory under " + base.string());
}

vtest::GameLayout WriteWorld(const fs::path& dir) {
  std::error_code ec;
  fs::create_directories(dir / "game", ec);
  vtest::GameLayout layout;
  std::string error;
  if (!vtest::WriteGame(FuzzGame(), dir / "game", &layout, &error)) Die(error);
  for (const auto& [name, bytes] : ModFiles()) {
    if (!vtest::WriteFile(dir / "mod" / name, bytes)) Die("cannot write " + name);
  }
  return layout;
}

int CountFiles(const fs::path& dir) {
  std::error_code ec;
  int count = 0;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) ++count;
  return count;
}

int CountOpenFiles() {
  std::error_code ec;
  const fs::path fds = "/proc/self/fd";
  if (!fs::is_directory(fds, ec)) return -1;
  return CountFiles(fds);
}

}  // namespace vfuzz
