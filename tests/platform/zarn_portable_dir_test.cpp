#include "platform/zarn_portable_dir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/case_tree.hpp"
#include "support/temp_dir.hpp"

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
      // a star among other characters lists exactly the folders it matches
      {"su*/", "*.etl", true, {"sub1/deeper/", "sub1/x.etl", "sub2/logs/"}},
      {"s*b*2", "*.*", true, {"sub2/logs/"}},
      {"*/lo*", "*.*", true, {"sub2/logs/w.etl"}},
      {"su*/deeper/", "*.*", true, {"sub1/deeper/deepest/", "sub1/deeper/y.etl"}},
      // links match no star: "link" and "loop" are not followed
      {"l*/", "*.*", true, {}},
      // a folder found on disk named "*" is a folder like any other
      {"*/", "*.*", false, {"*/s.etl"}},
      {"empty", "*.*", false, {}},
      {"missing/", "*.*", true, {}},
  };
  for (const listing_case& c : cases) {
    SCOPED_TRACE(std::string(c.dir) + " " + c.pattern);
    EXPECT_EQ(listed(c.dir, c.pattern, c.expand), c.paths);
  }
  std::vector<dir_entry> entries;
  EXPECT_TRUE(get_dir_entries(case_tree_root() + "empty", "*.*", entries, false));
  EXPECT_FALSE(get_dir_entries(case_tree_root() + "missing", "*.*", entries, false));
  EXPECT_FALSE(get_dir_entries(case_tree_root() + "no*", "*.*", entries, true));
  EXPECT_TRUE(file_exists(case_tree_root() + "a.etl"));
  EXPECT_FALSE(file_exists(""));
}

// Stars resolve in the walk's order: the folders a match leads to follow it
// before the next match (a/x a/y b/x b/y, never a/x b/x ...).
TEST(DirListing, WildcardFoldersKeepListingOrder) {
  temp_dir dir;
  for (const char* f : {"t/a/x", "t/a/y", "t/b/x", "t/b/y"}) std::filesystem::create_directories(dir.path(f));
  const std::vector<std::string> found = wildcard_folders(dir.path("t/*/*"));
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0].substr(0, found[0].size() - 2), found[1].substr(0, found[1].size() - 2));
  EXPECT_EQ(found[2].substr(0, found[2].size() - 2), found[3].substr(0, found[3].size() - 2));
  EXPECT_NE(found[0], found[2]);
}

}  // namespace
