#include "common/zarn_time_text.hpp"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <sstream>

#include "common/zarn_number.hpp"
#include "common/zarn_string.hpp"

namespace {

constexpr const char* month_abbrevs[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Longest hour, minute or second text that is read.
constexpr std::size_t max_time_field = 31;

// Month names for reading, lower-case, filled once for the run.
const std::map<std::string, u32>& month_map() {
  static const std::map<std::string, u32> map = [] {
    std::map<std::string, u32> m;
    for (u32 i = 0; i < 12; ++i) {
      std::string name = month_abbrevs[i];
      m.emplace(to_lower(name), i + 1);
    }
    return m;
  }();
  return map;
}

// One date field: a month name when `named`, else by the order letter.
bool read_date_field(const std::string& field, bool named, char letter, u32& day, u32& month,
                     u32& year) {
  if (named) {
    std::string low = field;
    to_lower(low);
    const auto it = month_map().find(low);
    if (it == month_map().end()) return false;
    month = it->second;
    return true;
  }
  switch (letter) {
    case 'M':
      return to_uint(field, month);
    case 'Y':
      return to_uint(field, year);
    case 'D':
      return to_uint(field, day);
    default:
      return false;
  }
}

// The next non-empty field, passing over at most two empty ones.
bool next_field(std::istringstream& in, char separator, std::string& field) {
  field.clear();
  for (int i = 0; i < 3; ++i) {
    if (!std::getline(in, field, separator)) return false;
    if (!field.empty()) break;
  }
  return true;
}

// An hour or minute text: strtod, truncated. A value that a u32 cannot hold
// (negative, NaN, infinite, too large) is refused instead of being converted.
bool whole_field(const std::string& text, u32& out) {
  const double v = std::strtod(text.c_str(), nullptr);
  if (!(v >= 0.0 && v < 4294967296.0)) return false;
  out = static_cast<u32>(v);
  return true;
}

// Where an "am"/"pm" suffix starts at or after `from`, or npos.
std::size_t suffix_at(const std::string& t, std::size_t from) {
  const std::size_t am = t.find("am", from);
  const std::size_t pm = t.find("pm", from);
  return am < pm ? am : pm;
}

void append_number(std::string& out, u64 value, int width) {
  char digits[24];
  char* p = digits + sizeof digits;
  do {
    *--p = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  const std::size_t n = static_cast<std::size_t>(digits + sizeof digits - p);
  if (n < static_cast<std::size_t>(width)) out.append(static_cast<std::size_t>(width) - n, '0');
  out.append(p, n);
}

void append_separator(std::string& out, u8 separator) {
  // a descriptor compiled without '/', '-' or a blank carries 0: the fields
  // are then written next to each other, never with a NUL byte between them
  if (separator != 0) out.push_back(static_cast<char>(separator));
}

constexpr u64 powers_of_ten[] = {1, 10, 100, 1000, 10000, 100000, 1000000};

// "hh:mm:ss", then a fraction of `digits` digits (cut, never rounded) from
// the second's 100-nanosecond ticks; no fraction for 0 or above 9 digits.
void append_time_of_day(std::string& out, u32 hour, u32 minute, u32 second, u64 ticks,
                        u32 digits) {
  // every row shows a time: "hh:mm:ss" (each below 100) is written in one piece
  const char hms[8] = {static_cast<char>('0' + hour / 10 % 10), static_cast<char>('0' + hour % 10),
                       ':', static_cast<char>('0' + minute / 10), static_cast<char>('0' + minute % 10),
                       ':', static_cast<char>('0' + second / 10), static_cast<char>('0' + second % 10)};
  out.append(hms, sizeof hms);
  if (digits == 3) {
    out.push_back('.');
    append_number(out, ticks / 10000, 3);
  } else if (digits >= 1 && digits <= 6) {
    out.push_back('.');
    append_number(out, ticks / 10 / powers_of_ten[6 - digits], static_cast<int>(digits));
  } else if (digits >= 7 && digits <= 9) {
    out.push_back('.');
    append_number(out, ticks * 100 / powers_of_ten[9 - digits], static_cast<int>(digits));
  }
}

// The time-of-day text of a valid FILETIME under `d`.
void append_filetime_time_of_day(std::string& out, u64 filetime, const date_time_format& d) {
  const u64 of_day = filetime / zarn::ticks_per_second % 86400;
  // a descriptor with no compiled pattern writes milliseconds
  append_time_of_day(out, static_cast<u32>(of_day / 3600), static_cast<u32>(of_day % 3600 / 60),
                     static_cast<u32>(of_day % 60), filetime % zarn::ticks_per_second,
                     d.is_default() && d.reserved == 0 ? 3 : d.fraction_digits());
}

}  // namespace

std::string month_abbrev(int month) {
  if (month < 1 || month > 12) return "";
  return month_abbrevs[month - 1];
}

bool parse_date_fields(const char* text, std::string& order, char separator, u32& day, u32& month,
                       u32& year) {
  day = 0;
  month = 0;
  year = 0;
  if (text == nullptr || order.size() < 3) return false;
  std::istringstream in{std::string(text)};
  std::string field;
  if (!std::getline(in, field, separator)) return false;

  const std::size_t named = order.find("Mon");
  to_upper(order);
  std::string mon_upper = "MON";
  replace_first(order, mon_upper, "M", false);
  // "Mon" may have stood in the last place of a longer order text: what is
  // left must still hold three letters
  if (order.size() < 3) return false;

  if (!read_date_field(field, named == 0, order[0], day, month, year)) return false;
  if (!next_field(in, separator, field)) return false;
  if (!read_date_field(field, named == 1, order[1], day, month, year)) return false;
  if (!next_field(in, separator, field)) return false;
  // a month name in third place is not accepted: its letter asks for a number
  if (!read_date_field(field, false, order[2], day, month, year)) return false;

  if (year <= 30) {
    year += 2000;
  } else if (year <= 99) {
    year += 1900;
  }
  return month < 13 && day < 32;
}

bool parse_triple(const char* text, u32& hours, u32& minutes, double& seconds) {
  hours = 0;
  minutes = 0;
  seconds = 0;
  if (text == nullptr) return false;
  std::string t = text;
  trim_whitespace(t);
  to_lower(t);
  const std::size_t c1 = t.find(':');
  if (c1 == std::string::npos) return false;
  const std::size_t c2 = t.find(':', c1 + 1);

  const std::size_t m = t.find('m', c1 + 1);
  const bool pm = m != std::string::npos && t[m - 1] == 'p';
  const bool am = m != std::string::npos && t[m - 1] == 'a';

  // the suffix ends the minutes (without a second ':') or the seconds; a
  // blank before it is not part of the number
  const std::size_t after_minutes = c2 == std::string::npos ? c1 + 1 : c2 + 1;
  std::size_t suffix = suffix_at(t, after_minutes);
  std::size_t tail_end = t.size();
  if (suffix != std::string::npos) {
    tail_end = suffix;
    if (tail_end > after_minutes && t[tail_end - 1] == ' ') --tail_end;
  }

  const std::string hours_text = t.substr(0, c1);
  if (hours_text.size() > max_time_field) return false;
  u32 h = 0;
  if (!whole_field(hours_text, h)) return false;
  // a 12-hour clock: "pm" moves 1 to 11 into the afternoon and keeps 12 as
  // noon; "am" makes 12 midnight. Adding 12 to 12 would roll a window bound
  // into the next day.
  hours = h;
  if (pm && h >= 1 && h <= 11) hours = h + 12;
  if (am && h == 12) hours = 0;

  const std::size_t minutes_end = c2 != std::string::npos ? c2 : tail_end;
  const std::string minutes_text = t.substr(c1 + 1, minutes_end - (c1 + 1));
  if (minutes_text.empty() || minutes_text.size() > max_time_field) return false;
  if (!whole_field(minutes_text, minutes)) return false;

  if (c2 != std::string::npos) {
    const std::string seconds_text = t.substr(c2 + 1, tail_end - (c2 + 1));
    if (seconds_text.size() > max_time_field) return false;
    seconds = std::strtod(seconds_text.c_str(), nullptr);
  }
  return true;
}

bool parse_date_time_text(const char* date_text, const char* time_text, const std::string& order,
                          char separator, zarn::_windows_systemtime& out) {
  if (date_text == nullptr || date_text[0] == '\0') return false;
  std::string order_copy = order;
  u32 day = 0, month = 0, year = 0;
  if (!parse_date_fields(date_text, order_copy, separator, day, month, year)) return false;
  u32 hours = 0, minutes = 0;
  double seconds = 0;
  if (time_text != nullptr && time_text[0] != '\0') {
    if (!parse_triple(time_text, hours, minutes, seconds)) return false;
  }
  // SYSTEMTIME fields are 16 bits: a larger value would be cut to another,
  // plausible time instead of being refused
  constexpr u32 field_max = 0xFFFF;
  if (year > field_max || hours > field_max || minutes > field_max) return false;
  if (!(seconds >= 0.0 && seconds < 65536.0)) return false;
  const double whole = std::trunc(seconds);
  zarn::_windows_systemtime st;
  st.year = static_cast<u16>(year);
  st.month = static_cast<u16>(month);
  st.day = static_cast<u16>(day);
  st.hour = static_cast<u16>(hours);
  st.minute = static_cast<u16>(minutes);
  st.second = static_cast<u16>(whole);
  // the fraction rounded to the nearest millisecond, halves up; at most 1000
  st.milliseconds = static_cast<u16>((seconds - whole) * 1000.0 + 0.5);
  out = st;
  return true;
}

void render_date_time(std::string& date, std::string& time_text, const zarn::time& t,
                      bool with_fraction) {
  date.clear();
  time_text.clear();
  if (!t.is_valid()) return;
  append_number(date, t.time_field_year(), 4);
  date.push_back('-');
  append_number(date, t.time_field_month(), 2);
  date.push_back('-');
  append_number(date, t.time_field_day(), 2);
  append_number(time_text, t.time_field_hour(), 2);
  time_text.push_back(':');
  append_number(time_text, t.time_field_minute(), 2);
  time_text.push_back(':');
  append_number(time_text, t.time_field_second(), 2);
  if (with_fraction) {
    time_text.push_back('.');
    append_number(time_text, t.time_field_milliseconds(false), 3);
  }
}

namespace zarn {

std::ostream& operator<<(std::ostream& os, const time& t) {
  std::string date, time_text;
  render_date_time(date, time_text, t, true);
  os << date << ' ' << time_text;
  return os;
}

bool time::format(std::string& date, std::string& time_text, const time& t,
                  const date_time_format& d) {
  date.clear();
  time_text.clear();
  if (!t.is_valid()) return false;
  if (d.date_separator == 0 && d.date_flags == 0 && d.time_flags == 0 && d.reserved == 0) {
    // no compiled pattern: "yyyy-mm-dd" and "hh:mm:ss.xxx"
    render_date_time(date, time_text, t, true);
    return false;
  }

  const u8 flags = d.date_flags;
  auto append_month = [&] {
    if (flags & date_time_format::month_digits) {
      append_number(date, t.time_field_month(), 2);
    } else {
      date += month_abbrev(static_cast<int>(t.time_field_month()));
    }
  };
  auto append_day = [&] { append_number(date, t.time_field_day(), 2); };
  auto append_year = [&] {
    if (flags & date_time_format::year4) {
      append_number(date, t.time_field_year(), 4);
    } else {
      append_number(date, t.time_field_year() % 100, 2);
    }
  };
  if (flags & date_time_format::order_mdy) {
    append_month();
    append_separator(date, d.date_separator);
    append_day();
    append_separator(date, d.date_separator);
    append_year();
  } else if (flags & date_time_format::order_dmy) {
    append_day();
    append_separator(date, d.date_separator);
    append_month();
    append_separator(date, d.date_separator);
    append_year();
  } else if (flags & date_time_format::order_ymd) {
    append_year();
    append_separator(date, d.date_separator);
    append_month();
    append_separator(date, d.date_separator);
    append_day();
  }

  append_time_of_day(time_text, t.time_field_hour(), t.time_field_minute(), t.time_field_second(),
                     t.time_field_nanoseconds() / 100, d.fraction_digits());
  return true;
}

}  // namespace zarn

const std::string& filetime_text_writer::date_of(u64 filetime, const date_time_format& d) {
  const u64 day = filetime / zarn::ticks_per_second / 86400;
  if (day != day_ || d != format_) {
    std::string unused;
    zarn::time::format(date_, unused, zarn::time(filetime, zarn::type_time::filetime), d);
    day_ = day;
    format_ = d;
  }
  return date_;
}

bool filetime_text_writer::texts(std::string& date, std::string& time_text, u64 filetime,
                                 const date_time_format& d) {
  date.clear();
  time_text.clear();
  if (!zarn::is_valid_filetime(filetime)) return false;
  date = date_of(filetime, d);
  append_filetime_time_of_day(time_text, filetime, d);
  return true;
}

bool filetime_text_writer::append(std::string& out, u64 filetime, const date_time_format& d) {
  if (!zarn::is_valid_filetime(filetime)) return false;
  out += date_of(filetime, d);
  out += ' ';
  append_filetime_time_of_day(out, filetime, d);
  return true;
}
