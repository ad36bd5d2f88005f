// The block writer reads template lines by the grammar of the -templates
// reader: a line the reader skips never reaches the block (and the build,
// which writes the block from data/templates, stops at one).
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
  const std::string g = "11111111-2222-3333-4444-555555555555!Event";
  const row rows[] = {
      {g + "$5,LSize,8", true},
      {g + "$3-5;9,#7601,8", true},
      {g + "$5,C1", true},      // a record without fields
      {g + "$5", false},        // no "," after the ids
      {g + "$5,   ", false},    // nothing after the ","
      {g + "$0-0,8", false},    // a range that ends at 0
      {g + "$5-3,8", false},    // a range that runs backwards
      {g + " 5,8", false},      // no id marker
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
    SCOPED_TRACE(rows[i].line);
    template_rec rec;
    std::string line = rows[i].line;
    EXPECT_EQ(rec.parse_line(line), rows[i].read);
    const std::string refused = source + ":" + std::to_string(i + 1) + ": error: ";
    EXPECT_EQ(w.err.find(refused) == std::string::npos, rows[i].read) << w.err;
  }
}

}  // namespace
