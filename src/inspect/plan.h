#ifndef VINTREL_INSPECT_PLAN_H_
#define VINTREL_INSPECT_PLAN_H_

// What a run of the tool would do with a mod on a game, found without writing anything: the
// packages in which each configured file would replace an entry, what each file's entries would
// get, the packages a run would rewrite and where, and every reason a run would fail.

#include <cstdint>

#include "base/array.h"
#include "base/byte_buffer.h"
#include "base/status.h"
#include "base/warning_list.h"
#include "driver/pack_file_entry.h"
#include "driver/run_context.h"
#include "inspect/command.h"
#include "manifest/game_reader.h"
#include "manifest/manifest_update.h"
#include "names/name_list.h"
#include "package/entry_meta.h"
#include "package/texture_conversion.h"

// No line of a WarningList.
constexpr uint32_t kNoLine = UINT32_MAX;

// The texture metadata of a game entry that a configured file replaces.
struct ReplacedTexture {
  uint32_t file = 0;    // the file's place in "files", from 1
  uint32_t record = 0;  // the package record that holds the entry
  uint32_t entry = 0;   // the entry's place in the package's entry table
  TextureMeta meta;
  uint32_t warning = kNoLine;  // the plan's warning that the file's layout differs, if any
};

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
  uint32_t count() const { return pairs_.count(); }
  // The place in "files" (from 1) and the package record of match i; records in manifest order.
  uint32_t file(uint32_t i) const { return pairs_[i].file; }
  uint32_t record(uint32_t i) const { return pairs_[i].record; }

  // The game's textures that configured files replace, each entry once, in manifest order; each
  // names its file by its place in "files".
  uint32_t texture_count() const { return textures_.count(); }
  const ReplacedTexture& texture(uint32_t i) const { return textures_[i]; }
  void set_texture_warning(uint32_t i, uint32_t line) { textures_[i].warning = line; }

 private:
  struct FileInPackage {
    uint32_t file;
    uint32_t record;
  };

  bool AddTexture(const PackFileEntry& file, uint32_t record, uint32_t e,
                  const PackageEntry& entry);

  TArray<FileInPackage> pairs_;
  TArray<ReplacedTexture> textures_;
  UsedFiles used_;
  bool complete_ = true;
};

// A package that a run would rewrite into the user archive.
struct Rewrite {
  uint32_t record = 0;     // its record in the untouched manifest
  uint64_t newOffset = 0;  // where it would begin in the user archive
  uint64_t bytes = 0;      // what it would take there, up to the next package boundary
};

// A configured file read and converted as the package update reads and converts it: result is
// kMetaConverted when its entries would get meta (from its "meta" file or made from the file),
// kMetaNone when they would keep their own, kMetaFailed when the file cannot be used, with the
// reason in problem.
struct FileCheck {
  const PackFileEntry* file = nullptr;  // the file, whose place in "files" is its check's, from 1
  MetaConversion result = kMetaNone;
  ByteBuffer meta;
  Status problem;
  // The line that tells problem: in the plan's errors when the file replaces an entry, else in
  // its warnings.
  uint32_t line = kNoLine;
};

// Everything a plan found.
struct Plan {
  const char* gameDir = nullptr;  // as make_plan was given it
  RunContext context;             // the mod's configuration, the untouched manifest, the warnings
  GameReader game;
  NameLists names;  // what the reports show the ids by
  MatchList matches;
  TCountedArray<FileCheck> checks;  // one per configured file, in the order of "files"
  bool passed = false;              // whether the dry run's pass got through
  TCountedArray<Rewrite> rewrites;  // when passed: the packages it moved, in manifest order
  uint64_t userArchiveBytes = 0;    // when passed: the user archive's size; 0 when none
  WarningList errors;               // the reasons a run would fail: the pass's, then the files'
  bool succeeds = false;            // whether a run would succeed
};

// Plans the mod in modDir on the game in gameDir, on threads threads, with the name lists of
// nameFiles besides the usual sources (gather_names), whose warnings join the plan's. False when
// the plan cannot be made (the configuration, the untouched manifest or a name list cannot be
// read, the game cannot be opened, or memory runs out), with the reason in plan->context.failure;
// true otherwise, whether or not a run would succeed.
bool make_plan(const char* modDir, const char* gameDir, uint32_t threads,
               const OptionValues& nameFiles, Plan* plan);

#endif  // VINTREL_INSPECT_PLAN_H_
