#include "platform/console.hpp"

#include <cstdio>
#include <sstream>
#include <vector>

#include "common/zarn_string.hpp"
#include "platform/cmd_params.hpp"
#include "platform/fileio.hpp"

namespace {
constexpr char status_frame_before[] = "\x1b[2K\r    \r";
constexpr char status_frame_after[] = "\r";
constexpr char clear_line[] = "\x1b[2K\r                           \r";
constexpr size_t max_message_chars = 4096;
static_assert(sizeof status_frame_before - 1 == 10);
static_assert(sizeof clear_line - 1 == 33);
}  // namespace

namespace {
// Whether a status line is on the terminal now. Blanking is needed only then,
// so a run under -quiet (which draws none) writes no escape sequences at all.
bool status_line_shown = false;
}  // namespace

void clear_status_line() {
  if (!status_line_shown) return;
  std::fputs(clear_line, stderr);
  std::fflush(stderr);
  status_line_shown = false;
}

void clear_status_if_shown(const cmd_params* opts) {
  if (opts != nullptr && opts->status_display) clear_status_line();
}

int status_vprintf(u32 max_chars, const char* fmt, va_list args, u8 as_title) {
  const size_t size = static_cast<i32>(max_chars) > 256 ? max_chars + 1 : 256;
  std::vector<char> buf(size, 0);
  if (std::vsnprintf(buf.data(), size, fmt, args) < 0) return 0;
  std::string text(buf.data());
  if (text.size() > max_chars) text.resize(max_chars);
  const int shown = static_cast<int>(text.size());
  std::string framed = as_title ? text : status_frame_before + text + status_frame_after;
  remove_char(framed, '\n');
  if (as_title) {
    set_console_title(framed.c_str());
  } else {
    std::fputs(framed.c_str(), stderr);
    std::fflush(stderr);
    status_line_shown = true;
  }
  return shown;
}

int status_printf(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int n = status_vprintf(60, fmt, args, 0);
  va_end(args);
  return n;
}

bool set_console_title(const char* text) {
  if (text == nullptr) return false;
  std::fprintf(stderr, "\x1b]0;%s\x07", text);
  std::fflush(stderr);
  return true;
}

int print_message(const char* fmt, ...) {
  clear_status_line();
  if (fmt == nullptr) return 0;
  va_list args;
  va_start(args, fmt);
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, fmt, measure);
  va_end(measure);
  if (length < 0) {
    va_end(args);
    return 0;
  }
  std::vector<char> buf(static_cast<size_t>(length) + 1, 0);
  std::vsnprintf(buf.data(), buf.size(), fmt, args);
  va_end(args);
  std::string text(buf.data(), static_cast<size_t>(length));
  if (text.size() > max_message_chars) {
    // Cut, keeping the line end so the next message starts on its own line.
    const bool had_newline = text.back() == '\n';
    text.resize(max_message_chars);
    if (had_newline) text.back() = '\n';
  }
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
  return static_cast<int>(text.size());
}

void cmdline_ctx::reset() {
  console_state_ = 0;
  clear_status_at_exit_ = 0;
  start_ = ntp_mark();
  print_elapsed_ = 0;
  profile_file_.clear();
  exit_arg_.clear();
  exit_cb_ = nullptr;
  finished_ = 0;
}

void cmdline_ctx::configure(const cmd_params& opts, exit_callback cb) {
  if (opts.status_display) clear_status_at_exit_ = 1;
  if (opts.debug_log == 1 && opts.debug_stream && opts.debug_stream->good()) {
    profile_file_ = opts.diags_path;
  }
  print_elapsed_ = opts.profile;
  if (print_elapsed_ || !profile_file_.empty()) stopwatch_start(start_);
  if (cb != nullptr && !opts.signal.empty()) {
    exit_cb_ = cb;
    exit_arg_ = opts.signal;
  }
}

cmdline_ctx::~cmdline_ctx() { (void)finish(); }

bool cmdline_ctx::finish() {
  if (finished_) return true;
  finished_ = 1;
  bool written = true;
  if (clear_status_at_exit_) clear_status_line();
  if (!start_.is_zero()) {
    std::ostringstream text;
    text << "->" << ntp_elapsed_seconds(start_, ntp_now()) << " secs";
    if (print_elapsed_) std::fprintf(stderr, "%s\n", text.str().c_str());
    if (!profile_file_.empty()) {
      uni::fileio f;
      written = f.open_ex(profile_file_, 1, 1, 0, 0) && f.append_text(text);
      written = f.close() && written;
      if (!written) print_message("prob writing diagnostics file: %s\n", profile_file_.c_str());
    }
  }
  if (exit_cb_ != nullptr && !exit_arg_.empty()) exit_cb_(&exit_arg_);
  return written;
}
