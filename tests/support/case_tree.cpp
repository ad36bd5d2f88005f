#include "support/case_tree.hpp"

#include <filesystem>

#include "support/temp_dir.hpp"

const std::string& case_tree_root() {
  static const temp_dir dir;
  static const std::string root = [] {
    namespace fs = std::filesystem;
    const fs::path r = dir.path("case");
    for (const char* folder : {"sub1/deeper/deepest", "sub2/logs", "empty", "*"}) {
      fs::create_directories(r / folder);
    }
    for (const char* file : {"a.etl", "A.ETL", "b.etl.bak", "trace.txt", "tr*.etl", "with blank.etl",
                             "bad\xff.etl", "sub1/x.etl", "sub1/deeper/y.etl",
                             "sub1/deeper/deepest/z.etl", "sub2/logs/w.etl", "*/s.etl"}) {
      (void)dir.write("case/" + std::string(file), std::string("not a log"));
    }
    fs::create_directory_symlink(r / "sub1", r / "link");
    fs::create_directory_symlink(r, r / "loop");
    return r.string() + "/";
  }();
  return root;
}
