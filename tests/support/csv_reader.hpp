#pragma once
// A small reader of delimited text, as a consumer of the event table would
// read it back: tests check that every row splits into exactly its cells.
#include <string>
#include <vector>

using csv_record = std::vector<std::string>;

// Splits `text` into records and fields. A record ends at "\r\n", "\n" or a
// lone "\r" (the strictest reader's view); a final record needs no line end.
// Fields are split at every occurrence of `separator` (not empty).
// With `quoting` (RFC 4180, read as Python's csv module reads it): a field
// that begins with a double quote runs to the next lone double quote (""
// stands for one quote) and may hold separators and line breaks; padding
// blanks may follow the closing quote; a quote anywhere else is an ordinary
// character. Output is checked with quoting on. Without `quoting` every quote is an
// ordinary character. False (records holding what was read before) for an
// empty separator, an unterminated quoted field or other text between a
// closing quote and the next separator or line end.
bool read_csv(const std::string& text, const std::string& separator, bool quoting,
              std::vector<csv_record>& records);
