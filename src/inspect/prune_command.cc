#include "inspect/prune_command.h"

#include <cstdio>

#include "base/platform.h"
#include "inspect/game_names.h"
#include "inspect/messages.h"
#include "inspect/prune.h"
#include "json/json_writer.h"
#include "report/json_report.h"
#include "report/text_table.h"

namespace {

// How the report tells a reason: in text, and in JSON.
const char* reason_text(PruneReason reason) {
  switch (reason) {
    case PruneReason::kMissing:
      return "no longer exists";
    case PruneReason::kSame:
      return "the same as the game's";
    case PruneReason::kUnused:
      return "replaces no entry of the game";
    case PruneReason::kKept:
      break;
  }
  return "kept";
}

const char* reason_key(PruneReason reason) {
  switch (reason) {
    case PruneReason::kMissing:
      return "missing";
    case PruneReason::kSame:
      return "same";
    case PruneReason::kUnused:
      return "unused";
    case PruneReason::kKept:
      break;
  }
  return "kept";
}

// A file's "src" as vintrel.json gives it.
const char* own_source(const PruneResult& result, const PackFileEntry& file) {
  return file.sourcePath.Text() + result.mod.srcDir.Length();
}

bool print_prune_text(const PruneResult& result, bool dryRun) {
  TextTable table(5, 1u);
  const char* const headings[] = {"file", "entry", "pkg", "src", "why"};
  for (const char* heading : headings) table.Cell(heading);
  CStringBufferA entry;
  for (const PackFileEntry* file = result.mod.entries.head(); file != nullptr; file = file->next) {
    const PruneReason reason = result.reasons[file->index - 1];
    if (reason == PruneReason::kKept) continue;
    IdText nameHex;
    IdText extHex;
    IdText pkgHex;
    const char* pkg = file_pkg_text(result.names, *file, &pkgHex);
    if (entry.Format("%s.%s", file_name_text(result.names, *file, &nameHex),
                     file_ext_text(result.names, *file, &extHex)) <= 0) {
      return false;
    }
    table.Number(file->index);
    table.Cell(entry);
    table.Cell(pkg != nullptr ? pkg : "");
    table.Cell(own_source(result, *file));
    table.Cell(reason_text(reason));
  }
  if (!table.ok()) return false;
  CStringBufferA config;
  sys_native_path(result.configPath.Data(), config);
  const uint32_t count = result.mod.entries.count();
  if (result.removed == 0) {
    std::printf("nothing to remove from \"%s\": its %u file%s stay%s\n", config.Data(), count,
                count == 1 ? "" : "s", count == 1 ? "s" : "");
    return true;
  }
  table.Print(stdout);
  std::printf("\n%s %u of %u file%s from \"%s\"; %u left%s\n", dryRun ? "would remove" : "removed",
              result.removed, count, count == 1 ? "" : "s", config.Data(), count - result.removed,
              dryRun ? ", and nothing was written" : "");
  return true;
}

bool print_prune_json(const PruneResult& result) {
  ByteBuffer out;
  JsonWriter json(out);
  CStringBufferA config;
  sys_native_path(result.configPath.Data(), config);
  json.BeginObject();
  json.Key("config");
  json.String(config.Data());
  json.Key("removed");
  json.BeginArray();
  for (const PackFileEntry* file = result.mod.entries.head(); file != nullptr; file = file->next) {
    const PruneReason reason = result.reasons[file->index - 1];
    if (reason == PruneReason::kKept) continue;
    json.BeginObject();
    json.Key("file");
    json.Uint(file->index);
    write_file_name_members(json, result.names, *file);
    write_file_pkg_members(json, result.names, *file);
    json.Key("src");
    json.String(own_source(result, *file));
    json.Key("reason");
    json.String(reason_key(reason));
    json.EndObject();
  }
  json.EndArray();
  json.Key("files");
  json.Uint(result.mod.entries.count());
  json.Key("left");
  json.Uint(result.mod.entries.count() - result.removed);
  json.Key("written");
  json.Bool(result.written);
  json.EndObject();
  return print_json_document(json, out);
}

int run_prune(const CommandArgs& args) {
  PruneResult result;
  Status status;
  const bool pruned =
      prune_mod(args.positional[0], args.positional[1], args.dryRun, args.names, result, &status);
  print_warnings(result.mod.warnings);
  if (!pruned) {
    print_failure(status);
    return kExitFailure;
  }
  if (!(args.json ? print_prune_json(result) : print_prune_text(result, args.dryRun))) {
    print_error("out of memory");
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace

const CommandSpec kPruneCommand = {
    "prune",
    "MODDIR GAMEDIR [--dry-run] [--names FILE]... [--json]",
    "take out of a mod the files that no longer exist or change nothing in the game",
    "Rewrites MODDIR/vintrel.json without the configured files that a run of the tool on GAMEDIR\n"
    "does not need: a file whose \"src\" no longer exists; a file that replaces no entry of the\n"
    "game; and a file whose bytes, and the metadata a run would give it (from its \"meta\" file,\n"
    "from a texture's or a localisation file's header, or else the entry's own), every entry it\n"
    "would replace holds already. The game is read as a run reads it, through its untouched\n"
    "manifest. A file the same as the game stays when a later file that stays could replace the\n"
    "same entries, which it would take over. So an unpacked package in which a few files were\n"
    "edited becomes a mod of those few.\n"
    "\n"
    "The report lists every file taken out and why. vintrel.json is written through a temporary\n"
    "name (vintrel.json.tmp) and loses exactly those elements of \"files\": every other key,\n"
    "and the text and order of the rest, stay as they were. No file is deleted.\n"
    "\n"
    "  --dry-run     say what would be taken out, and write nothing\n"
    "  --names FILE  read the name list FILE too (any number of times)\n"
    "  --json        print {\"config\", \"removed\": [{\"file\", \"name\", \"ext\", \"name_id\",\n"
    "                \"ext_id\", \"pkg\", \"pkg_id\", \"src\", \"reason\"}], \"files\", \"left\",\n"
    "                \"written\"}, where \"reason\" is \"missing\", \"same\" or \"unused\"\n"
    "\n"
    "Exit status: 0 when vintrel.json was pruned (or nothing was to be taken out), 1 when the\n"
    "mod, the game or a configured file cannot be read or vintrel.json cannot be written, 2 for\n"
    "a usage error.\n",
    2,
    kOptionDryRun | kOptionNames | kOptionJson,
    run_prune,
};
