#include "platform/cmd_params.hpp"

#include <gtest/gtest.h>

namespace {

using args_t = std::vector<std::string>;

TEST(ArgumentScanner, MatchesWithoutRegardToCaseAndErases) {
  args_t args = {"vesk", "-CSV", "-log", "a.etl"};
  EXPECT_TRUE(has_flag("-csv", args, 0));
  EXPECT_EQ(args, (args_t{"vesk", "-log", "a.etl"}));
  EXPECT_FALSE(has_flag("-csv", args, 0));
  EXPECT_TRUE(has_flag("-LOG", args, 1));  // keep
  EXPECT_EQ(args.size(), 3u);
  EXPECT_FALSE(iequals("-csv", "-csvl2t"));
  EXPECT_TRUE(iequals("-Pipe", "-pIPE"));
}

TEST(ArgumentScanner, ValueOptions) {
  args_t args = {"vesk", "-out", "x.txt", "-out", "y.txt", "-log"};
  std::string v;
  ASSERT_TRUE(get_option_value("-OUT", v, args));
  EXPECT_EQ(v, "x.txt");
  EXPECT_EQ(args, (args_t{"vesk", "-out", "y.txt", "-log"}));  // the second stays
  // A value option in last place has no value: absent, and it stays.
  v = "unchanged";
  EXPECT_FALSE(get_option_value("-log", v, args));
  EXPECT_EQ(v, "unchanged");
  EXPECT_EQ(args.back(), "-log");
  EXPECT_FALSE(get_option_value("-missing", v, args));
}

TEST(ArgumentScanner, NoKeepSearchCanSkipTheProgramPath) {
  const args_t args = {"-pipe", "x"};
  EXPECT_TRUE(has_flag_nokeep("-pipe", args, 0));
  EXPECT_FALSE(has_flag_nokeep("-pipe", args, 1));
  EXPECT_EQ(args.size(), 2u);
}

TEST(CmdParams, DefaultsAndReset) {
  cmd_params p(1234, 1);
  EXPECT_EQ(p.start_time, 1234u);
  EXPECT_EQ(p.separator, '|');
  EXPECT_EQ(p.separator_replacement, ';');
  EXPECT_EQ(p.separator_text, " | ");
  EXPECT_EQ(p.date_format, "yyyy-mm-dd");
  EXPECT_EQ(p.time_format, "hh:mm:ss.xxx");
  EXPECT_EQ(p.cpu_instance, -1);
  EXPECT_EQ(p.status_display, 1);
  EXPECT_EQ(p.header_pending, 1);
  ASSERT_NE(p.scratch_stream, nullptr);
  *p.scratch_stream << "text";
  p.current_file = "f";
  p.clear_run_state();
  EXPECT_EQ(p.scratch_stream->str(), "");
  EXPECT_TRUE(p.current_file.empty());
  cmd_params no_scratch(0, 0);
  EXPECT_EQ(no_scratch.scratch_stream, nullptr);
}

TEST(CmdParams, CsvSeparator) {
  struct sep_case {
    const char* text;
    char sep;
    char repl;
    const char* stored;
  };
  const sep_case cases[] = {
      {" | ", '|', ';', " | "}, {",", ',', ' ', ","},     {"TAB", '\t', ' ', "\t"},
      {"\\t", '\t', ' ', "\t"},  {";", ';', ' ', ";"},     {"\t", '\t', ' ', "\t"},
      {" ; ", ';', ' ', " ; "}, {"::", ':', ' ', "::"},   {" ", ' ', '_', " "},
      {"", 0, 0, ""},
  };
  for (const auto& c : cases) {
    cmd_params p(0, 0);
    p.set_csv_separator(c.text);
    EXPECT_EQ(p.separator, c.sep) << c.text;
    EXPECT_EQ(p.separator_replacement, c.repl) << c.text;
    EXPECT_EQ(p.separator_text, c.stored) << c.text;
  }
  cmd_params quoted(0, 0);
  quoted.quoted_fields = 1;
  quoted.set_csv_separator(",");
  EXPECT_EQ(quoted.separator, 0);
  EXPECT_EQ(quoted.separator_replacement, 0);
  EXPECT_EQ(quoted.separator_text, ",");
}

}  // namespace
