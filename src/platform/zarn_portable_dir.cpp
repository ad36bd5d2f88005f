#include "platform/zarn_portable_dir.hpp"

#include <dirent.h>

#include <cstring>

#include "common/zarn_string.hpp"
#include "platform/fileio.hpp"

namespace {

constexpr u32 folder_type = 0x4000;  // S_IFDIR within the 0xF000 file-type bits

// A pattern part accepts every name when it is "*" or sorts before it.
bool accepts_all(const std::string& part) { return part <= "*"; }

}  // namespace

int lstat_path(const char* path, struct stat* st) {
  uni::clear_stat(st);
  return ::lstat(path, st);
}

bool file_exists(const std::string& path) {
  struct stat st;
  return !path.empty() && uni::stat_path(path.c_str(), &st) == 0;
}

bool list_dir(const std::string& dir, std::vector<dir_entry>& out, u32 depth, u8 dirs_only,
              u8 forward_slash) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return false;
  const char separator = forward_slash != 0 ? '/' : '\\';
  const std::size_t before = out.size();
  while (const dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    dir_entry entry;
    entry.path = dir + e->d_name;
    struct stat st;
    const bool is_folder = lstat_path(entry.path.c_str(), &st) == 0 &&
                           (static_cast<u32>(st.st_mode) & 0xF000) == folder_type;
    entry.has_long_prefix = entry.path.size() > 4 && entry.path.compare(0, 4, "\\\\?\\") == 0;
    if (is_folder) {
      entry.path += separator;
      entry.is_dir = 1;
      entry.depth = depth + 1;
    } else if (dirs_only != 0) {
      continue;
    } else {
      entry.name = e->d_name;
      entry.depth = depth;
    }
    out.push_back(std::move(entry));
  }
  ::closedir(d);
  return out.size() > before;
}

bool expand_wildcard_dirs(std::vector<std::string>& paths, std::vector<std::size_t>& search_from,
                          u8 forward_slash) {
  if (paths.empty()) return false;
  search_from.resize(paths.size(), 0);
  const std::string marker = forward_slash != 0 ? "/*/" : "\\*\\";
  bool changed = false;
  const std::size_t present = paths.size();
  for (std::size_t i = 0; i < present; ++i) {
    if (paths[i].empty()) continue;
    const std::size_t at = paths[i].find(marker, search_from[i]);
    if (at == std::string::npos) continue;
    const std::string prefix = paths[i].substr(0, at + 1);
    const std::string suffix = paths[i].substr(at + marker.size());
    std::vector<dir_entry> subfolders;
    list_dir(prefix, subfolders, 0, 1, forward_slash);
    if (subfolders.empty()) {
      paths[i].clear();
    } else {
      // the next marker can only stand in the user's text after the name
      paths[i] = subfolders[0].path + suffix;
      search_from[i] = subfolders[0].path.size() - 1;
      for (std::size_t k = 1; k < subfolders.size(); ++k) {
        paths.push_back(subfolders[k].path + suffix);
        search_from.push_back(subfolders[k].path.size() - 1);
      }
    }
    changed = true;
  }
  return changed;
}

void get_dir_entries(const std::string& dir, const std::string& pattern, std::vector<dir_entry>& out,
                     bool expand_wildcards) {
  out.clear();
  if (dir.empty()) return;
  // Folders on this platform are written with '/', also a relative one
  // ("logs", ".") that holds no separator yet.
  std::string start = dir;
  if (start.back() != '/') start += '/';
  std::vector<std::string> folders = {start};
  std::vector<std::size_t> search_from = {0};
  if (expand_wildcards) {
    // each pass expands one more of the user's "*" components
    while (expand_wildcard_dirs(folders, search_from, 1)) {
    }
  }
  std::vector<dir_entry> listed;
  for (std::size_t k = 0; k < folders.size(); ++k) {
    const std::string& folder = folders[k];
    if (folder.empty()) continue;
    std::string listed_folder = folder;
    if (expand_wildcards) {
      // a component of the user's such as "lo*" lists the folder it stands in
      const std::size_t star = folder.find('*', k < search_from.size() ? search_from[k] : 0);
      if (star != std::string::npos) listed_folder = folder.substr(0, folder.rfind('/', star) + 1);
    }
    list_dir(listed_folder, listed, 0, 0, 1);
  }

  std::string p = pattern.empty() ? "*.*" : pattern;
  to_lower(p);
  std::string ignored, base, ext;
  split_path_ext(p.c_str(), ignored, base, ext);
  if (base.empty()) base = "*";
  if (ext.empty()) ext = "*";
  for (dir_entry& e : listed) {
    std::string folder, file_base, file_ext;
    if (e.is_dir == 0 && split_path_ext(e.path.c_str(), folder, file_base, file_ext)) {
      to_lower(file_base);
      to_lower(file_ext);
      if (!accepts_all(base) && base != file_base) continue;
      if (!accepts_all(ext) && ext != file_ext) continue;
    }
    out.push_back(std::move(e));
  }
}
