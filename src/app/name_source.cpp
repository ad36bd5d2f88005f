#include "app/name_source.hpp"

#include <dirent.h>

#include "platform/cmd_params.hpp"
#include "platform/console.hpp"
#include "platform/file_filter.hpp"
#include "platform/zarn_portable_dir.hpp"

bool name_passes_filters(const cmd_params& options, const std::string& name,
                         const filter_list& include, const filter_list& skip, file_info& info) {
  if (!file_passes_filter(options, nullptr, name, include, &info)) return false;
  // the skip list is a list of names: the window has been tested already
  return skip.empty() || !file_passes_filter(options, nullptr, name, skip, nullptr);
}

std::string name_shown(const std::string& name) {
  std::string shown;
  for (char c : name) {
    if (c == '\0') {
      shown += "[NUL]";
    } else {
      shown += c;
    }
  }
  return shown;
}

namespace {

void name_unlisted(const std::string& folder) {
  print_message("prob listing folder: %s\n", folder.c_str());
}

bool can_list(const std::string& folder) {
  DIR* d = ::opendir(folder.c_str());
  if (d == nullptr) return false;
  ::closedir(d);
  return true;
}

// A link is never followed: on a mounted evidence image an absolute link
// resolves on the examiner's own machine, outside the evidence.
void name_link(const std::string& path) {
  print_message("symbolic link not followed: %s\n", path.c_str());
}

}  // namespace

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
  std::vector<std::string> starts;
  if (folder.find('*') == std::string::npos) {
    // a folder the user named that cannot be listed is reported, not walked
    // as if it were empty
    if (!can_list(folder)) return false;
    starts.push_back(folder);
  } else {
    wildcard_notes notes;
    std::vector<std::string> matched = wildcard_folders(folder, &notes);
    for (const std::string& link : notes.links) name_link(link);
    for (const std::string& unlisted : notes.unlisted) name_unlisted(unlisted);
    not_listed_ += static_cast<u32>(notes.unlisted.size());
    // the folders the stars match are start folders: one that cannot be
    // listed is named, and when none can, nothing can be read, as for a
    // start folder named plainly
    for (const std::string& start : matched) {
      if (can_list(start)) {
        starts.push_back(start);
      } else {
        name_unlisted(start);
        ++not_listed_;
      }
    }
    if (starts.empty()) return false;
  }
  depth_limit_ = depth_limit;
  include_ = include;
  skip_ = skip;
  // the last pushed is walked first, as with the subfolders of a listing
  for (const std::string& start : starts) pending_.emplace_back(start, 0);
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
    if (!get_dir_entries(folder, "*.*", entries, false)) {
      name_unlisted(folder);
      ++not_listed_;
    }
    for (const dir_entry& e : entries) {
      if (e.is_link != 0) {
        name_link(e.path);
      } else if (e.is_dir != 0) {
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
