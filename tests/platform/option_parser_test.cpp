#include "platform/option_parser.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/cmd_params.hpp"
#include "support/temp_dir.hpp"

namespace {

using args_t = std::vector<std::string>;

struct parsed {
  bool ok = false;
  std::string err;
  args_t left;
};

parsed parse(cmd_params& p, args_t args) {
  testing::internal::CaptureStderr();
  parsed r;
  r.ok = parse_common_options(p, args);
  r.err = testing::internal::GetCapturedStderr();
  r.left = args;
  return r;
}

TEST(CommonOptions, CommandLineAndProgramName) {
  cmd_params p(0, 1);
  auto r = parse(p, {"/usr/bin/vesk.bin", "-log", "my file.etl", "-quiet"});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(p.command_line, "/usr/bin/vesk.bin -log \"my file.etl\" -quiet");
  EXPECT_EQ(p.program_name, "vesk");
  EXPECT_EQ(p.status_display, 0);
  EXPECT_EQ(r.left, (args_t{"/usr/bin/vesk.bin", "-log", "my file.etl"}));
  cmd_params empty(0, 1);
  EXPECT_FALSE(parse(empty, {}).ok);
}

// The table order decides between conflicting switches, not the command line.
TEST(CommonOptions, OutputKindSwitches) {
  cmd_params a(0, 1);
  ASSERT_TRUE(parse(a, {"vesk", "-xml", "-csv"}).ok);
  EXPECT_EQ(a.xml, 1);
  EXPECT_EQ(a.csv, 0);

  cmd_params b(0, 1);
  ASSERT_TRUE(parse(b, {"vesk", "-xml", "-csvgen"}).ok);
  EXPECT_EQ(b.xml, 1);
  EXPECT_EQ(b.csvgen, 1);

  cmd_params c(0, 1);
  ASSERT_TRUE(parse(c, {"vesk", "-csv"}).ok);
  EXPECT_EQ(c.no_whitespace, 1);
  EXPECT_EQ(c.separator, ',');
  cmd_params d(0, 1);
  ASSERT_TRUE(parse(d, {"vesk", "-csv", "-pair_datetime"}).ok);
  EXPECT_EQ(d.no_whitespace, 0);

  cmd_params e(0, 1);
  ASSERT_TRUE(parse(e, {"vesk", "-csv_separator", ";", "-enable_quoted_csv_fields"}).ok);
  EXPECT_EQ(e.quoted_fields, 1);
  EXPECT_EQ(e.separator, 0);
  EXPECT_EQ(e.separator_text, ";");
  EXPECT_EQ(e.blank_before_time, 0);

  cmd_params f(0, 1);
  ASSERT_TRUE(parse(f, {"vesk", "-no_whitespace"}).ok);
  EXPECT_EQ(f.separator_text, "|");
}

TEST(CommonOptions, Aliases) {
  cmd_params p(0, 1);
  auto r = parse(p, {"vesk", "-alias", "a|b|c"});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.err, "imbalanced alias to true pathfiles, aborting\n");
  cmd_params q(0, 1);
  ASSERT_TRUE(parse(q, {"vesk", "-alias", "A|/x", "-aliaspath", "C:/|\"/mnt/c/\""}).ok);
  EXPECT_EQ(q.aliases.at("a"), "/x");
  EXPECT_EQ(q.alias_paths.at("c:"), "/mnt/c");
}

TEST(CommonOptions, NotOfferedOptionsStopTheParse) {
  cmd_params p(0, 1);
  auto r = parse(p, {"vesk", "-sqlite", "db", "-quiet"});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.err, "This option is not offered in this build\n");
  EXPECT_EQ(p.status_display, 1);  // later options are not looked at
}

TEST(CommonOptions, DateAndTimeFormats) {
  cmd_params p(0, 1);
  auto r = parse(p, {"vesk", "-dateformat", "mm/dd/yyy", "-timeformat", "hh-mm-ss"});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.err,
            "invalid mm/dd/yyy, using default format\ninvalid hh-mm-ss, using default format\n");
  EXPECT_EQ(p.date_format, "yyyy-mm-dd");
  EXPECT_EQ(p.time_format, "hh:mm:ss.xxx");

  cmd_params q(0, 1);
  ASSERT_TRUE(parse(q, {"vesk", "-dateformat", "MM/DD/YYYY", "-timeformat", "hh:mm:ss.xxxxxx"}).ok);
  EXPECT_EQ(q.date_format, "mm/dd/yyyy");
  EXPECT_EQ(q.date_time_fmt.date_flags,
            date_time_format::month_digits | date_time_format::year4 | date_time_format::order_mdy);
  EXPECT_EQ(q.date_time_fmt.fraction_digits(), 6u);
}

// Times, dates, GUIDs and numbers are never rewritten, so a separator that
// one of them can hold under the active formats would split it for every
// reader: it is refused, naming the clash. The date renderer writes no comma,
// so "," stays accepted beside a date pattern that holds one. Under quoting
// such cells are quoted instead.
TEST(CommonOptions, SeparatorsThatFixedFormsHoldAreRefused) {
  const struct {
    args_t args;
    std::string err;  // empty: accepted
  } cases[] = {
      {{"-csv_separator", ":"}, R"(separator ":" refused: times hold ':')"},
      {{"-csv_separator", "x"}, R"(separator "x" refused: hexadecimal numbers ("0x") hold 'x')"},
      {{"-csv_separator", " - "}, R"(separator " - " refused: GUIDs hold '-')"},
      {{"-csv_separator", ";7"}, R"(separator ";7" refused: numbers, dates and times hold '7')"},
      {{"-csv_separator", "."}, R"(separator "." refused: times hold '.')"},
      {{"-csv_separator", ".", "-timeformat", "hh:mm:ss"}, ""},
      {{"-csv_separator", "  "}, R"(separator "  " refused: dates and times hold blanks)"},
      {{"-csv_separator", "/", "-dateformat", "dd/mm/yyyy"}, R"(separator "/" refused: dates hold '/')"},
      {{"-csv_separator", "J", "-dateformat", "MMM dd, yy"}, R"(separator "J" refused: month names in dates hold 'J')"},
      {{"-csv_separator", "J"}, ""},
      {{"-csv", "-dateformat", "mmm dd, yy"}, ""},
      {{"-csv_separator", "~~"}, ""},
      {{"-csv_separator", ":", "-enable_quoted_csv_fields"}, ""},
      // no layout keeps lines apart with these, quoting or not
      {{"-csv_separator", "\""}, R"(separator """ refused: a double quote opens a quoted field for a CSV reader)"},
      {{"-csv_separator", ";\n"}, R"(separator ";[LF]" refused: a line break ends the line)"},
      {{"-csv_separator", "\r", "-enable_quoted_csv_fields"}, R"(separator "[CR]" refused: a line break ends the line)"},
      {{"-csv_separator", " ", "-enable_quoted_csv_fields"}, R"(separator " " refused: dates and times hold blanks)"},
  };
  for (const auto& c : cases) {
    args_t args = c.args;
    args.insert(args.begin(), "vesk");
    SCOPED_TRACE(args[2]);
    cmd_params p(0, 1);
    const parsed r = parse(p, args);
    EXPECT_EQ(r.ok, c.err.empty());
    const bool splits = c.err.find(" hold ") != std::string::npos;
    EXPECT_EQ(r.err, c.err.empty() ? "" : c.err + (splits ? ", and a separator must not split them\n" : "\n"));
  }
}

// A pattern of the right length that does not compile (no day) would print
// every date empty: it falls back to the default with a message.
TEST(CommonOptions, UncompilableDateFormatFallsBack) {
  cmd_params p(0, 1);
  auto r = parse(p, {"vesk", "-dateformat", "mm/yyyy/"});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.err, "invalid mm/yyyy/, using default format\n");
  EXPECT_EQ(p.date_format, "yyyy-mm-dd");
  EXPECT_EQ(p.date_time_fmt.date_flags,
            date_time_format::month_digits | date_time_format::year4 | date_time_format::order_ymd);
}

TEST(CommonOptions, DateWindow) {
  cmd_params p(0, 1);
  ASSERT_TRUE(parse(p, {"vesk", "-cmd_start_time", "2020/01/02"}).ok);
  ASSERT_EQ(p.start_window.set, 1);
  EXPECT_EQ(p.start_window.unix_seconds, 1577923200u);  // 2020-01-02 00:00:00 UTC
  EXPECT_EQ(p.stop_window.set, 1);
  EXPECT_EQ(p.stop_window.filetime, ~u64{0});

  cmd_params q(0, 1);
  ASSERT_TRUE(parse(q, {"vesk", "-cmd_stop_time", "2020-01-02"}).ok);
  EXPECT_EQ(q.stop_window.unix_seconds, 1577923200u + 86399);

  cmd_params r(0, 1);
  auto res = parse(r, {"vesk", "-cmd_start_time", "2020/01/02", "-cmd_stop_time", "2020/01/01"});
  ASSERT_TRUE(res.ok);
  EXPECT_EQ(res.err, "invalid stop time, ignoring\n");
  EXPECT_EQ(r.stop_window.set, 0);

  cmd_params s(0, 1);
  EXPECT_FALSE(parse(s, {"vesk", "-cmd_start_time", "20200102"}).ok);

  // A day the month does not have, day 0 and month 0 are refused, not rolled
  // into another date.
  for (const char* bad : {"2014-02-30", "2014-02-00", "2014-00-10"}) {
    cmd_params t(0, 1);
    auto bad_day = parse(t, {"vesk", "-cmd_start_time", bad});
    ASSERT_TRUE(bad_day.ok);
    EXPECT_EQ(bad_day.err, "invalid start time, ignoring\n") << bad;
    EXPECT_EQ(t.start_window.set, 0);
  }
  // 12:30 pm is half past noon, not half past midnight of the next day
  cmd_params noon(0, 1);
  ASSERT_TRUE(parse(noon, {"vesk", "-cmd_start_time", "2020-01-02 12:30 pm"}).ok);
  EXPECT_EQ(noon.start_window.unix_seconds, 1577923200u + 12 * 3600 + 30 * 60);

  // Before 1970 the 32-bit seconds bound is 0, not a wrapped count.
  cmd_params u(0, 1);
  ASSERT_TRUE(parse(u, {"vesk", "-cmd_start_time", "1960/01/01"}).ok);
  EXPECT_EQ(u.start_window.set, 1);
  EXPECT_EQ(u.start_window.unix_seconds, 0u);
}

TEST(CommonOptions, SignatureFilters) {
  cmd_params p(0, 1);
  ASSERT_TRUE(parse(p, {"vesk", "-filter_sig", "4d 5a|0"}).ok);
  ASSERT_EQ(p.include_filters.size(), 1u);
  EXPECT_EQ(p.include_filters[0].signature, (byte_array{0x4d, 0x5a}));
  EXPECT_EQ(p.include_filters[0].signature_offset, 0u);
  cmd_params q(0, 1);
  ASSERT_TRUE(parse(q, {"vesk", "-filter_sig", ""}).ok);
  EXPECT_TRUE(q.include_filters.empty());
}

// The probe checks that the results file can be written without touching
// an existing file (a command line rejected later must not cost it), and
// leaves no file of its own behind.
TEST(CommonOptions, OutputProbeKeepsExistingFilesAndLeavesNoneBehind) {
  temp_dir dir;
  const std::string existing = dir.write("results.txt", std::string("old"));
  for (const args_t& args : {args_t{"vesk", "-out", existing}, args_t{"vesk", "-out", existing, "-append"}}) {
    cmd_params p(0, 1);
    ASSERT_TRUE(parse(p, args).ok);
    EXPECT_EQ(p.out_path, existing);
    EXPECT_EQ(p.out_given, 1);
    EXPECT_EQ(read_text(existing), "old");
  }
  const std::string fresh = dir.path("fresh.txt");
  cmd_params p(0, 1);
  ASSERT_TRUE(parse(p, {"vesk", "-out", fresh}).ok);
  struct stat st;
  EXPECT_NE(stat(fresh.c_str(), &st), 0);  // created and removed again

  cmd_params q(0, 1);
  const std::string bad = dir.path("no/such/folder/x.txt");
  auto r = parse(q, {"vesk", "-out", bad});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.err, "prob opening file " + bad + " for output, aborting\n");
}

}  // namespace
