#include "common/zarn_time_text.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

using zarn::type_time;

// FILETIME of a UTC date and time through the SYSTEMTIME path, plus ticks.
zarn::time make_time(u16 y, u16 mo, u16 d, u16 h, u16 mi, u16 s, u64 ticks) {
  zarn::_windows_systemtime st;
  st.year = y;
  st.month = mo;
  st.day = d;
  st.hour = h;
  st.minute = mi;
  st.second = s;
  u64 ft = 0;
  EXPECT_TRUE(zarn::systemtime_to_filetime(st, ft));
  return zarn::time(ft + ticks, type_time::filetime);
}

date_time_format compiled(const std::string& date, const std::string& time) {
  date_time_format d;
  compile_date_time_format(d, date, time, false);
  return d;
}

struct texts {
  std::string date;
  std::string time;
};

texts render(const zarn::time& t, const date_time_format& d, bool* applied = nullptr) {
  texts out{"stale", "stale"};
  const bool r = zarn::time::format(out.date, out.time, t, d);
  if (applied != nullptr) *applied = r;
  return out;
}

TEST(TimeText, MonthAbbrev) {
  const char* names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (int m = 1; m <= 12; ++m) EXPECT_EQ(month_abbrev(m), names[m - 1]);
  EXPECT_EQ(month_abbrev(0), "");
  EXPECT_EQ(month_abbrev(13), "");
  EXPECT_EQ(month_abbrev(-1), "");
}

// Every pattern example, rendered.
TEST(TimeText, FormatPatternExamples) {
  const zarn::time t = make_time(2009, 7, 4, 18, 30, 5, 9990000);  // .999
  struct row {
    const char* date_pattern;
    const char* time_pattern;
    const char* date;
    const char* time;
  };
  const row rows[] = {
      {"mm/dd/yyyy", "hh:mm:ss", "07/04/2009", "18:30:05"},
      {"yyyy-mm-dd", "hh:mm:ss.xxx", "2009-07-04", "18:30:05.999"},
      {"yyyy-mm-dd", "hh:mm:ss.xxxxxxxxx", "2009-07-04", "18:30:05.999000000"},
      {"dd mmm yyyy", "hh:mm:ss.xxxxxx", "04 Jul 2009", "18:30:05.999000"},
      {"dd/mm/yy", "hh:mm:ss", "04/07/09", "18:30:05"},
      {"yyyy mmm dd", "hh:mm:ss", "2009 Jul 04", "18:30:05"},
      {"mmm dd, yyyy", "hh:mm:ss", "Jul 04 2009", "18:30:05"},  // the comma bit changes nothing
      {"dd-mm-yyyy", "hh:mm:ss.xxxx", "04-07-2009", "18:30:05.9990"},
      // no '/', '-' or blank: the fields stand next to each other
      {"yyyymmdd", "hh:mm:ss", "20090704", "18:30:05"},
      {"ddmmmyyyy", "hh:mm:ss", "04Jul2009", "18:30:05"},
      {"mmddyy", "hh:mm:ss", "070409", "18:30:05"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(std::string(r.date_pattern) + " " + r.time_pattern);
    date_time_format d;
    ASSERT_TRUE(compile_date_time_format(d, r.date_pattern, r.time_pattern, false));
    bool applied = false;
    const texts out = render(t, d, &applied);
    EXPECT_TRUE(applied);
    EXPECT_EQ(out.date, r.date);
    EXPECT_EQ(out.time, r.time);
    EXPECT_EQ(out.date.find('\0'), std::string::npos);
  }
}

TEST(TimeText, TwoDigitYears) {
  const date_time_format d = compiled("dd/mm/yy", "hh:mm:ss");
  EXPECT_EQ(render(make_time(2000, 1, 1, 0, 0, 0, 0), d).date, "01/01/00");
  EXPECT_EQ(render(make_time(1905, 12, 31, 0, 0, 0, 0), d).date, "31/12/05");
}

TEST(TimeText, DefaultDescriptorMatchesDefaultPatterns) {
  const zarn::time t = make_time(2014, 3, 9, 7, 5, 3, 429999);  // 42.9999 ms
  date_time_format zero;
  bool applied = true;
  const texts def = render(t, zero, &applied);
  EXPECT_FALSE(applied);
  EXPECT_EQ(def.date, "2014-03-09");
  EXPECT_EQ(def.time, "07:05:03.042");
  bool compiled_applied = false;
  const texts same = render(t, compiled("yyyy-mm-dd", "hh:mm:ss.xxx"), &compiled_applied);
  EXPECT_TRUE(compiled_applied);
  EXPECT_EQ(same.date, def.date);
  EXPECT_EQ(same.time, def.time);
}

TEST(TimeText, InvalidTimeGivesEmptyTexts) {
  bool applied = true;
  const texts out = render(zarn::time(), compiled("yyyy-mm-dd", "hh:mm:ss.xxx"), &applied);
  EXPECT_FALSE(applied);
  EXPECT_EQ(out.date, "");
  EXPECT_EQ(out.time, "");
  const texts def = render(zarn::time(0, type_time::unix_time), date_time_format{});
  EXPECT_EQ(def.date, "");
  EXPECT_EQ(def.time, "");
}

TEST(TimeText, NoOrderBitGivesEmptyDate) {
  date_time_format d;
  EXPECT_FALSE(compile_date_time_format(d, "mm/yyyy", "hh:mm:ss.xxx", false));  // no day
  const texts out = render(make_time(2009, 7, 4, 18, 30, 5, 0), d);
  EXPECT_EQ(out.date, "");
  EXPECT_EQ(out.time, "18:30:05");  // the time pattern was not compiled
  d.time_flags = 3 << 1;
  EXPECT_EQ(render(make_time(2009, 7, 4, 18, 30, 5, 0), d).time, "18:30:05.000");
}

TEST(TimeText, PairedDescriptorKeepsTwoTexts) {
  date_time_format d;
  ASSERT_TRUE(compile_date_time_format(d, "yyyy-mm-dd", "hh:mm:ss", true));
  const texts out = render(make_time(2009, 7, 4, 18, 30, 5, 0), d);
  EXPECT_EQ(out.date, "2009-07-04");
  EXPECT_EQ(out.time, "18:30:05");
}

// Fraction digits are cut, never rounded, whatever their number.
TEST(TimeText, FractionDigitsTruncate) {
  struct row {
    u64 ticks;
    u32 n;
    const char* fraction;
  };
  const row rows[] = {
      {9999999, 1, ".9"},          {9999999, 2, ".99"},        {9999999, 3, ".999"},
      {9999999, 4, ".9999"},       {9999999, 5, ".99999"},     {9999999, 6, ".999999"},
      {9999999, 7, ".9999999"},    {9999999, 8, ".99999990"},  {9999999, 9, ".999999900"},
      {1234567, 1, ".1"},          {1234567, 2, ".12"},        {1234567, 3, ".123"},
      {1234567, 4, ".1234"},       {1234567, 5, ".12345"},     {1234567, 6, ".123456"},
      {1234567, 7, ".1234567"},    {1234567, 8, ".12345670"},  {1234567, 9, ".123456700"},
      {9999000, 3, ".999"},        {50, 6, ".000005"},         {1, 9, ".000000100"},
      {1, 6, ".000000"},           {9999999, 0, ""},           {9999999, 10, ""},
      {9999999, 15, ""},
  };
  const zarn::time base = make_time(2009, 7, 4, 18, 30, 5, 0);
  for (const row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.ticks << " n=" << r.n);
    const zarn::time t(base.filetime() + r.ticks, type_time::filetime);
    date_time_format d = compiled("yyyy-mm-dd", "hh:mm:ss");
    d.time_flags = static_cast<u8>(r.n << 1);
    EXPECT_EQ(render(t, d).time, std::string("18:30:05") + r.fraction);
  }
  // the same counts reached through the pattern text
  const zarn::time t(base.filetime() + 1234567, type_time::filetime);
  EXPECT_EQ(render(t, compiled("yyyy-mm-dd", "hh:mm:ss.xx")).time, "18:30:05");
  EXPECT_EQ(render(t, compiled("yyyy-mm-dd", "hh:mm:ss.xxxxx")).time, "18:30:05.12345");
  EXPECT_EQ(render(t, compiled("yyyy-mm-dd", "hh:mm:ss.xxxxxxxx")).time, "18:30:05.12345670");
}

TEST(TimeText, StreamForm) {
  std::ostringstream os;
  os << make_time(2014, 3, 9, 7, 5, 3, 429999);
  EXPECT_EQ(os.str(), "2014-03-09 07:05:03.042");
  std::ostringstream blank;
  blank << zarn::time();
  EXPECT_EQ(blank.str(), " ");

  std::string date = "x", time = "y";
  render_date_time(date, time, make_time(1901, 2, 3, 4, 5, 6, 9999999), false);
  EXPECT_EQ(date, "1901-02-03");
  EXPECT_EQ(time, "04:05:06");
  render_date_time(date, time, zarn::time(), true);
  EXPECT_EQ(date, "");
  EXPECT_EQ(time, "");
}

TEST(TimeText, ParseDateFields) {
  struct row {
    const char* text;
    const char* order;
    char sep;
    bool ok;
    u32 year, month, day;
  };
  const row rows[] = {
      {"2014-03-09", "YMD", '-', true, 2014, 3, 9},
      {"14-3-9", "YMD", '-', true, 2014, 3, 9},
      {"30-1-1", "YMD", '-', true, 2030, 1, 1},
      {"31-1-1", "YMD", '-', true, 1931, 1, 1},
      {"99-12-31", "YMD", '-', true, 1999, 12, 31},
      {"100-12-31", "YMD", '-', true, 100, 12, 31},
      {"2014--03-09", "YMD", '-', true, 2014, 3, 9},
      {"2014---03-09", "YMD", '-', true, 2014, 3, 9},
      {"2014----03-09", "YMD", '-', false, 0, 0, 0},
      {"2014-13-01", "YMD", '-', false, 2014, 13, 1},
      {"2014-12-32", "YMD", '-', false, 2014, 12, 32},
      {"2014-0-0", "YMD", '-', true, 2014, 0, 0},
      {"2014/03/09", "YMD", '/', true, 2014, 3, 9},
      {"09/03/2014", "DMY", '/', true, 2014, 3, 9},
      {"03/09/2014", "mdy", '/', true, 2014, 3, 9},
      {"2014-0x0c-09", "YMD", '-', true, 2014, 12, 9},
      {"Mar 9 2014", "MonDY", ' ', true, 2014, 3, 9},
      {"mAR 9 2014", "MonDY", ' ', true, 2014, 3, 9},
      {"March 9 2014", "MonDY", ' ', false, 0, 0, 0},
      {"9 Mar 2014", "DMonY", ' ', true, 2014, 3, 9},
      {"2014 9 Mar", "YDMon", ' ', false, 2014, 0, 9},  // a name in third place is not read
      {"2014-03", "YMD", '-', false, 2014, 3, 0},
      {"2014-03-", "YMD", '-', false, 2014, 3, 0},
      {"", "YMD", '-', false, 0, 0, 0},
      {"2014-ab-09", "YMD", '-', false, 2014, 0, 0},
      {"2014-03-09", "YM", '-', false, 0, 0, 0},
      {"2014-03-09", "YQD", '-', false, 2014, 0, 0},
      {"2014-03-09", "YMon", '-', false, 0, 0, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(std::string(r.text) + " / " + r.order);
    std::string order = r.order;
    u32 day = 77, month = 77, year = 77;
    EXPECT_EQ(parse_date_fields(r.text, order, r.sep, day, month, year), r.ok);
    if (r.ok) {
      EXPECT_EQ(year, r.year);
      EXPECT_EQ(month, r.month);
      EXPECT_EQ(day, r.day);
    }
  }
  std::string order = "YMonD";
  u32 d = 1, m = 1, y = 1;
  EXPECT_FALSE(parse_date_fields(nullptr, order, '-', d, m, y));
  EXPECT_EQ(d + m + y, 0u);
  EXPECT_EQ(order, "YMonD");
  EXPECT_TRUE(parse_date_fields("2014-Mar-09", order, '-', d, m, y));
  EXPECT_EQ(order, "YMD");  // the caller's order text is rewritten
  EXPECT_EQ(m, 3u);
}

TEST(TimeText, ParseTriple) {
  struct row {
    const char* text;
    bool ok;
    u32 h, m;
    double s;
  };
  const row rows[] = {
      {"13:45:30.25", true, 13, 45, 30.25},
      {"1:05 pm", true, 13, 5, 0},
      {"1:05pm", true, 13, 5, 0},
      {"1:05 PM", true, 13, 5, 0},
      {"12:30 pm", true, 12, 30, 0},
      {"12:30 am", true, 0, 30, 0},
      {"11:59 pm", true, 23, 59, 0},
      {"13:00 pm", true, 13, 0, 0},
      {"9:15 am", true, 9, 15, 0},
      {"9:15:20 pm", true, 21, 15, 20},
      {"9:15:20pm", true, 21, 15, 20},
      {"  10:20  ", true, 10, 20, 0},
      {"23:59:59", true, 23, 59, 59},
      {"7", false, 0, 0, 0},
      {"10:", false, 0, 0, 0},
      {"10::30", false, 0, 0, 0},
      {"-1:30", false, 0, 0, 0},
      {"10:-5", false, 0, 0, 0},
      {"nan:30", false, 0, 0, 0},
      {"1e30:30", false, 0, 0, 0},
      // a large hour is not moved by the suffix, so it cannot wrap round
      {"4294967290:00 pm", true, 4294967290u, 0, 0},
      {"10:12345678901234567890123456789012", false, 0, 0, 0},
      {"12345678901234567890123456789012:10", false, 0, 0, 0},
      {"10:20:12345678901234567890123456789012", false, 0, 0, 0},
      {"10:20:1234567890123456789012345678901", true, 10, 20, 1234567890123456789012345678901.0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.text);
    u32 h = 99, m = 99;
    double s = 99;
    EXPECT_EQ(parse_triple(r.text, h, m, s), r.ok);
    if (r.ok) {
      EXPECT_EQ(h, r.h);
      EXPECT_EQ(m, r.m);
      EXPECT_DOUBLE_EQ(s, r.s);
    }
  }
  u32 h = 1, m = 1;
  double s = 1;
  EXPECT_FALSE(parse_triple(nullptr, h, m, s));
}

TEST(TimeText, ParseDateTimeText) {
  zarn::_windows_systemtime st;
  ASSERT_TRUE(parse_date_time_text("2014-03-09", "10:20:30.9996", "YMD", '-', st));
  EXPECT_EQ(st.year, 2014);
  EXPECT_EQ(st.month, 3);
  EXPECT_EQ(st.day, 9);
  EXPECT_EQ(st.day_of_week, 0);
  EXPECT_EQ(st.hour, 10);
  EXPECT_EQ(st.minute, 20);
  EXPECT_EQ(st.second, 30);
  EXPECT_EQ(st.milliseconds, 1000);  // rounded, and the conversion lets it add
  u64 ft = 0;
  ASSERT_TRUE(zarn::systemtime_to_filetime(st, ft));
  std::ostringstream os;
  os << zarn::time(ft, type_time::filetime);
  EXPECT_EQ(os.str(), "2014-03-09 10:20:31.000");

  ASSERT_TRUE(parse_date_time_text("2014/03/09", "", "YMD", '/', st));
  EXPECT_EQ(st.hour + st.minute + st.second + st.milliseconds, 0);
  ASSERT_TRUE(parse_date_time_text("2014/03/09", nullptr, "YMD", '/', st));
  EXPECT_EQ(st.day, 9);

  ASSERT_TRUE(parse_date_time_text("2014-03-09", "13:45:30.25", "YMD", '-', st));
  EXPECT_EQ(st.second, 30);
  EXPECT_EQ(st.milliseconds, 250);
  ASSERT_TRUE(parse_date_time_text("2014-03-09", "23:59:59", "YMD", '-', st));
  ASSERT_TRUE(zarn::systemtime_to_filetime(st, ft));
  const zarn::time stop(ft, type_time::filetime);
  ASSERT_TRUE(stop.is_valid());
  EXPECT_EQ(stop.unix_seconds(), 1394409599);

  // failures leave out untouched
  const struct {
    const char* date;
    const char* time;
  } bad[] = {
      {nullptr, "10:00"},       {"", "10:00"},          {"2014-13-09", ""},
      {"2014-03-09", "10"},     {"2014-03-09", "10:"},  {"67550-03-09", ""},  // year beyond 16 bits
      {"2014-03-09", "65547:00"}, {"2014-03-09", "10:65600"}, {"2014-03-09", "10:00:65536"},
      {"2014-03-09", "10:00:nan"}, {"2014-03-09", "10:00:-1"}, {"2014-03-09", "10:00:inf"},
  };
  for (const auto& b : bad) {
    SCOPED_TRACE(b.date == nullptr ? "(null)" : b.date);
    zarn::_windows_systemtime keep;
    keep.year = 1234;
    EXPECT_FALSE(parse_date_time_text(b.date, b.time, "YMD", '-', keep));
    EXPECT_EQ(keep.year, 1234);
  }
}

}  // namespace
