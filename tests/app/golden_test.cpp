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
  int status = 0;         // 1: the log has a compressed buffer, not read
};

TEST(Golden, OutputFormsOnSamples) {
  if (!samples_present()) GTEST_SKIP() << "sample folder " << VESK_SAMPLES_DIR << " is absent";
  const golden_case cases[] = {
      {"perfview_gcevents.etl", {}, "gcevents.table.txt", "", 0, false},
      {"perfview_smallEtlFile.etl", {}, "smallEtlFile.table.txt", "", 0, false, 1},
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
    ASSERT_EQ(r.status, c.status) << r.err;
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

// Reads an output as a CSV consumer would (RFC 4180), table output block by
// block from each "file:" line on (an open quote fails the read). Every
// record from a header on has `fields` fields, and none before it but the
// "file:" and "orig source path:" lines; returns the records below headers.
std::size_t rfc_rows(const std::string& out, const std::string& separator, std::size_t fields) {
  const std::string rule = "---------------------\n";
  const std::size_t first = out.find(rule);
  std::size_t rows = 0;
  for (std::size_t from = first == std::string::npos ? 0 : first + rule.size();;) {
    const std::size_t next = out.find(rule, from);
    std::vector<csv_record> records;
    EXPECT_TRUE(read_csv(out.substr(from, next - from), separator, true, records)) << out;
    bool below = false;
    for (const csv_record& r : records) {
      const bool header = r[0] == "date" || r[0] == "date/time" || r[0].ends_with("created [utc or #ticks]");
      if (header || below) {
        EXPECT_EQ(r.size(), fields) << out;
      } else {  // a name between the tables is one field: it cannot forge a row
        EXPECT_TRUE(r[0].starts_with("file: ") || r[0].starts_with("orig source path: ")) << out;
        EXPECT_EQ(r.size(), 1u) << r[0];
      }
      rows += below && !header ? 1 : 0;
      below = below || header;
    }
    if (next == std::string::npos) return rows;
    from = next + rule.size();
  }
}

TEST(Golden, EveryLineOfEverySampleSplits) {
  if (!samples_present()) GTEST_SKIP() << "sample folder " << VESK_SAMPLES_DIR << " is absent";
  std::string logs;
  for (const auto& entry : std::filesystem::directory_iterator(VESK_SAMPLES_DIR)) {
    if (entry.path().extension() == ".etl") logs += entry.path().string() + "|";
  }
  const vesk_result table = run_vesk({"-log", logs, "-quiet", "-csv"});
  const vesk_result timeline = run_vesk({"-log", logs, "-quiet", "-csvl2t"});
  EXPECT_GT(rfc_rows(table.out, ",", 16), 400u);
  EXPECT_GT(rfc_rows(timeline.out, ",", 17), 400u);
}

// Names from outside the program (the logs' names, the session and file
// names recorded in them, -username, -hostname, -templates field names) may
// hold double quotes, separators and line breaks: no line is forged or broken.
TEST(Golden, HostileNamesForgeNoLine) {
  using namespace logbuild;
  logfile_header_fields head;
  head.clock_type = 2;  // record times are FILETIMEs
  head.start_time = ft_2020;
  head.logger_name = u"\"sess,ion\r\n";
  head.log_file_name = u"\",\"c:\\x.etl\r\nforged,row";
  buffer_builder b(buffer_header_fields{});
  b.add(build_record(record_event{}));  // event 7 of 8e805eb3-..., payload 01 02 03 04
  const byte_array log = join({build_logfile_first_buffer(head), b.finish()});
  // a recorded name and a log name that hold 15 of each separator: a line
  // of the header's 16 fields unless written as one field
  std::u16string recorded = u"c:";
  std::string named = "x";
  for (int i = 0; i < 15; ++i) {
    recorded += u",;|\t";
    named += ",;\t";
  }
  named += "forged.etl";
  head.log_file_name = recorded;
  const byte_array forged = join({build_logfile_first_buffer(head), b.finish()});
  temp_dir dir;
  for (const char* name : {"\"q.etl", "n\nforged,row.etl", "c,\"q;x.etl"}) dir.write(name, log);
  dir.write(named, forged);
  dir.write("t.txt", std::string("8e805eb3-6a8f-4a1e-90fa-a831d94e54a1!x$7,LNa\rme,8\n"));
  const struct {
    std::vector<std::string> options;
    std::string separator;
    std::size_t fields;  // 0: no CSV
    std::size_t rows;
  } forms[] = {{{"-csv"}, ",", 16, 8},
               {{"-csv", "-csv_separator", ";"}, ";", 16, 8},
               {{"-csv", "-csv_separator", "|"}, "|", 16, 8},
               {{"-csv", "-csv_separator", "tab"}, "\t", 16, 8},
               {{"-csvl2t"}, ",", 17, 4},
               {{"-multiline"}, "", 0, 0}};
  for (const auto& form : forms) {
    std::vector<std::string> args = {"-log", "\"q.etl|n\nforged,row.etl|c,\"q;x.etl|" + named, "-templates", "t.txt",
                                     "-quiet", "-username", "\"x", "-hostname", "h,\"\n"};
    args.insert(args.end(), form.options.begin(), form.options.end());
    // run inside the folder, so that the names reach the output as given
    const vesk_result r = run_vesk(args, "", "cd '" + dir.path("") + "' &&");
    ASSERT_EQ(r.status, 0) << r.err;
    // a template field name is marked in every layout, -multiline included
    EXPECT_NE(r.out.find(R"("01-Na[CR]me":"0x04030201")"), std::string::npos) << r.out;
    if (form.fields != 0) {
      EXPECT_EQ(rfc_rows(r.out, form.separator, form.fields), form.rows);
    }
  }
}

}  // namespace
