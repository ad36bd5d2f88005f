#include "common/zarn_time.hpp"

#include <sys/time.h>

#include <cmath>
#include <limits>

#include "common/byte_reader.hpp"

namespace zarn {

namespace {

constexpr u64 top_bit = 1ULL << 63;
constexpr i64 seconds_per_day = 86400;
// Days from 1601-01-01 to 1970-01-01.
constexpr i64 filetime_epoch_days = 134774;
static_assert(static_cast<u64>(filetime_epoch_days * seconds_per_day) == unix_epoch_seconds);
static_assert(unix_epoch_seconds * ticks_per_second == unix_epoch_ticks);
// The last year for which a local broken-down time is made.
constexpr i64 last_local_year = 3000;

i64 floor_div(i64 a, i64 b) {
  i64 q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

i64 floor_mod(i64 a, i64 b) { return a - floor_div(a, b) * b; }

}  // namespace

// ---- calendar ----

bool is_leap_year(i64 year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

u32 days_in_month(i64 year, u32 month) {
  static constexpr u32 lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  if (month == 2 && is_leap_year(year)) return 29;
  return lengths[month - 1];
}

// Exact over the whole i64 day range used here: years are split into 400-year
// eras of 146097 days, so no correction step can run out of range.
i64 days_from_civil(i64 year, u32 month, u32 day) {
  const i64 y = year - (month <= 2 ? 1 : 0);
  const i64 era = floor_div(y, 400);
  const i64 yoe = y - era * 400;                                          // [0, 399]
  const i64 mp = month > 2 ? month - 3 : month + 9;                       // March = 0
  const i64 doy = (153 * mp + 2) / 5 + static_cast<i64>(day) - 1;         // [0, 365]
  const i64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;                  // [0, 146096]
  return era * 146097 + doe - 719468;
}

void civil_from_days(i64 days, i64& year, u32& month, u32& day) {
  const i64 z = days + 719468;
  const i64 era = floor_div(z, 146097);
  const i64 doe = z - era * 146097;                                       // [0, 146096]
  const i64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  const i64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);                // [0, 365]
  const i64 mp = (5 * doy + 2) / 153;                                     // [0, 11]
  day = static_cast<u32>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<u32>(mp < 10 ? mp + 3 : mp - 9);
  year = yoe + era * 400 + (month <= 2 ? 1 : 0);
}

bool filetime_to_calendar(u64 ft, calendar_block& out) {
  out = calendar_block{};
  if (ft & top_bit) return false;
  const u64 s = ft / ticks_per_second;
  const i64 days = static_cast<i64>(s / seconds_per_day);  // since 1601-01-01
  const i64 sod = static_cast<i64>(s % seconds_per_day);
  i64 year = 0;
  u32 month = 0, day = 0;
  civil_from_days(days - filetime_epoch_days, year, month, day);
  // below the top bit the year stays under 30829, well inside a u16
  out.st.year = static_cast<u16>(year);
  out.st.month = static_cast<u16>(month);
  out.st.day = static_cast<u16>(day);
  out.st.day_of_week = static_cast<u16>((days + 1) % 7);  // 1601-01-01 was a Monday
  out.st.hour = static_cast<u16>(sod / 3600);
  out.st.minute = static_cast<u16>(sod % 3600 / 60);
  out.st.second = static_cast<u16>(sod % 60);
  const u64 ticks = ft % ticks_per_second;
  out.st.milliseconds = static_cast<u16>(ticks / 10000);
  out.us_in_second = ticks / 10;
  out.ns_in_second = ticks * 100;
  out.ps_in_second = ticks * 100000;
  return true;
}

bool filetime_to_systemtime(u64 ft, _windows_systemtime& out) {
  calendar_block block;
  const bool ok = filetime_to_calendar(ft, block);
  out = block.st;
  return ok;
}

u64 calendar_to_filetime(const std::tm& fields, i64 milliseconds) {
  // a month outside 0..11 folds into the year
  i64 year = static_cast<i64>(fields.tm_year) + 1900 + fields.tm_mon / 12;
  i64 mon = fields.tm_mon % 12;
  if (mon < 0) {
    mon += 12;
    year -= 1;
  }
  // day, hour, minute and second are not range-tested: they add. The sum is
  // formed in 128 bits so no field value can wrap it.
  const __int128 days = static_cast<__int128>(days_from_civil(year, static_cast<u32>(mon + 1), 1)) +
                        filetime_epoch_days + fields.tm_mday - 1;
  const __int128 seconds = ((days * 24 + fields.tm_hour) * 60 + fields.tm_min) * 60 + fields.tm_sec;
  const __int128 ticks = seconds * static_cast<__int128>(ticks_per_second) +
                         static_cast<__int128>(milliseconds) * 10000;
  // before 1601 or at/after the top bit there is no FILETIME for it
  if (ticks <= 0 || ticks >= static_cast<__int128>(top_bit)) return 0;
  return static_cast<u64>(ticks);
}

namespace {
std::tm tm_from_systemtime(const _windows_systemtime& st) {
  std::tm fields{};
  fields.tm_sec = st.second;
  fields.tm_min = st.minute;
  fields.tm_hour = st.hour;
  fields.tm_mday = st.day;
  fields.tm_mon = static_cast<int>(st.month) - 1;
  fields.tm_year = static_cast<int>(st.year) - 1900;
  return fields;
}
}  // namespace

bool systemtime_to_filetime(const _windows_systemtime& st, u64& out) {
  out = calendar_to_filetime(tm_from_systemtime(st), st.milliseconds);
  return true;
}

bool read_systemtime(std::span<const u8> bytes, _windows_systemtime& out) {
  if (!fits(bytes.size(), 0, systemtime_size)) return false;
  out.year = u16_at(bytes, 0);
  out.month = u16_at(bytes, 2);
  out.day_of_week = u16_at(bytes, 4);
  out.day = u16_at(bytes, 6);
  out.hour = u16_at(bytes, 8);
  out.minute = u16_at(bytes, 10);
  out.second = u16_at(bytes, 12);
  out.milliseconds = u16_at(bytes, 14);
  return true;
}

bool systemtime_fields_valid(const _windows_systemtime& st) {
  if (st.month < 1 || st.month > 12) return false;
  if (st.day < 1 || st.day > days_in_month(st.year, st.month)) return false;
  return st.hour < 24 && st.minute < 60 && st.second < 60 && st.milliseconds < 1000;
}

bool filetime_to_unix_seconds(u64 ft, i64& out) {
  if (ft & top_bit) return false;
  out = floor_div(static_cast<i64>(ft) - static_cast<i64>(unix_epoch_ticks),
                  static_cast<i64>(ticks_per_second));
  return true;
}

bool unix_seconds_to_filetime(i64 s, u64& out) {
  out = static_cast<u64>(s) * ticks_per_second + unix_epoch_ticks;
  return true;
}

bool unix_micros_to_filetime(i64 us, u64& out) {
  out = static_cast<u64>(us) * 10 + unix_epoch_ticks;
  return true;
}

bool filetime_to_dos(u64 ft, u16 out[2]) {
  calendar_block block;
  if (!filetime_to_calendar(ft, block)) return false;
  const _windows_systemtime& st = block.st;
  if (st.year < 1980 || st.year >= 2038) return false;
  out[0] = static_cast<u16>(st.day | (st.month << 5) | ((st.year - 1980) << 9));
  const u32 two_seconds = st.second / 2u + st.second % 2u;  // odd seconds round up
  out[1] = static_cast<u16>(two_seconds | (st.minute << 5) | (st.hour << 11));
  return true;
}

i64 local_utc_offset_seconds() {
  // Measured once: the offset in force when the run started (daylight saving
  // included as then), applied to every time alike.
  static const i64 offset = [] {
    const std::time_t now = ::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) return i64{0};
    return static_cast<i64>(local.tm_gmtoff);
  }();
  return offset;
}

bool unix_seconds_to_local_tm_at(i64 s, i64 offset_seconds, std::tm& out) {
  out = std::tm{};
  if (s < 0) return false;
  i64 v = 0;
  if (__builtin_add_overflow(s, offset_seconds, &v)) return false;
  const i64 d = floor_div(v, seconds_per_day);
  const i64 sod = v - d * seconds_per_day;
  i64 year = 0;
  u32 month = 0, day = 0;
  // keep civil_from_days far from the edges of i64
  if (d > 2 * 146097 * 100 || d < -2 * 146097 * 100) return false;
  civil_from_days(d, year, month, day);
  if (year > last_local_year) return false;
  out.tm_sec = static_cast<int>(sod % 60);
  out.tm_min = static_cast<int>(sod % 3600 / 60);
  out.tm_hour = static_cast<int>(sod / 3600);
  out.tm_mday = static_cast<int>(day);
  out.tm_mon = static_cast<int>(month) - 1;
  out.tm_year = static_cast<int>(year - 1900);
  out.tm_wday = static_cast<int>(floor_mod(d + 4, 7));  // 1970-01-01 was a Thursday
  out.tm_yday = static_cast<int>(d - days_from_civil(year, 1, 1));
  out.tm_isdst = 0;
  return true;
}

bool unix_seconds_to_local_tm(i64 s, std::tm& out) {
  return unix_seconds_to_local_tm_at(s, local_utc_offset_seconds(), out);
}

bool is_valid_filetime(u64 filetime) {
  // The answer a zarn::time built from the value gives, without its calendar
  // work (every record time is tested): UTC years 1900 to 3000, less the
  // first second of 1970, which a cleared Unix field would hold.
  constexpr u64 first_1900 = ntp_epoch_ticks;
  constexpr u64 first_3001 = 441796896000000000ull;
  if (filetime < first_1900 || filetime >= first_3001) return false;
  return filetime < unix_epoch_ticks ||
         filetime - unix_epoch_ticks >= ticks_per_second;
}

// ---- zarn::time ----

time::time() = default;

void time::init_from_filetime(u64 ft) {
  valid_ = 0;
  if (ft == 0) return;
  filetime_ = ft;
  if (ft & top_bit) return;
  i64 seconds = 0;
  if (!filetime_to_unix_seconds(ft, seconds)) return;
  unix_seconds_ = seconds;
  // the first second of 1970 is refused: a zero count is what a cleared
  // Unix field holds
  if (seconds == 0) return;
  filetime_to_calendar(ft, utc_);
  ft_struct_.low = static_cast<u32>(ft);
  ft_struct_.high = static_cast<u32>(ft >> 32);
  u16 dos[2] = {0, 0};
  if (filetime_to_dos(ft, dos)) {
    dos_date_ = dos[0];
    dos_time_ = dos[1];
  }
  local_failed_ = 0;
  std::tm local{};
  if (unix_seconds_to_local_tm(seconds, local)) {
    local_ = local;
  } else {
    local_failed_ = 1;
    if (utc_.st.year > last_local_year) return;
  }
  valid_ = utc_.st.year > 1899 ? 1 : 0;
}

void time::init_from_raw(i64 value, type_time type) {
  switch (type) {
    case type_time::filetime:
      init_from_filetime(static_cast<u64>(value));
      return;
    case type_time::chrome: {
      // unsigned microseconds: anything above this cannot give a FILETIME
      // below the top bit, and the product must not wrap back under it
      const u64 us = static_cast<u64>(value);
      if (us > (top_bit - 1) / 10) return;
      init_from_filetime(us * 10);
      return;
    }
    case type_time::firefox3: {
      i64 ticks = 0;
      if (__builtin_mul_overflow(value, i64{10}, &ticks)) return;
      if (__builtin_add_overflow(ticks, static_cast<i64>(unix_epoch_ticks), &ticks)) return;
      // before 1601 the pattern has the top bit set: invalid
      init_from_filetime(static_cast<u64>(ticks));
      return;
    }
    case type_time::unix_time: {
      i64 ticks = 0;
      if (__builtin_mul_overflow(value, static_cast<i64>(ticks_per_second), &ticks)) return;
      if (__builtin_add_overflow(ticks, static_cast<i64>(unix_epoch_ticks), &ticks)) return;
      filetime_ = static_cast<u64>(ticks);
      // zero and negative counts are not usable Unix times
      if (value <= 0) return;
      unix_seconds_ = value;
      ft_struct_.low = static_cast<u32>(filetime_);
      ft_struct_.high = static_cast<u32>(filetime_ >> 32);
      init_from_filetime(filetime_);
      return;
    }
    case type_time::safari: {
      const u64 v = static_cast<u64>(value);
      u64 ft = 0;
      if ((v >> 32) == 0) {
        ft = (v + safari_epoch_seconds) * ticks_per_second;  // seconds
      } else {
        // nanoseconds; at most 1.9e10 s after 2001, far below the top bit
        ft = (v / 1000000000 + safari_epoch_seconds) * ticks_per_second + (v % 1000000000) / 100;
      }
      init_from_filetime(ft);
      return;
    }
  }
  // any other encoding: invalid
}

time::time(double value, type_time type) {
  if (type != type_time::safari) return;
  // NaN, infinities and values whose FILETIME would fall before 1601 or at the
  // top bit never reach an integer conversion
  if (!std::isfinite(value)) return;
  constexpr double lowest = -static_cast<double>(safari_epoch_seconds);
  constexpr double highest = static_cast<double>(top_bit / ticks_per_second - safari_epoch_seconds);
  if (!(value > lowest && value < highest)) return;
  const double whole = std::trunc(value);
  // the fraction keeps the sign of the value: a time before 2001 lies that
  // much further back
  const i64 ticks = static_cast<i64>((value - whole) * static_cast<double>(ticks_per_second));
  const i64 ft = (static_cast<i64>(whole) + static_cast<i64>(safari_epoch_seconds)) *
                     static_cast<i64>(ticks_per_second) + ticks;
  if (ft <= 0) return;
  init_from_filetime(static_cast<u64>(ft));
}

time::time(const _windows_systemtime& st) {
  // payload bytes are not trusted to hold calendar values: month 13, day 40,
  // hour 25 and the like would otherwise roll into another date
  if (!systemtime_fields_valid(st)) return;
  set_from_tm(tm_from_systemtime(st), st.milliseconds);
}

void time::set_from_tm(const std::tm& fields, i64 ms) {
  const u64 ft = calendar_to_filetime(fields, ms);
  if (ft == 0) return;
  init_from_filetime(ft);
}

time time::now() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  const u64 ft = static_cast<u64>(tv.tv_sec) * ticks_per_second + static_cast<u64>(tv.tv_usec) * 10 +
                 unix_epoch_ticks;
  return time(ft, type_time::filetime);
}

u32 time::time_field_milliseconds(bool rounding) const {
  u32 ms = utc_.st.milliseconds;
  if (rounding && utc_.us_in_second - static_cast<u64>(ms) * 1000 >= 500) ++ms;
  return ms;
}

u64 time::time_field_microseconds(bool rounding) const {
  u64 us = utc_.us_in_second;
  if (rounding && utc_.ns_in_second - us * 1000 >= 500) ++us;
  return us;
}

}  // namespace zarn
