#include "platform/stdin_stream.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using lines = std::vector<std::string>;
using file_ptr = std::unique_ptr<FILE, int (*)(FILE*)>;

// A temporary file holding exactly these bytes, positioned at the start.
file_ptr source(const std::string& bytes) {
  file_ptr f(std::tmpfile(), &std::fclose);
  std::fwrite(bytes.data(), 1, bytes.size(), f.get());
  std::rewind(f.get());
  return f;
}

// Every line the stream gives; the call that finds the end must leave out empty.
lines all_lines(const std::string& bytes, u8 trim) {
  const file_ptr f = source(bytes);
  uni::stdin_stream s(0, f.get());
  lines got;
  std::string line;
  while (s.read_line(line, trim)) got.push_back(line);
  EXPECT_EQ(line, "");
  return got;
}

TEST(StdinStream, LinesComeBackWholeAndTrimmedOnlyWhenAsked) {
  const std::string n4095(4095, 'n'), n4096(4096, 'n'), n10k(10000, 'n');
  struct row {
    const char* what;
    std::string input;
    u8 trim;
    lines expected;
  };
  const row rows[] = {
      {"lf", "a\nbc\n", 1, {"a", "bc"}},
      {"crlf", "a\r\nbc\r\n", 1, {"a", "bc"}},
      {"no final newline", "a\nbc", 1, {"a", "bc"}},
      {"untrimmed keeps ends", "a\r\nbc", 0, {"a\r\n", "bc"}},
      {"empty lines", "\n\r\n\nx\n", 1, {"", "", "", "x"}},
      {"empty input", "", 1, {}},
      {"nul inside a line", std::string("a\0b\nc", 5), 1, {std::string("a\0b", 3), "c"}},
      // Longer than one buffer fill: one line, and the next starts in its place.
      {"4095", n4095 + "\nx", 1, {n4095, "x"}},
      {"4095 crlf", n4095 + "\r\nx", 1, {n4095, "x"}},
      {"4096", n4096 + "\nx", 1, {n4096, "x"}},
      {"10000", n10k + "\nx", 1, {n10k, "x"}},
      {"10000 untrimmed", n10k + "\r\n", 0, {n10k + "\r\n"}},
      {"10000 at the end", n10k, 1, {n10k}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(all_lines(r.input, r.trim), r.expected);
  }
}

TEST(StdinStream, WideLinesAreDecodedFromUtf8) {
  struct row {
    std::string input;
    u8 trim;
    std::wstring expected;
  };
  const row rows[] = {{"caf\xc3\xa9\r\n", 1, L"caf\u00e9"},
                      {"\xf0\x9f\x93\x81\n", 1, L"\U0001F4C1"},
                      {"a\r\n", 0, L"a\r\n"},
                      {"\n", 1, L""},
                      {"ab\xff\n", 1, L"ab"}};  // a line even when it does not decode
  for (const row& r : rows) {
    SCOPED_TRACE(r.input);
    const file_ptr f = source(r.input);
    uni::stdin_stream s(0, f.get());
    std::wstring out = L"stale";
    EXPECT_TRUE(s.read_wline(out, r.trim));
    EXPECT_EQ(out, r.expected);
    EXPECT_FALSE(s.read_wline(out, r.trim));
    EXPECT_EQ(out, L"");
  }
}

TEST(StdinStream, NotReadyClosedOrFailingStreamsGiveNoLine) {
  std::string line = "stale";
  std::wstring wline = L"stale";
  uni::stdin_stream none(1, nullptr);
  EXPECT_FALSE(none.ready());
  EXPECT_FALSE(none.read_line(line, 1));
  EXPECT_FALSE(none.read_wline(wline, 1));
  EXPECT_EQ(line, "");
  EXPECT_EQ(wline, L"");

  const file_ptr write_only(std::fopen("/dev/null", "w"), &std::fclose);
  uni::stdin_stream failing(0, write_only.get());
  EXPECT_FALSE(failing.read_line(line, 1));

  // Closing lets go of the source without closing it.
  const file_ptr f = source("a\nb\n");
  uni::stdin_stream s(0, f.get());
  ASSERT_TRUE(s.read_line(line, 1));
  s.close();
  EXPECT_FALSE(s.ready());
  EXPECT_FALSE(s.read_line(line, 1));
  EXPECT_EQ(std::fgetc(f.get()), 'b');

  EXPECT_TRUE(uni::stdin_stream(0).ready());
  EXPECT_TRUE(uni::stdin_ready());
}

}  // namespace
