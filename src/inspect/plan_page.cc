#include "inspect/plan_page.h"

#include "base/array.h"
#include "base/file.h"
#include "base/platform.h"
#include "base/string_buffer.h"
#include "driver/name_hash.h"
#include "inspect/game_names.h"
#include "inspect/messages.h"
#include "inspect/meta_report.h"
#include "inspect/plan_report.h"
#include "inspect/texture_preview.h"
#include "package/package_update.h"
#include "report/html_page.h"

namespace {

// A file's size not yet asked for, or that could not be had.
constexpr uint64_t kSizeUnknown = UINT64_MAX;
constexpr uint64_t kSizeUnread = UINT64_MAX - 1;

// A game entry that a configured file replaces, as the page shows it.
struct PlanRow {
  uint32_t record;
  uint32_t entry;  // its place in the package's entry table
  const PackFileEntry* file;
  uint64_t nameId;
  uint64_t extId;
  uint32_t rawSize;
  uint32_t metaStart;  // its metadata in PlanPage::metas_
  uint32_t metaLength;
  uint32_t warning;  // the plan's warning about it, or kNoLine
  bool texture;
  bool full;  // its package keeps every entry in one compressed block
};

// A step of the page's work: a row, or every row of a full package, whose entries are read from
// one block; sources counts their versions, two for each texture.
struct PlanStep {
  uint32_t firstRow;
  uint32_t rows;
  uint32_t sources;
};

class PlanPage : public PreviewSteps {
 public:
  PlanPage(const PlanPageRequest& request, Plan& plan) : request_(request), plan_(plan) {}

  bool Write(Status* status);

  uint32_t SourceCount(uint32_t step) override { return steps_[step].sources; }
  void Sources(uint32_t step, PreviewSource* sources) override;
  bool Take(uint32_t step, const TexturePreview* previews) override;

 private:
  bool FindRows();
  bool FindSteps();
  // Writes a row, beneath it for a texture the comparison of previews[0] and [1]. False when out
  // of memory or the page failed.
  bool WriteRow(const PlanRow& row, const TexturePreview* previews);
  bool MarkPlaced();
  uint64_t FileBytes(const PackFileEntry& file);
  // The line that tells a file's problem, or failing that the problem itself.
  bool ProblemText(const FileCheck& check, bool used, CStringBufferA& text) const;
  void WriteSummary();
  void WriteProblems();
  void WriteRewrites();
  bool WriteEntries();
  bool WriteFiles();

  const PlanPageRequest& request_;
  Plan& plan_;
  HtmlPage page_;
  TArray<PlanRow> rows_;
  TArray<PlanStep> steps_;
  uint32_t mostSources_ = 0;
  ByteBuffer metas_;
  WarningList unread_;                 // packages that could not be read again
  TCountedArray<uint64_t> fileBytes_;  // by file, from its place in "files"
  // Whether each warning and error line is shown beside what it concerns.
  TCountedArray<uint8_t> placedWarnings_;
  TCountedArray<uint8_t> placedErrors_;
  ThumbnailLimits limits_;
  bool failed_ = false;  // out of memory while taking a row
};

bool PlanPage::FindRows() {
  static const uint64_t ddsId = name_hash("dds");
  const MatchList& matches = plan_.matches;
  GameReader& game = plan_.game;
  Status unread;
  CStringBufferA reason;
  uint32_t t = 0;  // the first of the matches' textures not yet passed
  for (uint32_t i = 0; i < matches.count(); ++i) {
    const uint32_t k = matches.record(i);
    if (i != 0 && matches.record(i - 1) == k) continue;
    unread.Clear();
    if (!game.ReadPackage(k, &unread)) {
      if (!unread.Describe(reason) ||
          !unread_.Add("%s; its entries are not shown", reason.Data())) {
        return false;
      }
      continue;
    }
    PackageReader& package = game.package();
    match_entries(plan_.context.entries, game.record(k).packageId, package);
    for (uint32_t e = 0; e < package.entry_count(); ++e) {
      const PackageEntry& entry = package.entry(e);
      if (entry.match == nullptr) continue;
      while (t < matches.texture_count() &&
             (matches.texture(t).record < k ||
              (matches.texture(t).record == k && matches.texture(t).entry < e))) {
        ++t;
      }
      const bool replaced = t < matches.texture_count() && matches.texture(t).record == k &&
                            matches.texture(t).entry == e;
      PlanRow row;
      row.record = k;
      row.entry = e;
      row.file = entry.match;
      row.nameId = entry.nameId;
      row.extId = entry.extId;
      row.rawSize = entry.rawSize;
      row.metaStart = metas_.length();
      row.metaLength = entry.metaSize;
      row.warning = replaced ? matches.texture(t).warning : kNoLine;
      row.texture = entry.extId == ddsId;
      row.full = !package.split();
      if (!reserve_for_append(metas_, entry.metaSize) ||
          !ByteWriter(metas_).write_bytes(entry.meta, entry.metaSize) || !rows_.Append(row)) {
        return false;
      }
    }
  }
  const uint32_t files = plan_.context.entries.count();
  if (files != 0 && !fileBytes_.allocate(files)) return false;
  for (uint32_t i = 0; i < files; ++i) fileBytes_[i] = kSizeUnknown;
  return true;
}

bool PlanPage::FindSteps() {
  for (uint32_t r = 0; r < rows_.count(); ++r) {
    const PlanRow& row = rows_[r];
    const uint32_t sources = row.texture ? 2 : 0;
    const uint32_t last = steps_.count();
    if (row.full && last != 0 && rows_[r - 1].full && rows_[r - 1].record == row.record) {
      PlanStep& step = steps_[last - 1];
      ++step.rows;
      step.sources += sources;
    } else if (!steps_.Append({r, 1, sources})) {
      return false;
    }
    const uint32_t now = steps_[steps_.count() - 1].sources;
    if (now > mostSources_) mostSources_ = now;
  }
  return true;
}

bool PlanPage::MarkPlaced() {
  const uint32_t warnings = plan_.context.warnings.count();
  const uint32_t errors = plan_.errors.count();
  if ((warnings != 0 && !placedWarnings_.allocate(warnings)) ||
      (errors != 0 && !placedErrors_.allocate(errors))) {
    return false;
  }
  for (const PlanRow& row : rows_) {
    if (row.warning < warnings) placedWarnings_[row.warning] = 1;
  }
  for (uint32_t i = 0; i < plan_.checks.count(); ++i) {
    const FileCheck& check = plan_.checks[i];
    if (check.result != kMetaFailed) continue;
    const bool used = plan_.matches.used().Used(*check.file);
    if (used && check.line < errors) placedErrors_[check.line] = 1;
    if (!used && check.line < warnings) placedWarnings_[check.line] = 1;
  }
  return true;
}

uint64_t PlanPage::FileBytes(const PackFileEntry& file) {
  uint64_t& bytes = fileBytes_[file.index - 1];
  if (bytes == kSizeUnknown) {
    ScopedFile opened(open_file(file.sourcePath.Text(), "r"));
    bytes = opened.is_open() ? file_size(opened.get()) : kBadPosition;
    if (bytes == kBadPosition) bytes = kSizeUnread;
  }
  return bytes;
}

bool PlanPage::ProblemText(const FileCheck& check, bool used, CStringBufferA& text) const {
  const WarningList& lines = used ? plan_.errors : plan_.context.warnings;
  if (check.line < lines.count()) return text.Assign(lines.line(check.line)) != nullptr;
  return check.problem.Describe(text);
}

void PlanPage::WriteSummary() {
  const WarningList& warnings = plan_.context.warnings;
  const WarningList& errors = plan_.errors;
  page_.FigureText("outcome", "a run would", plan_.succeeds ? "succeed" : "fail",
                   plan_.succeeds ? HtmlTone::kGood : HtmlTone::kError);
  if (plan_.passed) {
    page_.Figure("packages", "packages rewritten", plan_.rewrites.count());
  } else {
    page_.FigureText("packages", "packages rewritten", "unknown");
  }
  page_.Figure("entries", "entries replaced", rows_.count());
  if (plan_.passed) {
    page_.Figure("bytes", "bytes written", plan_.userArchiveBytes);
  } else {
    page_.FigureText("bytes", "bytes written", "unknown");
  }
  page_.Figure("warnings", "warnings", warnings.count(),
               warnings.count() != 0 ? HtmlTone::kWarning : HtmlTone::kPlain);
  page_.Figure("errors", "errors", errors.count(),
               errors.count() != 0 ? HtmlTone::kError : HtmlTone::kPlain);
}

void PlanPage::WriteProblems() {
  const WarningList& warnings = plan_.context.warnings;
  const WarningList& errors = plan_.errors;
  bool any = false;
  for (uint32_t i = 0; i < warnings.count() && !any; ++i) any = placedWarnings_[i] == 0;
  for (uint32_t i = 0; i < errors.count() && !any; ++i) any = placedErrors_[i] == 0;
  if (!any) return;
  page_.Section("Warnings and errors");
  page_.Paragraph("Those that concern a replaced entry or a configured file are shown beside it.");
  for (uint32_t i = 0; i < errors.count(); ++i) {
    if (placedErrors_[i] == 0) page_.Error(errors.line(i));
  }
  for (uint32_t i = 0; i < warnings.count(); ++i) {
    if (placedWarnings_[i] == 0) page_.Warning(warnings.line(i));
  }
}

void PlanPage::WriteRewrites() {
  page_.Section("Packages a run would rewrite");
  if (!plan_.passed) {
    page_.Paragraph("Not known: the dry run stopped at its first error.");
    return;
  }
  if (plan_.rewrites.count() == 0) {
    page_.Paragraph("None.");
    return;
  }
  CStringBufferA text;
  if (text.Format("Into \"%s.upak\".", plan_.context.userPackage.Text()) > 0) {
    page_.Paragraph(text);
  }
  const char* const headings[] = {"package", "id", "archive", "offset", "new offset", "bytes"};
  page_.Table("rewrites", headings, 6, 1u << 2 | 1u << 3 | 1u << 4 | 1u << 5);
  for (uint32_t i = 0; i < plan_.rewrites.count(); ++i) {
    const Rewrite& rewrite = plan_.rewrites[i];
    const PackageRecord& record = plan_.game.record(rewrite.record);
    page_.Row();
    page_.Cell(HtmlText(record.name, record.nameLength));
    page_.Cell(id_text(record.packageId).text);
    page_.Number(record.archiveIndex);
    page_.Number(record.offset);
    page_.Number(rewrite.newOffset);
    page_.Number(rewrite.bytes);
  }
}

void PlanPage::Sources(uint32_t step, PreviewSource* sources) {
  const PlanStep& planned = steps_[step];
  for (uint32_t r = planned.firstRow; r < planned.firstRow + planned.rows; ++r) {
    const PlanRow& row = rows_[r];
    if (!row.texture) continue;
    sources->record = row.record;
    sources->entry = row.entry;
    sources->texture = true;
    ++sources;
    sources->record = PreviewSource::kFile;
    sources->path = row.file->sourcePath.Text();
    sources->texture = true;
    ++sources;
  }
}

bool PlanPage::Take(uint32_t step, const TexturePreview* previews) {
  const PlanStep& planned = steps_[step];
  for (uint32_t r = planned.firstRow; r < planned.firstRow + planned.rows; ++r) {
    if (!WriteRow(rows_[r], previews)) return false;
    if (rows_[r].texture) previews += 2;
  }
  return true;
}

bool PlanPage::WriteRow(const PlanRow& row, const TexturePreview* previews) {
  const PackFileEntry& file = *row.file;
  const FileCheck& check = plan_.checks[file.index - 1];
  const PackageRecord& record = plan_.game.record(row.record);
  CStringBufferA name;
  CStringBufferA package;
  CStringBufferA path;
  CStringBufferA text;
  if (!entry_name(plan_.names, row.nameId, row.extId, name) ||
      !append_escaped(record.name, record.nameLength, package)) {
    failed_ = true;
    return false;
  }
  page_.Row();
  // Given before the first cell, they mark the row too.
  if (row.warning < plan_.context.warnings.count()) {
    page_.Warning(plan_.context.warnings.line(row.warning));
  }
  if (check.result == kMetaFailed) {
    if (!ProblemText(check, true, text)) text.Assign("the file cannot be used");
    page_.Error(text);
  }
  page_.Cell(package);
  page_.Cell(name);
  sys_native_path(file.sourcePath.Text(), path);
  page_.Cell(path);
  page_.Number(row.rawSize);
  const uint64_t bytes = FileBytes(file);
  if (bytes == kSizeUnread) {
    page_.Cell("unreadable");
  } else {
    page_.Number(bytes);
  }
  const uint8_t* meta = metas_.data() + row.metaStart;
  if (!describe_meta(decode_meta(row.extId, meta, row.metaLength), text) ||
      (text.Length() == 0 && row.metaLength != 0 && text.Format("%u bytes", row.metaLength) <= 0)) {
    failed_ = true;
    return false;
  }
  page_.Cell(text.Length() != 0 ? text.Data() : "none");
  if (!describe_file_meta(file, check, true, text)) {
    failed_ = true;
    return false;
  }
  page_.Cell(text);
  if (!row.texture) return page_.ok();

  page_.Comparison(name);
  CStringBufferA alt;
  page_.Panel("game");
  if (alt.Format("%s in %s: the game's texture", name.Data(), package.Data()) <= 0) {
    alt.Assign("");
  }
  show_preview(page_, previews[0], true, alt);
  page_.Panel("mod");
  if (alt.Format("%s in %s: the mod's texture, %s", name.Data(), package.Data(), path.Data()) <=
      0) {
    alt.Assign("");
  }
  show_preview(page_, previews[1], true, alt);
  return page_.ok();
}

bool PlanPage::WriteEntries() {
  page_.Section("Replaced entries");
  for (uint32_t i = 0; i < unread_.count(); ++i) page_.Warning(unread_.line(i));
  if (rows_.count() == 0) {
    page_.Paragraph("None.");
    return true;
  }
  const char* const headings[] = {"package",       "entry",       "replacing file",
                                  "bytes before",  "bytes after", "metadata before",
                                  "metadata after"};
  page_.Table("entries", headings, 7, 1u << 3 | 1u << 4);
  return run_previews(*this, steps_.count(), mostSources_, request_.gameDir, plan_.game, limits_,
                      request_.threads);
}

bool PlanPage::WriteFiles() {
  page_.Section("Configured files");
  const char* const headings[] = {"file", "name", "ext", "pkg", "replaces in", "metadata"};
  page_.Table("files", headings, 6, 1u << 0);
  CStringBufferA packages;
  CStringBufferA meta;
  CStringBufferA text;
  for (uint32_t i = 0; i < plan_.checks.count(); ++i) {
    const FileCheck& check = plan_.checks[i];
    const PackFileEntry& file = *check.file;
    const bool used = plan_.matches.used().Used(file);
    page_.Row();
    if (check.result == kMetaFailed) {
      if (!ProblemText(check, used, text)) return false;
      if (used) {
        page_.Error(text);
      } else {
        page_.Warning(text);
      }
    }
    IdText hex;
    page_.Number(file.index);
    page_.Cell(file_name_text(plan_.names, file, &hex));
    page_.Cell(file_ext_text(plan_.names, file, &hex));
    page_.Cell(file_pkg_text(plan_.names, file, &hex));
    packages.Assign("");
    if (!name_packages(file, plan_, packages) || !describe_file_meta(file, check, used, meta)) {
      return false;
    }
    page_.Cell(packages);
    page_.Cell(meta);
  }
  return true;
}

bool PlanPage::Write(Status* status) {
  if (!FindRows() || !FindSteps() || !MarkPlaced()) return status->FailOutOfMemory();
  CStringBufferA mod;
  CStringBufferA game;
  CStringBufferA title;
  sys_native_path(request_.modDir, mod);
  sys_native_path(request_.gameDir, game);
  if (title.Format("Plan of \"%s\" on \"%s\"", mod.Data(), game.Data()) <= 0) {
    return status->FailOutOfMemory();
  }
  if (!page_.Create(request_.path, title, status)) return false;
  limits_ = page_thumbnail_limits(page_);
  WriteSummary();
  WriteProblems();
  WriteRewrites();
  const bool written = WriteEntries() && !failed_ && WriteFiles();
  // A page that failed says why as it is discarded; one that ran out of memory is discarded as it
  // goes.
  if (!page_.ok() || written) return page_.Commit(status);
  return status->FailOutOfMemory();
}

}  // namespace

bool write_plan_page(const PlanPageRequest& request, Plan* plan, Status* status) {
  PlanPage page(request, *plan);
  return page.Write(status);
}
