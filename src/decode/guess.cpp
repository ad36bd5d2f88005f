#include "decode/guess.hpp"

#include <algorithm>
#include <array>
#include <vector>

#include "common/byte_reader.hpp"
#include "common/zarn_bytes.hpp"
#include "common/zarn_string.hpp"
#include "common/zarn_time.hpp"
#include "common/zarn_time_text.hpp"
#include "decode/decode_scratch.hpp"
#include "decode/template_walk.hpp"
#include "decode/type_words.hpp"

namespace {

constexpr u8 guessed_flag = 1;

// The time window in FILETIME ticks around the clock.
constexpr u64 ticks_per_day = 864000000000ull;
constexpr u64 window_before = 3650 * ticks_per_day;
constexpr u64 window_after = 730 * ticks_per_day;

// Texts: UTF-16 runs of at least 2 characters, 8-bit runs of at least 4.
constexpr i32 utf16_min_chars = 2;
constexpr i32 ascii_min_chars = 4;

// The two SID forms worth finding: revision 1, authority 5 (NT), with five
// sub-authorities (a domain account, 28 bytes) or one (a well-known account
// such as S-1-5-18, 12 bytes).
constexpr std::array<u8, 8> sid5_prefix = {1, 5, 0, 0, 0, 0, 0, 5};
constexpr std::array<u8, 8> sid1_prefix = {1, 1, 0, 0, 0, 0, 0, 5};
constexpr u64 sid5_size = 28;
constexpr u64 sid1_size = 12;

u64 pinned_clock = 0;

u64 clock_now() {
  if (pinned_clock != 0) return pinned_clock;
  static const u64 first_use = zarn::time::now().filetime();
  return first_use;
}

void store(field_map& map, u64 key, field_rec& f) { map.emplace(key, std::move(f)); }

void store_number(field_map& map, u64 key, u64 value, u32 size, u8 in_type, const char* name) {
  field_rec& f = map.next_slot();
  f.set_number(value, size, in_type, name, guessed_flag);
  store(map, key, f);
}

void store_u32(field_map& map, u64 key, std::span<const u8> bytes, u64 at) {
  store_number(map, key + at, zarn::u32_at(bytes, at), 4, in_type::uint32, "guess_uint32");
}

// Bytes 5..7 of a 64-bit kernel-space address (0xFFFFC1.. and up) with a low
// half above 0xFFFF: one pointer, not two unrelated u32s.
bool is_kernel_value(u64 value) {
  const u64 byte5 = (value >> 40) & 0xFF;
  return byte5 > 0xC0 && (value >> 48) == 0xFFFF && (value & 0xFFFFFFFF) > 0xFFFF;
}

// A SYSTEMTIME in the first 16 bytes: its bytes, the u64 of its first 8 and
// the same "0x<bytes last to first> [time]" text a template gives in-type 18.
// False when the 16 bytes are not held or are no valid time.
bool store_systime(field_map& map, u64 key, std::span<const u8> bytes) {
  zarn::_windows_systemtime st;
  if (!zarn::read_systemtime(bytes, st)) return false;
  const zarn::time t(st);
  if (!t.is_valid()) return false;
  const std::span<const u8> raw = bytes.first(zarn::systemtime_size);
  field_rec f;
  f.set_number(zarn::u64_at(raw, 0), zarn::systemtime_size, in_type::systemtime, "guess_systime", guessed_flag);
  f.bytes.assign(raw.begin(), raw.end());
  f.value = systemtime_text(raw, t);
  store(map, key, f);
  return true;
}

bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
bool is_upper_or_digit(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// Where a candidate's text starts now that it may have given bytes away.
u64 start_of(const guess_candidate& c) { return c.offset + c.given_away; }

// The k-th character of a text candidate.
char char_at(std::span<const u8> bytes, const guess_candidate& c, u64 k) {
  return static_cast<char>(bytes[start_of(c) + (c.utf16 != 0 ? 2 * k : k)]);
}

// A short text that opens lower case then upper case or a digit ("aB..",
// "x1..") is more often stray bytes than a word.
bool keeps_short_text(std::span<const u8> bytes, const guess_candidate& c) {
  if (c.utf16 != 0 ? c.size > 3 : c.size >= 6) return true;
  const u64 chars = c.utf16 != 0 ? c.size / 2 : c.size;
  if (chars < 2) return true;
  return !(is_lower(char_at(bytes, c, 0)) && is_upper_or_digit(char_at(bytes, c, 1)));
}

// After each removal the walk starts over from the second candidate: the
// first one left is not looked at again, even when it was never looked at.
void drop_stray_texts(guess_candidates& found, std::span<const u8> bytes) {
  std::size_t i = 0;
  while (i < found.size()) {
    if (keeps_short_text(bytes, found[i])) {
      ++i;
      continue;
    }
    found.erase(found.begin() + static_cast<std::ptrdiff_t>(i));
    i = 1;
  }
}

// The candidate at `offset`, or null.
guess_candidate* candidate_at(guess_candidates& found, u64 offset) {
  const auto it = std::lower_bound(found.begin(), found.end(), offset,
                                   [](const guess_candidate& c, u64 o) { return c.offset < o; });
  return it != found.end() && it->offset == offset ? &*it : nullptr;
}

// Adds the candidate unless one is held at its offset.
void add_candidate(guess_candidates& found, const guess_candidate& c) {
  const auto it = std::lower_bound(found.begin(), found.end(), c.offset,
                                   [](const guess_candidate& h, u64 o) { return h.offset < o; });
  if (it != found.end() && it->offset == c.offset) return;
  found.insert(it, c);
}

void find_texts(guess_candidates& found, std::vector<text_run>& runs, std::span<const u8> bytes) {
  find_unicode_runs(bytes, utf16_min_chars, runs, true, false);
  for (const text_run& run : runs) {
    add_candidate(found, {run.offset, 2 * run.chars, 1, guess_kind_text, 0});
  }
  find_ascii_runs(bytes, ascii_min_chars, runs, true, false);
  for (const text_run& run : runs) {
    // An 8-bit run swallows the first character of a UTF-16 text after it
    // (that character's low byte is printable, its 0 byte ends the run): the
    // text gives the character up and keeps its offset.
    if (guess_candidate* c = candidate_at(found, run.offset + run.chars - 1)) {
      const u64 unit = std::min<u64>(c->size, c->utf16 != 0 ? 2 : 1);
      c->size -= unit;
      c->given_away += unit;
    }
    add_candidate(found, {run.offset, run.chars, 0, guess_kind_text, 0});
  }
  drop_stray_texts(found, bytes);
}

// The first place the prefix occurs, when the whole SID lies there; later
// occurrences are not sought.
void find_sid(guess_candidates& found, std::span<const u8> bytes, std::span<const u8> prefix,
              u64 size) {
  u64 at = 0;
  if (!find_first(bytes, prefix, at) || !zarn::fits(bytes.size(), at, size)) return;
  add_candidate(found, {at, size, 0, guess_kind_sid, 0});
}

void store_candidate(field_map& map, u64 key, std::span<const u8> bytes, const guess_candidate& c,
                     u64 size) {
  field_rec& f = map.next_slot();
  if (c.kind == guess_kind_sid) {
    f.set_text(sid_to_string(bytes.subspan(c.offset, c.size)), static_cast<u32>(size), in_type::sid,
               "guess_sid", guessed_flag);
  } else {
    const u64 chars = c.utf16 != 0 ? c.size / 2 : c.size;
    const text_run run{start_of(c), chars};
    if (c.utf16 != 0) {
      f.set_text(unicode_run_text(bytes, run), static_cast<u32>(size), in_type::utf16_text,
                 "guess_utf16", guessed_flag);
    } else {
      const std::span<const u8> text = bytes.subspan(run.offset, run.chars);
      f.set_text(std::string(text.begin(), text.end()), static_cast<u32>(size), in_type::ansi_text,
                 "guess_ascii", guessed_flag);
    }
    mark_line_endings(f.value);
  }
  store(map, key, f);
}

}  // namespace

void set_guess_clock(u64 filetime_now) { pinned_clock = filetime_now; }

void guess_numbers(field_map& map, u64 base_key, std::span<const u8> bytes) {
  const u64 now = clock_now();
  const u64 low = now > window_before ? now - window_before : 0;
  const u64 high = now < UINT64_MAX - window_after ? now + window_after : UINT64_MAX;
  const u64 units = bytes.size() / 4;
  u64 i = 0;
  while (i < units) {
    const u64 at = 4 * i;
    u64 step = 1;
    if (i + 1 < units) {
      const u64 value = zarn::u64_at(bytes, at);
      if (is_kernel_value(value)) {
        store_number(map, base_key + at, value, 8, in_type::hex_int64, "guess_uint64");
        step = 2;
      } else if (value > low && value < high) {
        if (zarn::time(value, zarn::type_time::filetime).is_valid()) {
          store_number(map, base_key + at, value, 8, in_type::filetime, "guess_filetime");
          step = 2;
        } else {
          store_u32(map, base_key, bytes, at);
        }
      } else if (i + 3 < units && store_systime(map, base_key + at, bytes.subspan(at))) {
        step = 4;
      } else {
        store_u32(map, base_key, bytes, at);
      }
    } else {
      store_u32(map, base_key, bytes, at);
    }
    i += step;
  }
  const u64 tail = 4 * units;
  if (bytes.size() - tail == 2) {
    store_number(map, base_key + tail, zarn::u16_at(bytes, tail), 2, in_type::uint16, "guess_uint16");
    return;
  }
  for (u64 at = tail; at < bytes.size(); ++at) {
    store_number(map, base_key + at, zarn::u8_at(bytes, at), 1, in_type::uint8, "guess_byte");
  }
}

void guess_fields(field_map& map, u64 base_key, std::span<const u8> bytes, bool keep,
                  decode_scratch& scratch) {
  if (!keep) map.clear();
  if (bytes.size() < 4) return;
  guess_candidates& found = scratch.candidates;
  found.clear();
  if (bytes.size() >= 5) find_texts(found, scratch.runs, bytes);
  if (bytes.size() > sid5_size - 1) find_sid(found, bytes, sid5_prefix, sid5_size);
  if (bytes.size() > sid1_size - 1) find_sid(found, bytes, sid1_prefix, sid1_size);

  // pos + left is always the byte count: neither may pass the end
  u64 pos = 0;
  u64 left = bytes.size();
  for (const guess_candidate& c : found) {
    if (left == 0) break;
    const u64 at = start_of(c);
    if (pos < at) {
      const u64 gap = std::min(at - pos, left);
      guess_numbers(map, base_key + pos, bytes.subspan(pos, gap));
      pos += gap;
      left -= gap;
    } else if (at < pos && c.size <= pos - at) {
      // inside the candidate before it, wholly: nothing of it is left to read
      continue;
    }
    // A candidate that starts inside the one before it (a SID's
    // sub-authorities may read as text) is stored where that one ended, and
    // never reaches past the bytes.
    const u64 size = std::min(c.size, left);
    store_candidate(map, base_key + pos, bytes, c, size);
    pos += size;
    left -= size;
    // a text's 0 terminator is no number
    if (c.kind == guess_kind_text && left > 0 && bytes[pos] == 0) {
      const u64 skip = c.utf16 != 0 && left >= 2 ? 2 : 1;
      pos += skip;
      left -= skip;
    }
  }
  if (left > 0) guess_numbers(map, base_key + pos, bytes.subspan(pos));
}
