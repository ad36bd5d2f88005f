#include "platform/zarn_portable_dir.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/case_tree.hpp"

namespace {

// The entries' paths below the tree's root, sorted (listing order is the
// file system's).
std::vector<std::string> listed(const std::string& dir, const std::string& pattern, bool expand) {
  std::vector<dir_entry> entries;
  get_dir_entries(case_tree_root() + dir, pattern, entries, expand);
  std::vector<std::string> paths;
  for (const dir_entry& e : entries) paths.push_back(e.path.substr(case_tree_root().size()));
  std::sort(paths.begin(), paths.end());
  return paths;
}

TEST(DirListing, PatternsFoldersAndStars) {
  const std::vector<std::string> root_folders = {"*/", "empty/", "sub1/", "sub2/"};
  auto with_folders = [&](std::vector<std::string> files) {
    files.insert(files.end(), root_folders.begin(), root_folders.end());
    std::sort(files.begin(), files.end());
    return files;
  };
  struct listing_case {
    const char* dir;
    const char* pattern;
    bool expand;
    std::vector<std::string> paths;
  };
  const listing_case cases[] = {
      {"", "*.etl", false, with_folders({"A.ETL", "a.etl", "bad\xff.etl", "tr*.etl", "with blank.etl"})},
      {"", "trace.*", false, with_folders({"trace.txt"})},
      // a star inside a pattern part is a character like any other
      {"", "tr*.etl", false, with_folders({"tr*.etl"})},
      // links to folders are listed as files and never followed
      {"", "*.*", false,
       with_folders({"A.ETL", "a.etl", "b.etl.bak", "bad\xff.etl", "link", "loop", "tr*.etl", "trace.txt",
                     "with blank.etl"})},
      {"*/logs/", "*.*", true, {"sub2/logs/w.etl"}},
      {"*/*/", "*.*", true, {"sub1/deeper/deepest/", "sub1/deeper/y.etl", "sub2/logs/w.etl"}},
      // a component that holds a star among other characters lists its folder
      {"su*/", "*.etl", true, with_folders({"A.ETL", "a.etl", "bad\xff.etl", "tr*.etl", "with blank.etl"})},
      // a folder found on disk named "*" is a folder like any other
      {"*/", "*.*", false, {"*/s.etl"}},
      {"empty", "*.*", false, {}},
      {"missing/", "*.*", true, {}},
  };
  for (const listing_case& c : cases) {
    SCOPED_TRACE(std::string(c.dir) + " " + c.pattern);
    EXPECT_EQ(listed(c.dir, c.pattern, c.expand), c.paths);
  }
  EXPECT_TRUE(file_exists(case_tree_root() + "a.etl"));
  EXPECT_FALSE(file_exists(""));
}

}  // namespace
