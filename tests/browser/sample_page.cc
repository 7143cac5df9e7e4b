// Writes a sample page through the HTML page writer, and beside it what a reader of the rendered
// page must find there: the browser test (check_page.py) renders the one and compares it with the
// other. The page holds what a report's page holds: figures, tables with warnings, comparisons,
// a placeholder, and names that would be markup or are not UTF-8.
//   html_sample_page OUTDIR    writes OUTDIR/sample.html and OUTDIR/sample-expected.json

#include <cstdio>
#include <string>

#include "base/byte_buffer.h"
#include "base/file.h"
#include "base/status.h"
#include "json/json_writer.h"
#include "report/html_page.h"

namespace {

// Three small PNG images: 8 x 8 and 8 x 8 RGB, 16 x 4 RGBA.
const uint8_t kBluePng[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44,
    0x52, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x08, 0x08, 0x02, 0x00, 0x00, 0x00, 0x4b,
    0x6d, 0x29, 0xdc, 0x00, 0x00, 0x00, 0x39, 0x49, 0x44, 0x41, 0x54, 0x78, 0xda, 0x7d, 0xc9,
    0x31, 0x11, 0x00, 0x20, 0x0c, 0x04, 0xc1, 0xc8, 0x41, 0x04, 0x72, 0x5e, 0x0e, 0x75, 0x94,
    0x20, 0xe2, 0x35, 0xa5, 0x22, 0x73, 0x7d, 0x98, 0xd9, 0x6e, 0x63, 0x6d, 0x21, 0x61, 0x54,
    0x8b, 0x39, 0x24, 0x24, 0x8c, 0x6a, 0x9f, 0x38, 0x42, 0xc2, 0xa8, 0xf6, 0x89, 0x2b, 0x24,
    0x8c, 0x6a, 0x63, 0x3c, 0xc8, 0xfb, 0x53, 0xc1, 0x65, 0xcb, 0x20, 0x74, 0x00, 0x00, 0x00,
    0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82,
};
const uint8_t kOrangePng[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52,
    0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x08, 0x08, 0x02, 0x00, 0x00, 0x00, 0x4b, 0x6d, 0x29,
    0xdc, 0x00, 0x00, 0x00, 0x34, 0x49, 0x44, 0x41, 0x54, 0x78, 0xda, 0x63, 0x78, 0x76, 0x42, 0x03,
    0x84, 0xf2, 0xd0, 0x11, 0x03, 0x54, 0xe2, 0x04, 0xa6, 0x44, 0x9e, 0x06, 0x56, 0x39, 0x06, 0x28,
    0x0b, 0x43, 0x8e, 0x01, 0xa1, 0x0a, 0x55, 0x8e, 0x01, 0xc5, 0x68, 0x24, 0x39, 0x06, 0x74, 0xf7,
    0xc0, 0xe4, 0x18, 0x30, 0x1d, 0x0a, 0x91, 0x00, 0x00, 0x54, 0x10, 0x66, 0xbd, 0xc2, 0x1f, 0x4e,
    0x5d, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82,
};
const uint8_t kWidePng[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52,
    0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x04, 0x08, 0x06, 0x00, 0x00, 0x00, 0x87, 0xb4, 0xbf,
    0xec, 0x00, 0x00, 0x00, 0x32, 0x49, 0x44, 0x41, 0x54, 0x78, 0xda, 0x63, 0x60, 0x58, 0xf0, 0xbf,
    0x01, 0x19, 0x07, 0x2c, 0x58, 0x8f, 0x82, 0x17, 0x2c, 0x88, 0x47, 0xc1, 0x1f, 0x16, 0xf0, 0xa3,
    0x60, 0x06, 0xa0, 0xa6, 0xff, 0xc8, 0x18, 0xa8, 0x09, 0x05, 0x03, 0x35, 0xa1, 0x60, 0xa0, 0x26,
    0x14, 0xcc, 0x30, 0xe0, 0x2e, 0x00, 0x00, 0xe8, 0xfa, 0x97, 0xa1, 0xf1, 0x5b, 0xc9, 0x67, 0x00,
    0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82,
};

// A name and how the page shows it.
struct Name {
  const char* bytes;
  const char* shown;
};
const Name kHostile = {"a<b>&c\"d'e\xff.dds", "a<b>&c\"d'e\\xff.dds"};
const Name kControl = {"tab\there\x01.dds", "tab\\x09here\\x01.dds"};
const Name kPlain = {"h\xc3\xa9ros.dds", "h\xc3\xa9ros.dds"};
const Name kNotPng = {"broken <image>.dds", "broken <image>.dds"};

const char kWarning[] = "metadata <guessed> from the file's name & \"extension\"";
const char kError[] = "the entry's size is \xff\xfe unknown";
const char kErrorShown[] = "the entry's size is \\xff\\xfe unknown";

// The expected document: the page's figures and tables, and how many images and placeholders it
// shows.
class Expected {
 public:
  Expected() : json_(bytes_) {
    json_.BeginObject();
    json_.Key("figures");
    json_.BeginObject();
  }
  void Figure(const char* key, const char* value) {
    json_.Key(key);
    json_.String(value);
  }
  void BeginTables() {
    json_.EndObject();
    json_.Key("tables");
    json_.BeginArray();
  }
  void Table(const char* key, const char* const* headings, uint32_t columns) {
    if (inTable_) EndTable();
    json_.BeginObject();
    json_.Key("key");
    json_.String(key);
    json_.Key("headings");
    json_.BeginArray();
    for (uint32_t i = 0; i < columns; ++i) json_.String(headings[i]);
    json_.EndArray();
    json_.Key("rows");
    json_.BeginArray();
    inTable_ = true;
  }
  // A row: its cells, then its problems as pairs of kind and text.
  void Row(std::initializer_list<const char*> cells,
           std::initializer_list<std::pair<const char*, const char*>> problems = {}) {
    json_.BeginObject();
    json_.Key("cells");
    json_.BeginArray();
    for (const char* cell : cells) json_.String(cell);
    json_.EndArray();
    json_.Key("problems");
    json_.BeginArray();
    for (const auto& problem : problems) {
      json_.BeginObject();
      json_.Key("kind");
      json_.String(problem.first);
      json_.Key("text");
      json_.String(problem.second);
      json_.EndObject();
    }
    json_.EndArray();
    json_.EndObject();
  }
  // A comparison, given after the tables: its title, then each panel's label, badge, tone and the
  // facts highlighted in it.
  struct Panel {
    const char* label;
    const char* badge;
    const char* tone;
    std::initializer_list<const char*> differs;
  };
  void Comparison(const char* title, std::initializer_list<Panel> panels) {
    if (!inComparisons_) {
      if (inTable_) EndTable();
      json_.EndArray();
      json_.Key("comparisons");
      json_.BeginArray();
      inComparisons_ = true;
    }
    json_.BeginObject();
    json_.Key("title");
    json_.String(title);
    json_.Key("panels");
    json_.BeginArray();
    for (const Panel& panel : panels) {
      json_.BeginObject();
      json_.Key("label");
      json_.String(panel.label);
      json_.Key("badge");
      json_.String(panel.badge);
      json_.Key("tone");
      json_.String(panel.tone);
      json_.Key("differs");
      json_.BeginArray();
      for (const char* fact : panel.differs) json_.String(fact);
      json_.EndArray();
      json_.EndObject();
    }
    json_.EndArray();
    json_.EndObject();
  }
  // The alt text of each image, in the page's order, and the number of placeholders.
  bool Write(const char* path, std::initializer_list<const char*> alts, uint32_t placeholders) {
    json_.EndArray();
    json_.Key("images");
    json_.Uint(alts.size());
    json_.Key("image_alts");
    json_.BeginArray();
    for (const char* alt : alts) json_.String(alt);
    json_.EndArray();
    json_.Key("placeholders");
    json_.Uint(placeholders);
    json_.EndObject();
    if (!json_.ok()) return false;
    ScopedFile file(open_file(path, "w"));
    return file.is_open() &&
           file_write(file.get(), bytes_.data(), bytes_.length()) == bytes_.length();
  }

 private:
  void EndTable() {
    json_.EndArray();
    json_.EndObject();
    inTable_ = false;
  }

  ByteBuffer bytes_;
  JsonWriter json_;
  bool inTable_ = false;
  bool inComparisons_ = false;
};

// The figures of the summary, and how the page shows their values.
const struct {
  const char* key;
  const char* label;
  uint64_t value;
  HtmlTone tone;
  const char* shown;
} kFigures[] = {
    {"packages", "packages rewritten", 2, HtmlTone::kPlain, "2"},
    {"entries", "entries replaced", 3, HtmlTone::kPlain, "3"},
    {"bytes", "bytes written", 1234567, HtmlTone::kPlain, "1234567"},
    {"warnings", "warnings", 2, HtmlTone::kWarning, "2"},
    {"errors", "errors", 1, HtmlTone::kError, "1"},
};

// The page below shows 3 placeholders.
constexpr uint32_t kPlaceholders = 3;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: html_sample_page OUTDIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  HtmlPage page;
  Expected expected;
  Status status;
  if (!page.Create((dir + "/sample.html").c_str(),
                   "Sample report: <two> packages & \"three\" entries", &status)) {
    std::fprintf(stderr, "html_sample_page: %s %s\n", status.what(), status.path());
    return 1;
  }
  for (const auto& figure : kFigures) {
    page.Figure(figure.key, figure.label, figure.value, figure.tone);
    expected.Figure(figure.key, figure.shown);
  }
  page.FigureText("outcome", "outcome", "a run would fail <1 error>", HtmlTone::kError);
  expected.Figure("outcome", "a run would fail <1 error>");
  expected.BeginTables();

  const char* const headings[] = {"entry", "replaced by", "bytes before", "bytes after",
                                  "thumbnail"};
  page.Section("package \"town\" <archive 0> & co");
  page.Paragraph("Each replaced entry with the game's version beside the mod's.");
  page.Table("entries", headings, 5, 1u << 2 | 1u << 3);
  expected.Table("entries", headings, 5);

  page.Row();
  page.Warning(kWarning);
  page.Cell(kHostile.bytes);
  page.Cell("mod/a.dds");
  page.Number(4096);
  page.Number(8192);
  page.Image(kOrangePng, sizeof(kOrangePng), kHostile.bytes);
  expected.Row({kHostile.shown, "mod/a.dds", "4096", "8192", ""}, {{"warning", kWarning}});
  page.Comparison(kHostile.bytes);
  page.Panel("game");
  page.Image(kBluePng, sizeof(kBluePng), kHostile.bytes);
  page.Fact("format", "BC1");
  page.Fact("size", "8 x 8");
  page.Fact("mips", "4");
  page.Panel("mod", "replaces", HtmlTone::kGood);
  page.Image(kOrangePng, sizeof(kOrangePng), kHostile.bytes);
  page.Fact("format", "BC3");
  page.Fact("size", "8 x 8");
  page.Fact("mips", "1");

  page.Row();
  page.Cell(kControl.bytes);
  page.Cell("mod/b.dds");
  page.Number(100);
  page.Number(200);
  page.Placeholder(kControl.bytes, "no thumbnail: the texture cannot be decoded");
  page.Error(kError);
  expected.Row(
      {kControl.shown, "mod/b.dds", "100", "200", "no thumbnail: the texture cannot be decoded"},
      {{"error", kErrorShown}});
  page.Comparison(kControl.bytes);
  page.Panel("game");
  page.Image(kWidePng, sizeof(kWidePng), kControl.bytes);
  page.Fact("format", "RGBA8");
  page.Panel("mod");
  page.Placeholder(kControl.bytes, "the texture cannot be decoded: format 0x31 <unknown>");

  page.Row();
  page.Cell(kNotPng.bytes);
  page.Cell("mod/c.dds");
  page.Number(1);
  page.Number(2);
  static const uint8_t kNotAPng[] = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0,
                                     0,   0,   0,   0,   0,   0,   0, 0, 0, 0, 0, 0};
  page.Image(kNotAPng, sizeof(kNotAPng), kNotPng.bytes);
  expected.Row({kNotPng.shown, "mod/c.dds", "1", "2", "not a PNG image"});

  page.Section("entries that several mods replace");
  page.Comparison(kPlain.bytes);
  page.Panel("1: base mod");
  page.Image(kBluePng, sizeof(kBluePng), "h\xc3\xa9ros.dds, base mod");
  page.Fact("size", "8 x 8");
  page.Panel("2: patch", "identical: harmless");
  page.Image(kBluePng, sizeof(kBluePng), "h\xc3\xa9ros.dds, patch");
  page.Fact("size", "8 x 8");
  page.Panel("3: <late> mod", "winner", HtmlTone::kGood);
  page.Image(kOrangePng, sizeof(kOrangePng), "h\xc3\xa9ros.dds, late mod");
  page.Fact("size", "8 x 8");
  page.Fact("format", "BC3");
  page.Warning("the winner's format differs");

  if (!page.Commit(&status)) {
    std::fprintf(stderr, "html_sample_page: %s %s\n", status.what(), status.path());
    return 1;
  }
  expected.Comparison(kHostile.shown,
                      {{"game", "", "plain", {}}, {"mod", "replaces", "good", {"format", "mips"}}});
  expected.Comparison(kControl.shown,
                      {{"game", "", "plain", {}}, {"mod", "", "plain", {"format"}}});
  expected.Comparison(kPlain.shown, {{"1: base mod", "", "plain", {}},
                                     {"2: patch", "identical: harmless", "plain", {}},
                                     {"3: <late> mod", "winner", "good", {"format"}}});
  if (!expected.Write(
          (dir + "/sample-expected.json").c_str(),
          {kHostile.shown, kHostile.shown, kHostile.shown, kControl.shown,
           "h\xc3\xa9ros.dds, base mod", "h\xc3\xa9ros.dds, patch", "h\xc3\xa9ros.dds, late mod"},
          kPlaceholders)) {
    std::fprintf(stderr, "html_sample_page: cannot write %s/sample-expected.json\n", dir.c_str());
    return 1;
  }
  return 0;
}
