// Writes the seed corpora of the run fuzz targets and the image floor's:
//   make_fuzz_seeds <corpus dir>
// fills <corpus dir>/manifest_update (a flag byte, then section 0 of a manifest that refers to
// the packages of fuzz_game.h's game by their offsets), <corpus dir>/package_update (a flag
// byte, then one package), <corpus dir>/dds_decode (DDS files) and <corpus dir>/png_decode (PNG
// files). Every seed is deterministic, so the checked-in files can be made again.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_game.h"
#include "tests/support/bytes.h"
#include "tests/support/game_format.h"
#include "tests/support/game_writer.h"
#include "tests/support/png_file.h"
#include "tests/support/replace_files.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using vtest::Bytes;

bool Write(const fs::path& dir, const std::string& name, uint8_t flags, const Bytes& body) {
  Bytes seed{flags};
  seed.insert(seed.end(), body.begin(), body.end());
  if (vtest::WriteFile(dir / name, seed)) return true;
  std::fprintf(stderr, "cannot write %s\n", (dir / name).string().c_str());
  return false;
}

uint8_t UserName(int index) { return static_cast<uint8_t>(index << vfuzz::kUserNameShift); }

// Only the packages that the update succeeds on, plus `extra` fault packages by name.
vtest::PackageDirectory Select(const vtest::PackageDirectory& all,
                               const std::vector<std::string>& extra) {
  vtest::PackageDirectory out = all;
  out.packages.clear();
  for (const vtest::PackageRecord& record : all.packages) {
    bool wanted = !vfuzz::IsFaultPackage(record.name);
    for (const std::string& name : extra) wanted = wanted || record.name == name;
    if (wanted) out.packages.push_back(record);
  }
  return out;
}

bool WriteManifestSeeds(const fs::path& dir) {
  vtest::ScratchDir scratch;
  const vtest::GameLayout layout = vfuzz::WriteWorld(scratch.path());
  const vtest::PackageDirectory& all = layout.directory;
  const vtest::PackageDirectory good = Select(all, {});
  const Bytes goodBytes = vtest::EncodePackageDirectory(good);

  bool ok = Write(dir, "good.bin", 0, goodBytes);
  // With fullcopy a package that is passed over (left where it was) fails the pass.
  vtest::PackageDirectory copied = good;
  copied.packages.erase(
      std::remove_if(copied.packages.begin(), copied.packages.end(),
                     [](const vtest::PackageRecord& record) { return record.name == "pass_over"; }),
      copied.packages.end());
  ok = ok &&
       Write(dir, "good_fullcopy.bin", vfuzz::kFlagFullCopy, vtest::EncodePackageDirectory(copied));
  ok = ok && Write(dir, "good_user_mod.bin", UserName(1), goodBytes);
  ok = ok && Write(dir, "user_is_game_archive.bin", UserName(2), goodBytes);
  for (const char* fault : {"bad_block", "cut_table", "cut_block"}) {
    ok = ok && Write(dir, std::string("fault_") + fault + ".bin", 0,
                     vtest::EncodePackageDirectory(Select(all, {fault})));
  }

  vtest::PackageDirectory badIndex = good;
  badIndex.packages.back().archive_index = 9;
  ok = ok &&
       Write(dir, "archive_index_out_of_range.bin", 0, vtest::EncodePackageDirectory(badIndex));

  ok = ok && Write(dir, "cut_in_record.bin", 0,
                   Bytes(goodBytes.begin(), goodBytes.begin() + goodBytes.size() / 2));

  // Many id names, a record with 255 words, bytes after the last record.
  vtest::PackageDirectory wide = good;
  for (uint64_t i = 0; i < 20; ++i) wide.id_names.push_back({i, std::string(i, 'n')});
  wide.packages.front().words.assign(255, 0xABCD);
  wide.tail = {1, 2, 3, 4, 5};
  ok = ok && Write(dir, "wide_records.bin", 0, vtest::EncodePackageDirectory(wide));

  vtest::PackageDirectory noArchives = good;
  noArchives.archives.clear();
  for (vtest::PackageRecord& record : noArchives.packages) record.archive_index = vtest::kNoArchive;
  ok = ok && Write(dir, "no_archives.bin", vfuzz::kFlagFullCopy,
                   vtest::EncodePackageDirectory(noArchives));

  // A package looked for one byte too far: no magic there.
  vtest::PackageDirectory shifted = good;
  shifted.packages.front().offset += 1;
  ok = ok && Write(dir, "offset_off_by_one.bin", 0, vtest::EncodePackageDirectory(shifted));

  // Every package twice, the second listing in reverse order.
  vtest::PackageDirectory twice = good;
  twice.packages.insert(twice.packages.end(), good.packages.rbegin(), good.packages.rend());
  ok = ok && Write(dir, "packages_twice.bin", 0, vtest::EncodePackageDirectory(twice));
  return ok;
}

vtest::PackageSpec Package(const std::string& name, bool split,
                           std::vector<vtest::EntrySpec> entries) {
  return vtest::OneGroupPackage(name, split, std::move(entries));
}

// Entries whose names the configured files of fuzz_game.h match.
std::vector<vtest::EntrySpec> MatchedEntries() {
  return {
      vtest::Entry("hero", "dds", vtest::MakeDds(vtest::Dxt1Texture(8, 8, 7)),
                   vtest::TextureMeta(15, 4, 1, 8, 8)),
      vtest::Entry("menu", "txt", vtest::MakeData(200, 2), {0xAA, 0xBB}),
      vtest::Entry("strings", "loc", vtest::MakeLoc({vtest::NameHash("greeting")}),
                   vtest::LocMeta({vtest::NameHash("greeting")})),
      vtest::Entry("layout", "bin", vtest::MakeData(120, 4)),
  };
}

std::vector<vtest::EntrySpec> UnmatchedEntries() {
  return {vtest::Entry("theme", "ogg", vtest::MakeData(250, 6), {1, 0, 0, 0}),
          vtest::Entry("terrain", "bin", vtest::MakeData(90, 5))};
}

bool WritePackageSeed(const fs::path& dir, const std::string& name, uint8_t flags,
                      const vtest::PackageSpec& plan) {
  std::string error;
  const Bytes package = vtest::BuildPackage(plan, nullptr, &error);
  if (package.empty()) {
    std::fprintf(stderr, "%s: %s\n", name.c_str(), error.c_str());
    return false;
  }
  return Write(dir, name, flags, package);
}

bool WritePackageSeeds(const fs::path& dir) {
  const uint8_t match = vfuzz::kFlagMatchingPackageId;
  const auto junk = [](int n) { return static_cast<uint8_t>(n << vfuzz::kJunkShift); };
  bool ok = WritePackageSeed(dir, "split_matched.bin", match,
                             Package("ui_common", true, MatchedEntries()));
  ok = ok && WritePackageSeed(dir, "full_matched.bin", match | vfuzz::kFlagTwice,
                              Package("ui_common", false, MatchedEntries()));
  ok = ok && WritePackageSeed(dir, "split_fullcopy.bin", vfuzz::kFlagFullCopy | vfuzz::kFlagTwice,
                              Package("other", true, UnmatchedEntries()));
  ok = ok &&
       WritePackageSeed(dir, "full_unmatched.bin", 0, Package("other", false, UnmatchedEntries()));

  // Three groups, the middle one empty; typeBytes with high bits; tables in the other order with
  // junk between them; blocks placed out of order with gaps; junk before the package.
  vtest::PackageSpec groups = Package("ui_common", true, {});
  groups.groups.resize(3);
  groups.groups[0].entries = MatchedEntries();
  groups.groups[2].entries = UnmatchedEntries();
  groups.groups[2].entries[0].type_high_bits = 7;
  groups.entry_table_first = true;
  groups.index_gap = 3;
  groups.table_gap = 5;
  groups.data_gap = 2;
  groups.block_order = {5, 0, 4, 1, 3, 2};
  groups.block_gap = 6;
  groups.index_tail = {0xDE, 0xAD};
  groups.entry_table_tail = {1, 2, 3};
  ok = ok && WritePackageSeed(dir, "groups_reordered.bin", match | junk(5), groups);

  // Thirty-one unused extension ids before "loc": the localisation entry has extIndex 31.
  vtest::PackageSpec wide = Package("ui_common", false, {});
  for (uint64_t i = 0; i < 31; ++i) wide.ext_ids.push_back(0x1000 + i);
  wide.ext_ids.push_back(vtest::NameHash("loc"));
  wide.groups[0].entries = {MatchedEntries()[2]};
  ok = ok && WritePackageSeed(dir, "ext_index_31.bin", junk(7), wide);

  const struct {
    const char* name;
    bool split;
    vtest::PackageFault fault;
  } faults[] = {
      {"bad_magic.bin", true, vtest::PackageFault::kBadMagic},
      {"index_table_cut.bin", true, vtest::PackageFault::kIndexTableCut},
      {"entry_table_cut.bin", false, vtest::PackageFault::kEntryTableCut},
      {"name_ids_out_of_block.bin", true, vtest::PackageFault::kNameIdsOutOfBlock},
      {"ext_index_out_of_list.bin", false, vtest::PackageFault::kExtIndexOutOfList},
      {"corrupt_block.bin", true, vtest::PackageFault::kCorruptBlock},
      {"cut_last_block_full.bin", false, vtest::PackageFault::kCutLastBlock},
  };
  for (const auto& f : faults) {
    // The unmatched entries first: the damaged block is the first one, and it must be read.
    std::vector<vtest::EntrySpec> entries = UnmatchedEntries();
    for (vtest::EntrySpec& entry : MatchedEntries()) entries.push_back(std::move(entry));
    vtest::PackageSpec plan = Package("ui_common", f.split, std::move(entries));
    plan.fault = f.fault;
    ok = ok && WritePackageSeed(dir, f.name, match, plan);
  }

  vtest::PackageSpec passOver = Package("ui_common", true, MatchedEntries());
  passOver.override_entry_table_size = 0;
  ok = ok && WritePackageSeed(dir, "passed_over.bin", match | vfuzz::kFlagFullCopy, passOver);
  return ok;
}

vtest::DdsSpec Texture(uint32_t fourCC, uint32_t flags, uint32_t bits, uint32_t width,
                       uint32_t height, size_t bytes) {
  vtest::DdsSpec plan;
  plan.width = width;
  plan.height = height;
  plan.mip_count = 1;
  plan.fourcc = fourCC;
  plan.pf_flags = flags;
  plan.rgb_bit_count = bits;
  plan.payload = vtest::MakeData(bytes, width * 31 + height);
  return plan;
}

vtest::DdsSpec Masked(uint32_t flags, uint32_t bits, uint32_t r, uint32_t g, uint32_t b,
                      uint32_t a) {
  vtest::DdsSpec plan = Texture(0, flags, bits, 4, 4, 16 * bits / 8);
  plan.r_mask = r;
  plan.g_mask = g;
  plan.b_mask = b;
  plan.a_mask = a;
  return plan;
}

bool WriteImageSeeds(const fs::path& ddsDir, const fs::path& pngDir) {
  vtest::DdsSpec cube = vtest::Argb32Texture(2, 2, 4);
  cube.mip_count = 2;
  cube.caps2 = 0xFE00;
  cube.payload = vtest::MakeData(6 * 5 * 4, 4);
  vtest::DdsSpec volume = vtest::Argb32Texture(2, 2, 5);
  volume.mip_count = 2;
  volume.depth = 2;
  volume.caps2 = 0x200000;
  volume.payload = vtest::MakeData((8 + 1) * 4, 5);
  Bytes hero;
  for (const auto& file : vtest::ExampleMod()) {
    if (file.first == "hero.dds") hero = file.second;
  }
  const std::pair<const char*, Bytes> dds[] = {
      {"hero.dds", hero},
      {"dxt1_chain.dds", vtest::MakeDds(vtest::Dxt1Texture(8, 8, 7))},
      {"dxt3.dds", vtest::MakeDds(Texture(vtest::FourCC('D', 'X', 'T', '3'), 4, 0, 8, 4, 32))},
      {"dxt5.dds", vtest::MakeDds(Texture(vtest::FourCC('D', 'X', 'T', '5'), 4, 0, 5, 3, 32))},
      {"a8r8g8b8.dds", vtest::MakeDds(vtest::Argb32Texture(7, 5, 3))},
      {"a1r5g5b5.dds", vtest::MakeDds(Masked(0x41, 16, 0x7C00, 0x3E0, 0x1F, 0x8000))},
      {"r5g6b5.dds", vtest::MakeDds(Masked(0x40, 16, 0xF800, 0x7E0, 0x1F, 0))},
      {"a8l8.dds", vtest::MakeDds(Masked(0x20001, 16, 0xFF, 0, 0, 0xFF00))},
      {"l8.dds", vtest::MakeDds(Masked(0x20000, 8, 0xFF, 0, 0, 0))},
      {"a8.dds", vtest::MakeDds(Masked(0x2, 8, 0, 0, 0, 0xFF))},
      {"r8g8b8.dds", vtest::MakeDds(Masked(0x40, 24, 0xFF0000, 0xFF00, 0xFF, 0))},
      {"cube.dds", vtest::MakeDds(cube)},
      {"volume.dds", vtest::MakeDds(volume)},
  };
  bool ok = true;
  for (const auto& seed : dds) ok = ok && vtest::WriteFile(ddsDir / seed.first, seed.second);

  vtest::PngSpec rgba;
  rgba.width = 3;
  rgba.height = 2;
  rgba.rows = vtest::MakeData(24, 7);
  vtest::PngSpec grey16 = rgba;
  grey16.bit_depth = 16;
  grey16.colour_type = 0;
  grey16.rows = vtest::MakeData(12, 8);
  vtest::PngSpec palette = rgba;
  palette.colour_type = 3;
  palette.rows = {0, 1, 2, 2, 1, 0};
  palette.palette = {255, 0, 0, 0, 255, 0, 0, 0, 255};
  palette.transparency = {0x80};
  vtest::PngSpec bits = rgba;
  bits.bit_depth = 1;
  bits.colour_type = 0;
  bits.rows = {0xA0, 0x40};
  const std::pair<const char*, vtest::PngSpec> png[] = {
      {"rgba8.png", rgba}, {"grey16.png", grey16}, {"palette.png", palette}, {"grey1.png", bits}};
  for (const auto& seed : png)
    ok = ok && vtest::WriteFile(pngDir / seed.first, vtest::MakePng(seed.second));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds <corpus dir>\n");
    return 2;
  }
  const fs::path corpus = argv[1];
  std::error_code ec;
  fs::create_directories(corpus / "manifest_update", ec);
  fs::create_directories(corpus / "package_update", ec);
  fs::create_directories(corpus / "dds_decode", ec);
  fs::create_directories(corpus / "png_decode", ec);
  const bool ok = WriteManifestSeeds(corpus / "manifest_update") &&
                  WritePackageSeeds(corpus / "package_update") &&
                  WriteImageSeeds(corpus / "dds_decode", corpus / "png_decode");
  return ok ? 0 : 1;
}
