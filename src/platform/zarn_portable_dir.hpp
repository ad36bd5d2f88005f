#pragma once
// One directory level listed for the -enumdir walk: the files of a folder
// that match a pattern name.ext, and its subfolders. Paths are the bytes the
// file system gives (a Linux name need not be UTF-8), and folders are
// written with '/'.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "common/zarn_types.hpp"

struct dir_entry {
  std::string path;     // full path; a folder's ends with '/'
  std::string name;     // the file name; empty for a folder
  u8 is_dir = 0;
  u8 has_long_prefix = 0;  // the path begins with the long-path prefix \\?\ (never on this platform)
  u32 depth = 0;        // the listing's depth for a file, that depth + 1 for a folder
};

// Appends one directory level of `dir` (which ends with a separator) to
// `out`: every subfolder, and unless dirs_only every other entry. An entry
// is a folder by lstat, so a symbolic link to a folder is listed as a file
// and never followed. True when anything was appended; a folder that cannot
// be opened appends nothing.
bool list_dir(const std::string& dir, std::vector<dir_entry>& out, u32 depth, u8 dirs_only,
              u8 forward_slash);

// One pass over `paths`: an entry holding the component "/*/" at or after
// its search position (`search_from`, index for index) is replaced by one
// path per subfolder at that place (the first in its place, the others
// appended), or emptied when there is none. An expanded path is searched
// again only after the subfolder's name: a folder literally named "*" is
// not expanded again, so the passes end. True when anything changed.
bool expand_wildcard_dirs(std::vector<std::string>& paths, std::vector<std::size_t>& search_from,
                          u8 forward_slash);

// The subfolders and the files matching `pattern` (name.ext, "*" for any
// part; "*.*" when empty; without regard to case) of `dir`. With
// expand_wildcards, "*" components of `dir` are expanded first; a component
// holding a star among other characters lists the folder above it. Only the
// walk's start folder, which the user gave, is expanded: a folder found on
// disk whose name holds a star is listed as it stands.
void get_dir_entries(const std::string& dir, const std::string& pattern, std::vector<dir_entry>& out,
                     bool expand_wildcards);

// The path is not empty and names something that exists.
bool file_exists(const std::string& path);
// lstat of the path: a final symbolic link is not followed.
int lstat_path(const char* path, struct stat* st);
