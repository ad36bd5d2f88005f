#include "output/output_row.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/date_time_format.hpp"
#include "platform/cmd_params.hpp"
#include "platform/option_parser.hpp"
#include "support/csv_reader.hpp"

namespace {

using namespace std::string_literals;

// 2009-07-04 18:30:05 UTC plus 9991234 ticks (.9991234 s).
constexpr u64 july_2009 = 128912058050000000ull + 9991234ull;

// Stored layout of 12345678-1234-5678-0102-030405060708.
const u8 guid_layout[16] = {0x78, 0x56, 0x34, 0x12, 0x34, 0x12, 0x78, 0x56,
                            0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
const char* const guid_text = "12345678-1234-5678-0102-030405060708";

struct column {
  std::string label;
  u32 width;
  u16 tag;
};

// The options as the program sets them from its command line.
std::unique_ptr<cmd_params> options_for(std::vector<std::string> args) {
  auto options = std::make_unique<cmd_params>(0, 0);
  args.insert(args.begin(), "vesk");
  EXPECT_TRUE(parse_common_options(*options, args));
  return options;
}

// Header cells as the table writer builds them: widths zeroed without padding.
void set_header(cmd_params& options, const std::vector<column>& columns) {
  options.header_cells.clear();
  for (const auto& c : columns) {
    const u32 width = options.no_whitespace != 0 ? 0 : c.width;
    if (c.tag == cell_tag::filetime) {
      options.header_cells.emplace_back(c.label, width, 0, c.tag, 0);
    } else {
      options.header_cells.emplace_back(c.label, width, 0);
    }
  }
}

std::string header_text(cmd_params& options) {
  std::ostringstream out;
  write_output_header(out, options);
  return out.str();
}

std::string row_text(output_row& row, cmd_params& options) {
  std::ostringstream out;
  write_output_row(out, row, options);
  return out.str();
}

// ---- the row object ----

TEST(OutputRow, ColumnCounts) {
  const struct {
    i32 count;
    bool valid;
  } cases[] = {{INT_MIN, false}, {-1, false}, {0, false},   {1, true},
               {16, true},       {255, true}, {256, false}, {INT_MAX, false}};
  auto options = options_for({});
  set_header(*options, {{"a", 4, 0}});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.count);
    output_row row(c.count, true, 0);
    EXPECT_EQ(row.valid, c.valid ? 1u : 0u);
    EXPECT_EQ(row.count, c.valid ? c.count : 0);
    EXPECT_EQ(row.cells.size(), c.valid ? static_cast<std::size_t>(c.count) : 0u);
    if (!c.valid) {
      EXPECT_EQ(row.set_string(0, "x", cell_tag::text, 0), 1u);
      EXPECT_EQ(row_text(row, *options), "");
    }
  }
}

TEST(OutputRow, InitMakesDefaultOrEmptyTextCells) {
  output_row plain(3, false, 0x8000);
  EXPECT_EQ(plain.row_flags, 0x8000u);
  for (const auto& cell : plain.cells) EXPECT_EQ(cell, zarn_variant_lite());

  output_row cleared(3, true, 0);
  for (const auto& cell : cleared.cells) {
    EXPECT_EQ(cell.type, cell_tag::text);
    EXPECT_EQ(cell.flags, 0u);
    EXPECT_TRUE(cell.text.empty());
  }
  cleared.set_number(1, 9, cell_tag::number8, 0);
  cleared.row_flags = 4;
  cleared.init(2, false);  // starts over: no row flags, fresh cells
  EXPECT_EQ(cleared.row_flags, 0u);
  ASSERT_EQ(cleared.cells.size(), 2u);
  EXPECT_EQ(cleared.cells[1], zarn_variant_lite());
  cleared.init(0, true);
  EXPECT_EQ(cleared.valid, 0u);
  EXPECT_TRUE(cleared.cells.empty());
}

TEST(OutputRow, RefusedSetsChangeNothing) {
  output_row row(2, true, 0x8000);
  row.set_string(0, "keep", cell_tag::text, 0);
  const std::vector<zarn_variant_lite> before = row.cells;
  const u8 bytes[2] = {1, 2};
  const struct {
    const char* what;
    u32 (*call)(output_row&, const u8*);
  } cases[] = {
      {"negative index", [](output_row& r, const u8*) { return r.set_number(-1, 1, cell_tag::number8, 0); }},
      {"index past count", [](output_row& r, const u8*) { return r.set_number(2, 1, cell_tag::number8, 0); }},
      {"tag 32", [](output_row& r, const u8*) { return r.set_number(0, 1, 32, 0); }},
      {"tag 0xffff text", [](output_row& r, const u8*) { return r.set_string(0, "x", 0xffff, 0); }},
      {"stream past count",
       [](output_row& r, const u8*) {
         std::ostringstream s;
         s << "x";
         return r.set_stream_text(5, s, cell_tag::text, 0);
       }},
      {"bytes null",
       [](output_row& r, const u8*) { return r.set_bytes(0, nullptr, 16, cell_tag::guid_bytes, 0); }},
      {"bytes length 0",
       [](output_row& r, const u8* b) { return r.set_bytes(0, b, 0, cell_tag::guid_bytes, 0); }},
      {"bytes index",
       [](output_row& r, const u8* b) { return r.set_bytes(-3, b, 2, cell_tag::guid_bytes, 0); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.call(row, bytes), 1u);
    EXPECT_EQ(row.cells, before);
  }
}

TEST(OutputRow, SetsClearTheCellAndAddRowFlags) {
  output_row row(3, false, 0x8000);
  row.set_string(0, "old", cell_tag::text, 0);
  EXPECT_EQ(row.set_number(0, 77, cell_tag::number32, cell_flag::decimal), 1u);
  EXPECT_EQ(row.cells[0].number, 77u);
  EXPECT_EQ(row.cells[0].type, cell_tag::number32);
  EXPECT_EQ(row.cells[0].flags, cell_flag::decimal | cell_flag::quote_text);
  EXPECT_TRUE(row.cells[0].text.empty());

  EXPECT_EQ(row.set_bytes(1, guid_layout, 16, cell_tag::guid_bytes, 0), 1u);
  EXPECT_EQ(row.cells[1].bytes, byte_array(guid_layout, guid_layout + 16));
  EXPECT_EQ(row.cells[1].flags, cell_flag::quote_text);

  std::ostringstream s;
  s << "data{" << 5 << "}";
  EXPECT_EQ(row.set_stream_text(2, s, cell_tag::text, 0), 1u);
  EXPECT_EQ(row.cells[2].text, "\"data{5}\"");
}

TEST(OutputRow, QuotedTextDoublesQuotes) {
  const struct {
    std::string text;
    std::string stored;
  } cases[] = {
      {"abc", "\"abc\""},
      {"", "\"\""},
      {"a\"b", "\"a\"\"b\""},
      {"\"", "\"\"\"\""},
      {"\"x\",\"y\"", "\"\"\"x\"\",\"\"y\"\"\""},
      {"{\"k\":1}", "{\"k\":1}"},  // kept as it is
      {"{\"", "\"{\"\"\""},        // too short to be kept
      {"{x\"", "\"{x\"\"\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    output_row by_row(1, false, cell_flag::quote_text);
    by_row.set_string(0, c.text, cell_tag::text, 0);
    EXPECT_EQ(by_row.cells[0].text, c.stored);
    output_row by_cell(1, false, 0);
    by_cell.set_string(0, c.text, cell_tag::text, cell_flag::quote_text);
    EXPECT_EQ(by_cell.cells[0].text, c.stored);
    output_row unquoted(1, false, 0);
    unquoted.set_string(0, c.text, cell_tag::text, 0);
    EXPECT_EQ(unquoted.cells[0].text, c.text);
  }
}

// ---- header line ----

TEST(OutputHeader, Layouts) {
  const std::vector<column> columns = {{"created", 12, cell_tag::filetime}, {"name", 6, 0}, {"id", 4, 0}};
  const struct {
    std::vector<std::string> args;
    std::string expected;
  } cases[] = {
      {{}, " created      | name   | id  \n"},
      {{"-csv"}, " created,name,id\n"},  // the time column keeps its blank
      {{"-no_whitespace"}, "created|name|id\n"},
      {{"-enable_quoted_csv_fields"}, "created     |name  |id  \n"},
      {{"-csv", "-enable_quoted_csv_fields"}, "created,name,id\n"},
      {{"-csv_separator", "tab", "-no_whitespace"}, "created\tname\tid\n"},
      {{"-multiline"}, " created     name  id  \n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    auto options = options_for(c.args);
    set_header(*options, columns);
    options->header_pending = 1;
    EXPECT_EQ(header_text(*options), c.expected);
    EXPECT_EQ(options->header_pending, 0);
  }
}

// ---- cell rendering ----

TEST(OutputCells, Numbers) {
  struct number_case {
    u16 tag;
    u32 flags;
    u64 value;
    u32 width;
    std::vector<std::string> args;
    std::string expected;
  };
  const u32 dec = cell_flag::decimal;
  const u32 hexcol = cell_flag::hex_column;
  const number_case cases[] = {
      {cell_tag::number8, 0, 5, 7, {}, "0x00005"},
      {cell_tag::number8, 0, 5, 0, {}, "0x05"},
      {cell_tag::number8, 0, 5, 1, {}, "0x05"},
      {cell_tag::number16, 0, 0x1f, 0, {}, "0x001f"},
      {cell_tag::number32, 0, 0x1234, 0, {}, "0x00001234"},
      {cell_tag::number64, 0, 0x123456789ull, 0, {}, "0x123456789"},
      {cell_tag::number8, 0, 0x1ff, 0, {}, "0x1ff"},  // never cut to the tag's size
      {cell_tag::number16, 0, 7, 8, {"-no_whitespace"}, "0x0007"},
      {cell_tag::number32, 0, 7, 10, {"-csv"}, "0x00000007"},
      {cell_tag::number64, 0, ~0ull, 0, {}, "0xffffffffffffffff"},
      {cell_tag::number32, dec, 42, 10, {}, "        42"},
      {cell_tag::number32, dec, 42, 10, {"-no_whitespace"}, "42"},
      {cell_tag::number32, dec, 42, 0, {}, "42"},
      {cell_tag::number32, 0, 42, 10, {"-base10"}, "        42"},
      {cell_tag::number16, 0, 42, 8, {"-base10", "-base16"}, "0x00002a"},
      {cell_tag::number64, 0, ~0ull, 0, {"-base10"}, "18446744073709551615"},
      {cell_tag::number64, hexcol, 0xabc, 18, {}, "0x0000000000000abc"},
      {cell_tag::number64, hexcol, 0xabc, 18, {"-no_whitespace"}, "0xabc"},
      {cell_tag::number64, hexcol, 0xabc, 18, {"-base10"}, "0x0000000000000abc"},
      {cell_tag::number64, hexcol, 0xabc, 1, {}, "0xabc"},
      {cell_tag::number64, hexcol | dec, 10, 6, {}, "0x000a"},
      {cell_tag::number8, dec, 255, 5, {"-base16"}, "  255"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    auto options = options_for(c.args);
    set_header(*options, {{"h", c.width, 0}});
    output_row row(1, false, 0);
    row.set_number(0, c.value, c.tag, c.flags);
    EXPECT_EQ(row_text(row, *options), c.expected + "\n");
  }
}

TEST(OutputCells, FiletimeUnderDateTimeFormats) {
  const struct {
    std::string date_pattern;
    std::string time_pattern;
    u64 value;
    std::string text;
  } cases[] = {
      {"", "", july_2009, "2009-07-04 18:30:05.999"},  // no descriptor: the default form
      {"yyyy-mm-dd", "hh:mm:ss.xxx", july_2009, "2009-07-04 18:30:05.999"},
      {"yyyy-mm-dd", "hh:mm:ss.xxxxxxxxx", july_2009, "2009-07-04 18:30:05.999123400"},
      {"mm/dd/yyyy", "hh:mm:ss", july_2009, "07/04/2009 18:30:05"},
      {"dd mmm yyyy", "hh:mm:ss.xxxxxx", july_2009, "04 Jul 2009 18:30:05.999123"},
      {"dd/mm/yy", "hh:mm:ss.xxx", july_2009, "04/07/09 18:30:05.999"},
      {"yyyy mmm dd", "hh:mm:ss.xxxx", 125911584000000000ull, "2000 Jan 01 00:00:00.0000"},
      {"mmm dd, yyyy", "hh:mm:ss", july_2009, "Jul 04 2009 18:30:05"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.date_pattern + " " + c.time_pattern);
    for (const bool padded : {true, false}) {
      auto options = options_for(padded ? std::vector<std::string>{} : std::vector<std::string>{"-csv"});
      options->date_time_fmt.reset();
      if (!c.date_pattern.empty()) {
        ASSERT_TRUE(compile_date_time_format(options->date_time_fmt, c.date_pattern, c.time_pattern, false));
      }
      set_header(*options, {{"created", 29, cell_tag::filetime}});
      output_row row(1, false, 0);
      row.set_number(0, c.value, cell_tag::filetime, 0);
      std::string expected = c.text;
      if (padded) expected = " " + expected + std::string(29 - c.text.size(), ' ');
      EXPECT_EQ(row_text(row, *options), expected + "\n") << (padded ? "padded" : "-csv");
    }
  }
}

TEST(OutputCells, FiletimeFromTheOptionParser) {
  auto options = options_for({"-dateformat", "MM/DD/YYYY", "-timeformat", "hh:mm:ss", "-no_whitespace"});
  set_header(*options, {{"created", 19, cell_tag::filetime}});
  output_row row(1, false, 0);
  row.set_number(0, july_2009, cell_tag::filetime, 0);
  EXPECT_EQ(row_text(row, *options), "07/04/2009 18:30:05\n");
}

TEST(OutputCells, InvalidTimesAreBlank) {
  const u64 values[] = {
      0,                      // no time
      1ull << 63,             // top bit set
      116444736000000000ull,  // first second of 1970
      116444736009999999ull,
      94354847990000000ull,  // 1899-12-31 23:59:59
  };
  for (const u64 v : values) {
    SCOPED_TRACE(v);
    auto fill = [](output_row& row, u64 value) { row.set_number(0, value, cell_tag::filetime, 0); };
    for (const auto& [args, expected] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{}, std::string(30, ' ')},  // blank, then blanks to the full width
             {{"-enable_quoted_csv_fields"}, std::string(29, ' ')},
             {{"-csv"}, " "},  // only the blank between the two empty texts
             {{"-no_whitespace"}, " "}}) {
      auto options = options_for(args);
      set_header(*options, {{"created", 29, cell_tag::filetime}});
      output_row row(1, false, 0);
      fill(row, v);
      EXPECT_EQ(row_text(row, *options), expected + "\n");
    }
  }
}

TEST(OutputCells, Ticks) {
  const struct {
    std::vector<std::string> args;
    u64 value;
    std::string expected;
  } cases[] = {
      {{}, 1234, " 0x00000000000004d2"},
      {{"-base10"}, 1234, " 1234" + std::string(14, ' ')},
      {{"-csv"}, 1234, " 0x00000000000004d2"},  // the blank stays without padding
      {{"-csv", "-base10"}, 1234, " 1234"},
      {{"-no_whitespace"}, 1234, "0x00000000000004d2"},
      {{"-enable_quoted_csv_fields"}, ~0ull, "0xffffffffffffffff"},
      {{}, 0, " 0x0000000000000000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    auto options = options_for(c.args);
    set_header(*options, {{"created", 18, cell_tag::filetime}});
    output_row row(1, false, 0);
    row.set_number(0, c.value, cell_tag::ticks, 0);
    EXPECT_EQ(row_text(row, *options), c.expected + "\n");
  }
}

TEST(OutputCells, Guids) {
  byte_array twenty(guid_layout, guid_layout + 16);
  twenty.insert(twenty.end(), {0xaa, 0xbb, 0xcc, 0xdd});
  const struct {
    std::vector<std::string> args;
    byte_array bytes;
    u32 width;
    std::string expected;
  } cases[] = {
      {{}, byte_array(guid_layout, guid_layout + 16), 36, guid_text},
      {{}, byte_array(guid_layout, guid_layout + 16), 40, guid_text + "    "s},
      {{}, twenty, 36, guid_text},  // the first 16 bytes
      {{}, byte_array(guid_layout, guid_layout + 15), 36, std::string(36, ' ')},
      {{"-csv"}, byte_array(guid_layout, guid_layout + 15), 36, ""},
      {{"-csv"}, byte_array(16, 0), 36, "00000000-0000-0000-0000-000000000000"},
      {{"-enable_quoted_csv_fields", "-csv"}, byte_array(guid_layout, guid_layout + 16), 36, guid_text},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    auto options = options_for(c.args);
    set_header(*options, {{"guid", c.width, 0}});
    output_row row(1, false, options->quoted_fields != 0 ? cell_flag::quote_text : 0);
    row.set_bytes(0, c.bytes.data(), static_cast<u32>(c.bytes.size()), cell_tag::guid_bytes, 0);
    EXPECT_EQ(row_text(row, *options), c.expected + "\n");
  }
}

TEST(OutputCells, TextEditsPerLayout) {
  const struct {
    std::vector<std::string> args;
    std::string text;
    std::string expected;
  } cases[] = {
      {{"-no_whitespace"}, "a|b", "a;b"},
      {{"-csv"}, "c,d|e", "c d|e"},
      {{"-csv_separator", ";", "-no_whitespace"}, "e;f,g", "e f,g"},
      {{"-csv_separator", "tab", "-no_whitespace"}, "g\th", "g h"},
      {{"-csv_separator", "~", "-csv"}, "i~j", "i j"},
      {{"-csv_separator", "[", "-csv"}, "k\nl[m", "k LF]l m"},  // markers cannot bring the separator back
      {{"-no_whitespace"}, "cr\r\nlf\nlone\rlfcr\n\r", "cr[CRLF]lf[LF]lone[CR]lfcr[LFCR]"},
      {{"-no_whitespace"}, "nul\0byte"s, "nul[NUL]byte"},
      {{"-no_whitespace"}, "\0\0"s, "[NUL][NUL]"},
      {{"-multiline"}, "keep\r\nbreaks\0"s, "h keep\r\nbreaks[NUL]\n"},
      // a leading double quote would open a quoted field: the cell is written as one
      {{"-csv"}, "\"q,\"r\"", "\"\"\"q \"\"r\"\"\""},
      {{}, "\"s|t", "\"\"\"s;t\""},
      {{"-multiline"}, "\"u", "h \"u\n"},
      {{"-csv", "-enable_quoted_csv_fields"}, "q\"uote,x", "\"q\"\"uote,x\""},
      {{"-csv", "-enable_quoted_csv_fields"}, "a\r\nb", "\"a[CRLF]b\""},
      {{"-csv", "-enable_quoted_csv_fields"}, "{\"a\":1}", "{\"a\":1}"},
      {{"-csv", "-enable_quoted_csv_fields"}, "{\"a\":\"b,c\"}", "\"{\"\"a\"\":\"\"b,c\"\"}\""},
      {{"-enable_quoted_csv_fields", "-no_whitespace"}, "{\"a|b\"}", "\"{\"\"a|b\"\"}\""},
      {{"-csv", "-enable_quoted_csv_fields"}, "", "\"\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    auto options = options_for(c.args);
    set_header(*options, {{"h", 2, 0}});
    output_row row(1, false, options->quoted_fields != 0 ? cell_flag::quote_text : 0);
    row.set_string(0, c.text, cell_tag::text, 0);
    const std::string first = row_text(row, *options);
    EXPECT_EQ(first, c.expected + "\n");
    EXPECT_EQ(row_text(row, *options), first);  // the edits are made once
  }
}

TEST(OutputCells, ReplacementNeverWritesNulOrTheSeparator) {
  const struct {
    char separator;
    char replacement;
    std::string expected;
  } cases[] = {{'|', 0, "a b"}, {'|', '|', "a b"}, {' ', 0, "a_b"}, {'|', ';', "a;b"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    auto options = options_for({"-no_whitespace"});
    options->separator = c.separator;
    options->separator_replacement = c.replacement;
    set_header(*options, {{"h", 2, 0}});
    output_row row(1, false, 0);
    row.set_string(0, c.separator == ' ' ? "a b" : "a|b", cell_tag::text, 0);
    EXPECT_EQ(row_text(row, *options), c.expected + "\n");
  }
}

TEST(OutputCells, PaddedTableMarksLineBreaks) {
  auto options = options_for({});
  set_header(*options, {{"a", 8, 0}, {"b", 3, 0}});
  output_row row(2, true, 0);
  row.set_string(0, "x\r\ny|z", cell_tag::text, 0);
  row.set_string(1, "longer than three", cell_tag::text, 0);
  EXPECT_EQ(row_text(row, *options), "x[CRLF]y;z | longer than three\n");
}

// The command line refuses a separator that a time, GUID or number can hold;
// the row writer itself replaces the separator character in texts and labels
// only, whatever the separator.
TEST(OutputCells, FixedFormsAreNeverRewritten) {
  for (const char separator : {':', 'x', '-', '0', '.'}) {
    const std::string sep(1, separator);
    SCOPED_TRACE(sep);
    auto options = options_for({"-no_whitespace"});
    options->separator_text = sep;
    options->separator = separator;
    options->separator_replacement = ' ';
    set_header(*options, {{"t", 29, cell_tag::filetime}, {"n", 4, 0}, {"lab" + sep + "el", 4, 0},
                          {"g", 36, 0}, {"k", 18, 0}});
    output_row row(5, true, 0);
    row.set_number(0, july_2009, cell_tag::filetime, 0);
    row.set_string(1, "a" + sep + "b", cell_tag::text, 0);
    row.set_number(2, 7, cell_tag::number8, 0);
    row.set_bytes(3, guid_layout, 16, cell_tag::guid_bytes, 0);
    row.set_number(4, 0x1000, cell_tag::ticks, 0);
    EXPECT_EQ(header_text(*options), "t" + sep + "n" + sep + "lab el" + sep + "g" + sep + "k\n");
    EXPECT_EQ(row_text(row, *options), "2009-07-04 18:30:05.999" + sep + "a b" + sep + "0x07" + sep +
                                           guid_text + sep + "0x0000000000001000\n");
  }

  auto quoted = options_for({"-csv_separator", "-", "-no_whitespace", "-enable_quoted_csv_fields"});
  set_header(*quoted, {{"t", 29, cell_tag::filetime}, {"g", 36, 0}, {"n", 4, 0}});
  output_row qrow(3, true, cell_flag::quote_text);
  qrow.set_number(0, july_2009, cell_tag::filetime, 0);
  qrow.set_bytes(1, guid_layout, 16, cell_tag::guid_bytes, 0);
  qrow.set_number(2, 7, cell_tag::number8, 0);
  EXPECT_EQ(row_text(qrow, *quoted), "\"2009-07-04 18:30:05.999\"-\"" + std::string(guid_text) + "\"-0x07\n");
}

TEST(OutputCells, ColumnWidthsOfZeroAndBeyondReason) {
  auto options = options_for({});
  options->header_cells = {zarn_variant_lite("h", 0, 0x100), zarn_variant_lite("z", 0, 0),
                           zarn_variant_lite("t", 0xffffffffu, 0, cell_tag::filetime, 0)};
  output_row row(3, true, 0);
  row.set_string(0, "wide", cell_tag::text, 0);
  row.set_string(1, "zero", cell_tag::text, 0);
  row.set_number(2, july_2009, cell_tag::filetime, 0);
  const std::string line = row_text(row, *options);
  EXPECT_EQ(line, "wide" + std::string(1020, ' ') + " | zero |  2009-07-04 18:30:05.999" +
                      std::string(1001, ' ') + "\n");
}

TEST(OutputCells, UnrenderedTagsLeaveEmptyCells) {
  auto options = options_for({"-csv"});
  set_header(*options, {{"a", 4, 0}, {"b", 4, 0}, {"c", 4, 0}});
  output_row row(3, false, 0);
  row.set_number(0, 1, 3, 0);  // no rendering for tag 3
  row.set_string(2, "x", cell_tag::text, 0);
  EXPECT_EQ(row_text(row, *options), ",,x\n");
}

TEST(OutputCells, RowsShorterOrLongerThanTheHeader) {
  auto options = options_for({});
  set_header(*options, {{"a", 4, 0}, {"b", 4, 0}, {"c", 4, 0}});
  output_row shorter(1, true, 0);
  shorter.set_string(0, "x", cell_tag::text, 0);
  EXPECT_EQ(row_text(shorter, *options), "x   \n");

  output_row longer(5, true, 0);
  for (i32 i = 0; i < 5; ++i) longer.set_number(i, static_cast<u64>(i), cell_tag::number16, 0);
  longer.set_number(4, july_2009, cell_tag::filetime, 0);
  EXPECT_EQ(row_text(longer, *options), "0x00 | 0x01 | 0x02 | 0x0003 |  2009-07-04 18:30:05.999\n");

  auto vertical = options_for({"-multiline"});
  set_header(*vertical, {{"a", 3, 0}});
  output_row two(2, true, 0);
  two.set_string(0, "x", cell_tag::text, 0);
  two.set_string(1, "y", cell_tag::text, 0);
  EXPECT_EQ(row_text(two, *vertical), "a  x  \ny\n\n");  // the value is padded too

  std::ostringstream none;
  render_time_cell(none, 7, two, *vertical);
  EXPECT_EQ(none.str(), "");
}

TEST(OutputCells, RenderTimeCellIntoALine) {
  auto options = options_for({});
  set_header(*options, {{"created", 25, cell_tag::filetime}});
  output_row row(1, false, 0);
  row.set_number(0, july_2009, cell_tag::filetime, 0);
  std::ostringstream line;
  line << "[";
  render_time_cell(line, 0, row, *options);
  EXPECT_EQ(line.str(), "[ 2009-07-04 18:30:05.999  ");
}

// ---- one renderer for the run ----

// A renderer keeps its cell guard and date text from row to row: when an
// option that either reads changes, the very next row follows it, as a new
// renderer writes it.
TEST(RowRenderer, NextRowFollowsEveryChangedOption) {
  const struct {
    const char* name;
    void (*change)(cmd_params&);
  } changes[] = {
      {"quoting on", [](cmd_params& o) { o.quoted_fields = 1; }},
      {"separator", [](cmd_params& o) { o.separator = ';'; }},
      {"replacement", [](cmd_params& o) { o.separator_replacement = '_'; }},
      {"separator text", [](cmd_params& o) { o.separator_text = "|"; }},
      {"date format", [](cmd_params& o) {
         (void)compile_date_time_format(o.date_time_fmt, "mm/dd/yyyy", "hh:mm:ss", false);
       }},
      {"quoting off", [](cmd_params& o) { o.quoted_fields = 0; }},
  };
  auto options = options_for({"-csv"});
  set_header(*options, {{"quoted", 12, 0}, {"created", 29, cell_tag::filetime}, {"text", 12, 0}});
  const auto line = [&options](row_renderer& renderer) {
    output_row row(3, false, 0);
    row.set_string(0, "a,b;c|d", cell_tag::text, cell_flag::quote_text);
    row.set_number(1, july_2009, cell_tag::filetime, 0);
    row.set_string(2, "x|y", cell_tag::text, 0);
    std::ostringstream out;
    renderer.render_output_row(out, row, *options);
    return out.str();
  };
  row_renderer kept;
  for (const auto& c : changes) {
    SCOPED_TRACE(c.name);
    const std::string before = line(kept);
    c.change(*options);
    const std::string after = line(kept);
    row_renderer fresh;
    EXPECT_EQ(after, line(fresh));
    EXPECT_NE(after, before);
  }
}

// ---- whole rows ----

// A row of every kind of cell, as the table writer fills one.
void fill_mixed_row(output_row& row) {
  row.set_number(0, july_2009, cell_tag::filetime, 0);
  row.set_bytes(1, guid_layout, 16, cell_tag::guid_bytes, 0);
  row.set_string(2, "svc|host", cell_tag::text, 0);
  row.set_number(3, 0x1f, cell_tag::number16, 0);
  row.set_number(4, 4, cell_tag::number8, cell_flag::decimal);
  row.set_number(5, 0x8000000000000000ull, cell_tag::number64, cell_flag::hex_column);
  row.set_number(6, 0x2a, cell_tag::ticks, 0);
}

const std::vector<column> mixed_columns = {{"created", 29, cell_tag::filetime},
                                           {"guid", 36, 0},
                                           {"name", 10, 0},
                                           {"id", 8, 0},
                                           {"level", 5, 0},
                                           {"keywords", 18, 0},
                                           {"ticks", 18, 0}};

TEST(OutputRows, MixedRowPaddedAndDelimited) {
  const struct {
    std::vector<std::string> args;
    std::string header;
    std::string row;
  } cases[] = {
      {{},
       " created                       | guid                                 | name       | id       | "
       "level | "
       "keywords           | ticks             \n",
       " 2009-07-04 18:30:05.999       | 12345678-1234-5678-0102-030405060708 | svc;host   | 0x00001f |     "
       "4 | "
       "0x8000000000000000 |  0x000000000000002a\n"},
      {{"-csv"},
       " created,guid,name,id,level,keywords,ticks\n",
       "2009-07-04 18:30:05.999,12345678-1234-5678-0102-030405060708,svc|host,0x001f,4,0x8000000000000000, "
       "0x000000000000002a\n"},
      {{"-csv", "-enable_quoted_csv_fields", "-base10"},
       "created,guid,name,id,level,keywords,ticks\n",
       "2009-07-04 "
       "18:30:05.999,12345678-1234-5678-0102-030405060708,\"svc|host\",31,4,0x8000000000000000,42\n"},
      {{"-csv_separator", "tab", "-no_whitespace"},
       "created\tguid\tname\tid\tlevel\tkeywords\tticks\n",
       "2009-07-04 "
       "18:30:05.999\t12345678-1234-5678-0102-030405060708\tsvc|host\t0x001f\t4\t0x8000000000000000\t"
       "0x000000000000002a\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.row);
    auto options = options_for(c.args);
    set_header(*options, mixed_columns);
    EXPECT_EQ(header_text(*options), c.header);
    output_row row(7, false, options->quoted_fields != 0 ? cell_flag::quote_text : 0);
    fill_mixed_row(row);
    EXPECT_EQ(row_text(row, *options), c.row);
  }
}

TEST(OutputRows, MultilineLayout) {
  auto options = options_for({"-multiline"});
  set_header(*options, {{"created", 10, cell_tag::filetime}, {"name", 6, 0}, {"id", 4, 0}});
  EXPECT_EQ(header_text(*options), " created   name  id  \n");
  output_row row(3, true, 0);
  row.set_number(0, july_2009, cell_tag::filetime, 0);
  row.set_string(1, "a\r\nb|c", cell_tag::text, 0);
  row.set_number(2, 42, cell_tag::number32, 0);
  EXPECT_EQ(row_text(row, *options),
            "created    2009-07-04 18:30:05.999\n"
            "name  a\r\nb|c\n"
            "id  0x2a\n"
            "\n");
}

TEST(OutputRows, NoLineEndWithoutRowNewline) {
  auto options = options_for({"-csv"});
  options->row_newline = 0;
  set_header(*options, {{"a", 1, 0}});
  output_row row(1, false, 0);
  row.set_string(0, "x", cell_tag::text, 0);
  EXPECT_EQ(row_text(row, *options), "x");
}

TEST(OutputRows, Widest255CellsPadded) {
  auto options = options_for({});
  std::vector<column> columns;
  for (int i = 0; i < 255; ++i) columns.push_back({"c" + std::to_string(i), 5, 0});
  set_header(*options, columns);
  output_row row(255, true, 0);
  for (i32 i = 0; i < 255; ++i) row.set_number(i, static_cast<u64>(i), cell_tag::number8, cell_flag::decimal);
  std::string expected_header;
  std::string expected_row;
  for (int i = 0; i < 255; ++i) {
    const std::string label = "c" + std::to_string(i);
    const std::string number = std::to_string(i);
    expected_header += label + std::string(5 - label.size(), ' ');
    expected_row += std::string(5 - number.size(), ' ') + number;
    if (i < 254) {
      expected_header += " | ";
      expected_row += " | ";
    }
  }
  EXPECT_EQ(header_text(*options), expected_header + "\n");
  EXPECT_EQ(row_text(row, *options), expected_row + "\n");
}

// ---- read back by a consumer ----

// Texts a log may put into a cell: every separator, quotes, line breaks, NUL.
const std::vector<std::string> hostile_texts = {
    "plain",      "a|b",
    "c,d",        "e;f",
    "g\th",       "i:j",
    "k::l",       "m~~n#o",
    "q\"uote",    "trail\"",
    "\"lead",     "\"",
    "\"\"",       "\",\"|\";\"\t\"",
    "\"\r\n\"",   "{\"k\":\"v,w|x;y\"}",
    "{\"ok\"}",   "cr\rlf\nboth\r\nrev\n\r",
    "nul\0byte"s, "[x]",
    "",           "x|,;\t:\"\r\n\0"s,
};

struct layout {
  std::vector<std::string> args;
  std::string separator;  // as the reader splits the lines
  bool padded;
  char replaced;  // the separator character kept out of unquoted cells
  char replacement;
};

const layout layouts[] = {
    {{}, " | ", true, '|', ';'},
    {{"-csv"}, ",", false, ',', ' '},
    {{"-csvgen"}, ",", false, ',', ' '},
    {{"-bodyfile"}, "|", true, '|', ';'},
    {{"-no_whitespace"}, "|", false, '|', ';'},
    {{"-csv_separator", ";", "-no_whitespace"}, ";", false, ';', ' '},
    {{"-csv_separator", ";"}, ";", true, ';', ' '},
    {{"-csv_separator", "tab", "-no_whitespace"}, "\t", false, '\t', ' '},
    {{"-csv", "-csv_separator", "\\t"}, "\t", false, '\t', ' '},
    {{"-csv_separator", "\t", "-csv"}, "\t", false, '\t', ' '},
    {{"-csv_separator", "#", "-no_whitespace"}, "#", false, '#', ' '},
    {{"-csv_separator", "~~", "-no_whitespace"}, "~~", false, '~', ' '},
    {{"-csv", "-enable_quoted_csv_fields"}, ",", false, 0, 0},
    {{"-enable_quoted_csv_fields"}, "|", true, 0, 0},
    {{"-csv_separator", ";", "-csv", "-enable_quoted_csv_fields"}, ";", false, 0, 0},
    {{"-csv_separator", "tab", "-no_whitespace", "-enable_quoted_csv_fields"}, "\t", false, 0, 0},
};

std::string marked(std::string s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    const char next = i + 1 < s.size() ? s[i + 1] : 0;
    if (c == '\r' && next == '\n') {
      out += "[CRLF]";
      ++i;
    } else if (c == '\n' && next == '\r') {
      out += "[LFCR]";
      ++i;
    } else if (c == '\n') {
      out += "[LF]";
    } else if (c == '\r') {
      out += "[CR]";
    } else if (c == '\0') {
      out += "[NUL]";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// What the reader should get back for a cell whose unpadded text is `shown`.
std::string expected_field(std::string shown, const layout& l) {
  if (l.replaced != 0) std::replace(shown.begin(), shown.end(), l.replaced, l.replacement);
  return shown;
}

std::string trimmed(const std::string& s) {
  const std::size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

// Renders header and row, reads them back and compares every field.
void check_round_trip(const layout& l, cmd_params& options, output_row& row,
                      const std::vector<std::string>& labels, const std::vector<std::string>& shown) {
  std::string text = header_text(options) + row_text(row, options);
  // No cell may end a line: exactly one line end for the header and one for the row.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_EQ(text.find('\0'), std::string::npos);
  std::vector<csv_record> records;
  ASSERT_TRUE(read_csv(text, l.separator, true, records)) << text;
  ASSERT_EQ(records.size(), 2u) << text;
  ASSERT_EQ(records[0].size(), labels.size()) << text;
  ASSERT_EQ(records[1].size(), shown.size()) << text;
  for (std::size_t i = 0; i < labels.size(); ++i) {
    EXPECT_EQ(trimmed(records[0][i]), labels[i]);  // time columns may keep a blank
  }
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const std::string want = expected_field(shown[i], l);
    EXPECT_EQ(l.padded ? trimmed(records[1][i]) : records[1][i], l.padded ? trimmed(want) : want)
        << "cell " << i << " of " << text;
  }
}

TEST(OutputRoundTrip, OneTextCellPerLayout) {
  for (const auto& l : layouts) {
    for (const auto& value : hostile_texts) {
      SCOPED_TRACE(l.args.empty() ? "default" : l.args[0] + " " + l.separator);
      SCOPED_TRACE(value);
      auto options = options_for(l.args);
      set_header(*options, {{"text", 12, 0}});
      output_row row(1, false, options->quoted_fields != 0 ? cell_flag::quote_text : 0);
      row.set_string(0, value, cell_tag::text, 0);
      check_round_trip(l, *options, row, {"text"}, {marked(value)});
    }
  }
}

TEST(OutputRoundTrip, Widest255CellRowPerLayout) {
  for (const auto& l : layouts) {
    SCOPED_TRACE(l.args.empty() ? "default" : l.args[0] + " " + l.separator);
    auto options = options_for(l.args);
    std::vector<column> columns;
    std::vector<std::string> labels;
    for (int i = 0; i < 255; ++i) {
      labels.push_back("c" + std::to_string(i));
      columns.push_back({labels.back(), 12, i % 5 == 0 ? cell_tag::filetime : static_cast<u16>(0)});
    }
    set_header(*options, columns);
    output_row row(255, true, options->quoted_fields != 0 ? cell_flag::quote_text : 0);
    std::vector<std::string> shown;
    for (i32 i = 0; i < 255; ++i) {
      switch (i % 5) {
        case 0:
          row.set_number(i, july_2009, cell_tag::filetime, 0);
          shown.push_back("2009-07-04 18:30:05.999");
          break;
        case 1:
          row.set_bytes(i, guid_layout, 16, cell_tag::guid_bytes, 0);
          shown.push_back(guid_text);
          break;
        case 2:
          row.set_number(i, static_cast<u64>(i), cell_tag::number32, cell_flag::decimal);
          shown.push_back(std::to_string(i));
          break;
        default: {
          const std::string& value = hostile_texts[static_cast<std::size_t>(i) % hostile_texts.size()];
          row.set_string(i, value, cell_tag::text, 0);
          shown.push_back(marked(value));
          break;
        }
      }
    }
    check_round_trip(l, *options, row, labels, shown);
  }
}

// ---- the reader itself ----

TEST(CsvReader, SplitsAndUnquotes) {
  const struct {
    std::string text;
    std::string separator;
    bool quoting;
    bool ok;
    std::vector<csv_record> records;
  } cases[] = {
      {"a,b\nc,d\n", ",", false, true, {{"a", "b"}, {"c", "d"}}},
      {"a,,\n", ",", false, true, {{"a", "", ""}}},
      {"a,b", ",", false, true, {{"a", "b"}}},
      {"a\r\nb\rc\n", ",", false, true, {{"a"}, {"b"}, {"c"}}},
      {"a::b:c\n", "::", false, true, {{"a", "b:c"}}},
      {"\"a,b\",c\n", ",", false, true, {{"\"a", "b\"", "c"}}},
      {"\"a,b\",c\n", ",", true, true, {{"a,b", "c"}}},
      {"\"a\"\"b\"  ,x\n", ",", true, true, {{"a\"b", "x"}}},
      {"\"a\"   | \"\"\n", " | ", true, true, {{"a", ""}}},
      {"x\"y,\"\"\n", ",", true, true, {{"x\"y", ""}}},
      {"\"a\nb\",c\n", ",", true, true, {{"a\nb", "c"}}},
      {"\"open,b\n", ",", true, false, {}},
      {"\"a\"b,c\n", ",", true, false, {}},
      {"a,b\n", "", false, false, {}},
      {"", ",", false, true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<csv_record> records;
    EXPECT_EQ(read_csv(c.text, c.separator, c.quoting, records), c.ok);
    if (c.ok) {
      EXPECT_EQ(records, c.records);
    }
  }
}

}  // namespace
