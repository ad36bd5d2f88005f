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
  u8 is_link = 0;       // a symbolic link (to anything): listed as a file, never followed
};

// Appends one directory level of `dir` (which ends with a separator) to
// `out`: every subfolder, and unless dirs_only every other entry. An entry
// is a folder by lstat, so a symbolic link to a folder is listed as a file
// (marked is_link) and never followed. True when anything was appended; a
// folder that cannot be opened appends nothing.
bool list_dir(const std::string& dir, std::vector<dir_entry>& out, u32 depth, u8 dirs_only,
              u8 forward_slash);

// What a wildcard expansion met besides the folders it matched.
struct wildcard_notes {
  std::vector<std::string> links;     // links whose names match a component: not followed
  std::vector<std::string> unlisted;  // folders that exist but could not be listed
};

// One pass over `paths` (folders ending with a separator): in each entry the
// next component at or after its search position (`search_from`, index for
// index; an entry without one starts at its first component holding a star)
// is resolved. A component holding a star is matched against the names of
// the folder before it (a star stands for any run of characters, so "*"
// matches every subfolder); any other component must name a subfolder. The
// entry is replaced in its place by one path per match, in listing order, or
// dropped when nothing matches, so the passes keep the walk's depth-first
// listing order. A symbolic link never matches (it is noted in `notes`), and
// a folder found on disk is not searched again, so a name holding a star is
// taken as it stands and the passes end. True when anything changed.
bool expand_wildcard_dirs(std::vector<std::string>& paths, std::vector<std::size_t>& search_from,
                          u8 forward_slash, wildcard_notes* notes = nullptr);

// The folders `dir` stands for, each ending with '/': `dir` itself when it
// holds no star, else every folder its star components match (see
// expand_wildcard_dirs), depth first in listing order. Empty when they
// match nothing.
std::vector<std::string> wildcard_folders(const std::string& dir, wildcard_notes* notes = nullptr);

// The subfolders and the files matching `pattern` (name.ext, "*" for any
// part; "*.*" when empty; without regard to case) of `dir`. With
// expand_wildcards the folders listed are those wildcard_folders gives;
// without, `dir` is listed as it stands (a folder found on disk whose name
// holds a star). False when a folder could not be opened or the wildcards
// match no folder; what could be listed is in `out` all the same.
bool get_dir_entries(const std::string& dir, const std::string& pattern, std::vector<dir_entry>& out,
                     bool expand_wildcards);

// The path is not empty and names something that exists.
bool file_exists(const std::string& path);
// lstat of the path: a final symbolic link is not followed.
int lstat_path(const char* path, struct stat* st);
