#include "etl/etl_headers.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <map>

#include "common/byte_reader.hpp"
#include "common/zarn_time.hpp"
#include "support/log_builder.hpp"
#include "support/samples.hpp"

using namespace logbuild;

namespace {

constexpr u64 u64_max = std::numeric_limits<u64>::max();
constexpr u64 ft_1900 = 94354848000000000ull;
constexpr u64 ft_1970 = 116444736000000000ull;
constexpr u64 ft_3001 = 441796896000000000ull;

// Runs the record test of `kind` with the 0x9000 variant unfixed.
bool record_test(record_kind kind, std::span<const u8> rec, bool range_known = false, u64 start = 0,
                 u64 end = 0) {
  switch (kind) {
    case record_kind::trace_9000_28: return is_trace_header_9000_28(rec, range_known, start, end, 0);
    case record_kind::trace_9000_24: return is_trace_header_9000_24(rec, range_known, start, end, 0);
    case record_kind::event_header: return is_event_header(rec, range_known, start, end);
    case record_kind::trace_c00a: return is_trace_header_c00a(rec, range_known, start, end);
    case record_kind::trace_c011: return is_trace_header_c011(rec, range_known, start, end);
    case record_kind::trace_c002: return is_trace_header_c002(rec, range_known, start, end);
    case record_kind::generic: return is_generic_trace_header(rec);
  }
  return false;
}

constexpr record_kind all_kinds[] = {record_kind::trace_9000_28, record_kind::trace_9000_24,
                                     record_kind::event_header,  record_kind::trace_c00a,
                                     record_kind::trace_c011,    record_kind::trace_c002};

// A record of the row's type code with no payload: exactly the row's minimum
// size, time ft_2020 + small.
byte_array minimal_record(const record_kind_row& row) {
  switch (row.kind) {
    case record_kind::trace_9000_28: return build_record(record_9000{.variant = 28, .payload = {}});
    case record_kind::trace_9000_24: return build_record(record_9000{.variant = 24, .payload = {}});
    case record_kind::event_header:
    case record_kind::trace_c00a:
      return build_record(record_event{.type_code = row.type_code, .payload = {}});
    case record_kind::trace_c011:
    case record_kind::trace_c002:
      return build_record(record_generic{.type_code = row.type_code, .payload = {}});
    case record_kind::generic:
      return build_record(record_generic{.type_code = 0x2002, .payload = {}});
  }
  return {};
}

// ---- FILETIME validity ----

TEST(ValidFiletime, Boundaries) {
  struct row {
    const char* name;
    u64 ft;
    bool valid;
  };
  const row rows[] = {
      {"Zero", 0, false},
      {"One", 1, false},
      {"LastTickOf1899", ft_1900 - 1, false},
      {"First1900", ft_1900, true},
      {"First1970", ft_1970, false},
      {"LastTickOfFirstSecond1970", ft_1970 + 9999999, false},
      {"Second1Of1970", ft_1970 + 10000000, true},
      {"Year2020", ft_2020, true},
      {"LastTickOf3000", ft_3001 - 1, true},
      {"First3001", ft_3001, false},
      {"TopBitSet", 0x8000000000000000ull | ft_2020, false},
      {"AllOnes", u64_max, false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(zarn::is_valid_filetime(r.ft), r.valid);
    EXPECT_EQ(zarn::time(r.ft, zarn::type_time::filetime).is_valid(), r.valid);
  }
  // the same answer as the time value over the whole range of the type
  for (u64 ft = 0; ft < u64_max - (u64{1} << 50); ft += (u64{1} << 50) + 12345678901ull) {
    EXPECT_EQ(zarn::is_valid_filetime(ft), zarn::time(ft, zarn::type_time::filetime).is_valid()) << ft;
  }
}

// ---- file kinds ----

struct file_case {
  const char* name;
  byte_array head;  // the 386 bytes held
  u64 file_size;
  etl_file_kind_t kind;
};

byte_array head_of(const byte_array& b) {
  byte_array h = b;
  h.resize(386, 0);
  return h;
}

std::vector<file_case> file_cases() {
  const byte_array logfile = head_of(build_logfile_first_buffer({.first_buffer_size = 0x1000}));
  const byte_array rlfs = head_of(build_rlfs_header({}));
  std::vector<file_case> c;
  c.push_back({"LogfileFirstBufferFitsFile", logfile, 0x1000, etl_file_kind_t::logfile_header});
  c.push_back({"LogfileFirstBufferOneBeyondFile", logfile, 0xFFF, etl_file_kind_t::not_etl});
  c.push_back({"LogfileFileOf4GiB", logfile, u64{1} << 32, etl_file_kind_t::logfile_header});
  c.push_back({"FileOf385Bytes", logfile, 385, etl_file_kind_t::not_etl});
  c.push_back({"ZeroedFileOf386Bytes", byte_array(386, 0), 386, etl_file_kind_t::zeroed});
  c.push_back({"ZeroedFileOf385Bytes", byte_array(386, 0), 385, etl_file_kind_t::not_etl});
  c.push_back({"RlfsHeader", rlfs, 0x10000, etl_file_kind_t::rlfs});
  {
    // a real-time backup file of one small buffer is shorter than 386 bytes:
    // an "RlFs" file needs only its own header
    byte_array h = rlfs;
    set_u64(h, 48, 72);  // header length: the fixed part alone
    c.push_back({"RlfsFileOfItsHeaderAlone", h, 72, etl_file_kind_t::rlfs});
    c.push_back({"RlfsFileShorterThanItsHeader", h, 71, etl_file_kind_t::not_etl});
  }
  // the magic read as a first-buffer size is 0x73466C52 bytes: a file that
  // large must still be an "RlFs" file
  c.push_back({"RlfsOnFileLargerThanMagic", rlfs, 0x80000000ull, etl_file_kind_t::rlfs});
  {
    byte_array h = rlfs;
    set_u64(h, 16, 12345);  // not a FILETIME
    c.push_back({"RlfsBadTimeLargeFile", h, 0x80000000ull, etl_file_kind_t::not_etl});
  }
  {
    byte_array h = rlfs;
    set_u64(h, 48, 0x10001);  // header length one beyond the file
    c.push_back({"RlfsLengthBeyondFile", h, 0x10000, etl_file_kind_t::not_etl});
  }
  {
    byte_array h = rlfs;
    set_u64(h, 48, rlfs_header::max_length + 1);
    c.push_back({"RlfsLengthAboveCap", h, u64{1} << 40, etl_file_kind_t::not_etl});
  }
  {
    byte_array h = rlfs;
    set_u64(h, 48, rlfs_header::max_length);
    c.push_back({"RlfsLengthAtCap", h, u64{1} << 40, etl_file_kind_t::rlfs});
  }
  {
    byte_array h = rlfs;
    set_u64(h, 48, u64_max);
    c.push_back({"RlfsLengthNearU64Max", h, u64_max, etl_file_kind_t::not_etl});
  }
  {
    // nine words that add up to 0 modulo 2^64 but are not zero
    byte_array h(386, 0);
    set_u64(h, 8, 1);
    set_u64(h, 16, u64_max);
    c.push_back({"HeadWordsSumToZeroButAreNot", h, 386, etl_file_kind_t::not_etl});
  }
  {
    byte_array h(386, 0);
    h[71] = 1;  // the last byte of the 72
    c.push_back({"ZeroedHeadButByte71", h, 386, etl_file_kind_t::not_etl});
  }
  {
    byte_array h(386, 0);
    h[72] = 1;  // beyond the 72 bytes tested
    c.push_back({"ZeroedHeadThenData", h, 386, etl_file_kind_t::zeroed});
  }
  return c;
}

TEST(FileKind, NamedHeads) {
  for (const file_case& c : file_cases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(etl_file_kind(bytes_of(c.head), c.file_size), c.kind);
  }
}

TEST(FileKind, SinglePredicates) {
  const byte_array logfile = head_of(build_logfile_first_buffer({.first_buffer_size = 0x1000}));
  EXPECT_TRUE(is_logfile_first_buffer(bytes_of(logfile), 0x1000));
  EXPECT_FALSE(is_logfile_first_buffer(bytes_of(logfile), 0xFFF));
  EXPECT_FALSE(is_logfile_first_buffer(bytes_of(byte_array(386, 0)), 0x1000));  // size 0
  const byte_array rlfs = head_of(build_rlfs_header({}));
  EXPECT_TRUE(is_rlfs_header(bytes_of(rlfs), 0x200));
  EXPECT_FALSE(is_rlfs_header(bytes_of(rlfs), 71));
  EXPECT_FALSE(is_rlfs_header(bytes_of(logfile), 0x1000));
  EXPECT_TRUE(etw_header_is_zero(bytes_of(byte_array(72, 0))));
  EXPECT_FALSE(etw_header_is_zero(bytes_of(byte_array(71, 0))));
}

// Every head cut short, in a vector of exactly that size: no kind needs
// bytes it does not hold.
TEST(FileKind, HeadCutAtEveryLength) {
  for (const file_case& c : file_cases()) {
    SCOPED_TRACE(c.name);
    for (u64 n = 0; n < c.head.size(); ++n) {
      const byte_array cut = cut_short(c.head, n);
      const etl_file_kind_t kind = etl_file_kind(bytes_of(cut), c.file_size);
      // a head of 72 bytes or more decides as the whole head does
      if (n >= 72) {
        EXPECT_EQ(kind, c.kind) << n;
      } else if (n < 4) {
        EXPECT_EQ(kind, etl_file_kind_t::not_etl) << n;
      }
      (void)is_logfile_first_buffer(bytes_of(cut), c.file_size);
      (void)is_rlfs_header(bytes_of(cut), c.file_size);
      EXPECT_EQ(etw_header_is_zero(bytes_of(cut)), n >= 72 && etw_header_is_zero(bytes_of(c.head)));
    }
  }
}

// ---- buffer headers ----

TEST(BufferHeader, CheckBoundaries) {
  struct row {
    const char* name;
    u32 size;        // u32 at 4
    u64 time;        // u64 at 16
    u64 bytes_left;
    buffer_header_mode mode;
    bool ok;
    bool bad_time;   // when ok
  };
  const row rows[] = {
      {"SizeEqualsBytesLeft", 0x1000, ft_2020, 0x1000, buffer_header_mode::strict, true, false},
      {"SizeOneBeyondBytesLeft", 0x1001, ft_2020, 0x1000, buffer_header_mode::strict, false, false},
      {"SizeBeyondBytesLeftLenient", 0x1001, ft_2020, 0x1000, buffer_header_mode::lenient, false, false},
      {"ZeroSizeStrict", 0, ft_2020, 0x1000, buffer_header_mode::strict, false, false},
      {"ZeroSizeLenient", 0, ft_2020, 0x1000, buffer_header_mode::lenient, true, false},
      {"SeventyOneLeft", 0, ft_2020, 71, buffer_header_mode::lenient, false, false},
      {"SeventyTwoLeft", 72, ft_2020, 72, buffer_header_mode::strict, true, false},
      {"GarbageTime", 0x1000, 0xDEADBEEFDEADBEEFull, 0x1000, buffer_header_mode::strict, true, true},
      {"ZeroTime", 0x1000, 0, 0x1000, buffer_header_mode::strict, true, true},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    const byte_array h = build_rlfs_buffer_header({.buffer_size = r.size, .time = r.time});
    bool bad_time = !r.bad_time;  // the opposite, so a missing write shows
    const bool sentinel = bad_time;
    EXPECT_EQ(check_buffer_header(bytes_of(h), bad_time, r.bytes_left, r.mode), r.ok);
    EXPECT_EQ(bad_time, r.ok ? r.bad_time : sentinel);
  }
}

TEST(BufferHeader, CheckCutAtEveryLength) {
  const byte_array h = build_rlfs_buffer_header({.buffer_size = 0x100});
  for (u64 n = 0; n <= h.size(); ++n) {
    const byte_array cut = cut_short(h, n);
    bool bad_time = false;
    EXPECT_EQ(check_buffer_header(bytes_of(cut), bad_time, 0x100, buffer_header_mode::strict), n == 72)
        << n;
  }
}

TEST(BufferHeader, CopyKeepsBytes) {
  byte_array h(72);
  for (u64 i = 0; i < h.size(); ++i) h[i] = static_cast<u8>(i + 1);
  buffer_context ctx;
  ASSERT_TRUE(copy_buffer_header(ctx, bytes_of(h)));
  EXPECT_TRUE(std::equal(h.begin(), h.end(), ctx.header.begin()));
  EXPECT_EQ(ctx.buffer_size(), 0x04030201u);
  EXPECT_EQ(ctx.saved_offset(), 0x08070605u);
  EXPECT_EQ(ctx.buffer_time(), 0x1817161514131211ull);
  EXPECT_EQ(ctx.processor_number(), 41);
  EXPECT_EQ(ctx.logger_id(), 0x2C2B);
  EXPECT_EQ(ctx.filled_length(), 0x34333231u);
  EXPECT_EQ(ctx.pointer_word(), 0x403F3E3Du);
}

// Bytes 1, 2, 3, ... so each destination shows where it came from.
TEST(BufferHeader, RlfsLayoutMapsToLogfileLayout) {
  byte_array h(72);
  for (u64 i = 0; i < h.size(); ++i) h[i] = static_cast<u8>(i + 1);
  buffer_context ctx;
  ASSERT_TRUE(etw_header_to_72(ctx, bytes_of(h)));
  const std::span<const u8> c(ctx.header);
  const byte_array expected = {
      0x05, 0x06, 0x07, 0x08,  //  0 buffer size from 4
      0x31, 0x32, 0x33, 0x34,  //  4 from the filled length at 48
      0x01, 0x02, 0x00, 0x00,  //  8 from the u16 at 0
      0x09, 0x0A, 0x0B, 0x0C,  // 12 from 8
      0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18,  // 16 buffer time
      0x19, 0x1A, 0x1B, 0x1C,  // 24 low half of the u64 at 24
      0x00, 0x00, 0x00, 0x00,  // 28 cleared
      0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28,  // 32
      0x29, 0x2A, 0x2B, 0x2C,  // 40 processor, 41, 42 logger id
      0x2D, 0x2E, 0x2F, 0x30,  // 44
      0x31, 0x32, 0x33, 0x34,  // 48 filled length
      0x35, 0x36, 0x37, 0x38,  // 52
      0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40,  // 56
      0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48,  // 64
  };
  EXPECT_EQ(byte_array(c.begin(), c.end()), expected);
  EXPECT_EQ(ctx.record_type, 0x0403);
}

TEST(BufferHeader, ContextUntouchedWhenShort) {
  byte_array h(71, 0xAB);
  buffer_context ctx;
  EXPECT_FALSE(copy_buffer_header(ctx, bytes_of(h)));
  EXPECT_FALSE(etw_header_to_72(ctx, bytes_of(h)));
  EXPECT_TRUE(std::all_of(ctx.header.begin(), ctx.header.end(), [](u8 b) { return b == 0; }));
  EXPECT_EQ(ctx.record_type, 0);
}

// ---- record kinds, over the whole table ----

TEST(RecordKinds, EveryRowOfTheTable) {
  for (const record_kind_row& row : record_kinds) {
    SCOPED_TRACE(testing::Message() << "type 0x" << std::hex << row.type_code << " kind "
                                    << static_cast<int>(row.kind));
    const byte_array rec = minimal_record(row);
    ASSERT_EQ(rec.size(), row.header_length);
    if (row.kind == record_kind::generic) {
      // the generic row stands for every other code behind a generic header
      EXPECT_EQ(find_record_kind(0x2002, row.kind), &row);
      EXPECT_TRUE(record_test(row.kind, bytes_of(rec)));
      EXPECT_EQ(row.time_offset, 0);
      continue;
    }
    EXPECT_EQ(find_record_kind(row.type_code, row.kind), &row);

    // the built record passes its own kind's test and no other
    for (record_kind k : all_kinds) {
      EXPECT_EQ(record_test(k, bytes_of(rec)), k == row.kind) << static_cast<int>(k);
    }
    // a size one below the kind's header, though the bytes are held
    byte_array short_size = rec;
    set_u16(short_size, row.size_offset, static_cast<u16>(row.header_length - 1));
    EXPECT_FALSE(record_test(row.kind, bytes_of(short_size)));
    // a size one beyond the bytes held
    byte_array long_size = rec;
    set_u16(long_size, row.size_offset, static_cast<u16>(row.header_length + 1));
    EXPECT_FALSE(record_test(row.kind, bytes_of(long_size)));
    // the time sits at the row's offset: spoiling it there fails the test
    byte_array bad_time = rec;
    set_u64(bad_time, row.time_offset, 1);
    EXPECT_FALSE(record_test(row.kind, bytes_of(bad_time)));
    // a zero time inside an open range passes only where zero is allowed
    byte_array zero_time = rec;
    set_u64(zero_time, row.time_offset, 0);
    EXPECT_EQ(record_test(row.kind, bytes_of(zero_time), true, 0, u64_max), !row.time_nonzero);
    // a FILETIME below a tick-count start passes only for the kinds that allow it
    EXPECT_EQ(record_test(row.kind, bytes_of(rec), true, u64{1} << 62, u64_max), row.filetime_escape);
    // an unknown type code in the same shape
    byte_array other_type = rec;
    set_u16(other_type, 2, 0xC0FF);
    EXPECT_FALSE(record_test(row.kind, bytes_of(other_type)));
  }
}

// ---- boundaries of the record tests ----

TEST(RecordHeader, Trace9000Variants) {
  const byte_array r44 = build_record(record_9000{.variant = 28, .payload = {}});
  const byte_array r40 = build_record(record_9000{.variant = 24, .payload = {}});
  ASSERT_EQ(r44.size(), 44u);
  ASSERT_EQ(r40.size(), 40u);
  struct row {
    const char* name;
    const byte_array* rec;
    u16 variant;
    bool pass28;
    bool pass24;
  };
  const row rows[] = {
      {"Size44Unfixed", &r44, 0, true, false},
      {"Size44Fixed28", &r44, 28, true, false},
      {"Size44Fixed24", &r44, 24, false, false},
      {"Size40Unfixed", &r40, 0, false, true},
      {"Size40Fixed24", &r40, 24, false, true},
      {"Size40Fixed28", &r40, 28, false, false},
      {"Size40OtherVariant", &r40, 12, false, false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(is_trace_header_9000_28(bytes_of(*r.rec), false, 0, 0, r.variant), r.pass28);
    EXPECT_EQ(is_trace_header_9000_24(bytes_of(*r.rec), false, 0, 0, r.variant), r.pass24);
  }
}

TEST(RecordHeader, EventHeaderExtendedData) {
  struct row {
    const char* name;
    u16 size;      // record size, all bytes held
    u16 flags;     // u16 at 4
    u16 items;     // u16 at 80, when held
    bool pass;
  };
  const row rows[] = {
      {"NoExtSize80", 80, 0, 0, true},
      {"ExtSize80", 80, 1, 0, false},
      {"ExtSize81", 81, 1, 0, false},
      {"ExtSize82Length2", 82, 1, 2, true},
      {"ExtSize90Length10", 90, 1, 10, true},
      {"ExtSize90Length11", 90, 1, 11, false},
      {"ExtSize90Length0", 90, 1, 0, true},
      {"ExtSize90LengthMax", 90, 1, 0xFFFF, false},
      {"OtherFlagsOnly", 90, 0xFFFE, 0xFFFF, true},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    byte_array rec = build_record(record_event{.payload = byte_array(r.size - 80, 0)});
    set_u16(rec, 4, r.flags);
    if (r.size >= 82) set_u16(rec, 80, r.items);
    EXPECT_EQ(is_event_header(bytes_of(rec), false, 0, 0), r.pass);
  }
}

TEST(RecordHeader, TimeWindow) {
  struct row {
    const char* name;
    u64 t;
    bool range_known;
    u64 start;
    u64 end;
    bool escape;
    bool pass;
  };
  const row rows[] = {
      {"NoRangeFiletime", ft_2020, false, 0, 0, false, true},
      {"NoRangeTicks", 1000, false, 0, u64_max, false, false},
      {"TicksBelowStart", 999, true, 1000, 5000, true, false},
      {"TicksAtStart", 1000, true, 1000, 5000, true, true},
      {"TicksAtEnd", 5000, true, 1000, 5000, true, true},
      {"TicksAfterEnd", 5001, true, 1000, 5000, true, false},
      {"FiletimeStartAnyTBelowEnd", 3, true, ft_2020, 5000, false, true},
      {"FiletimeStartTAfterEnd", 5001, true, ft_2020, 5000, false, false},
      {"FiletimeBelowTickStartEscapes", ft_2020, true, u64{1} << 62, u64_max, true, true},
      {"FiletimeBelowTickStartNoEscape", ft_2020, true, u64{1} << 62, u64_max, false, false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(record_time_passes(r.t, r.range_known, r.start, r.end, r.escape), r.pass);
  }
  // the same window through a record test
  record_event e{.type_code = 0xC00A};
  for (u64 t : {999ull, 1000ull, 5000ull, 5001ull}) {
    e.time = t;
    const byte_array rec = build_record(e);
    EXPECT_EQ(is_trace_header_c00a(bytes_of(rec), true, 1000, 5000), t >= 1000 && t <= 5000) << t;
  }
}

TEST(RecordHeader, GenericHeader) {
  struct row {
    const char* name;
    u16 version;
    u16 size;     // u16 at 4
    u64 held;     // bytes held
    bool pass;
  };
  const row rows[] = {
      {"Version1", 1, 12, 12, false},
      {"Version2", 2, 12, 12, true},
      {"Version5", 5, 12, 12, true},
      {"Version6", 6, 12, 12, false},
      {"SizeZero", 2, 0, 12, false},
      {"SizeSeven", 2, 7, 12, false},
      {"SizeEight", 2, 8, 12, true},
      {"SizeEqualsHeld", 2, 12, 12, true},
      {"SizeOneBeyondHeld", 2, 13, 12, false},
      {"SevenBytesHeld", 2, 7, 7, false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    byte_array rec = build_record(record_generic{.type_code = 0x0123, .version = r.version});
    rec.resize(r.held, 0);
    if (r.held >= 6) set_u16(rec, 4, r.size);
    EXPECT_EQ(is_generic_trace_header(bytes_of(rec)), r.pass);
  }
  for (u16 v = 0; v < 8; ++v) {
    const byte_array b = {static_cast<u8>(v), 0};
    EXPECT_EQ(is_trace_header_version(bytes_of(b)), v >= 2 && v <= 5) << v;
  }
  EXPECT_FALSE(is_trace_header_version(bytes_of(byte_array{2})));
}

// ---- named corruptions of one buffer ----

// One buffer holding a record of every kind, then each record damaged in a
// named way; the damaged record fails its test and every other record still
// passes.
TEST(RecordHeader, NamedCorruptions) {
  buffer_builder bb;
  bb.add(build_record(record_9000{.variant = 28}));                        // 0
  bb.add(build_record(record_event{.items = {{.type = 3}, {.type = 10, .data = byte_array(8, 1)}}}));  // 1
  bb.add(build_record(record_event{.type_code = 0xC014}));                 // 2
  bb.add(build_record(record_generic{.type_code = 0xC011}));               // 3
  bb.add(build_record(record_generic{.type_code = 0xC001}));               // 4
  bb.add_garbage(16);                                                      // 5
  bb.add(build_record(record_event{.type_code = 0xC013}));                 // 6
  const byte_array good = bb.finish();
  const u64 filled = bb.filled_length();
  const record_kind kinds[] = {record_kind::trace_9000_28, record_kind::event_header,
                               record_kind::trace_c00a,    record_kind::trace_c011,
                               record_kind::trace_c002};

  auto at = [&](const byte_array& buf, std::size_t i) {
    const u64 off = bb.offset_of(i);
    return std::span<const u8>(buf).subspan(off, filled - off);
  };
  auto passes = [&](const byte_array& buf, std::size_t i) {
    for (record_kind k : all_kinds) {
      if (record_test(k, at(buf, i))) return true;
    }
    return false;
  };

  // the undamaged buffer: every record passes its own kind, the garbage none
  for (std::size_t j = 0; j < 5; ++j) EXPECT_TRUE(record_test(kinds[j], at(good, j))) << j;
  EXPECT_FALSE(passes(good, 5));
  EXPECT_FALSE(is_generic_trace_header(at(good, 5)));
  EXPECT_TRUE(record_test(record_kind::event_header, at(good, 6)));

  struct damage {
    const char* name;
    std::size_t record;
    std::function<void(byte_array&, u64)> apply;
  };
  const damage damages[] = {
      {"Trace9000SizeOneShort", 0, [](byte_array& b, u64 o) { set_record_size(b, o, 43); }},
      {"Trace9000TimeZero", 0, [](byte_array& b, u64 o) { set_u64(b, o + 28, 0); }},
      {"EventExtItemsLengthPastRecord", 1,
       [](byte_array& b, u64 o) { set_u16(b, o + 80, static_cast<u16>(b[o] + (b[o + 1] << 8) - 79)); }},
      {"EventSizeBeyondFilled", 1, [filled](byte_array& b, u64 o) {
         set_record_size(b, o, static_cast<u16>(filled - o + 1)); }},
      {"EventUnknownType", 1, [](byte_array& b, u64 o) { set_u16(b, o + 2, 0xC015); }},
      {"ClassicSizeOneShort", 2, [](byte_array& b, u64 o) { set_record_size(b, o, 47); }},
      {"ClassicTimeGarbage", 2, [](byte_array& b, u64 o) { set_u64(b, o + 16, u64_max); }},
      {"PerfinfoTimeZero", 3, [](byte_array& b, u64 o) { set_u64(b, o + 8, 0); }},
      {"PerfinfoVersionSix", 3, [](byte_array& b, u64 o) { set_u16(b, o, 6); }},
      {"PerfinfoSizeBelowHeader", 3, [](byte_array& b, u64 o) { set_record_size(b, o, 15, true); }},
      {"SystemSizeBelowHeader", 4, [](byte_array& b, u64 o) { set_record_size(b, o, 31, true); }},
      {"SystemSizeZero", 4, [](byte_array& b, u64 o) { set_record_size(b, o, 0, true); }},
  };
  for (const damage& d : damages) {
    SCOPED_TRACE(d.name);
    byte_array buf = good;
    d.apply(buf, bb.offset_of(d.record));
    for (std::size_t j = 0; j < 5; ++j) {
      EXPECT_EQ(record_test(kinds[j], at(buf, j)), j != d.record) << j;
    }
    EXPECT_TRUE(record_test(record_kind::event_header, at(buf, 6)));
  }
}

// ---- every record cut at every length ----

TEST(RecordHeader, CutAtEveryLength) {
  struct row {
    const char* name;
    record_kind kind;
    byte_array rec;
  };
  const row rows[] = {
      {"Trace9000_28", record_kind::trace_9000_28, build_record(record_9000{.variant = 28})},
      {"Trace9000_24", record_kind::trace_9000_24, build_record(record_9000{.variant = 24})},
      {"EventWithItems", record_kind::event_header,
       build_record(record_event{.type_code = 0xC013, .items = {{.type = 1, .data = byte_array(16, 7)}}})},
      {"ClassicC00a", record_kind::trace_c00a, build_record(record_event{.type_code = 0xC00A})},
      {"ClassicC014WithItems", record_kind::trace_c00a,
       build_record(record_event{.type_code = 0xC014, .items = {{.type = 3}}})},
      {"PerfinfoC011", record_kind::trace_c011, build_record(record_generic{.type_code = 0xC011})},
      {"PerfinfoC010", record_kind::trace_c011, build_record(record_generic{.type_code = 0xC010})},
      {"SystemC002", record_kind::trace_c002, build_record(record_generic{.type_code = 0xC002})},
      {"SystemC001", record_kind::trace_c002, build_record(record_generic{.type_code = 0xC001})},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    for (u64 n = 0; n <= r.rec.size(); ++n) {
      const byte_array cut = cut_short(r.rec, n);
      const bool whole = n == r.rec.size();
      for (record_kind k : all_kinds) {
        EXPECT_EQ(record_test(k, bytes_of(cut)), whole && k == r.kind) << n;
      }
      const bool generic = r.kind == record_kind::trace_c011 || r.kind == record_kind::trace_c002;
      EXPECT_EQ(is_generic_trace_header(bytes_of(cut)), whole && generic) << n;
      (void)is_trace_header_version(bytes_of(cut));
    }
  }
}

// ---- the log builder lays out what the readers expect ----

TEST(LogBuilder, BufferPlacesRecordsAtEightByteSteps) {
  buffer_builder bb({.buffer_size = 0x200});
  bb.add(build_record(record_generic{.type_code = 0xC011, .payload = {1, 2, 3}}));  // 19 bytes
  bb.add(build_record(record_9000{.variant = 24, .payload = {}}));                  // 40 bytes
  byte_array buf = bb.finish();
  ASSERT_EQ(buf.size(), 0x200u);
  EXPECT_EQ(bb.offset_of(0), 72u);
  EXPECT_EQ(bb.offset_of(1), 72u + rounded_record_size(19));
  EXPECT_EQ(bb.filled_length(), 72u + 24u + 40u);
  buffer_context ctx;
  ASSERT_TRUE(copy_buffer_header(ctx, bytes_of(buf)));
  EXPECT_EQ(ctx.buffer_size(), 0x200u);
  EXPECT_EQ(ctx.filled_length(), bb.filled_length());
  zero_buffer_size(buf, 0);
  ASSERT_TRUE(copy_buffer_header(ctx, bytes_of(buf)));
  EXPECT_EQ(ctx.buffer_size(), 0u);
}

// ---- real logs ----

// Counts record shapes buffer by buffer, stepping by each record's rounded
// size from 72 to the buffer's filled length; a time window open on both
// sides, so only shapes decide.
std::map<record_kind, int> count_records(const byte_array& file, int& unrecognised) {
  std::map<record_kind, int> counts;
  unrecognised = 0;
  const std::span<const u8> f(file);
  for (u64 off = 0; off + 72 <= file.size();) {
    buffer_context ctx;
    if (!copy_buffer_header(ctx, f.subspan(off)) || ctx.buffer_size() == 0) break;
    const u64 filled = std::min<u64>(ctx.filled_length(), file.size() - off);
    const std::span<const u8> buf = f.subspan(off, filled);
    for (u64 pos = 72; pos + 8 <= filled;) {
      const std::span<const u8> rec = buf.subspan(pos);
      bool found = false;
      for (record_kind k : all_kinds) {
        if (!record_test(k, rec, true, 0, u64_max)) continue;
        counts[k]++;
        const record_kind_row* row = find_record_kind(zarn::u16_at(rec, 2), k);
        pos += rounded_record_size(zarn::u16_at(rec, row->size_offset));
        found = true;
        break;
      }
      if (found) continue;
      if (is_generic_trace_header(rec)) {
        pos += rounded_record_size(zarn::u16_at(rec, 4));
        continue;
      }
      ++unrecognised;
      pos += 8;
    }
    off += ctx.buffer_size();
  }
  return counts;
}

TEST(RealLogs, RecordShapesPerFile) {
  struct row {
    const char* file;
    int c9000;
    int event;
    int classic;
    int perfinfo;
    int system;
  };
  // the counts other readers report for these files (samples/README.md);
  // the system records include the logfile-header record itself
  const row rows[] = {
      {"sonde_test.etl", 0, 9, 97, 2, 4},
      {"sawbuck_image_data_64_v2.etl", 0, 0, 26, 0, 1},
      {"s4_CldFlt0-2025-12-21-121418.etl", 13, 0, 0, 2, 2},
      {"airbus_AMSITrace.etl", 0, 19, 0, 0, 2},
      {"perfview_primitive-types.etl", 0, 5, 0, 0, 2},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.file);
    byte_array file;
    if (!read_sample(r.file, file)) GTEST_SKIP() << "samples folder not found: " << VESK_SAMPLES_DIR;
    EXPECT_EQ(etl_file_kind(bytes_of(file), file.size()), etl_file_kind_t::logfile_header);
    int unrecognised = 0;
    auto counts = count_records(file, unrecognised);
    EXPECT_EQ(counts[record_kind::trace_9000_28] + counts[record_kind::trace_9000_24], r.c9000);
    EXPECT_EQ(counts[record_kind::event_header], r.event);
    EXPECT_EQ(counts[record_kind::trace_c00a], r.classic);
    EXPECT_EQ(counts[record_kind::trace_c011], r.perfinfo);
    EXPECT_EQ(counts[record_kind::trace_c002], r.system);
    EXPECT_EQ(unrecognised, 0);
  }
}

}  // namespace
