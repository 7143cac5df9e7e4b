#include "package/entry_compression.h"

#include <gtest/gtest.h>

#include <string>

#include "base/byte_buffer.h"
#include "base/file.h"
#include "tests/support/bytes.h"
#include "tests/support/game_format.h"
#include "tests/support/scratch_dir.h"

namespace {

using vtest::Bytes;

// The tests' zlib streams, on the one thread they run on.
ZlibStreams& Streams() {
  static ZlibStreams streams;
  return streams;
}

Bytes ToBytes(const ByteBuffer& buffer) {
  return Bytes(buffer.data(), buffer.data() + buffer.length());
}

void Fill(ByteBuffer& buffer, const Bytes& bytes) {
  ASSERT_TRUE(buffer.resize(static_cast<uint32_t>(bytes.size())));
  for (size_t i = 0; i < bytes.size(); ++i) buffer.data()[i] = bytes[i];
}

// Writes fileBytes to a scratch file and inflates the block at position at.
class BlockFile {
 public:
  bool Inflate(const Bytes& fileBytes, ByteBuffer& output, uint64_t at = 0) {
    const std::string path = (dir_ / "block.bin").string();
    if (!vtest::WriteFile(path, fileBytes)) return false;
    ScopedFile file(open_file(path.c_str(), "r"));
    if (!file.is_open()) return false;
    return inflate_entry(Streams(), file.get(), at, fileBytes.size(), output);
  }

 private:
  vtest::ScratchDir dir_;
};

// A compressed block as this system writes it: the raw size, then deflate_entry's stream.
Bytes StoredBlock(const Bytes& raw) {
  ByteBuffer input;
  ByteBuffer stream;
  Fill(input, raw);
  EXPECT_TRUE(deflate_entry(Streams(), input, stream));
  Bytes block;
  vtest::PutU32(block, static_cast<uint32_t>(raw.size()));
  vtest::PutBytes(block, ToBytes(stream));
  return block;
}

TEST(DeflateEntry, EmptyInputIsOneEmptyStoredBlock) {
  ByteBuffer input;
  ByteBuffer output;
  ASSERT_TRUE(deflate_entry(Streams(), input, output));
  // Header at level 0, a final stored block of length 0, Adler-32 of nothing (1).
  const Bytes expected = {0x78, 0x01, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01};
  EXPECT_EQ(ToBytes(output), expected) << vtest::Hex(ToBytes(output));
}

TEST(DeflateEntry, StreamsAreStoredAndRoundTrip) {
  BlockFile file;
  for (size_t size : {1u, 100u, 8191u, 8192u, 65535u, 65536u, 200000u}) {
    SCOPED_TRACE(size);
    const Bytes raw = vtest::MakeData(size, size);
    const Bytes block = StoredBlock(raw);
    ASSERT_GE(block.size(), 6u);
    EXPECT_EQ(block[4], 0x78);
    EXPECT_EQ(block[5], 0x01);
    // Stored blocks cost 5 bytes per block of at most 64 KiB, plus the 6-byte wrapper.
    const size_t streamSize = block.size() - 4;
    EXPECT_GT(streamSize, size);
    EXPECT_LE(streamSize, size + 6 + 5 * (size / 16384 + 1));
    ByteBuffer output;
    ASSERT_TRUE(file.Inflate(block, output));
    EXPECT_EQ(ToBytes(output), raw);
  }
}

TEST(DeflateEntry, ReusedOutputKeepsOnlyTheNewStream) {
  ByteBuffer input;
  ByteBuffer output;
  Fill(input, vtest::MakeData(50000, 7));
  ASSERT_TRUE(deflate_entry(Streams(), input, output));
  const uint32_t longLength = output.length();
  Fill(input, Bytes{1, 2, 3});
  ASSERT_TRUE(deflate_entry(Streams(), input, output));
  EXPECT_LT(output.length(), longLength);
  EXPECT_EQ(output.length(), 2u + 5u + 3u + 4u);
}

// Collects what deflate_to hands out.
class Collect : public StreamOutput {
 public:
  bool Put(const uint8_t* bytes, uint32_t n) override {
    bytes_.insert(bytes_.end(), bytes, bytes + n);
    return true;
  }
  Bytes bytes_;
};

TEST(DeflateTo, MakesTheStreamOfOneCallPieceByPiece) {
  // Around the 65535-byte stored block and the four blocks of a piece.
  for (size_t size : {0u, 1u, 65534u, 65535u, 65536u, 262139u, 262140u, 262141u, 1000000u}) {
    SCOPED_TRACE(size);
    ByteBuffer input;
    ByteBuffer whole;
    Fill(input, vtest::MakeData(size, 5));
    ASSERT_TRUE(deflate_entry(Streams(), input, whole));
    Collect pieces;
    uint64_t streamSize = 0;
    ASSERT_TRUE(deflate_to(Streams(), input, pieces, &streamSize));
    EXPECT_EQ(pieces.bytes_, ToBytes(whole));
    EXPECT_EQ(streamSize, whole.length());
  }
}

TEST(InflateEntry, AcceptsEveryZlibLevel) {
  BlockFile file;
  const Bytes raw = vtest::MakeData(30000, 3);
  for (int level : {0, 1, 6, 9}) {
    SCOPED_TRACE(level);
    ByteBuffer output;
    ASSERT_TRUE(file.Inflate(vtest::MakeBlock(raw, level), output));
    EXPECT_EQ(ToBytes(output), raw);
  }
}

TEST(InflateEntry, EmptyBlock) {
  BlockFile file;
  ByteBuffer output;
  ASSERT_TRUE(file.Inflate(vtest::MakeBlock({}, 9), output));
  EXPECT_EQ(output.length(), 0u);
  ASSERT_TRUE(file.Inflate(StoredBlock({}), output));
  EXPECT_EQ(output.length(), 0u);
}

TEST(InflateEntry, BlockInsideAndAtTheEndOfAFile) {
  BlockFile file;
  const Bytes raw = vtest::MakeData(20000, 11);
  const Bytes block = vtest::MakeBlock(raw, 9);
  // Leading junk, so that the last 8192-byte read is short and ends with the file.
  Bytes atEnd(10001, 0xA5);
  vtest::PutBytes(atEnd, block);
  ByteBuffer output;
  ASSERT_TRUE(file.Inflate(atEnd, output, 10001));
  EXPECT_EQ(ToBytes(output), raw);
  // Followed by more data, which the reads may pass over.
  Bytes inside = block;
  vtest::PutBytes(inside, vtest::MakeData(20000, 12));
  ASSERT_TRUE(file.Inflate(inside, output));
  EXPECT_EQ(ToBytes(output), raw);
}

TEST(InflateEntry, TruncationAtEveryLengthFails) {
  BlockFile file;
  const Bytes block = vtest::MakeBlock(vtest::MakeData(400, 5), 9);
  for (size_t cut = 0; cut < block.size(); ++cut) {
    ByteBuffer output;
    EXPECT_FALSE(file.Inflate(Bytes(block.begin(), block.begin() + cut), output)) << cut;
  }
}

TEST(InflateEntry, DamagedByteFailsOrChangesNothing) {
  BlockFile file;
  const Bytes raw = vtest::MakeData(300, 6);
  for (int level : {0, 9}) {
    const Bytes block = vtest::MakeBlock(raw, level);
    // Every bit flip after the size prefix: header check, deflate data, Adler-32. A flip in a
    // bit that the decoder never uses (padding, an unused code length) may pass, but it can
    // never yield other bytes.
    for (size_t at = 4; at < block.size(); ++at) {
      for (uint8_t bit : {0x01, 0x80}) {
        Bytes damaged = block;
        damaged[at] ^= bit;
        ByteBuffer output;
        if (file.Inflate(damaged, output)) {
          EXPECT_EQ(ToBytes(output), raw)
              << "level " << level << " byte " << at << " bit " << int{bit};
        }
      }
    }
    // The header and the Adler-32 are always checked.
    for (size_t at : {size_t{4}, size_t{5}, block.size() - 4, block.size() - 1}) {
      Bytes damaged = block;
      damaged[at] ^= 0x01;
      ByteBuffer output;
      EXPECT_FALSE(file.Inflate(damaged, output)) << "level " << level << " byte " << at;
    }
  }
}

TEST(InflateEntry, WrongAdlerFails) {
  BlockFile file;
  Bytes block = StoredBlock(vtest::MakeData(1000, 8));
  block.back() ^= 0x10;
  ByteBuffer output;
  EXPECT_FALSE(file.Inflate(block, output));
}

TEST(InflateEntry, RawSizeDifferentFromTheStreamFails) {
  BlockFile file;
  // Large enough that the stream spans several 8192-byte reads.
  const Bytes raw = vtest::MakeData(40000, 9);
  const Bytes stream = vtest::Deflate(raw, 0);
  struct Case {
    const char* what;
    uint32_t declared;
  } cases[] = {
      {"ends before the raw size", 40001},     {"far short of the raw size", 80000},
      {"one byte beyond the raw size", 39999}, {"far beyond the raw size", 100},
      {"beyond a raw size of 0", 0},
  };
  for (const Case& c : cases) {
    Bytes block;
    vtest::PutU32(block, c.declared);
    vtest::PutBytes(block, stream);
    ByteBuffer output;
    EXPECT_FALSE(file.Inflate(block, output)) << c.what;
  }
}

TEST(InflateEntry, ImpossibleRawSizeFailsBeforeAllocating) {
  BlockFile file;
  Bytes block;
  vtest::PutU32(block, 0xFFFFFFF0u);
  vtest::PutBytes(block, vtest::Deflate(vtest::MakeData(100, 1), 9));
  ByteBuffer output;
  EXPECT_FALSE(file.Inflate(block, output));
  EXPECT_EQ(output.capacity(), 0u);
}

TEST(InflateEntry, HighlyCompressedBlockWithinTheRatioLimit) {
  BlockFile file;
  // Zeros compress close to the deflate limit; the size check must still let them through.
  const Bytes raw(4 << 20, 0);
  ByteBuffer output;
  ASSERT_TRUE(file.Inflate(vtest::MakeBlock(raw, 9), output));
  EXPECT_EQ(output.length(), raw.size());
}

TEST(InflateEntry, WorksAgainAfterAFailure) {
  BlockFile file;
  Bytes bad = vtest::MakeBlock(vtest::MakeData(5000, 2), 9);
  bad[bad.size() / 2] ^= 0x55;
  ByteBuffer output;
  EXPECT_FALSE(file.Inflate(bad, output));
  const Bytes raw = vtest::MakeData(5000, 4);
  ASSERT_TRUE(file.Inflate(vtest::MakeBlock(raw, 9), output));
  EXPECT_EQ(ToBytes(output), raw);
}

}  // namespace
