#include "common/file_times.hpp"

#include <gtest/gtest.h>

namespace {

constexpr u64 day = 864000000000ULL;
constexpr u64 t0 = 132223104000000000ULL;  // 2020-01-01 00:00:00
constexpr u64 t1 = t0 + day;
constexpr u64 t2 = t0 + 2 * day;
constexpr u64 top_bit = 0x8000000000000001ULL;  // never a valid FILETIME

struct further {
  u64 ft;
  const char* label;
  const char* first;
  const char* second;
};

struct expected_entry {
  u64 key;
  const char* macb;
  const char* label;
  const char* source = "";
  const char* second = "";
};

struct grouping_case {
  const char* name;
  u64 m, a, c, b;
  std::vector<std::string> labels;  // M, A, C, B, then the base label
  std::vector<further> further_times;
  std::vector<expected_entry> entries;  // in map order
};

const std::vector<std::string> macb_labels = {"Last Modified", "Last Access",
                                              "Metadata Changed", "Created"};

TEST(MacbTimes, GroupsSlotsAndFurtherTimesByMoment) {
  const grouping_case cases[] = {
      {"event", 0, 0, 0, t0, {"", "", "", "ETL Entry"}, {}, {{t0, "...B", "ETL Entry"}}},
      {"event time zero", 0, 0, 0, 0, {"", "", "", "ETL Entry"}, {}, {}},
      {"event time top bit", 0, 0, 0, top_bit, {"", "", "", "ETL Entry"}, {}, {}},
      {"empty record", 0, 0, 0, 0, {}, {}, {}},
      {"all four equal", t0, t0, t0, t0, macb_labels, {},
       {{t0, "MACB", "Last Modified; Last Access; Metadata Changed; Created"}}},
      {"M and B equal", t1, t0, t2, t1, macb_labels, {},
       {{t0, ".A..", "Last Access"},
        {t1, "M..B", "Last Modified; Created"},
        {t2, "..C.", "Metadata Changed"}}},
      {"M zero, A and B equal", 0, t1, t0, t1, macb_labels, {},
       {{t0, "..C.", "Metadata Changed"}, {t1, ".A.B", "Last Access; Created"}}},
      {"invalid C joins nothing", 0, t1, top_bit, t1, macb_labels, {},
       {{t1, ".A.B", "Last Access; Created"}}},
      {"two unmatched further times", 0, 0, 0, t1, {}, {{t0, "x", "1", "2"}, {t0, "y", "3", "4"}},
       {{t0, "..C.", "x", "1", "2"}, {t0, "..C.", "y", "3", "4"}, {t1, "...B", ""}}},
      {"further time joins M", t0, 0, 0, t0, macb_labels,
       {{top_bit, "Odd", "o", ""}, {t0, "Extra", "s", "t"}},
       {{t0, "M.CB", "Last Modified; Extra; Created", "s", "t"}, {top_bit, "..C.", "Odd", "o"}}},
      {"further times join C", 0, 0, t1, 0, macb_labels,
       {{t1, "Extra", "a", "b"}, {t0, "Other", "", ""}, {t1, "More", "c", "d"}},
       {{t0, "..C.", "Other"}, {t1, "..C.", "Metadata Changed; Extra; More", "ac", "bd"}}},
      {"further time joins B", 0, 0, 0, t0, {"", "", "", "ETL Entry"}, {{t0, "Extra", "", ""}},
       {{t0, "..CB", "ETL Entry; Extra"}}},
      {"base form", t0, t0, t1, 0, {"", "", "", "", "File"}, {},
       {{t0, "MA..", "File [MA..]"}, {t1, "..C.", "File [..C.]"}}},
      {"base form, A and B lead", 0, t0, 0, t1, {"", "", "", "", "File"}, {},
       {{t0, ".A..", "File [.A..]"}, {t1, "...B", "File [...B]"}}},
      {"base form, further time joins M", t0, 0, 0, 0, {"", "", "", "", "File"},
       {{t0, "Extra", "", ""}}, {{t0, "M.C.", "File [M.C; Extra.]"}}},
      {"base form, further time joins B", 0, 0, 0, t0, {"", "", "", "", "File"},
       {{t0, "", "", ""}}, {{t0, "..CB", "File [..CB]"}}},
  };
  for (const grouping_case& c : cases) {
    SCOPED_TRACE(c.name);
    file_times record;
    record.set_times(c.m, c.a, c.c, c.b, zarn::type_time::filetime);
    std::vector<std::string> l = c.labels;
    l.resize(5);
    record.set_labels(l[0], l[1], l[2], l[3]);
    record.base_label = l[4];
    record.tag = 7;
    for (const further& f : c.further_times) {
      record.add_further_time(f.ft, f.label, f.first, f.second);
    }
    std::multimap<u64, macb_entry> out;
    build_macb_times(out, record, zarn::type_time::filetime);
    ASSERT_EQ(out.size(), c.entries.size());
    auto it = out.begin();
    for (const expected_entry& e : c.entries) {
      const macb_entry& got = (it++)->second;
      EXPECT_EQ(got.key, e.key);
      EXPECT_EQ(got.time.filetime(), e.key);
      EXPECT_EQ(got.macb, e.macb);
      EXPECT_EQ(got.label, e.label);
      EXPECT_EQ(got.source, e.source);
      EXPECT_EQ(got.second, e.second);
      EXPECT_EQ(got.type, 1u);
      EXPECT_EQ(got.tag, 7u);
    }
    for (u8 used : record.further_used) EXPECT_NE(used, 0);
  }
}

// Keys are the raw slot values in the record's encoding; the time is converted.
// A raw zero opens no entry even where the encoding makes it a valid time.
TEST(MacbTimes, KeysAreRawValuesOfTheRecordsEncoding) {
  file_times record;
  record.set_times(1577836800, 0, 0, 1577836800, zarn::type_time::unix_time);
  std::multimap<u64, macb_entry> out;
  build_macb_times(out, record, zarn::type_time::unix_time);
  ASSERT_EQ(out.size(), 1u);
  const macb_entry& e = out.begin()->second;
  EXPECT_EQ(e.key, 1577836800u);
  EXPECT_EQ(e.time.filetime(), t0);
  EXPECT_EQ(e.macb, "M..B");
  EXPECT_EQ(e.type, static_cast<u32>(zarn::type_time::unix_time));
}

TEST(MacbTimes, RegroupingAddsNoFurtherTimeTwice) {
  file_times record;
  record.set_times(0, 0, 0, t1, zarn::type_time::filetime);
  record.add_further_time(t1, "joins", "", "");
  record.add_further_time(t0, "alone", "", "");
  std::multimap<u64, macb_entry> first;
  std::multimap<u64, macb_entry> again;
  build_macb_times(first, record, zarn::type_time::filetime);
  build_macb_times(again, record, zarn::type_time::filetime);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first.find(t1)->second.macb, "..CB");
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again.begin()->second.macb, "...B");
}

TEST(FileTimes, ClearEmptiesTheRecord) {
  file_times record;
  record.set_times(1, 2, 3, 4, zarn::type_time::chrome);
  record.set_labels("m", "a", "c", "b");
  record.base_label = "File";
  record.tag = 9;
  record.add_further_time(t0, "x", "y", "z");
  record.clear();
  std::multimap<u64, macb_entry> out;
  build_macb_times(out, record, zarn::type_time::filetime);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(record.type, 1u);
  EXPECT_EQ(record.tag, 0u);
  EXPECT_TRUE(record.modified_label.empty() && record.base_label.empty());
  EXPECT_TRUE(record.further_labels.empty() && record.further_used.empty());
}

}  // namespace
