#include "inspect/packages_command.h"

#include <cstdio>

#include "base/file.h"
#include "inspect/game_lookup.h"
#include "report/json_report.h"
#include "inspect/messages.h"
#include "report/text_table.h"
#include "json/json_writer.h"
#include "manifest/package_directory.h"

namespace {

// The size on disk of one archive that the manifest names.
struct ArchiveState {
  bool present = false;  // whether it could be opened and measured
  uint64_t bytes = 0;
};

// What one package record comes to when its package is read.
struct PackageState {
  bool inArchive = false;
  bool read = false;
  bool split = false;
  uint32_t entries = 0;
  CStringBufferA error;  // when in an archive and not read: why, without the package
};

// The game's archives and package records, each archive measured and each package read as far as
// its entry table.
struct PackagesReport {
  GameReader game;
  TCountedArray<ArchiveState> archives;  // one per archive of the manifest, in its order
  TCountedArray<PackageState> packages;  // one per package record, in manifest order
  bool outOfMemory = false;
};

// The package of record k: read as far as its entry table, or why it cannot be. False when out of
// memory.
bool read_state(GameReader& game, uint32_t k, PackageState* state) {
  state->inArchive = game.record(k).archiveIndex != kNoArchive;
  if (!state->inArchive) return true;
  Status failure;
  state->read = game.ReadPackage(k, &failure);
  if (!state->read) return describe_reason(failure, state->error);
  const PackageReader& package = game.package();
  state->split = package.split();
  state->entries = package.has_tables() ? package.entry_count() : 0;
  return true;
}

// The size of archive i on disk; not present when it cannot be opened or measured.
ArchiveState measure_archive(const GameReader& game, uint32_t i) {
  ArchiveState state;
  PathBuffer path;
  if (!game.ArchivePath(i, path)) return state;
  ScopedFile file(open_file(path.Data(), "r"));
  if (!file.is_open()) return state;
  state.bytes = file_size(file.get());
  state.present = state.bytes != kBadPosition;
  return state;
}

// Opens the game in gameDir and measures and reads everything the report shows. False when the
// manifest cannot be read (having said why) and when out of memory (report->outOfMemory).
bool read_packages(const char* gameDir, PackagesReport* report) {
  GameReader& game = report->game;
  if (!open_game(gameDir, game)) return false;
  if (!report->archives.allocate(game.archive_count()) ||
      !report->packages.allocate(game.package_count())) {
    report->outOfMemory = true;
    return false;
  }
  for (uint32_t i = 0; i < game.archive_count(); ++i) {
    report->archives[i] = measure_archive(game, i);
  }
  for (uint32_t k = 0; k < game.package_count(); ++k) {
    if (!read_state(game, k, &report->packages[k])) {
      report->outOfMemory = true;
      return false;
    }
  }
  return true;
}

bool print_packages_json(const PackagesReport& report) {
  const GameReader& game = report.game;
  ByteBuffer out;
  JsonWriter json(out);
  json.BeginObject();
  json.Key("archives");
  json.BeginArray();
  for (uint32_t i = 0; i < game.archive_count(); ++i) {
    const ArchiveRecord& archive = game.archive(i);
    json.BeginObject();
    json.Key("index");
    json.Uint(i);
    json.Key("tag");
    json.Uint(archive.tag);
    json.Key("name");
    json.String(archive.name, archive.nameLength);
    json.Key("bytes");
    if (report.archives[i].present) {
      json.Uint(report.archives[i].bytes);
    } else {
      json.Null();
    }
    json.EndObject();
  }
  json.EndArray();
  json.Key("packages");
  json.BeginArray();
  for (uint32_t k = 0; k < game.package_count(); ++k) {
    const PackageRecord& record = game.record(k);
    const PackageState& state = report.packages[k];
    json.BeginObject();
    json.Key("name");
    json.String(record.name, record.nameLength);
    json.Key("id");
    json.String(id_text(record.packageId).text);
    json.Key("archive");
    if (state.inArchive) {
      json.Uint(record.archiveIndex);
    } else {
      json.Null();
    }
    json.Key("offset");
    json.Uint(record.offset);
    json.Key("split");
    if (state.read) {
      json.Bool(state.split);
    } else {
      json.Null();
    }
    json.Key("entries");
    if (state.read) {
      json.Uint(state.entries);
    } else {
      json.Null();
    }
    json.Key("error");
    if (state.inArchive && !state.read) {
      json.String(state.error.Data());
    } else {
      json.Null();
    }
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
  return print_json_document(json, out);
}

bool print_packages_text(const PackagesReport& report) {
  const GameReader& game = report.game;
  constexpr uint32_t kNumbers = 1u << 0 | 1u << 1 | 1u << 2;
  TextTable archives(4, kNumbers);
  archives.Cell("archive");
  archives.Cell("tag");
  archives.Cell("bytes");
  archives.Cell("name");
  for (uint32_t i = 0; i < game.archive_count(); ++i) {
    const ArchiveRecord& archive = game.archive(i);
    archives.Number(i);
    archives.Number(archive.tag);
    if (report.archives[i].present) {
      archives.Number(report.archives[i].bytes);
    } else {
      archives.Cell("missing");
    }
    archives.Cell(archive.name, archive.nameLength);
  }

  // name, id, archive, offset, kind, entries, error
  TextTable packages(7, 1u << 2 | 1u << 3 | 1u << 5);
  const char* const headings[] = {"package", "id", "archive", "offset", "kind", "entries", "error"};
  for (const char* heading : headings) packages.Cell(heading);
  for (uint32_t k = 0; k < game.package_count(); ++k) {
    const PackageRecord& record = game.record(k);
    const PackageState& state = report.packages[k];
    packages.Cell(record.name, record.nameLength);
    packages.Cell(id_text(record.packageId).text);
    if (state.inArchive) {
      packages.Number(record.archiveIndex);
    } else {
      packages.Cell("none");
    }
    packages.Number(record.offset);
    if (state.read) {
      packages.Cell(state.split ? "split" : "full");
      packages.Number(state.entries);
      packages.Cell("");
    } else {
      packages.Cell("-");
      packages.Cell("-");
      packages.Cell(state.inArchive ? state.error.Data() : "");
    }
  }
  if (!archives.ok() || !packages.ok()) return false;
  archives.Print(stdout);
  std::fputc('\n', stdout);
  packages.Print(stdout);
  return true;
}

int run_packages(const CommandArgs& args) {
  PackagesReport report;
  const bool read = read_packages(args.positional[0], &report);
  if (read && (args.json ? print_packages_json(report) : print_packages_text(report))) {
    return kExitSuccess;
  }
  if (read || report.outOfMemory) print_error("out of memory");
  return kExitFailure;
}

}  // namespace

const CommandSpec kPackagesCommand = {
    "packages",
    "GAMEDIR [--json]",
    "list the archives and the packages of a game",
    "Lists the archives that GAMEDIR's manifest.bin names (index, tag, size on disk, name) and\n"
    "every package record (name, id, archive index, offset), reading each package as far as its\n"
    "entry table: split or full compress, its number of entries, or why it cannot be read. A\n"
    "package in no archive shows \"none\"; an archive that cannot be opened, \"missing\".\n"
    "\n"
    "  --json   print {\"archives\": [{\"index\", \"tag\", \"name\", \"bytes\"}], \"packages\":\n"
    "           [{\"name\", \"id\", \"archive\", \"offset\", \"split\", \"entries\", \"error\"}]}\n"
    "\n"
    "Exit status: 0 when the manifest was read (whatever its packages hold), 1 when it cannot be,\n"
    "2 for a usage error.\n",
    1,
    kOptionJson,
    run_packages,
};
