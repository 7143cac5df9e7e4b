#include "inspect/verify_command.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/file.h"
#include "inspect/game_lookup.h"
#include "inspect/messages.h"
#include "inspect/progress_bar.h"
#include "inspect/text_table.h"
#include "json/json_writer.h"
#include "manifest/package_directory.h"

namespace {

constexpr uint32_t kNoEntry = UINT32_MAX;

// How much of the work each package is, for the progress bar: the bytes from its start to the
// next package of the same archive file, or to the file's end; the manifest says nothing of a
// package's length. Records in no archive weigh nothing.
bool package_weights(const GameReader& game, TCountedArray<uint64_t>& weights) {
  const uint32_t count = game.package_count();
  TCountedArray<uint32_t> order;
  TCountedArray<uint64_t> archiveBytes;
  if (!weights.allocate(count) || !order.allocate(count) ||
      !archiveBytes.allocate(game.archive_count())) {
    return false;
  }
  for (uint32_t i = 0; i < game.archive_count(); ++i) {
    PathBuffer path;
    if (!game.ArchivePath(i, path)) return false;
    ScopedFile file(open_file(path.Data(), "r"));
    const uint64_t size = file.is_open() ? file_size(file.get()) : kBadPosition;
    archiveBytes[i] = size == kBadPosition ? 0 : size;
  }
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

// The problems found, as a table or with --json as a document, and the counts of what was checked.
class VerifyReport {
 public:
  explicit VerifyReport(bool json) : json_(out_), table_(5, 1u << 1), useJson_(json) {
    if (useJson_) {
      json_.BeginObject();
      json_.Key("problems");
      json_.BeginArray();
    } else {
      const char* const headings[] = {"package", "entry", "name id", "ext id", "problem"};
      for (const char* heading : headings) table_.Cell(heading);
    }
  }

  // A problem of record k's package, of its entry e (kNoEntry: of the package as a whole).
  void Problem(const GameReader& game, uint32_t k, uint32_t e, const Status& status) {
    ++problems_;
    const PackageRecord& record = game.record(k);
    const PackageEntry* entry = e == kNoEntry ? nullptr : &game.package().entry(e);
    if (!describe_reason(status, reason_)) reason_.Assign("out of memory");
    if (!useJson_) {
      table_.Cell(record.name, record.nameLength);
      if (entry != nullptr) {
        table_.Number(e);
        table_.Cell(id_text(entry->nameId).text);
        table_.Cell(id_text(entry->extId).text);
      } else {
        table_.Cell("-");
        table_.Cell("-");
        table_.Cell("-");
      }
      table_.Cell(reason_);
      return;
    }
    json_.BeginObject();
    write_record_members(json_, record, "package");
    json_.Key("entry");
    if (entry != nullptr) {
      json_.Uint(e);
    } else {
      json_.Null();
    }
    json_.Key("name_id");
    if (entry != nullptr) {
      json_.String(id_text(entry->nameId).text);
    } else {
      json_.Null();
    }
    json_.Key("ext_id");
    if (entry != nullptr) {
      json_.String(id_text(entry->extId).text);
    } else {
      json_.Null();
    }
    json_.Key("error");
    json_.String(reason_.Data());
    json_.EndObject();
  }

  // Prints the report with the counts of packages and entries checked and of records in no
  // archive; false when it could not be made for want of memory.
  bool Print(uint32_t packages, uint64_t entries, uint32_t noArchive) {
    if (useJson_) {
      json_.EndArray();
      json_.Key("packages");
      json_.Uint(packages);
      json_.Key("entries");
      json_.Uint(entries);
      json_.Key("no_archive");
      json_.Uint(noArchive);
      json_.EndObject();
      if (!json_.ok()) return false;
      std::fwrite(out_.data(), 1, out_.length(), stdout);
      return true;
    }
    if (!table_.ok()) return false;
    if (problems_ != 0) {
      table_.Print(stdout);
      std::fputc('\n', stdout);
    }
    std::printf("checked %u package%s and %llu entr%s", packages, packages == 1 ? "" : "s",
                static_cast<unsigned long long>(entries), entries == 1 ? "y" : "ies");
    if (noArchive != 0) {
      std::printf(" (%u package%s in no archive passed over)", noArchive,
                  noArchive == 1 ? "" : "s");
    }
    if (problems_ == 0) {
      std::printf(": all intact\n");
    } else {
      std::printf(": %u problem%s\n", problems_, problems_ == 1 ? "" : "s");
    }
    return true;
  }

  uint32_t problems() const { return problems_; }

 private:
  ByteBuffer out_;
  JsonWriter json_;
  TextTable table_;
  bool useJson_;
  uint32_t problems_ = 0;
  CStringBufferA reason_;
};

int run_verify(const CommandArgs& args) {
  GameReader game;
  if (!open_game(args.positional[0], game)) return kExitFailure;
  TCountedArray<uint64_t> weights;
  if (!package_weights(game, weights)) {
    print_error("out of memory");
    return kExitFailure;
  }
  uint64_t total = 0;
  for (uint32_t k = 0; k < game.package_count(); ++k) total += weights[k];

  VerifyReport report(args.json);
  ProgressBar bar("verifying", "packages");
  ByteBuffer data;
  Status status;
  uint64_t done = 0;
  uint32_t packages = 0;
  uint64_t entries = 0;
  uint32_t noArchive = 0;
  for (uint32_t k = 0; k < game.package_count(); ++k) {
    bar.Update(done, total, k, game.package_count());
    if (game.record(k).archiveIndex == kNoArchive) {
      ++noArchive;
      continue;
    }
    ++packages;
    status.Clear();
    if (!game.ReadPackage(k, &status)) {
      report.Problem(game, k, kNoEntry, status);
      done += weights[k];
      continue;
    }
    const PackageReader& package = game.package();
    const uint32_t count = package.has_tables() ? package.entry_count() : 0;
    entries += count;
    if (package.split()) {
      for (uint32_t e = 0; e < count; ++e) {
        bar.Update(done + weights[k] / count * e, total, k, game.package_count());
        status.Clear();
        if (!game.ReadEntryData(e, data, &status)) {
          report.Problem(game, k, e, status);
        } else if (data.length() != package.entry(e).rawSize) {
          status.Fail(StatusCode::kCorrupt,
                      "its block inflates to %u bytes; the entry table says %u", data.length(),
                      package.entry(e).rawSize);
          report.Problem(game, k, e, status);
        }
      }
    } else if (count != 0) {
      // The one block of a full package holds every entry: it is inflated whole, and the last
      // entry ends inside it exactly when every entry does.
      status.Clear();
      if (!game.ReadEntryData(count - 1, data, &status)) report.Problem(game, k, kNoEntry, status);
    }
    done += weights[k];
  }
  bar.Finish();

  if (!report.Print(packages, entries, noArchive)) {
    print_error("out of memory");
    return kExitFailure;
  }
  return report.problems() == 0 ? kExitSuccess : kExitFailure;
}

}  // namespace

const CommandSpec kVerifyCommand = {
    "verify",
    "GAMEDIR [--json]",
    "check that every package of a game reads and inflates",
    "Reads every package that GAMEDIR's manifest.bin lists, with its tables, and inflates every\n"
    "compressed block: each entry's own block in a split package, the one data block of a full\n"
    "package. Each problem is listed with its package, its entry (for a split package) and what\n"
    "is wrong; a split entry whose block inflates to another size than its entry table says is a\n"
    "problem too. Packages in no archive are passed over. Nothing is written.\n"
    "\n"
    "On a terminal, a progress bar on standard error shows how far the work has got once it has\n"
    "taken more than a second.\n"
    "\n"
    "  --json   print {\"problems\": [{\"package\", \"id\", \"archive\", \"offset\", \"entry\",\n"
    "           \"name_id\", \"ext_id\", \"error\"}], \"packages\", \"entries\", \"no_archive\"}\n"
    "\n"
    "Exit status: 0 when every package is intact, 1 when any is not or the manifest cannot be\n"
    "read, 2 for a usage error.\n",
    1,
    kOptionJson,
    run_verify,
};
