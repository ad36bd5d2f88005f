#include "etl/header_section.hpp"

#include <sstream>
#include <string_view>
#include <utility>

#include "common/byte_reader.hpp"
#include "common/zarn_number.hpp"
#include "common/zarn_string.hpp"
#include "common/zarn_time.hpp"
#include "etl/etl_headers.hpp"
#include "output/event_table.hpp"
#include "output/fixed_texts.hpp"
#include "output/output_row.hpp"
#include "platform/cmd_params.hpp"

namespace {

// The two times of the header copy: the FILETIME the header was written at
// and the session's start time (a FILETIME, or a tick count).
constexpr u64 copy_time = rlfs_header::time_offset;             // u64 at 16
constexpr u64 copy_start_time = rlfs_header::start_time_offset; // u64 at 24
static_assert(copy_start_time + 8 <= buffer_header_size);

std::string hex_text(u64 value, std::size_t digits) { return "0x" + hex_digits(value, digits); }

// A 32-bit field: "0x" and 8 digits under the hexadecimal switch, else decimal.
std::string u32_text(u32 value, const cmd_params& options) {
  return options.hex_numbers != 0 ? hex_text(value, 8) : std::to_string(value);
}

std::string u64_text(u64 value, const cmd_params& options) {
  return options.hex_numbers != 0 ? hex_text(value, 16) : std::to_string(value);
}

// A signed bias: its 32-bit pattern in hexadecimal, or signed decimal.
std::string i32_text(i32 value, const cmd_params& options) {
  return options.hex_numbers != 0 ? hex_text(static_cast<u32>(value), 8) : std::to_string(value);
}

// A time field of the header: date "T" time "Z" when it is a FILETIME. Any
// other value (a tick count, zero, damage) is shown as the number it is, so
// that no made-up date appears.
std::string time_field_text(u64 value, const cmd_params& options) {
  const zarn::time t(value, zarn::type_time::filetime);
  if (!t.is_valid()) return u64_text(value, options);
  std::string date;
  std::string time_text;
  zarn::time::format(date, time_text, t, options.date_time_fmt);
  return date + "T" + time_text + "Z";
}

// A bias and, when it is non-zero, the same in hours. The two biases differ
// in their unit text: the time-zone bias reads " (-5 hours)", the daylight
// bias " (-1hours)".
std::string bias_text(i32 minutes, const cmd_params& options, std::string_view unit) {
  std::string text = i32_text(minutes, options);
  if (minutes != 0) {
    text += " (";
    text += bias_hours_text(minutes);
    text += unit;
    text += ')';
  }
  return text;
}

std::string time_type_text(const logfile_header_info& info) {
  if (info.clock_qpc != 0) return "QPC time";
  if (info.clock_not_filetime != 0 || info.clock_cpu_cycles != 0) return "CPU Cycle Counter";
  return "Filetime";
}

u32 row_flags_for(const cmd_params& options) {
  return options.quoted_fields != 0 ? cell_flag::quote_text : 0;
}

// Every column of a header row starts as an empty text, so that the padded
// table keeps its columns and quoting treats the empty cells like those of
// event rows.
void set_empty_texts(output_row& row) {
  for (i32 i = 0; i < row.count; ++i) row.set_string(i, "", cell_tag::text, 0);
}

// The created column: a FILETIME as date and time, anything else as ticks.
void set_created(output_row& row, u64 filetime, u64 fallback_ticks) {
  if (zarn::is_valid_filetime(filetime)) {
    row.set_number(event_column::created, filetime, cell_tag::filetime, 0);
  } else {
    row.set_number(event_column::created, fallback_ticks, cell_tag::ticks, 0);
  }
}

// A row with one cell per header cell; the count is clamped so that a
// damaged cell list cannot wrap it into a valid-looking count.
output_row header_row(const cmd_params& options) {
  const std::size_t cells = options.header_cells.size();
  const i32 count = cells > static_cast<std::size_t>(output_row::max_cells) ? output_row::max_cells + 1
                                                                              : static_cast<i32>(cells);
  output_row row(count, true, row_flags_for(options));
  set_empty_texts(row);
  return row;
}

}  // namespace

std::string bias_hours_text(i32 minutes) {
  // in 64 bits, so that the most negative bias has a magnitude
  const i64 m = minutes;
  const u64 magnitude = static_cast<u64>(m < 0 ? -m : m);
  const u64 whole = magnitude / 60;
  const u64 rest = magnitude % 60;
  // hundredths of an hour, rounded to nearest; at most 98 for 59 minutes
  const u64 hundredths = (rest * 100 + 30) / 60;
  std::string text = m < 0 ? "-" : "";
  text += std::to_string(whole);
  if (hundredths != 0) {
    text += '.';
    text += static_cast<char>('0' + hundredths / 10);
    if (hundredths % 10 != 0) text += static_cast<char>('0' + hundredths % 10);
  }
  return text;
}

std::string escaped_log_file_name(const std::string& name) {
  std::string text = name;
  // slashes first: the escapes added next must keep their backslashes
  replace_char(text, '\\', '/', false);
  escape_char(text, '"', '\\');
  return text;
}

void print_logfile_header_fields(const logfile_header_info& info, std::ostream& out,
                                 const cmd_params& options) {
  const std::pair<std::string_view, std::string> items[] = {
      {"TimeType", time_type_text(info)},
      {"Version", u32_text(info.version(), options)},
      {"NumProcessors", u32_text(info.num_processors(), options)},
      {"EndTime", time_field_text(info.end_time(), options)},
      {"TimerRes", u32_text(info.timer_resolution(), options)},
      {"LogfileMode", u32_text(info.log_file_mode(), options)},
      {"CPUSpeed", u32_text(info.cpu_speed(), options)},
      {"TimezoneBias", bias_text(info.bias, options, " hours")},
      {"DaylightBias", bias_text(info.daylight_bias, options, "hours")},
      {"BootTime", time_field_text(info.boot_time, options)},
      {"PerfFreq", u64_text(info.perf_freq, options)},
      {"LogfileName", escaped_log_file_name(info.log_file_name)},
  };
  std::string text = "data{";
  std::size_t counter = 0;
  for (const auto& [label, value] : items) {
    if (counter != 0) text += ';';
    text += '"';
    text += static_cast<char>('0' + counter / 10);
    text += static_cast<char>('0' + counter % 10);
    text += '-';
    text += label;
    text += ':';
    text += value;
    text += '"';
    ++counter;
  }
  text += '}';
  out << text;
}

void print_header_info(const logfile_header_info& info, std::ostream& out, cmd_params& options) {
  write_csv_header(out, options);
  if (options.csvl2t != 0 && info.start_time != 0) return;

  output_row row = header_row(options);
  set_created(row, info.start_time, info.record_time());
  row.set_string(event_column::provider_guid, std::string(fixed_text::header_row), cell_tag::text, 0);
  row.set_string(event_column::session_name, options.session_name, cell_tag::text, 0);
  row.set_number(event_column::process_id, info.process_id(), cell_tag::number32, 0);
  row.set_number(event_column::thread_id, info.thread_id(), cell_tag::number32, 0);
  row.set_number(event_column::processor_time, info.processor_time(), cell_tag::number64,
                 cell_flag::hex_column);
  std::ostringstream extra;
  print_logfile_header_fields(info, extra, options);
  row.set_stream_text(event_column::extra_data, extra, cell_tag::text, 0);
  write_output_row(out, row, options);
}

bool print_header_info_only(std::span<const u8> first_header, std::ostream& out, cmd_params& options) {
  // the one check for the copy: every field below lies in its 72 bytes
  if (first_header.size() < buffer_header_size) return false;
  const u64 start_time = zarn::u64_at(first_header, copy_start_time);
  const u64 written_time = zarn::u64_at(first_header, copy_time);

  write_csv_header(out, options);
  if (options.csvl2t != 0 && start_time != 0) return true;

  output_row row = header_row(options);
  set_created(row, start_time, written_time);
  row.set_string(event_column::provider_guid, std::string(fixed_text::header_row), cell_tag::text, 0);
  row.set_string(event_column::session_name, options.session_name, cell_tag::text, 0);
  write_output_row(out, row, options);
  return true;
}
