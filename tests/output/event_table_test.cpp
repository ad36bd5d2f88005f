#include "output/event_table.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/tool_options.hpp"

namespace {

std::string header_line(cmd_params& options) {
  std::ostringstream out;
  write_csv_header(out, options);
  return out.str();
}

const char* const labels_joined_comma =
    "created [utc or #ticks],provider guid,provider name,session name,activity id,event id,"
    "process id,thread id,channel,level,opcode,task id,keywords,processor time,processor,"
    "extra data";

TEST(EventTableHeader, DefaultPaddedLine) {
  tool_options t({});
  const std::string expected =
      " created [utc or #ticks]       | provider guid                        "
      "| provider name                        | session name                         "
      "| activity id                          | event id | process id | thread id "
      "| channel | level | opcode | task id | keywords           | processor time     "
      "| processor | extra data      \n";
  EXPECT_EQ(header_line(t.options), expected);
  EXPECT_EQ(t.options.header_pending, 0);
}

TEST(EventTableHeader, CellsLabelsWidthsTags) {
  tool_options t({});
  header_line(t.options);
  const struct {
    const char* label;
    u64 width;
  } expected[] = {{"created [utc or #ticks]", 29}, {"provider guid", 36}, {"provider name", 36},
                  {"session name", 36},            {"activity id", 36},   {"event id", 8},
                  {"process id", 10},              {"thread id", 9},      {"channel", 7},
                  {"level", 5},                    {"opcode", 6},         {"task id", 7},
                  {"keywords", 18},                {"processor time", 18}, {"processor", 9},
                  {"extra data", 16}};
  const auto& cells = t.options.header_cells;
  ASSERT_EQ(cells.size(), std::size(expected));
  for (std::size_t i = 0; i < cells.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(cells[i].text, expected[i].label);
    EXPECT_EQ(cells[i].reference, expected[i].width);
    // only the time column carries a tag: it gets the blank before its label
    EXPECT_EQ(cells[i].type, i == 0 ? cell_tag::filetime : 0);
  }
}

// The first width follows the two format texts.
TEST(EventTableHeader, CreatedWidthFollowsFormats) {
  const struct {
    std::vector<std::string> args;
    u64 width;
  } cases[] = {
      {{}, 29},
      {{"-timeformat", "hh:mm:ss"}, 19},
      {{"-dateformat", "mm/dd/yy", "-timeformat", "hh:mm:ss.xxx"}, 21},
  };
  for (const auto& c : cases) {
    tool_options t(c.args);
    header_line(t.options);
    ASSERT_FALSE(t.options.header_cells.empty());
    EXPECT_EQ(t.options.header_cells[0].reference, c.width) << c.args.size();
  }
  // the common options' own default time format, "hh:mm:ss.xxx"
  cmd_params plain(0, 0);
  header_line(plain);
  EXPECT_EQ(plain.header_cells[0].reference, 23u);
}

TEST(EventTableHeader, DelimitedForms) {
  const struct {
    std::vector<std::string> args;
    std::string expected;
  } cases[] = {
      // -csv: no padding, the blank before the time label stays
      {{"-csv"}, std::string(" ") + labels_joined_comma + "\n"},
      {{"-csv", "-enable_quoted_csv_fields"}, std::string(labels_joined_comma) + "\n"},
      {{"-no_whitespace"},
       "created [utc or #ticks]|provider guid|provider name|session name|activity id|event id|"
       "process id|thread id|channel|level|opcode|task id|keywords|processor time|processor|"
       "extra data\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    tool_options t(c.args);
    EXPECT_EQ(header_line(t.options), c.expected);
    for (const auto& cell : t.options.header_cells) EXPECT_EQ(cell.reference, 0u) << cell.text;
  }
}

TEST(EventTableHeader, QuotedFieldsKeepPadding) {
  tool_options t({"-enable_quoted_csv_fields"});
  const std::string line = header_line(t.options);
  // no blank before the time label, the separator trimmed to "|"
  EXPECT_EQ(line.substr(0, 31), "created [utc or #ticks]      |p");
  EXPECT_EQ(line.substr(line.size() - 18), "|extra data      \n");
}

TEST(EventTableHeader, WrittenOnlyWhenPendingAndNotTimeline) {
  tool_options once({});
  EXPECT_FALSE(header_line(once.options).empty());
  EXPECT_EQ(header_line(once.options), "");  // the flag was cleared
  once.options.header_pending = 1;           // the next input file
  EXPECT_FALSE(header_line(once.options).empty());

  tool_options timeline({"-csvl2t"});
  ASSERT_EQ(timeline.options.header_pending, 1);
  EXPECT_EQ(header_line(timeline.options), "");
  EXPECT_TRUE(timeline.options.header_cells.empty());
  EXPECT_EQ(timeline.options.header_pending, 1);  // left for the timeline writer
}

// A rebuilt header replaces the cells of the previous file, never adds to them.
TEST(EventTableHeader, RebuiltPerFile) {
  tool_options t({});
  header_line(t.options);
  t.options.header_pending = 1;
  header_line(t.options);
  EXPECT_EQ(t.options.header_cells.size(), 16u);
}

}  // namespace
