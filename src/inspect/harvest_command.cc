#include "inspect/harvest_command.h"

#include <cstdio>
#include <cstring>

#include "base/array.h"
#include "base/byte_buffer.h"
#include "base/file.h"
#include "base/ordered_work.h"
#include "base/platform.h"
#include "base/warning_list.h"
#include "driver/name_hash.h"
#include "inspect/game_lookup.h"
#include "inspect/game_names.h"
#include "inspect/messages.h"
#include "inspect/output_file.h"
#include "inspect/package_pass.h"
#include "manifest/package_directory.h"
#include "names/name_harvest.h"
#include "names/name_list.h"
#include "names/name_table.h"
#include "package/entry_compression.h"
#include "package/package_reader.h"
#include "report/progress_bar.h"

namespace {

constexpr uint32_t kNoEntry = UINT32_MAX;

// The list that harvest keeps in the user's names folder when no OUT is given.
constexpr char kHarvestedList[] = "harvested.txt";

// What harvest found: the lines of a name list that name entries of the game, one spelling of
// each, and how much it read.
struct HarvestResult {
  GameReader game;
  NameLists names;
  EntryIds ids;
  NameTable found;
  uint32_t packages = 0;  // read
  uint64_t entries = 0;   // whose bytes were read
  WarningList warnings;   // packages and entries passed over, for standard error
  bool outOfMemory = false;
};

// The ids of every entry of every package in an archive of the game, which is open. A package
// that cannot be read is passed over here; the pass over the entries' bytes says so. False when
// out of memory.
bool collect_entry_ids(HarvestResult* result) {
  GameReader& game = result->game;
  Status unread;
  for (uint32_t k = 0; k < game.package_count(); ++k) {
    if (game.record(k).archiveIndex == kNoArchive) continue;
    unread.Clear();
    if (!game.ReadPackage(k, &unread)) {
      if (unread.code() == StatusCode::kOutOfMemory) return false;
      continue;
    }
    const PackageReader& package = game.package();
    const uint32_t count = package.has_tables() ? package.entry_count() : 0;
    for (uint32_t e = 0; e < count; ++e) {
      if (!result->ids.Add(package.entry(e).nameId, package.entry(e).extId)) return false;
    }
  }
  return result->ids.Finish();
}

// What a worker needs to read packages, and its own harvester.
struct HarvestWorker : PassWorker {
  NameHarvester harvester;
};

// What a worker found in one package, for the taker.
struct HarvestSlot {
  bool read = false;  // the package's tables were read
  bool outOfMemory = false;
  uint32_t entries = 0;
  NameTable lines;
  WarningList warnings;
};

// Reads every entry of every package of a game on worker threads; the taker gathers the lines in
// manifest order, so that the list and the first spelling of a line do not depend on the number
// of threads.
class HarvestTask final : public PackagePassTask<HarvestWorker, HarvestSlot> {
 public:
  HarvestTask(HarvestResult& result, const PackagePass& pass, uint32_t threads)
      : PackagePassTask(result.game, pass, threads, "harvesting"), result_(result) {}

  void Work(uint32_t worker, uint32_t step, uint32_t slot) override;
  bool Take(uint32_t step, uint32_t slot) override;

 private:
  // Warns that package k, or its entry `entry`, is passed over for the reason in worker.status.
  void PassOver(HarvestSlot& slot, HarvestWorker& worker, uint32_t k, uint32_t entry);
  void Scan(HarvestSlot& slot, HarvestWorker& worker, const uint8_t* bytes, uint32_t length);

  HarvestResult& result_;  // the taker's alone; its ids are read by every worker
};

void HarvestTask::PassOver(HarvestSlot& slot, HarvestWorker& worker, uint32_t k, uint32_t entry) {
  if (entry != kNoEntry) game_.NamePackage(k, &worker.status);
  if (!worker.status.Describe(worker.reason)) {
    slot.outOfMemory = true;
  } else if (entry == kNoEntry) {
    slot.outOfMemory = !slot.warnings.Add("%s; passed over", worker.reason.Data());
  } else {
    slot.outOfMemory =
        !slot.warnings.Add("%s; its entry %u passed over", worker.reason.Data(), entry);
  }
}

void HarvestTask::Scan(HarvestSlot& slot, HarvestWorker& worker, const uint8_t* bytes,
                       uint32_t length) {
  ++slot.entries;
  if (!worker.harvester.Scan(bytes, length, result_.ids, slot.lines)) slot.outOfMemory = true;
}

void HarvestTask::Work(uint32_t w, uint32_t k, uint32_t s) {
  HarvestWorker& worker = workers_[w];
  HarvestSlot& slot = slots_[s];
  slot.read = false;
  slot.outOfMemory = false;
  slot.entries = 0;
  slot.lines.Clear();
  slot.warnings.Clear();
  if (game_.record(k).archiveIndex == kNoArchive) return;
  worker.status.Clear();
  PackageReader package(worker.indexTable, worker.entryTable, worker.idBlock);
  if (!pass_.ReadPackage(k, package, &worker.status)) return PassOver(slot, worker, k, kNoEntry);
  slot.read = true;
  const FileHandle archive = pass_.archive(k);
  const uint32_t count = package.has_tables() ? package.entry_count() : 0;
  if (package.split()) {
    for (uint32_t e = 0; e < count && !slot.outOfMemory; ++e) {
      worker.status.Clear();
      if (!package.ReadBlock(archive, package.entry(e).blockOffset, worker.streams, worker.data,
                             &worker.status)) {
        PassOver(slot, worker, k, e);
        continue;
      }
      Scan(slot, worker, worker.data.data(), worker.data.length());
    }
    return;
  }
  if (count == 0) return;
  if (!package.ReadBlock(archive, package.header().dataOffset, worker.streams, worker.data,
                         &worker.status)) {
    game_.NamePackage(k, &worker.status);
    return PassOver(slot, worker, k, kNoEntry);
  }
  // The one block of a full package holds the entries one after another in table order; an entry
  // that runs past its end is read as far as it goes (verify names it).
  uint32_t start = 0;
  for (uint32_t e = 0; e < count && !slot.outOfMemory; ++e) {
    const uint32_t left = worker.data.length() - start;
    const uint32_t size = package.entry(e).rawSize < left ? package.entry(e).rawSize : left;
    Scan(slot, worker, worker.data.data() + start, size);
    start += size;
  }
}

bool HarvestTask::Take(uint32_t k, uint32_t s) {
  Progress(k);
  const HarvestSlot& slot = slots_[s];
  if (slot.read) ++result_.packages;
  result_.entries += slot.entries;
  bool kept = !slot.outOfMemory;
  for (uint32_t i = 0; kept && i < slot.warnings.count(); ++i) {
    kept = result_.warnings.Add("%s", slot.warnings.line(i));
  }
  for (uint32_t i = 0; kept && i < slot.lines.slot_count(); ++i) {
    const char* line = slot.lines.text(i);
    if (line != nullptr) kept = result_.found.Add(line, static_cast<uint32_t>(std::strlen(line)));
  }
  if (!kept) {
    result_.outOfMemory = true;
    return false;
  }
  return true;
}

// Reads every entry of every package that result->game, which is open, lists, on threads
// threads, and gathers the lines that name its entries. False when out of memory.
bool harvest_game(uint32_t threads, HarvestResult* result) {
  if (!collect_entry_ids(result)) return false;
  PackagePass pass(result->game);
  if (!pass.Open()) return false;
  HarvestTask task(*result, pass, threads);
  if (!task.ready()) return false;
  run_ordered(task, result->game.package_count(), threads, task.window(), UINT64_MAX);
  return !result->outOfMemory;
}

// Keeps each line of a name list in a table of lines.
class LineKeeper : public NameListSink {
 public:
  explicit LineKeeper(NameTable& lines) : lines_(lines) {}
  bool Take(const char* text, uint32_t length) override { return lines_.Add(text, length); }

 private:
  NameTable& lines_;
};

// Where the list goes: OUT, which must not be a file of the game; or harvested.txt in the user's
// names folder, made when missing, with *merge set. False, having said why, when neither can be.
bool list_path(const CommandArgs& args, const GameReader& game, CStringBufferA& path, bool* merge) {
  *merge = args.positionalCount < 2;
  Status status;
  if (!*merge) {
    if (is_game_file(game, args.positional[0], args.positional[1])) {
      print_error("\"%s\" is a file of the game; write to another place", args.positional[1]);
      return false;
    }
    if (path.Assign(args.positional[1]) != nullptr) return true;
  } else {
    CStringBufferA folder;
    if (!user_names_folder(folder)) {
      print_error(
          "the system names no folder for the user's data, where the names folder lies; "
          "give OUT");
      return false;
    }
    if (!create_folders(folder.Data(), &status)) {
      print_failure(status);
      return false;
    }
    if (path.Format("%s\\%s", folder.Data(), kHarvestedList) > 0) return true;
  }
  print_error("out of memory");
  return false;
}

// Counts the lines of found, as a name list gives them, and of those the new ones: lines whose
// name or ext no list of names knew. False when out of memory.
bool count_found(const HarvestResult& result, uint32_t* lines, uint32_t* fresh) {
  TArray<const char*> list;
  if (!list_name_lines(result.found, list)) return false;
  *lines = list.count();
  *fresh = 0;
  for (const char* line : list) {
    const uint32_t length = static_cast<uint32_t>(std::strlen(line));
    const uint32_t dot = ext_dot(line, length);
    const bool knownExt =
        dot + 1 >= length || result.names.Ext(name_hash(line + dot + 1)) != nullptr;
    if (result.names.Name(line_name_id(line, length)) == nullptr || !knownExt) ++*fresh;
  }
  return true;
}

// Writes the lines of found to path, after those the list there holds when merge is set. False,
// having said why, when it cannot be read or written; *written: the lines written.
bool write_list(const HarvestResult& result, const char* path, bool merge, uint32_t* written) {
  NameTable merged;
  Status status;
  if (merge && sys_file_exists(path)) {
    LineKeeper keeper(merged);
    WarningList warnings;
    const bool read = read_name_list(path, keeper, warnings, &status);
    for (uint32_t i = 0; i < warnings.count(); ++i) print_warning("%s", warnings.line(i));
    if (!read) {
      CStringBufferA reason;
      if (status.code() == StatusCode::kOutOfMemory || !status.Describe(reason)) {
        print_error("out of memory");
      } else {
        print_error("%s; nothing was written", reason.Data());
      }
      return false;
    }
  }
  const NameTable& from = merge ? merged : result.found;
  for (uint32_t i = 0; merge && i < result.found.slot_count(); ++i) {
    const char* line = result.found.text(i);
    if (line != nullptr && !merged.Add(line, static_cast<uint32_t>(std::strlen(line)))) {
      print_error("out of memory");
      return false;
    }
  }
  TArray<const char*> lines;
  ByteBuffer out;
  ByteWriter writer(out);
  bool made = list_name_lines(from, lines);
  for (uint32_t i = 0; made && i < lines.count(); ++i) {
    made = writer.write_bytes(lines[i], static_cast<uint32_t>(std::strlen(lines[i]))) &&
           writer.write_u8('\n');
  }
  if (!made) {
    print_error("out of memory");
    return false;
  }
  *written = lines.count();
  if (write_output_file(path, out, &status)) return true;
  print_failure(status);
  return false;
}

int run_harvest(const CommandArgs& args) {
  HarvestResult result;
  CStringBufferA path;
  bool merge = false;
  if (!open_game(args.positional[0], result.game) ||
      !load_names(args, &result.game, nullptr, 0, result.names) ||
      !list_path(args, result.game, path, &merge)) {
    return kExitFailure;
  }
  const bool harvested = harvest_game(inspect_thread_count(args), &result);
  for (uint32_t i = 0; i < result.warnings.count(); ++i) {
    print_warning("%s", result.warnings.line(i));
  }
  uint32_t found = 0;
  uint32_t fresh = 0;
  if (!harvested || !count_found(result, &found, &fresh)) {
    print_error("out of memory");
    return kExitFailure;
  }
  uint32_t written = 0;
  if (!write_list(result, path.Data(), merge, &written)) return kExitFailure;
  CStringBufferA shown;
  sys_native_path(path.Data(), shown);
  std::printf("read %llu entr%s in %u package%s and found %u name%s, %u of them new\n",
              static_cast<unsigned long long>(result.entries), result.entries == 1 ? "y" : "ies",
              result.packages, result.packages == 1 ? "" : "s", found, found == 1 ? "" : "s",
              fresh);
  std::printf("wrote \"%s\": %u name%s\n", shown.Data(), written, written == 1 ? "" : "s");
  return kExitSuccess;
}

}  // namespace

const CommandSpec kNamesHarvestCommand = {
    "names harvest",
    "GAMEDIR [OUT] [--names FILE]... [--threads N]",
    "find names in the game's own files",
    "Reads every entry of every package in an archive and tries each run of text in it that looks\n"
    "like a path or a name: a run of letters, digits, '_', '-', '.', '/', '\\' and characters\n"
    "beyond ASCII (UTF-8) that holds a '.', '/' or '\\', or that quotes enclose (\"notes\",\n"
    "'notes'). A leading \"./\", \"../\" or \"/\" and a trailing dot are left off. Each run is\n"
    "tried as found, with every separator '/' and with every separator '\\', each with and\n"
    "without its extension; case does not matter, as it does not in ids. A run is kept when its\n"
    "name id is the name id of an entry of the game: as \"name.ext\" when an entry has that name\n"
    "and that extension, else as the name alone (with a dot at its end when the name's last part\n"
    "holds a dot of its own, so that the line reads back as that name).\n"
    "\n"
    "The names kept are written, sorted and each once, as a name list: to OUT, replacing it, or\n"
    "by default to harvested.txt in the user's names folder ($XDG_DATA_HOME/vintrel/names, by\n"
    "default ~/.local/share/vintrel/names; %APPDATA%\\Vintrel\\names on Windows), which is made\n"
    "when missing, merged with the names the file holds already. The list is written under a\n"
    "temporary name and then put in place. The command says how many names it found and how\n"
    "many of them are new: a name or an extension that no name list it read knew. Packages in no\n"
    "archive are passed over; a package or an entry that cannot be read is named in a warning.\n"
    "No file of the game is written: OUT may not be one.\n"
    "\n"
    "On a terminal, a progress bar on standard error shows how far the work has got once it has\n"
    "taken more than a second.\n"
    "\n"
    "  --names FILE  read the name list FILE too (any number of times), for what is new\n"
    "  --threads N   read on N threads (default: VINTREL_THREADS, else one per processor); the\n"
    "                list is the same for any N\n"
    "\n"
    "Exit status: 0 when the list was written, 1 when the manifest or a name list cannot be read\n"
    "or the list cannot be written, 2 for a usage error.\n",
    1,
    kOptionNames | kOptionThreads,
    run_harvest,
    false,
    nullptr,
    1,
};
