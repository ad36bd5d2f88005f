// The three output forms on real samples, against golden files kept in
// tests/golden (each checked by hand against the payload bytes before it was
// committed). Paths in the output are replaced by <samples> and <vesk>, so a
// golden file holds no machine's folders. VESK_UPDATE_GOLDEN=1 rewrites the
// files instead of comparing. No row holds a guessed FILETIME: guessing takes
// 8 bytes for one only inside a window around the current date, so such a
// row would not stay the same from year to year.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/csv_reader.hpp"
#include "support/log_builder.hpp"
#include "support/run_vesk.hpp"
#include "support/samples.hpp"
#include "support/temp_dir.hpp"

namespace {


void replace_all(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

std::string normalized(std::string text) {
  replace_all(text, VESK_BINARY, "<vesk>");
  replace_all(text, VESK_SAMPLES_DIR, "<samples>");
  return text;
}

// The events -stats counts in a sample.
unsigned long stats_total(const std::string& sample) {
  const vesk_result r = run_vesk({"-log", sample_path(sample), "-stats", "-quiet"});
  unsigned long total = 0;
  std::size_t at = 0;
  while ((at = r.out.find(" | ", at)) != std::string::npos) {
    const std::size_t end = r.out.find('\n', at);
    const std::string count = r.out.substr(at + 3, end - at - 3);
    if (count.find("occurances") == std::string::npos) total += std::stoul(count);
    at = end;
  }
  return total;
}

struct golden_case {
  const char* sample;
  std::vector<std::string> options;
  const char* golden;
  std::string separator;  // empty: not a delimited form
  std::size_t fields;     // of every delimited line from the table's header on
  bool timeline;          // every line is CSV; one line per event with a time
};

TEST(Golden, OutputFormsOnSamples) {
  if (!samples_present()) GTEST_SKIP() << "sample folder " << VESK_SAMPLES_DIR << " is absent";
  const golden_case cases[] = {
      {"perfview_gcevents.etl", {}, "gcevents.table.txt", "", 0, false},
      {"perfview_smallEtlFile.etl", {}, "smallEtlFile.table.txt", "", 0, false},
      {"s4_CldFlt0-2025-12-21-121418.etl", {"-csv"}, "cldflt0.csv.txt", ",", 16, false},
      {"perfview_gcevents.etl", {"-csvl2t"}, "gcevents.l2t.csv", ",", 17, true},
      {"hw3d_trace.etl", {"-csvl2t", "-csv_separator", ";", "-pair_datetime"}, "hw3d.l2t.csv", ";",
       16, true},
  };
  const bool update = std::getenv("VESK_UPDATE_GOLDEN") != nullptr;
  for (const golden_case& c : cases) {
    SCOPED_TRACE(c.golden);
    std::vector<std::string> args = {"-log", sample_path(c.sample), "-quiet"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const vesk_result r = run_vesk(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string out = normalized(r.out);
    const std::string golden_path = std::string(VESK_SOURCE_DIR) + "/tests/golden/" + c.golden;
    if (update) {
      std::ofstream(golden_path, std::ios::binary) << out;
    } else {
      EXPECT_EQ(out, read_text(golden_path));
    }
    if (c.separator.empty()) continue;
    // read back as a consumer would (RFC 4180): every line from the table's
    // header on splits into the same number of fields
    const std::size_t table = c.timeline ? 0 : out.find(" created [utc or #ticks]");
    ASSERT_NE(table, std::string::npos);
    std::vector<csv_record> records;
    ASSERT_TRUE(read_csv(out.substr(table), c.separator, true, records));
    for (const csv_record& rec : records) EXPECT_EQ(rec.size(), c.fields);
    if (c.timeline) {
      EXPECT_EQ(records.size() - 1, stats_total(c.sample));
    }
  }
}

// Reads an output as a CSV consumer would (RFC 4180). Under -csvl2t every
// record has the header's field count (each file has a header line). In the
// table output each input file's block, from its "file:" line on, must read
// without an open quote; every record from the block's table header on has
// the header's field count.
// Returns the number of records below the headers.
std::size_t checked_records(const std::string& out, const std::string& separator, bool timeline,
                            std::size_t fields) {
  std::vector<std::string> blocks;
  if (timeline) {
    blocks.push_back(out);
  } else {
    const std::string rule = "---------------------\n";
    // the block before the first rule holds the command line, no table
    for (std::size_t at = out.find(rule); at != std::string::npos;) {
      const std::size_t next = out.find(rule, at + rule.size());
      blocks.push_back(out.substr(at + rule.size(), next == std::string::npos ? next : next - at - rule.size()));
      at = next;
    }
  }
  std::size_t rows = 0;
  for (const std::string& block : blocks) {
    std::vector<csv_record> records;
    EXPECT_TRUE(read_csv(block, separator, true, records)) << block;
    std::size_t header = 0;
    while (!timeline && header < records.size() &&
           records[header][0].find("created [utc or #ticks]") == std::string::npos) {
      ++header;
    }
    EXPECT_LT(header, records.size()) << block;
    for (std::size_t i = header; i < records.size(); ++i) {
      EXPECT_EQ(records[i].size(), fields) << block;
      // every file's timeline lines follow a header line of their own
      const bool header_line = i == header || (timeline && (records[i][0] == "date" || records[i][0] == "date/time"));
      if (!header_line) ++rows;
    }
  }
  return rows;
}

// Every table and timeline line of every sample, read in one run per form.
TEST(Golden, EveryLineOfEverySampleSplits) {
  if (!samples_present()) GTEST_SKIP() << "sample folder " << VESK_SAMPLES_DIR << " is absent";
  std::string list;
  for (const auto& entry : std::filesystem::directory_iterator(VESK_SAMPLES_DIR)) {
    if (entry.path().extension() != ".etl") continue;
    list += (list.empty() ? "" : "|") + entry.path().string();
  }
  const struct {
    std::vector<std::string> options;
    std::string separator;
    bool timeline;
    std::size_t fields;
  } forms[] = {{{"-csv"}, ",", false, 16}, {{"-csvl2t"}, ",", true, 17}};
  for (const auto& form : forms) {
    std::vector<std::string> args = {"-log", list, "-quiet"};
    args.insert(args.end(), form.options.begin(), form.options.end());
    const vesk_result r = run_vesk(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_GT(checked_records(r.out, form.separator, form.timeline, form.fields), 400u);
  }
}

// Names from outside the program (the log's file name, the session and file
// names recorded in it, -username, -hostname) may hold double quotes,
// separators, line breaks and NUL bytes: no line is forged or broken.
TEST(Golden, HostileNamesForgeNoLine) {
  using namespace logbuild;
  logfile_header_fields head;
  head.first_buffer_size = 0x1000;
  head.clock_type = 2;  // record times are FILETIMEs
  head.start_time = ft_2020;
  head.logger_name = u"\"sess,ion\r\n";
  head.log_file_name = std::u16string(u"\",\"c:\\x.etl\r\nforged,row\0!", 25);
  buffer_header_fields data;
  data.buffer_size = 0x1000;
  buffer_builder b(data);
  for (u64 second = 1; second <= 2; ++second) {
    record_event e;
    e.time = ft_2020 + second * 10000000;
    b.add(build_record(e));
  }
  const byte_array log = join({build_logfile_first_buffer(head), b.finish()});
  temp_dir dir;
  const std::string names[] = {"\"q.etl", "n\nforged,row.etl", "c,\"q;x.etl"};
  for (const std::string& name : names) dir.write(name, log);
  // run inside the folder, so that the names reach the output as given
  const std::string in_folder = "cd '" + dir.path("") + "' &&";
  const struct {
    std::vector<std::string> options;
    std::string separator;
    bool timeline;
    std::size_t fields;
    std::size_t rows;  // per log
  } forms[] = {
      {{"-csv"}, ",", false, 16, 3},
      {{"-csv", "-csv_separator", ";"}, ";", false, 16, 3},
      {{"-no_whitespace"}, "|", false, 16, 3},
      {{"-csvl2t"}, ",", true, 17, 2},
      {{"-csvl2t", "-csv_separator", "|"}, "|", true, 17, 2},
  };
  for (const auto& form : forms) {
    for (const std::string& name : names) {
      SCOPED_TRACE(name);
      std::vector<std::string> args = {"-log", name + "|" + names[0], "-quiet", "-username", "\"x",
                                       "-hostname", "h,\"\n"};
      args.insert(args.end(), form.options.begin(), form.options.end());
      const vesk_result r = run_vesk(args, "", in_folder);
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out.find('\0'), std::string::npos);
      EXPECT_EQ(checked_records(r.out, form.separator, form.timeline, form.fields), 2 * form.rows) << r.out;
    }
  }
}

// Field names from a -templates file reach every row and timeline line; a
// carriage return inside one (a line ends only at a line feed) is shown as a
// marker in every layout, -multiline included, as in a decoded value.
TEST(Golden, TemplateFieldNamesAreCleaned) {
  using namespace logbuild;
  logfile_header_fields head;
  head.clock_type = 2;
  head.start_time = ft_2020;
  buffer_builder b(buffer_header_fields{});
  b.add(build_record(record_event{}));  // event 7 of 8e805eb3-..., payload 01 02 03 04
  temp_dir dir;
  const std::string log = dir.write("t.etl", join({build_logfile_first_buffer(head), b.finish()}));
  const std::string templates =
      dir.write("t.txt", std::string("8e805eb3-6a8f-4a1e-90fa-a831d94e54a1!x$7,LNa\rme,8\n"));
  const struct {
    std::vector<std::string> options;
    std::size_t fields;  // 0: not CSV
    std::size_t rows;
  } forms[] = {{{"-csvl2t"}, 17, 1}, {{"-csv"}, 16, 2}, {{"-multiline"}, 0, 0}};
  for (const auto& form : forms) {
    std::vector<std::string> args = {"-log", log, "-templates", templates, "-quiet"};
    args.insert(args.end(), form.options.begin(), form.options.end());
    const vesk_result r = run_vesk(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(R"("01-Na[CR]me":"0x04030201")"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
    if (form.fields != 0) {
      EXPECT_EQ(checked_records(r.out, ",", form.options[0] == "-csvl2t", form.fields), form.rows);
    }
  }
}

}  // namespace
