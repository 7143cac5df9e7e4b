#include "report/html_page.h"

#include <gtest/gtest.h>

#include <string>

#include "base/platform_faults.h"
#include "base/utf8.h"
#include "report/html_escape.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/scratch_dir.h"

namespace {

std::string Escaped(const std::string& text) {
  ByteBuffer out;
  if (!append_html_escaped(reinterpret_cast<const uint8_t*>(text.data()),
                           static_cast<uint32_t>(text.size()), out)) {
    return "(no memory)";
  }
  return std::string(reinterpret_cast<const char*>(out.data()), out.length());
}

bool IsUtf8(const std::string& text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const uint32_t length = static_cast<uint32_t>(text.size());
  for (uint32_t i = 0; i < length;) {
    const uint32_t sequence = utf8_sequence_length(bytes + i, length - i);
    if (sequence == 0) return false;
    i += sequence;
  }
  return true;
}

// The bytes of a PNG's signature and header for width x height, padded to length bytes: all the
// page reads of an image.
std::string FakePng(uint32_t width, uint32_t height, uint32_t length) {
  std::string png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
  for (uint32_t value : {width, height}) {
    for (int shift = 24; shift >= 0; shift -= 8) png.push_back(char(value >> shift));
  }
  png.resize(length < png.size() ? png.size() : length, '\x5a');
  return png;
}

uint64_t AddImage(HtmlPage& page, const std::string& png, HtmlText alt) {
  return page.Image(reinterpret_cast<const uint8_t*>(png.data()), static_cast<uint32_t>(png.size()),
                    alt);
}

TEST(HtmlEscape, MarkupControlsAndBytesThatAreNotUtf8BecomeVisibleText) {
  const struct {
    std::string in;
    std::string out;
  } kCases[] = {
      {"a<b>&c", "a&lt;b&gt;&amp;c"},
      {"\"'", "&quot;&#39;"},
      {std::string("t\tn\n\0\x7f", 6), "t\\x09n\\x0a\\x00\\x7f"},
      {"h\xc3\xa9ros \xf0\x9f\x98\x80", "h\xc3\xa9ros \xf0\x9f\x98\x80"},  // UTF-8 stays
      {"\xff\xfe", "\\xff\\xfe"},
      {"cut \xe2\x82", "cut \\xe2\\x82"},       // a sequence cut short
      {"\xe0\x80\xaf", "\\xe0\\x80\\xaf"},      // an overlong '/'
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},      // a surrogate
      {"\xc2\x85\xc2\xa0", "\\u0085\xc2\xa0"},  // a C1 control; no-break space stays
      {"\xe9t\xe9", "\\xe9t\\xe9"},             // Latin-1
  };
  for (const auto& c : kCases) EXPECT_EQ(Escaped(c.in), c.out) << c.in;
}

TEST(HtmlEscape, TextEscapedInPiecesComesOutAsTheWhole) {
  const std::string text = "a\xc3\xa9\xf0\x9f\x98\x80\xff\xe2\x82\xac\x80\x80\x80\x80<b\xe2\x82";
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const uint32_t length = static_cast<uint32_t>(text.size());
  for (uint32_t wanted = 1; wanted <= length; ++wanted) {
    const uint32_t cut = html_escape_piece(bytes, length, wanted);
    EXPECT_LE(cut, wanted);
    EXPECT_GE(cut + 3, wanted);
    EXPECT_GE(cut, 1u);
    EXPECT_EQ(Escaped(text.substr(0, cut)) + Escaped(text.substr(cut)), Escaped(text))
        << "wanted " << wanted;
  }
}

TEST(HtmlEscape, FailureLeavesTheBufferAsItWas) {
  ByteBuffer out;
  ASSERT_TRUE(append_html_escaped(reinterpret_cast<const uint8_t*>("kept"), 4, out));
  const std::string large(ByteBuffer::kGranule, '<');
  AllocFailureScope failure;
  failure.FailAll();
  const bool appended = append_html_escaped(reinterpret_cast<const uint8_t*>(large.data()),
                                            ByteBuffer::kGranule, out);
  failure.Restore();
  EXPECT_FALSE(appended);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data()), out.length()), "kept");
}

class HtmlPageTest : public testing::Test {
 protected:
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  bool Exists(const std::string& name) const { return std::filesystem::exists(dir_ / name); }
  std::string Read(const std::string& name) const {
    return vtest::ReadTextFile(dir_ / name).value_or("(missing)");
  }

  vtest::ScratchDir dir_;
  Status status_;
};

TEST_F(HtmlPageTest, HostileTextsNeverBecomeMarkup) {
  const std::string hostile = "<script>x</script>\"'&\xff\x01";
  const HtmlText name(reinterpret_cast<const uint8_t*>(hostile.data()),
                      static_cast<uint32_t>(hostile.size()));
  HtmlPage page;
  ASSERT_TRUE(page.Create(Path("page.html").c_str(), name, &status_));
  page.Figure(hostile.c_str(), name, 1);
  page.FigureText("text", name, name, HtmlTone::kWarning);
  page.Section(name);
  page.Paragraph(name);
  const char* headings[] = {hostile.c_str(), "size"};
  page.Table(hostile.c_str(), headings, 2, 1u << 1);
  page.Row();
  page.Warning(name);
  page.Cell(name);
  page.Number(3);
  page.Error(name);
  page.Comparison(name);
  page.Warning(name);
  page.Panel(name, name, HtmlTone::kGood);
  AddImage(page, FakePng(4, 4, 64), name);
  page.Fact(name, name);
  page.Panel(name);
  page.Placeholder(name, name);
  page.Fact(name, "other");
  page.Section("images alone");
  AddImage(page, FakePng(4, 4, 64), name);
  page.Warning(name);
  ASSERT_TRUE(page.Commit(&status_)) << status_.what();

  const std::string html = Read("page.html");
  EXPECT_TRUE(IsUtf8(html));
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_EQ(html.find('\x01'), std::string::npos);
  EXPECT_NE(html.find("&lt;script&gt;x&lt;/script&gt;&quot;&#39;&amp;\\xff\\x01"),
            std::string::npos);
}

TEST_F(HtmlPageTest, IsWrittenUnderATemporaryNameAndRenamedByCommit) {
  ASSERT_TRUE(vtest::WriteTextFile(dir_ / "page.html", "previous"));
  {
    HtmlPage page;
    ASSERT_TRUE(page.Create(Path("page.html").c_str(), "abandoned", &status_));
    EXPECT_TRUE(Exists("page.html.tmp"));
  }
  EXPECT_FALSE(Exists("page.html.tmp"));
  EXPECT_EQ(Read("page.html"), "previous");

  HtmlPage page;
  ASSERT_TRUE(page.Create(Path("page.html").c_str(), "kept", &status_));
  ASSERT_TRUE(page.Commit(&status_)) << status_.what();
  EXPECT_FALSE(Exists("page.html.tmp"));
  EXPECT_EQ(Read("page.html").size(), page.bytes_written());
  EXPECT_FALSE(page.ok());
}

TEST_F(HtmlPageTest, MemoryStaysBoundedWhateverTheSizeOfThePage) {
  const std::string png = FakePng(256, 128, 30000);
  HtmlPage page;
  ASSERT_TRUE(page.Create(Path("page.html").c_str(), "many", &status_));
  const char* headings[] = {"name", "bytes", "picture"};
  page.Table("entries", headings, 3, 1u << 1);
  // Once every buffer has grown to what one entry needs, no entry asks for more memory.
  const auto add_entries = [&](uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
      page.Row();
      page.Warning("a long warning about this entry, held until its row ends");
      page.Cell("entry name");
      page.Number(i);
      AddImage(page, png, "entry");
      page.Comparison("entry");
      for (const char* label : {"game", "mod"}) {
        page.Panel(label, "badge");
        AddImage(page, png, label);
        page.Fact("format", label);
        page.Fact("size", "256 x 128");
      }
    }
  };
  add_entries(4);
  AllocFailureScope failure;
  failure.FailAll();
  add_entries(200);
  failure.Restore();
  EXPECT_TRUE(page.ok());
  EXPECT_EQ(failure.allocations(), 0u);
  EXPECT_GT(page.bytes_written(), 200u * 3 * 30000);
  EXPECT_EQ(page.images(), 204u * 3);
  ASSERT_TRUE(page.Commit(&status_)) << status_.what();
}

TEST_F(HtmlPageTest, ImagesAreHeldToTheBudgetAndSayWhatTheyCost) {
  for (uint32_t length : {100u, 101u, 102u, 40000u}) {
    const uint32_t budget = static_cast<uint32_t>(HtmlPage::embedded_size(length));
    EXPECT_EQ(HtmlPage::largest_png_within(budget) / 3, (length + 2) / 3) << length;
    EXPECT_GT(HtmlPage::embedded_size(HtmlPage::largest_png_within(budget) + 1), budget);

    HtmlPage page;
    ASSERT_TRUE(page.Create(Path("page.html").c_str(), "budget", &status_));
    page.set_image_budget(budget);
    const uint64_t before = page.bytes_written();
    EXPECT_EQ(AddImage(page, FakePng(2, 2, length), "within"), budget);
    const uint64_t taken = page.bytes_written() - before;
    EXPECT_GE(taken, budget);
    EXPECT_LE(taken, budget + 6 + 128);  // the escaped alt, the tag and its place
    EXPECT_EQ(AddImage(page, FakePng(2, 2, length + 3), "beyond"), 0u);
    EXPECT_EQ(AddImage(page, std::string(length, 'x'), "not a PNG"), 0u);
    EXPECT_EQ(page.images(), 1u);
    EXPECT_EQ(page.placeholders(), 2u);
    ASSERT_TRUE(page.Commit(&status_)) << status_.what();
  }
}

bool FailWrites(SysCall call) { return call == SysCall::kWriteFile; }

TEST_F(HtmlPageTest, AFailureOnTheWayIsReportedByCommitAndLeavesNoFile) {
  const std::string png = FakePng(16, 16, 30000);
  for (const bool outOfMemory : {true, false}) {
    HtmlPage page;
    ASSERT_TRUE(page.Create(Path("page.html").c_str(), "failing", &status_));
    AllocFailureScope failure;
    if (outOfMemory) {
      failure.FailAll();
    } else {
      g_sysFaultHook = &FailWrites;
    }
    for (int i = 0; i < 4; ++i) AddImage(page, png, "image");
    const bool failed = !page.ok();
    failure.Restore();
    g_sysFaultHook = nullptr;
    EXPECT_TRUE(failed);
    Status status;
    EXPECT_FALSE(page.Commit(&status));
    EXPECT_EQ(status.code(), outOfMemory ? StatusCode::kOutOfMemory : StatusCode::kIoError);
    EXPECT_FALSE(Exists("page.html.tmp"));
    EXPECT_FALSE(Exists("page.html"));
  }
}

}  // namespace
