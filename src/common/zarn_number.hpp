#pragma once
// Conversions of option values, template-file fields, version texts and date
// fields into numbers. The four entry points differ in which texts they take
// as hexadecimal or octal; each std::string form passes its characters (up to
// an embedded NUL) to the character-string form.
#include <string>

#include "common/zarn_types.hpp"

// General 32-bit values. out = 0 first; false for a null or empty text.
// Prefixes (tested on the text without surrounding " \t\r\n", any case):
// second character 'x' (0x1F) -> hexadecimal from the third; first 'x' ->
// hexadecimal from the second; first 'o' -> octal from the second. Else a
// text starting with '-', '+' or a digit is decimal, and exactly 'c' (quote,
// character, quote) gives the character's byte value. Anything else: false.
// Conversion stops at the first character that is not part of the number;
// no digits give 0; a value above 32 bits gives 0xFFFFFFFF; a leading '-'
// gives the two's complement. A decimal or quoted text must not start with a
// blank (" 12" is false), so a number written after a separator and a blank
// reads as 0.
bool to_uint(const char* text, u32& out);
bool to_uint(const std::string& text, u32& out);

// The -threads count. false for a null or empty text. On the trimmed,
// lower-cased text: an 'x' anywhere -> hexadecimal after the first 'x'
// (12x34 gives 0x34); else an 'o' anywhere -> octal after the first 'o';
// else '-', '+' or a digit first -> decimal as a signed 32-bit value, clamped
// to -2^31 .. 2^31-1 and stored as u32; else false. out is untouched on false.
bool parse_uint(const char* text, u32& out);
bool parse_uint(const std::string& text, u32& out);

// 64-bit values such as the -filter_sig offset. out = 0 first. false for a
// null text, a text over 30 characters, a text of blanks only, a blank after
// the number has begun, an unknown first character, too many digits (16 hex,
// 22 octal, 20 decimal) or a value above 64 bits. Prefixes: with more than
// two characters, second 'x'/'X' -> hexadecimal after it, else first 'x'/'X'
// -> hexadecimal after it; first 'o'/'O' -> octal after it; '-', '+' or a
// digit -> decimal. Reading stops at the first character that is not part
// of the number (a text with no digits gives 0 and true).
bool parse_u64_cstr(const char* text, u64& out);
bool parse_u64(const std::string& text, u64& out);

// Lower-case hexadecimal digits of `value`, zero-filled to at least
// `min_digits` (no "0x").
std::string hex_digits(u64 value, std::size_t min_digits);
// The same digits appended to `out`, and decimal digits likewise: the output
// writers put numbers straight into the line they build.
void append_hex(std::string& out, u64 value, std::size_t min_digits);
void append_decimal(std::string& out, u64 value);

// Hex byte values separated by `delimiter` (pieces trimmed, empty pieces
// dropped), such as "4d 5a 90" or "0x4d 5a". Each piece must be a whole
// hexadecimal number of at most 0xFF, with or without "0x"; when any piece
// is not, out is left empty so that no wrong signature is ever used.
// Returns out.
byte_array& parse_byte_list(byte_array& out, const std::string& text, char delimiter);
