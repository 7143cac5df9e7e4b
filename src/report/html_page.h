#ifndef VINTREL_REPORT_HTML_PAGE_H_
#define VINTREL_REPORT_HTML_PAGE_H_

#include <cstdint>

#include "base/array.h"
#include "base/byte_buffer.h"
#include "base/pending_file.h"
#include "base/status.h"
#include "base/string_buffer.h"

// Text for a page: any bytes, escaped by the page as append_html_escaped does
// (report/html_escape.h), so that a name read from a file shows as what it is and never as markup.
struct HtmlText {
  // Implicit, so that a literal or a buffer is passed as it is. A NUL-terminated text; null is the
  // empty text.
  HtmlText(const char* text);
  HtmlText(const CStringBufferA& text);
  HtmlText(const uint8_t* bytes, uint32_t length) : bytes(bytes), length(length) {}

  const uint8_t* bytes;
  uint32_t length;
};

// How a figure of the summary or a panel of a comparison is marked.
enum class HtmlTone : uint8_t { kPlain, kGood, kWarning, kError };

// One self-contained HTML page written front to back: a report that any browser opens from disk,
// without a network and without script. The page carries its own style, readable at a phone's
// width and in a dark colour scheme, and a policy that forbids the browser any script and any
// fetch but the page's own embedded images.
//
// The page is written under path + ".tmp" and renamed to path by Commit; destroyed before that, it
// deletes its temporary file. It is written to the file in pieces as it is made, so that its memory
// does not grow with the page: the writer holds at most 64 KiB of output plus one piece of at most
// 24 KiB (in a block of 128 KiB), the current table's headings, and the texts of one row or one
// comparison until that ends (never its images).
//
// A page has a title, a summary of figures, then sections; a section holds paragraphs, tables of
// rows and comparisons. The writer places the markup: each call ends what the one before left open
// where it must (a Section ends the table and the section before it; a Row the row before it), and
// an element given outside its place gets a place of its own (a Cell outside a row starts one).
// Calls after a failure do nothing; Commit reports the first failure.
//
// What the page holds, for a program that reads it (attributes without a value are given bare):
//   summary      div[data-figure=KEY][data-value=VALUE] in dl.summary, the label in dt
//   table        table[data-table=KEY]: thead th the headings, tbody tr[data-row] the rows, their
//                td the cells in order
//   problem      [data-problem=warning|error], its text in a .text child: in a table, a row
//                tr[data-problem] right after the row it concerns (tr[data-row] gets the class
//                "warned" or "failed"); in a comparison's caption or panel; or on its own
//   comparison   table[data-compare], its title in caption .title; tr[data-images] holds each
//                panel's picture, tr[data-labels] its .label, .badge and data-tone, and each
//                tr[data-fact] a fact: th the label, a td per panel, [data-differs] on a
//                highlighted value and [data-missing] where the panel has none; inside a table it
//                lies in a tr[data-detail] right after the row it belongs to
//   image        img[data-image] with alt, width and height (the size shown)
//   placeholder  [data-placeholder] with role=img and aria-label (the alt text); its text says why
class HtmlPage {
 public:
  // What an image may take of the page unless set_image_budget says otherwise.
  static constexpr uint32_t kDefaultImageBudget = 40 * 1024;
  // An image whose longer side is below this many pixels is shown enlarged by a whole factor,
  // its pixels kept sharp.
  static constexpr uint32_t kSmallestShown = 64;

  HtmlPage();
  ~HtmlPage();
  HtmlPage(const HtmlPage&) = delete;
  HtmlPage& operator=(const HtmlPage&) = delete;

  // Creates path + ".tmp" and writes the page's head and its title as the first heading; called
  // once per page. False, with the reason in *status and nothing left on the disk, when the file
  // cannot be created.
  bool Create(const char* path, HtmlText title, Status* status);

  // A figure of the summary at the top of the page: label, and the value shown beside it and
  // given in data-value. key names the figure for a reader of the page ("warnings"). Figures come
  // before the first section.
  void Figure(const char* key, HtmlText label, uint64_t value, HtmlTone tone = HtmlTone::kPlain);
  void FigureText(const char* key, HtmlText label, HtmlText value,
                  HtmlTone tone = HtmlTone::kPlain);

  // A section with its heading; ends the section before it.
  void Section(HtmlText heading);
  // A paragraph of text.
  void Paragraph(HtmlText text);

  // A table in the current section, headed by headings[0] to headings[columns - 1] (columns is
  // taken as at least 1); bit i of numeric aligns column i to the right. key names the table for
  // a reader of the page.
  void Table(const char* key, const char* const* headings, uint32_t columns, uint32_t numeric = 0);
  // Starts a row of the current table, ending the row before it.
  void Row();
  // The next cell of the current row.
  void Cell(HtmlText text);
  void Number(uint64_t value);

  // A problem, visibly marked, beside what it concerns: the current panel of a comparison, else
  // the comparison (before its first panel), else the current row of a table, else the table or
  // the section. A row's problems are shown beneath it; those given before its first cell also
  // mark the row itself, so give them first.
  void Warning(HtmlText text);
  void Error(HtmlText text);

  // A comparison of pictures side by side: a panel per version, each with its picture above its
  // label, badge and facts. Inside a table it belongs to the current row and is shown beneath it,
  // the width of the table; the next Row, Cell, Table or Section ends it. A fact's value is
  // highlighted in every panel where it differs from the first panel's (the reference), a missing
  // value counting as a value of its own.
  void Comparison(HtmlText title);
  // The next panel: label names the version ("game", "mod 2: hero.dds"); badge, when not empty,
  // is shown beside it ("winner", "identical"); tone marks the whole panel.
  void Panel(HtmlText label, HtmlText badge = HtmlText(nullptr), HtmlTone tone = HtmlTone::kPlain);
  // A fact of the current panel ("format", "BC3").
  void Fact(HtmlText label, HtmlText value);

  // A PNG image, embedded in the page: the picture of the current panel, else a cell of the
  // current row, else a block of its own. alt names what it shows. Its size comes from its
  // header. An image that is not a PNG, or that would take more of the page than the budget,
  // becomes a placeholder saying so. Returns what the image took of the page (embedded_size of
  // its length), or 0 when it became a placeholder or the page has failed.
  uint64_t Image(const uint8_t* png, uint32_t length, HtmlText alt);
  // In place of an image that could not be made, where Image would put it: a box of about a
  // thumbnail's size that says why.
  void Placeholder(HtmlText alt, HtmlText reason);

  // The most an image may take of the page: embedded_size of its length. Default
  // kDefaultImageBudget.
  void set_image_budget(uint32_t bytes) { imageBudget_ = bytes; }
  uint32_t image_budget() const { return imageBudget_; }
  // The bytes a PNG of `length` bytes takes of the page as a data: URI (base64 and its prefix);
  // the image's tag and the cell or block it opens add its escaped alt text (and in a table the
  // column's escaped heading) and at most 128 bytes more.
  static uint64_t embedded_size(uint32_t length);
  // The longest PNG whose embedded_size is within budget: what a maker of thumbnails aims for.
  static uint32_t largest_png_within(uint32_t budget);

  // Ends what is open, writes the end of the page, puts it on the disk and renames it into place.
  // False, with the reason in *status and the temporary file deleted, when the page failed at any
  // point or the rename fails.
  bool Commit(Status* status);

  // False once a write or an allocation failed, and before Create or after Commit.
  bool ok() const { return ok_; }
  // The page's size so far.
  uint64_t bytes_written() const { return flushed_ + out_.length(); }
  uint32_t images() const { return images_; }
  uint32_t placeholders() const { return placeholders_; }

 private:
  // A text held until its row or comparison ends: a problem, a panel's label and badge, a fact,
  // the comparison's title. first and second lie in heldText_.
  enum class HeldKind : uint8_t { kTitle, kProblem, kPanel, kFact };
  struct Held {
    HeldKind kind;
    uint8_t tone;    // an HtmlTone; for a problem kWarning or kError
    uint32_t panel;  // the panel it belongs to, or kNoPanel
    uint32_t first;  // offset and length of the first text in held_
    uint32_t firstLength;
    uint32_t second;
    uint32_t secondLength;
  };
  static constexpr uint32_t kNoPanel = UINT32_MAX;

  enum class RowState : uint8_t { kNone, kPending, kOpen };

  void Write(const char* markup);
  void Write(const void* bytes, uint32_t length);
  void WriteText(HtmlText text);
  void WriteNumber(uint64_t value);
  void WriteAttribute(const char* name, HtmlText value);
  void WriteToFile();
  void FailWrite();
  void FailMemory();

  void Hold(HeldKind kind, HtmlTone tone, HtmlText first, HtmlText second);
  HtmlText HeldFirst(const Held& held) const;
  HtmlText HeldSecond(const Held& held) const;
  void WriteProblem(HtmlTone severity, HtmlText text, bool asRow);
  void WriteHeldProblem(const Held& held, bool asRow);
  void Problem(HtmlTone severity, HtmlText text);

  void EndSummary();
  void EndSection();
  void EndTable();
  void StartRow();
  void EndRow();
  void StartComparison();
  void EndPanelPicture();
  void EndComparison();
  void WriteFactRows();
  void StartCell();
  void WritePicture(const uint8_t* png, uint32_t length, uint32_t width, uint32_t height,
                    HtmlText alt);
  void WritePlaceholder(HtmlText alt, HtmlText reason);
  // Opens the place a picture goes to (a panel, a cell or a block) and returns the tag that
  // closes it.
  const char* OpenPicturePlace();

  PendingFile file_;
  ByteBuffer out_;
  Status status_;
  bool ok_ = false;
  uint64_t flushed_ = 0;
  uint32_t imageBudget_ = kDefaultImageBudget;
  uint32_t images_ = 0;
  uint32_t placeholders_ = 0;

  bool summaryOpen_ = false;
  bool sectionOpen_ = false;
  bool tableOpen_ = false;
  uint32_t columns_ = 0;
  uint32_t numeric_ = 0;
  RowState row_ = RowState::kNone;
  uint32_t cellIndex_ = 0;
  bool comparisonOpen_ = false;
  bool comparisonStarted_ = false;
  bool comparisonInTable_ = false;
  uint32_t panels_ = 0;

  // The current table's headings, escaped, one after the other, and where each ends.
  ByteBuffer headingText_;
  TArray<uint32_t> headingEnds_;
  // The current row's problems, or the current comparison's texts: never both, as a comparison in
  // a table ends the row first.
  TArray<Held> held_;
  ByteBuffer heldText_;
};

#endif  // VINTREL_REPORT_HTML_PAGE_H_
