#include "manifest/manifest_file.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "driver/run_context.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/buffer_bytes.h"
#include "tests/support/bytes.h"
#include "tests/support/game_format.h"
#include "tests/support/scratch_dir.h"

namespace {

using vtest::BufferBytes;
using vtest::Bytes;
using vtest::SetBuffer;

using Sections = std::array<Bytes, 5>;

// Distinct contents and sizes, one of them empty, so that a section read from the wrong place or
// with the wrong size shows.
Sections SampleSections() {
  return {vtest::MakeData(300, 1), vtest::MakeData(17, 2), Bytes(), vtest::MakeData(1, 4),
          vtest::MakeData(64, 5)};
}

Sections ContextSections(const RunContext& context) {
  Sections sections;
  for (int i = 0; i < ManifestSections::kCount; ++i) {
    sections[i] = BufferBytes(context.manifestSections[i]);
  }
  return sections;
}

uint32_t HeaderField(const Bytes& file, int field) { return vtest::GetU32(file, 4 * field); }

class ManifestFile : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  // Writes bytes to a file of the scratch directory and reads it as a manifest.
  bool ReadBytes(const Bytes& file) {
    const std::string path = PathOf("in.bin");
    EXPECT_TRUE(vtest::WriteFile(path, file));
    return read_manifest(context_, path.c_str());
  }

  Bytes WriteBack() {
    const std::string path = PathOf("out.bin");
    EXPECT_TRUE(write_manifest(context_, path.c_str()));
    return vtest::ReadFile(path).value_or(Bytes());
  }

  vtest::ScratchDir dir_;
  RunContext context_;
};

TEST_F(ManifestFile, LayoutsAreReadAndWrittenBackContiguously) {
  struct Case {
    const char* what;
    vtest::ManifestLayout layout;
  };
  const Case cases[] = {
      {"the tool's own layout", {}},
      {"reverse order", {13, {4, 3, 2, 1, 0}, {}}},
      {"gaps", {13, {0, 1, 2, 3, 4}, {5, 0, 9, 1, 2}}},
      {"reverse order with gaps", {13, {4, 3, 2, 1, 0}, {3, 3, 3, 3, 3}}},
      {"mixed order", {13, {2, 0, 4, 1, 3}, {0, 7, 0, 0, 1}}},
      {"version 12", {12, {0, 1, 2, 3, 4}, {}}},
      {"version 14", {14, {0, 1, 2, 3, 4}, {}}},
  };
  const Sections sections = SampleSections();
  const Bytes expected = vtest::EncodeManifest(sections);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(ReadBytes(vtest::EncodeManifest(sections, c.layout)));
    EXPECT_EQ(ContextSections(context_), sections);
    EXPECT_EQ(WriteBack(), expected);
  }
}

TEST_F(ManifestFile, WrittenHeaderHasVersion13AndContiguousOffsets) {
  const Sections sections = {Bytes(10, 1), Bytes(), Bytes(5, 3), Bytes(), Bytes()};
  for (int i = 0; i < ManifestSections::kCount; ++i) {
    ASSERT_TRUE(SetBuffer(context_.manifestSections[i], sections[i]));
  }
  const Bytes file = WriteBack();
  ASSERT_EQ(file.size(), 44u + 15u);
  const uint32_t expectedFields[11] = {13, 44, 54, 54, 59, 59, 10, 0, 5, 0, 0};
  for (int field = 0; field < 11; ++field) {
    EXPECT_EQ(HeaderField(file, field), expectedFields[field]) << "field " << field;
  }
}

TEST_F(ManifestFile, TruncationAtEveryLengthFails) {
  const Sections sections = SampleSections();
  const vtest::ManifestLayout layouts[] = {{}, {13, {4, 3, 2, 1, 0}, {}}};
  for (const vtest::ManifestLayout& layout : layouts) {
    const Bytes file = vtest::EncodeManifest(sections, layout);
    ASSERT_TRUE(ReadBytes(file));
    for (size_t length = 0; length < file.size(); ++length) {
      SCOPED_TRACE(length);
      context_.failure.Clear();
      EXPECT_FALSE(ReadBytes(Bytes(file.begin(), file.begin() + length)));
      EXPECT_EQ(context_.failure.code(), StatusCode::kCorrupt);
      if (length < 44) {
        EXPECT_STREQ(context_.failure.what(), "not a manifest: shorter than the 44-byte header");
      } else {
        EXPECT_NE(std::strstr(context_.failure.what(), "runs past the end of the file"), nullptr);
      }
    }
  }
}

TEST_F(ManifestFile, SectionOutsideTheFileFails) {
  const Bytes good = vtest::EncodeManifest(SampleSections());
  const uint32_t fileSize = static_cast<uint32_t>(good.size());
  struct Case {
    const char* what;
    uint32_t offset;
    uint32_t size;
  };
  const Case cases[] = {
      {"one byte past the end", fileSize - 16, 17},
      {"starts at the end", fileSize, 1},
      {"starts past the end", fileSize + 1, 1},
      {"size of the whole file from offset 1", 1, fileSize},
      {"offset and size wrap around 32 bits", 0xFFFFFFF0u, 0x20},
      {"huge size", 44, 0xFFFFFF00u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes file = good;
    vtest::SetU32(file, 4 + 4 * 3, c.offset);
    vtest::SetU32(file, 24 + 4 * 3, c.size);
    EXPECT_FALSE(ReadBytes(file));
    EXPECT_STREQ(context_.failure.what(),
                 "not a manifest: section 3 runs past the end of the file");
  }
}

TEST_F(ManifestFile, HugeDeclaredSectionIsNotAllocated) {
  Bytes file = vtest::EncodeManifest(SampleSections());
  vtest::SetU32(file, 24, 0xFFFFFFF0u);
  const std::string path = PathOf("huge.bin");
  ASSERT_TRUE(vtest::WriteFile(path, file));
  AllocFailureScope probe;
  probe.FailAtOrAbove(vtest::kModestAllocation);
  const bool ok = read_manifest(context_, path.c_str());
  probe.Restore();
  EXPECT_FALSE(ok);
  EXPECT_EQ(probe.failed(), 0u);
}

TEST_F(ManifestFile, EmptySectionMayNameAnyOffset) {
  Bytes file = vtest::EncodeManifest(SampleSections());
  vtest::SetU32(file, 4 + 4 * 2, 0xFFFFFFFFu);
  ASSERT_TRUE(ReadBytes(file));
  EXPECT_EQ(ContextSections(context_), SampleSections());
}

TEST_F(ManifestFile, DamagedHeaderIsReadAsDeclaredOrRefused) {
  const Bytes good =
      vtest::EncodeManifest(SampleSections(), {13, {4, 3, 2, 1, 0}, {2, 0, 1, 0, 0}});
  const uint8_t values[] = {0x00, 0x01, 0x80, 0xFF};
  for (size_t position = 0; position < vtest::kManifestHeaderSize; ++position) {
    for (uint8_t value : values) {
      Bytes file = good;
      file[position] = value;
      if (!ReadBytes(file)) continue;
      // Whatever the damage, what was read is exactly what the header now declares.
      for (int i = 0; i < ManifestSections::kCount; ++i) {
        const uint32_t offset = HeaderField(file, 1 + i);
        const uint32_t size = HeaderField(file, 6 + i);
        SCOPED_TRACE(testing::Message()
                     << "byte " << position << " = " << int{value} << ", section " << i);
        ASSERT_EQ(context_.manifestSections[i].length(), size);
        if (size == 0) continue;
        EXPECT_EQ(BufferBytes(context_.manifestSections[i]),
                  Bytes(file.begin() + offset, file.begin() + offset + size));
      }
    }
  }
}

TEST_F(ManifestFile, SecondReadReplacesEverySection) {
  ASSERT_TRUE(ReadBytes(vtest::EncodeManifest(SampleSections())));
  const Sections smaller = {Bytes(3, 9), Bytes(), Bytes(1, 8), Bytes(2, 7), Bytes()};
  ASSERT_TRUE(ReadBytes(vtest::EncodeManifest(smaller)));
  EXPECT_EQ(ContextSections(context_), smaller);
}

TEST_F(ManifestFile, MissingFileFails) {
  EXPECT_FALSE(read_manifest(context_, PathOf("absent.bin").c_str()));
  EXPECT_EQ(context_.failure.code(), StatusCode::kNotFound);
  EXPECT_EQ(context_.failure.path(), PathOf("absent.bin"));
}

TEST_F(ManifestFile, UncreatableFileFails) {
  EXPECT_FALSE(write_manifest(context_, PathOf("no-such-dir/manifest.bin").c_str()));
  EXPECT_EQ(context_.failure.code(), StatusCode::kIoError);
  EXPECT_STREQ(context_.failure.what(), "cannot create");
  EXPECT_NE(context_.failure.system_error(), 0u);
}

}  // namespace
