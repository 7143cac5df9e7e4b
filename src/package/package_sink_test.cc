#include "package/package_sink.h"

#include <gtest/gtest.h>

#include <string>

#include "base/file.h"
#include "tests/support/bytes.h"
#include "tests/support/scratch_dir.h"

namespace {

using vtest::Bytes;

// The same writes, given to a staging sink whose memory holds `memory` bytes, must come out of
// it whole, whether they stayed in memory, went to its file, or lie across both.
TEST(StagingSink, CopiesOutWhatWasWrittenWhereverItLies) {
  vtest::ScratchDir dir;
  const std::string tempDir = dir.path().string() + "/";
  const Bytes first = vtest::MakeData(3000, 1);
  const Bytes second = vtest::MakeData(5000, 2);
  const Bytes patch = vtest::MakeData(200, 3);
  for (uint32_t memory : {0u, 2048u, 3100u, 10000u}) {
    SCOPED_TRACE(memory);
    StagingSink staging;
    ASSERT_TRUE(staging.Place(memory, tempDir.c_str(), memory));
    Status status;
    for (int round = 0; round < 2; ++round) {
      staging.Reset();
      ASSERT_TRUE(staging.Write(first.data(), 3000, &status)) << status.what();
      ASSERT_TRUE(staging.WriteZeros(100, &status));
      ASSERT_TRUE(staging.Write(second.data(), 5000, &status));
      // Over the end of the first bytes and the zeros, and into the second.
      ASSERT_TRUE(staging.WriteAt(2950, patch.data(), 200, &status));
      EXPECT_EQ(staging.length(), 8100u);

      const std::string outPath = (dir / "out").string();
      ScopedFile out(open_file(outPath.c_str(), "w"));
      FileSink sink(out.get(), 0, outPath.c_str());
      ASSERT_TRUE(staging.CopyTo(sink, &status)) << status.what();
      out.reset();
      Bytes expected = first;
      expected.resize(3100, 0);
      vtest::PutBytes(expected, second);
      std::copy(patch.begin(), patch.end(), expected.begin() + 2950);
      EXPECT_EQ(*vtest::ReadFile(dir / "out"), expected);
    }
  }
}

// A file sink leaves its gaps of zeros to the system and writes over what it appended.
TEST(FileSink, AppendsFillsGapsAndWritesOver) {
  vtest::ScratchDir dir;
  const std::string path = (dir / "archive").string();
  ScopedFile file(open_file(path.c_str(), "w"));
  FileSink sink(file.get(), 0, path.c_str());
  Status status;
  ASSERT_TRUE(sink.WriteZeros(2048, &status));
  ASSERT_TRUE(sink.Write("tail", 4, &status));
  ASSERT_TRUE(sink.WriteAt(0, "head", 4, &status));
  ASSERT_TRUE(sink.WriteZeros(10, &status));
  EXPECT_FALSE(sink.WriteAt(2062, "x", 1, &status));
  file.reset();
  Bytes expected(2062, 0);
  std::copy_n("head", 4, expected.begin());
  std::copy_n("tail", 4, expected.begin() + 2048);
  EXPECT_EQ(*vtest::ReadFile(dir / "archive"), expected);
}

}  // namespace
