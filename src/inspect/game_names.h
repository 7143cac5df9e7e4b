#ifndef VINTREL_INSPECT_GAME_NAMES_H_
#define VINTREL_INSPECT_GAME_NAMES_H_

// The names that a command knows for a game's ids, from every source, and how the reports show a
// name id, an ext id or a configured file by name.

#include <cstdint>

#include "base/shared_string.h"
#include "base/status.h"
#include "base/string_buffer.h"
#include "base/warning_list.h"
#include "driver/pack_file_entry.h"
#include "inspect/command.h"
#include "inspect/messages.h"
#include "json/json_writer.h"
#include "manifest/game_reader.h"
#include "names/name_list.h"

// Loads into names every source a command reads, in this order, so that an id keeps the first
// spelling met: the built-in extensions; the package names of game's manifest (when game is not
// null); the "name", "ext" and "pkg" texts of every file of the configCount configurations in
// configs; every *.txt of the user's names folder; and every name list of files (the --names
// FILEs). Warnings (a malformed line, a list in the user's folder that cannot be read) are added
// to warnings. False, with the reason in *status, when a file of files cannot be read or memory
// runs out.
bool gather_names(const OptionValues& files, const GameReader* game,
                  const PackFileEntryList* const* configs, uint32_t configCount, NameLists& names,
                  WarningList& warnings, Status* status);

// gather_names for a command with the --names FILEs of args, its warnings going to standard error
// as they come. False, having said why, when a file cannot be read or memory runs out.
bool load_names(const CommandArgs& args, const GameReader* game,
                const PackFileEntryList* const* configs, uint32_t configCount, NameLists& names);

// The text that table (the names or the exts of a NameLists) gives for id; when it knows none,
// the id's 16 hexadecimal digits, written into *hex. Valid while both live.
const char* name_or_id(const NameTable& table, uint64_t id, IdText* hex);

// The name that a NAME, EXT or PACKAGE argument gives: the argument itself when it is a text, the
// text that table knows for the id that "0x" and 16 hexadecimal digits give, or else null.
const char* argument_name(const char* argument, const NameTable& table);

// An entry by name, "ui/hero.dds": its name and its ext each as name_or_id gives them, joined by
// a dot. False when out of memory.
bool entry_name(const NameLists& names, uint64_t nameId, uint64_t extId, CStringBufferA& out);

// Writes the members "name" and "ext" of an entry: the lists' texts, each null when unknown.
void write_name_members(JsonWriter& json, const NameLists& names, uint64_t nameId, uint64_t extId);

// How the reports show a configured file's name, ext or pkg: the text its vintrel.json gives
// (given), else the lists' text for its id, else the id in hexadecimal into *hex (null when hex
// is null). A pkg is shown only when the file has one: with neither a text nor an id, null.
const char* file_name_text(const NameLists& names, const PackFileEntry& file, IdText* hex);
const char* file_ext_text(const NameLists& names, const PackFileEntry& file, IdText* hex);
const char* file_pkg_text(const NameLists& names, const PackFileEntry& file, IdText* hex);

// Writes the members "name", "ext", "name_id" and "ext_id" of a configured file, each text as
// file_name_text and file_ext_text give it, null when unknown.
void write_file_name_members(JsonWriter& json, const NameLists& names, const PackFileEntry& file);
// Writes the members "pkg" and "pkg_id" of a configured file, after prefix ("winner_"): its pkg
// as file_pkg_text gives it (null when unknown or when it has none) and its id (null when none).
void write_file_pkg_members(JsonWriter& json, const NameLists& names, const PackFileEntry& file,
                            const char* prefix = "");

#endif  // VINTREL_INSPECT_GAME_NAMES_H_
