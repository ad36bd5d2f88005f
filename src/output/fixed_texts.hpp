#pragma once
// The texts the writers put into the output themselves, the same for every
// log and event: header labels and names and the fixed fields. No edit may
// change them, so a separator that one of them holds is refused.
#include <array>
#include <string>
#include <string_view>

class cmd_params;

namespace fixed_text {
// The provider-guid cell of a log's header row.
inline constexpr std::string_view header_row = "<header info only>";
// The session name and recorded log-file name of a log that names none.
inline constexpr std::string_view not_available = "<not available>";
// Fixed fields of a timeline line.
inline constexpr std::string_view timezone = "UTC";
inline constexpr std::string_view source = "ETL";
inline constexpr std::string_view entry_label = "ETL Entry";  // the type field
inline constexpr std::string_view format_suffix = " (norvane)";  // after the program's name
inline constexpr std::string_view event_macb = "...B";  // an event has its created time only
}  // namespace fixed_text

// The timeline's first field names: date and time, or both in one field.
inline constexpr std::string_view l2t_date_name = "date";
inline constexpr std::string_view l2t_time_name = "time";
inline constexpr std::string_view l2t_date_time_name = "date/time";
// The timeline's field names after date and time.
inline constexpr std::array<std::string_view, 15> l2t_field_names = {
    "timezone", "MACB",     "source", "sourcetype", "type",   "user",   "host", "short",
    "desc",     "version",  "filename", "inode",    "notes",  "format", "extra"};

// False, with the message, when, without quoting, a character of the
// separator is held by a fixed text of the active output (the table's or the
// timeline's), which the writers would then rewrite.
bool separator_spares_fixed_texts(const cmd_params& options, std::string& message);
