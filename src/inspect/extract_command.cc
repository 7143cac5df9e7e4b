#include "inspect/extract_command.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "base/file.h"
#include "base/pending_file.h"
#include "base/platform.h"
#include "inspect/game_lookup.h"
#include "inspect/messages.h"
#include "manifest/package_directory.h"

namespace {

// Writes bytes to a new file at path, under the temporary name path.tmp until every byte is on the
// disk, so that a failure leaves no partial file at path.
bool write_file(const char* path, const ByteBuffer& bytes, Status* status) {
  PathBuffer tempPath;
  if (tempPath.Format("%s.tmp", path) <= 0) {
    status->FailOutOfMemory();
    return false;
  }
  PendingFile file;
  if (!file.Create(tempPath.Data(), path, status)) return false;
  if (bytes.length() != 0 &&
      file_write(file.file(), bytes.data(), bytes.length()) != bytes.length()) {
    status->FailIo("cannot write", tempPath.Data());
    return false;
  }
  return file.Commit(status);
}

// Whether path is an existing file of the game: one of its archives or its manifests, by the
// file's identity, so that another spelling of the same file counts too.
bool is_game_file(const GameReader& game, const char* gameDir, const char* path) {
  if (!sys_file_exists(path)) return false;
  PathBuffer gameFile;
  for (const char* manifest : {"manifest.bin", "origmanifest.bin"}) {
    if (gameFile.Format("%s\\%s", gameDir, manifest) > 0 && sys_same_file(gameFile.Data(), path)) {
      return true;
    }
  }
  for (uint32_t i = 0; i < game.archive_count(); ++i) {
    if (game.ArchivePath(i, gameFile) && sys_same_file(gameFile.Data(), path)) return true;
  }
  return false;
}

int run_extract(const CommandArgs& args) {
  const char* name = args.positional[1];
  const char* ext = args.positional[2];
  const char* out = args.positional[3];
  GameReader game;
  if (!open_game(args.positional[0], game)) return kExitFailure;
  const uint64_t packageId = args.pkg != nullptr ? argument_id(args.pkg) : 0;
  if (packageId != 0) {
    // The search passes over packages in no archive, as the tool does: say so rather than that
    // the package lacks the entry.
    bool known = false;
    bool inArchive = false;
    for (uint32_t k = 0; k < game.package_count(); ++k) {
      if (game.record(k).packageId != packageId) continue;
      known = true;
      inArchive = inArchive || game.record(k).archiveIndex != kNoArchive;
    }
    if (!known) {
      print_error("no package has the id of \"%s\" (%s)", args.pkg, id_text(packageId).text);
      return kExitFailure;
    }
    if (!inArchive) {
      print_error("package \"%s\" lies in no archive: there is nothing to read", args.pkg);
      return kExitFailure;
    }
  }

  // The first match in manifest order is taken; the search goes on only to name the others.
  EntrySearch search(game, argument_id(name), argument_id(ext), packageId);
  Status status;
  uint32_t chosen = kNoRecord;
  ByteBuffer data;
  ByteBuffer meta;
  CStringBufferA others;
  CStringBufferA packageName;
  for (EntrySearch::Step step; (step = search.Next(&status)) != EntrySearch::kDone;) {
    if (step == EntrySearch::kUnreadable) {
      print_failure_warning(status, "; passed over");
      continue;
    }
    if (chosen == kNoRecord) {
      chosen = search.record();
      const PackageEntry& entry = game.package().entry(search.entry());
      if (!game.ReadEntryData(search.entry(), data, &status)) {
        print_failure(status);
        return kExitFailure;
      }
      if (!meta.resize(entry.metaSize)) {
        print_error("out of memory");
        return kExitFailure;
      }
      if (entry.metaSize != 0) std::memcpy(meta.data(), entry.meta, entry.metaSize);
    } else if (search.record() != chosen) {
      if (!record_name(game, search.record(), packageName) ||
          !append_quoted(packageName.Data(), others)) {
        print_error("out of memory");
        return kExitFailure;
      }
    }
  }
  if (chosen == kNoRecord) {
    if (args.pkg != nullptr) {
      print_error("package \"%s\" holds no entry \"%s\" \"%s\"", args.pkg, name, ext);
    } else {
      print_error("no package holds an entry \"%s\" \"%s\"", name, ext);
    }
    return kExitFailure;
  }
  record_name(game, chosen, packageName);
  if (others.Length() != 0) {
    print_warning(
        "\"%s\" \"%s\" is also in %s; extracting it from \"%s\", the first in the "
        "manifest (choose with --pkg)",
        name, ext, others.Data(), packageName.Data());
  }

  PathBuffer metaPath;
  if (metaPath.Format("%s.meta", out) <= 0) {
    print_error("out of memory");
    return kExitFailure;
  }
  const char* targets[] = {out, metaPath.Data()};
  for (const char* target : targets) {
    if (is_game_file(game, args.positional[0], target)) {
      print_error("\"%s\" is a file of the game; extract to another place", target);
      return kExitFailure;
    }
  }
  if (!write_file(out, data, &status) || !write_file(metaPath.Data(), meta, &status)) {
    print_failure(status);
    return kExitFailure;
  }
  std::printf("%s: %u bytes of \"%s\" \"%s\" from package \"%s\"\n%s: %u bytes of metadata\n", out,
              data.length(), name, ext, packageName.Data(), metaPath.Data(), meta.length());
  return kExitSuccess;
}

}  // namespace

const CommandSpec kExtractCommand = {
    "extract",
    "GAMEDIR NAME EXT OUT [--pkg PACKAGE]",
    "take an entry's data and metadata out of the game",
    "Writes the inflated data of the entry named NAME with the extension EXT to the file OUT, and\n"
    "its metadata to OUT.meta; both are replaced if they exist. NAME, EXT and PACKAGE are matched\n"
    "as the configuration's \"name\", \"ext\" and \"pkg\" are: by their name_hash, so that case "
    "does\n"
    "not matter; 0x and 16 hexadecimal digits give an id instead.\n"
    "\n"
    "  --pkg PACKAGE   take the entry from that package. Without it, the first package in the\n"
    "                  manifest that holds the entry is taken, and a warning names the others.\n"
    "\n"
    "Nothing is written unless the entry was read whole; each file is written under a temporary\n"
    "name (OUT.tmp, OUT.meta.tmp) and renamed when complete. Nothing in GAMEDIR is written.\n"
    "\n"
    "Exit status: 0 when both files were written, 1 when no package holds the entry or it cannot\n"
    "be read or written, 2 for a usage error.\n",
    4,
    kOptionPkg,
    run_extract,
};
