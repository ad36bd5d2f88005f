#pragma once
// The common options object and the argument scanner that finds options in
// the argument list (names match without regard to case; what is consumed is
// erased, so what is left is what nobody recognised).
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/date_time_format.hpp"
#include "common/zarn_types.hpp"
#include "platform/file_info.hpp"
#include "platform/filter_pattern.hpp"
#include "common/zarn_variant.hpp"

class cmd_params {
 public:
  cmd_params(u64 start_time, u8 own_scratch);
  virtual ~cmd_params();
  cmd_params(const cmd_params&) = delete;
  cmd_params& operator=(const cmd_params&) = delete;

  // Every option field back to its default; start_time and the two streams stay.
  void reset();
  // Clears the per-file texts, the scratch stream and the file information.
  void clear_run_state();
  void clear_scratch();
  // Creates (or empties) the -diags file when one is named and writes the
  // command line into it. A file that cannot be opened or written is
  // forgotten (diags_path cleared) and gives false; true when none is named.
  [[nodiscard]] bool open_diagnostics();
  // "->", the text and a newline to the -diags file when it is open.
  void log_text(const std::string& text);
  // Separator text, separator character and in-cell replacement from a
  // -csv_separator value (or the preset of an output-kind switch).
  void set_csv_separator(const std::string& text);

  u64 start_time = 0;
  std::string command_line;
  std::string program_name;
  std::string out_path;
  std::string out_dir;
  std::string user_name;
  std::string host_name;
  std::map<std::string, std::string> alias_paths;
  std::map<std::string, std::string> aliases;
  std::string date_format;
  std::string time_format;
  date_time_format date_time_fmt;
  char separator = '|';
  char separator_replacement = ';';
  std::string separator_text;
  u8 no_whitespace = 0;
  u8 blank_before_time = 1;
  u8 hex_numbers = 1;
  u8 user_name_given = 0;
  u8 host_name_given = 0;
  u8 split_pathfile = 0;
  u8 quoted_fields = 0;
  u8 compressed = 0;
  u8 gzip = 0;
  u8 zlib = 0;
  u8 zlibex = 0;
  std::string zlibex_arg;
  u32 threads = 0;
  u8 out_dir_given = 0;
  u8 out_given = 0;
  i32 cpu_instance = -1;
  u32 cpu = 0;
  u8 separate_files = 0;
  u32 fragment_size = 0;
  u8 xml = 0;
  u8 csv = 0;
  u8 csvl2t = 0;
  u8 csvgen = 0;
  u8 bodyfile = 0;
  u8 multiline = 0;
  u8 verbose = 1;
  u8 status_display = 1;
  u8 row_newline = 1;
  u8 pair_datetime = 0;
  u8 header_pending = 1;
  std::string current_file;
  std::string session_name;
  std::string source_path;
  u8 debug_log = 0;
  u32 debug_level = 0;
  std::unique_ptr<std::ostringstream> scratch_stream;
  std::unique_ptr<std::ofstream> debug_stream;
  std::string diags_path;
  u8 profile = 0;
  std::string signal;
  filter_list include_filters;
  filter_list skip_filters;
  u8 pipe = 0;
  std::string enumdir_path;
  u32 num_subdirs = 0;
  u8 enumdir_given = 0;
  std::string os_version_text;
  u32 os_version_major = 0;
  u32 os_version_minor = 0;
  u32 os_version_patch = 0;
  time_window start_window;
  time_window stop_window;
  // The current input file's information, filled by the driver.
  file_info current_info;
  // The event table's header cells, one per column, rebuilt per input file.
  std::vector<zarn_variant_lite> header_cells;
};

// ---- argument scanner ----
bool iequals(const std::string& a, const std::string& b);
// The first entry equal to name gives true and is erased unless keep is 1.
bool has_flag(const std::string& name, std::vector<std::string>& args, u8 keep);
// The first entry equal to name, with a value after it: out takes the value
// and both are erased. A name in last place has no value and stays.
bool get_option_value(const std::string& name, std::string& out, std::vector<std::string>& args);
// Searches from index 1 when skip_first is 1; erases nothing.
bool has_flag_nokeep(const std::string& name, const std::vector<std::string>& args, u8 skip_first);
