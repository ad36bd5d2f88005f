#pragma once
// The console side: a one-line progress display redrawn in place on standard
// error, messages that blank it first, and the command context that reports
// at the end of a run.
#include <cstdarg>
#include <string>

#include "common/stopwatch.hpp"
#include "common/zarn_types.hpp"

class cmd_params;

// Blanks the status line when one is shown; writes nothing otherwise.
void clear_status_line();
void clear_status_if_shown(const cmd_params* opts);
// Formats at most max_chars characters, frames them as a status line (or a
// title) and writes them to standard error; never to standard output, which
// may carry the results.
int status_vprintf(u32 max_chars, const char* fmt, va_list args, u8 as_title);
int status_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
bool set_console_title(const char* text);
// One message line on standard error after blanking the status line. A
// message longer than 4096 characters is cut to 4096, not dropped.
int print_message(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

using exit_callback = int (*)(std::string*);

class cmdline_ctx {
 public:
  cmdline_ctx() = default;
  virtual ~cmdline_ctx();
  cmdline_ctx(const cmdline_ctx&) = delete;
  cmdline_ctx& operator=(const cmdline_ctx&) = delete;

  void configure(const cmd_params& opts, exit_callback cb);
  void reset();
  // The end-of-run report, done once (the destructor does it when nobody
  // did): the status line blanked, the elapsed time to standard error and
  // the -diags file, the exit callback. False when the elapsed time could
  // not be added to the -diags file, which is then named on standard error.
  bool finish();

 private:
  u32 console_state_ = 0;
  u8 clear_status_at_exit_ = 0;
  ntp_mark start_;
  u8 print_elapsed_ = 0;
  std::string profile_file_;
  std::string exit_arg_;
  exit_callback exit_cb_ = nullptr;
  u8 finished_ = 0;
};
