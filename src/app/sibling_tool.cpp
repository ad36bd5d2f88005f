#include "app/sibling_tool.hpp"

#include <sys/stat.h>

#include <cstring>
#include <sstream>

#include "app/name_source.hpp"
#include "app/vesk_user_opts.hpp"
#include "common/zarn_number.hpp"
#include "common/zarn_string.hpp"
#include "platform/console.hpp"
#include "platform/file_filter.hpp"
#include "platform/file_info.hpp"
#include "platform/fileio.hpp"
#include "platform/run_cmd.hpp"
#include "platform/stdin_stream.hpp"

namespace {

// morlik writes the bxml the way vesk reads it from 0.39 on.
constexpr u32 min_morlik_minor = 39;
// A sibling that printed no more than this after its header line gave
// nothing usable.
constexpr std::size_t min_body_chars = 5;

void erase_first_of(std::string& s, const char* part) {
  const std::size_t at = s.find(part);
  if (at != std::string::npos) s.erase(at, std::strlen(part));
}

bool own_folder(std::string& folder) {
  std::string name;
  return split_path(get_exe_path(), folder, name);
}

// The output up to and including the end of the sibling's header line, the
// one holding a quote and "cmdline: "; empty when there is no such line or
// nothing ends it.
std::string header_of(const std::string& text) {
  const std::size_t at = text.find("\"cmdline: ");
  if (at == std::string::npos) return {};
  const std::size_t end = text.find('\n', at);
  if (end == std::string::npos) return {};
  return text.substr(0, end + 1);
}

// A morlik header saying "ver: 0.NN;" must show at least 0.39; a header
// naming no version of that shape passes. Minor digits that do not read as
// a number count as 0.
bool version_accepted(std::string head) {
  to_lower(head);
  const std::size_t at = head.find("ver:");
  if (head.find("morlik") == std::string::npos || at == std::string::npos) return true;
  if (head.compare(at + 4, 2, " 0") != 0) return true;
  const std::size_t from = at + 7;  // just after "ver: 0."
  std::string minor;
  if (from <= head.size()) minor = head.substr(from, head.find(';', from) - from);
  u32 value = 0;
  (void)to_uint(minor, value);
  if (value >= min_morlik_minor) return true;
  print_message("This option requires, ver: 0.39 of morlik or later to work, aborting\n");
  return false;
}

}  // namespace

bool run_dependency_tool(std::ostream& out, const std::string& tool_name,
                         const std::vector<std::string>& args, const std::string* tools_folder) {
  std::string name = tool_name;
  erase_first_of(name, "32");
  erase_first_of(name, "64");
  erase_first_of(name, ".exe");
  std::string folder;
  if (tools_folder != nullptr) {
    folder = *tools_folder;
  } else if (!own_folder(folder)) {
    return false;
  }
  // The plain path: no shell reads it, so a blank in the folder needs no quotes.
  const std::string path = folder + "/" + name + "32";
  struct stat st;
  if (uni::stat_path(path.c_str(), &st) != 0) {
    print_message("can't find the dependency tool: %s, aborting\n", path.c_str());
    return false;
  }

  std::vector<std::string> words = args;
  words.push_back("-quiet");
  std::ostringstream captured;
  if (!run_cmd(path, words, &captured, 0)) {
    std::string shown = path;
    for (const std::string& w : words) shown += " " + w;
    print_message("prob calling run_cmd: %s\n", shown.c_str());
    return false;
  }
  std::string text = captured.str();
  remove_char(text, '\r');
  const std::string head = header_of(text);
  if (!version_accepted(head)) return false;
  if (text.size() <= head.size() + min_body_chars) {
    print_message("Problem with using dependency tool %s, aborting\n", path.c_str());
    return false;
  }
  out.write(text.data() + head.size(), static_cast<std::streamsize>(text.size() - head.size()));
  return true;
}

int run_extract_bxml(std::ostream& out, vesk_user_opts& opts, const std::string* tools_folder,
                     FILE* names) {
  if (!opts.pipe && !opts.enumdir_given) {
    std::vector<std::string> args = {opts.pefile, "-vesk"};
    if (opts.enc) args.push_back("-enc");
    return run_dependency_tool(out, "morlik", args, tools_folder) ? 0 : -1;
  }
  // The PE files come one per line; -enumdir walks no folder here.
  int status = -1;
  uni::stdin_stream input(0, names);
  std::string line;
  while (input.read_line(line, 1)) {
    if (line.empty()) continue;
    if (line.find('\0') != std::string::npos) {
      // no file name holds a NUL: handed on, the name would stand for the
      // file its text before the NUL names
      print_message("prob parsing file: %s\n", name_shown(line).c_str());
      continue;
    }
    file_info info;
    if (!file_passes_filter(opts, nullptr, line, opts.include_filters, &info)) continue;
    print_message("%s\n", line.c_str());
    if (run_dependency_tool(out, "morlik", {"-vesk", line}, tools_folder)) status = 0;
  }
  return status;
}

int run_providers(std::ostream& out, vesk_user_opts& opts, const std::string* tools_folder) {
  const std::vector<std::string> args = {
      "-hive",         opts.hive,
      "-key",          "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WINEVT\\Publishers",
      "-level",        "1",
      "-extract",      "(unnamed)|MessageFileName",
      "-dateformat",   opts.date_format,
      "-timeformat",   opts.time_format,
      "-pair_datetime"};
  return run_dependency_tool(out, "durvo", args, tools_folder) ? 0 : -1;
}
