#include "inspect/extract_command.h"

#include <cstdio>

#include "base/warning_list.h"
#include "inspect/game_entry.h"
#include "inspect/game_lookup.h"
#include "inspect/game_names.h"
#include "inspect/messages.h"
#include "inspect/output_file.h"
#include "manifest/package_directory.h"

namespace {

// What extract was asked for: the entry, the package it is to come from (null for the first that
// holds it), and the file to write.
struct ExtractRequest {
  const CommandArgs* args = nullptr;  // for the name lists to read
  const char* gameDir = nullptr;
  const char* name = nullptr;
  const char* ext = nullptr;
  const char* pkg = nullptr;
  const char* out = nullptr;
};

// What extract wrote, and what it said on the way.
struct ExtractResult {
  NameLists names;
  EntryRequest wanted;
  GameEntry entry;
  PathBuffer metaPath;   // OUT.meta
  WarningList warnings;  // the lines for standard error, in the order found
  Status failure;        // why nothing (or not everything) was written, unless already said
};

// Opens the game, reads the entry (read_game_entry), and writes its data to OUT and its metadata
// to OUT.meta, neither of which may be a file of the game. False when the manifest cannot be read
// (having said why), and with the reason in result->failure when the entry cannot be found, read
// or written.
bool extract_entry(const ExtractRequest& request, ExtractResult* result) {
  Status* status = &result->failure;
  GameReader game;
  if (!open_game(request.gameDir, game) ||
      !load_names(*request.args, &game, nullptr, 0, result->names)) {
    return false;
  }
  result->wanted = entry_request(result->names, request.name, request.ext, request.pkg);
  if (!read_game_entry(game, result->wanted, &result->entry, result->warnings, status)) {
    return false;
  }
  if (result->metaPath.Format("%s.meta", request.out) <= 0) return status->FailOutOfMemory();
  const char* targets[] = {request.out, result->metaPath.Data()};
  for (const char* target : targets) {
    if (is_game_file(game, request.gameDir, target)) {
      status->Fail(StatusCode::kRefused, "\"%s\" is a file of the game; extract to another place",
                   target);
      return false;
    }
  }
  return write_output_file(request.out, result->entry.data, status) &&
         write_output_file(result->metaPath.Data(), result->entry.meta, status);
}

void print_extract(const ExtractRequest& request, const ExtractResult& result) {
  const GameEntry& entry = result.entry;
  std::printf("%s: %u bytes of \"%s\" \"%s\" from package \"%s\"\n%s: %u bytes of metadata\n",
              request.out, entry.data.length(), result.wanted.name, result.wanted.ext,
              entry.package.Data(), result.metaPath.Data(), entry.meta.length());
}

int run_extract(const CommandArgs& args) {
  ExtractRequest request;
  request.args = &args;
  request.gameDir = args.positional[0];
  request.name = args.positional[1];
  request.ext = args.positional[2];
  request.out = args.positional[3];
  request.pkg = args.pkg;
  ExtractResult result;
  const bool written = extract_entry(request, &result);
  print_warnings(result.warnings);
  if (!written) {
    if (!result.failure.ok()) print_failure(result.failure);
    return kExitFailure;
  }
  print_extract(request, result);
  return kExitSuccess;
}

}  // namespace

const CommandSpec kExtractCommand = {
    "extract",
    "GAMEDIR NAME EXT OUT [--pkg PACKAGE] [--names FILE]...",
    "take an entry's data and metadata out of the game",
    "Writes the inflated data of the entry named NAME with the extension EXT to the file OUT, and\n"
    "its metadata to OUT.meta; both are replaced if they exist. NAME, EXT and PACKAGE are matched\n"
    "as the configuration's \"name\", \"ext\" and \"pkg\" are: by their name_hash, so that case "
    "does\n"
    "not matter; 0x and 16 hexadecimal digits give an id instead, told by its name where the\n"
    "name lists know it.\n"
    "\n"
    "  --pkg PACKAGE   take the entry from that package. Without it, the first package in the\n"
    "                  manifest that holds the entry is taken, and a warning names the others.\n"
    "  --names FILE    read the name list FILE too (any number of times)\n"
    "\n"
    "Nothing is written unless the entry was read whole; each file is written under a temporary\n"
    "name (OUT.tmp, OUT.meta.tmp) and renamed when complete. Nothing in GAMEDIR is written.\n"
    "\n"
    "Exit status: 0 when both files were written, 1 when no package holds the entry or it cannot\n"
    "be read or written, 2 for a usage error.\n",
    4,
    kOptionPkg | kOptionNames,
    run_extract,
};
