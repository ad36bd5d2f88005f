#include "platform/file_filter.hpp"

#include <gtest/gtest.h>

#include "platform/cmd_params.hpp"
#include "platform/fileio.hpp"
#include "support/temp_dir.hpp"

namespace {

// Linux file names are bytes: a name that is not UTF-8 is still a file to
// examine, and must be tested by its patterns, its signature and its times
// rather than dropped.
TEST(FileFilter, NameThatIsNotUtf8IsTestedNotDropped) {
  temp_dir dir;
  const std::string p = dir.write(std::string("caf\xe9.etl"), byte_array{0x4d, 0x5a, 1});
  cmd_params opts(0, 1);
  u8 unopened = 9;

  filter_list by_name;
  ASSERT_TRUE(parse_filter_patterns(by_name, "*.etl"));
  EXPECT_TRUE(file_passes_filter(opts, &unopened, p, by_name, nullptr));
  filter_list other_name;
  ASSERT_TRUE(parse_filter_patterns(other_name, "*.txt"));
  EXPECT_FALSE(file_passes_filter(opts, &unopened, p, other_name, nullptr));

  filter_list by_signature(1);
  by_signature[0].signature = {0x4d, 0x5a};
  EXPECT_TRUE(file_passes_filter(opts, &unopened, p, by_signature, nullptr));
  EXPECT_EQ(unopened, 0);

  opts.start_window.set = 1;
  opts.start_window.unix_seconds = 1;
  opts.stop_window.set_open();
  file_info info;
  EXPECT_TRUE(file_passes_filter(opts, &unopened, p, by_name, &info));
  EXPECT_NE(info.modified, 0);
}

// The pattern matrix: each -filter value against names, both sides without
// regard to case.
TEST(FileFilter, PatternMatrix) {
  struct match_case {
    const char* filter;
    const char* path;
    bool passes;
  };
  const match_case cases[] = {
      {"*.etl", "/c/a.etl", true},          {"*.etl", "/c/A.ETL", true},
      {"*.etl", "/c/x.etl.etl", true},      {"*.etl", "/c/a.etl.bak", false},
      {"data*", "/c/database.etl", true},   {"*log*", "/c/mylog.txt", true},
      {"a*b", "/c/ab", true},               {"a*b", "/c/axb", false},
      {"*|*.txt", "/c/anything", true},     {"report.etl:zone", "/c/report.etl", true},
      {"", "/c/a.etl", false},              {"/tmp/in", "/tmp/in/a.etl", true},
      {"/tmp/in", "/tmp/in/sub/b.etl", true}, {"/tmp/in", "/tmp/input/c.etl", false},
      {"*.txt,*.etl", "/c/b.etl", true},    {"x.etl|y.etl", "/c/z.etl", false},
  };
  const cmd_params opts(0, 1);
  for (const match_case& c : cases) {
    SCOPED_TRACE(std::string(c.filter) + " " + c.path);
    filter_list list;
    parse_filter_patterns(list, c.filter);
    EXPECT_EQ(file_passes_filter(opts, nullptr, std::string(c.path), list, nullptr), c.passes);
  }
}

// The date window's bounds are inclusive, and the window narrows the files
// also when no -filter is given.
TEST(FileFilter, WindowBoundsAreInclusive) {
  temp_dir dir;
  const std::string p = dir.write("a.etl", std::string("x"));
  file_info probe;
  ASSERT_TRUE(uni::get_file_info(probe, p));
  const u64 mtime = static_cast<u64>(probe.modified);
  struct window_case {
    i64 start;  // seconds relative to the file's time; no bound when absent
    i64 stop;
    bool use_start, use_stop, passes;
  };
  const window_case cases[] = {
      {0, 0, true, false, true},   {1, 0, true, false, false},  {0, 0, false, true, true},
      {0, -1, false, true, false}, {-5, 5, true, true, true},   {0, 0, true, true, true},
  };
  for (const window_case& c : cases) {
    cmd_params opts(0, 1);
    if (c.use_start) {
      opts.start_window.set = 1;
      opts.start_window.unix_seconds = static_cast<u32>(mtime + c.start);
    }
    if (c.use_stop) {
      opts.stop_window.set = 1;
      opts.stop_window.unix_seconds = static_cast<u32>(mtime + c.stop);
    }
    for (const filter_list& list : {filter_list{}, filter_list(1)}) {
      filter_list l = list;
      if (!l.empty()) parse_filter_patterns(l, "*.etl");
      file_info info;
      EXPECT_EQ(file_passes_filter(opts, nullptr, p, l, &info), c.passes)
          << c.start << " " << c.stop << " filters " << l.size();
    }
  }
}

}  // namespace
