#include "output/l2t_writer.hpp"

#include <map>
#include <sstream>

#include "common/guid.hpp"
#include "common/zarn_number.hpp"
#include "common/zarn_string.hpp"
#include "common/zarn_time.hpp"
#include "decode/event_record.hpp"
#include "output/event_table.hpp"
#include "platform/cmd_params.hpp"

namespace {

constexpr const char* header_names[] = {"timezone", "MACB", "source", "sourcetype", "type",
                                        "user",     "host", "short",  "desc",       "version",
                                        "filename", "inode", "notes", "format",     "extra"};

// A number of the short and desc texts: "0x" and at least four hexadecimal
// digits under the base-16 switch, else decimal.
std::string id_text(u64 value, const cmd_params& options) {
  return options.hex_numbers != 0 ? "0x" + hex_digits(value, 4) : std::to_string(value);
}

}  // namespace

void timeline_record::set_defaults() {
  clear();
  timezone = "UTC";
  source.clear();
  sourcetype.clear();
  type_text.clear();
  user.clear();
  host.clear();
  short_text.clear();
  desc.clear();
  version = 2;
  filename.clear();
  inode.clear();
  notes.clear();
  format = "-csvl2t";
  extra.clear();
  date_format_text = "yyyy-mm-dd";
  time_format_text = "hh:mm:ss.xxx";
  // compiled once: a record is made for every event
  static const date_time_format default_format = [] {
    date_time_format f;
    compile_date_time_format(f, "yyyy-mm-dd", "hh:mm:ss.xxx", false);
    return f;
  }();
  compiled = default_format;
  separator_text = ",";
  separator = ',';
  replacement = ' ';
  padded = 0;
  unpadded = 0;
  combined = 0;
  quoted = 0;
  options = nullptr;
}

void timeline_record::init_from_options(cmd_params* opts) {
  if (opts == nullptr) return;
  options = opts;
  user = opts->user_name;
  host = opts->host_name;
  format = opts->program_name + " (norvane)";
  date_format_text = opts->date_format;
  time_format_text = opts->time_format;
  compiled = opts->date_time_fmt;
  separator_text = opts->separator_text;
  separator = opts->separator;
  replacement = opts->separator_replacement;
  padded = opts->no_whitespace == 0 ? 1 : 0;
  unpadded = opts->no_whitespace;
  combined = opts->pair_datetime;
  quoted = opts->quoted_fields;
}

void write_l2t_header(std::ostream& out, const std::string& separator, bool combined) {
  std::string line = combined ? "date/time" : "date" + separator + "time";
  for (const char* name : header_names) {
    line += separator;
    line += name;
  }
  out << line;
}

i32 timeline_record::write_l2t(u8& header_pending, std::ostream& out) {
  if (header_pending != 0) {
    header_pending = 0;
    std::ostringstream header;
    write_l2t_header(header, separator_text, combined != 0);
    header << '\n';
    out << header.str();
  }
  std::multimap<u64, macb_entry> entries;
  build_macb_times(entries, *this, static_cast<zarn::type_time>(type));

  // Every field comes from outside or holds decoded text: a separator or a
  // line break inside one must not change how a CSV reader splits the line.
  std::string scratch;
  auto append_field = [this, &scratch](std::string& line, const std::string& text) {
    scratch = text;
    if (separator != 0 && replacement != 0) replace_char(scratch, separator, replacement, false);
    mark_line_endings(scratch);
    if (quoted == 0) {
      line += scratch;
      return;
    }
    line += '"';
    for (const char c : scratch) {
      if (c == '"') line += '"';
      line += c;
    }
    line += '"';
  };
  const bool line_end = options == nullptr || options->row_newline != 0;
  const std::string version_text = std::to_string(version);
  for (const auto& [key, e] : entries) {
    if (!e.time.is_valid()) continue;
    std::string date;
    std::string time_text;
    zarn::time::format(date, time_text, e.time, compiled);
    const std::string blank = padded != 0 && unpadded == 0 ? " " : "";
    std::string line;
    if (combined != 0) {
      append_field(line, blank + date + " " + time_text);
    } else {
      append_field(line, date);
      line += separator_text;
      append_field(line, blank + time_text);
    }
    const std::string* const rest[] = {&timezone, &e.macb, e.source.empty() ? &source : &e.source, &sourcetype,
          !type_text.empty() ? &type_text : &e.label, e.user.empty() ? &user : &e.user, &host,
          &short_text, &desc, &version_text, e.filename.empty() ? &filename : &e.filename, &inode,
          &notes, &format, &extra};
    for (const std::string* text : rest) {
      line += separator_text;
      append_field(line, *text);
    }
    if (line_end) line += '\n';
    out << line;
  }
  return 1;
}

void write_l2t_event(event_record& event, std::ostream& out, cmd_params& options) {
  timeline_record r;
  r.init_from_options(&options);
  r.set_times(0, 0, 0, event.filetime, zarn::type_time::filetime);
  r.set_labels("", "", "", "ETL Entry");
  r.source = "ETL";
  r.sourcetype = options.session_name;
  r.short_text = "{" + guid_to_string(event.provider) + "}; Event: " + id_text(event.event_key(), options);
  r.desc = r.short_text;
  if (event.process_id != 0) r.desc += "; ProcID: " + id_text(event.process_id, options);
  if (event.thread_id != 0) r.desc += "; ThreadID: " + id_text(event.thread_id, options);
  r.filename = options.current_file;
  r.notes = "Orig filename: " + options.source_path;
  write_event_data_text(event, r.extra);
  (void)r.write_l2t(options.header_pending, out);
}
