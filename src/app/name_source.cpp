#include "app/name_source.hpp"

#include <dirent.h>

#include "platform/cmd_params.hpp"
#include "platform/file_filter.hpp"
#include "platform/zarn_portable_dir.hpp"

bool name_passes_filters(const cmd_params& options, const std::string& name,
                         const filter_list& include, const filter_list& skip, file_info& info) {
  if (!file_passes_filter(options, nullptr, name, include, &info)) return false;
  // the skip list is a list of names: the window has been tested already
  return skip.empty() || !file_passes_filter(options, nullptr, name, skip, nullptr);
}

namespace zarnportdir {

stdin_stream_ex::stdin_stream_ex(const cmd_params* options)
    : uni::stdin_stream(0), options_(options) {
  reset();
}

void stdin_stream_ex::reset() {
  depth_limit_ = 1;
  include_.clear();
  skip_.clear();
  walk_ = 0;
}

bool stdin_stream_ex::init_pipe(u8 flag) {
  reset();
  return (flag == 0 || uni::stdin_ready()) && ready();
}

bool stdin_stream_ex::init_enumdir(const std::string& folder, u32 depth_limit,
                                   const filter_list& include, const filter_list& skip) {
  reset();
  if (folder.empty()) return false;
  // a folder the user named that cannot be listed is reported, not walked
  // as if it were empty
  if (folder.find('*') == std::string::npos) {
    DIR* d = ::opendir(folder.c_str());
    if (d == nullptr) return false;
    ::closedir(d);
  }
  depth_limit_ = depth_limit;
  include_ = include;
  skip_ = skip;
  pending_.emplace_back(folder, 0);
  walk_ = 1;
  return true;
}

bool stdin_stream_ex::next_name(std::string& out, u8 trim) {
  if (walk_ != 0) return next_file(out);
  return read_line(out, trim);
}

bool stdin_stream_ex::next_file(std::string& out) {
  out.clear();
  while (found_.empty()) {
    if (pending_.empty()) return false;
    const auto [folder, depth] = pending_.back();
    pending_.pop_back();
    if (depth > depth_limit_ || !passes_filter(folder, true)) continue;
    std::vector<dir_entry> entries;
    // only the start folder, which the user named, has its "*" expanded
    get_dir_entries(folder, "*.*", entries, depth == 0);
    for (const dir_entry& e : entries) {
      if (e.is_dir != 0) {
        pending_.emplace_back(e.path, depth + 1);
      } else if (passes_filter(e.path, false)) {
        found_.push_back(e.path);
      }
    }
  }
  out = found_.back();
  found_.pop_back();
  return true;
}

bool stdin_stream_ex::passes_filter(const std::string& path, bool folder) const {
  if (folder) return true;
  static const cmd_params no_window(0, 0);
  file_info info;
  return name_passes_filters(options_ != nullptr ? *options_ : no_window, path, include_, skip_, info);
}

}  // namespace zarnportdir
