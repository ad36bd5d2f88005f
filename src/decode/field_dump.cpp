#include "decode/field_dump.hpp"

#include <charconv>
#include <string>

#include "common/guid.hpp"
#include "common/zarn_number.hpp"
#include "common/zarn_string.hpp"
#include "decode/type_words.hpp"

namespace {

// A text that holds a backslash or a double quote.
bool needs_cleaning(const std::string& text) {
  static const char_set cleaned("\\\"");
  return cleaned.found_in(text);
}

// Backslashes become slashes and quotes are escaped, so a text cannot end
// its cell early. Most texts hold neither: one scan tells.
void clean_text(std::string& text) {
  if (!needs_cleaning(text)) return;
  replace_char(text, '\\', '/', false);
  escape_char(text, '"', '\\');
}

void append_value(std::string& line, field_rec& f) {
  if (!f.value.empty()) {
    clean_text(f.value);
    line += f.value;
    return;
  }
  if (!f.bytes.empty()) {
    if (f.in_type == in_type::guid && f.bytes.size() == 16) {
      line += '{';
      append_guid_text(line, guid(f.bytes.data()));
      line += '}';
      return;
    }
    static constexpr char digits[] = "0123456789abcdef";
    for (const u8 b : f.bytes) {
      line += digits[b >> 4];
      line += digits[b & 0x0F];
    }
    return;
  }
  // words whose high nibble is 0xc or 0xe mark structures: no value of their own
  const u8 kind = f.high_byte & 0xF0;
  if (kind == 0xC0 || kind == 0xE0) return;
  line += "0x";
  append_hex(line, f.number, std::size_t{2} * f.size);
}

}  // namespace

void dump_field_map(std::string& line, field_map& map) {
  const std::size_t n = map.size();
  std::size_t i = 0;
  for (auto& [key, f] : map) {
    ++i;
    // the quote, the counter and the dash before a name go out in one piece
    char head[24];
    char* p = head;
    *p++ = '"';
    if (i < 10) *p++ = '0';
    p = std::to_chars(p, head + sizeof head - 1, i).ptr;
    if (!f.name.empty()) *p++ = '-';
    line.append(head, static_cast<std::size_t>(p - head));
    if (!f.name.empty()) {
      // names of self-describing events come from the log itself
      if (!needs_cleaning(f.name)) {
        line += f.name;
      } else {
        std::string name = f.name;
        clean_text(name);
        line += name;
      }
    }
    line += "\":\"";
    append_value(line, f);
    line += i < n ? "\";" : "\"";
  }
}
