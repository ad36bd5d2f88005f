// The block writer reads template lines by the grammar of the -templates
// reader: a line the reader skips or refuses never reaches the block (and
// the build, which writes the block from data/templates, stops at one).
#include <gtest/gtest.h>

#include <filesystem>

#include "decode/template_db.hpp"
#include "support/run_vesk.hpp"
#include "support/temp_dir.hpp"

namespace {

TEST(TemplateBlockWriter, RefusesTheLinesTheReaderSkips) {
  struct row {
    std::string line;
    bool read;  // by the -templates reader and by the block writer alike
  };
  const std::string guid_text = "11111111-2222-3333-4444-555555555555";
  const std::string g = guid_text + "!Event";
  // a line of `bytes` bytes
  const auto line_of = [&](std::size_t bytes) {
    return g + std::string(bytes - g.size() - 4, 'x') + "$5,8";
  };
  const row rows[] = {
      {g + "$5,LSize,8", true},
      {g + "$3-5;9,#7601,8", true},
      {g + "$5,C1", true},      // a record without fields
      {g + "$5", false},        // no "," after the ids
      {g + "$5,   ", false},    // nothing after the ","
      {g + "$0-0,8", false},    // a range that ends at 0
      {g + "$5-3,8", false},    // a range that runs backwards
      {g + " 5,8", false},      // no id marker
      // lines and names at their bounds and one byte past them
      {line_of(max_template_line_bytes), true},
      {line_of(max_template_line_bytes + 1), false},
      {g + "$5,L" + std::string(max_template_name_bytes, 'n') + ",8", true},
      {g + "$5,L" + std::string(max_template_name_bytes + 1, 'n') + ",8", false},
      {"#" + guid_text + "!" + std::string(max_template_name_bytes, 'P'), true},
      {"#" + guid_text + "!" + std::string(max_template_name_bytes + 1, 'P'), false},
  };
  temp_dir dir;
  std::filesystem::create_directories(dir.path("src"));
  std::string text;
  for (const row& r : rows) text += r.line + "\n";
  const std::string source = dir.write("src/lines.txt", text);
  const vesk_result w = run_program(VESK_PYTHON, {VESK_SOURCE_DIR "/tools/template_block.py", "write",
                                                  dir.path("src"), dir.path("out.block")});
  EXPECT_EQ(w.status, 1);
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].line.substr(0, 80));
    // read: the line makes a record, without a warning or a refusal
    template_db db;
    testing::internal::CaptureStderr();
    const bool file_read = db.parse_file(dir.write("line.txt", rows[i].line));
    const bool quiet = testing::internal::GetCapturedStderr().empty();
    EXPECT_EQ(file_read && quiet && db.records.size() == 1, rows[i].read);
    const std::string refused = source + ":" + std::to_string(i + 1) + ": error: ";
    EXPECT_EQ(w.err.find(refused) == std::string::npos, rows[i].read) << w.err;
  }
}

}  // namespace
