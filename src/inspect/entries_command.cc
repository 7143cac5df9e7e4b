#include "inspect/entries_command.h"

#include <algorithm>
#include <cstdio>

#include "inspect/game_lookup.h"
#include "inspect/game_names.h"
#include "inspect/messages.h"
#include "inspect/meta_report.h"
#include "json/json_writer.h"
#include "manifest/package_directory.h"
#include "report/json_report.h"
#include "report/text_table.h"

namespace {

// Text cells show at most this many bytes of metadata; --json shows all.
constexpr uint32_t kMetaShown = 16;

// One package read for its entries: the game's package() is the package of record.
struct EntriesReport {
  GameReader game;
  NameLists names;
  uint32_t record = kNoRecord;
  uint32_t named = 0;  // entries whose name id the lists know
  Status failure;      // when the package cannot be read, unless already said
};

// Opens the game in GAMEDIR, loads the name lists and reads the package that PACKAGE names. False
// when the manifest or a list cannot be read or no record has the id (having said why), and when
// the package lies in no archive or cannot be read (the reason in report->failure).
bool read_entries(const CommandArgs& args, EntriesReport* report) {
  GameReader& game = report->game;
  if (!open_game(args.positional[0], game) || !load_names(args, &game, nullptr, 0, report->names)) {
    return false;
  }
  report->record = select_record(game, args.positional[1]);
  if (report->record == kNoRecord) return false;
  if (game.record(report->record).archiveIndex == kNoArchive) {
    CStringBufferA name;
    record_name(game, report->record, name);
    report->failure.Fail(StatusCode::kNotFound,
                         "package \"%s\" lies in no archive: there is nothing to read",
                         name.Data());
    return false;
  }
  if (!game.ReadPackage(report->record, &report->failure)) return false;
  const PackageReader& package = game.package();
  for (uint32_t e = 0; package.has_tables() && e < package.entry_count(); ++e) {
    if (report->names.Name(package.entry(e).nameId) != nullptr) ++report->named;
  }
  return true;
}

void write_json_entry(JsonWriter& json, const NameLists& names, uint32_t e,
                      const PackageEntry& entry) {
  json.BeginObject();
  json.Key("index");
  json.Uint(e);
  write_name_members(json, names, entry.nameId, entry.extId);
  json.Key("name_id");
  json.String(id_text(entry.nameId).text);
  json.Key("ext_id");
  json.String(id_text(entry.extId).text);
  json.Key("raw_size");
  json.Uint(entry.rawSize);
  json.Key("meta_size");
  json.Uint(entry.metaSize);
  json.Key("meta");
  json.HexString(entry.meta, entry.metaSize);
  write_meta_json(decode_meta(entry.extId, entry.meta, entry.metaSize), json);
  json.EndObject();
}

void write_json_package(JsonWriter& json, const GameReader& game, uint32_t k) {
  const PackageRecord& record = game.record(k);
  json.BeginObject();
  write_record_members(json, record, "name");
  json.Key("split");
  json.Bool(game.package().split());
  json.EndObject();
}

bool print_entries_json(const EntriesReport& report) {
  const GameReader& game = report.game;
  const uint32_t k = report.record;
  const PackageReader& package = game.package();
  ByteBuffer out;
  JsonWriter json(out);
  json.BeginObject();
  json.Key("package");
  write_json_package(json, game, k);
  json.Key("entries");
  json.BeginArray();
  const uint32_t count = package.has_tables() ? package.entry_count() : 0;
  for (uint32_t e = 0; e < count; ++e) write_json_entry(json, report.names, e, package.entry(e));
  json.EndArray();
  json.Key("named");
  json.Uint(report.named);
  json.EndObject();
  return print_json_document(json, out);
}

bool print_entries_text(const EntriesReport& report) {
  const GameReader& game = report.game;
  const uint32_t k = report.record;
  const PackageRecord& record = game.record(k);
  const PackageReader& package = game.package();
  const uint32_t count = package.has_tables() ? package.entry_count() : 0;
  const ArchiveRecord& archive = game.archive(record.archiveIndex);
  CStringBufferA packageName;
  CStringBufferA archiveName;
  if (!append_escaped(record.name, record.nameLength, packageName) ||
      !append_escaped(archive.name, archive.nameLength, archiveName)) {
    return false;
  }

  // index, name, raw size, meta size, meta, decoded
  TextTable entries(6, 1u << 0 | 1u << 2 | 1u << 3);
  const char* const headings[] = {"entry", "name", "raw size", "meta size", "meta", "decoded"};
  for (const char* h : headings) entries.Cell(h);
  static const char kDigits[] = "0123456789abcdef";
  char hex[2 * kMetaShown + 4];
  CStringBufferA decoded;
  CStringBufferA name;
  for (uint32_t e = 0; e < count; ++e) {
    const PackageEntry& entry = package.entry(e);
    entries.Number(e);
    if (!entry_name(report.names, entry.nameId, entry.extId, name)) return false;
    entries.Cell(name);
    entries.Number(entry.rawSize);
    entries.Number(entry.metaSize);
    const uint32_t shown = entry.metaSize < kMetaShown ? entry.metaSize : kMetaShown;
    char* p = hex;
    for (uint32_t i = 0; i < shown; ++i) {
      *p++ = kDigits[entry.meta[i] >> 4];
      *p++ = kDigits[entry.meta[i] & 0xF];
    }
    if (shown < entry.metaSize) p = std::copy_n("...", 3, p);
    *p = '\0';
    entries.Cell(hex);
    if (!describe_meta(decode_meta(entry.extId, entry.meta, entry.metaSize), decoded)) {
      return false;
    }
    entries.Cell(decoded);
  }
  if (!entries.ok()) return false;
  std::printf("package %s: id %s, archive %u (%s) at offset %llu, %s compress, %u %s, %u named\n\n",
              packageName.Data(), id_text(record.packageId).text, record.archiveIndex,
              archiveName.Data(), static_cast<unsigned long long>(record.offset),
              package.split() ? "split" : "full", count, count == 1 ? "entry" : "entries",
              report.named);
  entries.Print(stdout);
  return true;
}

int run_entries(const CommandArgs& args) {
  EntriesReport report;
  if (!read_entries(args, &report)) {
    if (!report.failure.ok()) print_failure(report.failure);
    return kExitFailure;
  }
  if (!(args.json ? print_entries_json(report) : print_entries_text(report))) {
    print_error("out of memory");
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace

const CommandSpec kEntriesCommand = {
    "entries",
    "GAMEDIR PACKAGE [--names FILE]... [--json]",
    "list the entries of one package",
    "Lists the entries of the package PACKAGE in table order: name and extension, raw size,\n"
    "metadata size, the metadata in hexadecimal (the first 16 bytes; --json gives all), and what\n"
    "the metadata of a \"dds\" texture (format, width, height, depth, mip count, kind) or of a\n"
    "\"loc\" file (its count of ids) says. An entry shows as name.ext where the name lists know\n"
    "its name and extension, and by its ids otherwise; the heading counts the entries whose\n"
    "name the lists know.\n"
    "\n"
    "PACKAGE is a package name, matched as the configuration's \"pkg\" is: by its name_hash, so\n"
    "that case does not matter. 0x and 16 hexadecimal digits give a package id instead. When\n"
    "several records have the id, the first in the manifest is shown, with a warning.\n"
    "\n"
    "  --names FILE   read the name list FILE too (any number of times)\n"
    "  --json         print {\"package\": {\"name\", \"id\", \"archive\", \"offset\", \"split\"},\n"
    "                 \"entries\": [{\"index\", \"name\", \"ext\", \"name_id\", \"ext_id\",\n"
    "                 \"raw_size\", \"meta_size\", \"meta\", \"texture\", \"loc\"}], \"named\"}\n"
    "                 (\"name\" and \"ext\" null where unknown)\n"
    "\n"
    "Exit status: 0 when the package was read, 1 when no package has that id or it cannot be\n"
    "read, 2 for a usage error.\n",
    2,
    kOptionJson | kOptionNames,
    run_entries,
};
