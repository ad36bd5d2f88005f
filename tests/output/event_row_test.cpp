#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "decode/event_record.hpp"
#include "decode/field_dump.hpp"
#include "output/event_table.hpp"
#include "output/fixed_texts.hpp"
#include "output/l2t_writer.hpp"
#include "support/csv_reader.hpp"
#include "support/log_builder.hpp"
#include "support/temp_dir.hpp"
#include "support/tool_options.hpp"

using namespace logbuild;
using namespace std::string_literals;

namespace {

field_rec text_field(const char* name, std::string value) {
  field_rec f;
  f.set_text(value, static_cast<u32>(value.size()), 1, name, 0);
  return f;
}

field_rec number_field(const char* name, u64 number, u32 size, u8 in_type = 8) {
  field_rec f;
  f.set_number(number, size, in_type, name, 0);
  return f;
}

// A sound event with a few decoded fields.
event_record sample_event() {
  event_record e;
  e.record_ok = 1;
  e.kind = event_kind::event_c012;
  e.raw_time = ft_2020 + 12345678;
  e.filetime = e.raw_time;
  e.provider = guid_of("e13c0d23-ccbc-4e12-931b-d9cc2eee27e4");
  e.provider_name = "Microsoft-Windows-DotNETRuntime";
  e.descriptor = {.id = 10, .version = 4, .channel = 16, .level = 4, .opcode = 1, .task = 1,
                  .keywords = 0x8000000000000001ull};
  e.process_id = 0x2bd8c;
  e.thread_id = 0x2b3b0;
  e.processor_time = 0x20;
  e.processor_number = 6;
  e.file_offset = 0x20048;
  e.fields.emplace(0x20098, number_field("AllocationAmount", 109120, 4));
  e.fields.emplace(0x200b2, text_field("TypeName", "System.String"));
  return e;
}

TEST(FieldDump, ValueForms) {
  field_map map;
  map.emplace(1, text_field("Path", R"(C:\a "b")"));
  field_rec g;
  g.set_bytes(byte_array{0x23, 0x0d, 0x3c, 0xe1, 0xbc, 0xcc, 0x12, 0x4e, 0x93, 0x1b, 0xd9, 0xcc, 0x2e,
                         0xee, 0x27, 0xe4},
              15, "", 0);
  map.emplace(2, g);
  field_rec raw = g;
  raw.in_type = 146;
  map.emplace(3, raw);
  map.emplace(4, number_field("Ft", 0, 8, 17));
  field_rec structure = number_field("Struct", 7, 0);
  structure.high_byte = 0xc1;
  map.emplace(5, structure);
  map.emplace(6, number_field("", 0, 0));
  std::string s;
  dump_field_map(s, map);
  EXPECT_EQ(s,
            R"("01-Path":"C:/a \"b\"";"02":"{e13c0d23-ccbc-4e12-931b-d9cc2eee27e4}";)"
            R"("03":"230d3ce1bccc124e931bd9cc2eee27e4";"04-Ft":"0x0000000000000000";)"
            R"("05-Struct":"";"06":"0x0")");
  EXPECT_EQ(map.at(1).value, R"(C:/a \"b\")");  // escaped in the map itself
  // counters run 01..99, then 100
  field_map many;
  for (u64 i = 0; i < 100; ++i) many.emplace(i, number_field("", i, 1));
  std::string m;
  dump_field_map(m, many);
  EXPECT_EQ(m.rfind(R"("100":"0x63")"), m.size() - 12);
  EXPECT_NE(m.find(R"("10":"0x09";)"), std::string::npos);
}

// One event written under each set of options, against a golden file: the
// option parser's effect on the rows.
TEST(EventRow, OptionsShapeTheRow) {
  const std::vector<std::vector<std::string>> option_sets = {
      {},
      {"-csv"},
      {"-csv", "-pair_datetime"},
      {"-base10"},
      {"-no_whitespace"},
      {"-enable_quoted_csv_fields", "-csv"},
      {"-csv_separator", ";"},
      {"-dateformat", "mm/dd/yyyy", "-timeformat", "hh:mm:ss"},
      {"-csvl2t"},
      {"-csvl2t", "-pair_datetime", "-base10"},
      {"-csvl2t", "-no_whitespace", "-username", "examiner", "-hostname", "ws1"},
  };
  std::string all;
  event_writer writer;  // one for every set, as for the files of a run
  for (const auto& args : option_sets) {
    tool_options t(args);
    t.options.current_file = "x.etl";
    t.options.source_path = "C:\\logs\\x.etl";
    std::ostringstream out;
    event_record e = sample_event();
    writer.write_event_row(e, out, t.options);
    event_record timeless = sample_event();
    timeless.filetime = 0;  // not converted: ticks in the table, no timeline line
    writer.write_event_row(timeless, out, t.options);
    all += "==";
    for (const std::string& a : args) all += " " + a;
    all += "\n" + out.str();
  }
  const std::string golden = std::string(VESK_SOURCE_DIR) + "/tests/golden/event_row_options.txt";
  if (std::getenv("VESK_UPDATE_GOLDEN") != nullptr) {
    std::ofstream(golden, std::ios::binary) << all;
  } else {
    EXPECT_EQ(all, read_text(golden));
  }
}

// A record that is no sound event says what it covers; a converted time
// that is no valid FILETIME shows the record's own ticks.
TEST(EventRow, CorruptedAndTimelessRows) {
  struct row_case {
    const char* name;
    event_record e;
    std::string extra;   // the extra-data cell
    std::string created; // the created cell
    std::string event_id = "0x0000";
  };
  event_record damaged;
  damaged.kind = event_kind::corrupted;
  damaged.file_offset = 0x1048;
  damaged.payload_size = 24;
  event_record compressed = damaged;
  compressed.compressed = 1;
  compressed.payload_size = 549;
  event_record bad_time = sample_event();
  bad_time.filetime = 0x8000000000000000ull;
  bad_time.fields.clear();
  event_record generic = bad_time;
  generic.kind = event_kind::generic;  // a generic header shows its hook id
  generic.hook_event_id = 0x0502;
  generic.filetime = 0;
  const row_case cases[] = {
      {"Damaged", damaged, "data{corrupted record: 24 bytes at file offset 0x1048}",
       "0x0000000000000000"},
      {"Compressed", compressed, "data{compressed buffer: 549 bytes at file offset 0x1048 not read}",
       "0x0000000000000000"},
      {"TimeNotValid", bad_time, "", "0x01d5c03669c1614e", "0x000a"},
      {"GenericHeader", generic, "", "0x01d5c03669c1614e", "0x0502"},
  };
  event_writer writer;
  for (const row_case& c : cases) {
    SCOPED_TRACE(c.name);
    tool_options t({"-csv"});
    std::ostringstream out;
    event_record e = c.e;
    writer.write_event_row(e, out, t.options);
    std::vector<csv_record> records;
    ASSERT_TRUE(read_csv(out.str(), ",", true, records));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1][15], c.extra);
    EXPECT_EQ(records[1][0], " " + c.created);
    EXPECT_EQ(records[1][5], c.event_id);
  }
}

// Texts from outside the log (session, user, host, file names) and decoded
// texts may begin or end with double quotes and hold separators, line breaks
// and NUL bytes: every table row and timeline line still splits under RFC
// 4180 into exactly its fields, and no NUL byte reaches the output.
TEST(EventOutput, EveryLineSplitsIntoItsFields) {
  struct split_case {
    std::vector<std::string> args;
    std::string separator;
    std::size_t fields;
    std::size_t records;  // the header and the lines of the timed and the timeless event
  };
  const split_case cases[] = {
      {{"-csvl2t"}, ",", 17, 2},
      {{"-csvl2t", "-pair_datetime"}, ",", 16, 2},
      {{"-csvl2t", "-csv_separator", ";"}, ";", 17, 2},
      {{"-csvl2t", "-enable_quoted_csv_fields"}, ",", 17, 2},
      {{"-csvl2t", "-csv_separator", "|", "-timeformat", "hh:mm:ss"}, "|", 17, 2},
      // under quoting "timezone" and "format" hold the separator: quoted header names
      {{"-csvl2t", "-csv_separator", "m", "-enable_quoted_csv_fields"}, "m", 17, 2},
      {{"-csv"}, ",", 16, 3},
      {{"-csv", "-dateformat", "mmm dd, yy"}, ",", 16, 3},  // the date is written without its comma
      {{"-csv", "-enable_quoted_csv_fields"}, ",", 16, 3},
      {{}, " | ", 16, 3},
  };
  const std::string hostiles[] = {"a,b;c\td|e\"f\r\ng", "\"q.etl", "x\"", "\"\r\n,\";\0|\"\t"s};
  event_writer writer;
  for (const split_case& c : cases) {
    for (const std::string& hostile : hostiles) {
      std::vector<std::string> args = c.args;
      args.insert(args.end(), {"-username", hostile, "-hostname", hostile});
      tool_options t(args);
      SCOPED_TRACE(c.separator + " " + std::to_string(c.args.size()));
      t.options.session_name = hostile;
      t.options.current_file = hostile;
      t.options.source_path = hostile;
      std::ostringstream out;
      for (const u64 filetime : {sample_event().filetime, u64{0}}) {
        event_record e = sample_event();
        e.filetime = filetime;
        e.provider_name = hostile;
        e.fields.emplace(0x200c0, text_field("Text", hostile));
        writer.write_event_row(e, out, t.options);
      }
      const std::string text = out.str();
      EXPECT_EQ(text.find('\0'), std::string::npos) << text;
      std::vector<csv_record> records;
      ASSERT_TRUE(read_csv(text, c.separator, true, records)) << text;
      ASSERT_EQ(records.size(), c.records) << text;
      for (const csv_record& r : records) EXPECT_EQ(r.size(), c.fields) << text;
    }
  }
}

// The date, the time and the version of a timeline line are never rewritten,
// whatever the separator (the command line refuses one that they can hold).
TEST(Timeline, FixedFieldsAreNeverRewritten) {
  event_writer writer;
  for (const std::string sep : {":", "0", ".", "2"}) {
    tool_options t({"-csvl2t"});
    t.options.separator_text = sep;
    t.options.separator = sep[0];
    t.options.current_file = "f";
    event_record e = sample_event();
    std::ostringstream out;
    writer.write_event_row(e, out, t.options);
    const std::string line = out.str().substr(out.str().find('\n') + 1);
    EXPECT_EQ(line.rfind("2020-01-01" + sep + " 00:00:01.234567800" + sep + "UTC" + sep, 0), 0u) << line;
    EXPECT_NE(line.find(sep + "2" + sep + "f" + sep), std::string::npos) << line;
  }
}

// A separator that a text the writers write themselves holds would rewrite
// that text: the command line refuses it, naming the clash, for the active
// output. Under quoting a fixed text holding the separator is quoted instead.
TEST(Separator, FixedTextsRefuseTheirCharacters) {
  const struct {
    std::vector<std::string> args;
    std::string err;  // empty: accepted
  } cases[] = {
      {{"-csvl2t", "-csv_separator", "U"}, "\"U\" refused: the timezone field \"UTC\" holds 'U'"},
      {{"-csvl2t", "-csv_separator", "B"}, "\"B\" refused: the timeline's header \"MACB\" holds 'B'"},
      {{"-csvl2t", "-timeformat", "hh:mm:ss", "-csv_separator", "."},
       "\".\" refused: the MACB field \"...B\" holds '.'"},
      {{"-csvl2t", "-csv_separator", "E"}, "\"E\" refused: the source field \"ETL\" holds 'E'"},
      {{"-csvl2t", "-csv_separator", "("}, "\"(\" refused: the format field \" (norvane)\" holds '('"},
      {{"-csv", "-csv_separator", "r"}, "\"r\" refused: the table's header \"created [utc or #ticks]\" holds 'r'"},
      {{"-csv", "-csv_separator", "<"}, "\"<\" refused: the header row \"<header info only>\" holds '<'"},
      {{"-csv", "-csv_separator", "U"}, ""},  // the table writes no "UTC"
      {{"-csvl2t", "-csv_separator", ";"}, ""},
      {{"-csvl2t", "-csv_separator", "tab"}, ""},
      {{"-csv", "-csv_separator", "|"}, ""},
      {{"-csvl2t", "-csv_separator", "U", "-enable_quoted_csv_fields"}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    std::vector<std::string> args = {"vesk", "-log", "x.etl"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    vesk_user_opts options;
    testing::internal::CaptureStderr();
    const bool ok = options.read_options(args);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok, c.err.empty());
    EXPECT_EQ(err, c.err.empty() ? "" : "separator " + c.err + ", and a separator must not rewrite it\n");
  }
  // the texts the check knows are the ones an event's timeline line holds
  tool_options t({"-csvl2t"});
  event_record e = sample_event();
  std::ostringstream out;
  event_writer().write_event_row(e, out, t.options);
  std::vector<csv_record> lines;
  ASSERT_TRUE(read_csv(out.str(), ",", true, lines));
  ASSERT_EQ(lines.size(), 2u);
  const csv_record& line = lines[1];
  EXPECT_EQ(line[2], fixed_text::timezone);
  EXPECT_EQ(line[3], fixed_text::event_macb);
  EXPECT_EQ(line[4], fixed_text::source);
  EXPECT_EQ(line[6], fixed_text::entry_label);
  EXPECT_TRUE(line[15].ends_with(fixed_text::format_suffix)) << line[15];
  for (std::size_t i = 0; i < l2t_field_names.size(); ++i) EXPECT_EQ(lines[0][i + 2], l2t_field_names[i]);
}

// The timeline record serves every event: with every member set (its
// times too), set back to its defaults it equals a new record.
TEST(Timeline, ResetRecordEqualsANewOne) {
  tool_options t({"-csvl2t"});
  timeline_record r;
  r.set_times(1, 2, 3, ft_2020, zarn::type_time::unix_time);
  r.set_labels("m", "a", "c", "b");
  r.base_label = "base";
  r.tag = 4;
  r.add_further_time(ft_2021, "l", "f", "s");
  for (std::string* text : {&r.timezone, &r.source, &r.sourcetype, &r.type_text, &r.user, &r.host,
                            &r.short_text, &r.desc, &r.filename, &r.inode, &r.notes, &r.format,
                            &r.extra, &r.date_format_text, &r.time_format_text, &r.separator_text}) {
    *text = "x";
  }
  r.version = 3;
  ASSERT_TRUE(compile_date_time_format(r.compiled, "mm/dd/yyyy", "hh:mm:ss", true));
  r.separator = ';';
  r.replacement = '_';
  r.padded = r.unpadded = r.combined = r.quoted = 1;
  r.options = &t.options;
  std::ostringstream out;
  (void)r.write_l2t(t.options.header_pending, out);  // its line buffers hold the last line
  ASSERT_FALSE(out.str().empty());
  r.set_defaults();
  EXPECT_EQ(r, timeline_record{});
}

}  // namespace
