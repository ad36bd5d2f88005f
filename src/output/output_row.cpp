#include "output/output_row.hpp"

#include <algorithm>
#include <charconv>
#include <new>

#include "common/guid.hpp"
#include "common/zarn_number.hpp"
#include "common/zarn_string.hpp"
#include "common/zarn_time.hpp"
#include "common/zarn_time_text.hpp"
#include "output/csv_field.hpp"
#include "platform/cmd_params.hpp"

namespace {

// A header cell's width is a u64; no real column is wider than this. A damaged
// or careless width must not make every row allocate gigabytes of blanks.
constexpr u64 max_column_width = 1024;

std::size_t column_width(const cmd_params& options, std::size_t i) {
  if (i >= options.header_cells.size()) return 0;  // a row may hold more cells than the header
  return static_cast<std::size_t>(std::min(options.header_cells[i].reference, max_column_width));
}

bool padding_on(const cmd_params& options) { return options.no_whitespace == 0; }

std::string blank_text(const cmd_params& options) { return padding_on(options) ? " " : ""; }

void append_left_aligned(std::string& line, const std::string& s, std::size_t width) {
  line += s;
  if (s.size() < width) line.append(width - s.size(), ' ');
}

void append_right_aligned(std::string& line, const std::string& s, std::size_t width) {
  if (s.size() < width) line.append(width - s.size(), ' ');
  line += s;
}

// A text set with quote_text that was kept unquoted: longer than two
// characters, beginning with '{' and '"'.
bool is_brace_quote_text(const std::string& text) {
  return text.size() > 2 && text[0] == '{' && text[1] == '"';
}

// What keeps a cell from splitting its row in the current layout. Delimited
// layouts replace the separator character in texts and labels and write a
// text that opens with a double quote as a quoted field; the quoted layout
// quotes any cell that is not already quoted and holds a character of the
// separator text or opens with a double quote.
struct cell_guard {
  bool quoting = false;
  char separator = 0;
  char replacement = 0;
  std::string separator_chars;

  explicit cell_guard(const cmd_params& options) {
    quoting = options.quoted_fields != 0;
    separator = options.separator;
    replacement = options.separator_replacement;
    // A replacement of 0 would put NUL bytes into the text, and one equal to
    // the separator would replace nothing.
    if (replacement == 0 || replacement == separator) replacement = separator == ' ' ? '_' : ' ';
    for (const char c : options.separator_text) {
      if (c != ' ') separator_chars.push_back(c);
    }
    if (separator_chars.empty() && !options.separator_text.empty()) separator_chars = " ";
  }

  // The text holds no line break, NUL byte, separator character or leading
  // double quote: no edit of a text cell would change it.
  bool is_plain(const std::string& s) const {
    if (!s.empty() && s[0] == '"') return false;
    for (const char c : s) {
      if (c == '\r' || c == '\n' || c == '\0' || (separator != 0 && c == separator)) return false;
      if (quoting && separator_chars.find(c) != std::string::npos) return false;
    }
    return true;
  }

  void replace_separator(std::string& s) const {
    if (separator != 0) replace_char(s, separator, replacement, false);
  }

  // Under quoting, a cell that holds a character of the separator text or
  // opens with a double quote is quoted whole.
  void quote_when_needed(std::string& s) const {
    const bool holds_separator = std::any_of(separator_chars.begin(), separator_chars.end(),
                                             [&s](char c) { return s.find(c) != std::string::npos; });
    if (!holds_separator && !opens_quoted_field(s)) return;
    std::string quoted;
    append_csv_quoted(quoted, s);
    s.swap(quoted);
  }

  // A header label: its separator characters replaced, or quoted.
  void protect_label(std::string& s) const {
    if (quoting) {
      quote_when_needed(s);
    } else {
      replace_separator(s);
    }
  }

  // A time, date, GUID or number is never rewritten: the command line refuses
  // a separator that one can hold, and under quoting the cell is quoted.
  void protect_fixed(std::string& s) const {
    if (quoting) quote_when_needed(s);
  }
};

// The number's text; `decimal` tells whether it is the decimal form, which is
// right-aligned in its column.
std::string number_text(const zarn_variant_lite& cell, std::size_t w, const cmd_params& options,
                        bool& decimal) {
  const bool pad = padding_on(options);
  decimal = false;
  if ((cell.flags & cell_flag::hex_column) != 0) {
    return "0x" + hex_digits(cell.number, pad && w >= 2 ? w - 2 : 0);
  }
  if (options.hex_numbers != 0 && (cell.flags & cell_flag::decimal) == 0) {
    std::size_t digits = 8;
    if (cell.type == cell_tag::number8) digits = 2;
    if (cell.type == cell_tag::number16) digits = 4;
    return "0x" + hex_digits(cell.number, pad && w >= 2 ? w - 2 : digits);
  }
  decimal = true;
  return std::to_string(cell.number);
}

bool is_number_tag(u16 tag) {
  return tag == cell_tag::number8 || tag == cell_tag::number16 || tag == cell_tag::number32 ||
         tag == cell_tag::number64;
}

// The text of FILETIME cell i, without the blank before it and the padding.
std::string time_text_of(const zarn_variant_lite& cell, const cmd_params& options) {
  const zarn::time t(cell.number, zarn::type_time::filetime);
  std::string date;
  std::string time_part;
  if (t.is_valid()) {
    zarn::time::format(date, time_part, t, options.date_time_fmt);
  } else {
    date = blank_text(options);
    time_part = blank_text(options);
  }
  return date + " " + time_part;
}

void append_time_cell(std::string& line, const zarn_variant_lite& cell, std::size_t w,
                      const cmd_params& options, const cell_guard& guard) {
  std::string content = time_text_of(cell, options);
  guard.protect_fixed(content);
  if (padding_on(options)) {
    if (options.blank_before_time != 0) line += ' ';
    append_left_aligned(line, content, w);
  } else {
    line += content;
  }
}

void append_text_cell(std::string& line, zarn_variant_lite& cell, std::size_t w, const cmd_params& options,
                      const cell_guard& guard) {
  std::string& text = cell.text;
  const std::size_t width = padding_on(options) ? w : 0;
  // Most texts hold nothing to mark, replace or quote: one scan tells.
  if (!guard.is_plain(text)) {
    // Marked first, so that a separator character inside a marker is replaced too.
    if (options.multiline == 0) {
      mark_breaks_and_nuls(text);
    } else {
      mark_nul_bytes(text);
    }
    guard.replace_separator(text);
    if (guard.quoting) {
      const bool quoted_here = (cell.flags & cell_flag::quote_text) != 0 && opens_quoted_field(text);
      if (!quoted_here) guard.quote_when_needed(text);
    } else if (options.multiline == 0 && opens_quoted_field(text)) {
      // A reader would take the cell for a quoted field and run it into the
      // next cells: it is written as one. The cell keeps its text, so that a
      // second rendering gives the same line.
      std::string shown;
      append_csv_quoted(shown, text);
      append_left_aligned(line, shown, width);
      return;
    }
  }
  append_left_aligned(line, text, width);
}

// `scratch` is a text buffer the row's cells share, so that a cell's text
// needs no allocation of its own.
void append_cell(std::string& line, std::string& scratch, output_row& row, std::size_t i,
                 const cmd_params& options, const cell_guard& guard) {
  zarn_variant_lite& cell = row.cells[i];
  const std::size_t w = column_width(options, i);
  const bool pad = padding_on(options);
  if (is_number_tag(cell.type)) {
    bool decimal = false;
    std::string content = number_text(cell, w, options, decimal);
    guard.protect_fixed(content);
    if (decimal && pad) {
      append_right_aligned(line, content, w);
    } else {
      line += content;
    }
    return;
  }
  switch (cell.type) {
    case cell_tag::text:
      append_text_cell(line, cell, w, options, guard);
      break;
    case cell_tag::filetime:
      append_time_cell(line, cell, w, options, guard);
      break;
    case cell_tag::ticks: {
      if (options.blank_before_time != 0) line += ' ';
      std::string content =
          options.hex_numbers != 0 ? "0x" + hex_digits(cell.number, 16) : std::to_string(cell.number);
      guard.protect_fixed(content);
      append_left_aligned(line, content, pad ? w : 0);
      break;
    }
    case cell_tag::guid_bytes: {
      scratch.clear();
      if (cell.bytes.size() >= 16) {
        append_guid_text(scratch, guid(cell.bytes.data()));
      } else {
        scratch = blank_text(options);
      }
      guard.protect_fixed(scratch);
      append_left_aligned(line, scratch, pad ? w : 0);
      break;
    }
    default:
      break;  // no rendering: an empty cell, the separator still follows
  }
}

}  // namespace

output_row::output_row(i32 n, bool clear, u32 flags) {
  init(n, clear);
  row_flags = flags;
}

void output_row::init(i32 n, bool clear) {
  valid = 0;
  count = 0;
  row_flags = 0;
  if (n <= 0 || n > max_cells) {
    cells.clear();
    return;
  }
  try {
    // cells already held are cleared, not made anew: a row object reused for
    // every event keeps their capacity
    cells.resize(static_cast<std::size_t>(n));
    for (auto& cell : cells) cell.clear();
  } catch (const std::bad_alloc&) {
    cells.clear();
    return;
  }
  if (cells.size() != static_cast<std::size_t>(n)) {
    cells.clear();
    return;
  }
  count = n;
  valid = 1;
  if (clear) {
    for (auto& cell : cells) {
      cell.clear();
      cell.type = cell_tag::text;
    }
  }
}

zarn_variant_lite* output_row::cell_for_set(i32 i, u16 tag) {
  if (valid == 0 || i < 0 || i >= count || static_cast<std::size_t>(i) >= cells.size() ||
      tag >= cell_tag::limit) {
    return nullptr;
  }
  zarn_variant_lite& cell = cells[static_cast<std::size_t>(i)];
  cell.clear();
  return &cell;
}

u32 output_row::set_number(i32 i, u64 value, u16 tag, u32 flags) {
  zarn_variant_lite* cell = cell_for_set(i, tag);
  if (cell == nullptr) return 1;
  cell->number = value;
  cell->type = tag;
  cell->flags = flags | row_flags;
  return 1;
}

u32 output_row::set_string(i32 i, const std::string& text, u16 tag, u32 flags) {
  zarn_variant_lite* cell = cell_for_set(i, tag);
  if (cell == nullptr) return 1;
  cell->type = tag;
  cell->flags = flags | row_flags;
  if ((cell->flags & cell_flag::quote_text) != 0 && !is_brace_quote_text(text)) {
    cell->text.clear();
    append_csv_quoted(cell->text, text);
  } else {
    cell->text = text;
  }
  return 1;
}

u32 output_row::set_stream_text(i32 i, const std::ostringstream& s, u16 tag, u32 flags) {
  return set_string(i, s.str(), tag, flags);
}

u32 output_row::set_bytes(i32 i, const u8* bytes, u32 length, u16 tag, u32 flags) {
  if (bytes == nullptr || length == 0) return 1;
  zarn_variant_lite* cell = cell_for_set(i, tag);
  if (cell == nullptr) return 1;
  // bounds: the caller hands `length` bytes at `bytes` (a GUID's 16 bytes)
  cell->bytes.assign(bytes, bytes + length);
  cell->type = tag;
  cell->flags = flags | row_flags;
  return 1;
}

void write_output_header(std::ostream& out, cmd_params& options) {
  options.header_pending = 0;
  const cell_guard guard(options);
  std::string line;
  const std::size_t n = options.header_cells.size();
  for (std::size_t k = 0; k < n; ++k) {
    const zarn_variant_lite& cell = options.header_cells[k];
    if (cell.type == cell_tag::filetime && options.blank_before_time != 0) line += ' ';
    std::string label = cell.text;
    guard.protect_label(label);
    append_left_aligned(line, label, padding_on(options) ? column_width(options, k) : 0);
    if (k + 1 < n) line += options.separator_text;
  }
  line += '\n';
  out.write(line.data(), static_cast<std::streamsize>(line.size()));
}

void write_output_row(std::ostream& out, output_row& row, cmd_params& options) {
  render_output_row(out, row, options);
}

void render_output_row(std::ostream& out, output_row& row, cmd_params& options) {
  out << std::dec << std::left;
  out.fill(' ');
  if (row.valid == 0 || row.count <= 0) return;
  const cell_guard guard(options);
  const std::size_t n = std::min(static_cast<std::size_t>(row.count), row.cells.size());
  std::string line;
  line.reserve(512);
  std::string scratch;
  scratch.reserve(64);
  for (std::size_t i = 0; i < n; ++i) {
    if (options.multiline != 0 && i < options.header_cells.size()) {
      append_left_aligned(line, options.header_cells[i].text, column_width(options, i));
    }
    append_cell(line, scratch, row, i, options, guard);
    if (options.multiline != 0) {
      line += '\n';
    } else if (i + 1 < n) {
      line += options.separator_text;
    }
  }
  if (options.row_newline != 0) line += '\n';
  out.write(line.data(), static_cast<std::streamsize>(line.size()));
}

void render_time_cell(std::ostream& line, u32 i, output_row& row, cmd_params& options) {
  if (row.valid == 0 || i >= row.cells.size() || static_cast<i64>(i) >= row.count) return;
  std::string text;
  append_time_cell(text, row.cells[i], column_width(options, i), options, cell_guard(options));
  line << text;
}
