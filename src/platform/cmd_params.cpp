#include "platform/cmd_params.hpp"

#include "common/zarn_string.hpp"

cmd_params::cmd_params(u64 start, u8 own_scratch) {
  reset();
  start_time = start;
  if (own_scratch == 1) scratch_stream = std::make_unique<std::ostringstream>();
  clear_run_state();
}

cmd_params::~cmd_params() {
  if (debug_log && debug_stream) debug_stream->close();
}

void cmd_params::reset() {
  command_line.clear();
  program_name.clear();
  out_path.clear();
  out_dir.clear();
  user_name.clear();
  host_name.clear();
  alias_paths.clear();
  aliases.clear();
  date_format = "yyyy-mm-dd";
  time_format = "hh:mm:ss.xxx";
  date_time_fmt.reset();
  separator = '|';
  separator_replacement = ';';
  separator_text = " | ";
  no_whitespace = 0;
  blank_before_time = 1;
  hex_numbers = 1;
  user_name_given = 0;
  host_name_given = 0;
  split_pathfile = 0;
  quoted_fields = 0;
  compressed = gzip = zlib = zlibex = 0;
  zlibex_arg.clear();
  threads = 0;
  out_dir_given = 0;
  out_given = 0;
  cpu_instance = -1;
  cpu = 0;
  separate_files = 0;
  fragment_size = 0;
  xml = csv = csvl2t = csvgen = bodyfile = multiline = 0;
  verbose = 1;
  status_display = 1;
  row_newline = 1;
  pair_datetime = 0;
  header_pending = 1;
  current_file.clear();
  session_name.clear();
  source_path.clear();
  debug_log = 0;
  debug_level = 0;
  diags_path.clear();
  profile = 0;
  signal.clear();
  include_filters.clear();
  skip_filters.clear();
  pipe = 0;
  enumdir_path.clear();
  num_subdirs = 0;
  enumdir_given = 0;
  os_version_text.clear();
  os_version_major = os_version_minor = os_version_patch = 0;
  start_window.clear();
  stop_window.clear();
}

void cmd_params::clear_run_state() {
  current_file.clear();
  session_name.clear();
  source_path.clear();
  clear_scratch();
  current_info.clear();
}

void cmd_params::clear_scratch() {
  if (!scratch_stream) return;
  scratch_stream->clear();
  scratch_stream->str("");
}

bool cmd_params::open_diagnostics() {
  if (diags_path.empty()) return true;
  debug_stream = std::make_unique<std::ofstream>(diags_path, std::ios::out | std::ios::trunc);
  if (debug_stream->good()) {
    debug_log = 1;
    // a device that opens but takes nothing (a full disk) fails here
    log_text(command_line);
    if (debug_stream->good()) return true;
  }
  debug_log = 0;
  diags_path.clear();
  debug_stream.reset();
  return false;
}

void cmd_params::log_text(const std::string& text) {
  if (debug_log != 1 || !debug_stream) return;
  *debug_stream << "->" << text << '\n';
  debug_stream->flush();
}

void cmd_params::set_csv_separator(const std::string& text) {
  separator_text = text;
  if (quoted_fields) {
    separator = 0;
    separator_replacement = 0;
    return;
  }
  std::string lower = text;
  to_lower(lower);
  if (lower.find('|') != std::string::npos) {
    separator = '|';
    separator_replacement = ';';
  } else if (lower.find(',') != std::string::npos) {
    separator = ',';
    separator_replacement = ' ';
  } else if (lower == "tab" || lower == "\\t") {
    separator = '\t';
    separator_replacement = ' ';
    separator_text = "\t";
  } else if (text.empty()) {
    separator = 0;
    separator_replacement = 0;
  } else {
    // Any other separator: its first character other than a blank is kept out
    // of the cells, so that no cell can split a row for the reader.
    const size_t first = text.find_first_not_of(' ');
    separator = first == std::string::npos ? ' ' : text[first];
    separator_replacement = separator == ' ' ? '_' : ' ';
  }
}

bool iequals(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  std::string la = a, lb = b;
  return to_lower(la) == to_lower(lb);
}

namespace {
// Index of the first entry equal to name from `from` on, or -1.
long find_arg(const std::string& name, const std::vector<std::string>& args, size_t from) {
  for (size_t i = from; i < args.size(); ++i) {
    if (iequals(args[i], name)) return static_cast<long>(i);
  }
  return -1;
}
}  // namespace

bool has_flag(const std::string& name, std::vector<std::string>& args, u8 keep) {
  const long at = find_arg(name, args, 0);
  if (at < 0) return false;
  if (keep != 1) args.erase(args.begin() + at);
  return true;
}

bool get_option_value(const std::string& name, std::string& out, std::vector<std::string>& args) {
  const long at = find_arg(name, args, 0);
  if (at < 0 || static_cast<size_t>(at) + 1 >= args.size()) return false;
  out = args[static_cast<size_t>(at) + 1];
  args.erase(args.begin() + at, args.begin() + at + 2);
  return true;
}

bool has_flag_nokeep(const std::string& name, const std::vector<std::string>& args, u8 skip_first) {
  return find_arg(name, args, skip_first == 1 ? 1 : 0) >= 0;
}
