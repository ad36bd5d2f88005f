#include "output/csv_field.hpp"

void append_csv_quoted(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size() + 2);
  out.push_back('"');
  for (const char c : text) {
    if (c == '"') out.push_back('"');  // a lone quote would end the field for the reader
    out.push_back(c);
  }
  out.push_back('"');
}
