#include "inspect/stack_report.h"

#include <cstdio>

#include "base/platform.h"
#include "base/string_buffer.h"
#include "inspect/game_lookup.h"
#include "report/json_report.h"
#include "inspect/messages.h"
#include "report/text_table.h"
#include "json/json_writer.h"

namespace {

// A mod as the reports show it: its directory as given.
void mod_name(const StackResult& result, uint32_t place, CStringBufferA& name) {
  sys_native_path(result.mods[result.stack.place(place).mod].dir, name);
}

// The conflict's outcome for the loser.
const char* outcome(const StackConflict& conflict) {
  if (conflict.shadowed) return conflict.identical ? "left out, identical" : "left out";
  return conflict.identical ? "loses where both apply, identical" : "loses where both apply";
}

// What a file kept in the stack does in the game, when the report names it; null otherwise.
const char* game_outcome(const StackResult& result, const PackFileEntry& file) {
  if (file.shadowedBy != 0) return nullptr;
  const StackEntries& entries = result.entries;
  if (!entries.matches(file.index)) return "replaces nothing";
  if (entries.loses(file.index) && entries.wins(file.index)) {
    return "loses some entries, wins others";
  }
  return nullptr;
}

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
    table.Cell(loser.name.Text());
    table.Cell(loser.ext.Text());
    mod_name(result, conflict.winner, name);
    table.Cell(name);
    table.Cell(winner.pkg.Text());
    mod_name(result, conflict.loser, name);
    table.Cell(name);
    table.Cell(loser.pkg.Text());
    table.Cell(outcome(conflict));
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
    table.Cell(winner.name.Text());
    table.Cell(winner.ext.Text());
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
    table.Cell(file->name.Text());
    table.Cell(file->ext.Text());
    table.Cell(file->pkg.Text());
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

void write_pkg(const PackFileEntry& file, JsonWriter& json) {
  if (file.pkg.IsEmpty()) {
    json.Null();
  } else {
    json.String(file.pkg.Text());
  }
}

void write_file_json(const StackResult& result, const PackFileEntry& file, JsonWriter& json,
                     CStringBufferA& name) {
  json.BeginObject();
  json.Key("mod");
  mod_name(result, file.index, name);
  json.String(name.Data());
  json.Key("name");
  json.String(file.name.Text());
  json.Key("ext");
  json.String(file.ext.Text());
  json.Key("pkg");
  write_pkg(file, json);
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
    json.Key("name");
    json.String(loser.name.Text());
    json.Key("ext");
    json.String(loser.ext.Text());
    json.Key("winner");
    mod_name(result, conflict.winner, name);
    json.String(name.Data());
    json.Key("winner_pkg");
    write_pkg(*stack.place(conflict.winner).file, json);
    json.Key("loser");
    mod_name(result, conflict.loser, name);
    json.String(name.Data());
    json.Key("loser_pkg");
    write_pkg(loser, json);
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
      json.Key("name");
      json.String(winner.name.Text());
      json.Key("ext");
      json.String(winner.ext.Text());
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
