#include "common/byte_reader.hpp"

#include <gtest/gtest.h>

#include <limits>

using zarn::byte_reader;

namespace {

const byte_array sample = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};

TEST(ByteReader, ReadsLittleEndianValuesInOrder) {
  byte_reader r(sample.data(), sample.size());
  u8 a = 0;
  u16 b = 0;
  u32 c = 0;
  ASSERT_TRUE(r.read_u8(a));
  ASSERT_TRUE(r.read_u16(b));
  ASSERT_TRUE(r.read_u32(c));
  EXPECT_EQ(a, 0x01);
  EXPECT_EQ(b, 0x0302);
  EXPECT_EQ(c, 0x07060504u);
  EXPECT_EQ(r.position(), 7u);
  EXPECT_EQ(r.remaining(), 2u);
}

TEST(ByteReader, ReadU64) {
  byte_reader r(sample.data(), sample.size());
  u64 v = 0;
  ASSERT_TRUE(r.read_u64(v));
  EXPECT_EQ(v, 0x0807060504030201ull);
}

// A read that does not fit consumes nothing and leaves its output untouched,
// at every length of input shorter than the value.
TEST(ByteReader, ShortReadsConsumeNothingAtEveryLength) {
  for (size_t n = 0; n < 8; ++n) {
    byte_array exact(sample.begin(), sample.begin() + static_cast<long>(n));
    byte_reader r(exact.data(), exact.size());
    u64 v64 = 0xdead;
    EXPECT_FALSE(r.read_u64(v64)) << n;
    EXPECT_EQ(v64, 0xdeadu);
    EXPECT_EQ(r.position(), 0u);
    u32 v32 = 0xbeef;
    EXPECT_EQ(r.read_u32(v32), n >= 4) << n;
    if (n < 4) {
      EXPECT_EQ(v32, 0xbeefu);
      EXPECT_EQ(r.position(), 0u);
    }
  }
}

TEST(ByteReader, BytesSkipAndSeekStopAtTheEnd) {
  byte_reader r(sample.data(), sample.size());
  std::span<const u8> view;
  EXPECT_FALSE(r.read_bytes(10, view));
  EXPECT_TRUE(view.empty());
  ASSERT_TRUE(r.read_bytes(9, view));
  EXPECT_EQ(view.size(), 9u);
  EXPECT_EQ(r.remaining(), 0u);
  EXPECT_TRUE(r.read_bytes(0, view));
  EXPECT_FALSE(r.skip(1));
  EXPECT_TRUE(r.seek(9));
  EXPECT_FALSE(r.seek(10));
  EXPECT_TRUE(r.seek(2));
  EXPECT_TRUE(r.skip(7));
  EXPECT_FALSE(r.skip(1));
}

// Lengths near UINT64_MAX must be refused, never wrap around.
TEST(ByteReader, HugeLengthsAndOffsetsAreRefused) {
  constexpr u64 max = std::numeric_limits<u64>::max();
  byte_reader r(sample.data(), sample.size());
  ASSERT_TRUE(r.skip(1));
  std::span<const u8> view;
  EXPECT_FALSE(r.read_bytes(max, view));
  EXPECT_FALSE(r.skip(max));
  EXPECT_FALSE(r.seek(max));
  EXPECT_EQ(r.position(), 1u);
  u32 v = 0;
  EXPECT_FALSE(zarn::read_u32_at(sample, max, v));
  EXPECT_FALSE(zarn::read_u32_at(sample, max - 2, v));
  EXPECT_FALSE(zarn::fits(8, 5, max));
  EXPECT_FALSE(zarn::fits(8, max, 4));
  EXPECT_TRUE(zarn::fits(8, 4, 4));
  EXPECT_FALSE(zarn::fits(8, 5, 4));
  EXPECT_TRUE(zarn::fits(0, 0, 0));
}

TEST(ByteReader, FixedOffsetReadsAtTheBoundary) {
  u16 v16 = 0;
  EXPECT_TRUE(zarn::read_u16_at(sample, 7, v16));
  EXPECT_EQ(v16, 0x0908);
  EXPECT_FALSE(zarn::read_u16_at(sample, 8, v16));
  EXPECT_EQ(v16, 0x0908);
  u64 v64 = 0;
  EXPECT_TRUE(zarn::read_u64_at(sample, 1, v64));
  EXPECT_FALSE(zarn::read_u64_at(sample, 2, v64));
  u8 v8 = 0;
  EXPECT_TRUE(zarn::read_u8_at(sample, 8, v8));
  EXPECT_EQ(v8, 0x09);
  EXPECT_FALSE(zarn::read_u8_at(sample, 9, v8));
  EXPECT_EQ(zarn::u32_at(sample, 5), 0x09080706u);
}

// A number of any width from 1 to 8 bytes, read where it fits and refused
// where it does not (or the width is no number's).
TEST(ByteReader, NumbersOfEveryWidth) {
  const u64 whole = 0x0807060504030201ull;
  for (u64 width = 1; width <= 8; ++width) {
    SCOPED_TRACE(width);
    const u64 want = width == 8 ? whole : whole & ((u64{1} << (8 * width)) - 1);
    EXPECT_EQ(zarn::le_at(sample, 0, width), want);
    u64 v = 7;
    EXPECT_TRUE(zarn::read_le_at(sample, sample.size() - width, width, v));
    EXPECT_FALSE(zarn::read_le_at(sample, sample.size() - width + 1, width, v));
  }
  u64 v = 7;
  EXPECT_FALSE(zarn::read_le_at(sample, 0, 0, v));
  EXPECT_FALSE(zarn::read_le_at(sample, 0, 9, v));
  EXPECT_EQ(v, 7u);
}

// A window sees exactly its bytes: reading past it fails even though the
// parent holds more.
TEST(ByteReader, WindowIsBoundedByItsLength) {
  byte_reader r(sample.data(), sample.size());
  byte_reader window;
  ASSERT_TRUE(r.read_window(3, window));
  EXPECT_EQ(r.position(), 3u);
  u32 v = 0;
  EXPECT_FALSE(window.read_u32(v));
  u16 w = 0;
  ASSERT_TRUE(window.read_u16(w));
  EXPECT_EQ(w, 0x0201);
  EXPECT_FALSE(r.read_window(7, window));
  EXPECT_EQ(r.position(), 3u);
}

}  // namespace

namespace {

// A caller that skipped its header check gets 0, never bytes past the span
// (debug builds stop at the bug instead).
TEST(ByteReader, FieldOutsideTheCheckedHeaderReadsNothing) {
#ifdef NDEBUG
  EXPECT_EQ(zarn::u32_at(sample, 7), 0u);
  EXPECT_EQ(zarn::u16_at(sample, 8), 0u);
  EXPECT_EQ(zarn::u64_at(sample, ~u64{0} - 3), 0u);
  EXPECT_EQ(zarn::u8_at(sample, 9), 0u);
#else
  EXPECT_DEATH((void)zarn::u32_at(sample, 7), "field outside the checked header");
#endif
}

}  // namespace
