#include "output/l2t_writer.hpp"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <map>
#include <sstream>
#include <string_view>

#include "common/zarn_string.hpp"
#include "common/zarn_time.hpp"
#include "common/zarn_time_text.hpp"
#include "output/csv_field.hpp"
#include "output/fixed_texts.hpp"
#include "platform/cmd_params.hpp"

const date_time_format& default_timeline_format() {
  // compiled once: every new record and every reset takes it
  static const date_time_format format = [] {
    date_time_format f;
    compile_date_time_format(f, "yyyy-mm-dd", "hh:mm:ss.xxx", false);
    return f;
  }();
  return format;
}

void timeline_record::set_defaults() {
  clear();
  timezone = fixed_text::timezone;
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
  compiled = default_timeline_format();
  separator_text = ",";
  separator = ',';
  replacement = ' ';
  padded = 0;
  unpadded = 0;
  combined = 0;
  quoted = 0;
  options = nullptr;
  assert(*this == timeline_record{});
}

void timeline_record::init_from_options(cmd_params* opts) {
  if (opts == nullptr) return;
  options = opts;
  user = opts->user_name;
  host = opts->host_name;
  format = opts->program_name;
  format += fixed_text::format_suffix;
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
  // a name that holds a character of the separator is quoted, so that the
  // header splits into as many fields as the lines below it
  auto append_name = [&separator](std::string& line, std::string_view name) {
    const bool clash = std::any_of(separator.begin(), separator.end(), [name](char c) {
      return c != ' ' && name.find(c) != std::string_view::npos;
    });
    if (clash) {
      append_csv_quoted(line, name);
    } else {
      line += name;
    }
  };
  std::string line;
  if (combined) {
    append_name(line, l2t_date_time_name);
  } else {
    append_name(line, l2t_date_name);
    line += separator;
    append_name(line, l2t_time_name);
  }
  for (const std::string_view name : l2t_field_names) {
    line += separator;
    append_name(line, name);
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

  // Every text field comes from outside or holds decoded text: a separator,
  // a line break or a NUL byte inside one, or a double quote at its start,
  // must not change how a CSV reader splits the line. The date, the time and
  // the version are never rewritten: the command line refuses a separator
  // that they can hold. Most fields hold nothing to edit: one scan tells.
  const bool replacing = separator != 0 && replacement != 0;
  static const char_set breaks(std::string_view("\r\n\0", 3));
  const char with_separator[] = {'\r', '\n', '\0', separator};
  const char_set edits(std::string_view(with_separator, replacing ? 4 : 3));
  const auto plain = [&](std::string_view text, bool fixed) {
    if (quoted != 0 || opens_quoted_field(text)) return false;
    return !(fixed ? breaks : edits).found_in(text);
  };
  std::string& edited = buffers.edited;
  auto append_field = [&](std::string& line, std::string_view text, bool fixed) {
    if (plain(text, fixed)) {
      line += text;
      return;
    }
    edited.assign(text);
    if (!fixed && replacing) replace_char(edited, separator, replacement, false);
    mark_breaks_and_nuls(edited);
    if (quoted != 0 || opens_quoted_field(edited)) {
      append_csv_quoted(line, edited);
    } else {
      line += edited;
    }
  };
  const bool line_end = options == nullptr || options->row_newline != 0;
  char version_digits[12];
  const std::string_view version_text(
      version_digits,
      static_cast<std::size_t>(std::to_chars(version_digits, version_digits + sizeof version_digits, version).ptr -
                               version_digits));
  std::string& line = buffers.line;
  std::string& date = buffers.date;
  std::string& time_text = buffers.time_text;
  for (const auto& [key, e] : entries) {
    if (!e.time.is_valid()) continue;
    (void)buffers.dates.texts(date, time_text, e.time.filetime(), compiled);
    const bool blank = padded != 0 && unpadded == 0;
    line.clear();
    if (combined != 0) {
      date.insert(0, blank ? " " : "");
      date += ' ';
      date += time_text;
      append_field(line, date, true);
    } else {
      append_field(line, date, true);
      line += separator_text;
      if (blank) time_text.insert(0, 1, ' ');
      append_field(line, time_text, true);
    }
    struct field {
      std::string_view text;
      bool fixed;  // the version: never rewritten
    };
    const field rest[] = {{timezone, false},
                          {e.macb, false},
                          {e.source.empty() ? source : e.source, false},
                          {sourcetype, false},
                          {!type_text.empty() ? type_text : e.label, false},
                          {e.user.empty() ? user : e.user, false},
                          {host, false},
                          {short_text, false},
                          {desc, false},
                          {version_text, true},
                          {e.filename.empty() ? filename : e.filename, false},
                          {inode, false},
                          {notes, false},
                          {format, false},
                          {extra, false}};
    for (const field& f : rest) {
      line += separator_text;
      append_field(line, f.text, f.fixed);
    }
    if (line_end) line += '\n';
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
  }
  return 1;
}
