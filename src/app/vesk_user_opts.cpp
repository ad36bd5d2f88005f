#include "app/vesk_user_opts.hpp"

#include <cstdio>

#include "common/zarn_string.hpp"
#include "common/zarn_time.hpp"
#include "output/fixed_texts.hpp"
#include "platform/option_parser.hpp"

vesk_user_opts::vesk_user_opts() : cmd_params(zarn::time::now().filetime(), 1) { clear(); }

void vesk_user_opts::clear() {
  log_files.clear();
  run_settings = etl_run_settings{};
  reduced.clear();
  no_guessing = extract_bxml = enc = providers = templates = 0;
  pefile.clear();
  hive.clear();
  templates_file.clear();
  processor.reset(false);
}

namespace {
bool requires_log(const vesk_user_opts& o) {
  if (!o.log_files.empty() || o.pipe) return true;
  std::fputs("This option requires -log <etl file>\n", stderr);
  return false;
}
}  // namespace

bool vesk_user_opts::read_options(std::vector<std::string>& args) {
  time_format = "hh:mm:ss.xxxxxxxxx";
  if (!parse_common_options(*this, args)) return false;
  std::string clash;
  if (!separator_spares_fixed_texts(*this, clash)) {
    std::fputs(clash.c_str(), stderr);
    return false;
  }

  std::string value;
  if (get_option_value("-log", value, args)) {
    if (split_by_first_delimiter(log_files, value, true, false, "|,;") == 0) {
      // A value holding none of the separators is the one name; it is trimmed
      // like every listed name, and a blank value names nothing.
      log_files.clear();
      std::string name = value;
      if (trim_whitespace(name)) log_files.push_back(name);
    }
  }
  if (get_option_value("-templates", value, args)) {
    templates = 1;
    templates_file = value;
  }
  if (get_option_value("-extract_bxml", value, args)) {
    extract_bxml = 1;
    pefile = value;
  } else if (pipe && has_flag("-extract_bxml", args, 0)) {
    extract_bxml = 1;
    pefile.clear();
  }
  if (has_flag("-enc", args, 0)) enc = 1;
  if (get_option_value("-providers", value, args)) {
    providers = 1;
    hive = value;
  }
  if (has_flag("-guids", args, 0)) {
    if (!requires_log(*this)) return false;
    run_settings.guids = 1;
  }
  if (has_flag("-stats", args, 0)) {
    if (!requires_log(*this)) return false;
    run_settings.stats = 1;
  }
  if (has_flag("-no_guessing", args, 0)) no_guessing = 1;
  if (get_option_value("-pullguid", value, args)) {
    if (out_path.empty()) {
      std::fputs("This option requires -out <file>\n", stderr);
      return false;
    }
    byte_array bytes;
    if (!parse_guid_text(value, bytes)) return false;
    run_settings.pullguid_guid = guid(bytes.data());
    run_settings.pullguid = 1;
  }
  return true;
}
