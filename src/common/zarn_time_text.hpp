#pragma once
// Date and time texts: rendering a zarn::time under the compiled
// -dateformat/-timeformat descriptor (zarn::time::format, declared with the
// class), the fixed stream form, and reading the -cmd_start_time /
// -cmd_stop_time date and time texts. Every text is UTC.
#include <ostream>
#include <string>

#include "common/date_time_format.hpp"
#include "common/zarn_time.hpp"
#include "common/zarn_types.hpp"

// "Jan" .. "Dec" for 1..12; "" for any other value.
std::string month_abbrev(int month);

// Reads three fields separated by `separator` in the order given by `order`
// ("YMD", "DMY", "MDY", ...; "Mon" in the first or second place marks a
// month written as a three-letter English name). The order text is
// upper-cased in place and its "MON" shortened to "M". Up to two empty fields
// between separators are passed over; two-digit years are completed (0..30 ->
// 2000s, 31..99 -> 1900s). False for a short order, a missing or unreadable
// field, a month above 12 or a day above 31 (0 passes).
bool parse_date_fields(const char* text, std::string& order, char separator, u32& day, u32& month,
                       u32& year);

// Reads "h:m[:s[.frac]]" with an optional "am"/"pm" suffix (pm adds 12 to any
// hour). False without a ':', for an empty or over-long field, and for an
// hour or minute that is negative, not finite or beyond 32 bits.
bool parse_triple(const char* text, u32& hours, u32& minutes, double& seconds);

// The -cmd_start_time / -cmd_stop_time texts as a SYSTEMTIME (day of week 0).
// The time text may be null or empty (00:00:00.000). Milliseconds are the
// fraction rounded to the nearest millisecond (so ...30.9996 gives second 30
// and milliseconds 1000; systemtime_to_filetime lets that add). Calendar
// ranges are not tested here, but a value that a SYSTEMTIME field cannot hold
// (above 65535, or a seconds value that is not a finite number in range) is
// refused rather than cut to 16 bits. On false `out` is untouched.
bool parse_date_time_text(const char* date_text, const char* time_text, const std::string& order,
                          char separator, zarn::_windows_systemtime& out);

// The fixed rendering: "yyyy-mm-dd" and "hh:mm:ss" plus ".mmm" (milliseconds,
// cut, not rounded) when with_fraction. Both empty for an invalid time.
void render_date_time(std::string& date, std::string& time_text, const zarn::time& t,
                      bool with_fraction);

// The date and time texts that zarn::time::format gives FILETIMEs under a
// compiled format. The date text of the last day and format asked for is
// kept: a log's events mostly share their day, and its calendar work is then
// done once.
class filetime_text_writer {
 public:
  // Both texts; false, with both empty, when the value is no valid time.
  bool texts(std::string& date, std::string& time_text, u64 filetime, const date_time_format& d);
  // The same texts appended to `out`, a blank between them; nothing appended
  // for a value that is no valid time.
  bool append(std::string& out, u64 filetime, const date_time_format& d);

 private:
  // The date text of the day the valid FILETIME falls in.
  const std::string& date_of(u64 filetime, const date_time_format& d);

  u64 day_ = ~u64{0};  // none yet
  date_time_format format_;
  std::string date_;
};

namespace zarn {
// Date text, one blank, time text of the fixed form with milliseconds; only
// the blank for an invalid time.
std::ostream& operator<<(std::ostream& os, const time& t);
}  // namespace zarn
