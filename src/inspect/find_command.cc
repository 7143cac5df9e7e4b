#include "inspect/find_command.h"

#include <cstdio>

#include "base/array.h"
#include "base/byte_buffer.h"
#include "base/warning_list.h"
#include "driver/name_hash.h"
#include "inspect/game_lookup.h"
#include "inspect/game_names.h"
#include "inspect/messages.h"
#include "json/json_writer.h"
#include "manifest/package_directory.h"
#include "report/json_report.h"
#include "report/text_table.h"

namespace {

// One entry that the search found: its package record, its index there and its sizes.
struct FindMatch {
  uint32_t record = 0;
  uint32_t entry = 0;
  uint32_t rawSize = 0;
  uint32_t metaSize = 0;
};

// Every package that holds the entry asked for, in manifest order, and what the search said on
// the way.
struct FindResult {
  GameReader game;
  NameLists names;
  const char* name = nullptr;  // the arguments as given
  const char* ext = nullptr;
  uint64_t nameId = 0;
  uint64_t extId = 0;
  uint32_t unreadable = 0;  // how many packages could not be read
  WarningList warnings;     // the lines for standard error, in the order found
  TArray<FindMatch> matches;
};

// "pkg" names a package by the name_hash of its text; a package whose id is not that of its own
// name cannot be named so, and the modder must hear it before writing the name in, and what to
// write instead.
void warn_if_unnamable(const GameReader& game, uint32_t k, WarningList& warnings) {
  CStringBufferA name;
  const uint64_t id = game.record(k).packageId;
  if (!record_name(game, k, name) || name_hash(name.Data()) == id) return;
  warnings.Add(
      "the id of package \"%s\" is not that of its name: \"pkg\": \"%s\" would not "
      "name it; \"pkg_id\": \"%s\" does",
      name.Data(), name.Data(), id_text(id).text);
}

// Opens the game in GAMEDIR, loads the name lists and searches every package in an archive for
// the entry NAME.EXT. False when the manifest or a list cannot be read (having said why) and when
// out of memory (*outOfMemory).
bool find_entry(const CommandArgs& args, FindResult* result, bool* outOfMemory) {
  GameReader& game = result->game;
  if (!open_game(args.positional[0], game) || !load_names(args, &game, nullptr, 0, result->names)) {
    return false;
  }
  const char* name = args.positional[1];
  const char* ext = args.positional[2];
  result->name = name;
  result->ext = ext;
  result->nameId = argument_id(name);
  result->extId = argument_id(ext);
  EntrySearch search(game, result->nameId, result->extId, 0);
  Status status;
  CStringBufferA reason;
  for (EntrySearch::Step step; (step = search.Next(&status)) != EntrySearch::kDone;) {
    if (step == EntrySearch::kMatch) {
      const PackageEntry& entry = game.package().entry(search.entry());
      if (!result->matches.Append(
              {search.record(), search.entry(), entry.rawSize, entry.metaSize})) {
        *outOfMemory = true;
        return false;
      }
      warn_if_unnamable(game, search.record(), result->warnings);
    } else {
      if (!status.Describe(reason)) reason.Assign("out of memory");
      result->warnings.Add("%s; passed over", reason.Data());
      ++result->unreadable;
    }
  }
  return true;
}

bool print_find_json(const FindResult& result) {
  ByteBuffer out;
  JsonWriter json(out);
  json.BeginObject();
  const char* const texts[] = {argument_name(result.name, result.names.names()),
                               argument_name(result.ext, result.names.exts())};
  const char* const keys[] = {"name", "ext"};
  for (int i = 0; i < 2; ++i) {
    json.Key(keys[i]);
    if (texts[i] != nullptr) {
      json.String(texts[i]);
    } else {
      json.Null();
    }
  }
  json.Key("name_id");
  json.String(id_text(result.nameId).text);
  json.Key("ext_id");
  json.String(id_text(result.extId).text);
  json.Key("matches");
  json.BeginArray();
  for (const FindMatch& match : result.matches) {
    json.BeginObject();
    write_record_members(json, result.game.record(match.record), "package");
    json.Key("entry");
    json.Uint(match.entry);
    json.Key("raw_size");
    json.Uint(match.rawSize);
    json.Key("meta_size");
    json.Uint(match.metaSize);
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
  return print_json_document(json, out);
}

bool print_find_text(const FindResult& result) {
  TextTable table(7, 1u << 2 | 1u << 3 | 1u << 4 | 1u << 5 | 1u << 6);
  const char* const headings[] = {"package", "id",       "archive",  "offset",
                                  "entry",   "raw size", "meta size"};
  for (const char* heading : headings) table.Cell(heading);
  for (const FindMatch& match : result.matches) {
    const PackageRecord& record = result.game.record(match.record);
    table.Cell(record.name, record.nameLength);
    table.Cell(id_text(record.packageId).text);
    table.Number(record.archiveIndex);
    table.Number(record.offset);
    table.Number(match.entry);
    table.Number(match.rawSize);
    table.Number(match.metaSize);
  }
  if (!table.ok()) return false;
  if (result.matches.count() != 0) {
    // An id given for a name the lists know shows as that name.
    const char* name = argument_name(result.name, result.names.names());
    const char* ext = argument_name(result.ext, result.names.exts());
    std::printf("\"%s\" \"%s\" (name id %s, ext id %s) is in %u package%s:\n\n",
                name != nullptr ? name : result.name, ext != nullptr ? ext : result.ext,
                id_text(result.nameId).text, id_text(result.extId).text, result.matches.count(),
                result.matches.count() == 1 ? "" : "s");
    table.Print(stdout);
  }
  return true;
}

int run_find(const CommandArgs& args) {
  FindResult result;
  bool outOfMemory = false;
  const bool found = find_entry(args, &result, &outOfMemory);
  for (uint32_t i = 0; i < result.warnings.count(); ++i) {
    print_warning("%s", result.warnings.line(i));
  }
  if (!found) {
    if (outOfMemory) print_error("out of memory");
    return kExitFailure;
  }
  if (!(args.json ? print_find_json(result) : print_find_text(result))) {
    print_error("out of memory");
    return kExitFailure;
  }
  if (result.matches.count() == 0) {
    print_error("no package holds an entry \"%s\" \"%s\" (name id %s, ext id %s)%s", result.name,
                result.ext, id_text(result.nameId).text, id_text(result.extId).text,
                result.unreadable != 0 ? " that could be read" : "");
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace

const CommandSpec kFindCommand = {
    "find",
    "GAMEDIR NAME EXT [--names FILE]... [--json]",
    "find the packages that hold an entry",
    "Lists every package that holds an entry named NAME with the extension EXT (without the\n"
    "dot), in manifest order: the package's name (what to write in the configuration's \"pkg\"\n"
    "to replace the entry there alone) and id, its archive and offset, and the entry's index,\n"
    "raw size and metadata size. NAME and EXT are matched as the configuration's \"name\" and\n"
    "\"ext\" are: by their name_hash, so that case does not matter; 0x and 16 hexadecimal digits\n"
    "give an id instead, shown by its name where the name lists know it. Packages in no archive\n"
    "are passed over; a package that cannot be read is named in a warning.\n"
    "\n"
    "  --names FILE   read the name list FILE too (any number of times)\n"
    "  --json         print {\"name\", \"ext\", \"name_id\", \"ext_id\", \"matches\":\n"
    "                 [{\"package\", \"id\", \"archive\", \"offset\", \"entry\", \"raw_size\",\n"
    "                 \"meta_size\"}]} (\"name\" and \"ext\" null for an id no list knows)\n"
    "\n"
    "Exit status: 0 when some package holds the entry, 1 when none does or the manifest cannot be\n"
    "read, 2 for a usage error.\n",
    3,
    kOptionJson | kOptionNames,
    run_find,
};
