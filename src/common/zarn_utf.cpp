// UTF-8, UTF-16LE and wide (32-bit code point) text conversions, written by
// hand so that their behaviour on damaged input is fixed and known.
#include <cstdint>
#include <string>

#include "common/byte_reader.hpp"
#include "common/zarn_string.hpp"

namespace {

constexpr u32 k_max_code_point = 0x10FFFF;
// Units read from a payload string when the caller gives no byte limit.
constexpr i64 k_default_unit_limit = 500;

// Appends the UTF-8 form of cp; false (nothing appended) above U+10FFFF.
// Surrogate values are encoded like any other value.
bool append_utf8(std::string& out, u32 cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp <= 0x7FF) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp <= 0xFFFF) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp <= k_max_code_point) {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    return false;
  }
  return true;
}

// Decodes into out; false at the first byte that breaks the structure (a
// stray continuation byte, a lead byte 0xF8-0xFF, a missing continuation or
// the input ending inside a sequence). Values are not checked: overlong
// forms, surrogates and values above U+10FFFF pass as decoded.
bool decode_utf8(std::wstring& out, const std::string& in) {
  const std::size_t n = in.size();
  std::size_t i = 0;
  while (i < n) {
    const u8 lead = static_cast<u8>(in[i]);
    u32 cp = 0;
    std::size_t extra = 0;
    if (lead < 0x80) {
      cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      cp = lead & 0x1F;
      extra = 1;
    } else if ((lead & 0xF0) == 0xE0) {
      cp = lead & 0x0F;
      extra = 2;
    } else if ((lead & 0xF8) == 0xF0) {
      cp = lead & 0x07;
      extra = 3;
    } else {
      return false;
    }
    if (extra > n - i - 1) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const u8 cont = static_cast<u8>(in[i + k]);
      if ((cont & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cont & 0x3F);
    }
    out.push_back(static_cast<wchar_t>(cp));
    i += extra + 1;
  }
  return true;
}

}  // namespace

namespace uni {

bool utf8_to_wstring_ex(std::wstring& out, const std::string& in) {
  out.clear();
  if (in.empty()) return false;
  return decode_utf8(out, in);
}

std::wstring utf8_to_wstring(const std::string& in) {
  std::wstring out;
  if (!utf8_to_wstring_ex(out, in)) return std::wstring();
  return out;
}

bool wstring_to_utf8_ex(std::string& out, const std::wstring& in) {
  out.clear();
  if (in.empty()) return false;
  out.reserve(in.size());
  for (wchar_t c : in) {
    if (!append_utf8(out, static_cast<u32>(c))) return false;
  }
  return true;
}

std::string wstring_to_utf8(const std::wstring& in) {
  std::string out;
  wstring_to_utf8_ex(out, in);
  return out;
}

}  // namespace uni

bool utf16_units_to_utf8(std::string& out, std::span<const u8> bytes, i32 byte_count) {
  if (byte_count < 2) return false;
  // Never more units than the bytes the caller holds.
  std::size_t units = static_cast<std::size_t>(byte_count) / 2;
  if (units > bytes.size() / 2) units = bytes.size() / 2;
  if (units == 0) return false;
  // Written straight into the text, behind what it holds, so that a broken
  // pair can leave it as it was: a unit gives at most three bytes, and a
  // surrogate pair four for its two units.
  const std::size_t held = out.size();
  out.resize(held + units * 3);
  char* p = out.data() + held;
  for (std::size_t i = 0; i < units; ++i) {
    const u32 unit = zarn::load_u16(bytes.data() + i * 2);  // bounds: units fit in bytes
    if (unit < 0x80) {
      *p++ = static_cast<char>(unit);
      continue;
    }
    u32 cp = unit;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      // A high surrogate needs its low half inside the count.
      const u32 low = i + 1 < units ? zarn::load_u16(bytes.data() + (i + 1) * 2) : 0;
      if (low < 0xDC00 || low > 0xDFFF) {
        out.resize(held);
        return false;
      }
      cp = (unit - 0xD800) * 1024 + 0x10000 + (low - 0xDC00);
      ++i;
    }
    if (cp <= 0x7FF) {
      *p++ = static_cast<char>(0xC0 | (cp >> 6));
      *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp <= 0xFFFF) {
      *p++ = static_cast<char>(0xE0 | (cp >> 12));
      *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      *p++ = static_cast<char>(0xF0 | (cp >> 18));
      *p++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  out.resize(static_cast<std::size_t>(p - out.data()));
  out.erase(0, held);
  return true;
}

namespace {

// The UTF-16 units of a payload string before its 0 unit, within the byte
// limit (-1: at most 500 units) and never past the bytes held.
i64 units_before_nul(std::span<const u8> bytes, i32 max_bytes) {
  if (max_bytes == 0 || bytes.empty()) return 0;
  i64 limit = max_bytes == -1 ? k_default_unit_limit : static_cast<i64>(max_bytes) / 2;
  if (limit <= 0) return 0;
  // The span is the true bound: a limit larger than the bytes held is cut
  // down to them.
  const i64 held = static_cast<i64>(bytes.size() / 2);
  if (limit > held) limit = held;
  i64 taken = 0;
  while (taken < limit && zarn::u16_at(bytes, static_cast<u64>(taken) * 2) != 0) ++taken;
  return taken;
}

}  // namespace

i32 utf16le_to_wide(std::span<const u8> bytes, std::wstring& out, i32 max_bytes) {
  out.clear();
  const i64 taken = units_before_nul(bytes, max_bytes);
  if (taken == 0) return 0;
  const std::span<const u8> units = bytes.first(static_cast<std::size_t>(taken) * 2);
  std::string utf8;
  if (!utf16_units_to_utf8(utf8, units, static_cast<i32>(taken * 2)) ||
      !uni::utf8_to_wstring_ex(out, utf8) || out.empty()) {
    // A broken surrogate pair: keep every unit as it stands.
    out.clear();
    for (i64 i = 0; i < taken; ++i) out.push_back(static_cast<wchar_t>(zarn::u16_at(units, static_cast<u64>(i) * 2)));
  }
  return static_cast<i32>(taken * 2);
}

i32 utf16le_to_utf8(std::span<const u8> bytes, std::string& out, i32 max_bytes, bool count_terminator) {
  out.clear();
  const i64 taken = units_before_nul(bytes, max_bytes);
  const std::span<const u8> units = bytes.first(static_cast<std::size_t>(taken) * 2);
  if (taken != 0 && !utf16_units_to_utf8(out, units, static_cast<i32>(taken * 2))) {
    // A broken surrogate pair: every unit as it stands, as its wide form would give.
    out.clear();
    for (i64 i = 0; i < taken; ++i) append_utf8(out, zarn::u16_at(units, static_cast<u64>(i) * 2));
  }
  i32 consumed = static_cast<i32>(taken * 2);
  // The terminator is counted only when the 0 unit really lies inside both
  // the limit and the bytes held: a consumer advancing by this count must
  // not step past the string.
  if (count_terminator && consumed != 0 && static_cast<i64>(consumed) + 2 <= max_bytes) {
    u16 term = 1;
    if (zarn::read_u16_at(bytes, static_cast<u64>(consumed), term) && term == 0) consumed += 2;
  }
  return consumed;
}
