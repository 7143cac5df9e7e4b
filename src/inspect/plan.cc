#include "inspect/plan.h"

#include <cstring>

#include "base/file.h"
#include "base/string_buffer.h"
#include "driver/config.h"
#include "driver/name_hash.h"
#include "driver/untouched_manifest.h"
#include "inspect/game_names.h"
#include "inspect/messages.h"
#include "inspect/meta_report.h"
#include "inspect/texture_files.h"
#include "manifest/package_directory.h"
#include "package/package_update.h"

bool MatchList::AddTexture(const PackFileEntry& file, uint32_t record, uint32_t e,
                           const PackageEntry& entry) {
  static const uint64_t ddsId = name_hash("dds");
  if (entry.extId != ddsId) return true;
  TextureMeta meta;
  // An entry whose metadata is no texture's gives nothing to compare with.
  if (!decode_texture_meta(entry.meta, entry.metaSize, &meta)) return true;
  ReplacedTexture texture;
  texture.file = file.index;
  texture.record = record;
  texture.entry = e;
  texture.meta = meta;
  return textures_.Append(texture);
}

bool MatchList::Walk(const PackFileEntryList& entries, GameReader& game) {
  if (!used_.Reset(entries.count())) return false;
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
      if (!AddTexture(*file, k, e, package.entry(e))) return false;
      // A file that replaces two entries of one package names that package once.
      bool named = false;
      for (uint32_t i = firstOfRecord; i < count() && !named; ++i) {
        named = this->file(i) == file->index;
      }
      if (!named && !pairs_.Append({file->index, k})) return false;
    }
  }
  return true;
}

namespace {

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

// The packages that the dry run moved, as the pass tells them, in manifest order. False when out
// of memory.
bool find_rewrites(const PassResult& result, Plan& plan) {
  uint32_t moved = 0;
  for (uint32_t k = 0; k < result.moves.count(); ++k) moved += result.moves[k].moved ? 1 : 0;
  if (moved != 0 && !plan.rewrites.allocate(moved)) return false;
  uint32_t count = 0;
  for (uint32_t k = 0; k < result.moves.count(); ++k) {
    const PackageMove& move = result.moves[k];
    if (!move.moved) continue;
    Rewrite& rewrite = plan.rewrites[count++];
    rewrite.record = k;
    rewrite.newOffset = move.offset;
    rewrite.bytes = move.bytes;
  }
  plan.userArchiveBytes = result.userArchiveBytes;
  return true;
}

void check_file(const PackFileEntry& file, ByteBuffer& content, FileCheck& check) {
  check.problem.Clear();
  if (!read_whole_file(file.sourcePath.Text(), content, &check.problem)) {
    check.result = kMetaFailed;
    return;
  }
  check.result = replacement_metadata(file, content, check.meta, &check.problem);
}

// Whether the dry run's failure is this configured file's problem, which has been told already:
// both were recorded by the same reader for the same file.
bool same_problem(const Status& failure, const Status& problem) {
  return !failure.ok() && failure.code() == problem.code() &&
         std::strcmp(failure.path(), problem.path()) == 0 &&
         std::strcmp(failure.what(), problem.what()) == 0;
}

// The last component of a path.
const char* file_name(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '\\' || *p == '/') name = p + 1;
  }
  return name;
}

// Warns for every game texture replaced by a file whose layout differs from it, in manifest order.
// The run takes the texture all the same. False when out of memory.
bool warn_texture_differences(Plan& plan) {
  for (uint32_t i = 0; i < plan.matches.texture_count(); ++i) {
    const ReplacedTexture replaced = plan.matches.texture(i);
    const FileCheck& check = plan.checks[replaced.file - 1];
    if (check.result != kMetaConverted) continue;
    const PackFileEntry& file = *check.file;
    const DecodedMeta decoded = decode_meta(file.extId, check.meta.data(), check.meta.length());
    if (!decoded.texture || !textures_differ(decoded.textureMeta, replaced.meta)) continue;
    const PackageRecord& record = plan.game.record(replaced.record);
    CStringBufferA package;
    CStringBufferA line;
    CStringBufferA warning;
    IdText nameHex;
    IdText extHex;
    if (!append_escaped(record.name, record.nameLength, package) ||
        !describe_texture_difference(file_name(file.sourcePath.Text()), decoded.textureMeta,
                                     file_name_text(plan.names, file, &nameHex),
                                     file_ext_text(plan.names, file, &extHex), package.Data(),
                                     replaced.meta, line) ||
        !add_texture_remedy(line.Data(), plan.names, file, record, plan.gameDir, warning)) {
      return false;
    }
    const uint32_t told = plan.context.warnings.count();
    if (plan.context.warnings.Add("%s", warning.Data())) plan.matches.set_texture_warning(i, told);
  }
  return true;
}

// Checks every configured file. The dry run stops at its first failure; here every file is
// checked, so that all their problems are told at once. The problem of a file that would replace
// an entry is an error, and the plan's run fails (the dry run's own failure is not told again); a
// file that replaces no entry is never read by a run, so its problem is only a warning. False
// when out of memory.
bool check_files(Plan& plan) {
  RunContext& context = plan.context;
  if (context.entries.count() != 0 && !plan.checks.allocate(context.entries.count())) {
    return false;
  }
  ByteBuffer content;
  CStringBufferA problem;
  uint32_t i = 0;
  for (const PackFileEntry* file = context.entries.head(); file != nullptr; file = file->next) {
    FileCheck& check = plan.checks[i++];
    check.file = file;
    check_file(*file, content, check);
    if (check.result != kMetaFailed) continue;
    if (!check.problem.Describe(problem)) return false;
    if (!plan.matches.used().Used(*file)) {
      const uint32_t line = context.warnings.count();
      if (context.warnings.Add(
              "%s (file %u of \"files\", which replaces no entry: a run does not read it)",
              problem.Data(), file->index)) {
        check.line = line;
      }
      continue;
    }
    plan.succeeds = false;
    // The dry run's failure, when it is this file's problem, is the first error.
    const uint32_t line = plan.errors.count();
    if (same_problem(context.failure, check.problem)) {
      check.line = 0;
    } else if (plan.errors.Add("%s", problem.Data())) {
      check.line = line;
    }
  }
  return warn_texture_differences(plan);
}

}  // namespace

bool make_plan(const char* modDir, const char* gameDir, uint32_t threads,
               const OptionValues& nameFiles, Plan* plan) {
  RunContext& context = plan->context;
  plan->gameDir = gameDir;
  PathBuffer configPath;
  if (!set_directories(context, modDir, gameDir) ||
      configPath.Format("%svintrel.json", context.srcDir.Text()) <= 0) {
    return context.failure.FailOutOfMemory();
  }
  // Until both are read there is nothing to plan: the run would stop there too.
  UntouchedManifest found;
  if (!load_config(configPath.Data(), context, say_nothing) ||
      !read_untouched_manifest(context, &found) ||
      !plan->game.Open(gameDir, context.manifestSections, &context.failure)) {
    return false;
  }
  const PackFileEntryList* const configs[] = {&context.entries};
  if (!gather_names(nameFiles, &plan->game, configs, 1, plan->names, context.warnings,
                    &context.failure)) {
    return false;
  }
  context.threads = threads;
  if (!plan->matches.Walk(context.entries, plan->game)) return context.failure.FailOutOfMemory();

  CountingTarget target;
  PassResult result;
  plan->passed = update_manifest(context, target, &result);
  CStringBufferA failure;
  if (plan->passed ? !find_rewrites(result, *plan) : !context.failure.Describe(failure)) {
    return context.failure.FailOutOfMemory();
  }
  // A package the walk could not read may hold a file's only match; the dry run's error names it.
  if (plan->matches.complete()) warn_unused_entries(context, plan->matches.used());
  if (!plan->passed) plan->errors.Add("%s", failure.Data());
  plan->succeeds = plan->passed;
  if (!check_files(*plan)) {
    context.failure.Clear();
    return context.failure.FailOutOfMemory();
  }
  return true;
}
