// texture sync MODDIR --game GAMEDIR [--dry-run]: the DDS of every configured texture of a mod
// whose PNG is newer, or that is missing, each like the game's entry it replaces.

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/array.h"
#include "base/byte_buffer.h"
#include "base/platform.h"
#include "base/warning_list.h"
#include "driver/config.h"
#include "driver/name_hash.h"
#include "driver/run_context.h"
#include "inspect/game_entry.h"
#include "inspect/game_lookup.h"
#include "inspect/game_names.h"
#include "inspect/messages.h"
#include "inspect/output_file.h"
#include "inspect/texture_command.h"
#include "inspect/texture_source.h"

namespace {

// What sync found and made.
struct SyncResult {
  const char* gameDir = nullptr;
  RunContext context;  // the mod's configuration
  GameReader game;
  NameLists names;
  WarningList made;      // a line for each texture made (or to make), in the configuration's order
  WarningList warnings;  // for standard error: the configuration's, the game's, the textures'
  WarningList errors;    // a line for each texture that could not be made
  uint32_t madeCount = 0;
  uint32_t upToDate = 0;
  uint32_t withoutPng = 0;
};

// load_config's lines are the tool's; sync says the same on standard error.
void say_nothing(const char*, const char*) {}

// Whether the file at path was written before the file at than; a time that cannot be read
// counts as older, so that a texture is made rather than left stale.
bool older_than(const char* path, const char* than) {
  uint64_t time = 0;
  uint64_t thanTime = 0;
  return !sys_get_file_write_time(path, &time) || !sys_get_file_write_time(than, &thanTime) ||
         time < thanTime;
}

// Adds the failure as an error of its own. False when out of memory.
bool add_error(const Status& status, SyncResult* result) {
  CStringBufferA line;
  return status.Describe(line) && result->errors.Add("%s", line.Data());
}

// Makes the texture of one configured file from its PNG, like the game's entry it replaces, and
// writes it unless dryRun. False with the reason in *status when it cannot be made; false with
// status ok when memory runs out.
bool sync_texture(const PackFileEntry& file, const char* png, bool dryRun, SyncResult* result,
                  Status* status) {
  EntryRequest wanted;
  IdText nameHex;
  IdText extHex;
  IdText pkgHex;
  wanted.nameId = file.nameId;
  wanted.extId = file.extId;
  wanted.packageId = file.packageId;
  wanted.name = file_name_text(result->names, file, &nameHex);
  wanted.ext = file_ext_text(result->names, file, &extHex);
  wanted.pkg = file_pkg_text(result->names, file, &pkgHex);
  wanted.doing = "making the texture like the one in";
  GameEntry entry;
  DdsHeader like;
  CStringBufferA dds;
  sys_native_path(file.sourcePath.Text(), dds);
  if (!read_game_entry(result->game, wanted, &entry, result->warnings, status) ||
      !read_dds_header(entry.data.data(), entry.data.length(), &like, status) ||
      !dds_target_like(like, &like, status)) {
    // The reason names the entry when the search failed; otherwise it is the entry's data.
    CStringBufferA what;
    if (what.Assign(status->what()) == nullptr) return false;
    if (entry.record == kNoRecord) {
      status->Fail(status->code(), "\"%s\": %s", dds.Data(), what.Data());
    } else {
      status->Fail(status->code(), "\"%s\": the game's \"%s\" \"%s\" in \"%s\": %s", dds.Data(),
                   wanted.name, wanted.ext, entry.package.Data(), what.Data());
    }
    return false;
  }
  if (is_game_file(result->game, result->gameDir, file.sourcePath.Text())) {
    status->Fail(StatusCode::kRefused, "\"%s\" is a file of the game; it is not made", dds.Data());
    return false;
  }
  DdsRecipe recipe;
  recipe.like = &like;
  MadeTexture made;
  if (!make_texture_file(png, recipe, &made, status)) return false;
  if (!dryRun && !write_output_file(file.sourcePath.Text(), made.dds, status)) return false;
  CStringBufferA shownPng;
  CStringBufferA texture;
  sys_native_path(png, shownPng);
  if (!describe_dds_texture(made.texture, texture) ||
      !result->made.Add("%s \"%s\" from \"%s\": %s, like \"%s\" \"%s\" in package \"%s\"",
                        dryRun ? "would make" : "made", dds.Data(), shownPng.Data(), texture.Data(),
                        wanted.name, wanted.ext, entry.package.Data())) {
    return false;
  }
  if (file.metaPath.IsEmpty() && !tool_takes_format(made.texture.header.format)) {
    CStringBufferA warning;
    if (!describe_meta_needed(file.sourcePath.Text(), made.texture.header.format, warning)) {
      return false;
    }
    result->warnings.Add("%s", warning.Data());
  }
  return true;
}

// Whether each configured file is a texture that sync looks at: a "dds" file that no earlier
// file shadows, and the first to name its DDS (files that share one make it once); by the
// file's place in the list. False when out of memory.
bool textures_to_look_at(const PackFileEntryList& files, TCountedArray<uint8_t>& look) {
  static const uint64_t ddsId = name_hash("dds");
  TArray<const PackFileEntry*> textures;
  if (!look.allocate(files.count())) return false;
  for (const PackFileEntry* file = files.head(); file != nullptr; file = file->next) {
    if (file->extId == ddsId && file->shadowedBy == 0 && !textures.Append(file)) return false;
  }
  // Sorted by path, then by place: the first of each path is the one looked at.
  std::sort(textures.begin(), textures.end(), [](const PackFileEntry* a, const PackFileEntry* b) {
    const int order = std::strcmp(a->sourcePath.Text(), b->sourcePath.Text());
    return order != 0 ? order < 0 : a->index < b->index;
  });
  for (uint32_t i = 0; i < textures.count(); ++i) {
    look[textures[i]->index - 1] = i == 0 || std::strcmp(textures[i - 1]->sourcePath.Text(),
                                                         textures[i]->sourcePath.Text()) != 0;
  }
  return true;
}

// Walks the mod's configured textures in order: each whose PNG exists and whose DDS is missing
// or older than it is made. False when out of memory; a texture that cannot be made is an error
// of its own, and the walk goes on.
bool sync_textures(bool dryRun, SyncResult* result) {
  const PackFileEntryList& files = result->context.entries;
  TCountedArray<uint8_t> look;
  if (!textures_to_look_at(files, look)) return false;
  CStringBufferA png;
  Status status;
  for (const PackFileEntry* file = files.head(); file != nullptr; file = file->next) {
    if (!look[file->index - 1]) continue;
    const char* dds = file->sourcePath.Text();
    if (!png_beside(dds, png)) return false;
    if (!sys_file_exists(png.Data())) {
      ++result->withoutPng;
      continue;
    }
    if (sys_file_exists(dds) && !older_than(dds, png.Data())) {
      ++result->upToDate;
      continue;
    }
    status.Clear();
    if (sync_texture(*file, png.Data(), dryRun, result, &status)) {
      ++result->madeCount;
    } else if (status.ok() || !add_error(status, result)) {
      return false;
    }
  }
  return true;
}

// Loads the mod's configuration and opens the game. False, having said why, when either cannot
// be read.
bool open_mod_and_game(const CommandArgs& args, SyncResult* result) {
  RunContext& context = result->context;
  result->gameDir = args.game;
  PathBuffer path;
  if (path.Format("%s\\", args.positional[0]) > 0) context.srcDir.Assign(path);
  if (path.Format("%s\\", args.game) > 0) context.destDir.Assign(path);
  if (context.srcDir.IsEmpty() || context.destDir.IsEmpty() ||
      path.Format("%svintrel.json", context.srcDir.Text()) <= 0) {
    print_error("out of memory");
    return false;
  }
  if (!load_config(path.Data(), context, say_nothing)) {
    print_failure(context.failure);
    return false;
  }
  for (uint32_t i = 0; i < context.warnings.count(); ++i) {
    result->warnings.Add("%s", context.warnings.line(i));
  }
  const PackFileEntryList* const configs[] = {&context.entries};
  return open_game(args.game, result->game) &&
         load_names(args, &result->game, configs, 1, result->names);
}

void print_sync(bool dryRun, const SyncResult& result) {
  for (uint32_t i = 0; i < result.made.count(); ++i) std::printf("%s\n", result.made.line(i));
  std::printf("%u texture%s %s, %u up to date, %u without a PNG%s\n", result.madeCount,
              result.madeCount == 1 ? "" : "s", dryRun ? "to make" : "made", result.upToDate,
              result.withoutPng, result.errors.count() != 0 ? "; some could not be made" : "");
}

int run_texture_sync(const CommandArgs& args) {
  if (args.game == nullptr) {
    print_usage_error(kTextureSyncCommand, "needs --game GAMEDIR", "");
    return kExitUsage;
  }
  SyncResult result;
  if (!open_mod_and_game(args, &result)) {
    print_warnings(result.warnings);
    return kExitFailure;
  }
  const bool walked = sync_textures(args.dryRun, &result);
  print_warnings(result.warnings);
  for (uint32_t i = 0; i < result.errors.count(); ++i) print_error("%s", result.errors.line(i));
  if (!walked) {
    print_error("out of memory");
    return kExitFailure;
  }
  print_sync(args.dryRun, result);
  return result.errors.count() == 0 ? kExitSuccess : kExitFailure;
}

}  // namespace

const CommandSpec kTextureSyncCommand = {
    "texture sync",
    "MODDIR --game GAMEDIR [--dry-run] [--names FILE]...",
    "the DDS of every texture of a mod whose PNG is newer, like the game's",
    "For every texture that MODDIR's vintrel.json configures (\"ext\": \"dds\"), looks for the "
    "PNG\n"
    "beside its \"src\" (hero.dds: hero.png) and, when the DDS is missing or older than the PNG,\n"
    "makes the DDS from it like the game's entry that the file replaces (found by its \"name\",\n"
    "\"ext\" and \"pkg\", or their ids, in the first package of the manifest that holds it), as\n"
    "texture make --game does. Says what it made; a texture without a PNG, or whose DDS is newer,\n"
    "is left as it is. Each DDS is written under a temporary name and renamed when complete; a\n"
    "texture that cannot be made (a bad PNG, one of another size, an entry the game lacks) is\n"
    "an error of its own, and the others are made all the same.\n"
    "\n"
    "  --game GAMEDIR  the game whose entries the textures replace (needed)\n"
    "  --dry-run       say what would be made, and write nothing\n"
    "  --names FILE    read the name list FILE too (any number of times)\n"
    "\n"
    "Exit status: 0 when every texture that needed it was made, 1 when the configuration or the\n"
    "game cannot be read or a texture could not be made, 2 for a usage error.\n",
    1,
    kOptionGame | kOptionDryRun | kOptionNames,
    run_texture_sync,
};
