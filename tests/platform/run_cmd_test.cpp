#include "platform/run_cmd.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "support/temp_dir.hpp"

namespace {

using strings = std::vector<std::string>;

// The shell here is only the child's content; the runner itself uses none.
bool run_sh(const std::string& script, std::string& out, u8 append_stderr = 0) {
  std::ostringstream s;
  const bool ok = run_cmd("/bin/sh", {"-c", script}, &s, append_stderr);
  out = s.str();
  return ok;
}

TEST(RunCmd, CrLfBecomesLfWhereverTheReadsSplitIt) {
  temp_dir dir;
  const std::string x16383(16383, 'x'), x16384(16384, 'x');
  struct row {
    const char* what;
    std::string child_output;
    std::string expected;
  };
  const row rows[] = {
      {"crlf", "a\r\nb", "a\nb"},
      {"lone cr", "a\rb", "a\rb"},
      {"cr cr lf", "a\r\r\nb", "a\r\nb"},
      {"cr at the end", "a\r", "a\r"},
      {"cr ends the first chunk, lf begins the next", x16383 + "\r\n", x16383 + "\n"},
      {"cr ends the first chunk, lone", x16383 + "\rb", x16383 + "\rb"},
      {"crlf begins the second chunk", x16384 + "\r\n", x16384 + "\n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    // cat writes the file in one go, so the first read takes a full chunk.
    std::string out;
    EXPECT_TRUE(run_sh("cat " + dir.write("o", r.child_output), out));
    const std::string tail = out.substr(out.size() > 8 ? out.size() - 8 : 0);
    EXPECT_TRUE(out == r.expected)
        << out.size() << " bytes, ending " << testing::PrintToString(tail);
  }
  // The CR and the LF in two separate writes, so in two reads.
  std::string out;
  EXPECT_TRUE(run_sh("printf 'a\\r'; sleep 0.2; printf '\\nb\\r'; sleep 0.2; printf c", out));
  EXPECT_EQ(out, "a\nb\rc");
}

TEST(RunCmd, SucceedsOnlyForACleanExitWithOutput) {
  struct row {
    const char* what;
    std::string program;
    strings args;
    u8 append_stderr;
    bool ok;
    std::string out, err;  // err: what reached our own standard error
  };
  const row rows[] = {
      {"output", "/bin/sh", {"-c", "echo hi"}, 0, true, "hi\n", ""},
      {"stdin is empty", "/bin/sh", {"-c", "cat; echo end"}, 0, true, "end\n", ""},
      {"stderr only", "/bin/sh", {"-c", "echo oops >&2"}, 0, false, "", "oops\n"},
      {"stderr appended", "/bin/sh", {"-c", "echo oops >&2"}, 1, true, "oops\n", ""},
      {"no output", "/bin/sh", {"-c", "true"}, 0, false, "", ""},
      {"non-zero exit", "/bin/sh", {"-c", "echo hi; exit 3"}, 0, false, "hi\n", ""},
      {"killed", "/bin/sh", {"-c", "echo hi; kill -9 $$"}, 0, false, "hi\n", ""},
      {"missing program", "/no/such/program", {}, 0, false, "", ""},
      {"a folder", "/", {}, 0, false, "", ""},
      {"no program", "", {}, 0, false, "", ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    std::ostringstream out;
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_cmd(r.program, r.args, &out, r.append_stderr), r.ok);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), r.err);
    EXPECT_EQ(out.str(), r.out);
  }
  EXPECT_FALSE(run_cmd("/bin/sh", {"-c", "echo hi"}, nullptr, 0));

  struct status_row {
    std::string script;
    int capture, result;
  };
  for (const status_row& r :
       {status_row{"true", 0, 0}, status_row{"exit 3", -1, 3}, status_row{"kill -9 $$", -1, -1}}) {
    SCOPED_TRACE(r.script);
    std::ostringstream out;
    run_cmd_ctx ctx{"/bin/sh", {"-c", r.script}, &out, 0, 77, 0};
    EXPECT_EQ(run_cmd_capture(ctx), r.capture);
    EXPECT_EQ(ctx.result, r.result);
  }
}

TEST(RunCmd, ArgumentsReachTheProgramLiterally) {
  temp_dir dir;
  const std::string pwned = dir.path("pwned");
  const strings args = {
      "x$(touch " + pwned + ").etl", "x`touch " + pwned + "`", "a b", "it's \"q\"", "", "*",
      "x$(touch pwned).etl"};
  strings argv = {"[%s]\\n"};
  std::string expected;
  for (const std::string& a : args) {
    argv.push_back(a);
    expected += "[" + a + "]\n";
  }
  std::ostringstream out;
  EXPECT_TRUE(run_cmd("/usr/bin/printf", argv, &out, 0));
  EXPECT_EQ(out.str(), expected);
  EXPECT_FALSE(std::filesystem::exists(pwned));
  EXPECT_FALSE(std::filesystem::exists("pwned"));
}

}  // namespace
