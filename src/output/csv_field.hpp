#pragma once
// The one escaper of both output forms. A reader of CSV (RFC 4180) takes a
// field that begins with a double quote as quoted: it runs to the next lone
// double quote, over separators and line ends. A field written that way must
// therefore be quoted whole, or the reader splits the line wrongly.
#include <string>
#include <string_view>

// Appends `text` between double quotes, every double quote inside it doubled.
void append_csv_quoted(std::string& out, std::string_view text);

// True when a reader would take `text` as the start of a quoted field.
inline bool opens_quoted_field(std::string_view text) { return !text.empty() && text.front() == '"'; }
