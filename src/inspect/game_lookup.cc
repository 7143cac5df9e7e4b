#include "inspect/game_lookup.h"

#include <algorithm>
#include <cstring>

#include "base/file.h"
#include "driver/name_hash.h"
#include "driver/untouched_manifest.h"
#include "inspect/messages.h"
#include "manifest/package_directory.h"

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool open_game(const char* dir, GameReader& game) {
  Status status;
  if (!game.Open(dir, "manifest.bin", &status)) {
    print_failure(status);
    return false;
  }
  CStringBufferA warning;
  if (game.interrupted() && PendingView::Warning(dir, warning)) print_warning("%s", warning.Data());
  return true;
}

bool open_untouched_game(const char* dir, RunContext& context, GameReader& game,
                         WarningList& warnings, Status* status) {
  PathBuffer withSeparator;
  if (withSeparator.Format("%s\\", dir) <= 0) return status->FailOutOfMemory();
  context.destDir.Assign(withSeparator);
  if (context.destDir.IsEmpty()) return status->FailOutOfMemory();
  UntouchedManifest found;
  if (!read_untouched_manifest(context, &found) ||
      !game.Open(dir, context.manifestSections, &context.failure)) {
    status->Assign(context.failure);
    return false;
  }
  for (uint32_t i = 0; i < context.warnings.count(); ++i) {
    if (!warnings.Add("%s", context.warnings.line(i))) return status->FailOutOfMemory();
  }
  return true;
}

bool is_id_argument(const char* text) {
  if (text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
  for (int i = 2; i < 18; ++i) {
    if (hex_value(text[i]) < 0) return false;
  }
  return text[18] == '\0';
}

uint64_t argument_id(const char* text) {
  if (!is_id_argument(text)) return name_hash(text);
  uint64_t id = 0;
  for (int i = 2; i < 18; ++i) id = id << 4 | static_cast<uint64_t>(hex_value(text[i]));
  return id;
}

bool record_name(const GameReader& game, uint32_t k, CStringBufferA& name) {
  const PackageRecord& record = game.record(k);
  return copy_directory_name(record.name, record.nameLength, name);
}

bool check_package(const GameReader& game, const char* pkg, uint64_t packageId, Status* status) {
  bool known = false;
  bool inArchive = false;
  for (uint32_t k = 0; k < game.package_count(); ++k) {
    if (game.record(k).packageId != packageId) continue;
    known = true;
    inArchive = inArchive || game.record(k).archiveIndex != kNoArchive;
  }
  if (!known) {
    status->Fail(StatusCode::kNotFound, "no package has the id of \"%s\" (%s)", pkg,
                 id_text(packageId).text);
    return false;
  }
  if (!inArchive) {
    status->Fail(StatusCode::kNotFound,
                 "package \"%s\" lies in no archive: there is nothing to read", pkg);
    return false;
  }
  return true;
}

uint32_t select_record(const GameReader& game, const char* argument) {
  const uint64_t id = argument_id(argument);
  uint32_t chosen = kNoRecord;
  CStringBufferA others;
  CStringBufferA name;
  for (uint32_t k = 0; k < game.package_count(); ++k) {
    if (game.record(k).packageId != id) continue;
    if (chosen == kNoRecord) {
      chosen = k;
    } else if (!record_name(game, k, name) || !append_quoted(name.Data(), others)) {
      others.Assign("(out of memory)");
    }
  }
  if (chosen == kNoRecord) {
    print_error("no package has the id of \"%s\" (%s)", argument, id_text(id).text);
    return kNoRecord;
  }
  if (others.Length() != 0) {
    record_name(game, chosen, name);
    print_warning("the packages %s have the id %s too; showing \"%s\", the first in the manifest",
                  others.Data(), id_text(id).text, name.Data());
  }
  return chosen;
}

EntrySearch::EntrySearch(GameReader& game, uint64_t nameId, uint64_t extId, uint64_t packageId)
    : game_(game), nameId_(nameId), extId_(extId), packageId_(packageId) {}

EntrySearch::Step EntrySearch::Next(Status* status) {
  for (;;) {
    if (inPackage_) {
      const PackageReader& package = game_.package();
      while (++entry_ < package.entry_count()) {
        const PackageEntry& e = package.entry(entry_);
        if (e.nameId == nameId_ && e.extId == extId_) return kMatch;
      }
      inPackage_ = false;
    }
    record_ = record_ == kNoRecord ? 0 : record_ + 1;
    if (record_ >= game_.package_count()) {
      record_ = game_.package_count();
      return kDone;
    }
    const PackageRecord& r = game_.record(record_);
    if (r.archiveIndex == kNoArchive || (packageId_ != 0 && r.packageId != packageId_)) continue;
    status->Clear();
    if (!game_.ReadPackage(record_, status)) return kUnreadable;
    inPackage_ = game_.package().has_tables();
    entry_ = UINT32_MAX;  // the first ++ makes it 0
  }
}

void write_record_members(JsonWriter& json, const PackageRecord& record, const char* nameKey) {
  json.Key(nameKey);
  json.String(record.name, record.nameLength);
  json.Key("id");
  json.String(id_text(record.packageId).text);
  json.Key("archive");
  if (record.archiveIndex == kNoArchive) {
    json.Null();
  } else {
    json.Uint(record.archiveIndex);
  }
  json.Key("offset");
  json.Uint(record.offset);
}

// The manifest says nothing of a package's length: it is taken as far as the next package of the
// same archive file, or the file's end.
bool weigh_packages(const GameReader& game, const TCountedArray<uint64_t>& archiveBytes,
                    TCountedArray<uint64_t>& weights) {
  const uint32_t count = game.package_count();
  TCountedArray<uint32_t> order;
  if (!weights.allocate(count) || !order.allocate(count)) return false;
  // Two archive records may name one file: order by file name, then by offset.
  uint32_t placed = 0;
  for (uint32_t k = 0; k < count; ++k) {
    if (game.record(k).archiveIndex < game.archive_count()) order[placed++] = k;
  }
  const auto same_file = [&game](uint32_t a, uint32_t b) {
    const ArchiveRecord& x = game.archive(game.record(a).archiveIndex);
    const ArchiveRecord& y = game.archive(game.record(b).archiveIndex);
    return x.nameLength == y.nameLength && std::memcmp(x.name, y.name, x.nameLength) == 0;
  };
  std::sort(&order[0], &order[0] + placed, [&game](uint32_t a, uint32_t b) {
    const ArchiveRecord& x = game.archive(game.record(a).archiveIndex);
    const ArchiveRecord& y = game.archive(game.record(b).archiveIndex);
    const int names = std::memcmp(x.name, y.name, std::min(x.nameLength, y.nameLength));
    if (names != 0) return names < 0;
    if (x.nameLength != y.nameLength) return x.nameLength < y.nameLength;
    return game.record(a).offset < game.record(b).offset;
  });
  for (uint32_t i = 0; i < placed; ++i) {
    const uint32_t k = order[i];
    const uint64_t start = game.record(k).offset;
    uint64_t end = archiveBytes[game.record(k).archiveIndex];
    for (uint32_t j = i + 1; j < placed && same_file(k, order[j]); ++j) {
      if (game.record(order[j]).offset > start) {
        end = game.record(order[j]).offset;
        break;
      }
    }
    // Every package counts for at least a little, so that the bar moves past small ones too.
    weights[k] = (end > start ? end - start : 0) + 1;
  }
  return true;
}

bool package_weights(const GameReader& game, TCountedArray<uint64_t>& weights) {
  TCountedArray<uint64_t> archiveBytes;
  if (!archiveBytes.allocate(game.archive_count())) return false;
  for (uint32_t i = 0; i < game.archive_count(); ++i) {
    PathBuffer path;
    if (!game.ArchivePath(i, path)) return false;
    ScopedFile file(open_file(path.Data(), "r"));
    const uint64_t size = file.is_open() ? file_size(file.get()) : kBadPosition;
    archiveBytes[i] = size == kBadPosition ? 0 : size;
  }
  return weigh_packages(game, archiveBytes, weights);
}
