#pragma once
// Text services: trimming, case folding, replacement, line-break marking,
// paths and environment references, UTF-8/UTF-16/wide conversion, splitting
// and joining. Every edit works on the caller's string in place.
#include <cstddef>
#include <ostream>
#include <span>
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "common/zarn_types.hpp"

// ---- trimming and line ends ----
// Strips " \t\r\n" at both ends; false for an empty input or one made only of those.
bool trim_whitespace(std::string& s);
// Wide trim in four passes: blanks, tabs, trailing CRs, trailing LFs.
bool trim_whitespace_w(std::wstring& s);
// Removes every trailing '/' and '\\'; true when text is left.
bool strip_trailing_slashes_w(std::wstring& path);
// Removes the run of CR and LF at the end; returns how many were removed.
u32 strip_trailing_crlf(std::string& s);

// ---- case folding (ASCII; bytes above 127 are left as they are) ----
std::string& to_lower(std::string& s);
std::string& to_upper(std::string& s);
std::wstring& to_lower_w(std::wstring& s);
// True when a std::locale of that name can be constructed; never throws.
bool locale_name_valid(const char* name);

// ---- characters and substrings ----
u32 remove_char(std::string& s, char c);
void replace_char(std::string& s, char from, char to, bool both_cases);
void replace_char_w(std::wstring& s, wchar_t from, wchar_t to, bool both_cases);
void escape_char(std::string& s, char c, char esc);
// With ignore_case the needle is lower-cased in place; an empty needle
// matches nowhere (false, text unchanged).
bool replace_first(std::string& s, std::string& needle, const std::string& repl, bool ignore_case);
bool erase_first(std::string& s, std::string& needle, bool ignore_case);

// ---- line breaks and indentation ----
// Makes every line break visible: "[CRLF]", "[LFCR]", "[LF]", "[CR]"; no bare
// CR or LF is left, so the text cannot break a table row.
std::string& mark_line_endings(std::string& s);
// Shows every NUL byte as "[NUL]": many readers end a line or a field there.
std::string& mark_nul_bytes(std::string& s);
// What every text from a payload or from outside the program (file names,
// recorded names, template field names) gets before it reaches an output
// line: line breaks marked as by mark_line_endings and NUL bytes as
// "[NUL]", so that the text can neither end the line nor cut it short.
std::string& mark_breaks_and_nuls(std::string& s);
// A few characters looked for in texts, as the output writers test every
// cell: a short text is read once, each of its characters against a table;
// a long one is scanned once per character of the set, many bytes at a time.
class char_set {
 public:
  explicit char_set(std::string_view chars);
  // True when `text` holds any character of the set.
  bool found_in(std::string_view text) const;

 private:
  std::array<bool, 256> member_{};
  std::string chars_;
};
void write_indent(std::ostream& os, u32 n);

// ---- paths, environment references and the time locale ----
// Splits at the later of the last '/' and the last '\\'. No separator gives
// folder "."; a separator at index 0 gives that separator as folder; a name
// ".." becomes "." with the folder extended by "\\.." or "//..". False (and
// both outputs empty) for an empty path; the wide form then leaves them as
// they were.
bool split_path(const std::string& path, std::string& folder, std::string& name);
bool split_path(const char* path, std::string& folder, std::string& name);
bool split_path_w(const std::wstring& path, std::wstring& folder, std::wstring& name);
bool split_path_ext(const char* path, std::string& folder, std::string& base, std::string& ext);
// Replaces %NAME% references by environment values (and, with allow_vss, a
// missing %vss% by the shadow-copy prefix); texts over 512 characters are
// left as they stand.
std::string expand_env_vars(std::string text, bool allow_vss);
std::string vss_prefix(bool lower_case, bool with_globalroot);
std::size_t shadow_copy_prefix_len();
// "" when the environment's default locale can be built, else the value of
// LC_TIME, else of LANG; false (name empty) when none can. Never throws.
bool select_time_locale(std::string& name);

// ---- UTF-8, UTF-16 and wide text ----
namespace uni {
// False for an empty input or at the first byte that breaks the UTF-8
// structure; out then holds what decoded before it.
bool utf8_to_wstring_ex(std::wstring& out, const std::string& in);
std::wstring utf8_to_wstring(const std::string& in);
// False for an empty input or at a value above U+10FFFF; out then holds the
// bytes encoded before it.
bool wstring_to_utf8_ex(std::string& out, const std::wstring& in);
std::string wstring_to_utf8(const std::wstring& in);
}  // namespace uni

// UTF-16LE strings inside payloads. `bytes` is everything the caller holds
// from the string's first byte on; no conversion reads past it, whatever
// max_bytes says. max_bytes -1 means "at most 500 units". Returns the bytes
// consumed; the terminator is counted (count_terminator) only when a 0 unit
// lies inside both max_bytes and `bytes`. A broken surrogate pair keeps the
// raw units.
i32 utf16le_to_utf8(std::span<const u8> bytes, std::string& out, i32 max_bytes, bool count_terminator);
i32 utf16le_to_wide(std::span<const u8> bytes, std::wstring& out, i32 max_bytes);
// Converts byte_count/2 units, never more than `bytes` holds, into out.
// False, with out unchanged, for a count below 2, for no byte held, and for a
// high surrogate without its low half inside the count.
bool utf16_units_to_utf8(std::string& out, std::span<const u8> bytes, i32 byte_count);

// ---- splitting, joining and argument lists ----
bool split_string(const std::string& text, char sep, std::vector<std::string>& out, bool trim,
                  bool keep_empty, bool append);
char split_by_first_delimiter(std::vector<std::string>& out, const std::string& text, bool trim,
                              bool keep_empty, const std::string& delimiters);
bool split_string_w(const std::wstring& text, wchar_t sep, std::vector<std::wstring>& out, bool trim,
                    bool keep_empty);
// One entry per line, trimmed; the text after the last line feed is a line
// whenever any byte follows it.
bool split_lines(const byte_array& data, std::vector<std::string>& lines);
bool args_to_vector(std::vector<std::string>& out, int argc, const char* const* argv);
// False for an index outside the vector (negative included).
bool erase_at(int index, std::vector<std::string>& v);
bool join_quoted(std::string& out, const std::vector<std::string>& items, char quote);
