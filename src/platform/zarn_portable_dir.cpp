#include "platform/zarn_portable_dir.hpp"

#include <dirent.h>

#include <cerrno>
#include <cstring>

#include "common/zarn_string.hpp"
#include "platform/fileio.hpp"

namespace {

constexpr u32 file_type_mask = 0xF000;
constexpr u32 folder_type = 0x4000;  // S_IFDIR within the file-type bits
constexpr u32 link_type = 0xA000;    // S_IFLNK

// A pattern part accepts every name when it is "*" or sorts before it.
bool accepts_all(const std::string& part) { return part <= "*"; }

// One folder level into `out`; the errno of a folder that cannot be opened,
// 0 when it was listed (empty or not).
int read_folder(const std::string& dir, std::vector<dir_entry>& out, u32 depth, u8 dirs_only,
                u8 forward_slash) {
  // an empty folder text is the current folder, its entries named as they stand
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return errno != 0 ? errno : EIO;
  const char separator = forward_slash != 0 ? '/' : '\\';
  while (const dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    dir_entry entry;
    entry.path = dir + e->d_name;
    struct stat st;
    const u32 type =
        lstat_path(entry.path.c_str(), &st) == 0 ? static_cast<u32>(st.st_mode) & file_type_mask : 0;
    entry.has_long_prefix = entry.path.size() > 4 && entry.path.compare(0, 4, "\\\\?\\") == 0;
    entry.is_link = type == link_type ? 1 : 0;
    if (type == folder_type) {
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
  return 0;
}

// A folder the pattern leads to that is not there is no failure; one that
// is there but cannot be read is.
bool missing(int error) { return error == ENOENT || error == ENOTDIR; }

void note_unlisted(wildcard_notes* notes, const std::string& folder) {
  if (notes != nullptr) notes->unlisted.push_back(folder.empty() ? "./" : folder);
}

// The name matches the pattern, whose stars stand for any run of characters
// (the other characters match themselves, case and all).
bool star_match(const std::string& pattern, const std::string& name) {
  std::size_t p = 0, n = 0;
  std::size_t star = std::string::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() && pattern[p] == name[n]) {
      ++p;
      ++n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// Where an entry's wildcards begin: the start of its first component
// holding a star, or its end when it has none.
std::size_t first_star_component(const std::string& path, char separator) {
  const std::size_t star = path.find('*');
  if (star == std::string::npos) return path.size();
  const std::size_t sep = path.rfind(separator, star);
  return sep == std::string::npos ? 0 : sep + 1;
}

// The folders of `prefix` (a folder ending with a separator) that match
// `component`, as full paths ending with the separator, in listing order.
std::vector<std::string> matching_folders(const std::string& prefix, const std::string& component,
                                          u8 forward_slash, wildcard_notes* notes) {
  std::vector<std::string> found;
  const char separator = forward_slash != 0 ? '/' : '\\';
  if (component.find('*') == std::string::npos) {
    // a plain name is looked up, not listed: ".", ".." and "" (a doubled
    // separator) stay where they are
    const std::string path = prefix + component;
    struct stat st;
    if (lstat_path(path.c_str(), &st) != 0) {
      if (!missing(errno)) note_unlisted(notes, prefix);
    } else if ((static_cast<u32>(st.st_mode) & file_type_mask) == folder_type) {
      found.push_back(path + separator);
    } else if ((static_cast<u32>(st.st_mode) & file_type_mask) == link_type && notes != nullptr) {
      notes->links.push_back(path);
    }
    return found;
  }
  std::vector<dir_entry> entries;
  const int error = read_folder(prefix, entries, 0, 0, forward_slash);
  if (error != 0 && !missing(error)) note_unlisted(notes, prefix);
  for (const dir_entry& e : entries) {
    const std::size_t name_start = prefix.size();
    const std::string name =
        e.path.substr(name_start, e.path.size() - name_start - (e.is_dir != 0 ? 1 : 0));
    if (!star_match(component, name)) continue;
    if (e.is_dir != 0) {
      found.push_back(e.path);
    } else if (e.is_link != 0 && notes != nullptr) {
      notes->links.push_back(e.path);
    }
  }
  return found;
}

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
  const std::size_t before = out.size();
  (void)read_folder(dir, out, depth, dirs_only, forward_slash);
  return out.size() > before;
}

bool expand_wildcard_dirs(std::vector<std::string>& paths, std::vector<std::size_t>& search_from,
                          u8 forward_slash, wildcard_notes* notes) {
  if (paths.empty()) return false;
  const char separator = forward_slash != 0 ? '/' : '\\';
  for (std::size_t i = search_from.size(); i < paths.size(); ++i) {
    search_from.push_back(first_star_component(paths[i], separator));
  }
  search_from.resize(paths.size());
  std::vector<std::string> next_paths;
  std::vector<std::size_t> next_from;
  bool changed = false;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const std::string& path = paths[i];
    const std::size_t at = search_from[i];
    const std::size_t end = path.find(separator, at);
    if (path.empty() || at >= path.size() || end == std::string::npos) {
      next_paths.push_back(path);
      next_from.push_back(path.size());
      continue;
    }
    changed = true;
    const std::string prefix = path.substr(0, at);
    const std::string rest = path.substr(end + 1);
    for (const std::string& folder :
         matching_folders(prefix, path.substr(at, end - at), forward_slash, notes)) {
      // the next component to resolve comes after the folder found on disk
      next_paths.push_back(folder + rest);
      next_from.push_back(folder.size());
    }
  }
  paths.swap(next_paths);
  search_from.swap(next_from);
  return changed;
}

std::vector<std::string> wildcard_folders(const std::string& dir, wildcard_notes* notes) {
  if (dir.empty()) return {};
  // Folders on this platform are written with '/', also a relative one
  // ("logs", ".") that holds no separator yet.
  std::vector<std::string> folders = {dir.back() == '/' ? dir : dir + '/'};
  std::vector<std::size_t> search_from;
  // each pass resolves one more component
  while (expand_wildcard_dirs(folders, search_from, 1, notes)) {
  }
  return folders;
}

bool get_dir_entries(const std::string& dir, const std::string& pattern, std::vector<dir_entry>& out,
                     bool expand_wildcards) {
  out.clear();
  if (dir.empty()) return false;
  const std::vector<std::string> folders =
      expand_wildcards ? wildcard_folders(dir) : std::vector<std::string>{dir.back() == '/' ? dir : dir + '/'};
  bool listed_all = !folders.empty();
  std::vector<dir_entry> listed;
  for (const std::string& folder : folders) {
    if (read_folder(folder, listed, 0, 0, 1) != 0) listed_all = false;
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
  return listed_all;
}
