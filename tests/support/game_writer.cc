#include "tests/support/game_writer.h"

#include <algorithm>
#include <fstream>
#include <map>

#include "tests/support/replace_files.h"

namespace vtest {
namespace {

// Junk that is neither zero nor one repeated byte, so that a reader which takes it for data
// or a writer which copies it where zeros belong is caught.
void PutJunk(Bytes& out, size_t count, uint32_t salt) {
  for (size_t i = 0; i < count; ++i) {
    out.push_back(static_cast<uint8_t>(0x80 | ((i * 37 + salt * 11 + 5) & 0x7F)));
  }
}

bool Fail(std::string* error, const std::string& message) {
  *error = message;
  return false;
}

}  // namespace

EntrySpec Entry(const std::string& name, const std::string& ext, Bytes data, Bytes meta) {
  EntrySpec e;
  e.name = name;
  e.ext = ext;
  e.name_id = NameHash(name);
  e.ext_id = NameHash(ext);
  e.data = std::move(data);
  e.meta = std::move(meta);
  return e;
}

EntrySpec RawEntry(uint64_t name_id, uint64_t ext_id, Bytes data, Bytes meta) {
  EntrySpec e;
  e.name_id = name_id;
  e.ext_id = ext_id;
  e.data = std::move(data);
  e.meta = std::move(meta);
  return e;
}

Bytes BuildPackage(const PackageSpec& plan, PackageLayout* layout, std::string* error) {
  std::vector<const EntrySpec*> entries;
  for (const GroupSpec& g : plan.groups) {
    for (const EntrySpec& e : g.entries) entries.push_back(&e);
  }
  const size_t n = entries.size();

  std::vector<uint64_t> ext_ids = plan.ext_ids;
  if (ext_ids.empty()) {
    for (const EntrySpec* e : entries) {
      if (std::find(ext_ids.begin(), ext_ids.end(), e->ext_id) == ext_ids.end()) {
        ext_ids.push_back(e->ext_id);
      }
    }
  }
  if (ext_ids.size() > 32) {
    Fail(error, "more than 32 extension ids");
    return {};
  }
  std::vector<uint8_t> type_bytes;
  for (const EntrySpec* e : entries) {
    auto it = std::find(ext_ids.begin(), ext_ids.end(), e->ext_id);
    if (it == ext_ids.end()) {
      Fail(error, "entry " + e->name + " has an ext id missing from the extension list");
      return {};
    }
    type_bytes.push_back(
        static_cast<uint8_t>((e->type_high_bits & 7) << 5 | (it - ext_ids.begin())));
  }
  bool needs_entry = plan.fault == PackageFault::kEntryTableCut ||
                     plan.fault == PackageFault::kNameIdsOutOfBlock ||
                     plan.fault == PackageFault::kExtIndexOutOfList ||
                     plan.fault == PackageFault::kCorruptBlock ||
                     plan.fault == PackageFault::kCutLastBlock;
  if (needs_entry && n == 0) {
    Fail(error, "the fault needs a package with entries");
    return {};
  }
  if (plan.fault == PackageFault::kExtIndexOutOfList) {
    if (ext_ids.size() >= 32) {
      Fail(error, "kExtIndexOutOfList needs fewer than 32 extension ids");
      return {};
    }
    type_bytes.back() = static_cast<uint8_t>((type_bytes.back() & 0xE0) | ext_ids.size());
  }

  // IdBlock: the groups' name ids first, the extension list last, so that extIdsOffset is not 0
  // and an extIndex past the list also lies past the block.
  Bytes id_block;
  std::vector<uint32_t> name_ids_offsets;
  for (const GroupSpec& g : plan.groups) {
    name_ids_offsets.push_back(static_cast<uint32_t>(id_block.size()));
    for (const EntrySpec& e : g.entries) PutU64(id_block, e.name_id);
  }
  uint32_t ext_ids_offset = static_cast<uint32_t>(id_block.size());
  for (uint64_t id : ext_ids) PutU64(id_block, id);
  if (plan.fault == PackageFault::kNameIdsOutOfBlock) {
    for (size_t g = plan.groups.size(); g-- > 0;) {
      if (!plan.groups[g].entries.empty()) {
        name_ids_offsets[g] = static_cast<uint32_t>(id_block.size() - 4);
        break;
      }
    }
  }

  Bytes index;
  PutU32(index, static_cast<uint32_t>(plan.groups.size()));
  PutU32(index, plan.index_fields[0]);
  PutU32(index, static_cast<uint32_t>(id_block.size()));
  PutU32(index, plan.index_fields[1]);
  PutBytes(index, id_block);
  PutU32(index, plan.index_fields[2]);
  PutU32(index, ext_ids_offset);
  PutU32(index, plan.index_fields[3]);
  PutU32(index, plan.index_fields[4]);
  size_t k = 0;
  for (size_t g = 0; g < plan.groups.size(); ++g) {
    const GroupSpec& group = plan.groups[g];
    PutU32(index, group.field0);
    PutU32(index, static_cast<uint32_t>(group.entries.size()));
    PutU32(index, name_ids_offsets[g]);
    PutU32(index, group.field3);
    for (size_t j = 0; j < group.entries.size(); ++j) PutU8(index, type_bytes[k++]);
  }
  PutBytes(index, plan.index_tail);

  // Blocks, compressed up front: their sizes fix the EntryLocations.
  std::vector<Bytes> blocks;
  if (plan.split) {
    for (const EntrySpec* e : entries) blocks.push_back(MakeBlock(e->data, plan.level));
  } else {
    Bytes all;
    for (const EntrySpec* e : entries) PutBytes(all, e->data);
    blocks.push_back(MakeBlock(all, plan.level));
  }
  std::vector<size_t> order = plan.block_order;
  if (!plan.split || order.empty()) {
    order.clear();
    for (size_t i = 0; i < blocks.size(); ++i) order.push_back(i);
  }
  {
    std::vector<size_t> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 0; i < sorted.size(); ++i) {
      if (sorted.size() != blocks.size() || sorted[i] != i) {
        Fail(error, "block order is not a permutation of the entries");
        return {};
      }
    }
    if (sorted.size() != blocks.size()) {
      Fail(error, "block order is not a permutation of the entries");
      return {};
    }
  }
  if (plan.fault == PackageFault::kCorruptBlock) {
    Bytes& first = blocks[0];
    first[first.size() - 2] ^= 0x5A;  // inside the Adler-32 trailer
  }

  // EntryTable size does not depend on the location values.
  size_t entry_table_size = 0;
  for (const EntrySpec* e : entries) entry_table_size += 8 + e->meta.size();
  size_t last_info_offset = entry_table_size - (n == 0 ? 0 : 8 + entries.back()->meta.size());
  entry_table_size += 4 * n + plan.entry_table_tail.size();

  size_t position = kPackageHeaderSize + plan.index_gap;
  size_t index_offset, entry_table_offset;
  if (plan.entry_table_first) {
    entry_table_offset = position;
    index_offset = position + entry_table_size + plan.table_gap;
    position = index_offset + index.size();
  } else {
    index_offset = position;
    entry_table_offset = position + index.size() + plan.table_gap;
    position = entry_table_offset + entry_table_size;
  }
  position += plan.data_gap;
  if (plan.align_data) position = (position + kPackageAlignment - 1) / kPackageAlignment * 2048;
  const size_t data_offset = position;

  std::vector<uint32_t> block_offsets(blocks.size());
  for (size_t i = 0; i < order.size(); ++i) {
    if (i > 0) position += plan.block_gap;
    block_offsets[order[i]] = static_cast<uint32_t>(position);
    position += blocks[order[i]].size();
  }

  Bytes entry_table;
  for (const EntrySpec* e : entries) {
    PutU32(entry_table, static_cast<uint32_t>(e->data.size()));
    PutU32(entry_table, static_cast<uint32_t>(e->meta.size()));
    PutBytes(entry_table, e->meta);
  }
  std::vector<uint32_t> locations;
  for (size_t i = 0; i < n; ++i) {
    locations.push_back(plan.split ? block_offsets[i]
                                   : static_cast<uint32_t>(entries[i]->data.size()));
    PutU32(entry_table, locations.back());
  }
  PutBytes(entry_table, plan.entry_table_tail);

  PackageHeader header;
  header.magic = plan.fault == PackageFault::kBadMagic ? 0x5850424Fu : kPackageMagic;
  header.attr_byte = plan.attr_byte;
  header.attr_word = plan.attr_word;
  header.index_offset = static_cast<uint32_t>(index_offset);
  header.index_size = static_cast<uint32_t>(index.size());
  header.entry_table_offset = static_cast<uint32_t>(entry_table_offset);
  header.entry_table_size = static_cast<uint32_t>(entry_table.size());
  header.data_offset = static_cast<uint32_t>(data_offset);
  header.split_compress = plan.split ? plan.split_value : 0;
  if (plan.fault == PackageFault::kIndexTableCut) {
    header.index_size -= static_cast<uint32_t>(plan.index_tail.size() + 1);
  }
  if (plan.fault == PackageFault::kEntryTableCut) {
    header.entry_table_size = static_cast<uint32_t>(last_info_offset + 6);
  }
  if (plan.override_index_offset) header.index_offset = *plan.override_index_offset;
  if (plan.override_index_size) header.index_size = *plan.override_index_size;
  if (plan.override_entry_table_offset) {
    header.entry_table_offset = *plan.override_entry_table_offset;
  }
  if (plan.override_entry_table_size) header.entry_table_size = *plan.override_entry_table_size;
  if (plan.override_data_offset) header.data_offset = *plan.override_data_offset;

  Bytes out = EncodePackageHeader(header);
  auto place = [&out](size_t offset, const Bytes& bytes, uint32_t salt) {
    if (out.size() < offset) PutJunk(out, offset - out.size(), salt);
    PutBytes(out, bytes);
  };
  if (plan.entry_table_first) {
    place(entry_table_offset, entry_table, 1);
    place(index_offset, index, 2);
  } else {
    place(index_offset, index, 1);
    place(entry_table_offset, entry_table, 2);
  }
  // The data gap is junk, the alignment after it zero fill.
  PutJunk(out, plan.data_gap, 3);
  out.resize(data_offset, 0);
  for (size_t i = 0; i < order.size(); ++i) place(block_offsets[order[i]], blocks[order[i]], 4);
  if (plan.fault == PackageFault::kCutLastBlock) {
    const Bytes& last = blocks[order.back()];
    out.resize(block_offsets[order.back()] + last.size() / 2);
  }

  if (layout != nullptr) {
    layout->header = header;
    layout->index_table = index;
    layout->entry_table = entry_table;
    layout->ext_ids = ext_ids;
    layout->size = out.size();
    layout->entries.clear();
    for (size_t i = 0; i < n; ++i) {
      EntryLayout e;
      e.name_id = entries[i]->name_id;
      e.ext_id = entries[i]->ext_id;
      e.type_byte = type_bytes[i];
      e.data = entries[i]->data;
      e.meta = entries[i]->meta;
      e.location = locations[i];
      layout->entries.push_back(std::move(e));
    }
  }
  return out;
}

bool WriteGame(const GameSpec& plan, const std::filesystem::path& dir, GameLayout* layout,
               std::string* error) {
  GameLayout result;
  PackageDirectory& directory = result.directory;
  directory.directory_value = plan.directory_value;
  directory.id_names = plan.id_names;
  directory.archives = plan.archives;
  directory.tail = plan.directory_tail;
  if (plan.archives.size() > 255) return Fail(error, "more than 255 archives");

  // Archive contents by name, in the order names first appear in the list.
  std::map<std::string, Bytes> contents;
  std::map<std::string, bool> closed;  // an archive cut inside its last block takes no more
  for (const ArchiveRecord& a : plan.archives) {
    if (contents.emplace(a.name, Bytes()).second) result.archive_files.push_back(a.name + ".upak");
  }

  for (size_t i = 0; i < plan.packages.size(); ++i) {
    const PackageSpec& p = plan.packages[i];
    PackageLayout pl;
    Bytes bytes = BuildPackage(p, &pl, error);
    if (bytes.empty()) return Fail(error, "package " + p.record.name + ": " + *error);
    pl.record = p.record;
    pl.record.archive_index = p.archive_index;
    pl.record.offset = p.record.offset;
    if (p.archive_index < plan.archives.size()) {
      pl.archive = plan.archives[p.archive_index].name;
      if (closed[pl.archive]) {
        return Fail(error, "package " + p.record.name + " follows a cut package in " + pl.archive);
      }
      Bytes& archive = contents[pl.archive];
      PutJunk(archive, i < plan.gap_before.size() ? plan.gap_before[i] : 0,
              static_cast<uint32_t>(i));
      pl.offset = archive.size();
      pl.record.offset = pl.offset;
      PutBytes(archive, bytes);
      if (p.fault == PackageFault::kCutLastBlock) closed[pl.archive] = true;
    }
    directory.packages.push_back(pl.record);
    result.packages.push_back(std::move(pl));
  }

  for (auto& [name, bytes] : contents) {
    if (std::find(plan.omit_archives.begin(), plan.omit_archives.end(), name) !=
        plan.omit_archives.end()) {
      continue;
    }
    if (!closed[name]) PutJunk(bytes, plan.archive_tail, 99);
    std::ofstream out(dir / (name + ".upak"), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out.good()) return Fail(error, "cannot write " + name + ".upak");
  }

  std::array<Bytes, 5> sections;
  sections[0] = EncodePackageDirectory(directory);
  for (int i = 0; i < 4; ++i) sections[i + 1] = plan.opaque_sections[i];
  result.manifest = EncodeManifest(sections, plan.manifest_layout);
  if (plan.truncate_manifest && *plan.truncate_manifest < result.manifest.size()) {
    result.manifest.resize(*plan.truncate_manifest);
  }
  std::ofstream out(dir / "manifest.bin", std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(result.manifest.data()),
            static_cast<std::streamsize>(result.manifest.size()));
  if (!out.good()) return Fail(error, "cannot write manifest.bin");
  if (layout != nullptr) *layout = std::move(result);
  return true;
}

const PackageLayout* FindPackage(const GameLayout& layout, const std::string& name) {
  for (const PackageLayout& p : layout.packages) {
    if (p.record.name == name) return &p;
  }
  return nullptr;
}

namespace {

PackageSpec ExamplePackage(const std::string& name, uint8_t archive_index, bool split,
                           uint16_t salt) {
  PackageSpec p;
  p.record.name = name;
  p.record.package_id = NameHash(name);
  p.record.attr_word1 = static_cast<uint16_t>(0x0100 + salt);
  p.record.attr_word2 = static_cast<uint16_t>(0x2000 + salt);
  p.record.words = {static_cast<uint16_t>(salt), 0x7FFF, 0x8001};
  p.record.attr_byte1 = static_cast<uint8_t>(0x10 + salt);
  p.record.attr_byte2 = static_cast<uint8_t>(0x20 + salt);
  p.record.attr_byte3 = static_cast<uint8_t>(0x30 + salt);
  p.archive_index = archive_index;
  p.split = split;
  p.split_value = split ? static_cast<uint8_t>(salt) : 0;
  p.attr_byte = static_cast<uint8_t>(0x40 + salt);
  p.attr_word = 0xBEEF0000u + salt;
  return p;
}

// The example game's script: the paths of what its title screen loads, as a game's script
// mentions them.
constexpr char kExampleScript[] =
    "-- what the title screen loads, in order\n"
    "require \"scripts/ui\"\n"
    "local hero = load_texture(\"hero.dds\")\n"
    "local cursor = load_texture(\"cursor.dds\")\n"
    "local ground = load_mesh(\"terrain.bin\")\n"
    "local atlas = load_atlas(\"icons.bin\")\n"
    "show_text(\"notes\")\n"
    "-- cut from this version of the game: load_texture(\"ui/logo.dds\")\n";

}  // namespace

GameSpec ExampleGame() {
  GameSpec game;
  // data0 is listed twice: packages reach it through index 0 and through index 2.
  game.archives = {{1, "data0"}, {2, "data1"}, {3, "data0"}, {4, "patch"}};
  game.id_names = {{NameHash("base"), "base"}, {NameHash("patch"), "patch"}};
  game.opaque_sections = {Bytes{1, 2, 3, 4, 5}, Bytes{}, MakeData(40, 1), Bytes{0xFF, 0}};
  game.manifest_layout.order = {3, 0, 4, 1, 2};
  game.manifest_layout.gap_before = {3, 0, 1, 0, 2};
  game.gap_before = {13, 5, 7, 0, 0, 9};
  game.archive_tail = 11;

  const Bytes game_hero = MakeDds(Dxt1Texture(8, 8, 7));
  const Bytes game_loc_ids = MakeLoc({NameHash("greeting"), NameHash("farewell")});

  // Split, its blocks placed in reverse with gaps; a group with no entries in the middle.
  PackageSpec ui = ExamplePackage("ui_common", 0, true, 1);
  ui.groups.resize(3);
  ui.groups[0].entries = {Entry("hero", "dds", game_hero, TextureMeta(15, 4, 1, 8, 8)),
                          Entry("menu", "txt", MakeData(200, 2), {0xAA, 0xBB, 0xCC})};
  ui.groups[2].entries = {
      Entry("cursor", "dds", MakeDds(Dxt1Texture(4, 4, 3)), TextureMeta(15, 3, 1, 4, 4)),
      Entry("layout", "bin", MakeData(120, 4))};
  ui.groups[2].entries[0].type_high_bits = 5;
  ui.groups[2].entries[1].type_high_bits = 7;
  ui.block_order = {3, 1, 0, 2};
  ui.block_gap = 6;
  ui.index_tail = {0xDE, 0xAD};
  ui.entry_table_tail = {0x01, 0x02, 0x03};

  // Full, reached through the second listing of data0; tables in the other order.
  PackageSpec world = ExamplePackage("world_full", 2, false, 2);
  world.groups.resize(2);
  world.groups[0].entries = {
      Entry("strings", "loc", game_loc_ids, LocMeta({NameHash("greeting"), NameHash("farewell")})),
      Entry("hero", "dds", game_hero, TextureMeta(15, 4, 1, 8, 8))};
  world.groups[1].entries = {Entry("terrain", "bin", MakeData(300, 5), {9, 8, 7, 6})};
  world.entry_table_first = true;
  world.index_gap = 3;
  world.table_gap = 2;
  world.data_gap = 5;

  PackageSpec sound = ExamplePackage("sound_bank", 1, true, 3);
  sound.groups.resize(1);
  sound.groups[0].entries = {Entry("theme", "ogg", MakeData(250, 6), {1, 0, 0, 0, 0x44, 0xAC})};
  sound.align_data = true;
  sound.level = 1;

  // In no archive: the tool must leave it alone even though it holds "hero".
  PackageSpec legacy = ExamplePackage("legacy", kNoArchive, true, 4);
  legacy.groups.resize(1);
  legacy.groups[0].entries = {Entry("hero", "dds", game_hero)};

  // Holds "hero" too, but the mod restricts its hero to ui_common.
  PackageSpec patch = ExamplePackage("patch_full", 3, false, 5);
  patch.groups.resize(1);
  patch.groups[0].entries = {Entry("hero", "dds", game_hero, TextureMeta(15, 4, 1, 8, 8)),
                             Entry("notes", "txt", MakeData(90, 8))};

  PackageSpec extra = ExamplePackage("ui_extra", 0, true, 6);
  extra.groups.resize(1);
  extra.groups[0].entries = {Entry("icons", "bin", MakeData(150, 9))};

  // Last in its archive, so that the other packages keep their places: a script that names
  // entries, some of them by names that examples/names.txt lacks.
  PackageSpec scripts = ExamplePackage("scripts", 1, true, 7);
  scripts.groups.resize(1);
  scripts.groups[0].entries = {Entry("startup", "lua", TextBytes(kExampleScript))};

  game.packages = {ui, world, sound, legacy, patch, extra, scripts};
  return game;
}

PackageSpec OneGroupPackage(const std::string& name, bool split, std::vector<EntrySpec> entries) {
  PackageSpec plan;
  plan.record.name = name;
  plan.record.package_id = NameHash(name);
  plan.split = split;
  GroupSpec group;
  group.entries = std::move(entries);
  plan.groups.push_back(std::move(group));
  return plan;
}

}  // namespace vtest
