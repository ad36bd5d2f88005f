#include "common/zarn_time.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

namespace {

using zarn::type_time;

constexpr u64 kTicksPerDay = 864000000000ULL;

// Independent FILETIME of a civil date: days counted year by year and month
// by month from 1601, so it shares no arithmetic with the library.
u64 naive_filetime(int year, int month, int day, int h = 0, int mi = 0, int s = 0) {
  u64 days = 0;
  for (int y = 1601; y < year; ++y) days += zarn::is_leap_year(y) ? 366 : 365;
  for (int m = 1; m < month; ++m) days += zarn::days_in_month(year, static_cast<u32>(m));
  days += static_cast<u64>(day - 1);
  return days * kTicksPerDay + ((static_cast<u64>(h) * 60 + static_cast<u64>(mi)) * 60 + static_cast<u64>(s)) * 10000000ULL;
}

void expect_fields(const zarn::time& t, u32 y, u32 mo, u32 d, u32 h, u32 mi, u32 s) {
  EXPECT_EQ(t.time_field_year(), y);
  EXPECT_EQ(t.time_field_month(), mo);
  EXPECT_EQ(t.time_field_day(), d);
  EXPECT_EQ(t.time_field_hour(), h);
  EXPECT_EQ(t.time_field_minute(), mi);
  EXPECT_EQ(t.time_field_second(), s);
}

TEST(ZarnTime, DefaultIsZeroAndInvalid) {
  zarn::time t;
  EXPECT_FALSE(t.is_valid());
  EXPECT_EQ(t.filetime(), 0u);
  EXPECT_EQ(t.unix_seconds(), 0);
  EXPECT_EQ(t.time_field_year(), 0u);
}

TEST(ZarnTime, FiletimeValidityBounds) {
  struct row {
    u64 ft;
    bool valid;
  };
  const row rows[] = {
      {0, false},
      {116444736000000000ULL, false},  // first second of 1970
      {116444736009999999ULL, false},
      {116444736010000000ULL, true},   // 1970-01-01 00:00:01
      {94354848000000000ULL, true},    // 1900-01-01 00:00:00
      {94354848000000000ULL - 1, false},
      {naive_filetime(3000, 12, 31, 23, 59, 59), true},
      {naive_filetime(3001, 1, 1), false},  // no local form beyond 3000
      {(1ULL << 63) - 1, false},
      {1ULL << 63, false},
      {~0ULL, false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.ft);
    EXPECT_EQ(zarn::time(r.ft, type_time::filetime).is_valid(), r.valid);
  }
}

TEST(ZarnTime, FiletimeKeepsTheRawValueWhenInvalid) {
  EXPECT_EQ(zarn::time(~0ULL, type_time::filetime).filetime(), ~0ULL);
  EXPECT_EQ(zarn::time(116444736000000001ULL, type_time::filetime).filetime(), 116444736000000001ULL);
}

TEST(ZarnTime, NineteenHundredAndNineteenSixty) {
  const zarn::time t1900(94354848000000000ULL, type_time::filetime);
  ASSERT_TRUE(t1900.is_valid());
  expect_fields(t1900, 1900, 1, 1, 0, 0, 0);
  EXPECT_TRUE(t1900.local_failed());
  EXPECT_EQ(t1900.unix_seconds(), -2208988800LL);

  // What an examiner sees for a 1960 time: a valid time printed as its UTC
  // date, a negative Unix count (never a wrapped positive one) and no local form.
  const zarn::time t(113432400000000000ULL, type_time::filetime);
  ASSERT_TRUE(t.is_valid());
  expect_fields(t, 1960, 6, 15, 12, 0, 0);
  EXPECT_EQ(t.unix_seconds(), -301233600LL);
  EXPECT_TRUE(t.local_failed());
  EXPECT_EQ(t.local_tm().tm_year, 0);
  EXPECT_EQ(t.dos_date(), 0u);
  EXPECT_EQ(t.time_field_day_of_week(), 3u);  // a Wednesday

  // the last second of 1969 floors to -1
  i64 s = 0;
  ASSERT_TRUE(zarn::filetime_to_unix_seconds(116444736000000000ULL - 1, s));
  EXPECT_EQ(s, -1);
}

TEST(ZarnTime, UnixTime) {
  EXPECT_FALSE(zarn::time(0, type_time::unix_time).is_valid());
  EXPECT_FALSE(zarn::time(-1, type_time::unix_time).is_valid());
  EXPECT_EQ(zarn::time(-1, type_time::unix_time).unix_seconds(), 0);
  const zarn::time one(1, type_time::unix_time);
  ASSERT_TRUE(one.is_valid());
  expect_fields(one, 1970, 1, 1, 0, 0, 1);
  EXPECT_EQ(one.filetime(), 116444736010000000ULL);
  EXPECT_EQ(one.unix_seconds(), 1);

  const zarn::time t(1394348703, type_time::unix_time);  // 2014-03-09 07:05:03
  ASSERT_TRUE(t.is_valid());
  expect_fields(t, 2014, 3, 9, 7, 5, 3);
  EXPECT_EQ(t.unix_seconds(), 1394348703);
  // a u32 payload field converts the same
  EXPECT_EQ(zarn::time(u32{1394348703}, type_time::unix_time).filetime(), t.filetime());
}

TEST(ZarnTime, IntegerEncodingsThatOverflowAreInvalidNotWrapped) {
  // chrome: x10 would wrap to 4 + 130000000000000000 (a 2012 date)
  const u64 wraps = 1844674407370955162ULL + 13000000000000000ULL;
  EXPECT_FALSE(zarn::time(wraps, type_time::chrome).is_valid());
  EXPECT_FALSE(zarn::time(~0ULL, type_time::chrome).is_valid());
  EXPECT_FALSE(zarn::time((1ULL << 63) / 10 + 1, type_time::chrome).is_valid());
  // unix: x10^7 would wrap to a 2014-ish FILETIME
  EXPECT_FALSE(zarn::time(i64{1844674407370} + 1400000000, type_time::unix_time).is_valid());
  EXPECT_EQ(zarn::time(i64{1844674407370} + 1400000000, type_time::unix_time).filetime(), 0u);
  EXPECT_FALSE(zarn::time(std::numeric_limits<i64>::max(), type_time::unix_time).is_valid());
  EXPECT_FALSE(zarn::time(std::numeric_limits<i64>::min(), type_time::unix_time).is_valid());
  // firefox3
  EXPECT_FALSE(zarn::time(std::numeric_limits<i64>::max() / 10 + 1, type_time::firefox3).is_valid());
  EXPECT_FALSE(zarn::time(std::numeric_limits<i64>::min(), type_time::firefox3).is_valid());
  EXPECT_FALSE(zarn::time(i64{-11644473600} * 1000000 - 1, type_time::firefox3).is_valid());  // before 1601
}

TEST(ZarnTime, ChromeFirefoxSafari) {
  EXPECT_EQ(zarn::time(13000000000000000ULL, type_time::chrome).filetime(), 130000000000000000ULL);
  EXPECT_TRUE(zarn::time(13000000000000000ULL, type_time::chrome).is_valid());

  const zarn::time ff(i64{1394348703} * 1000000 + 42123, type_time::firefox3);
  ASSERT_TRUE(ff.is_valid());
  expect_fields(ff, 2014, 3, 9, 7, 5, 3);
  EXPECT_EQ(ff.time_field_microseconds(false), 42123u);

  const zarn::time s0(0, type_time::safari);
  ASSERT_TRUE(s0.is_valid());
  expect_fields(s0, 2001, 1, 1, 0, 0, 0);
  EXPECT_EQ(s0.filetime(), 12622780800ULL * 10000000ULL);

  const zarn::time s32(i64{1} << 32, type_time::safari);  // nanoseconds
  ASSERT_TRUE(s32.is_valid());
  expect_fields(s32, 2001, 1, 1, 0, 0, 4);
  EXPECT_EQ(s32.time_field_nanoseconds(), 294967200u);  // to the 100 ns tick

  const zarn::time secs(0xFFFFFFFF, type_time::safari);  // high half zero: seconds
  ASSERT_TRUE(secs.is_valid());
  EXPECT_EQ(secs.filetime(), (0xFFFFFFFFULL + 12622780800ULL) * 10000000ULL);
}

TEST(ZarnTime, SafariDouble) {
  const zarn::time half(0.5, type_time::safari);
  ASSERT_TRUE(half.is_valid());
  expect_fields(half, 2001, 1, 1, 0, 0, 0);
  EXPECT_EQ(half.time_field_milliseconds(false), 500u);

  // before 2001 the fraction lies further back
  const zarn::time before(-0.5, type_time::safari);
  ASSERT_TRUE(before.is_valid());
  expect_fields(before, 2000, 12, 31, 23, 59, 59);
  EXPECT_EQ(before.time_field_milliseconds(false), 500u);

  const zarn::time big(416000000.25, type_time::safari);
  EXPECT_EQ(big.filetime(), (416000000ULL + 12622780800ULL) * 10000000ULL + 2500000ULL);

  const double bad[] = {std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity(),
                        1e300,
                        -1e300,
                        9.3e17,
                        -12622780800.0,
                        std::numeric_limits<double>::max(),
                        std::numeric_limits<double>::lowest()};
  for (double v : bad) {
    SCOPED_TRACE(v);
    EXPECT_FALSE(zarn::time(v, type_time::safari).is_valid());
  }
  // only the Safari encoding has a floating-point form
  EXPECT_FALSE(zarn::time(1.0, type_time::unix_time).is_valid());
}

TEST(ZarnTime, UnknownEncodingIsInvalid) {
  EXPECT_FALSE(zarn::time(130000000000000000LL, static_cast<type_time>(16)).is_valid());
  EXPECT_FALSE(zarn::time(130000000000000000LL, static_cast<type_time>(0)).is_valid());
}

TEST(ZarnTime, EncodingBits) {
  EXPECT_EQ(static_cast<u32>(type_time::filetime), 1u);
  EXPECT_EQ(static_cast<u32>(type_time::chrome), 2u);
  EXPECT_EQ(static_cast<u32>(type_time::firefox3), 4u);
  EXPECT_EQ(static_cast<u32>(type_time::unix_time), 8u);
  EXPECT_EQ(static_cast<u32>(type_time::safari), 0x40000u);
}

TEST(ZarnTime, SubSecondFieldsAndRounding) {
  const u64 base = naive_filetime(2009, 7, 4, 18, 30, 5);
  const zarn::time t(base + 9995000, type_time::filetime);
  EXPECT_EQ(t.time_field_milliseconds(false), 999u);
  EXPECT_EQ(t.time_field_milliseconds(true), 1000u);  // no carry into the second
  EXPECT_EQ(t.time_field_microseconds(false), 999500u);
  EXPECT_EQ(t.time_field_nanoseconds(), 999500000u);
  EXPECT_EQ(t.calendar().ps_in_second, 9995000ULL * 100000);

  const zarn::time u(base + 9999995, type_time::filetime);  // 999999.5 us
  EXPECT_EQ(u.time_field_microseconds(false), 999999u);
  EXPECT_EQ(u.time_field_microseconds(true), 1000000u);
  const zarn::time v(base + 4994, type_time::filetime);  // 499.4 us
  EXPECT_EQ(v.time_field_milliseconds(true), 0u);
  EXPECT_EQ(v.time_field_microseconds(true), 499u);
}

TEST(ZarnTime, DosWords) {
  struct row {
    u64 ft;
    u16 date;
    u16 time;
  };
  const row rows[] = {
      {naive_filetime(1979, 12, 31, 23, 59, 59), 0, 0},
      {naive_filetime(1980, 1, 1), 0x0021, 0},
      {naive_filetime(1980, 1, 1, 0, 0, 59), 0x0021, 30},
      {naive_filetime(2037, 12, 31, 23, 59, 59), 0x739F, 0xBF7E},
      {naive_filetime(2038, 1, 1), 0, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.ft);
    const zarn::time t(r.ft, type_time::filetime);
    ASSERT_TRUE(t.is_valid());
    EXPECT_EQ(t.dos_date(), r.date);
    EXPECT_EQ(t.dos_time(), r.time);
  }
  u16 out[2] = {7, 7};
  EXPECT_FALSE(zarn::filetime_to_dos(1ULL << 63, out));
  EXPECT_EQ(out[0], 7u);
}

TEST(ZarnTime, FiletimeStructHalves) {
  const zarn::time t(0x01D33B4A12345678ULL, type_time::filetime);
  EXPECT_EQ(t.filetime_struct().low, 0x12345678u);
  EXPECT_EQ(t.filetime_struct().high, 0x01D33B4Au);
}

zarn::_windows_systemtime make_st(u16 y, u16 mo, u16 d, u16 h = 0, u16 mi = 0, u16 s = 0, u16 ms = 0) {
  zarn::_windows_systemtime st;
  st.year = y;
  st.month = mo;
  st.day = d;
  st.hour = h;
  st.minute = mi;
  st.second = s;
  st.milliseconds = ms;
  return st;
}

TEST(ZarnTime, SystemtimeConstruction) {
  const zarn::time t(make_st(2000, 3, 1));
  ASSERT_TRUE(t.is_valid());
  EXPECT_EQ(t.filetime(), 125963424000000000ULL);

  const zarn::time feb28(make_st(2100, 2, 28, 12));
  const zarn::time mar1(make_st(2100, 3, 1, 12));
  EXPECT_EQ(mar1.filetime() - feb28.filetime(), kTicksPerDay);

  const zarn::time ms(make_st(2009, 7, 4, 18, 30, 5, 999));
  ASSERT_TRUE(ms.is_valid());
  EXPECT_EQ(ms.filetime(), naive_filetime(2009, 7, 4, 18, 30, 5) + 9990000);
}

TEST(ZarnTime, SystemtimeOutOfRangeFieldsAreInvalid) {
  struct row {
    const char* what;
    zarn::_windows_systemtime st;
    bool valid;
  };
  const row rows[] = {
      {"ok", make_st(2014, 3, 9, 23, 59, 59, 999), true},
      {"leap day 2000", make_st(2000, 2, 29), true},
      {"leap day 2001", make_st(2001, 2, 29), false},
      {"leap day 1900", make_st(1900, 2, 29), false},
      {"april 31", make_st(2014, 4, 31), false},
      {"month 0", make_st(2014, 0, 9), false},
      {"month 13", make_st(2014, 13, 9), false},
      {"day 0", make_st(2014, 3, 0), false},
      {"day 40", make_st(2014, 3, 40), false},
      {"hour 24", make_st(2014, 3, 9, 24), false},
      {"hour 25", make_st(2014, 3, 9, 25), false},
      {"minute 60", make_st(2014, 3, 9, 0, 60), false},
      {"second 60", make_st(2014, 3, 9, 0, 0, 60), false},
      {"ms 1000", make_st(2014, 3, 9, 0, 0, 0, 1000), false},
      {"all ones", make_st(0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF), false},
      {"zero", make_st(0, 0, 0), false},
      {"year 1899", make_st(1899, 12, 31, 23, 59, 59, 999), false},
      {"year 1900", make_st(1900, 1, 1), true},
      {"year 1600", make_st(1600, 12, 31), false},
      {"first second of 1970", make_st(1970, 1, 1, 0, 0, 0, 999), false},
      {"year 3001", make_st(3001, 1, 1), false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(zarn::time(r.st).is_valid(), r.valid);
  }
  // the day of week is derived data and not tested
  zarn::_windows_systemtime st = make_st(2014, 3, 9);
  st.day_of_week = 9;
  EXPECT_TRUE(zarn::time(st).is_valid());
}

TEST(ZarnTime, SystemtimeToFiletimeLetsFieldsAdd) {
  u64 ft = 1;
  EXPECT_TRUE(zarn::systemtime_to_filetime(make_st(2014, 1, 32), ft));
  EXPECT_EQ(ft, naive_filetime(2014, 2, 1));
  EXPECT_TRUE(zarn::systemtime_to_filetime(make_st(2014, 3, 9, 10, 20, 30, 1000), ft));
  EXPECT_EQ(ft, naive_filetime(2014, 3, 9, 10, 20, 31));
  // no FILETIME before 1601: 0, which makes an invalid time
  EXPECT_TRUE(zarn::systemtime_to_filetime(make_st(1600, 1, 1), ft));
  EXPECT_EQ(ft, 0u);
}

TEST(ZarnTime, ReadSystemtimeFromBytes) {
  const std::vector<u8> full = {
      0xDE, 0x07,  // year 2014
      0x03, 0x00,  // month 3
      0x00, 0x00,  // day of week
      0x09, 0x00,  // day 9
      0x07, 0x00,  // hour 7
      0x05, 0x00,  // minute 5
      0x03, 0x00,  // second 3
      0x2A, 0x00,  // milliseconds 42
  };
  zarn::_windows_systemtime st;
  ASSERT_TRUE(zarn::read_systemtime(full, st));
  EXPECT_EQ(st.year, 2014);
  EXPECT_EQ(st.month, 3);
  EXPECT_EQ(st.day, 9);
  EXPECT_EQ(st.milliseconds, 42);
  const zarn::time t(st);
  ASSERT_TRUE(t.is_valid());
  expect_fields(t, 2014, 3, 9, 7, 5, 3);
  for (size_t n = 0; n < full.size(); ++n) {
    std::vector<u8> cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    zarn::_windows_systemtime untouched;
    EXPECT_FALSE(zarn::read_systemtime(cut, untouched)) << n;
    EXPECT_EQ(untouched.year, 0);
  }
}

TEST(ZarnTime, CalendarToFiletimeFoldsMonths) {
  std::tm f{};
  f.tm_year = 2014 - 1900;
  f.tm_mday = 1;
  f.tm_mon = 12;
  EXPECT_EQ(zarn::calendar_to_filetime(f, 0), naive_filetime(2015, 1, 1));
  f.tm_mon = -1;
  EXPECT_EQ(zarn::calendar_to_filetime(f, 0), naive_filetime(2013, 12, 1));
  f.tm_mon = -13;
  EXPECT_EQ(zarn::calendar_to_filetime(f, 0), naive_filetime(2012, 12, 1));
  f.tm_mon = 25;
  EXPECT_EQ(zarn::calendar_to_filetime(f, 0), naive_filetime(2016, 2, 1));
  f.tm_mon = 0;
  f.tm_mday = 0;  // the day before the first
  f.tm_hour = 25;
  EXPECT_EQ(zarn::calendar_to_filetime(f, 5), naive_filetime(2014, 1, 1, 1) + 50000);
  // values far outside any calendar do not wrap
  f.tm_year = std::numeric_limits<int>::max();
  f.tm_mon = std::numeric_limits<int>::max();
  f.tm_mday = std::numeric_limits<int>::max();
  EXPECT_EQ(zarn::calendar_to_filetime(f, std::numeric_limits<i64>::max()), 0u);
  f.tm_year = std::numeric_limits<int>::min();
  f.tm_mon = std::numeric_limits<int>::min();
  EXPECT_EQ(zarn::calendar_to_filetime(f, 0), 0u);
}

// Every day from 1601-01-01 to 9999-12-31: FILETIME -> fields -> FILETIME is
// the identity and the fields advance by exactly one day.
TEST(ZarnTime, CalendarRoundTripEveryDay) {
  int y = 1601, m = 1, d = 1;
  u32 wday = 1;  // Monday
  const u64 last = naive_filetime(9999, 12, 31);
  u64 count = 0;
  for (u64 day = 0;; ++day) {
    // a different time of day on each day
    const u64 sod = (day * 7919) % 86400;
    const u64 ft = day * kTicksPerDay + sod * 10000000ULL + day % 10000000ULL;
    zarn::calendar_block b;
    ASSERT_TRUE(zarn::filetime_to_calendar(ft, b));
    if (b.st.year != y || b.st.month != m || b.st.day != d || b.st.day_of_week != wday ||
        b.st.hour != sod / 3600 || b.st.minute != sod % 3600 / 60 || b.st.second != sod % 60) {
      FAIL() << "day " << day << ": got " << b.st.year << "-" << b.st.month << "-" << b.st.day
             << " wday " << b.st.day_of_week << ", want " << y << "-" << m << "-" << d;
    }
    std::tm f{};
    f.tm_year = b.st.year - 1900;
    f.tm_mon = b.st.month - 1;
    f.tm_mday = b.st.day;
    f.tm_hour = b.st.hour;
    f.tm_min = b.st.minute;
    f.tm_sec = b.st.second;
    const u64 back = zarn::calendar_to_filetime(f, b.st.milliseconds) + (ft % 10000);
    if (back != ft && ft != 0) FAIL() << "day " << day << ": " << back << " != " << ft;
    ++count;
    if (day * kTicksPerDay == last) break;
    // the next civil day, counted without the library
    if (++d > static_cast<int>(zarn::days_in_month(y, static_cast<u32>(m)))) {
      d = 1;
      if (++m > 12) {
        m = 1;
        ++y;
      }
    }
    wday = (wday + 1) % 7;
  }
  EXPECT_EQ(count, 3067671u);  // days 1601-01-01 .. 9999-12-31
}

TEST(ZarnTime, CalendarExtremes) {
  zarn::calendar_block b;
  ASSERT_TRUE(zarn::filetime_to_calendar((1ULL << 63) - 1, b));
  EXPECT_EQ(b.st.year, 30828);
  EXPECT_EQ(b.st.month, 9);
  EXPECT_EQ(b.st.day, 14);
  EXPECT_EQ(b.st.hour, 2);
  EXPECT_EQ(b.st.minute, 48);
  EXPECT_EQ(b.st.second, 5);
  EXPECT_EQ(b.st.milliseconds, 477);
  EXPECT_EQ(b.ns_in_second, 477580700u);
  std::tm f{};
  f.tm_year = 30828 - 1900;
  f.tm_mon = 8;
  f.tm_mday = 14;
  f.tm_hour = 2;
  f.tm_min = 48;
  f.tm_sec = 5;
  EXPECT_EQ(zarn::calendar_to_filetime(f, 477) + 5807, (1ULL << 63) - 1);
  f.tm_sec = 6;  // one second later: no FILETIME below the top bit
  EXPECT_EQ(zarn::calendar_to_filetime(f, 0), 0u);

  // the years that a single correction step gets wrong
  const struct {
    int y, m, d;
  } dates[] = {{3112, 12, 31}, {3113, 1, 1}, {4000, 2, 29}, {29999, 12, 31}};
  for (const auto& dt : dates) {
    ASSERT_TRUE(zarn::filetime_to_calendar(naive_filetime(dt.y, dt.m, dt.d), b));
    EXPECT_EQ(b.st.year, dt.y);
    EXPECT_EQ(b.st.month, dt.m);
    EXPECT_EQ(b.st.day, dt.d);
  }

  b.st.year = 99;
  EXPECT_FALSE(zarn::filetime_to_calendar(1ULL << 63, b));
  EXPECT_EQ(b.st.year, 0);
  EXPECT_FALSE(zarn::filetime_to_calendar(~0ULL, b));
  zarn::_windows_systemtime st;
  EXPECT_FALSE(zarn::filetime_to_systemtime(~0ULL, st));
  EXPECT_TRUE(zarn::filetime_to_systemtime(0, st));
  EXPECT_EQ(st.year, 1601);
  EXPECT_EQ(st.day_of_week, 1);

  // a sweep over the whole range below the top bit, 2^40 ticks apart
  for (u64 ft = 0; ft < (1ULL << 63); ft += 1ULL << 40) {
    ASSERT_TRUE(zarn::filetime_to_calendar(ft, b));
    ASSERT_GE(b.st.month, 1);
    ASSERT_LE(b.st.month, 12);
    ASSERT_GE(b.st.day, 1);
    ASSERT_LE(b.st.day, zarn::days_in_month(b.st.year, b.st.month));
    f = std::tm{};
    f.tm_year = b.st.year - 1900;
    f.tm_mon = b.st.month - 1;
    f.tm_mday = b.st.day;
    f.tm_hour = b.st.hour;
    f.tm_min = b.st.minute;
    f.tm_sec = b.st.second;
    if (ft != 0) {
      ASSERT_EQ(zarn::calendar_to_filetime(f, b.st.milliseconds) + ft % 10000, ft);
    }
  }
}

TEST(ZarnTime, UnixFiletimeHelpers) {
  u64 ft = 0;
  EXPECT_TRUE(zarn::unix_seconds_to_filetime(1, ft));
  EXPECT_EQ(ft, 116444736010000000ULL);
  EXPECT_TRUE(zarn::unix_seconds_to_filetime(-1, ft));
  EXPECT_EQ(ft, 116444735990000000ULL);
  EXPECT_TRUE(zarn::unix_micros_to_filetime(1500000, ft));
  EXPECT_EQ(ft, 116444736015000000ULL);
  i64 s = 7;
  EXPECT_FALSE(zarn::filetime_to_unix_seconds(1ULL << 63, s));
  EXPECT_EQ(s, 7);
  EXPECT_TRUE(zarn::filetime_to_unix_seconds(0, s));
  EXPECT_EQ(s, -11644473600LL);
}

TEST(ZarnTime, LocalBrokenDownTime) {
  std::tm t{};
  // just after the epoch west of Greenwich: the day before, not a wrapped count
  ASSERT_TRUE(zarn::unix_seconds_to_local_tm_at(1, -3600, t));
  EXPECT_EQ(t.tm_year, 69);
  EXPECT_EQ(t.tm_mon, 11);
  EXPECT_EQ(t.tm_mday, 31);
  EXPECT_EQ(t.tm_hour, 23);
  EXPECT_EQ(t.tm_min, 0);
  EXPECT_EQ(t.tm_sec, 1);
  EXPECT_EQ(t.tm_wday, 3);
  EXPECT_EQ(t.tm_yday, 364);

  ASSERT_TRUE(zarn::unix_seconds_to_local_tm_at(1394348703, 3600, t));  // 2014-03-09 08:05:03
  EXPECT_EQ(t.tm_year, 114);
  EXPECT_EQ(t.tm_mon, 2);
  EXPECT_EQ(t.tm_mday, 9);
  EXPECT_EQ(t.tm_hour, 8);
  EXPECT_EQ(t.tm_wday, 0);
  EXPECT_EQ(t.tm_yday, 67);
  EXPECT_EQ(t.tm_isdst, 0);

  const i64 end_3000 = (static_cast<i64>(naive_filetime(3001, 1, 1)) - 116444736000000000LL) / 10000000;
  EXPECT_TRUE(zarn::unix_seconds_to_local_tm_at(end_3000 - 1, 0, t));
  EXPECT_EQ(t.tm_year, 1100);
  EXPECT_FALSE(zarn::unix_seconds_to_local_tm_at(end_3000, 0, t));
  EXPECT_EQ(t.tm_year, 0);
  EXPECT_FALSE(zarn::unix_seconds_to_local_tm_at(-1, 0, t));
  EXPECT_FALSE(zarn::unix_seconds_to_local_tm_at(std::numeric_limits<i64>::max(), 1, t));
  EXPECT_FALSE(zarn::unix_seconds_to_local_tm_at(std::numeric_limits<i64>::max() - 5, 0, t));
}

TEST(ZarnTime, LocalOffsetUnderUtc) {
  const char* tz = std::getenv("TZ");
  if (tz == nullptr || std::strcmp(tz, "UTC") != 0) GTEST_SKIP() << "needs TZ=UTC";
  EXPECT_EQ(zarn::local_utc_offset_seconds(), 0);
  const zarn::time t(1394348703, type_time::unix_time);
  EXPECT_FALSE(t.local_failed());
  EXPECT_EQ(t.local_tm().tm_hour, 7);
  EXPECT_EQ(t.local_tm().tm_mday, 9);
}

TEST(ZarnTime, NowIsTheClock) {
  const std::time_t before = ::time(nullptr);
  const zarn::time t = zarn::time::now();
  const std::time_t after = ::time(nullptr);
  ASSERT_TRUE(t.is_valid());
  EXPECT_GE(t.unix_seconds(), static_cast<i64>(before));
  EXPECT_LE(t.unix_seconds(), static_cast<i64>(after));
}

}  // namespace
