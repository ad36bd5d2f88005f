#include "platform/option_parser.hpp"

#include <algorithm>
#include <cstdio>

#include "common/zarn_number.hpp"
#include "common/zarn_string.hpp"
#include "common/zarn_time.hpp"
#include "common/zarn_time_text.hpp"
#include "platform/cmd_params.hpp"
#include "platform/file_filter.hpp"
#include "platform/fileio.hpp"

namespace {

std::string expanded(const std::string& text) { return expand_env_vars(text, true); }

void report(const char* text) {
  std::fputs(text, stderr);
  std::fflush(stderr);
}

bool imbalanced() {
  std::fprintf(stderr, "%s, aborting\n", "imbalanced alias to true pathfiles");
  return false;
}

// The file is only named here; the driver opens it once the run will start,
// so that a rejected command line leaves it as it was.
void read_diagnostics(cmd_params& opts, const std::string& path, std::vector<std::string>& args) {
  opts.diags_path = path;
  if (has_flag("-l2", args, 0)) {
    opts.debug_level = 2;
  } else if (has_flag("-l3", args, 0)) {
    opts.debug_level = 3;
  }
}

bool read_aliases(cmd_params& opts, const std::string& value) {
  std::vector<std::string> pieces;
  split_string(value, '|', pieces, true, false, false);
  if (pieces.empty() || pieces.size() % 2 != 0) return imbalanced();
  for (size_t i = 0; i + 1 < pieces.size(); i += 2) {
    std::string alias = expanded(pieces[i]);
    to_lower(alias);
    opts.aliases.emplace(alias, expanded(pieces[i + 1]));
  }
  return true;
}

void drop_one_trailing_slash(std::string& s) {
  if (!s.empty() && s.back() == '/') s.pop_back();
}

bool read_alias_paths(cmd_params& opts, const std::string& value) {
  std::vector<std::string> pieces;
  split_string(value, '|', pieces, true, false, false);
  if (pieces.empty()) {
    opts.alias_paths.emplace("*", expanded(value));
    return true;
  }
  if (pieces.size() % 2 != 0) return imbalanced();
  for (size_t i = 0; i + 1 < pieces.size(); i += 2) {
    std::string alias = expanded(pieces[i]);
    to_lower(alias);
    drop_one_trailing_slash(alias);
    std::string path = expanded(pieces[i + 1]);
    remove_char(path, '"');
    drop_one_trailing_slash(path);
    opts.alias_paths.emplace(alias, path);
  }
  return true;
}

// The output path must be writable before any work is done. An existing file
// is only opened, never emptied or removed here: a command line rejected after
// this point must not cost the examiner the file (it may even be an input
// log). A file the probe had to create is removed again; the driver creates
// the real one.
bool probe_output(cmd_params& opts, const std::string& path) {
  opts.out_path = expanded(path);
  replace_char(opts.out_path, '\\', '/', false);
  opts.out_given = 1;
  struct stat st;
  const bool existed = uni::stat_path(opts.out_path.c_str(), &st) == 0;
  uni::fileio probe;
  if (!probe.open(opts.out_path, 1, 0, existed ? 0 : 1)) {
    std::fprintf(stderr, "prob opening file %s for output, aborting\n", opts.out_path.c_str());
    return false;
  }
  probe.close();
  if (!existed) std::remove(opts.out_path.c_str());
  return true;
}

void read_filter_list(std::vector<std::string>& args, const char* option, filter_list& list) {
  std::string value;
  while (get_option_value(option, value, args)) {
    filter_list records;
    parse_filter_patterns(records, value);
    list.insert(list.end(), records.begin(), records.end());
    std::string filter_path;
    if (!list.empty() && get_option_value("-filter_path", filter_path, args)) {
      to_lower(filter_path);
      const std::wstring wide = uni::utf8_to_wstring(filter_path);
      for (filter_pattern& record : list) {
        record.filter_path = wide;
        record.filter_path_len = static_cast<u32>(filter_path.size());
      }
    }
  }
}

void read_signature_filters(std::vector<std::string>& args, filter_list& list) {
  std::string value;
  while (get_option_value("-filter_sig", value, args)) {
    std::vector<std::string> items;
    if (value.find('|') != std::string::npos) split_string(value, '|', items, true, false, false);
    if (value.find(',') != std::string::npos) split_string(value, ',', items, true, false, false);
    if (items.empty()) items.push_back(value);
    byte_array signature;
    parse_byte_list(signature, items[0], ' ');
    if (signature.empty()) continue;
    u64 offset = 0;
    if (items.size() == 2 && !parse_u64(items[1], offset)) offset = 0;
    filter_pattern record;
    record.signature = signature;
    record.signature_offset = offset;
    list.push_back(record);
  }
}

// A date such as 2014-02-30 would otherwise roll over into March. The
// milliseconds are left out: rounding the seconds text can make them 1000.
bool date_fields_valid(zarn::_windows_systemtime st) {
  st.milliseconds = 0;
  return zarn::systemtime_fields_valid(st);
}

// Reads one bound of the date window; false only for a text without a date
// or without a '/' or '-' in it.
bool read_window_bound(cmd_params& opts, const std::string& text, bool is_start) {
  time_window& bound = is_start ? opts.start_window : opts.stop_window;
  bound.clear();
  std::string date_part = text;
  std::string time_part = is_start ? "" : "23:59:59";
  const size_t blank = text.find(' ');
  if (blank != std::string::npos) {
    date_part = text.substr(0, blank);
    time_part = text.substr(blank + 1);
  }
  if (date_part.empty()) return false;
  char sep = 0;
  if (date_part.find('/') != std::string::npos) {
    sep = '/';
  } else if (date_part.find('-') != std::string::npos) {
    sep = '-';
  } else {
    return false;
  }
  zarn::_windows_systemtime st;
  u64 ft = 0;
  if (parse_date_time_text(date_part.c_str(), time_part.c_str(), "YMD", sep, st) &&
      date_fields_valid(st) && zarn::systemtime_to_filetime(st, ft)) {
    const zarn::time t(ft, zarn::type_time::filetime);
    if (t.is_valid()) {
      bound.set = 1;
      bound.filetime = ft;
      // The window holds 32-bit Unix seconds: a bound before 1970 admits every
      // file time from 1970 on, one after 2106 every one before it.
      bound.unix_seconds = static_cast<u32>(std::clamp<i64>(t.unix_seconds(), 0, 0xffffffffll));
    } else {
      bound.clear();
    }
  }
  if (is_start) {
    if (!opts.start_window.set) {
      opts.stop_window.clear();
      report("invalid start time, ignoring\n");
    } else {
      opts.stop_window.set_open();
    }
  } else if (!opts.stop_window.set) {
    report("invalid stop time, ignoring\n");
  } else if (opts.start_window.set && opts.stop_window.filetime < opts.start_window.filetime) {
    opts.stop_window.clear();
    report("invalid stop time, ignoring\n");
  }
  return true;
}

void read_date_format(cmd_params& opts, const std::string& value) {
  if (value.size() == 8 || value.size() == 10) {
    opts.date_format = value;
    to_lower(opts.date_format);
  } else {
    std::fprintf(stderr, "%s\n", ("invalid " + value + ", using default format").c_str());
  }
}

void read_time_format(cmd_params& opts, const std::string& value) {
  const bool length_ok = value.size() == 8 || (value.size() >= 12 && value.size() <= 18);
  if (length_ok && value.find(':') != std::string::npos) {
    opts.time_format = value;
    to_lower(opts.time_format);
  } else {
    std::fprintf(stderr, "%s\n", ("invalid " + value + ", using default format").c_str());
  }
}

void set_output_kind(cmd_params& o, u8 xml, u8 csv, u8 csvl2t, u8 bodyfile, u8 multiline) {
  o.xml = xml;
  o.csv = csv;
  o.csvl2t = csvl2t;
  o.bodyfile = bodyfile;
  o.multiline = multiline;
}

// Characters that a time, date, GUID or number can hold in a cell, with what
// holds them. The writers never rewrite these forms, so a separator holding
// one of the characters would split them for every reader.
struct fixed_form_chars {
  std::string chars;
  const char* holders;
};

std::vector<fixed_form_chars> fixed_form_table(const date_time_format& f) {
  std::vector<fixed_form_chars> table = {
      {"0123456789", "numbers, dates and times"},
      {"abcdef", "hexadecimal numbers and GUIDs"},
      {"x", "hexadecimal numbers (\"0x\")"},
      {"-", "GUIDs"},
      {":", "times"},
  };
  // the default rendering writes milliseconds; a compiled time pattern
  // writes a fraction only when it asks for one
  if (f.is_default() || f.fraction_digits() != 0) table.push_back({".", "times"});
  if (f.date_separator != 0 && f.date_separator != ' ' && f.date_separator != '-') {
    table.push_back({std::string(1, static_cast<char>(f.date_separator)), "dates"});
  }
  if ((f.date_flags & date_time_format::month_name) != 0) {
    std::string letters;
    for (int month = 1; month <= 12; ++month) letters += month_abbrev(month);
    table.push_back({letters, "month names in dates"});
  }
  return table;
}

// False, with the message, when the separator text can occur inside a time,
// date, GUID or number. Blanks beside other characters are harmless (no such
// form holds the other character); a separator of blanks alone is not, for
// date and time are joined by one. Under quoting such a cell is quoted
// instead, so nothing clashes.
bool separator_fits(const cmd_params& opts, std::string& message) {
  const std::string& text = opts.separator_text;
  if (opts.quoted_fields != 0 || text.empty()) return true;
  auto refuse = [&text, &message](const std::string& holders, const std::string& what) {
    message = "separator \"" + text + "\" refused: " + holders + " hold " + what +
              ", and a separator must not split them\n";
    return false;
  };
  if (text.find_first_not_of(' ') == std::string::npos) return refuse("dates and times", "blanks");
  for (const fixed_form_chars& form : fixed_form_table(opts.date_time_fmt)) {
    const std::size_t at = text.find_first_of(form.chars);
    if (at != std::string::npos) return refuse(form.holders, std::string("'") + text[at] + "'");
  }
  return true;
}

// False, with the message, for a -csv_separator value that no layout could
// keep its lines apart with: a double quote opens a quoted field for a CSV
// reader, a line break ends the line, and blanks alone (which quoting trims
// away) would leave no separator or split every date and time.
bool separator_value_fits(const std::string& value, std::string& message) {
  std::string shown = value;
  mark_breaks_and_nuls(shown);
  const auto refuse = [&](const char* why) {
    message = "separator \"" + shown + "\" refused: " + why + "\n";
    return false;
  };
  if (value.find('"') != std::string::npos) {
    return refuse("a double quote opens a quoted field for a CSV reader");
  }
  if (value.find_first_of("\r\n") != std::string::npos) return refuse("a line break ends the line");
  if (!value.empty() && value.find_first_not_of(' ') == std::string::npos) {
    return refuse("dates and times hold blanks, and a separator must not split them");
  }
  return true;
}

// The product version of the operating-system version file, where there is one.
void read_os_version(cmd_params& opts) {
  byte_array bytes;
  if (!uni::read_file_head(bytes, "/System/Library/CoreServices/SystemVersion.plist", 0xffffffffu) ||
      bytes.empty()) {
    return;
  }
  const std::string text(bytes.begin(), bytes.end());
  const size_t key = text.find(">ProductVersion<");
  if (key == std::string::npos) return;
  const size_t open = text.find("<string>", key + 16);
  if (open == std::string::npos) return;
  const size_t start = open + 8;
  const size_t end = text.find("</s", start);
  const std::string version = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
  if (version.empty()) return;
  opts.os_version_text = version;
  std::vector<std::string> items;
  split_string(version, '.', items, true, false, false);
  if (!items.empty()) to_uint(items[0], opts.os_version_major);
  if (items.size() >= 2) to_uint(items[1], opts.os_version_minor);
  if (items.size() >= 3) to_uint(items[2], opts.os_version_patch);
}

}  // namespace

bool parse_common_options(cmd_params& opts, std::vector<std::string>& args) {
  if (args.empty()) return false;
  if (opts.command_line.empty()) join_quoted(opts.command_line, args, '"');
  if (opts.program_name.empty()) {
    std::string name = args[0];
    const size_t slash = name.rfind('/');
    if (slash != std::string::npos) name = name.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) name = name.substr(0, dot);
    opts.program_name = name;
  }

  std::string value;
  if (has_flag("-pair_datetime", args, 0)) opts.pair_datetime = 1;
  if (get_option_value("-diags", value, args)) read_diagnostics(opts, value, args);
  if (has_flag("-csv", args, 0)) {
    set_output_kind(opts, 0, 1, 0, 0, 0);
    opts.set_csv_separator(",");
    opts.no_whitespace = opts.pair_datetime ? 0 : 1;
  }
  if (has_flag("-csvgen", args, 0)) {
    set_output_kind(opts, 0, 0, 0, 0, 0);
    opts.csvgen = 1;
    opts.set_csv_separator(",");
    opts.no_whitespace = 1;
  }
  if (has_flag("-csvl2t", args, 0)) {
    set_output_kind(opts, 0, 0, 1, 0, 0);
    opts.header_pending = 1;
    opts.set_csv_separator(",");
  }
  if (has_flag("-bodyfile", args, 0)) {
    set_output_kind(opts, 0, 0, 0, 1, 0);
    opts.header_pending = 1;
    opts.set_csv_separator("|");
  }
  if (has_flag("-xml", args, 0)) {
    set_output_kind(opts, 1, 0, 0, 0, 0);
    opts.header_pending = 0;
    opts.set_csv_separator("");
  }
  if (has_flag("-multiline", args, 0)) {
    set_output_kind(opts, 0, 0, 0, 0, 1);
    opts.header_pending = 1;
    opts.separator_text.clear();
    opts.separator = 0;
    opts.separator_replacement = 0;
  }
  if (get_option_value("-alias", value, args) && !read_aliases(opts, value)) return false;
  if (get_option_value("-aliaspath", value, args) && !read_alias_paths(opts, value)) return false;
  if (has_flag("-gzip", args, 0)) opts.compressed = opts.gzip = 1;
  if (has_flag("-zlib", args, 0)) opts.compressed = opts.zlib = 1;
  if (get_option_value("-threads", value, args)) parse_uint(value, opts.threads);
  if (get_option_value("-zlibex", value, args)) {
    opts.compressed = opts.zlibex = 1;
    opts.zlibex_arg = value;
  }
  if (get_option_value("-sqlite_log", value, args) || get_option_value("-sqlite", value, args)) {
    report("This option is not offered in this build\n");
    return false;
  }
  if (get_option_value("-signal", value, args)) opts.signal = value;
  if (get_option_value("-hostname", value, args)) {
    opts.host_name = value;
    opts.host_name_given = 1;
  }
  if (has_flag("-split_pathfile", args, 0)) opts.split_pathfile = 1;
  if (get_option_value("-username", value, args)) {
    opts.user_name = value;
    opts.user_name_given = 1;
  }
  u32 number = 0;
  if (get_option_value("-cpuinst", value, args)) {
    to_uint(value, number);
    opts.cpu_instance = static_cast<i32>(number);
  }
  if (get_option_value("-cpu", value, args)) to_uint(value, opts.cpu);
  if (get_option_value("-fragment_files", value, args)) {
    to_uint(value, opts.fragment_size);
    opts.separate_files = 1;
  }
  if (has_flag("-separate_files", args, 0)) opts.separate_files = 1;
  if (get_option_value("-out", value, args) || get_option_value("-outfile", value, args)) {
    if (!probe_output(opts, value)) return false;
  }
  if (get_option_value("-outdir", value, args)) {
    opts.out_dir = expanded(value);
    opts.out_dir_given = 1;
  }
  if (get_option_value("-enumdir", value, args)) {
    opts.enumdir_path = expanded(value);
    opts.enumdir_given = 1;
  }
  if (get_option_value("-num_subdirs", value, args)) to_uint(value, opts.num_subdirs);
  if (has_flag("-profile", args, 0)) opts.profile = 1;
  if (has_flag("-pipe", args, 0)) opts.pipe = 1;
  read_filter_list(args, "-filter_skip", opts.skip_filters);
  read_filter_list(args, "-filter", opts.include_filters);
  read_signature_filters(args, opts.include_filters);
  if (get_option_value("-cmd_start_time", value, args) && !read_window_bound(opts, value, true)) {
    return false;
  }
  if (get_option_value("-cmd_stop_time", value, args) && !read_window_bound(opts, value, false)) {
    return false;
  }
  if (has_flag("-base10", args, 0)) opts.hex_numbers = 0;
  if (has_flag("-base16", args, 0)) opts.hex_numbers = 1;
  if (get_option_value("-csv_separator", value, args)) {
    std::string clash;
    if (!separator_value_fits(value, clash)) {
      report(clash.c_str());
      return false;
    }
    opts.set_csv_separator(value);
  }
  if (has_flag("-enable_quoted_csv_fields", args, 0)) {
    opts.quoted_fields = 1;
    if (opts.separator_text.find('\t') == std::string::npos) trim_whitespace(opts.separator_text);
    opts.blank_before_time = 0;
    opts.separator = 0;
  }
  if (has_flag("-no_whitespace", args, 0)) {
    opts.no_whitespace = 1;
    opts.blank_before_time = 0;
    remove_char(opts.separator_text, ' ');
  }
  if (get_option_value("-dateformat", value, args)) read_date_format(opts, value);
  if (get_option_value("-timeformat", value, args)) read_time_format(opts, value);
  if (has_flag("-verbose", args, 0) || has_flag("-v", args, 0)) opts.verbose = 1;
  if (has_flag("-quiet", args, 0)) opts.status_display = 0;

  if (!compile_date_time_format(opts.date_time_fmt, opts.date_format, opts.time_format,
                                opts.pair_datetime != 0)) {
    // A date pattern of the right length without a day, month or year, or in
    // no known order, would print every date empty: fall back to the default.
    std::fprintf(stderr, "%s\n", ("invalid " + opts.date_format + ", using default format").c_str());
    opts.date_format = "yyyy-mm-dd";
    compile_date_time_format(opts.date_time_fmt, opts.date_format, opts.time_format,
                             opts.pair_datetime != 0);
  }
  std::string clash;
  if (!separator_fits(opts, clash)) {
    report(clash.c_str());
    return false;
  }
  read_os_version(opts);
  return true;
}
