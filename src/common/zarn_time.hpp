#pragma once
// The one time value of vesk and its calendar routines.
//
// A zarn::time holds a FILETIME (unsigned 100-ns ticks since 1601-01-01
// 00:00:00 UTC) and every form derived from it at construction: Unix seconds,
// the UTC calendar fields with the sub-second parts, the DOS date and time
// words and the local broken-down time, plus a validity flag. Nothing is
// converted again after construction; an invalid time is never an error, the
// caller tests is_valid() and prints a blank or skips the value.
#include <concepts>
#include <ctime>
#include <span>
#include <string>

#include "common/zarn_types.hpp"

struct date_time_format;

namespace zarn {

// Encoding of a raw timestamp handed to zarn::time. Single-bit values.
enum class type_time : u32 {
  filetime = 1,      // "filetime": FILETIME ticks
  chrome = 2,        // "chrome": unsigned microseconds since 1601-01-01
  firefox3 = 4,      // "firefox3": signed microseconds since 1970-01-01
  unix_time = 8,     // "unix time": signed seconds since 1970-01-01
  safari = 0x40000,  // "safari time": seconds (or nanoseconds) since 2001-01-01
};

// The 16-byte Windows SYSTEMTIME, eight little-endian u16 in this order.
struct _windows_systemtime {
  u16 year = 0;
  u16 month = 0;        // 1..12
  u16 day_of_week = 0;  // 0 = Sunday
  u16 day = 0;          // 1..31
  u16 hour = 0;
  u16 minute = 0;
  u16 second = 0;
  u16 milliseconds = 0;
};

// Size of a SYSTEMTIME on disk and in payloads.
inline constexpr u64 systemtime_size = 16;

// The eight fields from the first 16 bytes of `bytes`; false (out untouched)
// when fewer than 16 bytes are there. No range test: see systemtime_fields_valid.
[[nodiscard]] bool read_systemtime(std::span<const u8> bytes, _windows_systemtime& out);

// True when every field is in its calendar range: month 1..12, day 1..the
// month's length in that year, hour < 24, minute < 60, second < 60,
// milliseconds < 1000. The day of week is not tested (it is derived data that
// Windows itself ignores when converting).
bool systemtime_fields_valid(const _windows_systemtime& st);

// The UTC calendar block of a time: the SYSTEMTIME fields and the position
// within the second at three resolutions.
struct calendar_block {
  _windows_systemtime st;
  u64 us_in_second = 0;  // 0..999999
  u64 ns_in_second = 0;  // 0..999999900, a multiple of 100
  u64 ps_in_second = 0;  // ticks of the second x 100000
};

// The FILETIME split into its two 32-bit halves.
struct _windows_filetime {
  u32 low = 0;
  u32 high = 0;
};

// Exact epoch constants.
inline constexpr u64 ticks_per_second = 10000000;
inline constexpr u64 unix_epoch_ticks = 116444736000000000ULL;      // 1970-01-01 00:00:00
inline constexpr u64 unix_epoch_seconds = 11644473600ULL;           // the same in seconds
inline constexpr u64 safari_epoch_seconds = 12622780800ULL;         // 2001-01-01 00:00:00
inline constexpr u64 ntp_epoch_ticks = 94354848000000000ULL;        // 1900-01-01 00:00:00

class time {
 public:
  // The zero value: every field zero, invalid.
  time();
  // A raw value in the given encoding, taken as its 64-bit two's-complement
  // pattern (any integer type: a u64 FILETIME and an i64 count alike, without
  // the ambiguity a plain i64/double overload pair would give). An unknown
  // encoding, a value that the encoding cannot carry into a FILETIME without
  // overflow, or a FILETIME outside the usable range gives an invalid time.
  template <std::integral T>
  time(T value, type_time type) {
    init_from_raw(static_cast<i64>(value), type);
  }
  // Safari seconds with a fraction. NaN, infinities and values outside the
  // FILETIME range give an invalid time.
  time(double value, type_time type);
  // A SYSTEMTIME read as UTC. Fields outside their calendar ranges (see
  // systemtime_fields_valid) give an invalid time.
  explicit time(const _windows_systemtime& st);

  // The current time, to the microsecond.
  static time now();

  // Renders the date and time texts under a compiled descriptor (both texts
  // cleared first; empty for an invalid time). True only when the
  // descriptor's own bits were applied.
  static bool format(std::string& date, std::string& time_text, const time& t,
                     const date_time_format& d);

  u64 filetime() const { return filetime_; }
  bool is_valid() const { return valid_ != 0; }
  // Seconds since 1970-01-01 UTC, floor-divided: negative before 1970.
  i64 unix_seconds() const { return unix_seconds_; }
  _windows_filetime filetime_struct() const { return ft_struct_; }
  u16 dos_date() const { return dos_date_; }
  u16 dos_time() const { return dos_time_; }
  // The local broken-down time; all zero when local_failed().
  const std::tm& local_tm() const { return local_; }
  bool local_failed() const { return local_failed_ != 0; }
  const calendar_block& calendar() const { return utc_; }

  // Fields of the UTC calendar block.
  u32 time_field_year() const { return utc_.st.year; }
  u32 time_field_month() const { return utc_.st.month; }
  u32 time_field_day() const { return utc_.st.day; }
  u32 time_field_hour() const { return utc_.st.hour; }
  u32 time_field_minute() const { return utc_.st.minute; }
  u32 time_field_second() const { return utc_.st.second; }
  u32 time_field_day_of_week() const { return utc_.st.day_of_week; }
  // With rounding, +1 when the rest is at least half a unit; no carry, so
  // 999.5 ms gives 1000 and 999999.5 us gives 1000000.
  u32 time_field_milliseconds(bool rounding) const;
  u64 time_field_microseconds(bool rounding) const;
  u64 time_field_nanoseconds() const { return utc_.ns_in_second; }

 private:
  void init_from_raw(i64 value, type_time type);
  void init_from_filetime(u64 ft);
  void set_from_tm(const std::tm& fields, i64 ms);

  i64 unix_seconds_ = 0;
  u64 filetime_ = 0;
  _windows_filetime ft_struct_;
  u16 dos_date_ = 0;
  u16 dos_time_ = 0;
  std::tm local_{};
  calendar_block utc_;
  u8 valid_ = 0;
  u8 local_failed_ = 0;
};

// True when a time built from the FILETIME is valid (non-zero, top bit
// clear, not inside the first second of 1970, a UTC year from 1900 to 3000),
// found without the calendar work of building it.
[[nodiscard]] bool is_valid_filetime(u64 filetime);

// ---- calendar routines (proleptic Gregorian, UTC) ----

bool is_leap_year(i64 year);
// 28..31 for months 1..12; 0 for any other month.
u32 days_in_month(i64 year, u32 month);
// Days since 1970-01-01 of a civil date (exact for any i64-representable
// result in the range used here), and its inverse.
i64 days_from_civil(i64 year, u32 month, u32 day);
void civil_from_days(i64 days, i64& year, u32& month, u32& day);

// UTC calendar block of a FILETIME; false (block zeroed) when the top bit is set.
bool filetime_to_calendar(u64 ft, calendar_block& out);
// The SYSTEMTIME part of the same.
bool filetime_to_systemtime(u64 ft, _windows_systemtime& out);
// struct tm fields (seconds, minutes, hours, day of month, month 0..11,
// years since 1900; a month outside 0..11 folds into the year; day, hour,
// minute and second are not range-tested, they add) plus milliseconds.
// 0 when the result does not fit a FILETIME below the top bit.
u64 calendar_to_filetime(const std::tm& fields, i64 milliseconds);
// tm fields from the SYSTEMTIME, then calendar_to_filetime; always true
// (out-of-range fields add; the caller tests the zarn::time built from out).
bool systemtime_to_filetime(const _windows_systemtime& st, u64& out);
// Floor division: negative before 1970. False when the top bit of ft is set.
bool filetime_to_unix_seconds(u64 ft, i64& out);
// Two's-complement arithmetic as the encodings define; true.
bool unix_seconds_to_filetime(i64 s, u64& out);
bool unix_micros_to_filetime(i64 us, u64& out);
// out[0] = DOS date, out[1] = DOS time; false (out untouched) outside 1980..2037.
bool filetime_to_dos(u64 ft, u16 out[2]);
// The local broken-down time under the run's UTC offset. False (out zeroed)
// for a negative count and beyond the end of year 3000.
bool unix_seconds_to_local_tm(i64 s, std::tm& out);
// The same under an explicit offset in seconds.
bool unix_seconds_to_local_tm_at(i64 s, i64 offset_seconds, std::tm& out);
// The local UTC offset in seconds, measured once per run at first use.
i64 local_utc_offset_seconds();

}  // namespace zarn
