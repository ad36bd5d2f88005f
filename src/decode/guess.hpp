#pragma once
// Type guessing: payload bytes that no template covers are read as the texts,
// security identifiers, times and numbers they most likely hold.
//
// Every guessed field has element flag 1 and high byte 0 and is stored under
// the base key plus its offset in the guessed bytes; a field already held at
// that key stays. The fields made:
//   "guess_utf16"     in-type 1   UTF-16LE text, value text with line breaks marked
//   "guess_ascii"     in-type 2   8-bit text, the same
//   "guess_sid"       in-type 19  SID of 28 or 12 bytes, value text its S-1-... form
//   "guess_uint64"    in-type 21  8 bytes whose top is a kernel-space address
//   "guess_filetime"  in-type 17  8 bytes, a FILETIME inside the time window
//   "guess_systime"   in-type 18  16 bytes, a SYSTEMTIME: its bytes and time text
//   "guess_uint32"    in-type 8   4 bytes
//   "guess_uint16"    in-type 6   the 2 bytes after the last whole 4
//   "guess_byte"      in-type 4   each of 1 or 3 bytes after the last whole 4
#include <vector>
#include <span>
#include <string>

#include "common/zarn_types.hpp"
#include "decode/field_map.hpp"

// A text or SID found in the guessed bytes. Its text is read from the bytes
// when it is stored: a UTF-16 text keeps the low byte of each unit.
struct guess_candidate {
  u64 offset = 0;      // from the first guessed byte
  u64 size = 0;        // bytes covered
  u8 utf16 = 0;        // 1 for a UTF-16LE text
  u32 kind = 0;        // guess_kind_text or guess_kind_sid
  u64 given_away = 0;  // bytes at its front that an 8-bit run before it took over
};
inline constexpr u32 guess_kind_sid = 1;
inline constexpr u32 guess_kind_text = 2;

// Candidates in offset order; one offset holds one candidate, the first.
using guess_candidates = std::vector<guess_candidate>;

struct decode_scratch;

// The clock that places the time window of guessed FILETIMEs: from 3650 days
// before it to 730 days after it. A FILETIME; 0 (the default) uses the
// current time, read once per process at first use, so one run guesses every
// event alike. Tests pin it.
void set_guess_clock(u64 filetime_now);

// Guesses fields in `bytes` (base_key is the file offset of its first byte).
// Without `keep` the map is emptied first. Fewer than 4 bytes make nothing.
// Texts and SIDs are placed first; the bytes between and after them are
// read by guess_numbers. No field reaches past `bytes`. The runs and
// candidates are found in `scratch`, whose storage is kept for the next call.
void guess_fields(field_map& map, u64 base_key, std::span<const u8> bytes, bool keep,
                  decode_scratch& scratch);

// Reads `bytes` as 4-byte units from its start: a kernel-space value, a
// FILETIME inside the time window and a valid SYSTEMTIME take 2, 2 and 4
// units, any other unit is a u32; then 2 trailing bytes are a u16, 1 or 3
// trailing bytes one byte field each.
void guess_numbers(field_map& map, u64 base_key, std::span<const u8> bytes);
