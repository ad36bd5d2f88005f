#include "app/sibling_tool.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "app/vesk_user_opts.hpp"
#include "platform/file_filter.hpp"
#include "support/run_vesk.hpp"
#include "support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;

const std::string head39 = "\"cmdline: morlik ver: 0.39; -quiet\"\n";
const std::string body = "bxml 1\nbxml 2\n";

// A stand-in sibling: prints <its path>.head, each argument in brackets on
// its own line (when asked), then <its path>.body, and exits with `code`.
void write_standin(const temp_dir& dir, const std::string& name, const std::string& head,
                   const std::string& tail, bool echo_args = true, int code = 0) {
  std::string script = "#!/bin/sh\ncat \"$0.head\"\n";
  if (echo_args) script += "for a; do printf '[%s]\\n' \"$a\"; done\n";
  script += "cat \"$0.body\"\nexit " + std::to_string(code) + "\n";
  fs::permissions(dir.write(name, script), fs::perms(0755));
  dir.write(name + ".head", head);
  dir.write(name + ".body", tail);
}

std::string bracketed(const std::vector<std::string>& words) {
  std::string s;
  for (const std::string& w : words) s += "[" + w + "]\n";
  return s;
}

std::string folder_of(const temp_dir& dir) {
  return fs::path(dir.path("x")).parent_path().string();
}

TEST(SiblingTool, ModesPassEachArgumentAsOneEntry) {
  temp_dir dir;
  const std::string folder = folder_of(dir), pwned = dir.path("pwned");
  write_standin(dir, "morlik32", head39, body);
  write_standin(dir, "durvo32", "\"cmdline: durvo ver: 0.20;\"\n", body);
  const std::string hostile = "x$(touch " + pwned + ").etl";
  const std::string key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WINEVT\\Publishers";
  struct row {
    u8 providers;
    std::string value;
    u8 enc;
    std::vector<std::string> args;
  };
  const row rows[] = {
      {0, "C:\\a b\\x.dll", 0, {"C:\\a b\\x.dll", "-vesk", "-quiet"}},
      {0, "x.dll", 1, {"x.dll", "-vesk", "-enc", "-quiet"}},
      {0, hostile, 0, {hostile, "-vesk", "-quiet"}},
      {1,
       "/cases/SOFTWARE hive",
       1,
       {"-hive", "/cases/SOFTWARE hive", "-key", key, "-level", "1", "-extract",
        "(unnamed)|MessageFileName", "-dateformat", "mm/dd/yyyy", "-timeformat", "hh:mm:ss",
        "-pair_datetime", "-quiet"}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.value);
    vesk_user_opts opts;
    opts.pefile = opts.hive = r.value;
    opts.enc = r.enc;
    opts.date_format = "mm/dd/yyyy";
    opts.time_format = "hh:mm:ss";
    std::ostringstream out;
    testing::internal::CaptureStderr();
    const int status =
        r.providers ? run_providers(out, opts, &folder) : run_extract_bxml(out, opts, &folder);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out.str(), bracketed(r.args) + body);
  }
  EXPECT_FALSE(fs::exists(pwned));
}

TEST(SiblingTool, ExtractBxmlTakesNamesFromStandardInput) {
  temp_dir dir;
  const std::string folder = folder_of(dir);
  write_standin(dir, "morlik32", head39, body);
  const std::string runs = bracketed({"-vesk", "a.dll", "-quiet"}) + body +
                           bracketed({"-vesk", "c d.dll", "-quiet"}) + body;
  struct row {
    u8 pipe, enumdir;
    std::string names;
    int status;
    std::string out, err;
  };
  const row rows[] = {
      {1, 0, "a.dll\n\nb.txt\r\nc d.dll\n", 0, runs, "a.dll\nc d.dll\n"},
      {0, 1, "a.dll\r\n\r\nb.txt\nc d.dll", 0, runs, "a.dll\nc d.dll\n"},
      {1, 0, "b.txt\n\n", -1, "", ""},
      // a name holding a NUL is no file: not handed on under its text before the NUL
      {1, 0, std::string("a.dll\0.txt\nc d.dll\n", 19), 0, bracketed({"-vesk", "c d.dll", "-quiet"}) + body,
       "prob parsing file: a.dll[NUL].txt\nc d.dll\n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.names);
    vesk_user_opts opts;
    opts.pipe = r.pipe;
    opts.enumdir_given = r.enumdir;
    opts.enc = 1;  // never passed for listed names
    ASSERT_TRUE(parse_filter_patterns(opts.include_filters, "*.dll"));
    FILE* names = std::tmpfile();
    std::fwrite(r.names.data(), 1, r.names.size(), names);
    std::rewind(names);
    std::ostringstream out;
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_extract_bxml(out, opts, &folder, names), r.status);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), r.err);
    EXPECT_EQ(out.str(), r.out);
    std::fclose(names);
  }
}

TEST(SiblingTool, OutputIsCheckedBeforeItIsPassedOn) {
  temp_dir dir;
  const std::string folder = folder_of(dir);
  const std::string too_old =
      "This option requires, ver: 0.39 of morlik or later to work, aborting\n";
  const std::string unusable =
      "Problem with using dependency tool " + folder + "/morlik32, aborting\n";
  struct row {
    const char* what;
    std::string head, tail;
    int code;
    std::string tool;
    bool ok;
    std::string out, err;
  };
  const row rows[] = {
      {"0.38", "\"cmdline: morlik ver: 0.38; x\"\n", body, 0, "morlik", false, "", too_old},
      {"0.38 in capitals", "\"cmdline: MORLIK VER: 0.38;\"\n", body, 0, "morlik", false, "",
       too_old},
      {"0.39", head39, body, 0, "morlik", true, body, ""},
      {"0.40", "\"cmdline: morlik ver: 0.40; x\"\n", body, 0, "morlik", true, body, ""},
      {"1.2", "\"cmdline: morlik ver: 1.2; x\"\n", body, 0, "morlik", true, body, ""},
      {"no version", "\"cmdline: morlik x\"\n", body, 0, "morlik", true, body, ""},
      {"no header", "", body, 0, "morlik", true, body, ""},
      {"5 after the head", head39, "12345", 0, "morlik", false, "", unusable},
      {"6 after the head", head39, "123456", 0, "morlik", true, "123456", ""},
      {"carriage returns", "\"cmdline: morlik ver: 0.39;\"\r\n", "ab\r\ncd\ref\r\n", 0, "morlik",
       true, "ab\ncdef\n", ""},
      {"64 and .exe dropped", head39, body, 0, "morlik64.exe", true, body, ""},
      {"non-zero exit", head39, body, 1, "morlik", false, "",
       "prob calling run_cmd: " + folder + "/morlik32 -quiet\n"},
      {"missing", head39, body, 0, "durvo", false, "",
       "can't find the dependency tool: " + folder + "/durvo32, aborting\n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    write_standin(dir, "morlik32", r.head, r.tail, false, r.code);
    std::ostringstream out;
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_dependency_tool(out, r.tool, {}, &folder), r.ok);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), r.err);
    EXPECT_EQ(out.str(), r.out);
  }
}

// Through the program itself, which finds its siblings beside its own file:
// skipped while the program entry does not offer these modes.
TEST(SiblingTool, ProgramRunsTheSiblingsBesideIt) {
  temp_dir dir;
  const std::string vesk = dir.path("vesk64"), pwned = dir.path("pwned");
  fs::copy_file(VESK_BINARY, vesk);
  write_standin(dir, "morlik32", head39, body);
  write_standin(dir, "durvo32", "\"cmdline: durvo\"\n", body);
  const std::string hostile = "x$(touch " + pwned + ").etl";
  struct row {
    std::vector<std::string> args;
    std::string names, out;
  };
  const row rows[] = {
      {{"-extract_bxml", hostile}, "", bracketed({hostile, "-vesk", "-quiet"}) + body},
      {{"-pipe", "-extract_bxml"}, "a.dll\n", bracketed({"-vesk", "a.dll", "-quiet"}) + body},
      {{"-providers", "SOFT WARE", "-dateformat", "dd/mm/yyyy", "-timeformat", "hh:mm:ss"},
       "",
       bracketed({"-hive", "SOFT WARE", "-key",
                  "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WINEVT\\Publishers", "-level", "1",
                  "-extract", "(unnamed)|MessageFileName", "-dateformat", "dd/mm/yyyy",
                  "-timeformat", "hh:mm:ss", "-pair_datetime", "-quiet"}) +
           body},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.args[1]);
    const vesk_result v = run_program(vesk, r.args, r.names);
    if (v.err.find("is not available in this build yet") != std::string::npos) {
      GTEST_SKIP() << "the program entry does not run the siblings yet";
    }
    EXPECT_EQ(v.status, 0) << v.err;
    EXPECT_TRUE(v.out.ends_with(r.out)) << v.out;
  }
  EXPECT_FALSE(fs::exists(pwned));
}

}  // namespace
