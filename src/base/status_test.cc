#include "base/status.h"

#include <gtest/gtest.h>

#include <string>

#include "base/file.h"
#include "base/platform.h"

namespace {

std::string Described(const Status& status) {
  CStringBufferA text;
  EXPECT_TRUE(status.Describe(text));
  return text.Data();
}

TEST(Status, StartsOkAndDescribesEachForm) {
  Status status;
  EXPECT_TRUE(status.ok());
  EXPECT_EQ(Described(status), "");

  status.Fail(StatusCode::kRefused, "\"upak\" \"%s\" names an archive of the game", "data0");
  EXPECT_EQ(Described(status), "\"upak\" \"data0\" names an archive of the game");

  status.FailAt(StatusCode::kUnsupported, "/m/hero.dds", "unsupported texture format");
  EXPECT_EQ(Described(status), "\"/m/hero.dds\": unsupported texture format");

  status.FailAt(StatusCode::kCorrupt, "/m/vintrel.json", "expected ',' or '}'");
  status.SetTextPosition(4, 9);
  EXPECT_EQ(Described(status), "\"/m/vintrel.json\" line 4, column 9: expected ',' or '}'");

  status.Fail(StatusCode::kCorrupt, "the entry table runs past the end of the archive");
  status.SetPackage("levels/town", "/g/data0.upak", 123456);
  EXPECT_EQ(Described(status),
            "package \"levels/town\" in \"/g/data0.upak\" at offset 123456: the entry table "
            "runs past the end of the archive");
}

TEST(Status, IoFailureCarriesTheSystemsText) {
  Status status;
  ScopedFile file(open_file("no-such-directory/no-such-file", "r"));
  ASSERT_FALSE(file.is_open());
  const uint32_t error = sys_last_error();
  ASSERT_NE(error, 0u);
  status.FailIo("cannot open archive", "no-such-directory/no-such-file");
  EXPECT_EQ(status.code(), StatusCode::kIoError);
  EXPECT_EQ(status.system_error(), error);
  char text[256];
  sys_error_text(error, text, sizeof(text));
  EXPECT_EQ(Described(status),
            std::string("cannot open archive \"no-such-directory/no-such-file\": ") + text);
}

TEST(Status, AFailureThatNamesItsFileKeepsIt) {
  Status status;
  status.FailAt(StatusCode::kUnsupported, "/m/a.dds", "unsupported texture format");
  status.SetPackage("town", "/g/data0.upak", 2048);
  status.SetPath("/elsewhere");
  EXPECT_EQ(Described(status), "\"/m/a.dds\": unsupported texture format");
  status.Clear();
  EXPECT_TRUE(status.ok());
  EXPECT_STREQ(status.path(), "");
}

}  // namespace
