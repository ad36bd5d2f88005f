#include "platform/console.hpp"

#include <gtest/gtest.h>

#include "common/stopwatch.hpp"
#include "platform/cmd_params.hpp"
#include "support/temp_dir.hpp"

namespace {

const std::string frame_before = "\x1b[2K\r    \r";
const std::string clear_line = "\x1b[2K\r" + std::string(27, ' ') + "\r";

TEST(Console, StatusLineIsFramedCutAndHasNoNewline) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const std::string text = "line\n" + std::string(100, 'a');
  EXPECT_EQ(status_printf("%s", text.c_str()), 60);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // never on the results stream
  EXPECT_EQ(err, frame_before + "line" + std::string(55, 'a') + "\r");
}

TEST(Console, MessagesBlankTheStatusLineFirst) {
  testing::internal::CaptureStderr();
  status_printf("processing buffer %2d", 3);
  EXPECT_EQ(print_message("prob parsing file: %s\n", "x.etl"), 25);
  // A second message finds no status line to blank.
  EXPECT_EQ(print_message("%s\n", "next"), 5);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            frame_before + "processing buffer  3\r" + clear_line + "prob parsing file: x.etl\nnext\n");
}

// A long message is cut, never dropped: the examiner must see it.
TEST(Console, LongMessageIsCutNotDropped) {
  testing::internal::CaptureStderr();
  const std::string name(5000, 'n');
  EXPECT_EQ(print_message("prob parsing file: %s\n", name.c_str()), 4096);
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_EQ(err.size(), 4096u);
  EXPECT_EQ(err.substr(0, 19), "prob parsing file: ");
  EXPECT_EQ(err.back(), '\n');
}

TEST(Console, ContextReportsElapsedTimeToTheDiagsFile) {
  temp_dir dir;
  const std::string diags = dir.path("diags.txt");
  cmd_params opts(0, 1);
  opts.status_display = 0;
  opts.debug_stream = std::make_unique<std::ofstream>(diags);
  opts.debug_log = 1;
  opts.diags_path = diags;
  opts.log_text("vesk -log x");
  testing::internal::CaptureStderr();
  {
    cmdline_ctx ctx;
    ctx.configure(opts, nullptr);
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // -quiet, no -profile
  opts.debug_stream->flush();
  EXPECT_EQ(read_text(diags), "->vesk -log x\n->0 secs");
}

TEST(Console, ProfileAndStatusDisplayAtExit) {
  cmd_params opts(0, 1);
  opts.profile = 1;
  testing::internal::CaptureStderr();
  {
    cmdline_ctx ctx;
    ctx.configure(opts, nullptr);
    status_printf("processing buffer %2d", 1);
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            frame_before + "processing buffer  1\r" + clear_line + "->0 secs\n");
}

int callback_calls = 0;
int record_callback(std::string* arg) {
  callback_calls += (*arg == "sig") ? 1 : 100;
  return 0;
}

TEST(Console, ExitCallbackGetsTheSignalText) {
  cmd_params opts(0, 1);
  opts.status_display = 0;
  opts.signal = "sig";
  callback_calls = 0;
  { cmdline_ctx ctx; ctx.configure(opts, record_callback); }
  EXPECT_EQ(callback_calls, 1);
  opts.signal.clear();
  { cmdline_ctx ctx; ctx.configure(opts, record_callback); }
  EXPECT_EQ(callback_calls, 1);
}

TEST(Stopwatch, MarksAndDistances) {
  // 1970-01-01 00:00:01 UTC is 2208988801 seconds after 1900.
  const ntp_mark m = filetime_to_ntp_mark(116444736000000000ull + 10000000ull);
  const u8 expected[8] = {0x83, 0xaa, 0x7e, 0x81, 0, 0, 0, 0};
  EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), m.bytes));
  EXPECT_EQ(ntp_mark_seconds(m), 2208988801u);
  EXPECT_EQ(ntp_mark_fraction(m), 0u);
  EXPECT_TRUE(filetime_to_ntp_mark(1ull << 63).is_zero());
  EXPECT_TRUE(filetime_to_ntp_mark(1000).is_zero());  // before 1900

  const ntp_mark later = filetime_to_ntp_mark(116444736000000000ull + 40000000ull);
  EXPECT_EQ(ntp_elapsed_seconds(m, later), 3.0);
  EXPECT_EQ(ntp_elapsed_seconds(later, m), 3.0);
  EXPECT_EQ(ntp_elapsed_seconds(m, m), 0.0);
  EXPECT_EQ(bswap32(0x11223344u), 0x44332211u);
  EXPECT_FALSE(ntp_now().is_zero());
}

}  // namespace
