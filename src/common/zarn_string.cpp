// In-place text edits, splitting, joining and argument lists.
#include "common/zarn_string.hpp"

#include <cstring>
#include <cwctype>
#include <locale>
#include <string_view>

namespace {

constexpr const char* k_blank_set = " \t\r\n";

// Case folding is plain ASCII so that option names and file patterns match
// the same way whatever locale the environment names; bytes above 127 stay.
char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

wchar_t wide_lower(wchar_t c) { return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c))); }
wchar_t wide_upper(wchar_t c) { return static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c))); }

// Strips one character value from both ends; false (and the text emptied)
// when nothing else was there.
bool trim_both_w(std::wstring& s, wchar_t c) {
  const std::size_t first = s.find_first_not_of(c);
  if (first == std::wstring::npos) {
    s.clear();
    return false;
  }
  const std::size_t last = s.find_last_not_of(c);
  s = s.substr(first, last - first + 1);
  return true;
}

// Strips a trailing run of one character value, but only when some other
// character stands before it.
void trim_trailing_w(std::wstring& s, wchar_t c) {
  const std::size_t last = s.find_last_not_of(c);
  if (last != std::wstring::npos) s.erase(last + 1);
}

// The text as far as its first NUL: pieces are cut from what a C string
// reader would see.
std::string_view up_to_nul(const std::string& text) {
  std::string_view v(text);
  const std::size_t nul = v.find('\0');
  return nul == std::string_view::npos ? v : v.substr(0, nul);
}

std::wstring_view up_to_nul_w(const std::wstring& text) {
  std::wstring_view v(text);
  const std::size_t nul = v.find(L'\0');
  return nul == std::wstring_view::npos ? v : v.substr(0, nul);
}

bool find_needle(const std::string& s, std::string& needle, bool ignore_case, std::size_t& pos) {
  // An empty needle matches nowhere: "replacing" it would insert text at the front.
  if (needle.empty()) return false;
  if (ignore_case) {
    to_lower(needle);
    std::string folded = s;
    to_lower(folded);
    pos = folded.find(needle);
  } else {
    pos = s.find(needle);
  }
  return pos != std::string::npos;
}

}  // namespace

// ---- trimming and line ends ----

bool trim_whitespace(std::string& s) {
  if (s.empty()) return false;
  const std::size_t first = s.find_first_not_of(k_blank_set);
  if (first == std::string::npos) {
    s.clear();
    return false;
  }
  const std::size_t last = s.find_last_not_of(k_blank_set);
  s = s.substr(first, last - first + 1);
  return true;
}

bool trim_whitespace_w(std::wstring& s) {
  if (!trim_both_w(s, L' ')) return false;
  if (!trim_both_w(s, L'\t')) return false;
  trim_trailing_w(s, L'\r');
  trim_trailing_w(s, L'\n');
  return true;
}

bool strip_trailing_slashes_w(std::wstring& path) {
  const std::size_t last = path.find_last_not_of(L"/\\");
  if (last == std::wstring::npos) {
    path.clear();
    return false;
  }
  path.erase(last + 1);
  return true;
}

u32 strip_trailing_crlf(std::string& s) {
  const std::size_t last = s.find_last_not_of("\r\n");
  const std::size_t keep = last == std::string::npos ? 0 : last + 1;
  const u32 removed = static_cast<u32>(s.size() - keep);
  s.erase(keep);
  return removed;
}

// ---- case folding ----

std::string& to_lower(std::string& s) {
  for (char& c : s) c = ascii_lower(c);
  return s;
}

std::string& to_upper(std::string& s) {
  for (char& c : s) c = ascii_upper(c);
  return s;
}

std::wstring& to_lower_w(std::wstring& s) {
  for (wchar_t& c : s) c = wide_lower(c);
  return s;
}

bool locale_name_valid(const char* name) {
  if (name == nullptr) return false;
  try {
    std::locale probe(name);
    return true;
  } catch (...) {
    // A locale the machine lacks throws; that only means "not usable".
    return false;
  }
}

// ---- characters and substrings ----

u32 remove_char(std::string& s, char c) {
  u32 removed = 0;
  std::string kept;
  kept.reserve(s.size());
  for (char x : s) {
    if (x == c) {
      ++removed;
    } else {
      kept.push_back(x);
    }
  }
  s.swap(kept);
  return removed;
}

// Every character is looked at once, so a replacement that is itself one of
// the searched characters is never replaced again.
void replace_char(std::string& s, char from, char to, bool both_cases) {
  if (from == to) return;
  const char a = both_cases ? ascii_lower(from) : from;
  const char b = both_cases ? ascii_upper(from) : from;
  for (char& c : s) {
    if (c == a || c == b) c = to;
  }
}

void replace_char_w(std::wstring& s, wchar_t from, wchar_t to, bool both_cases) {
  if (from == to) return;
  const wchar_t a = both_cases ? wide_lower(from) : from;
  const wchar_t b = both_cases ? wide_upper(from) : from;
  for (wchar_t& c : s) {
    if (c == a || c == b) c = to;
  }
}

void escape_char(std::string& s, char c, char esc) {
  if (s.find(c) == std::string::npos) return;
  std::string out;
  out.reserve(s.size() + 8);
  for (char x : s) {
    if (x == c) out.push_back(esc);
    out.push_back(x);
  }
  s.swap(out);
}

bool replace_first(std::string& s, std::string& needle, const std::string& repl, bool ignore_case) {
  std::size_t pos = 0;
  if (!find_needle(s, needle, ignore_case, pos)) return false;
  s.replace(pos, needle.size(), repl);
  return true;
}

bool erase_first(std::string& s, std::string& needle, bool ignore_case) {
  std::size_t pos = 0;
  if (!find_needle(s, needle, ignore_case, pos)) return false;
  s.erase(pos, needle.size());
  return true;
}

// ---- line breaks and indentation ----

// A CR directly before an LF pairs with it first; an LF then takes a CR that
// follows it. Every other CR or LF gets its own marker, so no bare line break
// can reach a table cell and split a row.
std::string& mark_line_endings(std::string& s) {
  // most texts hold no line break: one test tells
  static const char_set breaks("\r\n");
  if (!breaks.found_in(s)) return s;
  std::string out;
  out.reserve(s.size() + 32);
  const std::size_t n = s.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char c = s[i];
    const bool next_lf = i + 1 < n && s[i + 1] == '\n';
    const bool next_cr = i + 1 < n && s[i + 1] == '\r';
    if (c == '\r' && next_lf) {
      out += "[CRLF]";
      ++i;
    } else if (c == '\n' && next_cr) {
      out += "[LFCR]";
      ++i;
    } else if (c == '\n') {
      out += "[LF]";
    } else if (c == '\r') {
      out += "[CR]";
    } else {
      out.push_back(c);
    }
  }
  s.swap(out);
  return s;
}

std::string& mark_nul_bytes(std::string& s) {
  if (s.find('\0') == std::string::npos) return s;
  std::string out;
  out.reserve(s.size() + 16);
  for (const char c : s) {
    if (c == '\0') {
      out += "[NUL]";
    } else {
      out.push_back(c);
    }
  }
  s.swap(out);
  return s;
}

std::string& mark_breaks_and_nuls(std::string& s) { return mark_nul_bytes(mark_line_endings(s)); }

void write_indent(std::ostream& os, u32 n) {
  if (n == 0) return;
  os.fill(' ');
  os.width(n);
  os << ' ';
}

// ---- splitting, joining and argument lists ----

namespace {

void add_piece(std::string piece, bool trim, bool keep_empty, std::vector<std::string>& out) {
  if (trim) trim_whitespace(piece);
  if (!piece.empty() || keep_empty) out.push_back(std::move(piece));
}

}  // namespace

bool split_string(const std::string& text, char sep, std::vector<std::string>& out, bool trim,
                  bool keep_empty, bool append) {
  if (!append) out.clear();
  if (text.empty()) return false;
  const std::string_view v = up_to_nul(text);
  std::size_t start = 0;
  for (std::size_t pos = v.find(sep); pos != std::string_view::npos; pos = v.find(sep, start)) {
    add_piece(std::string(v.substr(start, pos - start)), trim, keep_empty, out);
    start = pos + 1;
  }
  add_piece(std::string(v.substr(start)), trim, keep_empty, out);
  return true;
}

char split_by_first_delimiter(std::vector<std::string>& out, const std::string& text, bool trim,
                              bool keep_empty, const std::string& delimiters) {
  out.clear();
  if (text.empty()) return 0;
  for (char d : delimiters) {
    if (text.find(d) != std::string::npos) {
      split_string(text, d, out, trim, keep_empty, false);
      return d;
    }
  }
  out.push_back(text);
  return 0;
}

bool split_string_w(const std::wstring& text, wchar_t sep, std::vector<std::wstring>& out, bool trim,
                    bool keep_empty) {
  out.clear();
  if (text.empty()) return false;
  const std::wstring_view v = up_to_nul_w(text);
  std::size_t start = 0;
  for (std::size_t pos = v.find(sep); pos != std::wstring_view::npos; pos = v.find(sep, start)) {
    std::wstring piece(v.substr(start, pos - start));
    if (trim) trim_whitespace_w(piece);
    if (!piece.empty() || keep_empty) out.push_back(std::move(piece));
    start = pos + 1;
  }
  // The last piece: an empty one (text ending in the separator) follows
  // keep_empty; one that trimming emptied is left out.
  std::wstring last(v.substr(start));
  if (last.empty()) {
    if (keep_empty) out.push_back(last);
  } else {
    if (trim) trim_whitespace_w(last);
    if (!last.empty()) out.push_back(std::move(last));
  }
  return true;
}

bool split_lines(const byte_array& data, std::vector<std::string>& lines) {
  lines.clear();
  if (data.empty()) return false;
  const std::string all(data.begin(), data.end());
  std::size_t start = 0;
  for (std::size_t lf = all.find('\n'); lf != std::string::npos; lf = all.find('\n', start)) {
    std::size_t from = start;
    while (from < lf && all[from] == '\r') ++from;
    std::string line(all.substr(from, lf - from));
    trim_whitespace(line);
    lines.push_back(std::move(line));
    start = lf + 1;
  }
  // The bytes after the last line feed are a line of their own, however
  // short: a file's last line needs no final line feed.
  if (start == 0 || start < all.size()) {
    std::string line(all.substr(start));
    trim_whitespace(line);
    lines.push_back(std::move(line));
  }
  return !lines.empty();
}

bool args_to_vector(std::vector<std::string>& out, int argc, const char* const* argv) {
  if (argv != nullptr) {
    for (int i = 0; i < argc; ++i) out.emplace_back(argv[i] != nullptr ? argv[i] : "");
  }
  return !out.empty();
}

bool erase_at(int index, std::vector<std::string>& v) {
  if (index < 0 || static_cast<std::size_t>(index) >= v.size()) return false;
  v.erase(v.begin() + index);
  return true;
}

bool join_quoted(std::string& out, const std::vector<std::string>& items, char quote) {
  out.clear();
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i != 0) out.push_back(' ');
    if (items[i].find(' ') != std::string::npos) {
      out.push_back(quote);
      out += items[i];
      out.push_back(quote);
    } else {
      out += items[i];
    }
  }
  return true;
}

char_set::char_set(std::string_view chars) : chars_(chars) {
  for (const char c : chars) member_[static_cast<unsigned char>(c)] = true;
}

bool char_set::found_in(std::string_view text) const {
  // below this length a scan per character costs more than it saves
  constexpr std::size_t long_text = 64;
  if (text.size() < long_text) {
    for (const char c : text) {
      if (member_[static_cast<unsigned char>(c)]) return true;
    }
    return false;
  }
  for (const char c : chars_) {
    if (std::memchr(text.data(), static_cast<unsigned char>(c), text.size()) != nullptr) return true;
  }
  return false;
}
