#include "inspect/names_command.h"

#include <algorithm>
#include <cstdio>

#include "base/array.h"
#include "base/byte_buffer.h"
#include "base/platform.h"
#include "base/warning_list.h"
#include "inspect/game_lookup.h"
#include "inspect/game_names.h"
#include "inspect/harvest_command.h"
#include "inspect/messages.h"
#include "inspect/output_file.h"
#include "json/json_writer.h"
#include "manifest/package_directory.h"
#include "report/json_report.h"
#include "report/line_text.h"
#include "report/text_table.h"

namespace {

// A package that was read, and how many of its entries the lists name.
struct PackageCoverage {
  uint32_t record = 0;
  uint32_t entries = 0;
  uint32_t named = 0;
};

// The name id of an entry and the package record that holds it.
struct IdInPackage {
  uint64_t id;
  uint32_t record;

  bool operator<(const IdInPackage& other) const {
    return id != other.id ? id < other.id : record < other.record;
  }
};

// What names found: every package read in manifest order, and every entry's name id with its
// package, sorted by id and then by record, for counting distinct ids and naming the unknown.
struct NamesResult {
  GameReader game;
  NameLists names;
  TArray<PackageCoverage> packages;
  TArray<IdInPackage> ids;
  uint64_t entries = 0;
  uint64_t named = 0;
  uint32_t distinct = 0;       // distinct name ids
  uint32_t distinctNamed = 0;  // of which the lists know
  uint32_t unknownWritten = 0;
  WarningList warnings;  // packages passed over, for standard error
};

// Reads the entry table of every package in an archive of the game, which is open, and counts
// what the lists name. A package that cannot be read is passed over with a warning. False when
// out of memory.
bool count_names(NamesResult* result) {
  GameReader& game = result->game;
  Status unread;
  CStringBufferA reason;
  for (uint32_t k = 0; k < game.package_count(); ++k) {
    if (game.record(k).archiveIndex == kNoArchive) continue;
    unread.Clear();
    if (!game.ReadPackage(k, &unread)) {
      if (!unread.Describe(reason)) return false;
      result->warnings.Add("%s; passed over", reason.Data());
      continue;
    }
    const PackageReader& package = game.package();
    PackageCoverage coverage;
    coverage.record = k;
    coverage.entries = package.has_tables() ? package.entry_count() : 0;
    for (uint32_t e = 0; e < coverage.entries; ++e) {
      const uint64_t id = package.entry(e).nameId;
      if (result->names.Name(id) != nullptr) ++coverage.named;
      if (!result->ids.Append({id, k})) return false;
    }
    result->entries += coverage.entries;
    result->named += coverage.named;
    if (!result->packages.Append(coverage)) return false;
  }
  std::sort(result->ids.begin(), result->ids.end());
  for (uint32_t i = 0; i < result->ids.count(); ++i) {
    const uint64_t id = result->ids[i].id;
    if (i != 0 && result->ids[i - 1].id == id) continue;
    ++result->distinct;
    if (result->names.Name(id) != nullptr) ++result->distinctNamed;
  }
  return true;
}

// One line for every name id that no list knows, in the order of the ids: the id, then the name of
// every package that holds it, each once, in manifest order, separated by tabs. False when out of
// memory.
bool list_unknown(NamesResult* result, ByteBuffer& out) {
  const TArray<IdInPackage>& ids = result->ids;
  CStringBufferA line;
  ByteWriter writer(out);
  for (uint32_t i = 0; i < ids.count(); ++i) {
    const bool firstOfId = i == 0 || ids[i - 1].id != ids[i].id;
    const bool sameRecord = !firstOfId && ids[i - 1].record == ids[i].record;
    if (result->names.Name(ids[i].id) != nullptr || sameRecord) continue;
    if (firstOfId) {
      ++result->unknownWritten;
      if ((i != 0 && !writer.write_u8('\n')) || !writer.write_bytes(id_text(ids[i].id).text, 16)) {
        return false;
      }
    }
    const PackageRecord& record = result->game.record(ids[i].record);
    line.Release(false);
    if (!append_escaped(record.name, record.nameLength, line) || !writer.write_u8('\t') ||
        !writer.write_bytes(line.Data(), static_cast<uint32_t>(line.Length()))) {
      return false;
    }
  }
  return result->unknownWritten == 0 || writer.write_u8('\n');
}

// Writes the unknown name ids to OUT, which must not be a file of the game. False, having said
// why, when it cannot be written.
bool write_unknown(const CommandArgs& args, NamesResult* result) {
  ByteBuffer out;
  if (!list_unknown(result, out)) {
    print_error("out of memory");
    return false;
  }
  Status status;
  if (is_game_file(result->game, args.positional[0], args.unknown)) {
    status.Fail(StatusCode::kRefused, "\"%s\" is a file of the game; write to another place",
                args.unknown);
  } else {
    write_output_file(args.unknown, out, &status);
  }
  if (status.ok()) return true;
  print_failure(status);
  return false;
}

// named of all as a whole percentage, rounded down, so that 100% means every one.
void percent_cell(uint64_t named, uint64_t all, TextTable& table) {
  if (all == 0) {
    table.Cell("-");
  } else {
    table.Format("%llu%%", static_cast<unsigned long long>(named * 100 / all));
  }
}

bool print_names_text(const CommandArgs& args, const NamesResult& result) {
  TextTable table(5, 1u << 2 | 1u << 3 | 1u << 4);
  const char* const headings[] = {"package", "id", "entries", "named", "coverage"};
  for (const char* heading : headings) table.Cell(heading);
  for (const PackageCoverage& coverage : result.packages) {
    const PackageRecord& record = result.game.record(coverage.record);
    table.Cell(record.name, record.nameLength);
    table.Cell(id_text(record.packageId).text);
    table.Number(coverage.entries);
    table.Number(coverage.named);
    percent_cell(coverage.named, coverage.entries, table);
  }
  if (!table.ok()) return false;
  table.Print(stdout);
  const unsigned long long entries = result.entries;
  std::printf("\n%llu entr%s, %llu named (%llu%%); %u distinct name id%s, %u named (%llu%%)\n",
              entries, entries == 1 ? "y" : "ies", static_cast<unsigned long long>(result.named),
              entries != 0 ? static_cast<unsigned long long>(result.named * 100 / entries) : 0ull,
              result.distinct, result.distinct == 1 ? "" : "s", result.distinctNamed,
              result.distinct != 0 ? 100ull * result.distinctNamed / result.distinct : 0ull);
  if (args.unknown != nullptr) {
    CStringBufferA shown;
    sys_native_path(args.unknown, shown);
    std::printf("wrote \"%s\": %u unnamed name id%s\n", shown.Data(), result.unknownWritten,
                result.unknownWritten == 1 ? "" : "s");
  }
  return true;
}

bool print_names_json(const NamesResult& result) {
  ByteBuffer out;
  JsonWriter json(out);
  json.BeginObject();
  json.Key("packages");
  json.BeginArray();
  for (const PackageCoverage& coverage : result.packages) {
    const PackageRecord& record = result.game.record(coverage.record);
    json.BeginObject();
    json.Key("name");
    json.String(record.name, record.nameLength);
    json.Key("id");
    json.String(id_text(record.packageId).text);
    json.Key("entries");
    json.Uint(coverage.entries);
    json.Key("named");
    json.Uint(coverage.named);
    json.EndObject();
  }
  json.EndArray();
  json.Key("entries");
  json.Uint(result.entries);
  json.Key("named");
  json.Uint(result.named);
  json.Key("ids");
  json.Uint(result.distinct);
  json.Key("ids_named");
  json.Uint(result.distinctNamed);
  json.EndObject();
  return print_json_document(json, out);
}

int run_names(const CommandArgs& args) {
  NamesResult result;
  if (!open_game(args.positional[0], result.game) ||
      !load_names(args, &result.game, nullptr, 0, result.names)) {
    return kExitFailure;
  }
  const bool counted = count_names(&result);
  for (uint32_t i = 0; i < result.warnings.count(); ++i) {
    print_warning("%s", result.warnings.line(i));
  }
  if (!counted) {
    print_error("out of memory");
    return kExitFailure;
  }
  if (args.unknown != nullptr && !write_unknown(args, &result)) return kExitFailure;
  if (!(args.json ? print_names_json(result) : print_names_text(args, result))) {
    print_error("out of memory");
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace

const CommandSpec* const kNamesForms[] = {&kNamesHarvestCommand, nullptr};

const CommandSpec kNamesCommand = {
    "names",
    "GAMEDIR [--names FILE]... [--json] [--unknown OUT]",
    "how many of the game's entries the name lists name",
    "Reads the entry table of every package in an archive and counts, per package and in all,\n"
    "the entries whose name id the name lists know (its extension may still be unknown), and\n"
    "the distinct name ids. The lists are the built-in extensions, the package names of the\n"
    "manifest, every *.txt in the user's names folder ($XDG_DATA_HOME/vintrel/names, by\n"
    "default ~/.local/share/vintrel/names; %APPDATA%\\Vintrel\\names on Windows) and every\n"
    "--names FILE. A list has one name per line, \"ui/hero.dds\"; see the manual page.\n"
    "Packages in no archive are passed over; a package that cannot be read is named in a\n"
    "warning. Nothing in GAMEDIR is written.\n"
    "\n"
    "  --names FILE   read the name list FILE too (any number of times)\n"
    "  --unknown OUT  write to OUT every name id that no list knows, one per line, with the\n"
    "                 packages that hold it (tab-separated), for people who contribute names\n"
    "  --json         print {\"packages\": [{\"name\", \"id\", \"entries\", \"named\"}], "
    "\"entries\",\n"
    "                 \"named\", \"ids\", \"ids_named\"}\n"
    "\n"
    "Exit status: 0 when the game was read, 1 when its manifest or a name list cannot be read or\n"
    "OUT cannot be written, 2 for a usage error.\n",
    1,
    kOptionJson | kOptionNames | kOptionUnknown,
    run_names,
    false,
    kNamesForms,
};
