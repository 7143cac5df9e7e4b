#include "inspect/plan_command.h"

#include <cstdio>
#include <cstring>

#include "base/byte_buffer.h"
#include "base/coding.h"
#include "base/file.h"
#include "base/platform.h"
#include "base/status.h"
#include "base/string_buffer.h"
#include "driver/config.h"
#include "driver/run_context.h"
#include "driver/untouched_manifest.h"
#include "driver/warning_list.h"
#include "inspect/game_lookup.h"
#include "inspect/messages.h"
#include "inspect/meta_report.h"
#include "inspect/text_table.h"
#include "json/json_writer.h"
#include "manifest/game_reader.h"
#include "manifest/manifest_update.h"
#include "manifest/package_directory.h"
#include "package/package_update.h"
#include "package/texture_conversion.h"

namespace {

// A file's row in the text report names at most this many packages; --json names them all.
constexpr uint32_t kPackagesNamed = 5;

// The package records in which each configured file would replace an entry. Every package in an
// archive is read and each of its entries looked up with match_entries, the package update's own
// look-up, so that the matches are a run's; and since the walk goes on past a package that cannot
// be read, they are known for every file even when the dry run stops at its first failure.
class MatchList {
 public:
  // Walks every package of game. A package that cannot be read is passed over (the dry run says
  // why) and leaves the list incomplete. False when out of memory.
  bool Walk(const PackFileEntryList& entries, GameReader& game);

  // Whether every package in an archive was read.
  bool complete() const { return complete_; }
  // The files that replace an entry somewhere.
  const UsedFiles& used() const { return used_; }
  uint32_t count() const { return pairs_.length() / 8; }
  // The place in "files" (from 1) and the package record of match i; records in manifest order.
  uint32_t file(uint32_t i) const { return decode_u32(pairs_.data() + 8 * i); }
  uint32_t record(uint32_t i) const { return decode_u32(pairs_.data() + 8 * i + 4); }

 private:
  ByteBuffer pairs_;
  UsedFiles used_;
  bool complete_ = true;
};

bool MatchList::Walk(const PackFileEntryList& entries, GameReader& game) {
  if (!used_.Reset(entries.count())) return false;
  ByteWriter writer(pairs_);
  Status unread;
  for (uint32_t k = 0; k < game.package_count(); ++k) {
    const PackageRecord& record = game.record(k);
    if (record.archiveIndex == kNoArchive) continue;
    unread.Clear();
    if (!game.ReadPackage(k, &unread)) {
      complete_ = false;
      continue;
    }
    PackageReader& package = game.package();
    if (!package.has_tables()) continue;
    match_entries(entries, record.packageId, package);
    const uint32_t firstOfRecord = count();
    for (uint32_t e = 0; e < package.entry_count(); ++e) {
      const PackFileEntry* file = package.entry(e).match;
      if (file == nullptr) continue;
      used_.Mark(*file);
      // A file that replaces two entries of one package names that package once.
      bool named = false;
      for (uint32_t i = firstOfRecord; i < count() && !named; ++i) {
        named = this->file(i) == file->index;
      }
      if (!named && !(writer.write_u32(file->index) && writer.write_u32(k))) return false;
    }
  }
  return true;
}

// A package that a run would rewrite into the user archive.
struct Rewrite {
  uint32_t record = 0;     // its record in the untouched manifest
  uint64_t newOffset = 0;  // where it would begin in the user archive
  uint64_t bytes = 0;      // what it would take there, up to the next package boundary
};

struct RewriteList {
  TCountedArray<Rewrite> items;
  uint32_t count = 0;
  uint64_t archiveBytes = 0;  // the user archive's size; 0 when a run writes none
};

// The packages that the dry run moved, as the pass tells them, in manifest order. False when out
// of memory.
bool find_rewrites(const PassResult& result, RewriteList& rewrites) {
  uint32_t moved = 0;
  for (uint32_t k = 0; k < result.moves.count(); ++k) moved += result.moves[k].moved ? 1 : 0;
  if (moved != 0 && !rewrites.items.allocate(moved)) return false;
  for (uint32_t k = 0; k < result.moves.count(); ++k) {
    const PackageMove& move = result.moves[k];
    if (!move.moved) continue;
    Rewrite& rewrite = rewrites.items[rewrites.count++];
    rewrite.record = k;
    rewrite.newOffset = move.offset;
    rewrite.bytes = move.bytes;
  }
  rewrites.archiveBytes = result.userArchiveBytes;
  return true;
}

// A configured file read and converted as the package update reads and converts it: result is
// kMetaConverted when its entries would get meta (from its "meta" file or made from the file),
// kMetaNone when they would keep their own, kMetaFailed when the file cannot be used, with the
// reason in problem.
struct FileCheck {
  MetaConversion result = kMetaNone;
  ByteBuffer meta;
  Status problem;
};

void check_file(const PackFileEntry& file, ByteBuffer& content, FileCheck& check) {
  check.problem.Clear();
  if (!read_whole_file(file.sourcePath.Text(), content, &check.problem)) {
    check.result = kMetaFailed;
    return;
  }
  check.result = replacement_metadata(file, content, check.meta, &check.problem);
}

// The metadata cell of a file's row: what it decodes to, or its size when it decodes to nothing.
bool describe_file_meta(const PackFileEntry& file, const FileCheck& check, bool used,
                        CStringBufferA& text) {
  if (check.result == kMetaFailed) return text.Assign(used ? "refused" : "unusable") != nullptr;
  if (check.result == kMetaNone) return text.Assign("the entry's own") != nullptr;
  CStringBufferA decoded;
  if (!describe_meta(decode_meta(file.extId, check.meta.data(), check.meta.length()), decoded)) {
    return false;
  }
  const char* from = file.metaPath.IsEmpty() ? "" : "meta file: ";
  if (decoded.Length() != 0) return text.Format("%s%s", from, decoded.Data()) > 0;
  return text.Format("%s%u bytes", from, check.meta.length()) > 0;
}

// The packages in which a file would replace an entry, for its row: their names, or "none".
bool name_packages(const PackFileEntry& file, const GameReader& game, const MatchList& matches,
                   CStringBufferA& cell) {
  static const uint8_t kSeparator[] = {',', ' '};
  uint32_t named = 0;
  uint32_t more = 0;
  for (uint32_t i = 0; i < matches.count(); ++i) {
    if (matches.file(i) != file.index) continue;
    if (named == kPackagesNamed) {
      ++more;
      continue;
    }
    const PackageRecord& record = game.record(matches.record(i));
    if ((named++ != 0 && !append_escaped(kSeparator, sizeof(kSeparator), cell)) ||
        !append_escaped(record.name, record.nameLength, cell)) {
      return false;
    }
  }
  if (named == 0) return cell.Assign("none") != nullptr;
  if (more == 0) return true;
  CStringBufferA all;
  return all.Format("%s and %u more", cell.Data(), more) > 0 && cell.Assign(all.Data()) != nullptr;
}

// The report, as two tables and a last line, or with --json as a document.
class PlanReport {
 public:
  PlanReport(const RunContext& context, const GameReader& game, const MatchList& matches, bool json)
      : context_(context),
        game_(game),
        matches_(matches),
        json_(out_),
        files_(6, 1u << 0),
        rewrites_(6, 1u << 2 | 1u << 3 | 1u << 4 | 1u << 5),
        useJson_(json) {
    if (useJson_) {
      json_.BeginObject();
      json_.Key("upak");
      json_.String(context.userPackage.Text());
      json_.Key("fullcopy");
      json_.Bool(context.fullCopy);
      json_.Key("files");
      json_.BeginArray();
    } else {
      const char* const headings[] = {"file", "name", "ext", "pkg", "replaces in", "metadata"};
      for (const char* heading : headings) files_.Cell(heading);
    }
  }

  // One configured file: the packages in which it would replace an entry, and the metadata its
  // entries would get or why it cannot be used. False when out of memory.
  bool File(const PackFileEntry& file, const FileCheck& check) {
    return useJson_ ? FileJson(file, check) : FileText(file, check);
  }

  // Prints the report: the files, the packages a run would rewrite (rewrites is null when the
  // dry run failed) and whether a run would succeed; the JSON document also holds the warnings
  // and errors, which the caller prints on standard error. False when out of memory.
  bool Print(const RewriteList* rewrites, const WarningList& warnings, const WarningList& errors,
             bool succeeds) {
    return useJson_ ? PrintJson(rewrites, warnings, errors, succeeds)
                    : PrintText(rewrites, errors, succeeds);
  }

 private:
  bool FileText(const PackFileEntry& file, const FileCheck& check) {
    ++fileCount_;
    files_.Number(file.index);
    files_.Cell(file.name.Text());
    files_.Cell(file.ext.Text());
    files_.Cell(file.pkg.Text());
    CStringBufferA packages;
    CStringBufferA meta;
    if (!name_packages(file, game_, matches_, packages) ||
        !describe_file_meta(file, check, matches_.used().Used(file), meta)) {
      return false;
    }
    files_.Cell(packages);
    files_.Cell(meta);
    return true;
  }

  bool FileJson(const PackFileEntry& file, const FileCheck& check) {
    json_.BeginObject();
    json_.Key("file");
    json_.Uint(file.index);
    json_.Key("name");
    json_.String(file.name.Text());
    json_.Key("ext");
    json_.String(file.ext.Text());
    json_.Key("pkg");
    if (file.pkg.IsEmpty()) {
      json_.Null();
    } else {
      json_.String(file.pkg.Text());
    }
    CStringBufferA text;
    sys_native_path(file.sourcePath.Text(), text);
    json_.Key("src");
    json_.String(text.Data());
    json_.Key("packages");
    json_.BeginArray();
    for (uint32_t i = 0; i < matches_.count(); ++i) {
      if (matches_.file(i) != file.index) continue;
      const PackageRecord& record = game_.record(matches_.record(i));
      json_.String(record.name, record.nameLength);
    }
    json_.EndArray();
    const bool converted = check.result == kMetaConverted;
    json_.Key("meta_from");
    if (check.result == kMetaFailed) {
      json_.Null();
    } else {
      json_.String(!converted ? "entry" : file.metaPath.IsEmpty() ? "src" : "meta");
    }
    json_.Key("meta");
    if (converted) {
      json_.HexString(check.meta.data(), check.meta.length());
    } else {
      json_.Null();
    }
    write_meta_json(
        converted ? decode_meta(file.extId, check.meta.data(), check.meta.length()) : DecodedMeta(),
        json_);
    json_.Key("problem");
    if (check.result != kMetaFailed) {
      json_.Null();
    } else if (check.problem.Describe(text)) {
      json_.String(text.Data());
    } else {
      return false;
    }
    json_.EndObject();
    return true;
  }

  bool PrintText(const RewriteList* rewrites, const WarningList& errors, bool succeeds) {
    const uint32_t count = rewrites != nullptr ? rewrites->count : 0;
    if (count != 0) {
      const char* const headings[] = {"package", "id", "archive", "offset", "new offset", "bytes"};
      for (const char* heading : headings) rewrites_.Cell(heading);
    }
    for (uint32_t i = 0; i < count; ++i) {
      const Rewrite& rewrite = rewrites->items[i];
      const PackageRecord& record = game_.record(rewrite.record);
      rewrites_.Cell(record.name, record.nameLength);
      rewrites_.Cell(id_text(record.packageId).text);
      rewrites_.Number(record.archiveIndex);
      rewrites_.Number(record.offset);
      rewrites_.Number(rewrite.newOffset);
      rewrites_.Number(rewrite.bytes);
    }
    if (!files_.ok() || !rewrites_.ok()) return false;
    if (fileCount_ != 0) {
      files_.Print(stdout);
      std::fputc('\n', stdout);
    }
    if (count != 0) {
      rewrites_.Print(stdout);
      std::fputc('\n', stdout);
    }
    if (!succeeds) {
      std::printf("a run would fail: %u error%s\n", errors.count(), errors.count() == 1 ? "" : "s");
    } else if (count == 0) {
      std::printf("a run would succeed: it rewrites no package\n");
    } else {
      std::printf("a run would succeed: it rewrites %u package%s into \"%s.upak\" (%llu bytes)\n",
                  count, count == 1 ? "" : "s", context_.userPackage.Text(),
                  static_cast<unsigned long long>(rewrites->archiveBytes));
    }
    return true;
  }

  bool PrintJson(const RewriteList* rewrites, const WarningList& warnings,
                 const WarningList& errors, bool succeeds) {
    json_.EndArray();
    json_.Key("rewrites");
    if (rewrites != nullptr) {
      json_.BeginArray();
      for (uint32_t i = 0; i < rewrites->count; ++i) {
        const Rewrite& rewrite = rewrites->items[i];
        const PackageRecord& record = game_.record(rewrite.record);
        json_.BeginObject();
        write_record_members(json_, record, "package");
        json_.Key("new_offset");
        json_.Uint(rewrite.newOffset);
        json_.Key("bytes");
        json_.Uint(rewrite.bytes);
        json_.EndObject();
      }
      json_.EndArray();
    } else {
      json_.Null();
    }
    json_.Key("user_archive_bytes");
    if (rewrites != nullptr) {
      json_.Uint(rewrites->archiveBytes);
    } else {
      json_.Null();
    }
    WriteLines("warnings", warnings);
    WriteLines("errors", errors);
    json_.Key("ok");
    json_.Bool(succeeds);
    json_.EndObject();
    if (!json_.ok()) return false;
    std::fwrite(out_.data(), 1, out_.length(), stdout);
    return true;
  }

  void WriteLines(const char* key, const WarningList& lines) {
    json_.Key(key);
    json_.BeginArray();
    for (uint32_t i = 0; i < lines.count(); ++i) json_.String(lines.line(i));
    json_.EndArray();
  }

  const RunContext& context_;
  const GameReader& game_;
  const MatchList& matches_;
  ByteBuffer out_;
  JsonWriter json_;
  TextTable files_;
  TextTable rewrites_;
  bool useJson_;
  uint32_t fileCount_ = 0;
};

// Whether the dry run's failure is this configured file's problem, which has been told already:
// both were recorded by the same reader for the same file.
bool same_problem(const Status& failure, const Status& problem) {
  return !failure.ok() && failure.code() == problem.code() &&
         std::strcmp(failure.path(), problem.path()) == 0 &&
         std::strcmp(failure.what(), problem.what()) == 0;
}

// Checks every configured file and adds its row to the report. The dry run stops at its first
// failure; here every file is checked, so that all their problems are told at once. The problem
// of a file that would replace an entry is an error, and *refused becomes true (the dry run's own
// failure, which has been told already, is not told again); a file that replaces no entry is never
// read by a run, so its problem is only a warning. False when out of memory.
bool check_files(RunContext& context, const MatchList& matches, PlanReport& report,
                 WarningList& errors, bool* refused) {
  ByteBuffer content;
  FileCheck check;
  CStringBufferA problem;
  for (const PackFileEntry* file = context.entries.head(); file != nullptr; file = file->next) {
    check_file(*file, content, check);
    if (!report.File(*file, check)) return false;
    if (check.result != kMetaFailed) continue;
    if (!check.problem.Describe(problem)) return false;
    if (!matches.used().Used(*file)) {
      context.warnings.Add(
          "%s (file %u of \"files\", which replaces no entry: a run does not read it)",
          problem.Data(), file->index);
      continue;
    }
    *refused = true;
    if (!same_problem(context.failure, check.problem)) errors.Add("%s", problem.Data());
  }
  return true;
}

// The run's source and game directories, formed as the driver forms them from its arguments.
bool set_directories(RunContext& context, const char* modDir, const char* gameDir) {
  PathBuffer path;
  if (path.Format("%s\\", modDir) <= 0) return false;
  context.srcDir.Assign(path);
  if (path.Format("%s\\", gameDir) <= 0) return false;
  context.destDir.Assign(path);
  return !context.srcDir.IsEmpty() && !context.destDir.IsEmpty();
}

// load_config's lines are the tool's; the plan's report says the same on standard error.
void say_nothing(const char*, const char*) {}

int run_plan(const CommandArgs& args) {
  const char* gameDir = args.positional[1];
  RunContext context;
  PathBuffer configPath;
  if (!set_directories(context, args.positional[0], gameDir) ||
      configPath.Format("%svintrel.json", context.srcDir.Text()) <= 0) {
    print_error("out of memory");
    return kExitFailure;
  }
  // Until both are read there is nothing to plan: the run would stop there too.
  GameReader game;
  UntouchedManifest found;
  if (!load_config(configPath.Data(), context, say_nothing) ||
      !read_untouched_manifest(context, &found) ||
      !game.Open(gameDir, context.manifestSections, &context.failure)) {
    print_failure(context.failure);
    return kExitFailure;
  }
  context.threads = inspect_thread_count(args);

  MatchList matches;
  if (!matches.Walk(context.entries, game)) {
    print_error("out of memory");
    return kExitFailure;
  }
  CountingTarget target;
  PassResult result;
  const bool passed = update_manifest(context, target, &result);
  RewriteList rewrites;
  CStringBufferA failure;
  if (passed ? !find_rewrites(result, rewrites) : !context.failure.Describe(failure)) {
    print_error("out of memory");
    return kExitFailure;
  }
  // A package the walk could not read may hold a file's only match; the dry run's error names it.
  if (matches.complete()) warn_unused_entries(context, matches.used());

  // The reasons a run would fail, one line each: the dry run's, then those of the files.
  WarningList errors;
  if (!passed) errors.Add("%s", failure.Data());
  PlanReport report(context, game, matches, args.json);
  bool refused = false;
  if (!check_files(context, matches, report, errors, &refused)) {
    print_error("out of memory");
    return kExitFailure;
  }
  const bool succeeds = passed && !refused;
  if (!report.Print(passed ? &rewrites : nullptr, context.warnings, errors, succeeds)) {
    print_error("out of memory");
    return kExitFailure;
  }
  for (uint32_t i = 0; i < context.warnings.count(); ++i) {
    print_warning("%s", context.warnings.line(i));
  }
  for (uint32_t i = 0; i < errors.count(); ++i) print_error("%s", errors.line(i));
  return succeeds ? kExitSuccess : kExitFailure;
}

}  // namespace

const CommandSpec kPlanCommand = {
    "plan",
    "MODDIR GAMEDIR [--json] [--threads N]",
    "try a mod: what a run of the tool would do, writing nothing",
    "Does everything a run of the tool (vintrel MODDIR GAMEDIR) does but write: reads\n"
    "MODDIR's vintrel.json and the game's untouched manifest (origmanifest.bin once a run has\n"
    "made it), reads every package, matches its entries, reads and converts every replacing\n"
    "file, and rebuilds in memory every package a run would rewrite. Nothing is written, in\n"
    "GAMEDIR or anywhere else.\n"
    "\n"
    "The report has a row for every configured file: the packages in which it would replace an\n"
    "entry (\"none\" comes with a warning), and the metadata its entries would get, decoded for\n"
    "a texture or a loc file. Then a row for every package a run would rewrite, with its place\n"
    "and size in the user archive, and a last line that says whether a run would succeed.\n"
    "Every configured file is checked, so that every texture the tool would refuse is named at\n"
    "once, in an error line of its own; the tool's configuration warnings follow the report.\n"
    "\n"
    "A run in progress is not detected, and what only writing can show (a full disk, a game\n"
    "directory that cannot be written, no temporary directory) is not tried.\n"
    "\n"
    "  --json        print {\"upak\", \"fullcopy\", \"files\": [{\"file\", \"name\", \"ext\",\n"
    "                \"pkg\", \"src\", \"packages\", \"meta_from\", \"meta\", \"texture\", "
    "\"loc\",\n"
    "                \"problem\"}], \"rewrites\": [{\"package\", \"id\", \"archive\", \"offset\",\n"
    "                \"new_offset\", \"bytes\"}], \"user_archive_bytes\", \"warnings\", "
    "\"errors\",\n"
    "                \"ok\"}\n"
    "  --threads N   rewrite packages on N threads (default: VINTREL_THREADS, else one per\n"
    "                processor); the report is the same for any N\n"
    "\n"
    "Exit status: 0 when a run would succeed, 1 when it would fail (each reason in an error\n"
    "line), 2 for a usage error.\n",
    2,
    kOptionJson | kOptionThreads,
    run_plan,
};
