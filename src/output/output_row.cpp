#include "output/output_row.hpp"

#include <algorithm>
#include <charconv>
#include <memory>
#include <new>
#include <string_view>
#include <utility>

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

// A text set with quote_text that was kept unquoted: longer than two
// characters, beginning with '{' and '"'.
bool is_brace_quote_text(const std::string& text) {
  return text.size() > 2 && text[0] == '{' && text[1] == '"';
}

}  // namespace

// The options a cell guard reads, and nothing else: a guard is made from
// these alone, so that a renderer keeps its guard exactly while they stay the
// same. An option the guard comes to read must be taken here, and is then
// compared too.
struct guard_options {
  bool quoting = false;
  char separator = 0;
  char replacement = 0;
  std::string separator_text;

  explicit guard_options(const cmd_params& options)
      : quoting(options.quoted_fields != 0),
        separator(options.separator),
        replacement(options.separator_replacement),
        separator_text(options.separator_text) {}
  bool operator==(const guard_options&) const = default;
};

// What keeps a cell from splitting its row in the current layout. Delimited
// layouts replace the separator character in texts and labels and write a
// text that opens with a double quote as a quoted field; the quoted layout
// quotes any cell that is not already quoted and holds a character of the
// separator text or opens with a double quote.
struct cell_guard {
  guard_options made_from;
  bool quoting = false;
  char separator = 0;
  char replacement = 0;
  std::string separator_chars;
  // The characters that make a text cell need an edit: line breaks, NUL,
  // the separator character and, under quoting, those of the separator text.
  char_set edits{""};

  explicit cell_guard(guard_options from) : made_from(std::move(from)) {
    quoting = made_from.quoting;
    separator = made_from.separator;
    replacement = made_from.replacement;
    // A replacement of 0 would put NUL bytes into the text, and one equal to
    // the separator would replace nothing.
    if (replacement == 0 || replacement == separator) replacement = separator == ' ' ? '_' : ' ';
    for (const char c : made_from.separator_text) {
      if (c != ' ') separator_chars.push_back(c);
    }
    if (separator_chars.empty() && !made_from.separator_text.empty()) separator_chars = " ";
    std::string chars{'\r', '\n', '\0'};
    if (separator != 0) chars += separator;
    if (quoting) chars += separator_chars;
    edits = char_set(chars);
  }

  // The text holds no line break, NUL byte, separator character or leading
  // double quote: no edit of a text cell would change it.
  bool is_plain(std::string_view s) const {
    return !opens_quoted_field(s) && !edits.found_in(s);
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
  // Appends the text that starts at `from` in `line` again, quoted, when it
  // must be.
  void protect_fixed(std::string& line, std::size_t from) const {
    if (quoting) quote_fixed(line, from);
  }
  void quote_fixed(std::string& line, std::size_t from) const {
    const std::string_view s(line.data() + from, line.size() - from);
    const bool holds_separator = std::any_of(separator_chars.begin(), separator_chars.end(),
                                             [s](char c) { return s.find(c) != std::string_view::npos; });
    if (!holds_separator && !opens_quoted_field(s)) return;
    std::string quoted;
    append_csv_quoted(quoted, s);
    line.replace(from, std::string::npos, quoted);
  }
};

namespace {

// Pads what was appended to `line` from `from` on to `width`: blanks after
// it, or before it when right-aligned. A longer text is written whole.
void pad_from(std::string& line, std::size_t from, std::size_t width, bool right) {
  const std::size_t n = line.size() - from;
  if (n >= width) return;
  if (right) {
    line.insert(from, width - n, ' ');
  } else {
    line.append(width - n, ' ');
  }
}

// The number in its column: "0x" and hexadecimal, or decimal (which is
// right-aligned when padded).
void append_number_cell(std::string& line, const zarn_variant_lite& cell, std::size_t w,
                        const cmd_params& options, const cell_guard& guard) {
  const bool pad = padding_on(options);
  const std::size_t from = line.size();
  if ((cell.flags & cell_flag::hex_column) != 0) {
    line += "0x";
    append_hex(line, cell.number, pad && w >= 2 ? w - 2 : 0);
    guard.protect_fixed(line, from);
  } else if (options.hex_numbers != 0 && (cell.flags & cell_flag::decimal) == 0) {
    std::size_t digits = 8;
    if (cell.type == cell_tag::number8) digits = 2;
    if (cell.type == cell_tag::number16) digits = 4;
    line += "0x";
    append_hex(line, cell.number, pad && w >= 2 ? w - 2 : digits);
    guard.protect_fixed(line, from);
  } else {
    // decimal, right-aligned in its column: the blanks go first
    char digits[20];
    const auto end = std::to_chars(digits, digits + sizeof digits, cell.number).ptr;
    const std::size_t n = static_cast<std::size_t>(end - digits);
    if (guard.quoting) {
      line.append(digits, n);
      guard.protect_fixed(line, from);
      if (pad) pad_from(line, from, w, true);
    } else {
      if (pad && n < w) line.append(w - n, ' ');
      line.append(digits, n);
    }
  }
}

bool is_number_tag(u16 tag) {
  return tag == cell_tag::number8 || tag == cell_tag::number16 || tag == cell_tag::number32 ||
         tag == cell_tag::number64;
}

void append_time_cell(std::string& line, const zarn_variant_lite& cell, std::size_t w,
                      const cmd_params& options, const cell_guard& guard,
                      filetime_text_writer& dates) {
  const bool pad = padding_on(options);
  if (pad && options.blank_before_time != 0) line += ' ';
  const std::size_t from = line.size();
  if (!dates.append(line, cell.number, options.date_time_fmt)) {
    // no valid time: blank date and time texts around their blank
    line += blank_text(options);
    line += ' ';
    line += blank_text(options);
  }
  guard.protect_fixed(line, from);
  if (pad) pad_from(line, from, w, false);
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

// Each cell is written straight into the line: no text of its own.
void append_cell(std::string& line, output_row& row, std::size_t i, const cmd_params& options,
                 const cell_guard& guard, filetime_text_writer& dates) {
  zarn_variant_lite& cell = row.cells[i];
  const std::size_t w = column_width(options, i);
  const bool pad = padding_on(options);
  if (is_number_tag(cell.type)) {
    append_number_cell(line, cell, w, options, guard);
    return;
  }
  switch (cell.type) {
    case cell_tag::text:
      append_text_cell(line, cell, w, options, guard);
      break;
    case cell_tag::filetime:
      append_time_cell(line, cell, w, options, guard, dates);
      break;
    case cell_tag::ticks: {
      if (options.blank_before_time != 0) line += ' ';
      const std::size_t from = line.size();
      if (options.hex_numbers != 0) {
        line += "0x";
        append_hex(line, cell.number, 16);
      } else {
        append_decimal(line, cell.number);
      }
      guard.protect_fixed(line, from);
      if (pad) pad_from(line, from, w, false);
      break;
    }
    case cell_tag::guid_bytes: {
      const std::size_t from = line.size();
      if (cell.bytes.size() >= 16) {
        append_guid_text(line, guid(cell.bytes.data()));
      } else {
        line += blank_text(options);
      }
      guard.protect_fixed(line, from);
      if (pad) pad_from(line, from, w, false);
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

u32 output_row::set_string(i32 i, std::string&& text, u16 tag, u32 flags) {
  if ((flags | row_flags) & cell_flag::quote_text) return set_string(i, std::as_const(text), tag, flags);
  zarn_variant_lite* cell = cell_for_set(i, tag);
  if (cell == nullptr) return 1;
  cell->type = tag;
  cell->flags = flags | row_flags;
  cell->text.swap(text);
  text.clear();
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

row_renderer::row_renderer() = default;
row_renderer::~row_renderer() = default;

const cell_guard& row_renderer::guard_for(const cmd_params& options) {
  guard_options now(options);
  if (guard_ == nullptr || guard_->made_from != now) {
    guard_ = std::make_unique<cell_guard>(std::move(now));
  }
  return *guard_;
}

void row_renderer::write_output_header(std::ostream& out, cmd_params& options) {
  options.header_pending = 0;
  const cell_guard& guard = guard_for(options);
  line_.clear();
  const std::size_t n = options.header_cells.size();
  for (std::size_t k = 0; k < n; ++k) {
    const zarn_variant_lite& cell = options.header_cells[k];
    if (cell.type == cell_tag::filetime && options.blank_before_time != 0) line_ += ' ';
    std::string label = cell.text;
    guard.protect_label(label);
    append_left_aligned(line_, label, padding_on(options) ? column_width(options, k) : 0);
    if (k + 1 < n) line_ += options.separator_text;
  }
  line_ += '\n';
  out.write(line_.data(), static_cast<std::streamsize>(line_.size()));
}

void row_renderer::render_output_row(std::ostream& out, output_row& row, cmd_params& options) {
  out << std::dec << std::left;
  out.fill(' ');
  if (row.valid == 0 || row.count <= 0) return;
  const cell_guard& guard = guard_for(options);
  const std::size_t n = std::min(static_cast<std::size_t>(row.count), row.cells.size());
  line_.clear();
  for (std::size_t i = 0; i < n; ++i) {
    if (options.multiline != 0 && i < options.header_cells.size()) {
      append_left_aligned(line_, options.header_cells[i].text, column_width(options, i));
    }
    append_cell(line_, row, i, options, guard, dates_);
    if (options.multiline != 0) {
      line_ += '\n';
    } else if (i + 1 < n) {
      line_ += options.separator_text;
    }
  }
  if (options.row_newline != 0) line_ += '\n';
  out.write(line_.data(), static_cast<std::streamsize>(line_.size()));
}

void row_renderer::render_time_cell(std::ostream& line, u32 i, output_row& row, cmd_params& options) {
  if (row.valid == 0 || i >= row.cells.size() || static_cast<i64>(i) >= row.count) return;
  line_.clear();
  append_time_cell(line_, row.cells[i], column_width(options, i), options, guard_for(options), dates_);
  line << line_;
}

void write_output_header(std::ostream& out, cmd_params& options) {
  row_renderer().write_output_header(out, options);
}

void write_output_row(std::ostream& out, output_row& row, cmd_params& options) {
  render_output_row(out, row, options);
}

void render_output_row(std::ostream& out, output_row& row, cmd_params& options) {
  row_renderer().render_output_row(out, row, options);
}

void render_time_cell(std::ostream& line, u32 i, output_row& row, cmd_params& options) {
  row_renderer().render_time_cell(line, i, row, options);
}
