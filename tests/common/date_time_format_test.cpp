#include "common/date_time_format.hpp"

#include <gtest/gtest.h>

namespace {

using f = date_time_format;

struct date_case {
  const char* pattern;
  bool ok;
  u8 separator;
  u8 flags;
};

TEST(DateTimeFormat, DatePatterns) {
  const date_case cases[] = {
      {"yyyy-mm-dd", true, '-', f::month_digits | f::year4 | f::order_ymd},
      {"mm/dd/yyyy", true, '/', f::month_digits | f::year4 | f::order_mdy},
      {"dd/mm/yy", true, '/', f::month_digits | f::year2 | f::order_dmy},
      {"yyyy mmm dd", true, ' ', f::month_name | f::year4 | f::order_ymd},
      {"mmm dd, yyyy", true, ' ', f::month_name | f::year4 | f::comma | f::order_mdy},
      {"yyyymmdd", true, 0, f::month_digits | f::year4 | f::order_ymd},
      // No day: the separator, month and year bits stay, no order bit.
      {"mm/yyyy", false, '/', f::month_digits | f::year4},
      // Year between month and day is no known order.
      {"mm/yyyy/dd", false, '/', f::month_digits | f::year4},
      {"dd/yy", false, '/', 0},
  };
  for (const auto& c : cases) {
    date_time_format d;
    EXPECT_EQ(compile_date_time_format(d, c.pattern, "hh:mm:ss.xxx", false), c.ok) << c.pattern;
    EXPECT_EQ(d.date_separator, c.separator) << c.pattern;
    EXPECT_EQ(d.date_flags, c.flags) << c.pattern;
    // A failed date pattern leaves the time pattern uncompiled.
    EXPECT_EQ(d.fraction_digits(), c.ok ? 3u : 0u) << c.pattern;
  }
}

TEST(DateTimeFormat, FractionDigits) {
  const std::pair<const char*, u32> cases[] = {
      {"hh:mm:ss.xxx", 3}, {"hh:mm:ss.xxxxxxxxx", 9}, {"hh:mm:ss", 0},
      {"hh:mm:ss.xxxxxxxxxxxx", 9}, {"x.xxx", 3}, {"hh:mm:ss.xx", 0}, {"hh:mm:ss.xxxxxx", 6},
  };
  for (const auto& [pattern, digits] : cases) {
    date_time_format d;
    EXPECT_TRUE(compile_date_time_format(d, "", pattern, false));
    EXPECT_EQ(d.fraction_digits(), digits) << pattern;
    EXPECT_FALSE(d.pair_datetime());
  }
}

TEST(DateTimeFormat, EmptyPatternsGiveTheDefaultDescriptor) {
  date_time_format d;
  d.date_flags = 7;
  EXPECT_TRUE(compile_date_time_format(d, "", "", false));
  EXPECT_TRUE(d.is_default());
  EXPECT_TRUE(compile_date_time_format(d, "", "", true));
  EXPECT_TRUE(d.pair_datetime());
  EXPECT_FALSE(d.is_default());
}

TEST(TimeWindow, OpenBoundHoldsTheLargestValues) {
  time_window w;
  EXPECT_EQ(w.set, 0);
  w.set_open();
  EXPECT_EQ(w.set, 1);
  EXPECT_EQ(w.filetime, ~u64{0});
  EXPECT_EQ(w.unix_seconds, ~u32{0});
  w.clear();
  EXPECT_EQ(w.set, 0);
  EXPECT_EQ(w.filetime, 0u);
  EXPECT_EQ(w.unix_seconds, 0u);
}

}  // namespace
