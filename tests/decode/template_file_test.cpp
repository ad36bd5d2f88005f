#include <gtest/gtest.h>

#include "common/zarn_md5.hpp"
#include "decode/template_db.hpp"
#include "decode/template_map.hpp"
#include "support/log_builder.hpp"
#include "support/temp_dir.hpp"

using logbuild::guid_of;

namespace {

const std::string upper = "E13C0D23-CCBC-4E12-931B-D9CC2EEE27E4";
const std::string lower = "e13c0d23-ccbc-4e12-931b-d9cc2eee27e4";
const guid dotnet = guid_of(lower);

TEST(TemplateFileLine, ReadsIdsAndItems) {
  struct line_case {
    std::string line;
    u16 first_id, last_id;
    std::set<u16> ids;
    std::set<u64> selectors;
    std::vector<u16> types;
    std::vector<std::string> names;
    std::string fields;  // the signature after the GUID text
    u8 percent_flag;
  };
  const line_case cases[] = {
      {" {" + upper + "} ! GC$4-6;9, #900, LStatus, 8, 10 \r", 4, 6, {9}, {900}, {8, 10}, {"Status", ""},
       "Status810", 0},
      {lower + "!x$7,8", 0, 0, {7}, {}, {8}, {""}, "8", 0},
      {lower + "!x$3-5,8", 3, 5, {}, {}, {8}, {""}, "8", 0},
      {lower + "!x$4;6,8", 0, 0, {4, 6}, {}, {8}, {""}, "8", 0},
      {lower + "!x%5,8", 0, 0, {5}, {}, {8}, {""}, "8", 1},
      {lower + "!x%5$6,8", 0, 0, {6}, {}, {8}, {""}, "8", 0},
      {lower + "!x$,8", 0, 0, {0}, {}, {8}, {""}, "8", 0},
      {lower + "!x$1,LSize, C1, 8", 0, 0, {1}, {}, {8}, {"Size"}, "Size8", 0},
      {lower + "!x$1,8, LName", 0, 0, {1}, {}, {8}, {""}, "8", 0},
      {lower + "!x$1,#900,C2,#", 0, 0, {1}, {900}, {}, {}, "", 0},
      // every number is kept in 16 bits
      {lower + "!x$65537,0x1F,70000", 0, 0, {1}, {}, {31, 4464}, {"", ""}, "314464", 0},
  };
  for (const line_case& c : cases) {
    SCOPED_TRACE(c.line);
    template_rec rec;
    std::string line = c.line;
    ASSERT_TRUE(rec.parse_line(line));
    // trimmed in place and kept
    EXPECT_EQ(line, c.line.substr(c.line.find_first_not_of(' '), line.size()));
    EXPECT_NE(line.back(), '\r');
    EXPECT_EQ(rec.line, line);
    EXPECT_EQ(rec.provider, dotnet);
    EXPECT_EQ(rec.first_id, c.first_id);
    EXPECT_EQ(rec.last_id, c.last_id);
    EXPECT_EQ(rec.ids, c.ids);
    EXPECT_EQ(rec.selectors, c.selectors);
    EXPECT_EQ(rec.types, c.types);
    EXPECT_EQ(rec.names, c.names);
    EXPECT_EQ(rec.percent_flag, c.percent_flag);
    const std::string signature = (c.line[0] == ' ' ? upper : lower) + c.fields;
    EXPECT_EQ(rec.signature, signature);
    guid key;
    ASSERT_TRUE(md5(reinterpret_cast<const u8*>(signature.data()), static_cast<u32>(signature.size()), key.bytes));
    EXPECT_EQ(rec.key, key);
  }
}

// Each record as "<first>-<last> <ids> +<merged ranges> #<selectors>", then
// "@<name>" per provider name.
std::string summary(const template_db& db) {
  std::string s;
  for (const template_rec& r : db.records) {
    s += (s.empty() ? "" : " | ") + std::to_string(r.first_id) + "-" + std::to_string(r.last_id);
    for (const u16 id : r.ids) s += " " + std::to_string(id);
    for (const auto& [first, last] : r.more_ranges) s += " +" + std::to_string(first) + "-" + std::to_string(last);
    for (const u64 v : r.selectors) s += " #" + std::to_string(v);
  }
  for (std::size_t i = 1; i < db.provider_names.size(); ++i) s += " @" + db.provider_names[i];
  return s;
}

TEST(TemplateFile, ReadsLinesIntoRecords) {
  const std::string t = lower + "!GC";  // the start of a template line
  const std::string other = "01234567-89ab-cdef-0123-456789abcdef";
  const std::string third = "11111111-2222-3333-4444-555555555555";
  struct file_case {
    const char* name;
    std::string text;
    std::string records;                // summary()
    std::vector<std::string> warnings;  // each behind "<path>:"
  };
  const file_case cases[] = {
      {"MergeTakesTheRange", t + "$7,8\n" + t + "$3-5;9,8\n", "3-5 7 9", {}},
      {"MergeKeepsTheRange", t + "$1-2,8\r\n" + t + "$3-5;9,8\r\n", "1-2 9 +3-5", {}},
      {"RangeEndingAt65535", t + "$1-2,8\n" + t + "$65533-65535,8\n", "1-2 +65533-65535", {}},
      // a repeated line adds nothing; overlapping and touching ranges join
      {"RangesMergeAsRanges",
       t + "$1-5,8\n" + t + "$3-9,8\n" + t + "$10-12,8\n" + t + "$20-30,8\n" + t + "$12-19,8\n" + t +
           "$65535-65535,8\n" + t + "$0-2,8\n" + t + "$1-5,8\n" + t + "$2-4,8\n",
       "1-5 +0-30 +65535-65535", {}},
      {"GuidTextCaseMatters", t + "$1,8\n" + upper + "!GC$2,8\n", "0-0 1 | 0-0 2", {}},
      {"OtherSelectorsKeepTheirOwn", t + "$1,#900,8\n" + t + "$2,#1000,8\n" + t + "$3,#1000,8\n",
       "0-0 1 #900 | 0-0 2 3 #1000", {}},
      {"FirstProviderNameWins", "\xEF\xBB\xBF#{" + upper + "} ! First, more\n#" + lower + "!Second\n",
       "0-0 @First", {}},
      {"NameCutAtSeparators", "#" + lower + "!A |x,y\n#" + other + "!B;x,y\n#" + third + "!C,x|y\n",
       "0-0 | 0-0 | 0-0 @A @B @C", {}},
      // a "#" line without a "!" is a comment too
      {"CommentsAndShortLines",
       "123456789012345\n//" + t + "$1,8\n/ not a line at all\n###############\n################ notes\n", "", {}},
      {"MalformedLinesSkipped",
       "#{e13c0d23}!Name\n#" + lower + "Z!Name\n#" + lower + "!, no name\n" + lower + " $1,8\n" +
           "e13c0d23-ccbc-4e12-931b-d9cc2eee27eZ!GC$1,8\n" + t + " 1,8\n" + t + "$1\n" + t + "$1,\n" + t +
           "$4- 6,8\n" + t + "$4-;6,8\n" + t + "$6-4,8\n" + t + "$2,8\n",
       "0-0 2",
       {"1: provider line skipped: the provider GUID is shorter than 36 characters",
        "2: provider line skipped: the provider GUID does not parse",
        "3: provider line skipped: no provider name after the GUID",
        "4: template line skipped: no \"!\" between the provider GUID and the text",
        "5: template line skipped: the provider GUID does not parse",
        "6: template line skipped: no event id marker (\"$\" or \"%\")",
        "7: template line skipped: no \",\" after the event ids",
        "8: template line skipped: nothing after the event ids",
        "9: template line skipped: no last event id right after \"-\"",
        "10: template line skipped: no last event id right after \"-\"",
        "11: template line skipped: the event id range runs backwards"}},
  };
  for (const file_case& c : cases) {
    SCOPED_TRACE(c.name);
    temp_dir dir;
    const std::string path = dir.write("user.txt", c.text);
    template_db db;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(db.parse_file(path));
    std::string expected;
    for (const std::string& w : c.warnings) expected += path + ":" + w + "\n";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), expected);
    EXPECT_EQ(summary(db), c.records);
  }
}

TEST(TemplateFile, WarningsStopAtFifty) {
  temp_dir dir;
  std::string text;
  for (int i = 0; i < 60; ++i) text += lower + "!no marker,8\n";
  const std::string path = dir.write("junk.txt", text);
  template_db db;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(db.parse_file(path));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find(path + ":50: template line skipped"), std::string::npos);
  EXPECT_EQ(err.find(path + ":51:"), std::string::npos);
  EXPECT_NE(err.find(path + ": 10 more lines skipped\n"), std::string::npos);
  // no file and an empty file hold no database
  EXPECT_FALSE(db.parse_file(dir.path("absent.txt")));
  EXPECT_FALSE(db.parse_file(dir.write("empty.txt", std::string())));
}

// A file whose templates would pass the store's bound is refused at the line
// that would pass it; lines that only repeat earlier ones cost nothing.
TEST(TemplateFile, RefusedAtTheLinePastTheBound) {
  temp_dir dir;
  std::vector<std::string> lines;
  for (int i = 0; i < 6; ++i) lines.push_back("0123456" + std::to_string(i) + "-89ab-cdef-0123-456789abcdef!x$0-65535,LName,8\n");
  template_db db;
  ASSERT_TRUE(db.parse_file(dir.write("three.txt", lines[0] + lines[1] + lines[2])));
  const u64 limit = db.store_bytes;
  std::string repeats = lines[0] + lines[1] + lines[2];
  for (int i = 0; i < 1000; ++i) repeats += lines[i % 3];
  EXPECT_TRUE(db.parse_file(dir.write("repeats.txt", repeats), limit));
  EXPECT_EQ(db.store_bytes, limit);
  const std::string path = dir.write("six.txt", lines[0] + "// a comment\n" + lines[1] + lines[2] + lines[3] + lines[4]);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(db.parse_file(path, limit));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            path + ":5: the templates would take more than 1 MiB of memory; the file is refused\n");
  EXPECT_EQ(db.refused_line, 5u);
  EXPECT_TRUE(db.records.empty());
}

// The file is read in blocks: a line reads the same wherever a block ends
// in it (between the CR and LF of its end as well), and lines keep their
// numbers across blocks.
TEST(TemplateFile, LinesCutBetweenBlocks) {
  const std::string lines = lower + "!GC$7,8\r\n" + lower + "!GC 1,8\n" + lower + "!GC$3-5;9,8";
  temp_dir dir;
  for (std::size_t cut = 0; cut <= lines.size(); ++cut) {
    SCOPED_TRACE(cut);
    // a comment line fills the first block up to `cut` bytes before its end
    const std::string fill = "/" + std::string(template_file_block_bytes - cut - 2, 'x') + "\n";
    const std::string path = dir.write("cut.txt", fill + lines);
    template_db db;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(db.parse_file(path));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              path + ":3: template line skipped: no event id marker (\"$\" or \"%\")\n");
    EXPECT_EQ(summary(db), "3-5 7 9");
  }
}

// Past the line bound a comment line is passed over and any other line
// refuses the file; blanks around a line do not count. A name kept in a
// record refuses the file past the name bound.
TEST(TemplateFile, LinesAndNamesPastTheirBounds) {
  const std::string good = lower + "!GC$9,8\n";
  const std::string t = lower + "!GC$7,";
  const std::string blanks(max_template_line_bytes, ' ');
  const std::string past_line(max_template_line_bytes, 'x');
  // a template line of `bytes` bytes, with a long event description
  const auto line_of = [&](std::size_t bytes) {
    return lower + "!" + std::string(bytes - lower.size() - 5, 'x') + "$7,8";
  };
  const std::string long_name(max_template_name_bytes, 'n');
  struct bound_case {
    const char* name;
    std::string line;     // the second of three, between two good lines
    std::string records;  // summary(), when the file is read
    std::string refusal;  // why line 2 refuses the file
  };
  const bound_case cases[] = {
      {"LongComment", " \t/" + past_line, "0-0 9", ""},
      {"ShortLineInBlanks", blanks + "x" + blanks + "\r", "0-0 9", ""},
      {"FifteenBetweenBlanks", "\r\t123456789012345 \r", "0-0 9", ""},
      {"LineAtTheBound", line_of(max_template_line_bytes) + blanks, "0-0 7 9", ""},
      {"LineOneBytePast", line_of(max_template_line_bytes + 1), "", "the line is longer than 1048576 bytes"},
      {"ProviderLinePast", "#" + lower + "!" + past_line, "", "the line is longer than 1048576 bytes"},
      {"FieldNameAtTheBound", t + "L" + long_name + ",8", "0-0 9 | 0-0 7", ""},
      {"FieldNameOneBytePast", t + "L" + long_name + "n,8", "", "a field name is longer than 1024 bytes"},
      {"DroppedNamePast", t + "8,L" + long_name + "n", "0-0 7 9", ""},
      {"ProviderNameAtTheBound", "#" + lower + "!" + long_name, "0-0 9 | 0-0 @" + long_name, ""},
      {"ProviderNameOneBytePast", "#" + lower + "!" + long_name + "n", "",
       "the provider name is longer than 1024 bytes"},
  };
  temp_dir dir;
  for (const bound_case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.write("bounds.txt", good + c.line + "\n" + good);
    template_db db;
    testing::internal::CaptureStderr();
    EXPECT_EQ(db.parse_file(path), c.refusal.empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              c.refusal.empty() ? "" : path + ":2: " + c.refusal + "; the file is refused\n");
    EXPECT_EQ(db.refused_line, c.refusal.empty() ? 0u : 2u);
    EXPECT_EQ(summary(db), c.records);
  }
}

// A name's bytes count against the store's bound.
TEST(TemplateFile, NamesCountAgainstTheBound) {
  using line_maker = std::string (*)(int, const std::string&);
  const line_maker makers[] = {
      [](int i, const std::string& name) {
        return "#0123456" + std::to_string(i) + "-89ab-cdef-0123-456789abcdef!" + name + "\n";
      },
      [](int i, const std::string& name) {
        return "0123456" + std::to_string(i) + "-89ab-cdef-0123-456789abcdef!x$1,L" + name + ",8\n";
      },
  };
  temp_dir dir;
  for (const line_maker make : makers) {
    std::string short_names;
    std::string long_names;
    for (int i = 0; i < 4; ++i) {
      short_names += make(i, std::string(1, static_cast<char>('a' + i)));
      long_names += make(i, std::string(max_template_name_bytes, static_cast<char>('a' + i)));
    }
    SCOPED_TRACE(long_names.substr(0, 60));
    template_db db;
    ASSERT_TRUE(db.parse_file(dir.write("short.txt", short_names)));
    const u64 short_bytes = db.store_bytes;
    const std::string path = dir.write("long.txt", long_names);
    ASSERT_TRUE(db.parse_file(path));
    EXPECT_GE(db.store_bytes - short_bytes, 4 * (max_template_name_bytes - 1));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(db.parse_file(path, db.store_bytes - 1));
    (void)testing::internal::GetCapturedStderr();
    EXPECT_EQ(db.refused_line, 4u);
  }
}

// A provider line after its templates still names the provider.
TEST(TemplateFile, CompilesIntoTheMap) {
  temp_dir dir;
  const std::string path =
      dir.write("user.txt", lower + "!GC$4-6;9,LCount,8,10\n#" + lower + "!Microsoft-Windows-DotNETRuntime\n");
  template_db db;
  ASSERT_TRUE(db.parse_file(path));
  template_map map;
  ASSERT_TRUE(compile_templates(db, map, 0));
  for (const u16 id : {4, 6, 9}) {
    const event_template* t = map.find(&dotnet, id);
    ASSERT_NE(t, nullptr) << id;
    EXPECT_EQ(t->types, (std::vector<u16>{8, 10}));
    EXPECT_EQ(t->names, (std::vector<std::string>{"Count", ""}));
  }
  EXPECT_EQ(map.find(&dotnet, 7), nullptr);
  EXPECT_EQ(map.provider_name(dotnet.bytes), "Microsoft-Windows-DotNETRuntime");
}

}  // namespace
