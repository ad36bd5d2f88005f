#include "app/name_source.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/cmd_params.hpp"
#include "platform/file_filter.hpp"
#include "support/case_tree.hpp"
#include "support/log_builder.hpp"
#include "support/run_vesk.hpp"
#include "support/temp_dir.hpp"

using namespace logbuild;

namespace {

filter_list filters_of(const char* value) {
  filter_list list;
  if (value[0] != '\0') parse_filter_patterns(list, value);
  return list;
}

TEST(NameSource, WalkToADepth) {
  const std::vector<std::string> root_files = {"A.ETL", "a.etl", "bad\xff.etl", "tr*.etl",
                                               "with blank.etl"};
  struct walk_case {
    u32 depth;
    const char* include;
    const char* skip;
    std::vector<std::string> extra;  // beyond the root's .etl files
  };
  const walk_case cases[] = {
      {0, "*.etl", "", {}},
      {1, "*.etl", "", {"*/s.etl", "sub1/x.etl"}},
      {2, "*.etl", "", {"*/s.etl", "sub1/deeper/y.etl", "sub1/x.etl", "sub2/logs/w.etl"}},
      {9, "*.etl", "*y.etl", {"*/s.etl", "sub1/deeper/deepest/z.etl", "sub1/x.etl", "sub2/logs/w.etl"}},
  };
  for (const walk_case& c : cases) {
    SCOPED_TRACE(c.depth);
    const cmd_params opts(0, 1);
    zarnportdir::stdin_stream_ex source(&opts);
    ASSERT_TRUE(source.init_enumdir(case_tree_root(), c.depth, filters_of(c.include), filters_of(c.skip)));
    std::vector<std::string> names;
    std::string name;
    while (source.next_name(name, 1)) names.push_back(name.substr(case_tree_root().size()));
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected = root_files;
    expected.insert(expected.end(), c.extra.begin(), c.extra.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
  }
  const cmd_params opts(0, 1);
  zarnportdir::stdin_stream_ex source(&opts);
  EXPECT_FALSE(source.init_enumdir("", 1, {}, {}));
  EXPECT_FALSE(source.init_enumdir(case_tree_root() + "missing", 1, {}, {}));
}

// A folder of logs built from bytes: every log the walk or the pipe names is
// read, the others are named as not readable, -quiet or not.
TEST(NameSource, PipeAndEnumdirReadTheirLogs) {
  temp_dir dir;
  const byte_array log =
      join({byte_array(72, 0),
            buffer_builder({.buffer_size = 0x200, .time = ft_2021}, true).add(build_record(record_event{})).finish()});
  std::filesystem::create_directories(dir.path("case/sub/deep"));
  for (const char* name : {"case/a.etl", "case/sub/b c.etl", "case/sub/deep/d.etl", "case/sub/x\xfe.etl"}) {
    (void)dir.write(name, log);
  }
  (void)dir.write("case/sub/bad.etl", std::string("not a log"));
  (void)dir.write("case/notes.txt", std::string("not a log"));
  const std::string root = dir.path("case");
  auto files_read = [&root](const vesk_result& r) {
    std::vector<std::string> files;
    for (std::size_t at = r.out.find("file: "); at != std::string::npos; at = r.out.find("file: ", at + 1)) {
      files.push_back(r.out.substr(at + 6 + root.size() + 1, r.out.find('\n', at) - at - 7 - root.size()));
    }
    std::sort(files.begin(), files.end());
    return files;
  };
  const vesk_result walked = run_vesk({"-enumdir", root, "-num_subdirs", "1", "-filter", "*.etl", "-quiet"});
  EXPECT_EQ(walked.status, 1);
  EXPECT_EQ(walked.err, "prob parsing file: " + root + "/sub/bad.etl\n");
  EXPECT_EQ(files_read(walked), (std::vector<std::string>{"a.etl", "sub/b c.etl", "sub/x\xfe.etl"}));

  const vesk_result piped = run_vesk({"-pipe", "-filter", "*.etl", "-quiet"},
                                     root + "/a.etl\n\n" + root + "/notes.txt\r\n" + root + "/sub/deep/d.etl\n");
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(files_read(piped), (std::vector<std::string>{"a.etl", "sub/deep/d.etl"}));

  // a relative folder is walked with '/' between its names
  const vesk_result relative = run_program(VESK_BINARY, {"-enumdir", "case", "-num_subdirs", "0", "-quiet"},
                                           "", "cd '" + dir.path("") + "' &&");
  EXPECT_NE(relative.out.find("file: case/a.etl\n"), std::string::npos) << relative.out;

  const vesk_result missing = run_vesk({"-enumdir", dir.path("nowhere"), "-quiet"});
  EXPECT_EQ(missing.status, 255);
  EXPECT_EQ(missing.err, "prob listing folder: " + dir.path("nowhere") + "\n");
}

}  // namespace
