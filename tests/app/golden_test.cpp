// The three output forms on real samples, against golden files kept in
// tests/golden (each checked by hand against the payload bytes before it was
// committed). Paths in the output are replaced by <samples> and <vesk>, so a
// golden file holds no machine's folders. VESK_UPDATE_GOLDEN=1 rewrites the
// files instead of comparing. No row holds a guessed FILETIME: guessing takes
// 8 bytes for one only inside a window around the current date, so such a
// row would not stay the same from year to year.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "support/csv_reader.hpp"
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

}  // namespace
