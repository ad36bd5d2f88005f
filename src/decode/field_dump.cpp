#include "decode/field_dump.hpp"

#include <string>

#include "common/guid.hpp"
#include "common/zarn_number.hpp"
#include "common/zarn_string.hpp"
#include "decode/type_words.hpp"

namespace {

std::string counter_text(std::size_t i) {
  std::string text = std::to_string(i);
  if (text.size() < 2) text.insert(0, 1, '0');
  return text;
}

// Backslashes become slashes and quotes are escaped, so a text cannot end
// its cell early.
void clean_text(std::string& text) {
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
      line += guid_to_string(guid(f.bytes.data()));
      line += '}';
      return;
    }
    for (const u8 b : f.bytes) line += hex_digits(b, 2);
    return;
  }
  // words whose high nibble is 0xc or 0xe mark structures: no value of their own
  const u8 kind = f.high_byte & 0xF0;
  if (kind == 0xC0 || kind == 0xE0) return;
  line += "0x";
  line += hex_digits(f.number, std::size_t{2} * f.size);
}

}  // namespace

void dump_field_map(std::string& line, field_map& map) {
  std::size_t i = 0;
  for (auto& [key, f] : map) {
    ++i;
    line += '"';
    line += counter_text(i);
    if (!f.name.empty()) {
      line += '-';
      // names of self-describing events come from the log itself
      if (f.name.find_first_of("\\\"") == std::string::npos) {
        line += f.name;
      } else {
        std::string name = f.name;
        clean_text(name);
        line += name;
      }
    }
    line += "\":\"";
    append_value(line, f);
    line += '"';
    if (i < map.size()) line += ';';
  }
}
