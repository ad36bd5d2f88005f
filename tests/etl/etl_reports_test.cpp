#include "etl/etl_reports.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "common/byte_reader.hpp"
#include "support/log_builder.hpp"

using namespace logbuild;

namespace {

const guid ev_provider = guid_of("8e805eb3-6a8f-4a1e-90fa-a831d94e54a1");
const guid other = guid_of("01234567-89ab-cdef-0123-456789abcdef");

TEST(Statistics, TableText) {
  trace_processor tp;
  tp.load_templates();
  const guid kernel = guid_of("68fdd900-4a3e-11d1-84f4-0000f80464e3");
  tp.providers_seen = {ev_provider, kernel, other};
  tp.event_counts[ev_provider] = {{10, 3}, {9, 1}, {65535, 1234567890}};
  tp.event_counts[kernel] = {{80, 2}};
  // `other` was seen while counting was off: its name line only
  std::ostringstream s;
  print_statistics(s, tp);
  EXPECT_EQ(s.str(),
            "68fdd900-4a3e-11d1-84f4-0000f80464e3 : Kernel-Event-Trace\n"
            "event id | occurances\n"
            "      80 |          2\n"
            "\n"
            "01234567-89ab-cdef-0123-456789abcdef : \n"
            "8e805eb3-6a8f-4a1e-90fa-a831d94e54a1 : \n"
            "event id | occurances\n"
            "       9 |          1\n"
            "      10 |          3\n"
            "   65535 | 1234567890\n"
            "\n");
  std::ostringstream g;
  print_provider_list(g, tp);
  EXPECT_EQ(g.str(),
            "68fdd900-4a3e-11d1-84f4-0000f80464e3 : Kernel-Event-Trace\n"
            "01234567-89ab-cdef-0123-456789abcdef : \n"
            "8e805eb3-6a8f-4a1e-90fa-a831d94e54a1 : \n");
}

// A processor that has walked `buffer` at `offset` with record collection on.
trace_processor walked(const byte_array& buffer, u64 offset, bool rlfs = false) {
  trace_processor tp;
  tp.load_templates();
  if (rlfs) {
    EXPECT_TRUE(tp.init_from_first_buffer(bytes_of(build_rlfs_header({}))));
  } else {
    const byte_array first = build_logfile_first_buffer({.clock_type = 2});
    logfile_header_info info;
    EXPECT_TRUE(parse_logfile_header(info, bytes_of(first)));
    EXPECT_TRUE(tp.take_file_header(info, first.size()));
  }
  tp.collect_records = 1;
  EXPECT_TRUE(tp.walk_buffer_records(bytes_of(buffer), offset));
  return tp;
}

TEST(ReducedBuffer, LayoutAndPatchedLengths) {
  struct layout_case {
    const char* name;
    u32 buffer_size;
    bool rlfs;
    u64 length;
  };
  const layout_case cases[] = {{"MultipleOf4096Stays", 0x2000, false, 0x2000},
                               {"RoundedUpTo4096", 0x1100, false, 0x2000},
                               {"SmallBuffer", 0x200, false, 0x1000},
                               {"RlfsLayout", 0x1100, true, 0x2000}};
  for (const layout_case& c : cases) {
    SCOPED_TRACE(c.name);
    buffer_builder b({.buffer_size = c.buffer_size, .time = ft_2021}, c.rlfs);
    b.add(build_record(record_event{.event_id = 1}));
    b.add(build_record(record_event{.provider = other, .event_id = 2}));
    b.add(build_record(record_event{.event_id = 3, .payload = {1, 2, 3, 4, 5}}));
    const byte_array buf = b.finish();
    const u64 at = 0x40000;
    const trace_processor tp = walked(buf, at, c.rlfs);
    const etl_file_kind_t kind = c.rlfs ? etl_file_kind_t::rlfs : etl_file_kind_t::logfile_header;
    const byte_array out = build_reduced_buffer(bytes_of(buf), at, tp, ev_provider, kind);
    ASSERT_EQ(out.size(), c.length);
    // header, record 1, record 3 (rounded to 8), then 0xFF
    const u64 r1 = b.offset_of(1) - b.offset_of(0);
    const u64 r3 = b.filled_length() - b.offset_of(2);
    const u64 used = 72 + r1 + (r3 + 7) / 8 * 8;
    EXPECT_TRUE(std::equal(buf.begin() + 72, buf.begin() + 72 + r1, out.begin() + 72));
    EXPECT_TRUE(std::equal(buf.begin() + b.offset_of(2), buf.begin() + b.offset_of(2) + r3,
                           out.begin() + 72 + r1));
    EXPECT_TRUE(std::all_of(out.begin() + used, out.end(), [](u8 v) { return v == 0xFF; }));
    const std::span<const u8> o = bytes_of(out);
    EXPECT_EQ(zarn::u32_at(o, 48), used);
    if (c.rlfs) {
      EXPECT_EQ(zarn::u32_at(o, 4), c.length);
      EXPECT_EQ(zarn::u32_at(o, 0), zarn::u32_at(bytes_of(buf), 0));
      EXPECT_EQ(zarn::u32_at(o, 8), zarn::u32_at(bytes_of(buf), 8));
    } else {
      EXPECT_EQ(zarn::u32_at(o, 0), c.length);
      EXPECT_EQ(zarn::u32_at(o, 4), used);
      EXPECT_EQ(zarn::u32_at(o, 8), used);
    }
    // the other fields of the header stay
    EXPECT_TRUE(std::equal(buf.begin() + 12, buf.begin() + 48, out.begin() + 12));
    // a buffer without the provider's records gives nothing
    const guid absent = guid_of("ffffffff-0000-0000-0000-000000000000");
    EXPECT_TRUE(build_reduced_buffer(bytes_of(buf), at, tp, absent, kind).empty());
  }
}

TEST(ReducedBuffer, RecordCutByTheEndIsPaddedNotOverread) {
  // The last record's rounded size (48) runs 3 bytes past the bytes held.
  buffer_builder b({.buffer_size = 0, .time = ft_2021});
  b.add(build_record(record_9000{.variant = 28, .provider = ev_provider, .payload = {9}}));
  const byte_array buf = cut_short(b.finish(), 72 + 45);
  const trace_processor tp = walked(buf, 0x2000);
  const byte_array out =
      build_reduced_buffer(bytes_of(buf), 0x2000, tp, ev_provider, etl_file_kind_t::logfile_header);
  ASSERT_EQ(out.size(), 0x1000u);
  EXPECT_TRUE(std::equal(buf.begin() + 72, buf.end(), out.begin() + 72));
  EXPECT_EQ(out[72 + 45], 0);
  EXPECT_EQ(out[72 + 47], 0);
  EXPECT_EQ(out[72 + 48], 0xFF);
  EXPECT_EQ(zarn::u32_at(bytes_of(out), 48), 72u + 48u);
}

TEST(ReducedBuffer, CutAtEveryLength) {
  buffer_builder b({.buffer_size = 0, .time = ft_2021});
  b.add(build_record(record_event{.event_id = 1}));
  b.add(build_record(record_event{.provider = other}));
  b.add(build_record(record_event{.event_id = 3}));
  const byte_array full = b.finish();
  for (u64 n = 0; n <= full.size(); ++n) {
    SCOPED_TRACE(n);
    const byte_array cut = cut_short(full, n);
    trace_processor tp;
    tp.load_templates();
    ASSERT_TRUE(tp.init_from_first_buffer(bytes_of(byte_array(72, 0))));
    tp.collect_records = 1;
    (void)tp.walk_buffer_records(bytes_of(cut), 0x1000);
    const byte_array out =
        build_reduced_buffer(bytes_of(cut), 0x1000, tp, ev_provider, etl_file_kind_t::zeroed);
    EXPECT_TRUE(out.empty() || out.size() % reduced_buffer_step == 0);
    // a first buffer cut anywhere keeps its own length
    const byte_array head = build_reduced_first_buffer(bytes_of(cut), 72, tp, ev_provider);
    if (n < 72) {
      EXPECT_TRUE(head.empty());
    } else {
      EXPECT_GE(head.size(), n);
      EXPECT_LT(head.size(), n + 8);
    }
  }
}

}  // namespace
