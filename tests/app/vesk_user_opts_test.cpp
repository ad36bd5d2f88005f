#include "app/vesk_user_opts.hpp"

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"

namespace {

using args_t = std::vector<std::string>;

struct read_result {
  bool ok = false;
  std::string err;
};

read_result read(vesk_user_opts& o, args_t& args) {
  testing::internal::CaptureStderr();
  read_result r;
  r.ok = o.read_options(args);
  r.err = testing::internal::GetCapturedStderr();
  return r;
}

TEST(ToolOptions, LogListsSplitAtTheFirstSeparatorKind) {
  const std::pair<const char*, args_t> cases[] = {
      {"a.etl, b.etl", {"a.etl", "b.etl"}},
      {"a.etl | b,c.etl", {"a.etl", "b,c.etl"}},  // bars win over commas
      {"x.etl;y.etl", {"x.etl", "y.etl"}},
      {"  one.etl  ", {"one.etl"}},                 // a single name is trimmed too
      {"a.etl||b.etl|", {"a.etl", "b.etl"}},        // empty names dropped
      {"   ", {}},
  };
  for (const auto& [value, expected] : cases) {
    vesk_user_opts o;
    args_t args = {"vesk", "-LOG", value};
    ASSERT_TRUE(read(o, args).ok) << value;
    EXPECT_EQ(o.log_files, expected) << value;
    EXPECT_EQ(args, args_t{"vesk"}) << value;
  }
}

TEST(ToolOptions, SwitchesAndValuesAreConsumed) {
  vesk_user_opts o;
  args_t args = {"vesk", "-log", "a.etl", "-Stats", "-GUIDS", "-templates", "t.txt",
                 "-no_guessing", "-unknown"};
  ASSERT_TRUE(read(o, args).ok);
  EXPECT_EQ(o.run_settings.stats, 1);
  EXPECT_EQ(o.run_settings.guids, 1);
  EXPECT_EQ(o.templates, 1);
  EXPECT_EQ(o.templates_file, "t.txt");
  EXPECT_EQ(o.no_guessing, 1);
  EXPECT_EQ(args, (args_t{"vesk", "-unknown"}));  // what nobody reads stays
  // Without -timeformat, times carry nine fraction digits.
  EXPECT_EQ(o.time_format, "hh:mm:ss.xxxxxxxxx");
  EXPECT_EQ(o.date_time_fmt.fraction_digits(), 9u);
}

TEST(ToolOptions, GuidsAndStatsNeedAnInputList) {
  for (const char* option : {"-guids", "-stats"}) {
    vesk_user_opts alone;
    args_t a = {"vesk", option};
    auto r = read(alone, a);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.err, "This option requires -log <etl file>\n");

    vesk_user_opts enumdir;
    args_t b = {"vesk", option, "-enumdir", "/tmp"};
    EXPECT_FALSE(read(enumdir, b).ok);

    vesk_user_opts pipe;
    args_t c = {"vesk", option, "-pipe"};
    EXPECT_TRUE(read(pipe, c).ok);
  }
}

TEST(ToolOptions, ExtractBxmlAsABareFlagOnlyWithPipe) {
  vesk_user_opts with_pipe;
  args_t a = {"vesk", "-pipe", "-extract_bxml"};
  ASSERT_TRUE(read(with_pipe, a).ok);
  EXPECT_EQ(with_pipe.extract_bxml, 1);
  EXPECT_TRUE(with_pipe.pefile.empty());

  vesk_user_opts without;
  args_t b = {"vesk", "-extract_bxml"};
  ASSERT_TRUE(read(without, b).ok);
  EXPECT_EQ(without.extract_bxml, 0);

  vesk_user_opts valued;
  args_t c = {"vesk", "-extract_bxml", "x.dll", "-enc", "-providers", "SOFTWARE"};
  ASSERT_TRUE(read(valued, c).ok);
  EXPECT_EQ(valued.pefile, "x.dll");
  EXPECT_EQ(valued.enc, 1);
  EXPECT_EQ(valued.providers, 1);
  EXPECT_EQ(valued.hive, "SOFTWARE");
}

TEST(ToolOptions, Pullguid) {
  temp_dir dir;
  vesk_user_opts no_out;
  args_t a = {"vesk", "-log", "x.etl", "-pullguid", "garbage"};
  auto r = read(no_out, a);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.err, "This option requires -out <file>\n");

  vesk_user_opts bad;
  args_t b = {"vesk", "-log", "x.etl", "-out", dir.path("o.etl"), "-pullguid",
              "00000000-0000-0000-0000-00000000000"};
  r = read(bad, b);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(bad.run_settings.pullguid, 0);

  vesk_user_opts good;
  args_t c = {"vesk", "-log", "x.etl", "-out", dir.path("o.etl"), "-pullguid",
              "{9B79EE91-B5FD-41C0-A243-4248E266E9D0}"};
  ASSERT_TRUE(read(good, c).ok);
  EXPECT_EQ(good.run_settings.pullguid, 1);
  EXPECT_EQ(guid_to_string(good.run_settings.pullguid_guid), "9b79ee91-b5fd-41c0-a243-4248e266e9d0");
}

}  // namespace
