#include "inspect/stack_page.h"

#include "base/platform.h"
#include "base/string_buffer.h"
#include "driver/name_hash.h"
#include "inspect/game_names.h"
#include "inspect/messages.h"
#include "inspect/stack_report.h"
#include "inspect/texture_preview.h"
#include "report/html_page.h"

namespace {

class StackPage : public PreviewSteps {
 public:
  StackPage(const StackPageRequest& request, const StackResult& result)
      : request_(request), result_(result), stack_(result.stack), entries_(result.entries) {}

  bool Write(Status* status);

  uint32_t SourceCount(uint32_t step) override { return entries_.conflict(step).loserCount + 2; }
  void Sources(uint32_t step, PreviewSource* sources) override;
  bool Take(uint32_t step, const TexturePreview* previews) override;

 private:
  bool is_texture(const EntryConflict& conflict) const;
  // The place in the stack of version i (from 1) of a conflict's mods in load order.
  uint32_t version(const EntryConflict& conflict, uint32_t i) const;
  // Whether the file at place loser is identical to the winner's, files and metadata alike.
  bool identical(uint32_t winner, uint32_t loser) const;
  void WriteSummary();
  bool WriteEntries();
  void WriteConflicts();
  void WriteFiles();

  const StackPageRequest& request_;
  const StackResult& result_;
  const Stack& stack_;
  const StackEntries& entries_;
  HtmlPage page_;
  ThumbnailLimits limits_;
  bool failed_ = false;  // out of memory while taking a row
};

bool StackPage::is_texture(const EntryConflict& conflict) const {
  static const uint64_t ddsId = name_hash("dds");
  return stack_.place(conflict.winner).file->extId == ddsId;
}

bool StackPage::identical(uint32_t winner, uint32_t loser) const {
  // The conflicts are in order of their losers' places, then their winners'.
  uint32_t low = 0;
  uint32_t high = stack_.conflict_count();
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    const StackConflict& conflict = stack_.conflict(middle);
    if (conflict.loser < loser || (conflict.loser == loser && conflict.winner < winner)) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low < stack_.conflict_count() && stack_.conflict(low).loser == loser &&
         stack_.conflict(low).winner == winner && stack_.conflict(low).identical;
}

uint32_t StackPage::version(const EntryConflict& conflict, uint32_t i) const {
  // The losers are kept latest first, and the winner is the latest of all.
  if (i == conflict.loserCount + 1) return conflict.winner;
  return entries_.loser(conflict.firstLoser + conflict.loserCount - i);
}

void StackPage::Sources(uint32_t step, PreviewSource* sources) {
  const EntryConflict& conflict = entries_.conflict(step);
  const bool texture = is_texture(conflict);
  sources[0].record = conflict.record;
  sources[0].entry = conflict.entry;
  sources[0].texture = texture;
  for (uint32_t i = 1; i < SourceCount(step); ++i) {
    sources[i].record = PreviewSource::kFile;
    sources[i].path = stack_.place(version(conflict, i)).file->sourcePath.Text();
    sources[i].texture = texture;
  }
}

bool StackPage::Take(uint32_t step, const TexturePreview* previews) {
  const EntryConflict& conflict = entries_.conflict(step);
  const PackageRecord& record = entries_.game().record(conflict.record);
  const PackFileEntry& winner = *stack_.place(conflict.winner).file;
  const bool texture = is_texture(conflict);
  CStringBufferA name;
  CStringBufferA package;
  CStringBufferA mod;
  CStringBufferA losers;
  CStringBufferA alt;
  if (!entry_name(result_.names, winner.nameId, winner.extId, name) ||
      !append_escaped(record.name, record.nameLength, package)) {
    failed_ = true;
    return false;
  }
  IdText hex;
  page_.Row();
  page_.Cell(package);
  page_.Cell(file_name_text(result_.names, winner, &hex));
  page_.Cell(file_ext_text(result_.names, winner, &hex));
  mod_name(result_, conflict.winner, mod);
  page_.Cell(mod);
  for (uint32_t l = 0; l < conflict.loserCount; ++l) {
    mod_name(result_, entries_.loser(conflict.firstLoser + l), mod);
    if (!append_quoted(mod.Data(), losers)) {
      failed_ = true;
      return false;
    }
  }
  page_.Cell(losers);

  page_.Comparison(name);
  page_.Panel("game");
  if (alt.Format("%s in %s: the game's", name.Data(), package.Data()) <= 0) alt.Assign("");
  show_preview(page_, previews[0], texture, alt);
  for (uint32_t i = 1; i < SourceCount(step); ++i) {
    const uint32_t place = version(conflict, i);
    const bool won = place == conflict.winner;
    mod_name(result_, place, mod);
    if (won) {
      page_.Panel(mod, "winner", HtmlTone::kGood);
    } else {
      page_.Panel(mod, identical(conflict.winner, place) ? "identical, harmless" : "loses");
    }
    if (alt.Format("%s in %s: %s's", name.Data(), package.Data(), mod.Data()) <= 0) alt.Assign("");
    show_preview(page_, previews[i], texture, alt);
  }
  return page_.ok();
}

void StackPage::WriteSummary() {
  const uint32_t files = stack_.files().count();
  page_.Figure("mods", "mods", result_.count);
  page_.Figure("files", "files written", result_.written);
  page_.Figure("left_out", "left out as shadowed", files - result_.written);
  if (result_.fullCopy) {
    page_.FigureText("packages", "packages rewritten", "every one");
  } else {
    page_.Figure("packages", "packages rewritten", entries_.packages_replaced());
  }
  page_.Figure("entries", "entries replaced", entries_.entries_replaced());
  page_.Figure("conflicts", "entries several mods replace", entries_.conflict_count(),
               entries_.conflict_count() != 0 ? HtmlTone::kWarning : HtmlTone::kPlain);
  const uint32_t warnings = result_.warnings.count();
  page_.Figure("warnings", "warnings", warnings,
               warnings != 0 ? HtmlTone::kWarning : HtmlTone::kPlain);
  if (warnings == 0) return;
  page_.Section("Warnings");
  for (uint32_t i = 0; i < warnings; ++i) page_.Warning(result_.warnings.line(i));
}

bool StackPage::WriteEntries() {
  page_.Section("Entries several mods replace");
  const uint32_t count = entries_.conflict_count();
  if (count == 0) {
    page_.Paragraph("None: no two mods replace the same entry of the game.");
    return true;
  }
  page_.Paragraph(
      "Beneath each, every version side by side: the game's, then each mod's in load order.");
  const char* const headings[] = {"package", "name", "ext", "winner", "losers"};
  page_.Table("entries", headings, 5);
  return run_previews(*this, count, result_.count + 1, request_.gameDir, entries_.game(), limits_,
                      request_.threads);
}

void StackPage::WriteConflicts() {
  page_.Section("Conflicts between the mods' configurations");
  if (stack_.conflict_count() == 0) {
    page_.Paragraph("None.");
    return;
  }
  const char* const headings[] = {"name",  "ext",         "winner", "winner's pkg",
                                  "loser", "loser's pkg", "outcome"};
  page_.Table("conflicts", headings, 7);
  CStringBufferA mod;
  IdText hex;
  for (uint32_t i = 0; i < stack_.conflict_count(); ++i) {
    const StackConflict& conflict = stack_.conflict(i);
    const PackFileEntry& winner = *stack_.place(conflict.winner).file;
    const PackFileEntry& loser = *stack_.place(conflict.loser).file;
    page_.Row();
    page_.Cell(file_name_text(result_.names, loser, &hex));
    page_.Cell(file_ext_text(result_.names, loser, &hex));
    mod_name(result_, conflict.winner, mod);
    page_.Cell(mod);
    page_.Cell(file_pkg_text(result_.names, winner, &hex));
    mod_name(result_, conflict.loser, mod);
    page_.Cell(mod);
    page_.Cell(file_pkg_text(result_.names, loser, &hex));
    page_.Cell(conflict_outcome(conflict));
  }
}

void StackPage::WriteFiles() {
  bool any = false;
  CStringBufferA mod;
  IdText hex;
  for (const PackFileEntry* file = stack_.files().head(); file != nullptr; file = file->next) {
    const char* what = game_outcome(result_, *file);
    if (what == nullptr) continue;
    if (!any) {
      page_.Section("Files that lose some entries or replace nothing");
      const char* const headings[] = {"mod", "name", "ext", "pkg", "in the game"};
      page_.Table("files", headings, 5);
      any = true;
    }
    page_.Row();
    mod_name(result_, file->index, mod);
    page_.Cell(mod);
    page_.Cell(file_name_text(result_.names, *file, &hex));
    page_.Cell(file_ext_text(result_.names, *file, &hex));
    page_.Cell(file_pkg_text(result_.names, *file, &hex));
    page_.Cell(what);
  }
}

bool StackPage::Write(Status* status) {
  CStringBufferA config;
  CStringBufferA title;
  sys_native_path(result_.configPath.Data(), config);
  if (title.Format("Stack of %u mod%s: \"%s\"", result_.count, result_.count == 1 ? "" : "s",
                   config.Data()) <= 0) {
    return status->FailOutOfMemory();
  }
  if (!page_.Create(request_.path, title, status)) return false;
  limits_ = page_thumbnail_limits(page_);
  WriteSummary();
  const bool written = WriteEntries() && !failed_;
  WriteConflicts();
  WriteFiles();
  // A page that failed says why as it is discarded; one that ran out of memory is discarded as it
  // goes.
  if (!page_.ok() || written) return page_.Commit(status);
  return status->FailOutOfMemory();
}

}  // namespace

bool write_stack_page(const StackPageRequest& request, const StackResult& result, Status* status) {
  StackPage page(request, result);
  return page.Write(status);
}
