#include "output/event_table.hpp"

#include <string>

#include "common/guid.hpp"
#include "common/zarn_number.hpp"
#include "common/zarn_time.hpp"
#include "decode/event_record.hpp"
#include "decode/field_dump.hpp"
#include "output/fixed_texts.hpp"
#include "output/l2t_writer.hpp"
#include "platform/cmd_params.hpp"

static_assert(event_table_columns[event_column::extra_data].label == "extra data");
static_assert(event_table_columns.size() == static_cast<std::size_t>(event_column::count));

u64 created_column_width(const cmd_params& options) {
  return static_cast<u64>(options.date_format.size()) + static_cast<u64>(options.time_format.size()) + 1;
}

void write_csv_header(std::ostream& out, cmd_params& options) {
  if (options.header_pending == 0 || options.csvl2t != 0) return;
  options.header_cells.clear();
  options.header_cells.reserve(event_table_columns.size());
  for (std::size_t i = 0; i < event_table_columns.size(); ++i) {
    const event_table_column& column = event_table_columns[i];
    const std::string label(column.label);
    if (i == static_cast<std::size_t>(event_column::created)) {
      const u64 width = created_column_width(options);
      options.header_cells.emplace_back(label, static_cast<u32>(width), static_cast<u32>(width >> 32),
                                        cell_tag::filetime, 0);
    } else {
      options.header_cells.emplace_back(label, column.width, 0);
    }
  }
  if (options.no_whitespace != 0) {
    for (auto& cell : options.header_cells) cell.reference = 0;
  }
  write_output_header(out, options);
}

namespace {

// What a record that is no sound event covers, so that its row says where
// the bytes lie that were not read as an event.
void write_corruption_note(const event_record& e, std::string& out) {
  out += e.compressed != 0 ? "data{compressed buffer: " : "data{corrupted record: ";
  out += std::to_string(e.payload_size);
  out += " bytes at file offset 0x";
  out += hex_digits(e.file_offset, 1);
  out += e.compressed != 0 ? " not read}" : "}";
}

// A number of the short and desc texts of a timeline line: "0x" and at least
// four hexadecimal digits under the base-16 switch, else decimal.
void append_id(std::string& out, u64 value, const cmd_params& options) {
  if (options.hex_numbers != 0) {
    out += "0x";
    append_hex(out, value, 4);
  } else {
    append_decimal(out, value);
  }
}

u32 set_column(output_row& row, i32 column, u64 value) {
  const event_table_column& c = event_table_columns[static_cast<std::size_t>(column)];
  return row.set_number(column, value, c.tag, c.flags);
}

}  // namespace

void write_event_data_text(event_record& event, std::string& out) {
  if (event.fields.empty()) return;
  out += "data{";
  dump_field_map(out, event.fields);
  out += '}';
}

void event_writer::write_l2t_event(event_record& event, std::ostream& out, cmd_params& options) {
  // One record serves every event: set back to its defaults, its texts keep
  // their capacity.
  timeline_.set_defaults();
  timeline_.init_from_options(&options);
  timeline_.set_times(0, 0, 0, event.filetime, zarn::type_time::filetime);
  timeline_.set_labels("", "", "", std::string(fixed_text::entry_label));
  timeline_.source = fixed_text::source;
  timeline_.sourcetype = options.session_name;
  timeline_.short_text = "{";
  append_guid_text(timeline_.short_text, event.provider);
  timeline_.short_text += "}; Event: ";
  append_id(timeline_.short_text, event.event_key(), options);
  timeline_.desc = timeline_.short_text;
  if (event.process_id != 0) {
    timeline_.desc += "; ProcID: ";
    append_id(timeline_.desc, event.process_id, options);
  }
  if (event.thread_id != 0) {
    timeline_.desc += "; ThreadID: ";
    append_id(timeline_.desc, event.thread_id, options);
  }
  timeline_.filename = options.current_file;
  timeline_.notes = "Orig filename: ";
  timeline_.notes += options.source_path;
  write_event_data_text(event, timeline_.extra);
  (void)timeline_.write_l2t(options.header_pending, out);
}

void event_writer::write_event_row(event_record& event, std::ostream& out, cmd_params& options) {
  write_csv_header(out, options);
  if (options.csvl2t != 0) {
    if (event.filetime != 0) write_l2t_event(event, out, options);
    return;
  }
  if (row_.valid == 0 || row_.count != static_cast<i32>(options.header_cells.size())) {
    row_.init(static_cast<i32>(options.header_cells.size()), false);
  }
  row_.row_flags = options.quoted_fields != 0 ? cell_flag::quote_text : 0;
  if (row_.valid == 0) return;

  namespace col = event_column;
  // a converted time that is no valid FILETIME would show as blanks: the
  // record's own tick count is shown instead
  if (zarn::is_valid_filetime(event.filetime)) {
    row_.set_number(col::created, event.filetime, cell_tag::filetime, 0);
  } else {
    row_.set_number(col::created, event.raw_time, cell_tag::ticks, 0);
  }
  row_.set_bytes(col::provider_guid, event.provider.bytes, 16, cell_tag::guid_bytes, 0);
  row_.set_string(col::provider_name, event.provider_name, cell_tag::text, 0);
  row_.set_string(col::session_name, options.session_name, cell_tag::text, 0);
  row_.set_bytes(col::activity_id, event.activity.bytes, 16, cell_tag::guid_bytes, 0);
  set_column(row_, col::event_id, event.event_key());
  set_column(row_, col::process_id, event.process_id);
  set_column(row_, col::thread_id, event.thread_id);
  set_column(row_, col::channel, event.descriptor.channel);
  set_column(row_, col::level, event.descriptor.level);
  set_column(row_, col::opcode, event.descriptor.opcode);
  set_column(row_, col::task_id, event.descriptor.task);
  set_column(row_, col::keywords, event.descriptor.keywords);
  set_column(row_, col::processor_time, event.processor_time);
  set_column(row_, col::processor, event.processor_number);

  // the row takes the text's storage and leaves it its cell's old one
  extra_.clear();
  if (event.record_ok != 1) write_corruption_note(event, extra_);
  write_event_data_text(event, extra_);
  row_.set_string(col::extra_data, std::move(extra_), cell_tag::text, 0);
  renderer_.render_output_row(out, row_, options);
}
