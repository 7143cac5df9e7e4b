#include "inspect/entries_command.h"

#include <algorithm>
#include <cstdio>

#include "inspect/game_lookup.h"
#include "report/json_report.h"
#include "inspect/messages.h"
#include "inspect/meta_report.h"
#include "report/text_table.h"
#include "json/json_writer.h"
#include "manifest/package_directory.h"

namespace {

// Text cells show at most this many bytes of metadata; --json shows all.
constexpr uint32_t kMetaShown = 16;

// One package read for its entries: the game's package() is the package of record.
struct EntriesReport {
  GameReader game;
  uint32_t record = kNoRecord;
  Status failure;  // when the package cannot be read, unless already said
};

// Opens the game in gameDir and reads the package that the argument names. False when the
// manifest cannot be read or no record has the id (having said why), and when the package lies in
// no archive or cannot be read (the reason in report->failure).
bool read_entries(const char* gameDir, const char* packageArgument, EntriesReport* report) {
  GameReader& game = report->game;
  if (!open_game(gameDir, game)) return false;
  report->record = select_record(game, packageArgument);
  if (report->record == kNoRecord) return false;
  if (game.record(report->record).archiveIndex == kNoArchive) {
    CStringBufferA name;
    record_name(game, report->record, name);
    report->failure.Fail(StatusCode::kNotFound,
                         "package \"%s\" lies in no archive: there is nothing to read",
                         name.Data());
    return false;
  }
  return game.ReadPackage(report->record, &report->failure);
}

void write_json_entry(JsonWriter& json, uint32_t e, const PackageEntry& entry) {
  json.BeginObject();
  json.Key("index");
  json.Uint(e);
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
  for (uint32_t e = 0; e < count; ++e) write_json_entry(json, e, package.entry(e));
  json.EndArray();
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

  // index, name id, ext id, raw size, meta size, meta, decoded
  TextTable entries(7, 1u << 0 | 1u << 3 | 1u << 4);
  const char* const headings[] = {"entry",     "name id", "ext id", "raw size",
                                  "meta size", "meta",    "decoded"};
  for (const char* h : headings) entries.Cell(h);
  static const char kDigits[] = "0123456789abcdef";
  char hex[2 * kMetaShown + 4];
  CStringBufferA decoded;
  for (uint32_t e = 0; e < count; ++e) {
    const PackageEntry& entry = package.entry(e);
    entries.Number(e);
    entries.Cell(id_text(entry.nameId).text);
    entries.Cell(id_text(entry.extId).text);
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
  std::printf("package %s: id %s, archive %u (%s) at offset %llu, %s compress, %u %s\n\n",
              packageName.Data(), id_text(record.packageId).text, record.archiveIndex,
              archiveName.Data(), static_cast<unsigned long long>(record.offset),
              package.split() ? "split" : "full", count, count == 1 ? "entry" : "entries");
  entries.Print(stdout);
  return true;
}

int run_entries(const CommandArgs& args) {
  EntriesReport report;
  if (!read_entries(args.positional[0], args.positional[1], &report)) {
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
    "GAMEDIR PACKAGE [--json]",
    "list the entries of one package",
    "Lists the entries of the package PACKAGE in table order: name id, extension id, raw size,\n"
    "metadata size, the metadata in hexadecimal (the first 16 bytes; --json gives all), and what\n"
    "the metadata of a \"dds\" texture (format, width, height, depth, mip count, kind) or of a\n"
    "\"loc\" file (its count of ids) says.\n"
    "\n"
    "PACKAGE is a package name, matched as the configuration's \"pkg\" is: by its name_hash, so\n"
    "that case does not matter. 0x and 16 hexadecimal digits give a package id instead. When\n"
    "several records have the id, the first in the manifest is shown, with a warning.\n"
    "\n"
    "  --json   print {\"package\": {\"name\", \"id\", \"archive\", \"offset\", \"split\"},\n"
    "           \"entries\": [{\"index\", \"name_id\", \"ext_id\", \"raw_size\", \"meta_size\", "
    "\"meta\",\n"
    "           \"texture\", \"loc\"}]}\n"
    "\n"
    "Exit status: 0 when the package was read, 1 when no package has that id or it cannot be\n"
    "read, 2 for a usage error.\n",
    2,
    kOptionJson,
    run_entries,
};
