#include "output/event_table.hpp"

#include <string>

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
