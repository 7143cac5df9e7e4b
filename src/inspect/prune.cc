#include "inspect/prune.h"

#include <algorithm>
#include <cstring>

#include "base/array.h"
#include "base/file.h"
#include "base/platform.h"
#include "driver/config.h"
#include "inspect/game_lookup.h"
#include "inspect/game_names.h"
#include "inspect/output_file.h"
#include "json/json_edit.h"
#include "package/package_update.h"
#include "package/texture_conversion.h"

namespace {

// What the game's entries say of a configured file so far.
enum class FileState : uint8_t { kNoEntry, kSame, kDiffers };

// load_config's lines are the tool's; prune says the same on standard error.
void say_nothing(const char*, const char*) {}

// Buffers for comparing a configured file with entries.
struct Comparison {
  ByteBuffer content;
  ByteBuffer data;
  ByteBuffer meta;
};

// Whether file holds the bytes of entry e of the package the game read last, and gives it the
// metadata it has. False, with the reason in *status, when the file or the entry cannot be read.
bool same_as_entry(GameReader& game, uint32_t e, const PackFileEntry& file, Comparison& buffers,
                   bool* same, Status* status) {
  const PackageEntry& entry = game.package().entry(e);
  *same = false;
  {
    // The size tells most edited files apart without reading them.
    ScopedFile source(open_file(file.sourcePath.Text(), "r"));
    const uint64_t size = source.is_open() ? file_size(source.get()) : kBadPosition;
    if (size == kBadPosition) {
      status->FailIo("cannot read", file.sourcePath.Text());
      return false;
    }
    if (size != entry.rawSize) return true;
  }
  if (!read_whole_file(file.sourcePath.Text(), buffers.content, status) ||
      !game.ReadEntryData(e, buffers.data, status)) {
    return false;
  }
  const uint32_t length = buffers.content.length();
  if (buffers.data.length() != length ||
      (length != 0 && std::memcmp(buffers.data.data(), buffers.content.data(), length) != 0)) {
    return true;
  }
  Status unusable;
  switch (replacement_metadata(file, buffers.content, buffers.meta, &unusable)) {
    case kMetaNone:
      *same = true;  // the entry keeps its metadata
      break;
    case kMetaConverted:
      *same = buffers.meta.length() == entry.metaSize &&
              (entry.metaSize == 0 ||
               std::memcmp(buffers.meta.data(), entry.meta, entry.metaSize) == 0);
      break;
    case kMetaFailed:
      break;  // a run would fail on it: it changes the outcome
  }
  return true;
}

// Compares every configured file with every entry that it would replace in a run (the first
// matching file wins), package by package in manifest order.
bool compare_files(PruneResult& result, TCountedArray<FileState>& states, Status* status) {
  GameReader& game = result.reader;
  const PackFileEntryList& files = result.mod.entries;
  Comparison buffers;
  for (uint32_t k = 0; k < game.package_count(); ++k) {
    const PackageRecord& record = game.record(k);
    if (record.archiveIndex == kNoArchive) continue;
    if (!game.ReadPackage(k, status)) return false;
    PackageReader& package = game.package();
    if (!package.has_tables()) continue;
    match_entries(files, record.packageId, package);
    for (uint32_t e = 0; e < package.entry_count(); ++e) {
      const PackFileEntry* file = package.entry(e).match;
      if (file == nullptr) continue;
      FileState& state = states[file->index - 1];
      if (result.reasons[file->index - 1] == PruneReason::kMissing ||
          state == FileState::kDiffers) {
        continue;
      }
      bool same = false;
      if (!same_as_entry(game, e, *file, buffers, &same, status)) return false;
      state = same ? FileState::kSame : FileState::kDiffers;
    }
  }
  return true;
}

// Decides each file's fate from the last to the first, so that a file the same as the game stays
// when a later file that stays could replace any of its entries: with the first gone, the later
// one would take them. Files that share a name and an ext are looked at together.
bool decide(PruneResult& result, const TCountedArray<FileState>& states) {
  const uint32_t count = result.mod.entries.count();
  TCountedArray<const PackFileEntry*> files;
  if (!files.allocate(count)) return false;
  uint32_t i = 0;
  for (const PackFileEntry* file = result.mod.entries.head(); file != nullptr; file = file->next) {
    files[i++] = file;
  }
  // Later files first within each name and ext.
  std::sort(&files[0], &files[0] + count, [](const PackFileEntry* a, const PackFileEntry* b) {
    if (a->nameId != b->nameId) return a->nameId < b->nameId;
    if (a->extId != b->extId) return a->extId < b->extId;
    return a->index > b->index;
  });
  TArray<uint64_t> keptPackages;
  for (uint32_t run = 0; run < count;) {
    bool keptEverywhere = false;  // a later file that stays applies to every package
    keptPackages.Clear();
    uint32_t end = run;
    for (; end < count && files[end]->nameId == files[run]->nameId &&
           files[end]->extId == files[run]->extId;
         ++end) {
      const PackFileEntry& file = *files[end];
      PruneReason& reason = result.reasons[file.index - 1];
      if (reason == PruneReason::kKept) {
        const FileState state = states[file.index - 1];
        if (state == FileState::kNoEntry) {
          reason = PruneReason::kUnused;
        } else if (state == FileState::kSame) {
          bool overlapped = keptEverywhere || (file.packageId == 0 && keptPackages.count() != 0);
          for (uint64_t id : keptPackages) overlapped = overlapped || id == file.packageId;
          if (!overlapped) reason = PruneReason::kSame;
        }
      }
      if (reason != PruneReason::kKept) continue;
      if (file.packageId == 0) {
        keptEverywhere = true;
      } else if (!keptPackages.Append(file.packageId)) {
        return false;
      }
    }
    run = end;
  }
  for (uint32_t f = 0; f < count; ++f) result.removed += result.reasons[f] != PruneReason::kKept;
  return true;
}

// vintrel.json again, without the elements of the files that go. False, with the reason.
bool rewrite_config(PruneResult& result, Status* status) {
  ByteBuffer text;
  if (!read_whole_file(result.configPath.Data(), text, status)) return false;
  const uint32_t length = text.length();
  if (!text.resize(length + 1)) return status->FailOutOfMemory();
  text.data()[length] = 0;
  const char* json = reinterpret_cast<const char*>(text.data());
  JsonArraySpans spans;
  const uint32_t count = result.mod.entries.count();
  if (!find_member_array(json, "files", &spans) || spans.elements.count() != count) {
    status->FailAt(StatusCode::kCorrupt, result.configPath.Data(),
                   "changed while prune read it; nothing was written");
    return false;
  }
  TCountedArray<uint8_t> drop;
  ByteBuffer pruned;
  if (!drop.allocate(count)) return status->FailOutOfMemory();
  for (uint32_t i = 0; i < count; ++i) drop[i] = result.reasons[i] != PruneReason::kKept;
  if (!drop_array_elements(json, length, spans, &drop[0], pruned)) {
    return status->FailOutOfMemory();
  }
  return write_output_file(result.configPath.Data(), pruned, status);
}

}  // namespace

bool prune_mod(const char* modDir, const char* gameDir, bool dryRun, const OptionValues& nameFiles,
               PruneResult& result, Status* status) {
  RunContext& mod = result.mod;
  PathBuffer srcDir;
  if (srcDir.Format("%s\\", modDir) <= 0 ||
      result.configPath.Format("%s\\vintrel.json", modDir) <= 0) {
    return status->FailOutOfMemory();
  }
  mod.srcDir.Assign(srcDir);
  if (mod.srcDir.IsEmpty()) return status->FailOutOfMemory();
  if (!load_config(result.configPath.Data(), mod, say_nothing)) {
    status->Assign(mod.failure);
    return false;
  }
  if (!open_untouched_game(gameDir, result.game, result.reader, mod.warnings, status)) return false;
  const PackFileEntryList* const configs[] = {&mod.entries};
  if (!gather_names(nameFiles, &result.reader, configs, 1, result.names, mod.warnings, status)) {
    return false;
  }
  const uint32_t count = mod.entries.count();
  TCountedArray<FileState> states;
  if (count == 0) return true;
  if (!result.reasons.allocate(count) || !states.allocate(count)) return status->FailOutOfMemory();
  for (const PackFileEntry* file = mod.entries.head(); file != nullptr; file = file->next) {
    const char* source = file->sourcePath.Text();
    if (!sys_file_exists(source)) {
      result.reasons[file->index - 1] = PruneReason::kMissing;
    }
  }
  if (!compare_files(result, states, status)) return false;
  if (!decide(result, states)) return status->FailOutOfMemory();
  if (dryRun || result.removed == 0) return true;
  if (!rewrite_config(result, status)) return false;
  result.written = true;
  return true;
}
