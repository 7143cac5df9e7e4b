#include "inspect/verify_command.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/array.h"
#include "base/file.h"
#include "base/ordered_work.h"
#include "base/warning_list.h"
#include "inspect/game_lookup.h"
#include "inspect/game_names.h"
#include "inspect/messages.h"
#include "inspect/package_pass.h"
#include "json/json_writer.h"
#include "manifest/package_directory.h"
#include "package/entry_compression.h"
#include "package/package_reader.h"
#include "report/json_report.h"
#include "report/progress_bar.h"
#include "report/text_table.h"

namespace {

constexpr uint32_t kNoEntry = UINT32_MAX;

// One problem of a package: of record `record`'s entry `entry`, with its ids, or of the package as
// a whole (kNoEntry); why, as line `reason` of the list of reasons beside it.
struct VerifyProblem {
  uint32_t record = 0;
  uint32_t entry = kNoEntry;
  uint64_t nameId = 0;
  uint64_t extId = 0;
  uint32_t reason = 0;
};

// What verify found: the counts of what was checked and every problem, in manifest order.
struct VerifyResult {
  GameReader game;
  NameLists names;
  uint32_t packages = 0;
  uint64_t entries = 0;
  uint32_t noArchive = 0;
  bool outOfMemory = false;
  TArray<VerifyProblem> problems;
  WarningList reasons;
};

// Adds a problem with its reason to a list and its reasons. False when out of memory.
bool add_problem(VerifyProblem problem, const char* reason, TArray<VerifyProblem>& problems,
                 WarningList& reasons) {
  problem.reason = reasons.count();
  if (!reasons.Add("%s", reason)) return false;
  return problems.Append(problem);
}

bool print_verify_json(const VerifyResult& result) {
  ByteBuffer out;
  JsonWriter json(out);
  json.BeginObject();
  json.Key("problems");
  json.BeginArray();
  for (const VerifyProblem& problem : result.problems) {
    const bool ofEntry = problem.entry != kNoEntry;
    json.BeginObject();
    write_record_members(json, result.game.record(problem.record), "package");
    json.Key("entry");
    if (ofEntry) {
      json.Uint(problem.entry);
    } else {
      json.Null();
    }
    if (ofEntry) {
      write_name_members(json, result.names, problem.nameId, problem.extId);
    } else {
      json.Key("name");
      json.Null();
      json.Key("ext");
      json.Null();
    }
    json.Key("name_id");
    if (ofEntry) {
      json.String(id_text(problem.nameId).text);
    } else {
      json.Null();
    }
    json.Key("ext_id");
    if (ofEntry) {
      json.String(id_text(problem.extId).text);
    } else {
      json.Null();
    }
    json.Key("error");
    json.String(result.reasons.line(problem.reason));
    json.EndObject();
  }
  json.EndArray();
  json.Key("packages");
  json.Uint(result.packages);
  json.Key("entries");
  json.Uint(result.entries);
  json.Key("no_archive");
  json.Uint(result.noArchive);
  json.EndObject();
  return print_json_document(json, out);
}

bool print_verify_text(const VerifyResult& result) {
  TextTable table(4, 1u << 1);
  const char* const headings[] = {"package", "entry", "name", "problem"};
  for (const char* heading : headings) table.Cell(heading);
  CStringBufferA name;
  for (const VerifyProblem& problem : result.problems) {
    const PackageRecord& record = result.game.record(problem.record);
    table.Cell(record.name, record.nameLength);
    if (problem.entry != kNoEntry) {
      table.Number(problem.entry);
      if (!entry_name(result.names, problem.nameId, problem.extId, name)) return false;
      table.Cell(name);
    } else {
      table.Cell("-");
      table.Cell("-");
    }
    table.Cell(result.reasons.line(problem.reason));
  }
  if (!table.ok()) return false;
  const uint32_t problems = result.problems.count();
  if (problems != 0) {
    table.Print(stdout);
    std::fputc('\n', stdout);
  }
  std::printf("checked %u package%s and %llu entr%s", result.packages,
              result.packages == 1 ? "" : "s", static_cast<unsigned long long>(result.entries),
              result.entries == 1 ? "y" : "ies");
  if (result.noArchive != 0) {
    std::printf(" (%u package%s in no archive passed over)", result.noArchive,
                result.noArchive == 1 ? "" : "s");
  }
  if (problems == 0) {
    std::printf(": all intact\n");
  } else {
    std::printf(": %u problem%s\n", problems, problems == 1 ? "" : "s");
  }
  return true;
}

// What a worker found in one package, for the taker: the entries it checked, and its problems.
struct VerifySlot {
  uint32_t entries = 0;
  TArray<VerifyProblem> problems;
  WarningList reasons;
};

// Checks every package of a game on worker threads; the report takes them in manifest order, so
// that it is the same for any number of threads.
class VerifyTask final : public PackagePassTask<PassWorker, VerifySlot> {
 public:
  VerifyTask(VerifyResult& result, const PackagePass& pass, uint32_t threads)
      : PackagePassTask(result.game, pass, threads, "verifying"), result_(result) {}

  void Work(uint32_t worker, uint32_t step, uint32_t slot) override;
  bool Take(uint32_t step, uint32_t slot) override;

 private:
  void Add(VerifySlot& slot, PassWorker& worker, uint32_t entry, uint64_t nameId, uint64_t extId);

  VerifyResult& result_;  // the taker's alone
};

void VerifyTask::Add(VerifySlot& slot, PassWorker& worker, uint32_t entry, uint64_t nameId,
                     uint64_t extId) {
  if (!describe_reason(worker.status, worker.reason)) worker.reason.Assign("out of memory");
  VerifyProblem problem;
  problem.entry = entry;
  problem.nameId = nameId;
  problem.extId = extId;
  // A problem that cannot be kept for want of memory is dropped, as the worker's own means
  // are; the taker's list is what must be whole.
  add_problem(problem, worker.reason.Data(), slot.problems, slot.reasons);
}

void VerifyTask::Work(uint32_t w, uint32_t k, uint32_t s) {
  PassWorker& worker = workers_[w];
  VerifySlot& slot = slots_[s];
  slot.entries = 0;
  slot.problems.Clear();
  slot.reasons.Clear();
  const PackageRecord& record = game_.record(k);
  if (record.archiveIndex == kNoArchive) return;
  worker.status.Clear();
  PackageReader package(worker.indexTable, worker.entryTable, worker.idBlock);
  if (!pass_.ReadPackage(k, package, &worker.status)) return Add(slot, worker, kNoEntry, 0, 0);
  const FileHandle archive = pass_.archive(k);
  const uint32_t count = package.has_tables() ? package.entry_count() : 0;
  slot.entries = count;
  if (package.split()) {
    for (uint32_t e = 0; e < count; ++e) {
      const PackageEntry& entry = package.entry(e);
      worker.status.Clear();
      if (!package.ReadBlock(archive, entry.blockOffset, worker.streams, worker.data,
                             &worker.status)) {
        game_.NamePackage(k, &worker.status);
        Add(slot, worker, e, entry.nameId, entry.extId);
      } else if (worker.data.length() != entry.rawSize) {
        worker.status.Fail(StatusCode::kCorrupt,
                           "its block inflates to %u bytes; the entry table says %u",
                           worker.data.length(), entry.rawSize);
        Add(slot, worker, e, entry.nameId, entry.extId);
      }
    }
    return;
  }
  if (count == 0) return;
  // The one block of a full package holds every entry: it is inflated whole, and the last entry
  // ends inside it exactly when every entry does.
  if (!package.ReadBlock(archive, package.header().dataOffset, worker.streams, worker.data,
                         &worker.status)) {
    game_.NamePackage(k, &worker.status);
    return Add(slot, worker, kNoEntry, 0, 0);
  }
  uint64_t end = 0;
  for (uint32_t e = 0; e < count; ++e) end += package.entry(e).rawSize;
  if (end > worker.data.length()) {
    worker.status.Fail(StatusCode::kCorrupt, "entry %u runs past the end of the inflated data area",
                       count - 1);
    Add(slot, worker, kNoEntry, 0, 0);
  }
}

bool VerifyTask::Take(uint32_t k, uint32_t s) {
  Progress(k);
  const VerifySlot& slot = slots_[s];
  if (game_.record(k).archiveIndex == kNoArchive) {
    ++result_.noArchive;
  } else {
    ++result_.packages;
    result_.entries += slot.entries;
  }
  for (VerifyProblem problem : slot.problems) {
    problem.record = k;
    if (!add_problem(problem, slot.reasons.line(problem.reason), result_.problems,
                     result_.reasons)) {
      result_.outOfMemory = true;
      return false;
    }
  }
  return true;
}

// Checks every package that result->game, which is open, lists, on threads threads. False when
// out of memory.
bool verify_game(uint32_t threads, VerifyResult* result) {
  PackagePass pass(result->game);
  if (!pass.Open()) {
    result->outOfMemory = true;
    return false;
  }
  VerifyTask task(*result, pass, threads);
  if (!task.ready()) {
    result->outOfMemory = true;
    return false;
  }
  run_ordered(task, result->game.package_count(), threads, task.window(), UINT64_MAX);
  return !result->outOfMemory;
}

int run_verify(const CommandArgs& args) {
  VerifyResult result;
  if (!open_game(args.positional[0], result.game) ||
      !load_names(args, &result.game, nullptr, 0, result.names)) {
    return kExitFailure;
  }
  if (!verify_game(inspect_thread_count(args), &result)) {
    print_error("out of memory");
    return kExitFailure;
  }
  if (!(args.json ? print_verify_json(result) : print_verify_text(result))) {
    print_error("out of memory");
    return kExitFailure;
  }
  return result.problems.count() == 0 ? kExitSuccess : kExitFailure;
}

}  // namespace

const CommandSpec kVerifyCommand = {
    "verify",
    "GAMEDIR [--names FILE]... [--json] [--threads N]",
    "check that every package of a game reads and inflates",
    "Reads every package that GAMEDIR's manifest.bin lists, with its tables, and inflates every\n"
    "compressed block: each entry's own block in a split package, the one data block of a full\n"
    "package. Each problem is listed with its package, its entry (for a split package: its index,\n"
    "and name.ext where the name lists know them, its ids otherwise) and what is wrong; a split\n"
    "entry whose block inflates to another size than its entry table says is a problem too.\n"
    "Packages in no archive are passed over. Nothing is written.\n"
    "\n"
    "On a terminal, a progress bar on standard error shows how far the work has got once it has\n"
    "taken more than a second.\n"
    "\n"
    "  --names FILE  read the name list FILE too (any number of times)\n"
    "  --json        print {\"problems\": [{\"package\", \"id\", \"archive\", \"offset\",\n"
    "                \"entry\", \"name\", \"ext\", \"name_id\", \"ext_id\", \"error\"}],\n"
    "                \"packages\", \"entries\", \"no_archive\"}\n"
    "  --threads N   inflate on N threads (default: VINTREL_THREADS, else one per\n"
    "                processor); the report is the same for any N\n"
    "\n"
    "Exit status: 0 when every package is intact, 1 when any is not or the manifest cannot be\n"
    "read, 2 for a usage error.\n",
    1,
    kOptionJson | kOptionThreads | kOptionNames,
    run_verify,
};
