#include "base/byte_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "tests/support/alloc_failure.h"

namespace {

bool AllZero(const uint8_t* bytes, uint32_t from, uint32_t to) {
  for (uint32_t i = from; i < to; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

void FillPattern(ByteBuffer& buffer, uint32_t n) {
  ASSERT_TRUE(buffer.resize(n));
  for (uint32_t i = 0; i < n; ++i) buffer.data()[i] = static_cast<uint8_t>(i * 7 + 1);
}

std::vector<uint8_t> Contents(const ByteBuffer& buffer) {
  return std::vector<uint8_t>(buffer.data(), buffer.data() + buffer.length());
}

TEST(ByteBuffer, NewBufferHoldsNothing) {
  ByteBuffer buffer;
  EXPECT_EQ(buffer.granule(), 8192u);
  EXPECT_EQ(buffer.length(), 0u);
  EXPECT_EQ(buffer.capacity(), 0u);
  EXPECT_EQ(buffer.data(), nullptr);

  AllocFailureScope scope;
  const bool reserved = buffer.reserve(0);
  scope.Restore();
  EXPECT_TRUE(reserved);
  EXPECT_EQ(scope.allocations(), 0u);
  EXPECT_EQ(buffer.data(), nullptr);
}

TEST(ByteBuffer, ReserveRoundsUpToWholeZeroedGranules) {
  struct Case {
    uint32_t n;
    uint32_t capacity;
  };
  const Case cases[] = {{1, 8192}, {8191, 8192}, {8192, 8192}, {8193, 16384}, {20000, 24576}};
  for (const Case& c : cases) {
    ByteBuffer buffer;
    ASSERT_TRUE(buffer.reserve(c.n)) << c.n;
    EXPECT_EQ(buffer.capacity(), c.capacity) << c.n;
    EXPECT_EQ(buffer.length(), 0u) << c.n;
    EXPECT_TRUE(AllZero(buffer.data(), 0, buffer.capacity())) << c.n;
  }
}

TEST(ByteBuffer, GrowingCarriesTheWholeOldBlockAndZeroesTheRest) {
  ByteBuffer buffer;
  ASSERT_TRUE(buffer.reserve(1));
  // Bytes past length count too: the whole old capacity is carried over.
  for (uint32_t i = 0; i < 8192; ++i) buffer.data()[i] = static_cast<uint8_t>(i | 1);
  ASSERT_TRUE(buffer.reserve(8193));
  EXPECT_EQ(buffer.capacity(), 16384u);
  bool carried = true;
  for (uint32_t i = 0; i < 8192; ++i) carried = carried && buffer.data()[i] == ((i & 0xFF) | 1);
  EXPECT_TRUE(carried);
  EXPECT_TRUE(AllZero(buffer.data(), 8192, 16384));
}

TEST(ByteBuffer, ResizeDownAndUpKeepsTheBytes) {
  ByteBuffer buffer;
  FillPattern(buffer, 10);
  ASSERT_TRUE(buffer.resize(4));
  ASSERT_TRUE(buffer.resize(10));
  EXPECT_EQ(buffer.capacity(), 8192u);
  for (uint32_t i = 4; i < 10; ++i) EXPECT_EQ(buffer.data()[i], static_cast<uint8_t>(i * 7 + 1));
}

TEST(ByteBuffer, SizesNearFourGigabytesFailInsteadOfWrapping) {
  ByteBuffer buffer;
  FillPattern(buffer, 10);
  const uint8_t* const block = buffer.data();
  // Rounded up to the granule these sizes need 2^32 bytes, which wraps to 0 in 32 bits.
  for (uint32_t n : {UINT32_MAX, UINT32_MAX - 8190}) {
    AllocFailureScope scope;
    const bool reserved = buffer.reserve(n);
    const bool resized = buffer.resize(n);
    scope.Restore();
    EXPECT_FALSE(reserved) << n;
    EXPECT_FALSE(resized) << n;
    EXPECT_EQ(scope.allocations(), 0u) << n;
    EXPECT_EQ(buffer.length(), 10u) << n;
    EXPECT_EQ(buffer.capacity(), 8192u) << n;
    EXPECT_EQ(buffer.data(), block) << n;
  }
  // The largest whole-granule size does reach the heap (which is made to refuse it here).
  AllocFailureScope scope;
  scope.FailAll();
  const bool reserved = buffer.reserve(UINT32_MAX - 8191);
  scope.Restore();
  EXPECT_FALSE(reserved);
  EXPECT_EQ(scope.allocations(), 1u);
}

TEST(ByteBuffer, ReserveForAppendDoublesAndRefusesToWrap) {
  ByteBuffer buffer;
  FillPattern(buffer, 8192);
  ASSERT_TRUE(reserve_for_append(buffer, 1));
  EXPECT_EQ(buffer.capacity(), 16384u);
  ASSERT_TRUE(reserve_for_append(buffer, 40000));
  EXPECT_EQ(buffer.capacity(), 49152u) << "more than double: the need, rounded to a granule";
  EXPECT_TRUE(reserve_for_append(buffer, 49152 - 8192));
  EXPECT_EQ(buffer.capacity(), 49152u) << "room enough already";
  EXPECT_FALSE(reserve_for_append(buffer, UINT32_MAX - 8191));
  EXPECT_EQ(buffer.length(), 8192u);
}

TEST(ByteBuffer, FailedReserveLeavesEverythingAsItWas) {
  ByteBuffer buffer;
  FillPattern(buffer, 100);
  const std::vector<uint8_t> before = Contents(buffer);
  const uint8_t* const block = buffer.data();
  AllocFailureScope scope;
  scope.FailAll();
  const bool reserved = buffer.reserve(9000);
  const bool resized = buffer.resize(9000);
  scope.Restore();
  EXPECT_FALSE(reserved);
  EXPECT_FALSE(resized);
  EXPECT_EQ(buffer.data(), block);
  EXPECT_EQ(buffer.capacity(), 8192u);
  EXPECT_EQ(buffer.length(), 100u);
  EXPECT_EQ(Contents(buffer), before);
}

TEST(ByteBuffer, AssignFromAnEmptySourceKeepsTheBlock) {
  ByteBuffer target;
  FillPattern(target, 50);
  const uint8_t* const block = target.data();
  ByteBuffer empty;
  ASSERT_TRUE(target.assign(empty));
  EXPECT_EQ(target.length(), 0u);
  EXPECT_EQ(target.data(), block);
  EXPECT_EQ(target.capacity(), 8192u);
}

TEST(ByteBuffer, FailedAssignLeavesTheTarget) {
  ByteBuffer source;
  FillPattern(source, 9000);
  ByteBuffer target;
  FillPattern(target, 20);
  const std::vector<uint8_t> before = Contents(target);
  AllocFailureScope scope;
  scope.FailAll();
  const bool assigned = target.assign(source);
  scope.Restore();
  EXPECT_FALSE(assigned);
  EXPECT_EQ(Contents(target), before);
}

TEST(ByteBuffer, ReleaseFreesAndKeepsTheGranule) {
  ByteBuffer buffer(4096);
  FillPattern(buffer, 5000);
  EXPECT_EQ(buffer.capacity(), 8192u);
  AllocFailureScope scope;
  buffer.release();
  scope.Restore();
  EXPECT_EQ(scope.frees(), 1u);
  EXPECT_EQ(buffer.data(), nullptr);
  EXPECT_EQ(buffer.length(), 0u);
  EXPECT_EQ(buffer.capacity(), 0u);
  EXPECT_EQ(buffer.granule(), 4096u);
}

// A six-byte buffer read from position 4.
TEST(ByteReader, ReadPastEndLeavesPosition) {
  ByteBuffer buffer;
  FillPattern(buffer, 6);
  ByteReader reader(buffer, 4);
  uint32_t u32 = 0xAAAAAAAA;
  EXPECT_FALSE(reader.read_u32(&u32));
  EXPECT_EQ(u32, 0xAAAAAAAAu);
  EXPECT_EQ(reader.position(), 4u);
  uint16_t u16 = 0;
  EXPECT_TRUE(reader.read_u16(&u16));
  EXPECT_EQ(reader.position(), 6u);

  uint8_t u8;
  uint64_t u64;
  uint8_t bytes[1];
  EXPECT_FALSE(reader.read_u8(&u8));
  EXPECT_FALSE(reader.read_u16(&u16));
  EXPECT_FALSE(reader.read_u32(&u32));
  EXPECT_FALSE(reader.read_u64(&u64));
  EXPECT_FALSE(reader.read_bytes(bytes, 1));
  EXPECT_EQ(reader.take_bytes(1), nullptr);
  EXPECT_FALSE(reader.skip(1));
  EXPECT_EQ(reader.position(), 6u);
  EXPECT_TRUE(reader.read_bytes(bytes, 0));
  EXPECT_EQ(reader.position(), 6u);
  EXPECT_EQ(reader.remaining(), 0u);
}

TEST(ByteReader, HugeWidthsCannotWrapPastTheBound) {
  ByteBuffer buffer;
  FillPattern(buffer, 16);
  ByteReader reader(buffer, 8);
  // position + n wraps to a small number for each of these.
  for (uint32_t n : {UINT32_MAX, UINT32_MAX - 7, UINT32_MAX - 6, 0x80000000u}) {
    EXPECT_EQ(reader.take_bytes(n), nullptr) << n;
    EXPECT_FALSE(reader.skip(n)) << n;
    EXPECT_EQ(reader.position(), 8u) << n;
  }
}

TEST(ByteReader, PositionBeyondTheLengthFailsEveryRead) {
  ByteBuffer buffer;
  FillPattern(buffer, 6);
  ByteReader reader(buffer);
  reader.set_position(10);
  uint8_t byte;
  EXPECT_EQ(reader.remaining(), 0u);
  EXPECT_FALSE(reader.read_u8(&byte));
  EXPECT_FALSE(reader.read_bytes(&byte, 0));
  EXPECT_EQ(reader.take_bytes(0), nullptr);
  EXPECT_EQ(reader.position(), 10u);
}

TEST(ByteReader, TakeNothingSucceedsWithoutABlock) {
  ByteBuffer empty;
  ByteReader reader(empty);
  EXPECT_NE(reader.take_bytes(0), nullptr);
  EXPECT_TRUE(reader.skip(0));
  EXPECT_TRUE(reader.read_bytes(nullptr, 0));
  EXPECT_EQ(reader.position(), 0u);
  uint8_t byte;
  EXPECT_FALSE(reader.read_u8(&byte));
}

TEST(ByteReader, FollowsTheBufferWhenItGrows) {
  ByteBuffer buffer;
  ByteWriter writer(buffer);
  ByteReader reader(buffer);
  ASSERT_TRUE(writer.write_u32(1));
  uint32_t value = 0;
  ASSERT_TRUE(reader.read_u32(&value));
  std::vector<uint8_t> filler(10000, 0xEE);
  ASSERT_TRUE(writer.write_bytes(filler.data(), 10000));
  ASSERT_TRUE(writer.write_u32(0xCAFEF00D));
  EXPECT_TRUE(reader.skip(10000));
  EXPECT_TRUE(reader.read_u32(&value));
  EXPECT_EQ(value, 0xCAFEF00Du);
}

TEST(ByteWriter, StoresLowBytesFirst) {
  ByteBuffer buffer;
  ByteWriter writer(buffer);
  ASSERT_TRUE(writer.write_u8(0x01));
  ASSERT_TRUE(writer.write_u16(0x0302));
  ASSERT_TRUE(writer.write_u32(0x07060504));
  ASSERT_TRUE(writer.write_u64(0x0F0E0D0C0B0A0908ull));
  const std::vector<uint8_t> expected = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  EXPECT_EQ(Contents(buffer), expected);
}

TEST(ByteWriter, NullSourceSucceedsOnlyForNothing) {
  ByteBuffer buffer;
  ByteWriter writer(buffer);
  EXPECT_TRUE(writer.write_bytes(nullptr, 0));
  EXPECT_FALSE(writer.write_bytes(nullptr, 3));
  EXPECT_EQ(buffer.length(), 0u);
  EXPECT_EQ(buffer.data(), nullptr);
}

TEST(ByteWriter, FailedWriteLeavesTheLength) {
  ByteBuffer buffer;
  FillPattern(buffer, 8192);  // full: the next byte needs a new granule
  const uint8_t* const block = buffer.data();
  const std::vector<uint8_t> before = Contents(buffer);
  ByteWriter writer(buffer);
  const uint8_t bytes[3] = {1, 2, 3};
  AllocFailureScope scope;
  scope.FailAll();
  const bool results[] = {writer.write_u8(1), writer.write_u16(1), writer.write_u32(1),
                          writer.write_u64(1), writer.write_bytes(bytes, 3)};
  scope.Restore();
  for (bool result : results) EXPECT_FALSE(result);
  EXPECT_EQ(buffer.length(), 8192u);
  EXPECT_EQ(buffer.data(), block);
  EXPECT_EQ(Contents(buffer), before);
}

TEST(ByteWriter, AppendsFromItsOwnBufferWhileGrowing) {
  ByteBuffer buffer;
  FillPattern(buffer, 8192);
  const std::vector<uint8_t> half = Contents(buffer);
  ByteWriter writer(buffer);
  ASSERT_TRUE(writer.write_bytes(buffer.data(), 8192));
  ASSERT_EQ(buffer.length(), 16384u);
  EXPECT_EQ(std::memcmp(buffer.data(), half.data(), 8192), 0);
  EXPECT_EQ(std::memcmp(buffer.data() + 8192, half.data(), 8192), 0);
}

// A record of every width, as the format readers decode them.
struct Record {
  uint8_t a;
  uint16_t b;
  uint32_t c;
  uint64_t d;
  uint8_t e[3];
};
constexpr uint32_t kFieldEnds[] = {1, 3, 7, 15, 18};  // byte offset after each field

bool WriteRecord(ByteWriter& writer, const Record& r) {
  return writer.write_u8(r.a) && writer.write_u16(r.b) && writer.write_u32(r.c) &&
         writer.write_u64(r.d) && writer.write_bytes(r.e, 3);
}

// Reads field after field; returns how many were read and leaves the others untouched.
int ReadRecord(ByteReader& reader, Record* r) {
  if (!reader.read_u8(&r->a)) return 0;
  if (!reader.read_u16(&r->b)) return 1;
  if (!reader.read_u32(&r->c)) return 2;
  if (!reader.read_u64(&r->d)) return 3;
  if (!reader.read_bytes(r->e, 3)) return 4;
  return 5;
}

const Record kSample = {0x81, 0x8382, 0x87868584, 0x8F8E8D8C8B8A8988ull, {0x90, 0x91, 0x92}};

bool SameRecord(const Record& x, const Record& y) {
  return x.a == y.a && x.b == y.b && x.c == y.c && x.d == y.d && std::memcmp(x.e, y.e, 3) == 0;
}

TEST(ByteReader, RoundTripOfEveryWidth) {
  ByteBuffer buffer;
  ByteWriter writer(buffer);
  const Record extremes = {0xFF, 0xFFFF, 0xFFFFFFFF, UINT64_MAX, {0xFF, 0, 0xFF}};
  const Record zeros = {};
  ASSERT_TRUE(WriteRecord(writer, kSample));
  ASSERT_TRUE(WriteRecord(writer, extremes));
  ASSERT_TRUE(WriteRecord(writer, zeros));
  ByteReader reader(buffer);
  for (const Record& expected : {kSample, extremes, zeros}) {
    Record read = {};
    ASSERT_EQ(ReadRecord(reader, &read), 5);
    EXPECT_TRUE(SameRecord(read, expected));
  }
  EXPECT_EQ(reader.remaining(), 0u);
}

TEST(ByteReader, TruncationAtEveryLength) {
  ByteBuffer full;
  ByteWriter writer(full);
  ASSERT_TRUE(WriteRecord(writer, kSample));
  ASSERT_EQ(full.length(), 18u);
  for (uint32_t cut = 0; cut <= full.length(); ++cut) {
    ByteBuffer truncated;
    ASSERT_TRUE(truncated.assign(full));
    ASSERT_TRUE(truncated.resize(cut));
    ByteReader reader(truncated);
    Record read = {};
    const int fields = ReadRecord(reader, &read);
    int expectedFields = 0;
    while (expectedFields < 5 && kFieldEnds[expectedFields] <= cut) ++expectedFields;
    EXPECT_EQ(fields, expectedFields) << "cut at " << cut;
    // The failed read left the position at the start of its field.
    EXPECT_EQ(reader.position(), fields == 0 ? 0u : kFieldEnds[fields - 1]) << "cut at " << cut;
  }
}

TEST(ByteReader, DamagedByteChangesOnlyItsField) {
  ByteBuffer original;
  ByteWriter writer(original);
  ASSERT_TRUE(WriteRecord(writer, kSample));
  for (uint32_t i = 0; i < original.length(); ++i) {
    ByteBuffer damaged;
    ASSERT_TRUE(damaged.assign(original));
    damaged.data()[i] ^= 0x5A;
    ByteReader reader(damaged);
    Record read = {};
    ASSERT_EQ(ReadRecord(reader, &read), 5);
    const bool changed[] = {read.a != kSample.a, read.b != kSample.b, read.c != kSample.c,
                            read.d != kSample.d, std::memcmp(read.e, kSample.e, 3) != 0};
    for (int field = 0; field < 5; ++field) {
      const bool inField = i < kFieldEnds[field] && (field == 0 || i >= kFieldEnds[field - 1]);
      EXPECT_EQ(changed[field], inField) << "byte " << i << ", field " << field;
    }
  }
}

TEST(U16Array, ReserveRoundsUpTo128Elements) {
  struct Case {
    uint32_t count;
    uint32_t capacity;
  };
  const Case cases[] = {{0, 0},     {1, 128},   {128, 128}, {129, 256},
                        {255, 256}, {256, 256}, {300, 384}};
  for (const Case& c : cases) {
    U16Array array;
    ASSERT_TRUE(array.reserve(c.count)) << c.count;
    EXPECT_EQ(array.capacity(), c.capacity) << c.count;
    EXPECT_EQ(array.data() == nullptr, c.capacity == 0) << c.count;
    bool zero = true;
    for (uint32_t i = 0; i < array.capacity(); ++i) zero = zero && array.data()[i] == 0;
    EXPECT_TRUE(zero) << c.count;
  }
}

TEST(U16Array, GrowingKeepsTheElementsAndZeroesTheNewOnes) {
  U16Array array;
  ASSERT_TRUE(array.reserve(128));
  for (uint32_t i = 0; i < 128; ++i) array.data()[i] = static_cast<uint16_t>(0x8000 + i);
  ASSERT_TRUE(array.reserve(129));
  EXPECT_EQ(array.capacity(), 256u);
  bool kept = true;
  for (uint32_t i = 0; i < 128; ++i) kept = kept && array.data()[i] == 0x8000 + i;
  bool zero = true;
  for (uint32_t i = 128; i < 256; ++i) zero = zero && array.data()[i] == 0;
  EXPECT_TRUE(kept);
  EXPECT_TRUE(zero);
}

TEST(U16Array, FailuresLeaveTheArray) {
  U16Array array;
  ASSERT_TRUE(array.reserve(10));
  array.data()[0] = 77;
  const uint16_t* const block = array.data();
  AllocFailureScope scope;
  scope.FailAll();
  const bool failed = array.reserve(1000);
  scope.FailNone();
  const bool huge = array.reserve(0x80000000u);  // 2^32 bytes
  scope.Restore();
  EXPECT_FALSE(failed);
  EXPECT_FALSE(huge);
  EXPECT_EQ(scope.allocations(), 1u);  // the huge size never reaches the heap
  EXPECT_EQ(array.data(), block);
  EXPECT_EQ(array.capacity(), 128u);
  EXPECT_EQ(array.data()[0], 77);

  array.release();
  EXPECT_EQ(array.data(), nullptr);
  EXPECT_EQ(array.capacity(), 0u);
}

// Counts constructions and destructions so that the array's element handling can be checked.
struct Tracked {
  static int constructed;
  static int destroyed;
  Tracked() : value(42) { ++constructed; }
  ~Tracked() { ++destroyed; }
  int value;
};
int Tracked::constructed = 0;
int Tracked::destroyed = 0;

TEST(TCountedArray, ConstructsAndDestroysEveryElement) {
  Tracked::constructed = 0;
  Tracked::destroyed = 0;
  {
    TCountedArray<Tracked> array;
    ASSERT_TRUE(array.allocate(5));
    EXPECT_EQ(array.count(), 5u);
    EXPECT_EQ(Tracked::constructed, 5);
    EXPECT_EQ(array[4].value, 42);
    ASSERT_TRUE(array.allocate(2));  // releases the first five
    EXPECT_EQ(Tracked::destroyed, 5);
  }
  EXPECT_EQ(Tracked::constructed, 7);
  EXPECT_EQ(Tracked::destroyed, 7);
}

TEST(TCountedArray, ByteSizesBeyond32BitsFailWithoutAllocating) {
  TCountedArray<uint64_t> array;
  ASSERT_TRUE(array.allocate(1));
  AllocFailureScope scope;
  const bool wraps = array.allocate(UINT32_MAX / 8);  // 8 * count + header passes 2^32
  const bool max = array.allocate(UINT32_MAX);
  scope.Restore();
  EXPECT_FALSE(wraps);
  EXPECT_FALSE(max);
  EXPECT_EQ(scope.allocations(), 0u);
  EXPECT_EQ(array.count(), 0u);
}

TEST(TCountedArray, AllocationFailureConstructsNothing) {
  Tracked::constructed = 0;
  TCountedArray<Tracked> array;
  AllocFailureScope scope;
  scope.FailAll();
  const bool allocated = array.allocate(3);
  scope.Restore();
  EXPECT_FALSE(allocated);
  EXPECT_EQ(array.count(), 0u);
  EXPECT_EQ(Tracked::constructed, 0);
}

}  // namespace
