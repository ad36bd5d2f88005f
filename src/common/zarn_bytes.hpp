#pragma once
// Readers of raw payload and template bytes: security identifiers (SIDs),
// base-128 variable-length integers, strings and string lists with a one- or
// two-byte length prefix, extraction of printable ASCII and UTF-16LE runs,
// and a first-hit byte search.
//
// Every reader takes the bytes it may look at as a span and never reads past
// its end: a length, count or offset found inside the bytes is checked against
// what remains before it is used.
#include <span>
#include <string>
#include <vector>

#include "common/zarn_types.hpp"

// ---- small operations ----

// The bytes from offset n on; an empty view at the end when n lies beyond it.
std::span<const u8> ptr_add(std::span<const u8> bytes, u64 n);
// The address of byte n, or nullptr when byte n is not inside `bytes`.
const u8* byte_ptr_at(std::span<const u8> bytes, u64 n);
// True when any bit is set.
constexpr bool u64_is_nonzero(u64 v) { return v != 0; }
// True when the value is 1; a null pointer is not 1.
constexpr bool is_one(const u32* v) { return v != nullptr && *v == 1; }

// ---- security identifiers ----
// Byte form: u8 revision, u8 sub-authority count, the 48-bit identifier
// authority big-endian in bytes 2..7, then count little-endian u32
// sub-authorities from byte 8.

// 8 + 4 x the sub-authority count (byte 1); 0 when byte 1 is not held, so the
// length is never taken from a byte that is not there.
u32 sid_length(std::span<const u8> sid);

// The text form "S-<revision>-<authority>-<sub>-<sub>...", all in decimal.
// "" when fewer than 12 bytes are held or the SID's length (8 + 4 x count) is
// more than `sid` holds. The authority is the whole 48-bit value.
std::string sid_to_string(std::span<const u8> sid);

// ---- variable-length integer ----

// Little-endian base 128: each of the first eight bytes gives its low 7 bits
// and ends the number when its top bit is clear; a ninth byte gives all 8 bits
// (bits 56..63) and always ends it. False (out 0) for empty input or when the
// bytes end before the number's last byte.
[[nodiscard]] bool decode_varint(u64& out, std::span<const u8> data);

// ---- counted strings ----
// Prefix: one byte below 0x80 is the length; with the top bit set, the length
// is ((byte0 & 0x7F) << 8) | byte1, a 15-bit big-endian value in two bytes.

// Returns the bytes consumed: 0 when `data` is empty or a two-byte prefix is
// cut; only the prefix size when the length claims more than follows (out
// then stays empty); otherwise prefix + length with out holding the bytes.
u32 read_counted_string(std::string& out, std::span<const u8> data);

// A count with the same prefix, then that many counted strings one after the
// other. Returns the bytes consumed: 0 when `data` is empty or a two-byte
// prefix is cut; only the prefix size (out empty) when the count is more than
// the bytes that follow. When the bytes run out early the entries not reached
// stay empty.
u32 read_counted_string_list(std::vector<std::string>& out, std::span<const u8> data);

// ---- string extraction ----
// A byte is printable when it is 32..126, or with allow_ctrl one of CR, LF,
// TAB. A run never starts with a blank, nor with no_punct_start at one of
// 32-46, 58-64, 92-96, 124-126. Both vectors are cleared first; false only for
// empty input. `offsets` holds the index of each run's first byte.

// One run the extraction finds: the index of its first byte and its
// characters (bytes, or UTF-16 units).
struct text_run {
  u64 offset = 0;
  u64 chars = 0;
};
// The runs that extract_ascii_strings and extract_unicode_strings give, without
// their texts (`runs` cleared first): guessing reads every payload this way.
void find_ascii_runs(std::span<const u8> data, i32 min_len, std::vector<text_run>& runs,
                     bool allow_ctrl, bool no_punct_start);
void find_unicode_runs(std::span<const u8> data, i32 min_len, std::vector<text_run>& runs,
                       bool allow_ctrl, bool no_punct_start);
// A UTF-16 run's text: the low byte of each of its units.
std::string unicode_run_text(std::span<const u8> data, const text_run& run);

// Runs of at least min_len (and at least one) characters that hold a
// character other than blank, CR and LF.
bool extract_ascii_strings(std::span<const u8> data, i32 min_len, std::vector<std::string>& strings,
                           std::vector<u64>& offsets, bool allow_ctrl, bool no_punct_start);

// The UTF-16LE form: a unit is a character when its second byte is 0 and its
// first byte printable. A unit that is not a character ends the run and the
// walk moves on by one byte, so runs at odd offsets are found. Runs of at
// least min_len (and at least one) characters are kept.
bool extract_unicode_strings(std::span<const u8> data, i32 min_len, std::vector<std::string>& strings,
                             std::vector<u64>& offsets, bool allow_ctrl, bool no_punct_start);

// ---- search ----

// The first offset at which `pattern` occurs in `data`. offset is set to 0
// first; false when either is empty, the pattern is longer than the data, or
// it does not occur.
[[nodiscard]] bool find_first(std::span<const u8> data, std::span<const u8> pattern, u64& offset);
