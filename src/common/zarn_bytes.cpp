#include "common/zarn_bytes.hpp"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/byte_reader.hpp"

std::span<const u8> ptr_add(std::span<const u8> bytes, u64 n) {
  if (n > bytes.size()) return bytes.subspan(bytes.size());
  return bytes.subspan(n);
}

const u8* byte_ptr_at(std::span<const u8> bytes, u64 n) {
  if (n >= bytes.size()) return nullptr;
  return bytes.data() + n;  // bounds: n < size checked above
}

// ---- security identifiers ----

namespace {

constexpr u64 sid_revision_off = 0;      // u8 revision
constexpr u64 sid_count_off = 1;         // u8 sub-authority count
constexpr u64 sid_authority_off = 2;     // 6 bytes, 48-bit big-endian authority
constexpr u64 sid_authority_size = 6;
constexpr u64 sid_subs_off = 8;          // count x u32 little-endian sub-authorities
constexpr u64 sid_sub_size = 4;
constexpr u64 sid_min_avail = 12;        // header and at least one sub-authority's room
static_assert(sid_revision_off + 1 == sid_count_off && sid_count_off + 1 == sid_authority_off);
static_assert(sid_authority_off + sid_authority_size == sid_subs_off);
static_assert(sid_subs_off + sid_sub_size == sid_min_avail);

}  // namespace

u32 sid_length(std::span<const u8> sid) {
  u8 count = 0;
  if (!zarn::read_u8_at(sid, sid_count_off, count)) return 0;
  return static_cast<u32>(sid_subs_off + sid_sub_size * count);
}

std::string sid_to_string(std::span<const u8> sid) {
  if (sid.size() < sid_min_avail) return "";
  const u32 length = sid_length(sid);
  // The count byte decides how far the sub-authorities reach; a damaged count
  // may claim more than the caller holds.
  if (length == 0 || length > sid.size()) return "";

  zarn::byte_reader r(sid.first(length));
  u8 revision = 0;
  u8 count = 0;
  std::span<const u8> authority_bytes;
  if (!r.read_u8(revision) || !r.read_u8(count) || !r.read_bytes(sid_authority_size, authority_bytes)) {
    return "";
  }
  u64 authority = 0;
  for (u8 b : authority_bytes) authority = (authority << 8) | b;

  std::string text = "S-" + std::to_string(revision) + "-" + std::to_string(authority);
  for (u32 i = 0; i < count; ++i) {
    u32 sub = 0;
    if (!r.read_u32(sub)) return "";
    text += "-";
    text += std::to_string(sub);
  }
  return text;
}

// ---- variable-length integer ----

bool decode_varint(u64& out, std::span<const u8> data) {
  constexpr int max_bytes = 9;  // eight 7-bit groups, then one whole byte
  out = 0;
  zarn::byte_reader r(data);
  u64 value = 0;
  for (int i = 0; i < max_bytes; ++i) {
    u8 b = 0;
    // Bytes that end while the top bit still asks for more: the number is cut.
    if (!r.read_u8(b)) return false;
    if (i == max_bytes - 1) {
      value |= static_cast<u64>(b) << (7 * i);
      break;
    }
    value |= static_cast<u64>(b & 0x7F) << (7 * i);
    if ((b & 0x80) == 0) break;
  }
  out = value;
  return true;
}

// ---- counted strings ----

namespace {

// Reads the 1- or 2-byte length prefix. False when `r` is empty or a 2-byte
// prefix is cut.
bool read_length_prefix(zarn::byte_reader& r, u32& length, u32& prefix_size) {
  u8 first = 0;
  if (!r.read_u8(first)) return false;
  if ((first & 0x80) == 0) {
    length = first;
    prefix_size = 1;
    return true;
  }
  u8 second = 0;
  if (!r.read_u8(second)) return false;
  length = (static_cast<u32>(first & 0x7F) << 8) | second;
  prefix_size = 2;
  return true;
}

}  // namespace

u32 read_counted_string(std::string& out, std::span<const u8> data) {
  out.clear();
  zarn::byte_reader r(data);
  u32 length = 0;
  u32 prefix_size = 0;
  if (!read_length_prefix(r, length, prefix_size)) return 0;
  // The length is the file's claim; it may reach past the bytes held.
  std::span<const u8> text;
  if (r.remaining() == 0 || !r.read_bytes(length, text)) return prefix_size;
  out.assign(text.begin(), text.end());
  return prefix_size + length;
}

u32 read_counted_string_list(std::vector<std::string>& out, std::span<const u8> data) {
  out.clear();
  zarn::byte_reader r(data);
  u32 count = 0;
  u32 prefix_size = 0;
  if (!read_length_prefix(r, count, prefix_size)) return 0;
  // Every string takes at least its one prefix byte, so a count above the
  // bytes that follow is damaged; it must not size the list either.
  if (r.remaining() == 0 || count > r.remaining()) return prefix_size;
  try {
    out.resize(count);
  } catch (const std::bad_alloc&) {
    out.clear();
    return prefix_size;
  }
  for (u32 i = 0; i < count && r.remaining() > 0; ++i) {
    const u32 used = read_counted_string(out[i], r.rest());
    if (!r.skip(used)) break;  // cannot happen: used never exceeds rest()
  }
  return static_cast<u32>(r.position());
}

// ---- string extraction ----

namespace {

bool is_printable(u8 b, bool allow_ctrl) {
  if (b >= 32 && b <= 126) return true;
  return allow_ctrl && (b == '\r' || b == '\n' || b == '\t');
}

// Bytes a run may not start with under no_punct_start: every punctuation
// mark except '/', '[' and '{'.
bool is_start_punct(u8 b) {
  return (b >= 32 && b <= 46) || (b >= 58 && b <= 64) || (b >= 92 && b <= 96) || (b >= 124 && b <= 126);
}

bool skip_at_run_start(u8 b, bool no_punct_start) {
  return b == ' ' || (no_punct_start && is_start_punct(b));
}

// A run that holds a character other than blank, CR and LF.
bool has_visible_char(std::span<const u8> run) {
  return std::any_of(run.begin(), run.end(), [](u8 b) { return b != ' ' && b != '\r' && b != '\n'; });
}

// A run shorter than one character is no run, whatever min_len says.
bool long_enough(u64 chars, i32 min_len) {
  return chars != 0 && static_cast<i64>(chars) >= static_cast<i64>(min_len);
}

}  // namespace

void find_ascii_runs(std::span<const u8> data, i32 min_len, std::vector<text_run>& runs,
                     bool allow_ctrl, bool no_punct_start) {
  runs.clear();
  u64 start = 0;
  u64 chars = 0;
  auto close_run = [&]() {
    if (long_enough(chars, min_len) && has_visible_char(data.subspan(start, chars))) {
      runs.push_back({start, chars});
    }
    chars = 0;
  };
  for (u64 i = 0; i < data.size(); ++i) {
    const u8 b = data[i];
    if (!is_printable(b, allow_ctrl)) {
      close_run();
      continue;
    }
    if (chars == 0) {
      if (skip_at_run_start(b, no_punct_start)) continue;
      start = i;
    }
    ++chars;
  }
  close_run();
}

void find_unicode_runs(std::span<const u8> data, i32 min_len, std::vector<text_run>& runs,
                       bool allow_ctrl, bool no_punct_start) {
  runs.clear();
  u64 start = 0;
  u64 chars = 0;
  auto close_run = [&]() {
    if (long_enough(chars, min_len)) runs.push_back({start, chars});
    chars = 0;
  };
  // Both bytes of a unit must be held: the walk stops when fewer than two remain.
  u64 i = 0;
  while (data.size() - i >= 2) {
    const u8 lo = data[i];
    const u8 hi = data[i + 1];
    if (hi != 0 || !is_printable(lo, allow_ctrl)) {
      // Not a character: step one byte only so a string at an odd offset is
      // still found.
      close_run();
      i += 1;
      continue;
    }
    if (chars == 0) {
      if (skip_at_run_start(lo, no_punct_start)) {
        i += 2;
        continue;
      }
      start = i;
    }
    ++chars;
    i += 2;
  }
  close_run();
}

std::string unicode_run_text(std::span<const u8> data, const text_run& run) {
  std::string text(run.chars, '\0');
  // bounds: a run found in `data` holds its characters' units
  for (u64 k = 0; k < run.chars; ++k) text[k] = static_cast<char>(data[run.offset + 2 * k]);
  return text;
}

bool extract_ascii_strings(std::span<const u8> data, i32 min_len, std::vector<std::string>& strings,
                           std::vector<u64>& offsets, bool allow_ctrl, bool no_punct_start) {
  strings.clear();
  offsets.clear();
  if (data.empty()) return false;
  std::vector<text_run> runs;
  find_ascii_runs(data, min_len, runs, allow_ctrl, no_punct_start);
  for (const text_run& run : runs) {
    const std::span<const u8> bytes = data.subspan(run.offset, run.chars);
    strings.emplace_back(bytes.begin(), bytes.end());
    offsets.push_back(run.offset);
  }
  return true;
}

bool extract_unicode_strings(std::span<const u8> data, i32 min_len, std::vector<std::string>& strings,
                             std::vector<u64>& offsets, bool allow_ctrl, bool no_punct_start) {
  strings.clear();
  offsets.clear();
  if (data.empty()) return false;
  std::vector<text_run> runs;
  find_unicode_runs(data, min_len, runs, allow_ctrl, no_punct_start);
  for (const text_run& run : runs) {
    strings.push_back(unicode_run_text(data, run));
    offsets.push_back(run.offset);
  }
  return true;
}

// ---- search ----

bool find_first(std::span<const u8> data, std::span<const u8> pattern, u64& offset) {
  offset = 0;
  if (data.empty() || pattern.empty() || pattern.size() > data.size()) return false;
  const u64 last = data.size() - pattern.size();
  u64 at = 0;
  while (at <= last) {
    // the pattern's first byte is looked for with one fast scan
    const void* first = std::memchr(data.data() + at, pattern[0], last - at + 1);
    if (first == nullptr) return false;
    at = static_cast<u64>(static_cast<const u8*>(first) - data.data());
    if (std::equal(pattern.begin(), pattern.end(), data.begin() + static_cast<std::ptrdiff_t>(at))) {
      offset = at;
      return true;
    }
    ++at;
  }
  return false;
}
