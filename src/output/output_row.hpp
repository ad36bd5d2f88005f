#pragma once
// One row of the event table: typed cells rendered against the header cells
// that the options hold (label, column width, type tag per column), padded or
// delimited, quoted or vertical, by the output switches of the options.
// Every header line and every row is assembled in memory and written to the
// stream in one piece.
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "common/zarn_time_text.hpp"
#include "common/zarn_types.hpp"
#include "common/zarn_variant.hpp"

class cmd_params;
struct cell_guard;

// Type tags of the cells this system produces and renders.
namespace cell_tag {
inline constexpr u16 number8 = 1;
inline constexpr u16 number16 = 2;
inline constexpr u16 number32 = 4;
inline constexpr u16 number64 = 8;
inline constexpr u16 text = 11;
inline constexpr u16 filetime = 13;    // 100 ns ticks since 1601-01-01 UTC, shown as date and time
inline constexpr u16 ticks = 14;       // a raw 64-bit tick count
inline constexpr u16 guid_bytes = 27;  // 16 bytes in Windows GUID layout
// Set operations ignore a tag at or above this.
inline constexpr u16 limit = 32;
}  // namespace cell_tag

// Cell flags this system uses.
namespace cell_flag {
inline constexpr u32 quote_text = 0x8000;    // text cells are stored between double quotes
inline constexpr u32 hex_column = 0x400000;  // "0x" + hex zero-filled to the column, any base
inline constexpr u32 decimal = 0x40000000;   // always decimal (unless hex_column)
}  // namespace cell_flag

class output_row {
 public:
  static constexpr i32 max_cells = 255;

  output_row(i32 count, bool clear, u32 row_flags);

  // Makes the row invalid and empty, then valid with `count` default cells
  // when 0 < count <= 255. With clear, every cell becomes an empty text cell.
  void init(i32 count, bool clear);

  // Each set operation clears cell i first, stores the value, the tag and
  // flags | row flags, and returns the number of columns used (1). It also
  // returns 1 and changes nothing for an invalid row, an index outside
  // 0..count-1 or a tag of 32 or more.
  u32 set_number(i32 i, u64 value, u16 tag, u32 flags);
  // With quote_text among the flags the text is stored between double quotes,
  // every double quote inside it doubled; a text longer than two characters
  // that begins with '{' and '"' is stored as it is.
  u32 set_string(i32 i, const std::string& text, u16 tag, u32 flags);
  // The same, taking the text's storage (the caller's string is left with
  // the cell's old storage, emptied): a long text is not copied.
  u32 set_string(i32 i, std::string&& text, u16 tag, u32 flags);
  u32 set_stream_text(i32 i, const std::ostringstream& s, u16 tag, u32 flags);
  // Copies `length` bytes from `bytes` (the caller vouches for them) into the
  // cell's byte run. A null pointer or a length of 0 changes nothing.
  u32 set_bytes(i32 i, const u8* bytes, u32 length, u16 tag, u32 flags);

  u32 valid = 0;
  i32 count = 0;
  std::vector<zarn_variant_lite> cells;
  u32 row_flags = 0;

 private:
  // The cell to fill (cleared), or null when the index or tag is refused.
  zarn_variant_lite* cell_for_set(i32 i, u16 tag);
};

// Renders header lines and rows against the options. It keeps what every row
// reuses: the line, the date text of the last day shown, and the cell guard,
// which is made from the options that it reads and made again whenever one of
// them changes.
class row_renderer {
 public:
  row_renderer();
  ~row_renderer();
  row_renderer(const row_renderer&) = delete;
  row_renderer& operator=(const row_renderer&) = delete;

  // The header line from the options' header cells; clears the header-pending flag.
  void write_output_header(std::ostream& out, cmd_params& options);
  // Writes a valid row as one line (or, under -multiline, one line per cell).
  // Text cells are edited in place: line breaks and NUL bytes are marked and
  // the separator character is replaced, so that no cell can split the row.
  void render_output_row(std::ostream& out, output_row& row, cmd_params& options);
  // Renders FILETIME cell i into the line under construction; an invalid time
  // gives blank date and time texts. An index outside the row writes nothing.
  void render_time_cell(std::ostream& line, u32 i, output_row& row, cmd_params& options);

 private:
  const cell_guard& guard_for(const cmd_params& options);

  std::unique_ptr<cell_guard> guard_;
  std::string line_;
  filetime_text_writer dates_;
};

// The same through a renderer of their own, for the few lines that are not
// event rows.
void write_output_header(std::ostream& out, cmd_params& options);
void write_output_row(std::ostream& out, output_row& row, cmd_params& options);
void render_output_row(std::ostream& out, output_row& row, cmd_params& options);
void render_time_cell(std::ostream& line, u32 i, output_row& row, cmd_params& options);
