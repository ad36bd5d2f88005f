#include "app/name_source.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

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

// A log of one event, read without a problem.
byte_array tiny_log() {
  return join({byte_array(72, 0),
               buffer_builder({.buffer_size = 0x200, .time = ft_2021}, true).add(build_record(record_event{})).finish()});
}

// The lines of a text in byte order (a listing's order is the file system's).
std::string sorted_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
  std::sort(lines.begin(), lines.end());
  std::string joined;
  for (const std::string& line : lines) joined += line;
  return joined;
}

TEST(NameSource, WalkToADepth) {
  const std::string root = case_tree_root();
  auto with_root_files = [](std::vector<std::string> extra) {
    for (const char* f : {"A.ETL", "a.etl", "bad\xff.etl", "tr*.etl", "with blank.etl"}) extra.push_back(f);
    return extra;
  };
  const std::string links_named = "symbolic link not followed: " + root + "link\n" +
                                  "symbolic link not followed: " + root + "loop\n";
  struct walk_case {
    const char* start;
    u32 depth;
    const char* include;
    const char* skip;
    std::vector<std::string> files;
    bool root_links_met;  // "link" and "loop" are named, never followed
  };
  const walk_case cases[] = {
      {"", 0, "*.etl", "", with_root_files({}), true},
      {"", 1, "*.etl", "", with_root_files({"*/s.etl", "sub1/x.etl"}), true},
      {"", 2, "*.etl", "", with_root_files({"*/s.etl", "sub1/deeper/y.etl", "sub1/x.etl", "sub2/logs/w.etl"}), true},
      {"", 9, "*.etl", "*y.etl",
       with_root_files({"*/s.etl", "sub1/deeper/deepest/z.etl", "sub1/x.etl", "sub2/logs/w.etl"}), true},
      // stars in the start folder walk exactly the folders they match
      {"su*", 0, "*.etl", "", {"sub1/x.etl"}, false},
      {"su*", 1, "", "", {"sub1/deeper/y.etl", "sub1/x.etl", "sub2/logs/w.etl"}, false},
      {"*/lo*", 0, "", "", {"sub2/logs/w.etl"}, true},
      {"*", 0, "*.etl", "", {"*/s.etl", "sub1/x.etl"}, true},
  };
  for (const walk_case& c : cases) {
    SCOPED_TRACE(std::string(c.start) + " " + std::to_string(c.depth));
    const cmd_params opts(0, 1);
    zarnportdir::stdin_stream_ex source(&opts);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(source.init_enumdir(root + c.start, c.depth, filters_of(c.include), filters_of(c.skip)));
    std::vector<std::string> names;
    std::string name;
    while (source.next_name(name, 1)) names.push_back(name.substr(root.size()));
    const std::string err = testing::internal::GetCapturedStderr();
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected = c.files;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
    EXPECT_EQ(sorted_lines(err), c.root_links_met ? links_named : "");
    EXPECT_EQ(source.folders_not_listed(), 0u);
  }
  // nothing to walk: no folder, or stars that match none (links never match)
  for (const std::string& start : {std::string(), root + "missing", root + "no*", root + "l*"}) {
    const cmd_params opts(0, 1);
    zarnportdir::stdin_stream_ex source(&opts);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(source.init_enumdir(start, 1, {}, {})) << start;
    EXPECT_EQ(sorted_lines(testing::internal::GetCapturedStderr()), start == root + "l*" ? links_named : "");
  }
}

// A folder of logs built from bytes: every log the walk or the pipe names is
// read, the others are named as not readable, -quiet or not.
TEST(NameSource, PipeAndEnumdirReadTheirLogs) {
  temp_dir dir;
  const byte_array log = tiny_log();
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
  // links to a log and to a folder of logs outside the case: named, not read
  (void)dir.write("outside.etl", log);
  std::filesystem::create_directories(dir.path("elsewhere"));
  (void)dir.write("elsewhere/e.etl", log);
  std::filesystem::create_symlink(dir.path("outside.etl"), root + "/sub/link.etl");
  std::filesystem::create_directory_symlink(dir.path("elsewhere"), root + "/elsewhere");
  const vesk_result walked = run_vesk({"-enumdir", root, "-num_subdirs", "1", "-filter", "*.etl", "-quiet"});
  EXPECT_EQ(walked.status, 1);
  EXPECT_EQ(walked.err, "symbolic link not followed: " + root + "/elsewhere\n" +
                            "symbolic link not followed: " + root + "/sub/link.etl\n" +
                            "prob parsing file: " + root + "/sub/bad.etl\n");
  EXPECT_EQ(files_read(walked), (std::vector<std::string>{"a.etl", "sub/b c.etl", "sub/x\xfe.etl"}));

  // a name holding a NUL is no file: never opened under its text before the NUL
  const vesk_result piped =
      run_vesk({"-pipe", "-filter", "*.etl", "-quiet"}, root + "/a.etl\n\n" + root + "/notes.txt\r\n" + root +
                                                            "/sub/deep/d.etl\n" + root + "/a.etl" +
                                                            std::string(1, '\0') + ".bak\n");
  EXPECT_EQ(piped.status, 1);
  EXPECT_EQ(piped.err, "prob parsing file: " + root + "/a.etl[NUL].bak\n");
  EXPECT_EQ(files_read(piped), (std::vector<std::string>{"a.etl", "sub/deep/d.etl"}));

  // a relative folder is walked with '/' between its names
  const vesk_result relative = run_program(VESK_BINARY, {"-enumdir", "case", "-num_subdirs", "0", "-quiet"},
                                           "", "cd '" + dir.path("") + "' &&");
  EXPECT_NE(relative.out.find("file: case/a.etl\n"), std::string::npos) << relative.out;

  // a start folder that cannot be listed, or stars that match no folder
  for (const std::string& start : {dir.path("nowhere"), dir.path("nowhere/*"), root + "/zz*"}) {
    const vesk_result missing = run_vesk({"-enumdir", start, "-quiet"});
    EXPECT_EQ(missing.status, 255);
    EXPECT_EQ(missing.err, "prob listing folder: " + start + "\n");
  }
}

// A subfolder the walk cannot list is named and leaves the run incomplete;
// the logs beside it are read. As root the folder's permissions stop the
// listing only once the capabilities that bypass them are dropped.
TEST(NameSource, UnlistableSubfolderIsNamed) {
  std::string drop;
  if (::geteuid() == 0) {
    if (std::system("command -v setpriv >/dev/null 2>&1") != 0) GTEST_SKIP() << "running as root without setpriv";
    drop = "setpriv --bounding-set -dac_override,-dac_read_search";
  }
  temp_dir dir;
  std::filesystem::create_directories(dir.path("case/locked"));
  (void)dir.write("case/a.etl", tiny_log());
  (void)dir.write("case/locked/b.etl", tiny_log());
  namespace fs = std::filesystem;
  fs::permissions(dir.path("case/locked"), fs::perms::none);
  const vesk_result r = run_program(VESK_BINARY, {"-enumdir", dir.path("case"), "-num_subdirs", "1", "-quiet"}, "", drop);
  // stars that match only folders that cannot be listed leave nothing to
  // read, as a start folder named plainly does
  const std::string only_locked = dir.path("case/lock*");
  const vesk_result starred = run_program(VESK_BINARY, {"-enumdir", only_locked, "-quiet"}, "", drop);
  fs::permissions(dir.path("case/locked"), fs::perms::owner_all);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "prob listing folder: " + dir.path("case/locked/") + "\n");
  EXPECT_NE(r.out.find("file: " + dir.path("case/a.etl") + "\n"), std::string::npos);
  EXPECT_EQ(starred.status, 255);
  EXPECT_EQ(starred.err, "prob listing folder: " + dir.path("case/locked/") + "\nprob listing folder: " +
                             only_locked + "\n");
}

}  // namespace
