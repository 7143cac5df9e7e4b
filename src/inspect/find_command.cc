#include "inspect/find_command.h"

#include <cstdio>

#include "driver/name_hash.h"
#include "inspect/game_lookup.h"
#include "inspect/messages.h"
#include "inspect/text_table.h"
#include "json/json_writer.h"
#include "manifest/package_directory.h"

namespace {

// The matches, as a table or with --json as a document.
class FindReport {
 public:
  FindReport(bool json, const char* name, const char* ext, uint64_t nameId, uint64_t extId)
      : json_(out_),
        table_(7, 1u << 2 | 1u << 3 | 1u << 4 | 1u << 5 | 1u << 6),
        useJson_(json),
        name_(name),
        ext_(ext),
        nameId_(nameId),
        extId_(extId) {
    if (useJson_) {
      json_.BeginObject();
      json_.Key("name");
      json_.String(name);
      json_.Key("ext");
      json_.String(ext);
      json_.Key("name_id");
      json_.String(id_text(nameId).text);
      json_.Key("ext_id");
      json_.String(id_text(extId).text);
      json_.Key("matches");
      json_.BeginArray();
    } else {
      const char* const headings[] = {"package", "id",       "archive",  "offset",
                                      "entry",   "raw size", "meta size"};
      for (const char* heading : headings) table_.Cell(heading);
    }
  }

  void Match(const GameReader& game, uint32_t k, uint32_t e) {
    const PackageRecord& record = game.record(k);
    const PackageEntry& entry = game.package().entry(e);
    ++matches_;
    if (!useJson_) {
      table_.Cell(record.name, record.nameLength);
      table_.Cell(id_text(record.packageId).text);
      table_.Number(record.archiveIndex);
      table_.Number(record.offset);
      table_.Number(e);
      table_.Number(entry.rawSize);
      table_.Number(entry.metaSize);
      return;
    }
    json_.BeginObject();
    write_record_members(json_, record, "package");
    json_.Key("entry");
    json_.Uint(e);
    json_.Key("raw_size");
    json_.Uint(entry.rawSize);
    json_.Key("meta_size");
    json_.Uint(entry.metaSize);
    json_.EndObject();
  }

  // Prints the report; false when it could not be made for want of memory.
  bool Print() {
    if (!useJson_) {
      if (!table_.ok()) return false;
      if (matches_ != 0) {
        std::printf("\"%s\" \"%s\" (name id %s, ext id %s) is in %u package%s:\n\n", name_, ext_,
                    id_text(nameId_).text, id_text(extId_).text, matches_,
                    matches_ == 1 ? "" : "s");
        table_.Print(stdout);
      }
      return true;
    }
    json_.EndArray();
    json_.EndObject();
    if (!json_.ok()) return false;
    std::fwrite(out_.data(), 1, out_.length(), stdout);
    return true;
  }

  uint32_t matches() const { return matches_; }

 private:
  ByteBuffer out_;
  JsonWriter json_;
  TextTable table_;
  bool useJson_;
  const char* name_;
  const char* ext_;
  uint64_t nameId_;
  uint64_t extId_;
  uint32_t matches_ = 0;
};

// "pkg" names a package by the name_hash of its text; a package whose id is not that of its own
// name cannot be named so, and the modder must hear it before writing the name in.
void warn_if_unnamable(const GameReader& game, uint32_t k) {
  CStringBufferA name;
  if (!record_name(game, k, name) || name_hash(name.Data()) == game.record(k).packageId) return;
  print_warning(
      "the id of package \"%s\" is not that of its name: \"pkg\": \"%s\" would not "
      "name it",
      name.Data(), name.Data());
}

int run_find(const CommandArgs& args) {
  GameReader game;
  if (!open_game(args.positional[0], game)) return kExitFailure;
  const char* name = args.positional[1];
  const char* ext = args.positional[2];
  const uint64_t nameId = argument_id(name);
  const uint64_t extId = argument_id(ext);
  FindReport report(args.json, name, ext, nameId, extId);
  EntrySearch search(game, nameId, extId, 0);
  Status status;
  uint32_t unreadable = 0;
  for (EntrySearch::Step step; (step = search.Next(&status)) != EntrySearch::kDone;) {
    if (step == EntrySearch::kMatch) {
      report.Match(game, search.record(), search.entry());
      warn_if_unnamable(game, search.record());
    } else {
      print_failure_warning(status, "; passed over");
      ++unreadable;
    }
  }
  if (!report.Print()) {
    print_error("out of memory");
    return kExitFailure;
  }
  if (report.matches() == 0) {
    print_error("no package holds an entry \"%s\" \"%s\" (name id %s, ext id %s)%s", name, ext,
                id_text(nameId).text, id_text(extId).text,
                unreadable != 0 ? " that could be read" : "");
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace

const CommandSpec kFindCommand = {
    "find",
    "GAMEDIR NAME EXT [--json]",
    "find the packages that hold an entry",
    "Lists every package that holds an entry named NAME with the extension EXT (without the\n"
    "dot), in manifest order: the package's name (what to write in the configuration's \"pkg\"\n"
    "to replace the entry there alone) and id, its archive and offset, and the entry's index,\n"
    "raw size and metadata size. NAME and EXT are matched as the configuration's \"name\" and\n"
    "\"ext\" are: by their name_hash, so that case does not matter; 0x and 16 hexadecimal digits\n"
    "give an id instead. Packages in no archive are passed over; a package that cannot be read\n"
    "is named in a warning.\n"
    "\n"
    "  --json   print {\"name\", \"ext\", \"name_id\", \"ext_id\", \"matches\": [{\"package\", "
    "\"id\",\n"
    "           \"archive\", \"offset\", \"entry\", \"raw_size\", \"meta_size\"}]}\n"
    "\n"
    "Exit status: 0 when some package holds the entry, 1 when none does or the manifest cannot be\n"
    "read, 2 for a usage error.\n",
    3,
    kOptionJson,
    run_find,
};
