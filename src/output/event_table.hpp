#pragma once
// The event table: sixteen columns, one header line per input file, one row
// per event. The header cells held in the options give every column its
// label and width; rows are rendered against them (output/output_row.hpp).
#include <array>
#include <ostream>
#include <string>
#include <string_view>

#include "common/zarn_types.hpp"
#include "output/l2t_writer.hpp"
#include "output/output_row.hpp"

class cmd_params;
struct event_record;

// One column of the table: its header label and width, and the type tag and
// cell flags of the cell an event puts in it.
struct event_table_column {
  std::string_view label;
  u32 width;  // 0 for the first column, whose width follows the date and time formats
  u16 tag;
  u32 flags;
};

// Column positions, in table order.
namespace event_column {
inline constexpr i32 created = 0;
inline constexpr i32 provider_guid = 1;
inline constexpr i32 provider_name = 2;
inline constexpr i32 session_name = 3;
inline constexpr i32 activity_id = 4;
inline constexpr i32 event_id = 5;
inline constexpr i32 process_id = 6;
inline constexpr i32 thread_id = 7;
inline constexpr i32 channel = 8;
inline constexpr i32 level = 9;
inline constexpr i32 opcode = 10;
inline constexpr i32 task_id = 11;
inline constexpr i32 keywords = 12;
inline constexpr i32 processor_time = 13;
inline constexpr i32 processor = 14;
inline constexpr i32 extra_data = 15;
inline constexpr i32 count = 16;
}  // namespace event_column

// The created column holds a FILETIME (tag 13) or, when the event has no
// converted time, its raw tick count (tag 14); the table names the first.
inline constexpr std::array<event_table_column, event_column::count> event_table_columns{{
    {"created [utc or #ticks]", 0, cell_tag::filetime, 0},
    {"provider guid", 36, cell_tag::guid_bytes, 0},
    {"provider name", 36, cell_tag::text, 0},
    {"session name", 36, cell_tag::text, 0},
    {"activity id", 36, cell_tag::guid_bytes, 0},
    {"event id", 8, cell_tag::number16, 0},
    {"process id", 10, cell_tag::number32, 0},
    {"thread id", 9, cell_tag::number32, 0},
    {"channel", 7, cell_tag::number8, cell_flag::decimal},
    {"level", 5, cell_tag::number8, cell_flag::decimal},
    {"opcode", 6, cell_tag::number8, cell_flag::decimal},
    {"task id", 7, cell_tag::number16, cell_flag::decimal},
    {"keywords", 18, cell_tag::number64, cell_flag::hex_column},
    {"processor time", 18, cell_tag::number64, cell_flag::hex_column},
    {"processor", 9, cell_tag::number8, cell_flag::decimal},
    {"extra data", 16, cell_tag::text, 0},
}};

// Width of the created column: a rendered date, a blank and a rendered time
// are as long as the two format texts and the blank.
u64 created_column_width(const cmd_params& options);

// When the header-pending flag is set and the output is not log2timeline:
// rebuilds the options' header cells (the first one tagged as a time column,
// every width 0 under no padding) and writes the header line, which clears
// the flag. Otherwise does nothing.
void write_csv_header(std::ostream& out, cmd_params& options);

// Writes the events of a run. It holds for the whole run what every event
// reuses: the table's row and its cells (made again only when the header's
// column count changes: every cell is set, and setting clears it), the
// renderer with its line, date text and cell guard, the extra-data text, and
// the timeline record with its line buffers.
class event_writer {
 public:
  // Writes one event: under log2timeline its timeline line when it has a
  // converted time (and nothing otherwise); else, after the header line when
  // it is pending, one table row. The created column shows the converted
  // time when it is a valid FILETIME, else the record's raw timestamp as
  // ticks; the extra-data column holds what a corrupted record covers and
  // the decoded fields. The fields' value texts are escaped in place.
  void write_event_row(event_record& event, std::ostream& out, cmd_params& options);

 private:
  // The timeline line of one event (its converted time in the created slot).
  void write_l2t_event(event_record& event, std::ostream& out, cmd_params& options);

  output_row row_{0, false, 0};
  row_renderer renderer_;
  std::string extra_;
  timeline_record timeline_;
};

// Appends "data{" + the decoded fields + "}"; nothing when the event has none.
void write_event_data_text(event_record& event, std::string& out);
