#include "inspect/game_names.h"

#include "base/warning_list.h"
#include "inspect/game_lookup.h"

namespace {

// A text member, null when there is no text.
void text_or_null(JsonWriter& json, const char* key, const char* text) {
  json.Key(key);
  if (text != nullptr) {
    json.String(text);
  } else {
    json.Null();
  }
}

// The names of game's package records and of the configured files. False when out of memory.
bool add_game_and_config_names(const GameReader* game, const PackFileEntryList* const* configs,
                               uint32_t configCount, NameLists& names) {
  CStringBufferA name;
  for (uint32_t k = 0; game != nullptr && k < game->package_count(); ++k) {
    if (!record_name(*game, k, name) || !names.AddName(name.Data())) return false;
  }
  for (uint32_t c = 0; c < configCount; ++c) {
    for (const PackFileEntry* file = configs[c]->head(); file != nullptr; file = file->next) {
      if ((!file->name.IsEmpty() && !names.AddName(file->name.Text())) ||
          (!file->ext.IsEmpty() && !names.AddExt(file->ext.Text())) ||
          (!file->pkg.IsEmpty() && !names.AddName(file->pkg.Text()))) {
        return false;
      }
    }
  }
  return true;
}

const char* configured_text(const SharedString& given, const NameTable& table, uint64_t id,
                            IdText* hex) {
  if (!given.IsEmpty()) return given.Text();
  if (hex != nullptr) return name_or_id(table, id, hex);
  return table.Find(id);
}

}  // namespace

bool gather_names(const OptionValues& files, const GameReader* game,
                  const PackFileEntryList* const* configs, uint32_t configCount, NameLists& names,
                  WarningList& warnings, Status* status) {
  if (!names.AddBuiltinExts() || !add_game_and_config_names(game, configs, configCount, names)) {
    return status->FailOutOfMemory();
  }
  CStringBufferA folder;
  // Without a folder of the user's data there is no list of theirs to read.
  if (user_names_folder(folder) && !names.LoadFolder(folder.Data(), warnings, status)) {
    return false;
  }
  for (uint32_t i = 0; i < files.count; ++i) {
    if (!names.LoadFile(files[i], warnings, status)) return false;
  }
  return true;
}

bool load_names(const CommandArgs& args, const GameReader* game,
                const PackFileEntryList* const* configs, uint32_t configCount, NameLists& names) {
  WarningList warnings;
  Status status;
  const bool loaded =
      gather_names(args.names, game, configs, configCount, names, warnings, &status);
  for (uint32_t i = 0; i < warnings.count(); ++i) print_warning("%s", warnings.line(i));
  if (!loaded) print_failure(status);
  return loaded;
}

const char* name_or_id(const NameTable& table, uint64_t id, IdText* hex) {
  const char* text = table.Find(id);
  if (text != nullptr) return text;
  *hex = id_text(id);
  return hex->text;
}

const char* argument_name(const char* argument, const NameTable& table) {
  return is_id_argument(argument) ? table.Find(argument_id(argument)) : argument;
}

bool entry_name(const NameLists& names, uint64_t nameId, uint64_t extId, CStringBufferA& out) {
  IdText nameHex;
  IdText extHex;
  return out.Format("%s.%s", name_or_id(names.names(), nameId, &nameHex),
                    name_or_id(names.exts(), extId, &extHex)) > 0;
}

void write_name_members(JsonWriter& json, const NameLists& names, uint64_t nameId, uint64_t extId) {
  text_or_null(json, "name", names.Name(nameId));
  text_or_null(json, "ext", names.Ext(extId));
}

const char* file_name_text(const NameLists& names, const PackFileEntry& file, IdText* hex) {
  return configured_text(file.name, names.names(), file.nameId, hex);
}

const char* file_ext_text(const NameLists& names, const PackFileEntry& file, IdText* hex) {
  return configured_text(file.ext, names.exts(), file.extId, hex);
}

const char* file_pkg_text(const NameLists& names, const PackFileEntry& file, IdText* hex) {
  if (file.pkg.IsEmpty() && file.packageId == 0) return nullptr;
  return configured_text(file.pkg, names.names(), file.packageId, hex);
}

void write_file_name_members(JsonWriter& json, const NameLists& names, const PackFileEntry& file) {
  text_or_null(json, "name", file_name_text(names, file, nullptr));
  text_or_null(json, "ext", file_ext_text(names, file, nullptr));
  json.Key("name_id");
  json.String(id_text(file.nameId).text);
  json.Key("ext_id");
  json.String(id_text(file.extId).text);
}

void write_file_pkg_members(JsonWriter& json, const NameLists& names, const PackFileEntry& file,
                            const char* prefix) {
  TStringBufferA<32> key;
  key.Format("%spkg", prefix);
  text_or_null(json, key.Data(), file_pkg_text(names, file, nullptr));
  key.Format("%spkg_id", prefix);
  json.Key(key.Data());
  if (file.packageId != 0) {
    json.String(id_text(file.packageId).text);
  } else {
    json.Null();
  }
}
