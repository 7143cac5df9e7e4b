#include "inspect/stack_writer.h"

#include <cstring>
#include <initializer_list>

#include "base/ascii.h"
#include "base/file.h"
#include "base/pending_file.h"
#include "base/platform.h"
#include "base/string_buffer.h"
#include "driver/config.h"
#include "inspect/game_names.h"
#include "inspect/messages.h"
#include "json/json_writer.h"

namespace {

constexpr char kTempName[] = "vintrel.json.tmp";

// load_config's lines are the tool's; the report says the same on standard error.
void say_nothing(const char*, const char*) {}

void add_failure(const Status& status, WarningList& errors) {
  CStringBufferA line;
  if (status.Describe(line)) {
    errors.Add("%s", line.Data());
  } else {
    errors.Add("out of memory");
  }
}

// Loads every mod's vintrel.json, each failure an error of its own. False when any failed.
bool load_mods(char* const* modDirs, uint32_t count, StackResult& result) {
  result.count = count;
  if (!result.mods.allocate(result.count) || !result.relative.allocate(result.count)) {
    result.errors.Add("out of memory");
    return false;
  }
  bool loaded = true;
  for (uint32_t m = 0; m < result.count; ++m) {
    StackMod& mod = result.mods[m];
    mod.dir = modDirs[m];
    PathBuffer path;
    if (path.Format("%s\\", mod.dir) > 0) mod.context.srcDir.Assign(path);
    if (mod.context.srcDir.IsEmpty() || path.Format("%s\\%s", mod.dir, kConfigName) <= 0) {
      result.errors.Add("out of memory");
      return false;
    }
    if (!load_config(path.Data(), mod.context, say_nothing)) {
      add_failure(mod.context.failure, result.errors);
      loaded = false;
      continue;
    }
    const WarningList& warnings = mod.context.warnings;
    for (uint32_t i = 0; i < warnings.count(); ++i) result.warnings.Add("%s", warnings.line(i));
  }
  return loaded;
}

// Whether the file name in OUTDIR is the stack's vintrel.json or its temporary file: so spelt,
// or spelt in other case on a file system that ignores case (where both names are one file).
bool is_own_file(const char* outDir, const char* name) {
  PathBuffer listed;
  PathBuffer own;
  for (const char* ownName : {kConfigName, kTempName}) {
    if (std::strcmp(name, ownName) == 0) return true;
    const size_t length = std::strlen(ownName);
    if (std::strlen(name) != length || !ascii_same_but_case(name, ownName, length)) continue;
    if (listed.Format("%s\\%s", outDir, name) > 0 && own.Format("%s\\%s", outDir, ownName) > 0 &&
        sys_same_file(listed.Data(), own.Data())) {
      return true;
    }
  }
  return false;
}

// OUTDIR is missing, or a directory that holds nothing but a vintrel.json. False, with an error,
// otherwise.
bool check_out_dir(const char* outDir, bool* exists, WarningList& errors) {
  CStringBufferA shown;
  sys_native_path(outDir, shown);
  *exists = sys_file_exists(outDir);
  if (!*exists) return true;
  if (!sys_is_directory(outDir)) {
    errors.Add("\"%s\" is not a directory; stack writes a mod directory there", shown.Data());
    return false;
  }
  ByteBuffer names;
  if (!sys_list_directory(outDir, names)) {
    Status status;
    status.FailIo("cannot list", outDir);
    add_failure(status, errors);
    return false;
  }
  const char* name = reinterpret_cast<const char*>(names.data());
  const char* end = name + names.length();
  for (; name < end; name += std::strlen(name) + 1) {
    // A stack stopped before it put its vintrel.json in place leaves its temporary file, which
    // is its own to write again.
    if (is_own_file(outDir, name)) continue;
    errors.Add(
        "\"%s\" holds \"%s\", which stack would not replace; give a new directory, or one that "
        "holds only a stack's vintrel.json",
        shown.Data(), name);
    return false;
  }
  return true;
}

// The full path of OUTDIR, which need not exist yet: then its parent's, and its own name.
bool full_out_dir(const char* outDir, bool exists, CStringBufferA& full, WarningList& errors) {
  Status status;
  if (exists) {
    if (sys_full_path(outDir, full)) return true;
    status.FailIo("cannot find the full path of", outDir);
    add_failure(status, errors);
    return false;
  }
  const char* name = outDir;
  for (const char* p = outDir; *p != '\0'; ++p) {
    if ((*p == '\\' || *p == '/') && p[1] != '\0') name = p + 1;
  }
  PathBuffer parent;
  if (name == outDir) {
    parent.Assign(".");
  } else if (parent.Format("%.*s", static_cast<int>(name - outDir), outDir) <= 0) {
    errors.Add("out of memory");
    return false;
  }
  CStringBufferA parentFull;
  if (!sys_full_path(parent.Data(), parentFull)) {
    status.FailIo("cannot find the directory of", outDir);
    add_failure(status, errors);
    return false;
  }
  // A root ("/", "C:\" on Windows) ends in its separator already.
  const int32_t length = parentFull.Length();
  const char last = length != 0 ? parentFull.Data()[length - 1] : '/';
  const char* separator = last == '/' || last == '\\' ? "" : "/";
  PathBuffer joined;
  if (joined.Format("%s%s%s", parentFull.Data(), separator, name) <= 0 ||
      full.Assign(joined.Data()) == nullptr) {
    errors.Add("out of memory");
    return false;
  }
  return true;
}

// The way from OUTDIR to each mod's directory. False, with an error for each mod that cannot be
// reached by a relative path.
bool find_relative_paths(const char* outFull, StackResult& result) {
  bool found = true;
  for (uint32_t m = 0; m < result.count; ++m) {
    const char* dir = result.mods[m].dir;
    CStringBufferA full;
    if (!sys_full_path(dir, full)) {
      Status status;
      status.FailIo("cannot find the full path of", dir);
      add_failure(status, result.errors);
      found = false;
      continue;
    }
    if (!relative_path(outFull, full.Data(), result.relative[m])) {
      result.errors.Add(
          "\"%s\" cannot be reached from \"%s\" by a relative path (another drive or share); "
          "give an OUTDIR on the mod's drive",
          full.Data(), outFull);
      found = false;
    }
  }
  return found;
}

// Whether two files exist and hold the same bytes.
bool same_bytes(const char* a, const char* b) {
  ByteBuffer first;
  ByteBuffer second;
  return read_whole_file(a, first) && read_whole_file(b, second) &&
         first.length() == second.length() &&
         (first.length() == 0 || std::memcmp(first.data(), second.data(), first.length()) == 0);
}

void mark_identical(StackResult& result) {
  Stack& stack = result.stack;
  for (uint32_t i = 0; i < stack.conflict_count(); ++i) {
    StackConflict& conflict = stack.conflict(i);
    const PackFileEntry& winner = *stack.place(conflict.winner).file;
    const PackFileEntry& loser = *stack.place(conflict.loser).file;
    const bool noMeta = winner.metaPath.IsEmpty() && loser.metaPath.IsEmpty();
    const bool bothMeta = !winner.metaPath.IsEmpty() && !loser.metaPath.IsEmpty();
    conflict.identical =
        same_bytes(winner.sourcePath.Text(), loser.sourcePath.Text()) &&
        (noMeta || (bothMeta && same_bytes(winner.metaPath.Text(), loser.metaPath.Text())));
  }
}

// The mod's own path of a file ("textures/hero.dds") after the way from OUTDIR to the mod.
bool stacked_path(const StackResult& result, uint32_t mod, const SharedString& path,
                  CStringBufferA& out) {
  const char* own = path.Text() + result.mods[mod].context.srcDir.Length();
  const CStringBufferA& relative = result.relative[mod];
  if (relative.Length() == 0) return out.Assign(own) != nullptr;
  return out.Format("%s/%s", relative.Data(), own) > 0;
}

// A configured file's name, ext or pkg as its mod's vintrel.json gives it: the text under key, or
// else the id under idKey; a pkg with neither (an id of 0) is left out.
void write_identity(JsonWriter& json, const char* key, const SharedString& text, const char* idKey,
                    uint64_t id, bool optional) {
  if (!text.IsEmpty()) {
    json.Key(key);
    json.String(text.Text());
  } else if (id != 0 || !optional) {
    json.Key(idKey);
    json.String(id_text(id).text);
  }
}

// The vintrel.json of the stack, into result.config: every file not shadowed, in the stack's
// order. False when out of memory.
bool make_config(StackResult& result) {
  JsonWriter json(result.config);
  json.BeginObject();
  json.Key("upak");
  json.String(result.upak);
  json.Key("fullcopy");
  json.Bool(result.fullCopy);
  json.Key("files");
  json.BeginArray();
  CStringBufferA path;
  const Stack& stack = result.stack;
  for (const PackFileEntry* file = stack.files().head(); file != nullptr; file = file->next) {
    if (file->shadowedBy != 0) continue;
    const StackPlace& place = stack.place(file->index);
    const PackFileEntry& own = *place.file;
    json.BeginObject();
    write_identity(json, "name", own.name, "name_id", own.nameId, false);
    write_identity(json, "ext", own.ext, "ext_id", own.extId, false);
    if (!stacked_path(result, place.mod, own.sourcePath, path)) return false;
    json.Key("src");
    json.String(path.Data());
    write_identity(json, "pkg", own.pkg, "pkg_id", own.packageId, true);
    if (!own.metaPath.IsEmpty()) {
      if (!stacked_path(result, place.mod, own.metaPath, path)) return false;
      json.Key("meta");
      json.String(path.Data());
    }
    json.EndObject();
    ++result.written;
  }
  json.EndArray();
  json.EndObject();
  return json.ok();
}

// Writes the config into OUTDIR through a temporary name, which is gone again on every path.
bool write_config_into(const char* outDir, StackResult& result) {
  Status status;
  PathBuffer temp;
  if (temp.Format("%s\\%s", outDir, kTempName) <= 0 ||
      result.configPath.Format("%s\\%s", outDir, kConfigName) <= 0) {
    result.errors.Add("out of memory");
    return false;
  }
  PendingFile file;
  if (!file.Create(temp.Data(), result.configPath.Data(), &status)) {
    add_failure(status, result.errors);
    return false;
  }
  const uint32_t length = result.config.length();
  if (file_write(file.file(), result.config.data(), length) != length) {
    status.FailIo("cannot write", temp.Data());
    add_failure(status, result.errors);
    return false;
  }
  if (!file.Commit(&status)) {
    add_failure(status, result.errors);
    return false;
  }
  return true;
}

// Writes the config, making OUTDIR first when it is missing; a directory made for a config that
// could not be written is removed again.
bool write_config(const char* outDir, bool exists, StackResult& result) {
  if (!exists && !sys_create_directory(outDir)) {
    Status status;
    status.FailIo("cannot create the directory", outDir);
    add_failure(status, result.errors);
    return false;
  }
  if (write_config_into(outDir, result)) return true;
  if (!exists) sys_remove_directory(outDir);
  return false;
}

}  // namespace

bool make_stack(const char* outDir, char* const* modDirs, uint32_t count, const char* upak,
                const char* gameDir, StackResult& result, const OptionValues& nameFiles) {
  bool exists = false;
  const bool loaded = load_mods(modDirs, count, result);
  if (!check_out_dir(outDir, &exists, result.errors) || !loaded) return false;
  for (uint32_t m = 0; exists && m < result.count; ++m) {
    if (!sys_same_file(outDir, result.mods[m].dir)) continue;
    CStringBufferA shown;
    sys_native_path(outDir, shown);
    result.errors.Add("\"%s\" is the directory of a mod of the stack; give another OUTDIR",
                      shown.Data());
    return false;
  }
  if (!result.stack.Build(&result.mods[0], result.count)) {
    result.errors.Add("out of memory");
    return false;
  }
  mark_identical(result);
  const StackMod& last = result.mods[result.count - 1];
  result.upak = upak != nullptr ? upak : last.context.userPackage.Text();
  for (uint32_t m = 0; m < result.count; ++m) {
    if (!result.mods[m].context.fullCopy) continue;
    result.fullCopy = true;
    CStringBufferA shown;
    sys_native_path(result.mods[m].dir, shown);
    result.warnings.Add(
        "\"%s\" sets \"fullcopy\", and so the stack does: a run rewrites every package",
        shown.Data());
  }
  Status status;
  if (gameDir != nullptr) {
    result.withGame = true;
    if (!result.entries.Open(gameDir, &status)) {
      add_failure(status, result.errors);
      return false;
    }
  }
  TCountedArray<const PackFileEntryList*> configs;
  if (!configs.allocate(result.count)) {
    result.errors.Add("out of memory");
    return false;
  }
  for (uint32_t m = 0; m < result.count; ++m) configs[m] = &result.mods[m].context.entries;
  if (!gather_names(nameFiles, result.withGame ? &result.entries.game() : nullptr, &configs[0],
                    result.count, result.names, result.warnings, &status)) {
    add_failure(status, result.errors);
    return false;
  }
  if (result.withGame) {
    if (!result.entries.Find(result.stack, &result.mods[0], result.count, result.names, &status)) {
      add_failure(status, result.errors);
      return false;
    }
    const WarningList& warnings = result.entries.warnings();
    for (uint32_t i = 0; i < warnings.count(); ++i) result.warnings.Add("%s", warnings.line(i));
  }
  CStringBufferA outFull;
  if (!full_out_dir(outDir, exists, outFull, result.errors) ||
      !find_relative_paths(outFull.Data(), result)) {
    return false;
  }
  if (!make_config(result)) {
    result.errors.Add("out of memory");
    return false;
  }
  return write_config(outDir, exists, result);
}
