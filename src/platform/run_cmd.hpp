#pragma once
// Runs another program and copies what it writes to its standard output into
// a stream, with CR LF line ends turned into LF. No shell is involved: the
// program and every argument are separate argv entries, so a file name
// holding "$(...)", a backtick, a quote or a blank reaches the program as it
// is and never runs anything. The program's standard input is /dev/null.
#include <ostream>
#include <string>
#include <vector>

#include "common/zarn_types.hpp"

struct run_cmd_ctx {
  std::string program;            // the path executed, also the program's argv[0]
  std::vector<std::string> args;  // argv[1] on, one entry each
  std::ostream* out = nullptr;    // receives the output; not owned
  // 1: the program's standard error goes into the same pipe as its standard
  // output; 0: it stays our standard error, so its own messages reach the user.
  u8 append_stderr = 0;
  // The exit status of a program that exited normally; -1 when it could not
  // be started or died by a signal.
  int result = -1;
  u64 bytes_read = 0;  // what the program wrote, before CRs were dropped
};

// Bytes taken from the pipe per read. A CR that ends one read and an LF that
// begins the next are still one line end.
constexpr u32 run_cmd_chunk_size = 16384;

// Starts ctx.program with ctx.args and streams its output into *ctx.out, one
// read at a time; every CR directly followed by LF is dropped, every other
// byte is copied. Waits for the program and fills result and bytes_read.
// 0 when the program ran and exited with status 0; -1 when it could not be
// started (missing, not executable, no pipe), exited non-zero or died by a
// signal, or ctx.out is null. Every descriptor is closed and the program is
// waited for on every path.
int run_cmd_capture(run_cmd_ctx& ctx);

// run_cmd_capture on these values. True only when the program ran, wrote at
// least one byte and exited with status 0; false for an empty program or a
// null stream.
bool run_cmd(const std::string& program, const std::vector<std::string>& args, std::ostream* out,
             u8 append_stderr);
