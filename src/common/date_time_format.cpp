#include "common/date_time_format.hpp"

#include <algorithm>
#include <limits>

void date_time_format::reset() {
  date_separator = 0;
  date_flags = 0;
  time_flags = 0;
  reserved = 0;
}

bool compile_date_time_format(date_time_format& out, const std::string& date_pattern,
                              const std::string& time_pattern, bool pair_datetime) {
  out.reset();
  if (pair_datetime) out.time_flags |= 1;

  if (!date_pattern.empty()) {
    const std::string& d = date_pattern;
    if (d.find('/') != std::string::npos) {
      out.date_separator = '/';
    } else if (d.find('-') != std::string::npos) {
      out.date_separator = '-';
    } else if (d.find(' ') != std::string::npos) {
      out.date_separator = ' ';
    }

    size_t month = d.find("mmm");
    if (month != std::string::npos) {
      out.date_flags |= date_time_format::month_name;
    } else {
      month = d.find("mm");
      if (month == std::string::npos) return false;
      out.date_flags |= date_time_format::month_digits;
    }

    size_t year = d.find("yyyy");
    if (year != std::string::npos) {
      out.date_flags |= date_time_format::year4;
    } else {
      year = d.find("yy");
      if (year == std::string::npos) return false;
      out.date_flags |= date_time_format::year2;
    }

    if (d.find(',') != std::string::npos) out.date_flags |= date_time_format::comma;

    const size_t day = d.find("dd");
    if (day == std::string::npos) return false;
    if (day < month && month < year) {
      out.date_flags |= date_time_format::order_dmy;
    } else if (month < day && day < year) {
      out.date_flags |= date_time_format::order_mdy;
    } else if (year < month && month < day) {
      out.date_flags |= date_time_format::order_ymd;
    } else {
      return false;
    }
  }

  if (!time_pattern.empty()) {
    const size_t first = time_pattern.find("xxx");
    if (first != std::string::npos) {
      const size_t last = time_pattern.rfind('x');
      const u32 digits = static_cast<u32>(std::min<size_t>(last - first + 1, 9));
      out.time_flags |= static_cast<u8>(digits << 1);
    }
  }
  return true;
}

void time_window::clear() {
  set = 0;
  filetime = 0;
  unix_seconds = 0;
}

void time_window::set_open() {
  filetime = std::numeric_limits<u64>::max();
  unix_seconds = std::numeric_limits<u32>::max();
  set = 1;
}
