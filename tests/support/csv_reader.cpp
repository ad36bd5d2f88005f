#include "support/csv_reader.hpp"

namespace {

bool at_separator(const std::string& text, std::size_t pos, const std::string& separator) {
  return text.compare(pos, separator.size(), separator) == 0;
}

bool at_line_end(const std::string& text, std::size_t pos) {
  return pos < text.size() && (text[pos] == '\r' || text[pos] == '\n');
}

std::size_t skip_line_end(const std::string& text, std::size_t pos) {
  if (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') return pos + 2;
  return pos + 1;
}

// Reads a quoted field from the opening quote at pos; pos ends after the
// closing quote and the padding blanks behind it (not those that open the
// separator).
bool read_quoted(const std::string& text, std::size_t& pos, std::string& field,
                 const std::string& separator) {
  ++pos;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c != '"') {
      field.push_back(c);
      ++pos;
      continue;
    }
    if (pos + 1 < text.size() && text[pos + 1] == '"') {
      field.push_back('"');
      pos += 2;
      continue;
    }
    ++pos;
    while (pos < text.size() && text[pos] == ' ' && !at_separator(text, pos, separator)) ++pos;
    return true;
  }
  return false;
}

}  // namespace

bool read_csv(const std::string& text, const std::string& separator, bool quoting,
              std::vector<csv_record>& records) {
  records.clear();
  if (separator.empty()) return false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    csv_record record;
    for (;;) {
      std::string field;
      if (quoting && pos < text.size() && text[pos] == '"') {
        if (!read_quoted(text, pos, field, separator)) return false;
        if (pos < text.size() && !at_line_end(text, pos) && !at_separator(text, pos, separator)) {
          return false;
        }
      } else {
        while (pos < text.size() && !at_line_end(text, pos) && !at_separator(text, pos, separator)) {
          field.push_back(text[pos]);
          ++pos;
        }
      }
      record.push_back(field);
      if (pos < text.size() && at_separator(text, pos, separator)) {
        pos += separator.size();
        continue;
      }
      if (pos < text.size()) pos = skip_line_end(text, pos);
      break;
    }
    records.push_back(record);
  }
  return true;
}
