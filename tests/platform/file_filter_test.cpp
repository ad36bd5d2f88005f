#include "platform/file_filter.hpp"

#include <gtest/gtest.h>

#include "platform/cmd_params.hpp"
#include "support/temp_dir.hpp"

namespace {

// Linux file names are bytes: a name that is not UTF-8 is still a file to
// examine, and must be tested by its patterns, its signature and its times
// rather than dropped.
TEST(FileFilter, NameThatIsNotUtf8IsTestedNotDropped) {
  temp_dir dir;
  const std::string p = dir.write(std::string("caf\xe9.etl"), byte_array{0x4d, 0x5a, 1});
  cmd_params opts(0, 1);
  u8 unopened = 9;

  filter_list by_name;
  ASSERT_TRUE(parse_filter_patterns(by_name, "*.etl"));
  EXPECT_TRUE(file_passes_filter(opts, &unopened, p, by_name, nullptr));
  filter_list other_name;
  ASSERT_TRUE(parse_filter_patterns(other_name, "*.txt"));
  EXPECT_FALSE(file_passes_filter(opts, &unopened, p, other_name, nullptr));

  filter_list by_signature(1);
  by_signature[0].signature = {0x4d, 0x5a};
  EXPECT_TRUE(file_passes_filter(opts, &unopened, p, by_signature, nullptr));
  EXPECT_EQ(unopened, 0);

  opts.start_window.set = 1;
  opts.start_window.unix_seconds = 1;
  opts.stop_window.set_open();
  file_info info;
  EXPECT_TRUE(file_passes_filter(opts, &unopened, p, by_name, &info));
  EXPECT_NE(info.modified, 0);
}

}  // namespace
