#include "etl/header_section.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>
#include <string>
#include <vector>

#include "etl/logfile_header.hpp"
#include "support/log_builder.hpp"
#include "support/tool_options.hpp"

using namespace logbuild;

namespace {

logfile_header_info parsed(const logfile_header_fields& f) {
  const byte_array buf = build_logfile_first_buffer(f);
  logfile_header_info info;
  EXPECT_TRUE(parse_logfile_header(info, {buf.data(), buf.size()}));
  return info;
}

std::string pad(const std::string& s, std::size_t w) {
  return s.size() < w ? s + std::string(w - s.size(), ' ') : s;
}

std::string join(const std::vector<std::string>& cells, const std::string& sep) {
  std::string line;
  for (std::size_t i = 0; i < cells.size(); ++i) line += (i ? sep : "") + cells[i];
  return line + "\n";
}

std::string section(const logfile_header_info& info, cmd_params& options) {
  std::ostringstream out;
  print_header_info(info, out, options);
  return out.str();
}

std::string fields_text(const logfile_header_info& info, const cmd_params& options) {
  std::ostringstream out;
  print_logfile_header_fields(info, out, options);
  return out.str();
}

// The default log of the builder: QPC clock at 10 MHz, started 2020-01-01,
// ended 2021-01-01, booted an hour before the start, bias -60 minutes.
const std::string qpc_fields_hex =
    "data{\"00-TimeType:QPC time\";\"01-Version:0x05010a00\";\"02-NumProcessors:0x00000008\";"
    "\"03-EndTime:2021-01-01T00:00:00.000000000Z\";\"04-TimerRes:0x0002625a\";"
    "\"05-LogfileMode:0x00000001\";\"06-CPUSpeed:0x000007c8\";"
    "\"07-TimezoneBias:0xffffffc4 (-1 hours)\";\"08-DaylightBias:0xffffffc4 (-1hours)\";"
    "\"09-BootTime:2019-12-31T23:00:00.000000000Z\";\"10-PerfFreq:0x0000000000989680\";"
    "\"11-LogfileName:c:/logs/test.etl\"}";

const std::string qpc_fields_dec =
    "data{\"00-TimeType:QPC time\";\"01-Version:83954176\";\"02-NumProcessors:8\";"
    "\"03-EndTime:2021-01-01T00:00:00.000000000Z\";\"04-TimerRes:156250\";"
    "\"05-LogfileMode:1\";\"06-CPUSpeed:1992\";"
    "\"07-TimezoneBias:-60 (-1 hours)\";\"08-DaylightBias:-60 (-1hours)\";"
    "\"09-BootTime:2019-12-31T23:00:00.000000000Z\";\"10-PerfFreq:10000000\";"
    "\"11-LogfileName:c:/logs/test.etl\"}";

const std::string default_header_line =
    " " + pad("created [utc or #ticks]", 29) + " | " + pad("provider guid", 36) + " | " +
    pad("provider name", 36) + " | " + pad("session name", 36) + " | " + pad("activity id", 36) +
    " | event id | process id | thread id | channel | level | opcode | task id | " +
    pad("keywords", 18) + " | " + pad("processor time", 18) + " | processor | " +
    pad("extra data", 16) + "\n";

// ---- the logfile-header row ----

TEST(HeaderSection, QpcLogDefaultTable) {
  tool_options t({});
  const std::string row = join({" 2020-01-01 00:00:00.000000000", pad("<header info only>", 36),
                                pad("", 36), pad("Test Session", 36), pad("", 36), pad("", 8),
                                "0x00001ddc", "0x0001934", pad("", 7), pad("", 5), pad("", 6),
                                pad("", 7), pad("", 18), "0x0000000200000002", pad("", 9),
                                qpc_fields_hex},
                               " | ");
  EXPECT_EQ(section(parsed({}), t.options), default_header_line + row);
}

TEST(HeaderSection, QpcLogDelimitedForms) {
  const std::string header_csv =
      " created [utc or #ticks],provider guid,provider name,session name,activity id,event id,"
      "process id,thread id,channel,level,opcode,task id,keywords,processor time,processor,"
      "extra data\n";
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::string expected;
  } cases[] = {
      {"csv",
       {"-csv"},
       header_csv + "2020-01-01 00:00:00.000000000,<header info only>,,Test Session,,,0x00001ddc,"
                    "0x00001934,,,,,,0x200000002,," +
           qpc_fields_hex + "\n"},
      {"no_whitespace",
       {"-no_whitespace"},
       "created [utc or #ticks]|provider guid|provider name|session name|activity id|event id|"
       "process id|thread id|channel|level|opcode|task id|keywords|processor time|processor|"
       "extra data\n"
       "2020-01-01 00:00:00.000000000|<header info only>||Test Session|||0x00001ddc|0x00001934"
       "||||||0x200000002||" +
           qpc_fields_hex + "\n"},
      {"csv quoted",
       {"-csv", "-enable_quoted_csv_fields"},
       header_csv.substr(1) +
           "2020-01-01 00:00:00.000000000,\"<header info only>\",\"\",\"Test Session\",\"\",\"\","
           "0x00001ddc,0x00001934,\"\",\"\",\"\",\"\",\"\",0x200000002,\"\","
           "\"data{\"\"00-TimeType:QPC time\"\";\"\"01-Version:0x05010a00\"\";"
           "\"\"02-NumProcessors:0x00000008\"\";\"\"03-EndTime:2021-01-01T00:00:00.000000000Z\"\";"
           "\"\"04-TimerRes:0x0002625a\"\";\"\"05-LogfileMode:0x00000001\"\";"
           "\"\"06-CPUSpeed:0x000007c8\"\";\"\"07-TimezoneBias:0xffffffc4 (-1 hours)\"\";"
           "\"\"08-DaylightBias:0xffffffc4 (-1hours)\"\";"
           "\"\"09-BootTime:2019-12-31T23:00:00.000000000Z\"\";"
           "\"\"10-PerfFreq:0x0000000000989680\"\";\"\"11-LogfileName:c:/logs/test.etl\"\"}\"\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tool_options t(c.args);
    EXPECT_EQ(section(parsed({}), t.options), c.expected);
  }
}

TEST(HeaderSection, QpcLogBase10) {
  tool_options t({"-base10"});
  const std::string row = join({" 2020-01-01 00:00:00.000000000", pad("<header info only>", 36),
                                pad("", 36), pad("Test Session", 36), pad("", 36), pad("", 8),
                                "      7644", "     6452", pad("", 7), pad("", 5), pad("", 6),
                                pad("", 7), pad("", 18), "0x0000000200000002", pad("", 9),
                                qpc_fields_dec},
                               " | ");
  EXPECT_EQ(section(parsed({}), t.options), default_header_line + row);
}

// The clock type decides the TimeType item, by the clock flags of the info.
TEST(HeaderSection, TimeTypeByClock) {
  const struct {
    u32 clock_type;
    const char* expected;
  } cases[] = {{1, "QPC time"}, {3, "CPU Cycle Counter"}, {2, "Filetime"}, {0, "Filetime"}, {7, "Filetime"}};
  tool_options t({"-base10"});
  for (const auto& c : cases) {
    logfile_header_fields f;
    f.clock_type = c.clock_type;
    f.cpu_speed_mhz = 2000;
    const std::string text = fields_text(parsed(f), t.options);
    EXPECT_EQ(text.substr(0, text.find(';')), std::string("data{\"00-TimeType:") + c.expected + "\"")
        << c.clock_type;
  }
}

TEST(HeaderSection, CpuCycleLogNoWhitespace) {
  tool_options t({"-no_whitespace", "-base10"});
  logfile_header_fields f;
  f.clock_type = 3;
  f.cpu_speed_mhz = 2000;
  f.perf_freq = 2338439;
  f.timezone_bias = 480;
  f.daylight_bias = -60;
  const std::string text = section(parsed(f), t.options);
  const std::string row = text.substr(text.find('\n') + 1);
  EXPECT_EQ(row,
            "2020-01-01 00:00:00.000000000|<header info only>||Test Session|||7644|6452|||||"
            "|0x200000002||data{\"00-TimeType:CPU Cycle Counter\";\"01-Version:83954176\";"
            "\"02-NumProcessors:8\";\"03-EndTime:2021-01-01T00:00:00.000000000Z\";"
            "\"04-TimerRes:156250\";\"05-LogfileMode:1\";\"06-CPUSpeed:2000\";"
            "\"07-TimezoneBias:480 (8 hours)\";\"08-DaylightBias:-60 (-1hours)\";"
            "\"09-BootTime:2019-12-31T23:00:00.000000000Z\";\"10-PerfFreq:2338439\";"
            "\"11-LogfileName:c:/logs/test.etl\"}\n");
}

// A FILETIME clock log; times that are not FILETIMEs are shown as numbers.
TEST(HeaderSection, FiletimeClockLogAndTimesThatAreNotFiletimes) {
  tool_options t({"-csv"});
  logfile_header_fields f;
  f.clock_type = 2;
  f.end_time = 0;                        // never written
  f.boot_time = 0x8000000000000000ull;   // beyond any date
  f.timezone_bias = 0;
  f.daylight_bias = 0;
  const std::string text = section(parsed(f), t.options);
  EXPECT_EQ(text.substr(text.find('\n') + 1),
            "2020-01-01 00:00:00.000000000,<header info only>,,Test Session,,,0x00001ddc,"
            "0x00001934,,,,,,0x200000002,,data{\"00-TimeType:Filetime\";\"01-Version:0x05010a00\";"
            "\"02-NumProcessors:0x00000008\";\"03-EndTime:0x0000000000000000\";"
            "\"04-TimerRes:0x0002625a\";\"05-LogfileMode:0x00000001\";\"06-CPUSpeed:0x000007c8\";"
            "\"07-TimezoneBias:0x00000000\";\"08-DaylightBias:0x00000000\";"
            "\"09-BootTime:0x8000000000000000\";\"10-PerfFreq:0x0000000000989680\";"
            "\"11-LogfileName:c:/logs/test.etl\"}\n");
}

// A start time that is a tick count: the created column shows the record's
// own raw timestamp, never a date made from ticks.
TEST(HeaderSection, StartTimeNotFiletimeShowsRawNumber) {
  logfile_header_fields f;
  f.start_time = 0x0000000012345678ull;
  const logfile_header_info info = parsed(f);
  {
    tool_options t({});
    const std::string text = section(info, t.options);
    const std::string row = text.substr(text.find('\n') + 1);
    EXPECT_EQ(row.substr(0, 33), " " + pad("0x0000027f2e70e03d", 29) + " | ");
  }
  {
    tool_options t({"-csv", "-base10"});
    const std::string text = section(info, t.options);
    // the blank before a tick count stays without padding
    EXPECT_EQ(text.substr(text.find('\n') + 1, 28), " 2745263251517,<header info ");
  }
}

TEST(HeaderSection, DateAndTimeFormatsApplyToFieldTimes) {
  tool_options t({"-dateformat", "mm/dd/yyyy", "-timeformat", "hh:mm:ss"});
  const std::string text = fields_text(parsed({}), t.options);
  EXPECT_NE(text.find("\"03-EndTime:01/01/2021T00:00:00Z\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"09-BootTime:12/31/2019T23:00:00Z\""), std::string::npos) << text;
}

// ---- time-zone biases in hours ----

TEST(HeaderSection, BiasHours) {
  const struct {
    i32 minutes;
    const char* hours;
  } cases[] = {{60, "1"},        {-60, "-1"},      {-330, "-5.5"}, {330, "5.5"},
               {345, "5.75"},    {-570, "-9.5"},   {765, "12.75"}, {-30, "-0.5"},
               {1, "0.02"},      {-59, "-0.98"},   {-480, "-8"},   {0, "0"},
               {INT_MAX, "35791394.12"}, {INT_MIN, "-35791394.13"}};
  for (const auto& c : cases) EXPECT_EQ(bias_hours_text(c.minutes), c.hours) << c.minutes;
}

TEST(HeaderSection, NegativeFractionalBiasInFields) {
  logfile_header_fields f;
  f.timezone_bias = -330;
  f.daylight_bias = -45;
  tool_options dec({"-base10"});
  const std::string text = fields_text(parsed(f), dec.options);
  EXPECT_NE(text.find("\"07-TimezoneBias:-330 (-5.5 hours)\";\"08-DaylightBias:-45 (-0.75hours)\""),
            std::string::npos)
      << text;
  tool_options hex({});
  const std::string hex_text = fields_text(parsed(f), hex.options);
  EXPECT_NE(hex_text.find("\"07-TimezoneBias:0xfffffeb6 (-5.5 hours)\";"
                          "\"08-DaylightBias:0xffffffd3 (-0.75hours)\""),
            std::string::npos)
      << hex_text;
}

// ---- the log-file name ----

TEST(HeaderSection, LogFileNameEscapedOnACopy) {
  EXPECT_EQ(escaped_log_file_name("c:\\a\\b.etl"), "c:/a/b.etl");
  EXPECT_EQ(escaped_log_file_name("c:\\\"x\".etl"), "c:/\\\"x\\\".etl");
  EXPECT_EQ(escaped_log_file_name(""), "");

  logfile_header_fields f;
  f.log_file_name = u"\\\\srv\\share\\\"q\".etl";
  const logfile_header_info info = parsed(f);
  const std::string before = info.log_file_name;
  tool_options t({"-no_whitespace"});
  const std::string text = section(info, t.options);
  const std::string tail = "\"11-LogfileName://srv/share/\\\"q\\\".etl\"}\n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  // the recorded name itself is what later output shows: unchanged
  EXPECT_EQ(info.log_file_name, before);
  EXPECT_EQ(info.log_file_name, "\\\\srv\\share\\\"q\".etl");
}

// A damaged name holding the separator or a line break cannot split the row.
TEST(HeaderSection, LogFileNameCannotSplitTheRow) {
  logfile_header_fields f;
  f.log_file_name = u"c:\\a|b\r\nc.etl";
  tool_options t({});
  const std::string text = section(parsed(f), t.options);
  const std::string row = text.substr(text.find('\n') + 1);
  EXPECT_EQ(row.find('\n'), row.size() - 1);
  EXPECT_EQ(row.find("a|b"), std::string::npos);
  EXPECT_NE(row.find("11-LogfileName:c:/a;b"), std::string::npos) << row;
}

// ---- log2timeline and the pending header ----

TEST(HeaderSection, TimelineWritesNothing) {
  for (u64 start : {ft_2020, u64{0}}) {
    logfile_header_fields f;
    f.start_time = start;
    tool_options t({"-csvl2t"});
    EXPECT_EQ(section(parsed(f), t.options), "") << start;
    EXPECT_EQ(t.options.header_pending, 1);  // the timeline writer writes its own header
  }
}

TEST(HeaderSection, TableHeaderOnlyWhenPending) {
  tool_options t({"-csv"});
  t.options.header_pending = 0;
  t.options.header_cells.clear();
  // without header cells there are no columns: nothing at all
  EXPECT_EQ(section(parsed({}), t.options), "");
  t.options.header_pending = 1;
  const std::string first = section(parsed({}), t.options);
  const std::string second = section(parsed({}), t.options);
  EXPECT_EQ(first.substr(first.find('\n') + 1), second);
}

// ---- files without a logfile header ----

std::string header_only(std::span<const u8> copy, cmd_params& options, bool& ok) {
  std::ostringstream out;
  ok = print_header_info_only(copy, out, options);
  return out.str();
}

TEST(HeaderSectionOnly, RlfsAndZeroedRows) {
  rlfs_header_fields ticks_start;
  ticks_start.start_time = 0x00000001000000ffull;  // a tick count
  const struct {
    const char* name;
    byte_array copy;
    std::string first_cell;
  } cases[] = {
      {"rlfs", cut_short(build_rlfs_header({}), 72), "2020-01-01 00:00:00.000000000"},
      {"rlfs ticks", cut_short(build_rlfs_header(ticks_start), 72), " 0x01d5c03669050000"},
      {"zeroed", byte_array(72, 0), " 0x0000000000000000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tool_options t({"-csv"});
    t.options.session_name = "<not available>";
    bool ok = false;
    const std::string text = header_only(c.copy, t.options, ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(text.substr(text.find('\n') + 1),
              c.first_cell + ",<header info only>,,<not available>,,,,,,,,,,,,\n");
  }
}

TEST(HeaderSectionOnly, DefaultTable) {
  tool_options t({});
  bool ok = false;
  const std::string text = header_only(cut_short(build_rlfs_header({}), 72), t.options, ok);
  EXPECT_TRUE(ok);
  const std::string row =
      join({" 2020-01-01 00:00:00.000000000", pad("<header info only>", 36), pad("", 36),
            pad("Test Session", 36), pad("", 36), pad("", 8), pad("", 10), pad("", 9), pad("", 7),
            pad("", 5), pad("", 6), pad("", 7), pad("", 18), pad("", 18), pad("", 9), pad("", 16)},
           " | ");
  EXPECT_EQ(text, default_header_line + row);
}

// The copy is checked once: fewer than 72 bytes write nothing at all.
TEST(HeaderSectionOnly, ShortCopyAtEveryLength) {
  const byte_array full = cut_short(build_rlfs_header({}), 72);
  for (u64 n = 0; n <= full.size(); ++n) {
    const byte_array cut = cut_short(full, n);
    tool_options t({"-csv"});
    bool ok = false;
    const std::string text = header_only({cut.data(), cut.size()}, t.options, ok);
    EXPECT_EQ(ok, n == 72) << n;
    if (n < 72) {
      EXPECT_EQ(text, "") << n;
      EXPECT_EQ(t.options.header_pending, 1) << n;
    }
  }
}

TEST(HeaderSectionOnly, TimelineWithStartTimeWritesNothing) {
  tool_options t({"-csvl2t"});
  bool ok = false;
  EXPECT_EQ(header_only(cut_short(build_rlfs_header({}), 72), t.options, ok), "");
  EXPECT_TRUE(ok);
}

}  // namespace
