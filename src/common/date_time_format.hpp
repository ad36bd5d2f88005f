#pragma once
// The compiled -dateformat/-timeformat descriptor and the -cmd_start_time /
// -cmd_stop_time window bound.
#include <string>

#include "common/zarn_types.hpp"

struct date_time_format {
  // Date flag bits (byte 1).
  static constexpr u8 month_name = 1;     // "mmm"
  static constexpr u8 month_digits = 2;   // "mm"
  static constexpr u8 year4 = 4;          // "yyyy"
  static constexpr u8 year2 = 8;          // "yy"
  static constexpr u8 comma = 16;         // "," somewhere in the pattern
  static constexpr u8 order_dmy = 32;
  static constexpr u8 order_mdy = 64;
  static constexpr u8 order_ymd = 128;

  u8 date_separator = 0;  // '/', '-', ' ', or 0 when no date pattern was compiled
  u8 date_flags = 0;
  u8 time_flags = 0;      // bit 0: date and time in one column; bits 1-4: fraction digits
  u8 reserved = 0;

  void reset();
  u32 fraction_digits() const { return (time_flags >> 1) & 0x0f; }
  bool pair_datetime() const { return (time_flags & 1) != 0; }
  // All four bytes zero: no compiled pattern, the default rendering applies.
  bool is_default() const { return date_separator == 0 && date_flags == 0 && time_flags == 0; }
  // Every byte alike: the two render every time alike.
  bool operator==(const date_time_format&) const = default;
};

// Compiles the two pattern texts; false on a date pattern without a month,
// year or day, or with an order other than d-m-y, m-d-y or y-m-d (the bits set
// so far stay, and the time pattern is then not compiled).
bool compile_date_time_format(date_time_format& out, const std::string& date_pattern,
                              const std::string& time_pattern, bool pair_datetime);

struct time_window {
  u8 set = 0;
  u64 filetime = 0;
  u32 unix_seconds = 0;

  void clear();
  // An open upper bound: the largest values, set.
  void set_open();
};
