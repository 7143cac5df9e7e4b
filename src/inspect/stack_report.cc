#include "inspect/stack_report.h"

#include <cstdio>

#include "base/platform.h"
#include "base/string_buffer.h"
#include "inspect/game_lookup.h"
#include "inspect/game_names.h"
#include "inspect/messages.h"
#include "json/json_writer.h"
#include "report/json_report.h"
#include "report/text_table.h"

void mod_name(const StackResult& result, uint32_t place, CStringBufferA& name) {
  sys_native_path(result.mods[result.stack.place(place).mod].dir, name);
}

namespace {

void pkg_cell(const StackResult& result, const PackFileEntry& file, TextTable& table) {
  IdText hex;
  const char* pkg = file_pkg_text(result.names, file, &hex);
  table.Cell(pkg != nullptr ? pkg : "");
}

// A file's name, ext and pkg as the tables show them: the configuration's texts, else the lists',
// else the ids; an empty pkg when it has none.
void file_cells(const StackResult& result, const PackFileEntry& file, bool withPkg,
                TextTable& table) {
  IdText hex;
  table.Cell(file_name_text(result.names, file, &hex));
  table.Cell(file_ext_text(result.names, file, &hex));
  if (withPkg) pkg_cell(result, file, table);
}

}  // namespace

const char* conflict_outcome(const StackConflict& conflict) {
  if (conflict.shadowed) return conflict.identical ? "left out, identical" : "left out";
  return conflict.identical ? "loses where both apply, identical" : "loses where both apply";
}

const char* game_outcome(const StackResult& result, const PackFileEntry& file) {
  if (file.shadowedBy != 0) return nullptr;
  const StackEntries& entries = result.entries;
  if (!entries.matches(file.index)) return "replaces nothing";
  if (entries.loses(file.index) && entries.wins(file.index)) {
    return "loses some entries, wins others";
  }
  return nullptr;
}

namespace {

bool print_conflicts_text(const StackResult& result) {
  const Stack& stack = result.stack;
  if (stack.conflict_count() == 0) return true;
  TextTable table(7);
  const char* const headings[] = {"name",  "ext",         "winner", "winner's pkg",
                                  "loser", "loser's pkg", "outcome"};
  for (const char* heading : headings) table.Cell(heading);
  CStringBufferA name;
  for (uint32_t i = 0; i < stack.conflict_count(); ++i) {
    const StackConflict& conflict = stack.conflict(i);
    const PackFileEntry& winner = *stack.place(conflict.winner).file;
    const PackFileEntry& loser = *stack.place(conflict.loser).file;
    file_cells(result, loser, false, table);
    mod_name(result, conflict.winner, name);
    table.Cell(name);
    pkg_cell(result, winner, table);
    mod_name(result, conflict.loser, name);
    table.Cell(name);
    pkg_cell(result, loser, table);
    table.Cell(conflict_outcome(conflict));
  }
  if (!table.ok()) return false;
  table.Print(stdout);
  std::fputc('\n', stdout);
  return true;
}

bool print_entries_text(const StackResult& result) {
  const StackEntries& entries = result.entries;
  if (entries.conflict_count() == 0) return true;
  TextTable table(5);
  const char* const headings[] = {"package", "name", "ext", "winner", "losers"};
  for (const char* heading : headings) table.Cell(heading);
  CStringBufferA name;
  for (uint32_t i = 0; i < entries.conflict_count(); ++i) {
    const EntryConflict conflict = entries.conflict(i);
    const PackageRecord& record = entries.game().record(conflict.record);
    const PackFileEntry& winner = *result.stack.place(conflict.winner).file;
    table.Cell(record.name, record.nameLength);
    file_cells(result, winner, false, table);
    mod_name(result, conflict.winner, name);
    table.Cell(name);
    CStringBufferA losers;
    for (uint32_t l = 0; l < conflict.loserCount; ++l) {
      mod_name(result, entries.loser(conflict.firstLoser + l), name);
      if (!append_quoted(name.Data(), losers)) return false;
    }
    table.Cell(losers);
  }
  if (!table.ok()) return false;
  table.Print(stdout);
  std::fputc('\n', stdout);
  return true;
}

bool print_files_text(const StackResult& result) {
  TextTable table(5);
  const char* const headings[] = {"mod", "name", "ext", "pkg", "in the game"};
  for (const char* heading : headings) table.Cell(heading);
  uint32_t rows = 0;
  CStringBufferA name;
  for (const PackFileEntry* file = result.stack.files().head(); file != nullptr;
       file = file->next) {
    const char* what = game_outcome(result, *file);
    if (what == nullptr) continue;
    mod_name(result, file->index, name);
    table.Cell(name);
    file_cells(result, *file, true, table);
    table.Cell(what);
    ++rows;
  }
  if (!table.ok()) return false;
  if (rows != 0) {
    table.Print(stdout);
    std::fputc('\n', stdout);
  }
  return true;
}

void write_file_json(const StackResult& result, const PackFileEntry& file, JsonWriter& json,
                     CStringBufferA& name) {
  json.BeginObject();
  json.Key("mod");
  mod_name(result, file.index, name);
  json.String(name.Data());
  write_file_name_members(json, result.names, file);
  write_file_pkg_members(json, result.names, file);
}

}  // namespace

bool print_stack_text(const StackResult& result) {
  if (!print_conflicts_text(result)) return false;
  if (result.withGame && !(print_entries_text(result) && print_files_text(result))) return false;
  CStringBufferA shown;
  sys_native_path(result.configPath.Data(), shown);
  const uint32_t leftOut = result.stack.files().count() - result.written;
  std::printf("wrote \"%s\": %u file%s of %u mod%s, %u left out as shadowed\n", shown.Data(),
              result.written, result.written == 1 ? "" : "s", result.count,
              result.count == 1 ? "" : "s", leftOut);
  return true;
}

bool print_stack_json(const StackResult& result) {
  ByteBuffer out;
  JsonWriter json(out);
  CStringBufferA name;
  const Stack& stack = result.stack;
  json.BeginObject();
  json.Key("config");
  sys_native_path(result.configPath.Data(), name);
  json.String(name.Data());
  json.Key("upak");
  json.String(result.upak);
  json.Key("fullcopy");
  json.Bool(result.fullCopy);
  json.Key("mods");
  json.BeginArray();
  for (uint32_t m = 0; m < result.count; ++m) {
    sys_native_path(result.mods[m].dir, name);
    json.String(name.Data());
  }
  json.EndArray();
  json.Key("files");
  json.BeginArray();
  for (const PackFileEntry* file = stack.files().head(); file != nullptr; file = file->next) {
    write_file_json(result, *file, json, name);
    json.Key("left_out");
    json.Bool(file->shadowedBy != 0);
    json.EndObject();
  }
  json.EndArray();
  json.Key("conflicts");
  json.BeginArray();
  for (uint32_t i = 0; i < stack.conflict_count(); ++i) {
    const StackConflict& conflict = stack.conflict(i);
    const PackFileEntry& loser = *stack.place(conflict.loser).file;
    json.BeginObject();
    write_file_name_members(json, result.names, loser);
    json.Key("winner");
    mod_name(result, conflict.winner, name);
    json.String(name.Data());
    write_file_pkg_members(json, result.names, *stack.place(conflict.winner).file, "winner_");
    json.Key("loser");
    mod_name(result, conflict.loser, name);
    json.String(name.Data());
    write_file_pkg_members(json, result.names, loser, "loser_");
    json.Key("left_out");
    json.Bool(conflict.shadowed);
    json.Key("identical");
    json.Bool(conflict.identical);
    json.EndObject();
  }
  json.EndArray();
  json.Key("entries");
  if (!result.withGame) {
    json.Null();
  } else {
    const StackEntries& entries = result.entries;
    json.BeginArray();
    for (uint32_t i = 0; i < entries.conflict_count(); ++i) {
      const EntryConflict conflict = entries.conflict(i);
      const PackFileEntry& winner = *stack.place(conflict.winner).file;
      json.BeginObject();
      write_record_members(json, entries.game().record(conflict.record), "package");
      write_file_name_members(json, result.names, winner);
      json.Key("winner");
      mod_name(result, conflict.winner, name);
      json.String(name.Data());
      json.Key("losers");
      json.BeginArray();
      for (uint32_t l = 0; l < conflict.loserCount; ++l) {
        mod_name(result, entries.loser(conflict.firstLoser + l), name);
        json.String(name.Data());
      }
      json.EndArray();
      json.EndObject();
    }
    json.EndArray();
  }
  json.Key("game_files");
  if (!result.withGame) {
    json.Null();
  } else {
    json.BeginArray();
    for (const PackFileEntry* file = stack.files().head(); file != nullptr; file = file->next) {
      const char* what = game_outcome(result, *file);
      if (what == nullptr) continue;
      write_file_json(result, *file, json, name);
      json.Key("in_the_game");
      json.String(what);
      json.EndObject();
    }
    json.EndArray();
  }
  json.Key("written");
  json.Uint(result.written);
  write_json_lines(json, "warnings", result.warnings);
  json.EndObject();
  return print_json_document(json, out);
}
