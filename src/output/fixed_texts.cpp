#include "output/fixed_texts.hpp"

#include <vector>

#include "output/event_table.hpp"
#include "platform/cmd_params.hpp"

namespace {

struct fixed_text_use {
  std::string_view text;
  const char* where;
};

// The fixed texts of the table, or of the timeline.
std::vector<fixed_text_use> fixed_texts_of(const cmd_params& options) {
  std::vector<fixed_text_use> uses;
  if (options.csvl2t != 0) {
    for (const std::string_view name : {l2t_date_name, l2t_time_name, l2t_date_time_name}) {
      uses.push_back({name, "the timeline's header"});
    }
    for (const std::string_view name : l2t_field_names) {
      uses.push_back({name, "the timeline's header"});
    }
    uses.push_back({fixed_text::timezone, "the timezone field"});
    uses.push_back({fixed_text::event_macb, "the MACB field"});
    uses.push_back({fixed_text::source, "the source field"});
    uses.push_back({fixed_text::entry_label, "the type field"});
    uses.push_back({fixed_text::format_suffix, "the format field"});
  } else {
    for (const event_table_column& column : event_table_columns) {
      uses.push_back({column.label, "the table's header"});
    }
    uses.push_back({fixed_text::header_row, "the header row"});
  }
  uses.push_back({fixed_text::not_available, "a log that names no session"});
  return uses;
}

}  // namespace

bool separator_spares_fixed_texts(const cmd_params& options, std::string& message) {
  const std::string& text = options.separator_text;
  const auto refuse = [&](const std::string& why) {
    message = "separator \"" + text + "\" refused: " + why + "\n";
    return false;
  };
  // quoting writes a text that holds the separator whole between double quotes
  if (options.quoted_fields != 0) return true;
  for (const fixed_text_use& use : fixed_texts_of(options)) {
    for (const char c : text) {
      if (c == ' ' || use.text.find(c) == std::string_view::npos) continue;
      return refuse(std::string(use.where) + " \"" + std::string(use.text) + "\" holds '" +
                    std::string(1, c) + "', and a separator must not rewrite it");
    }
  }
  return true;
}
