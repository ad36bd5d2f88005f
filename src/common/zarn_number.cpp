#include "common/zarn_number.hpp"

#include <charconv>
#include <cstring>
#include <limits>
#include <locale>
#include <sstream>
#include <string_view>
#include <vector>

#include "common/zarn_string.hpp"

namespace {

// The text without surrounding " \t\r\n".
std::string trimmed(std::string_view s) {
  std::string out(s);
  trim_whitespace(out);
  return out;
}

std::string lowered(std::string s) { return to_lower(s); }

bool is_x(char c) { return c == 'x' || c == 'X'; }

bool is_c_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

bool is_digit_in(char c, u32 base) { return static_cast<u32>(digit_value(c)) < base; }

bool starts_decimal(char c) { return c == '-' || c == '+' || (c >= '0' && c <= '9'); }

// Moves i past leading white space and one sign, as the runtime's
// conversions do; true when the sign was '-'.
bool skip_space_and_sign(std::string_view s, std::size_t& i) {
  while (i < s.size() && is_c_space(s[i])) ++i;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) return s[i++] == '-';
  return false;
}

// The unsigned conversion of the runtime's strtoul, held to 32 bits whatever
// the width of the platform's unsigned long: leading white space and one sign
// are taken, "0x" is skipped in base 16 when a hex digit follows, reading
// stops at the first character outside the base, no digits give 0, a value
// above 32 bits gives 0xFFFFFFFF, and a '-' gives the two's complement.
u32 convert_u32(std::string_view s, u32 base) {
  std::size_t i = 0;
  const bool negative = skip_space_and_sign(s, i);
  if (base == 16 && i + 2 < s.size() && s[i] == '0' && is_x(s[i + 1]) && is_digit_in(s[i + 2], 16)) {
    i += 2;
  }
  constexpr u64 max = std::numeric_limits<u32>::max();
  u64 value = 0;
  bool overflow = false;
  for (; i < s.size() && is_digit_in(s[i], base); ++i) {
    if (!overflow) {
      value = value * base + static_cast<u64>(digit_value(s[i]));
      if (value > max) overflow = true;
    }
  }
  if (overflow) return static_cast<u32>(max);
  const u32 v = static_cast<u32>(value);
  return negative ? static_cast<u32>(0u - v) : v;
}

// The signed decimal conversion of the runtime's atoi with a defined result
// for values outside 32 bits: they are clamped to the nearest i32 limit.
i32 convert_i32(std::string_view s) {
  std::size_t i = 0;
  const bool negative = skip_space_and_sign(s, i);
  constexpr i64 limit = static_cast<i64>(std::numeric_limits<i32>::max()) + 1;
  i64 value = 0;
  for (; i < s.size() && is_digit_in(s[i], 10); ++i) {
    value = value * 10 + digit_value(s[i]);
    if (value > limit) value = limit;  // sticky: the clamp below decides
  }
  if (negative) return static_cast<i32>(-value);  // -limit is INT32_MIN
  return value >= limit ? std::numeric_limits<i32>::max() : static_cast<i32>(value);
}

// Unsigned 64-bit stream extraction in the given base, in the classic locale
// so that no digit grouping of the global locale applies. False only when the
// value does not fit in 64 bits; a text without digits gives 0 and true.
bool extract_u64(std::string_view s, std::ios_base& (*base)(std::ios_base&), u64& out) {
  std::istringstream in{std::string(s)};
  in.imbue(std::locale::classic());
  u64 v = 0;
  in >> base >> v;
  if (in.fail()) {
    // The stream sets the largest value on overflow and 0 when no digits came.
    if (v == std::numeric_limits<u64>::max()) return false;
    v = 0;
  }
  out = v;
  return true;
}

}  // namespace

bool to_uint(const char* text, u32& out) {
  out = 0;
  if (text == nullptr || *text == '\0') return false;
  const std::string_view raw(text);
  const std::string t = trimmed(raw);
  const std::string low = lowered(t);
  // Hex and octal prefixes are found on the trimmed text and converted from
  // it, so blanks around "0x10" do not shift where the digits are read.
  if (low.size() >= 2 && low[1] == 'x') {
    out = convert_u32(std::string_view(t).substr(2), 16);
    return true;
  }
  if (!low.empty() && low[0] == 'x') {
    out = convert_u32(std::string_view(t).substr(1), 16);
    return true;
  }
  if (!low.empty() && low[0] == 'o') {
    out = convert_u32(std::string_view(t).substr(1), 8);
    return true;
  }
  if (starts_decimal(raw[0])) {
    out = convert_u32(raw, 10);
    return true;
  }
  if (raw.size() == 3 && raw[0] == '\'' && raw[2] == '\'') {
    out = static_cast<u8>(raw[1]);
    return true;
  }
  return false;
}

bool to_uint(const std::string& text, u32& out) { return to_uint(text.c_str(), out); }

bool parse_uint(const char* text, u32& out) {
  if (text == nullptr || *text == '\0') return false;
  const std::string low = lowered(trimmed(text));
  if (const auto x = low.find('x'); x != std::string::npos) {
    out = convert_u32(std::string_view(low).substr(x + 1), 16);
    return true;
  }
  if (const auto o = low.find('o'); o != std::string::npos) {
    out = convert_u32(std::string_view(low).substr(o + 1), 8);
    return true;
  }
  if (!low.empty() && starts_decimal(low[0])) {
    out = static_cast<u32>(convert_i32(low));
    return true;
  }
  return false;
}

bool parse_uint(const std::string& text, u32& out) { return parse_uint(text.c_str(), out); }

bool parse_u64_cstr(const char* text, u64& out) {
  constexpr std::size_t max_text = 30;
  constexpr std::size_t max_hex = 16;
  constexpr std::size_t max_oct = 22;
  constexpr std::size_t max_dec = 20;
  out = 0;
  if (text == nullptr) return false;
  std::string_view s(text);
  if (s.size() > max_text) return false;
  const auto first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return false;
  s.remove_prefix(first);
  if (s.find(' ') != std::string_view::npos) return false;

  std::string_view digits;
  std::ios_base& (*base)(std::ios_base&) = std::dec;
  std::size_t max_digits = max_dec;
  if (s.size() > 2 && (s[1] == 'x' || s[1] == 'X')) {
    digits = s.substr(2);
    base = std::hex;
    max_digits = max_hex;
  } else if (s.size() > 2 && (s[0] == 'x' || s[0] == 'X')) {
    digits = s.substr(1);
    base = std::hex;
    max_digits = max_hex;
  } else if (s[0] == 'o' || s[0] == 'O') {
    digits = s.substr(1);
    base = std::oct;
    max_digits = max_oct;
  } else if (starts_decimal(s[0])) {
    digits = s;
  } else {
    return false;
  }
  if (digits.size() > max_digits) return false;
  return extract_u64(digits, base, out);
}

bool parse_u64(const std::string& text, u64& out) { return parse_u64_cstr(text.c_str(), out); }

namespace {

// One piece of a byte list: an optional "0x", then hexadecimal digits of a
// value no larger than 0xFF, and nothing else.
bool parse_hex_byte(std::string_view piece, u8& out) {
  if (piece.size() > 2 && piece[0] == '0' && is_x(piece[1])) piece.remove_prefix(2);
  if (piece.empty()) return false;
  u32 value = 0;
  for (char c : piece) {
    if (!is_digit_in(c, 16)) return false;
    value = value * 16 + static_cast<u32>(digit_value(c));
    if (value > 0xFF) return false;
  }
  out = static_cast<u8>(value);
  return true;
}

}  // namespace

byte_array& parse_byte_list(byte_array& out, const std::string& text, char delimiter) {
  out.clear();
  // Pieces are trimmed and empty ones dropped (the text is read up to an
  // embedded NUL).
  std::vector<std::string> pieces;
  split_string(text, delimiter, pieces, true, false, false);
  for (const std::string& piece : pieces) {
    u8 b = 0;
    if (!parse_hex_byte(piece, b)) {
      out.clear();
      return out;
    }
    out.push_back(b);
  }
  return out;
}

std::string hex_digits(u64 value, std::size_t min_digits) {
  std::string digits;
  append_hex(digits, value, min_digits);
  return digits;
}

void append_hex(std::string& out, u64 value, std::size_t min_digits) {
  static constexpr char digits[] = "0123456789abcdef";
  char buf[16];
  char* p = buf + sizeof buf;
  do {
    *--p = digits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  const std::size_t n = static_cast<std::size_t>(buf + sizeof buf - p);
  if (n < min_digits) out.append(min_digits - n, '0');
  out.append(p, n);
}

void append_decimal(std::string& out, u64 value) {
  char buf[20];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, static_cast<std::size_t>(result.ptr - buf));
}
