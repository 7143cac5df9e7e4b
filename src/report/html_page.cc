#include "report/html_page.h"

#include <cstdio>
#include <cstring>

#include "base/file.h"
#include "report/html_escape.h"

namespace {

// The output goes to the file once it holds this much; a piece written at once (escaped text,
// base64) is at most kPieceOut bytes.
constexpr uint32_t kFlushSize = 64 * 1024;
constexpr uint32_t kTextPiece = 4096;        // escapes to at most 6 bytes a byte
constexpr uint32_t kBase64Piece = 3 * 1024;  // becomes 4096 bytes
constexpr char kPngPrefix[] = "data:image/png;base64,";
constexpr uint32_t kPngPrefixLength = sizeof(kPngPrefix) - 1;

// The page may show its own text, style and embedded images and do nothing else: no script, no
// fetch, no form, even if a text ever escaped its escaping.
const char kHead[] =
    "<!DOCTYPE html>\n"
    "<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; img-src data:; "
    "style-src 'unsafe-inline'; base-uri 'none'; form-action 'none'\">\n"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
    "<meta name=\"color-scheme\" content=\"light dark\">\n";

// Colours come in pairs, the second for a dark scheme; a narrow screen gets less padding, and a
// table wider than the screen scrolls in its own box rather than widening the page.
const char kStyle[] =
    "<style>\n"
    ":root{--fg:#1d1f21;--bg:#fff;--dim:#5c6370;--line:#d3d7dc;--head:#f1f3f5;"
    "--warn:#8a5300;--warn-bg:#fff3d1;--err:#b3261e;--err-bg:#fde8e6;--good:#1b7f3a;"
    "--good-bg:#e3f4e8;--diff:#5a4200;--diff-bg:#ffe98a}\n"
    "@media (prefers-color-scheme:dark){:root{--fg:#e4e6e8;--bg:#16181b;--dim:#9aa1aa;"
    "--line:#3b4047;--head:#23272c;--warn:#ffcc66;--warn-bg:#3a2c0b;--err:#ff8a80;"
    "--err-bg:#45191a;--good:#7ee2a0;--good-bg:#15331f;--diff:#ffe98a;--diff-bg:#574500}}\n"
    "*{box-sizing:border-box}\n"
    "body{margin:0 auto;max-width:80rem;padding:1rem;font:15px/1.45 system-ui,sans-serif;"
    "color:var(--fg);background:var(--bg);overflow-wrap:break-word}\n"
    "h1{font-size:1.45rem;margin:0 0 1rem}\n"
    "h2{font-size:1.15rem;margin:1.6rem 0 .6rem;padding-bottom:.2rem;"
    "border-bottom:1px solid var(--line)}\n"
    ".summary{display:grid;grid-template-columns:repeat(auto-fill,minmax(9.5rem,1fr));gap:.5rem;"
    "margin:0 0 1rem}\n"
    ".summary div{border:1px solid var(--line);border-radius:6px;padding:.4rem .6rem}\n"
    ".summary dt{color:var(--dim);font-size:.85rem}\n"
    ".summary dd{margin:0;font-size:1.3rem;font-variant-numeric:tabular-nums}\n"
    ".scroll{overflow-x:auto;margin:.5rem 0}\n"
    "table{border-collapse:collapse}\n"
    "th,td{border:1px solid var(--line);padding:.25rem .5rem;text-align:left;vertical-align:top}\n"
    "thead th,.compare th{background:var(--head)}\n"
    ".num{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}\n"
    "tr.warned>td:first-child{box-shadow:inset 5px 0 var(--warn)}\n"
    "tr.failed>td:first-child{box-shadow:inset 5px 0 var(--err)}\n"
    ".problem{padding:.25rem .5rem}\n"
    "div.problem{margin:.35rem 0;border-radius:4px}\n"
    ".warning{background:var(--warn-bg);border-left:5px solid var(--warn)}\n"
    ".error{background:var(--err-bg);border-left:5px solid var(--err)}\n"
    ".warning .mark{color:var(--warn);font-weight:bold}\n"
    ".error .mark{color:var(--err);font-weight:bold}\n"
    ".tone-good{background:var(--good-bg);border-color:var(--good)}\n"
    ".tone-warning{background:var(--warn-bg);border-color:var(--warn)}\n"
    ".tone-error{background:var(--err-bg);border-color:var(--err)}\n"
    ".compare td{text-align:center;min-width:7rem}\n"
    ".compare .picture.tone-good{outline:3px solid var(--good);outline-offset:-3px}\n"
    ".compare caption{text-align:left;font-weight:bold;padding:.25rem 0}\n"
    ".compare caption .problem{font-weight:normal}\n"
    ".badge{display:inline-block;margin-left:.3rem;padding:0 .4rem;border-radius:1rem;"
    "border:1px solid var(--dim);font-size:.8rem}\n"
    ".tone-good .badge{border-color:var(--good);color:var(--good)}\n"
    "td.diff{background:var(--diff-bg);color:var(--diff);font-weight:bold}\n"
    "tr.differs th{color:var(--diff)}\n"
    "img{max-width:100%;height:auto;vertical-align:middle}\n"
    "img.px{image-rendering:pixelated}\n"
    ".placeholder{display:inline-flex;align-items:center;justify-content:center;width:8rem;"
    "min-height:8rem;max-width:100%;padding:.5rem;border:2px dashed var(--dim);color:var(--dim);"
    "font-size:.85rem;text-align:center;vertical-align:middle}\n"
    "@media (max-width:40rem){body{padding:.5rem;font-size:14px}th,td{padding:.2rem .3rem}\n"
    "table[data-table],table[data-table]>tbody,table[data-table]>tbody>tr,"
    "table[data-table]>tbody>tr>td{display:block}\n"
    "table[data-table]>thead{display:none}\n"
    "table[data-table]>tbody>tr>td{border:0;text-align:left}\n"
    "table[data-table]>tbody>tr[data-row]{border-top:1px solid var(--line);padding:.3rem 0}\n"
    "td[data-label]::before{content:attr(data-label) \": \";color:var(--dim)}\n"
    "tr.warned{border-left:5px solid var(--warn)}tr.failed{border-left:5px solid var(--err)}\n"
    "tr.warned>td:first-child,tr.failed>td:first-child{box-shadow:none}\n"
    ".compare td{min-width:5rem}.placeholder{width:6rem;min-height:6rem}}\n"
    "</style>\n</head>\n<body>\n";

const char kEnd[] = "</body>\n</html>\n";

const char* tone_name(HtmlTone tone) {
  switch (tone) {
    case HtmlTone::kGood:
      return "good";
    case HtmlTone::kWarning:
      return "warning";
    case HtmlTone::kError:
      return "error";
    case HtmlTone::kPlain:
      break;
  }
  return "plain";
}

bool same_bytes(HtmlText a, HtmlText b) {
  return a.length == b.length && (a.length == 0 || std::memcmp(a.bytes, b.bytes, a.length) == 0);
}

uint32_t read_u32_be(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// The width and height in a PNG's header: the signature, then the IHDR chunk (its length, its
// type, then width and height as big-endian values of 1 to 2^31 - 1). False when the bytes do
// not begin so.
bool png_size(const uint8_t* png, uint32_t length, uint32_t* width, uint32_t* height) {
  static const uint8_t kStart[16] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n',
                                     0,    0,   0,   13,  'I',  'H',  'D',  'R'};
  if (png == nullptr || length < sizeof(kStart) + 8 || std::memcmp(png, kStart, 16) != 0) {
    return false;
  }
  *width = read_u32_be(png + 16);
  *height = read_u32_be(png + 20);
  return *width != 0 && *height != 0 && *width <= INT32_MAX && *height <= INT32_MAX;
}

void base64_piece(const uint8_t* bytes, uint32_t length, uint8_t* out) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  uint32_t i = 0;
  for (; length - i >= 3; i += 3) {
    const uint32_t v = static_cast<uint32_t>(bytes[i]) << 16 | bytes[i + 1] << 8 | bytes[i + 2];
    *out++ = kDigits[v >> 18];
    *out++ = kDigits[(v >> 12) & 63];
    *out++ = kDigits[(v >> 6) & 63];
    *out++ = kDigits[v & 63];
  }
  if (i == length) return;
  const bool two = length - i == 2;
  const uint32_t v = static_cast<uint32_t>(bytes[i]) << 16 | (two ? bytes[i + 1] << 8 : 0);
  *out++ = kDigits[v >> 18];
  *out++ = kDigits[(v >> 12) & 63];
  *out++ = two ? kDigits[(v >> 6) & 63] : '=';
  *out = '=';
}

uint32_t clamp_length(size_t length) {
  return length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length);
}

}  // namespace

HtmlText::HtmlText(const char* text)
    : bytes(reinterpret_cast<const uint8_t*>(text)),
      length(text == nullptr ? 0 : clamp_length(std::strlen(text))) {}

HtmlText::HtmlText(const CStringBufferA& text)
    : bytes(reinterpret_cast<const uint8_t*>(text.Data())),
      length(text.Length() < 0 ? 0 : static_cast<uint32_t>(text.Length())) {}

HtmlPage::HtmlPage() = default;
HtmlPage::~HtmlPage() = default;

uint64_t HtmlPage::embedded_size(uint32_t length) {
  return kPngPrefixLength + 4 * ((static_cast<uint64_t>(length) + 2) / 3);
}

uint32_t HtmlPage::largest_png_within(uint32_t budget) {
  if (budget < kPngPrefixLength) return 0;
  const uint64_t largest = static_cast<uint64_t>(budget - kPngPrefixLength) / 4 * 3;
  return largest > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(largest);
}

void HtmlPage::FailWrite() {
  if (!ok_) return;
  status_.FailIo("cannot write", file_.temp_path());
  ok_ = false;
}

void HtmlPage::FailMemory() {
  if (!ok_) return;
  status_.FailOutOfMemory();
  ok_ = false;
}

void HtmlPage::WriteToFile() {
  if (!ok_ || out_.length() == 0) return;
  const uint32_t length = out_.length();
  if (file_write(file_.file(), out_.data(), length) != length) {
    FailWrite();
    return;
  }
  flushed_ += length;
  out_.resize(0);
}

void HtmlPage::Write(const void* bytes, uint32_t length) {
  if (!ok_) return;
  if (!reserve_for_append(out_, length) || !ByteWriter(out_).write_bytes(bytes, length)) {
    FailMemory();
    return;
  }
  if (out_.length() >= kFlushSize) WriteToFile();
}

void HtmlPage::Write(const char* markup) {
  Write(markup, static_cast<uint32_t>(std::strlen(markup)));
}

void HtmlPage::WriteText(HtmlText text) {
  uint32_t done = 0;
  while (ok_ && done < text.length) {
    const uint32_t remaining = text.length - done;
    const uint32_t piece = html_escape_piece(text.bytes + done, remaining,
                                             remaining < kTextPiece ? remaining : kTextPiece);
    if (!append_html_escaped(text.bytes + done, piece, out_)) {
      FailMemory();
      return;
    }
    done += piece;
    if (out_.length() >= kFlushSize) WriteToFile();
  }
}

void HtmlPage::WriteNumber(uint64_t value) {
  char digits[24];
  const int length =
      std::snprintf(digits, sizeof(digits), "%llu", static_cast<unsigned long long>(value));
  Write(digits, length > 0 ? static_cast<uint32_t>(length) : 0);
}

void HtmlPage::WriteAttribute(const char* name, HtmlText value) {
  Write(" ");
  Write(name);
  Write("=\"");
  WriteText(value);
  Write("\"");
}

bool HtmlPage::Create(const char* path, HtmlText title, Status* status) {
  PathBuffer tempPath;
  if (tempPath.Format("%s.tmp", path) <= 0) return status->FailOutOfMemory();
  if (!file_.Create(tempPath.Data(), path, status)) return false;
  ok_ = true;
  Write(kHead);
  Write("<title>");
  WriteText(title);
  Write("</title>\n");
  Write(kStyle);
  Write("<h1>");
  WriteText(title);
  Write("</h1>\n");
  if (ok_) return true;
  status->Assign(status_);
  file_.Discard();
  return false;
}

bool HtmlPage::Commit(Status* status) {
  if (ok_) {
    EndSummary();
    EndSection();
    Write(kEnd);
    WriteToFile();
  }
  const bool created = file_.armed();
  if (ok_ && file_.Commit(status)) {
    ok_ = false;
    return true;
  }
  if (!status_.ok()) {
    status->Assign(status_);
  } else if (!created) {
    status->Fail(StatusCode::kUnsupported, "the page was never created");
  }
  ok_ = false;
  file_.Discard();
  return false;
}

void HtmlPage::EndSummary() {
  if (!summaryOpen_) return;
  Write("</dl>\n");
  summaryOpen_ = false;
}

void HtmlPage::EndSection() {
  EndTable();
  if (!sectionOpen_) return;
  Write("</section>\n");
  sectionOpen_ = false;
}

void HtmlPage::Figure(const char* key, HtmlText label, uint64_t value, HtmlTone tone) {
  char digits[24];
  std::snprintf(digits, sizeof(digits), "%llu", static_cast<unsigned long long>(value));
  FigureText(key, label, digits, tone);
}

void HtmlPage::FigureText(const char* key, HtmlText label, HtmlText value, HtmlTone tone) {
  if (!summaryOpen_) {
    EndTable();
    Write("<dl class=\"summary\">\n");
    summaryOpen_ = true;
  }
  Write("<div");
  if (tone != HtmlTone::kPlain) {
    Write(" class=\"tone-");
    Write(tone_name(tone));
    Write("\"");
  }
  WriteAttribute("data-figure", key);
  WriteAttribute("data-value", value);
  Write("><dt>");
  WriteText(label);
  Write("</dt><dd>");
  WriteText(value);
  Write("</dd></div>\n");
}

void HtmlPage::Section(HtmlText heading) {
  EndSummary();
  EndSection();
  Write("<section>\n<h2>");
  WriteText(heading);
  Write("</h2>\n");
  sectionOpen_ = true;
}

void HtmlPage::Paragraph(HtmlText text) {
  EndSummary();
  EndTable();
  Write("<p>");
  WriteText(text);
  Write("</p>\n");
}

void HtmlPage::Table(const char* key, const char* const* headings, uint32_t columns,
                     uint32_t numeric) {
  EndSummary();
  EndTable();
  columns_ = columns == 0 ? 1 : columns;
  numeric_ = numeric;
  headingEnds_.Clear();
  headingText_.resize(0);
  Write("<div class=\"scroll\"><table");
  WriteAttribute("data-table", key);
  Write(">");
  if (headings != nullptr && columns != 0) {
    Write("\n<thead><tr>");
    for (uint32_t i = 0; i < columns && ok_; ++i) {
      Write(i < 32 && ((numeric >> i) & 1) != 0 ? "<th class=\"num\">" : "<th>");
      WriteText(headings[i]);
      Write("</th>");
      // Kept escaped for the cells' labels.
      const HtmlText heading(headings[i]);
      if (!append_html_escaped(heading.bytes, heading.length, headingText_) ||
          !headingEnds_.Append(headingText_.length())) {
        FailMemory();
      }
    }
    Write("</tr></thead>");
  }
  Write("\n<tbody>\n");
  tableOpen_ = true;
}

void HtmlPage::EndTable() {
  EndComparison();
  EndRow();
  if (!tableOpen_) return;
  Write("</tbody></table></div>\n");
  tableOpen_ = false;
}

void HtmlPage::Row() {
  EndComparison();
  if (!tableOpen_) Table("", nullptr, 1);
  EndRow();
  held_.Clear();
  heldText_.resize(0);
  row_ = RowState::kPending;
  cellIndex_ = 0;
}

void HtmlPage::StartRow() {
  bool warned = false;
  bool failed = false;
  for (const Held& held : held_) {
    warned |= held.tone == static_cast<uint8_t>(HtmlTone::kWarning);
    failed |= held.tone == static_cast<uint8_t>(HtmlTone::kError);
  }
  Write(failed   ? "<tr data-row class=\"failed\">"
        : warned ? "<tr data-row class=\"warned\">"
                 : "<tr data-row>");
  row_ = RowState::kOpen;
}

void HtmlPage::EndRow() {
  if (row_ == RowState::kNone) return;
  if (row_ == RowState::kPending) StartRow();
  Write("</tr>\n");
  for (const Held& held : held_) WriteHeldProblem(held, true);
  held_.Clear();
  heldText_.resize(0);
  row_ = RowState::kNone;
}

void HtmlPage::StartCell() {
  if (comparisonOpen_ && comparisonInTable_) EndComparison();
  if (row_ == RowState::kNone) Row();
  if (row_ == RowState::kPending) StartRow();
  const bool numeric = cellIndex_ < 32 && ((numeric_ >> cellIndex_) & 1) != 0;
  Write(numeric ? "<td class=\"num\"" : "<td");
  // On a narrow screen each row is shown as a block, each cell on a line of its own after its
  // column's heading.
  if (cellIndex_ < headingEnds_.count()) {
    const uint32_t start = cellIndex_ == 0 ? 0 : headingEnds_[cellIndex_ - 1];
    Write(" data-label=\"");
    Write(headingText_.data() + start, headingEnds_[cellIndex_] - start);
    Write("\"");
  }
  Write(">");
  ++cellIndex_;
}

void HtmlPage::Cell(HtmlText text) {
  StartCell();
  WriteText(text);
  Write("</td>");
}

void HtmlPage::Number(uint64_t value) {
  StartCell();
  WriteNumber(value);
  Write("</td>");
}

void HtmlPage::Hold(HeldKind kind, HtmlTone tone, HtmlText first, HtmlText second) {
  if (!ok_) return;
  Held held{};
  held.kind = kind;
  held.tone = static_cast<uint8_t>(tone);
  held.panel = panels_ == 0 || kind == HeldKind::kTitle ? kNoPanel : panels_ - 1;
  held.first = heldText_.length();
  held.firstLength = first.length;
  held.second = heldText_.length() + first.length;
  held.secondLength = second.length;
  ByteWriter writer(heldText_);
  if (static_cast<uint64_t>(first.length) + second.length > UINT32_MAX ||
      !reserve_for_append(heldText_, first.length + second.length) ||
      !writer.write_bytes(first.bytes, first.length) ||
      !writer.write_bytes(second.bytes, second.length) || !held_.Append(held)) {
    FailMemory();
  }
}

HtmlText HtmlPage::HeldFirst(const Held& held) const {
  return HtmlText(heldText_.data() + held.first, held.firstLength);
}

HtmlText HtmlPage::HeldSecond(const Held& held) const {
  return HtmlText(heldText_.data() + held.second, held.secondLength);
}

void HtmlPage::WriteProblem(HtmlTone severity, HtmlText text, bool asRow) {
  const char* kind = severity == HtmlTone::kError ? "error" : "warning";
  if (asRow) {
    Write("<tr class=\"problem ");
    Write(kind);
    Write("\" data-problem=\"");
    Write(kind);
    Write("\"><td colspan=\"");
    WriteNumber(columns_);
    Write("\">");
  } else {
    Write("<div class=\"problem ");
    Write(kind);
    Write("\" data-problem=\"");
    Write(kind);
    Write("\">");
  }
  // U+2716 HEAVY MULTIPLICATION X, U+26A0 WARNING SIGN.
  Write(severity == HtmlTone::kError
            ? "<span class=\"mark\">\xE2\x9C\x96 error:</span> <span class=\"text\">"
            : "<span class=\"mark\">\xE2\x9A\xA0 warning:</span> <span class=\"text\">");
  WriteText(text);
  Write(asRow ? "</span></td></tr>\n" : "</span></div>\n");
}

void HtmlPage::WriteHeldProblem(const Held& held, bool asRow) {
  if (held.kind == HeldKind::kProblem) {
    WriteProblem(static_cast<HtmlTone>(held.tone), HeldFirst(held), asRow);
  }
}

void HtmlPage::Problem(HtmlTone severity, HtmlText text) {
  if (comparisonOpen_ || row_ != RowState::kNone) {
    Hold(HeldKind::kProblem, severity, text, HtmlText(nullptr));
    return;
  }
  // Anything else is shown where it stands; a problem of a table takes a row of the table's width.
  EndSummary();
  WriteProblem(severity, text, tableOpen_);
}

void HtmlPage::Warning(HtmlText text) { Problem(HtmlTone::kWarning, text); }
void HtmlPage::Error(HtmlText text) { Problem(HtmlTone::kError, text); }

void HtmlPage::Comparison(HtmlText title) {
  EndComparison();
  EndSummary();
  comparisonInTable_ = tableOpen_;
  EndRow();
  held_.Clear();
  heldText_.resize(0);
  comparisonOpen_ = true;
  comparisonStarted_ = false;
  panels_ = 0;
  Hold(HeldKind::kTitle, HtmlTone::kPlain, title, HtmlText(nullptr));
}

void HtmlPage::StartComparison() {
  if (comparisonInTable_) {
    Write("<tr class=\"detail\" data-detail><td colspan=\"");
    WriteNumber(columns_);
    Write("\">");
  }
  Write(
      "<div class=\"scroll\"><table class=\"compare\" data-compare>\n<caption><span "
      "class=\"title\">");
  for (const Held& held : held_) {
    if (held.kind == HeldKind::kTitle) WriteText(HeldFirst(held));
  }
  Write("</span>");
  for (const Held& held : held_) {
    if (held.panel == kNoPanel) WriteHeldProblem(held, false);
  }
  Write("</caption>\n<tr data-images><th></th>");
  comparisonStarted_ = true;
}

void HtmlPage::Panel(HtmlText label, HtmlText badge, HtmlTone tone) {
  if (!comparisonOpen_) Comparison(HtmlText(nullptr));
  if (!comparisonStarted_) {
    StartComparison();
  } else if (panels_ != 0) {
    Write("</td>");
  }
  Write("<td class=\"picture");
  if (tone != HtmlTone::kPlain) {
    Write(" tone-");
    Write(tone_name(tone));
  }
  Write("\">");
  ++panels_;
  Hold(HeldKind::kPanel, tone, label, badge);
}

void HtmlPage::Fact(HtmlText label, HtmlText value) {
  if (!comparisonOpen_ || panels_ == 0) Panel(HtmlText(nullptr));
  Hold(HeldKind::kFact, HtmlTone::kPlain, label, value);
}

void HtmlPage::EndComparison() {
  if (!comparisonOpen_) return;
  if (!comparisonStarted_) StartComparison();
  if (panels_ != 0) Write("</td>");
  Write("</tr>\n<tr data-labels><th></th>");
  for (const Held& panel : held_) {
    if (panel.kind != HeldKind::kPanel) continue;
    Write("<td");
    const HtmlTone tone = static_cast<HtmlTone>(panel.tone);
    if (tone != HtmlTone::kPlain) {
      Write(" class=\"tone-");
      Write(tone_name(tone));
      Write("\"");
    }
    Write(" data-tone=\"");
    Write(tone_name(tone));
    Write("\"><span class=\"label\">");
    WriteText(HeldFirst(panel));
    Write("</span>");
    if (panel.secondLength != 0) {
      Write(" <span class=\"badge\">");
      WriteText(HeldSecond(panel));
      Write("</span>");
    }
    for (const Held& held : held_) {
      if (held.panel == panel.panel) WriteHeldProblem(held, false);
    }
    Write("</td>");
  }
  Write("</tr>\n");
  WriteFactRows();
  Write("</table></div>");
  if (comparisonInTable_) Write("</td></tr>");
  Write("\n");
  held_.Clear();
  heldText_.resize(0);
  comparisonOpen_ = false;
  comparisonStarted_ = false;
  comparisonInTable_ = false;
  panels_ = 0;
}

void HtmlPage::WriteFactRows() {
  const uint32_t count = held_.count();
  for (uint32_t i = 0; i < count; ++i) {
    if (held_[i].kind != HeldKind::kFact) continue;
    const HtmlText label = HeldFirst(held_[i]);
    bool seen = false;
    for (uint32_t j = 0; j < i && !seen; ++j) {
      seen = held_[j].kind == HeldKind::kFact && same_bytes(HeldFirst(held_[j]), label);
    }
    if (seen) continue;
    // Each panel's value of this fact: the first the panel was given, or none.
    auto value_of = [&](uint32_t panel, HtmlText* value) {
      for (uint32_t j = i; j < count; ++j) {
        const Held& fact = held_[j];
        if (fact.kind == HeldKind::kFact && fact.panel == panel &&
            same_bytes(HeldFirst(fact), label)) {
          *value = HeldSecond(fact);
          return true;
        }
      }
      return false;
    };
    HtmlText reference(nullptr);
    const bool referenceGiven = value_of(0, &reference);
    bool anyDiffers = false;
    for (uint32_t panel = 1; panel < panels_ && !anyDiffers; ++panel) {
      HtmlText value(nullptr);
      const bool given = value_of(panel, &value);
      anyDiffers = given != referenceGiven || (given && !same_bytes(value, reference));
    }
    Write(anyDiffers ? "<tr data-fact class=\"differs\"><th>" : "<tr data-fact><th>");
    WriteText(label);
    Write("</th>");
    for (uint32_t panel = 0; panel < panels_; ++panel) {
      HtmlText value(nullptr);
      const bool given = value_of(panel, &value);
      const bool differs = given != referenceGiven || (given && !same_bytes(value, reference));
      Write(differs ? "<td class=\"diff\" data-differs" : "<td");
      if (!given) {
        // U+2014 EM DASH stands for the missing value.
        Write(" data-missing>\xE2\x80\x94</td>");
        continue;
      }
      Write(">");
      WriteText(value);
      Write("</td>");
    }
    Write("</tr>\n");
  }
}

const char* HtmlPage::OpenPicturePlace() {
  if (comparisonOpen_) {
    if (panels_ == 0) Panel(HtmlText(nullptr));
    return "";
  }
  if (row_ != RowState::kNone) {
    StartCell();
    return "</td>";
  }
  EndSummary();
  EndTable();
  Write("<div class=\"picture\">");
  return "</div>\n";
}

uint64_t HtmlPage::Image(const uint8_t* png, uint32_t length, HtmlText alt) {
  if (!ok_) return 0;
  uint32_t width = 0;
  uint32_t height = 0;
  if (!png_size(png, length, &width, &height)) {
    WritePlaceholder(alt, "not a PNG image");
    return 0;
  }
  const uint64_t size = embedded_size(length);
  if (size > imageBudget_) {
    char reason[160];
    std::snprintf(reason, sizeof(reason),
                  "the image would take %llu bytes of the page, more than the %u allowed",
                  static_cast<unsigned long long>(size), imageBudget_);
    WritePlaceholder(alt, reason);
    return 0;
  }
  WritePicture(png, length, width, height, alt);
  if (!ok_) return 0;
  ++images_;
  return size;
}

void HtmlPage::WritePicture(const uint8_t* png, uint32_t length, uint32_t width, uint32_t height,
                            HtmlText alt) {
  const char* close = OpenPicturePlace();
  const uint32_t longer = width > height ? width : height;
  const uint32_t factor = longer < kSmallestShown ? kSmallestShown / longer : 1;
  Write(factor > 1 ? "<img data-image class=\"px\" width=\"" : "<img data-image width=\"");
  WriteNumber(static_cast<uint64_t>(width) * factor);
  Write("\" height=\"");
  WriteNumber(static_cast<uint64_t>(height) * factor);
  Write("\"");
  WriteAttribute("alt", alt);
  Write(" src=\"");
  Write(kPngPrefix);
  for (uint32_t done = 0; ok_ && done < length;) {
    const uint32_t piece = length - done < kBase64Piece ? length - done : kBase64Piece;
    const uint32_t encoded = (piece + 2) / 3 * 4;
    if (!reserve_for_append(out_, encoded) || !out_.resize(out_.length() + encoded)) {
      FailMemory();
      return;
    }
    base64_piece(png + done, piece, out_.data() + out_.length() - encoded);
    done += piece;
    if (out_.length() >= kFlushSize) WriteToFile();
  }
  Write("\">");
  Write(close);
}

void HtmlPage::Placeholder(HtmlText alt, HtmlText reason) { WritePlaceholder(alt, reason); }

void HtmlPage::WritePlaceholder(HtmlText alt, HtmlText reason) {
  if (!ok_) return;
  const char* close = OpenPicturePlace();
  Write("<div class=\"placeholder\" role=\"img\" data-placeholder");
  WriteAttribute("aria-label", alt);
  Write("><span class=\"why\">");
  WriteText(reason);
  Write("</span></div>");
  Write(close);
  if (ok_) ++placeholders_;
}
