#include "common/zarn_number.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct u32_row {
  std::string text;
  bool ok;
  u32 value;
};

TEST(ZarnNumber, ToUint) {
  const std::vector<u32_row> rows = {
      {"0x10", true, 16},
      {"0X10", true, 16},
      {"x10", true, 16},
      {"X1f", true, 31},
      {"o17", true, 15},
      {"42", true, 42},
      {"42abc", true, 42},
      {"-1", true, 0xFFFFFFFFu},
      {"-4294967295", true, 1},
      {"'A'", true, 65},
      {"'\xE9'", true, 0xE9},
      {"abc", false, 0},
      {"", false, 0},
      {"'AB'", false, 0},
      // Values above 32 bits are clamped whatever the width of the platform's
      // unsigned long.
      {"4294967295", true, 0xFFFFFFFFu},
      {"4294967296", true, 0xFFFFFFFFu},
      {"99999999999999999999999", true, 0xFFFFFFFFu},
      {"0x100000000", true, 0xFFFFFFFFu},
      {"-4294967296", true, 0xFFFFFFFFu},
      {"o40000000000", true, 0xFFFFFFFFu},
      // Hex conversion also takes a "0x" of its own and stops at the first
      // character outside the base; no digits give 0.
      {"x0x1f", true, 31},
      {"0x", true, 0},
      {"0xg", true, 0},
      {"o8", true, 0},
      // Blanks around a prefixed number do not move where its digits are read.
      {"  0x10  ", true, 16},
      {"\to17\r\n", true, 15},
      {"12 ", true, 12},
      // A decimal or quoted text must start at its first character: a number
      // written after a separator and a blank reads as 0.
      {" 12", false, 0},
      {" 'A'", false, 0},
      {"   ", false, 0},
  };
  for (const u32_row& r : rows) {
    SCOPED_TRACE("text: \"" + r.text + "\"");
    u32 v = 12345;
    EXPECT_EQ(to_uint(r.text, v), r.ok);
    EXPECT_EQ(v, r.value);
    u32 w = 12345;
    EXPECT_EQ(to_uint(r.text.c_str(), w), r.ok);
    EXPECT_EQ(w, r.value);
  }
  u32 v = 5;
  EXPECT_FALSE(to_uint(static_cast<const char*>(nullptr), v));
  EXPECT_EQ(v, 0u);
  // The string form stops at an embedded NUL.
  EXPECT_TRUE(to_uint(std::string("7\0" "9", 3), v));
  EXPECT_EQ(v, 7u);
}

TEST(ZarnNumber, ParseUint) {
  const std::vector<u32_row> rows = {
      {" 0x1f ", true, 31},
      {"0X1F", true, 31},
      {"12", true, 12},
      {"+12", true, 12},
      {"-3", true, 0xFFFFFFFDu},
      {"12x34", true, 0x34},
      {"o17", true, 15},
      {"foo", true, 0},
      {"z", false, 0},
      {"", false, 0},
      {"  ", false, 0},
      // The decimal branch is a signed 32-bit conversion, clamped at its limits.
      {"2147483647", true, 0x7FFFFFFFu},
      {"2147483648", true, 0x7FFFFFFFu},
      {"99999999999999999999", true, 0x7FFFFFFFu},
      {"-2147483648", true, 0x80000000u},
      {"-99999999999999999999", true, 0x80000000u},
      {"0x1ffffffff", true, 0xFFFFFFFFu},
  };
  for (const u32_row& r : rows) {
    SCOPED_TRACE("text: \"" + r.text + "\"");
    u32 v = 0;
    EXPECT_EQ(parse_uint(r.text, v), r.ok);
    EXPECT_EQ(v, r.value);
  }
  u32 v = 5;
  EXPECT_FALSE(parse_uint(static_cast<const char*>(nullptr), v));
  EXPECT_FALSE(parse_uint("q", v));
  EXPECT_EQ(v, 5u);
}

TEST(ZarnNumber, ParseU64) {
  struct row {
    std::string text;
    bool ok;
    u64 value;
  };
  const std::vector<row> rows = {
      {"0x0123456789abcdef", true, 0x0123456789abcdefull},
      {"0xFFFFFFFFFFFFFFFF", true, UINT64_MAX},
      {"1X10", true, 16},
      {"x123", true, 0x123},
      {"o17", true, 15},
      {"O17", true, 15},
      {"123", true, 123},
      {" 123", true, 123},
      {"18446744073709551615", true, UINT64_MAX},
      {"12z", true, 12},
      {"+5", true, 5},
      {"0x", true, 0},
      {"o", true, 0},
      {"123 ", false, 0},
      {"1 2", false, 0},
      {std::string(31, '1'), false, 0},
      {std::string(10, ' ') + std::string(21, '1'), false, 0},
      {"abc", false, 0},
      {"", false, 0},
      {"   ", false, 0},
      {"x1", false, 0},
      // Too many digits for the base.
      {"0x00000000000000001", false, 0},
      {"o00000000000000000000001", false, 0},
      {"000000000000000000001", false, 0},
      // Values above 64 bits are refused instead of read as the largest value.
      {"18446744073709551616", false, 0},
      {"99999999999999999999", false, 0},
      {"o7777777777777777777777", false, 0},
      {"o1777777777777777777777", true, UINT64_MAX},
  };
  for (const row& r : rows) {
    SCOPED_TRACE("text: \"" + r.text + "\"");
    u64 v = 77;
    EXPECT_EQ(parse_u64(r.text, v), r.ok);
    EXPECT_EQ(v, r.value);
    u64 w = 77;
    EXPECT_EQ(parse_u64_cstr(r.text.c_str(), w), r.ok);
    EXPECT_EQ(w, r.value);
  }
  u64 v = 77;
  EXPECT_FALSE(parse_u64_cstr(nullptr, v));
  EXPECT_EQ(v, 0u);
}

TEST(ZarnNumber, ParseByteList) {
  struct row {
    std::string text;
    char delimiter;
    byte_array bytes;
  };
  const std::vector<row> rows = {
      {"4d 5a 90", ' ', {0x4D, 0x5A, 0x90}},
      {"0x4d 5a", ' ', {0x4D, 0x5A}},
      {"  4D   5A  ", ' ', {0x4D, 0x5A}},
      {"ff,0,00ff", ',', {0xFF, 0x00, 0xFF}},
      {"4d , 5a ,", ',', {0x4D, 0x5A}},
      {"", ' ', {}},
      {"   ", ' ', {}},
      // A piece that is not a hex byte spoils the whole signature: no bytes
      // at all rather than a wrong one.
      {"4d zz 90", ' ', {}},
      {"4d 100", ' ', {}},
      {"4d 5g", ' ', {}},
      {"4d 0x", ' ', {}},
      {"4d -1", ' ', {}},
      {"4d,5a", ' ', {}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE("text: \"" + r.text + "\"");
    byte_array out = {0xEE};
    EXPECT_EQ(&parse_byte_list(out, r.text, r.delimiter), &out);
    EXPECT_EQ(out, r.bytes);
  }
  byte_array out;
  parse_byte_list(out, std::string("4d 5a\0 90", 9), ' ');
  EXPECT_EQ(out, (byte_array{0x4D, 0x5A}));
}

}  // namespace
