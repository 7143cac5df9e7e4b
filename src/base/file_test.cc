#include "base/file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "base/byte_buffer.h"
#include "base/status.h"
#include "tests/support/bytes.h"
#include "tests/support/scratch_dir.h"

namespace {

constexpr uint64_t kGiB = 1ull << 30;

class FileTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name = "file.bin") const { return (dir_ / name).string(); }
  bool Exists(const std::string& name = "file.bin") const {
    return std::filesystem::exists(dir_.path() / name);
  }

  vtest::ScratchDir dir_;
};

using OpenFile = FileTest;
using FileValues = FileTest;
using FilePosition = FileTest;
using ReadWholeFile = FileTest;
using CopyFileBytes = FileTest;

const char* const kAllModes[] = {"r", "r+", "w", "w+", "a", "a+"};

TEST_F(OpenFile, UnknownModesTouchNothing) {
  const char* const modes[] = {"", "x", "+", "R", "b", "+r", "x+"};
  for (const char* mode : modes) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(open_file(Path("missing").c_str(), mode), kNoFile);
    EXPECT_FALSE(Exists("missing"));
  }
  ASSERT_TRUE(vtest::WriteTextFile(Path(), "hello"));
  for (const char* mode : modes) EXPECT_EQ(open_file(Path().c_str(), mode), kNoFile);
  EXPECT_EQ(open_file(Path().c_str(), nullptr), kNoFile);
  EXPECT_EQ(vtest::ReadTextFile(Path()), "hello");
}

// What each mode does to a missing file and to an existing "hello": whether it creates or keeps
// it, where it starts, and whether the handle reads and writes. Characters after the first that
// are not a '+' second character are ignored.
struct ModeCase {
  const char* mode;
  bool createsMissing;
  bool keepsContent;
  bool startsAtEnd;
  bool canRead;
  bool canWrite;
};

const ModeCase kModeCases[] = {
    {"r", false, true, false, true, false},   {"rb", false, true, false, true, false},
    {"rt+", false, true, false, true, false}, {"r+", false, true, false, true, true},
    {"r+b", false, true, false, true, true},  {"w", true, false, false, false, true},
    {"wb", true, false, false, false, true},  {"w+", true, false, false, true, true},
    {"a", true, true, true, false, true},     {"ab", true, true, true, false, true},
    {"a+", true, true, true, true, true},
};

TEST_F(OpenFile, ModeTableOnMissingFile) {
  for (const ModeCase& c : kModeCases) {
    SCOPED_TRACE(c.mode);
    ScopedFile file(open_file(Path().c_str(), c.mode));
    EXPECT_EQ(file.is_open(), c.createsMissing);
    EXPECT_EQ(Exists(), c.createsMissing);
    if (file.is_open()) {
      EXPECT_EQ(file_size(file.get()), 0u);
    }
    file.reset();
    std::filesystem::remove(Path());
  }
}

TEST_F(OpenFile, ModeTableOnExistingFile) {
  for (const ModeCase& c : kModeCases) {
    SCOPED_TRACE(c.mode);
    ASSERT_TRUE(vtest::WriteTextFile(Path(), "hello"));
    ScopedFile file(open_file(Path().c_str(), c.mode));
    ASSERT_TRUE(file.is_open());
    const std::string kept = c.keepsContent ? "hello" : "";
    EXPECT_EQ(file_position(file.get()), c.startsAtEnd ? kept.size() : 0u);
    EXPECT_EQ(file_write_u8(file.get(), 'Z'), c.canWrite);
    ASSERT_EQ(file_seek(file.get(), 0), 0u);
    uint8_t first = 0;
    EXPECT_EQ(file_read_u8(file.get(), &first), c.canRead);
    file.reset();
    std::string expected = kept;
    if (c.canWrite)
      expected = c.startsAtEnd ? kept + "Z" : "Z" + (kept.empty() ? "" : kept.substr(1));
    EXPECT_EQ(vtest::ReadTextFile(Path()), expected);
  }
}

TEST_F(OpenFile, ReadersShareWithReaders) {
  ASSERT_TRUE(vtest::WriteTextFile(Path(), "hello"));
  ScopedFile first(open_file(Path().c_str(), "r"));
  ScopedFile second(open_file(Path().c_str(), "r"));
  EXPECT_TRUE(first.is_open());
  EXPECT_TRUE(second.is_open());
  uint8_t value = 0;
  EXPECT_TRUE(file_read_u8(second.get(), &value));
  EXPECT_EQ(value, 'h');
}

TEST_F(OpenFile, ReaderKeepsWritersOutWithoutLosingData) {
  ASSERT_TRUE(vtest::WriteTextFile(Path(), "hello"));
  ScopedFile reader(open_file(Path().c_str(), "r"));
  ASSERT_TRUE(reader.is_open());
  for (const char* mode : {"r+", "w", "w+", "a", "a+"}) {
    SCOPED_TRACE(mode);
    ScopedFile writer(open_file(Path().c_str(), mode));
    EXPECT_FALSE(writer.is_open());
  }
  EXPECT_EQ(vtest::ReadTextFile(Path()), "hello");
}

TEST_F(OpenFile, ExclusiveModesRefuseEveryOtherOpenUntilClosed) {
  for (const char* held : {"r+", "w", "w+", "a", "a+"}) {
    SCOPED_TRACE(held);
    ASSERT_TRUE(vtest::WriteTextFile(Path(), "hello"));
    ScopedFile owner(open_file(Path().c_str(), held));
    ASSERT_TRUE(owner.is_open());
    ASSERT_TRUE(file_write_u8(owner.get(), 'Z'));
    for (const char* mode : kAllModes) {
      SCOPED_TRACE(mode);
      EXPECT_EQ(open_file(Path().c_str(), mode), kNoFile);
    }
    // The refused "w" opens must not have emptied the owner's file.
    EXPECT_GT(file_size(owner.get()), 0u);
    owner.reset();
    ScopedFile next(open_file(Path().c_str(), "r"));
    EXPECT_TRUE(next.is_open());
  }
}

TEST_F(OpenFile, DirectoryIsNotAFile) {
  EXPECT_EQ(open_file(dir_.path().string().c_str(), "r"), kNoFile);
  EXPECT_EQ(open_file(dir_.path().string().c_str(), "a"), kNoFile);
}

TEST_F(FileValues, LittleEndianRoundTrip) {
  ScopedFile writer(open_file(Path().c_str(), "w"));
  ASSERT_TRUE(writer.is_open());
  EXPECT_TRUE(file_write_u32(writer.get(), 0x04030201u));
  EXPECT_TRUE(file_write_u8(writer.get(), 0xFE));
  EXPECT_TRUE(file_write_u32(writer.get(), 0xA0B0C0D0u));
  writer.reset();
  EXPECT_EQ(vtest::ReadTextFile(Path()), std::string("\x01\x02\x03\x04\xFE\xD0\xC0\xB0\xA0", 9));

  ScopedFile reader(open_file(Path().c_str(), "r"));
  uint32_t word = 0;
  uint8_t byte = 0;
  EXPECT_TRUE(file_read_u32(reader.get(), &word));
  EXPECT_EQ(word, 0x04030201u);
  EXPECT_TRUE(file_read_u8(reader.get(), &byte));
  EXPECT_EQ(byte, 0xFE);
  EXPECT_TRUE(file_read_u32(reader.get(), &word));
  EXPECT_EQ(word, 0xA0B0C0D0u);
  EXPECT_FALSE(file_read_u8(reader.get(), &byte));
  EXPECT_FALSE(file_read_u32(reader.get(), &word));
}

TEST_F(FileValues, ReadU32NeedsFourBytes) {
  ASSERT_TRUE(vtest::WriteTextFile(Path(), "\x11\x22\x33\x44\x55\x66"));
  ScopedFile file(open_file(Path().c_str(), "r"));
  for (uint64_t start = 0; start <= 6; ++start) {
    SCOPED_TRACE(start);
    ASSERT_EQ(file_seek(file.get(), start), start);
    uint32_t value = 0;
    EXPECT_EQ(file_read_u32(file.get(), &value), 6 - start >= 4);
  }
}

TEST_F(FilePosition, SeekPastEndThenWriteFillsWithZeros) {
  ScopedFile file(open_file(Path().c_str(), "w+"));
  ASSERT_TRUE(file_write_u8(file.get(), 'a'));
  EXPECT_EQ(file_seek(file.get(), 10), 10u);
  EXPECT_EQ(file_size(file.get()), 1u);
  EXPECT_TRUE(file_write_u8(file.get(), 'b'));
  EXPECT_EQ(file_position(file.get()), 11u);
  EXPECT_EQ(file_size(file.get()), 11u);
  file.reset();
  EXPECT_EQ(vtest::ReadTextFile(Path()), std::string("a") + std::string(9, '\0') + "b");
}

TEST_F(FilePosition, SetEndShrinksAndExtendsWithZeros) {
  ASSERT_TRUE(vtest::WriteTextFile(Path(), std::string(100, 'x')));
  ScopedFile file(open_file(Path().c_str(), "r+"));
  ASSERT_EQ(file_seek(file.get(), 40), 40u);
  EXPECT_TRUE(file_set_end(file.get()));
  EXPECT_EQ(file_size(file.get()), 40u);
  EXPECT_EQ(file_position(file.get()), 40u);
  ASSERT_EQ(file_seek(file.get(), 70), 70u);
  EXPECT_TRUE(file_set_end(file.get()));
  EXPECT_EQ(file_size(file.get()), 70u);
  file.reset();
  EXPECT_EQ(vtest::ReadTextFile(Path()), std::string(40, 'x') + std::string(30, '\0'));
}

TEST_F(FilePosition, PositionsBeyondFourGiB) {
  ScopedFile file(open_file(Path().c_str(), "w+"));
  ASSERT_TRUE(file.is_open());
  const uint64_t far = 5 * kGiB;
  ASSERT_EQ(file_seek(file.get(), far), far);
  ASSERT_TRUE(file_write_u8(file.get(), 0x5A));
  EXPECT_EQ(file_position(file.get()), far + 1);
  EXPECT_EQ(file_size(file.get()), far + 1);
  ASSERT_EQ(file_seek(file.get(), far), far);
  uint8_t value = 0;
  EXPECT_TRUE(file_read_u8(file.get(), &value));
  EXPECT_EQ(value, 0x5A);
  // The low 32 bits of the position alone would land here, on a zero byte.
  ASSERT_EQ(file_seek(file.get(), far - 4 * kGiB), far - 4 * kGiB);
  EXPECT_TRUE(file_read_u8(file.get(), &value));
  EXPECT_EQ(value, 0);
  EXPECT_EQ(file_read_at(file.get(), far, &value, 1), 1u);
  EXPECT_EQ(value, 0x5A);
}

TEST_F(FilePosition, FailuresReturnBadPosition) {
  EXPECT_EQ(file_seek(kNoFile, 0), kBadPosition);
  EXPECT_EQ(file_position(kNoFile), kBadPosition);
  EXPECT_EQ(file_size(kNoFile), kBadPosition);
  EXPECT_FALSE(file_set_end(kNoFile));

  ScopedFile file(open_file(Path().c_str(), "w"));
  ASSERT_EQ(file_seek(file.get(), 3), 3u);
  EXPECT_EQ(file_seek(file.get(), kBadPosition), kBadPosition);
  EXPECT_EQ(file_seek(file.get(), 1ull << 63), kBadPosition);
  EXPECT_EQ(file_position(file.get()), 3u);
}

// A buffer whose capacity holds leftovers of an earlier use.
void FillWithLeftovers(ByteBuffer& buffer, uint32_t length) {
  ASSERT_TRUE(buffer.resize(length));
  memset(buffer.data(), 0xEE, buffer.capacity());
}

bool AllZero(const ByteBuffer& buffer, uint32_t from) {
  for (uint32_t i = from; i < buffer.capacity(); ++i) {
    if (buffer.data()[i] != 0) return false;
  }
  return true;
}

TEST_F(ReadWholeFile, ReadsExactContentAndClearsTheRest) {
  for (uint32_t size : {0u, 1u, 8191u, 8192u, 20000u}) {
    SCOPED_TRACE(size);
    const std::string content = vtest::PatternText(size);
    ASSERT_TRUE(vtest::WriteTextFile(Path(), content));
    ByteBuffer buffer;
    FillWithLeftovers(buffer, 30000);
    EXPECT_TRUE(read_whole_file(Path().c_str(), buffer));
    ASSERT_EQ(buffer.length(), size);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()), size), content);
    EXPECT_TRUE(AllZero(buffer, size));
  }
}

TEST_F(ReadWholeFile, MissingFileFailsWithEmptyBuffer) {
  ByteBuffer buffer;
  FillWithLeftovers(buffer, 100);
  EXPECT_FALSE(read_whole_file(Path("missing").c_str(), buffer));
  EXPECT_EQ(buffer.length(), 0u);
  EXPECT_TRUE(AllZero(buffer, 0));
  EXPECT_FALSE(Exists("missing"));
}

TEST_F(ReadWholeFile, FileInExclusiveUseFails) {
  ASSERT_TRUE(vtest::WriteTextFile(Path(), "hello"));
  ScopedFile owner(open_file(Path().c_str(), "a"));
  ByteBuffer buffer;
  EXPECT_FALSE(read_whole_file(Path().c_str(), buffer));
  EXPECT_EQ(buffer.length(), 0u);
}

TEST_F(ReadWholeFile, FilesOfFourGiBOrMoreFail) {
  // Sparse files whose sizes have low 32 bits of 0 and 1: neither may pass for a small file.
  for (uint64_t size : {4 * kGiB, 4 * kGiB + 1}) {
    SCOPED_TRACE(size);
    {
      ScopedFile file(open_file(Path().c_str(), "w"));
      ASSERT_EQ(file_seek(file.get(), size), size);
      ASSERT_TRUE(file_set_end(file.get()));
    }
    ByteBuffer buffer;
    Status status;
    EXPECT_FALSE(read_whole_file(Path().c_str(), buffer, &status));
    EXPECT_EQ(buffer.length(), 0u);
    EXPECT_EQ(status.code(), StatusCode::kUnsupported);
  }
}

struct CopyCase {
  uint32_t sourceSize;
  uint64_t start;  // the source's position when the copy begins
  uint64_t n;
  uint64_t copied;
};

TEST_F(CopyFileBytes, CopiesUpToNOrTheEnd) {
  const CopyCase cases[] = {
      {5000, 0, 0, 0},          {5000, 0, 5000, 5000}, {5000, 100, 4096, 4096},
      {5000, 100, 10000, 4900}, {0, 0, 10, 0},         {2048, 0, 2048, 2048},
      {2049, 0, 2049, 2049},    {4096, 4096, 1, 0},    {5000, 0, 1ull << 40, 5000},
  };
  for (const CopyCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.sourceSize << " from " << c.start << " n " << c.n);
    const std::string content = vtest::PatternText(c.sourceSize);
    ASSERT_TRUE(vtest::WriteTextFile(Path("source"), content));
    ScopedFile source(open_file(Path("source").c_str(), "r"));
    ScopedFile destination(open_file(Path("destination").c_str(), "w"));
    ASSERT_EQ(file_seek(source.get(), c.start), c.start);
    uint8_t transfer[kTransferSize];
    EXPECT_EQ(copy_file_bytes(source.get(), destination.get(), c.n, transfer), c.copied);
    EXPECT_EQ(file_position(source.get()), c.start + c.copied);
    destination.reset();
    EXPECT_EQ(vtest::ReadTextFile(Path("destination")), content.substr(c.start, c.copied));
  }
}

TEST_F(CopyFileBytes, FailedWriteEndsTheCopy) {
  ASSERT_TRUE(vtest::WriteTextFile(Path("source"), vtest::PatternText(5000)));
  ASSERT_TRUE(vtest::WriteTextFile(Path("destination"), ""));
  ScopedFile source(open_file(Path("source").c_str(), "r"));
  ScopedFile readOnly(open_file(Path("destination").c_str(), "r"));
  uint8_t transfer[kTransferSize];
  EXPECT_EQ(copy_file_bytes(source.get(), readOnly.get(), 5000, transfer), 0u);
}

}  // namespace
