#include <gtest/gtest.h>

#include <string>

#include "common/zarn_string.hpp"

namespace {

// UTF-16LE bytes built unit by unit, so the test data does not depend on
// the host's byte order.
byte_array le_units(std::initializer_list<u16> units) {
  byte_array b;
  for (u16 u : units) {
    b.push_back(static_cast<u8>(u & 0xFF));
    b.push_back(static_cast<u8>(u >> 8));
  }
  return b;
}

TEST(Utf8ToWide, Table) {
  struct Case {
    std::string in;
    bool result;
    std::wstring out;  // what _ex leaves in out
  };
  const Case cases[] = {
      {"", false, L""},
      {"abc", true, L"abc"},
      {"\xC3\xA9", true, L"\u00E9"},
      {"\xC3", false, L""},
      {"x\xC3", false, L"x"},
      {"ab\x80", false, L"ab"},
      {"\x80", false, L""},
      {"\xE2\x82\xAC", true, L"\u20AC"},
      {"\xE2\x82", false, L""},
      {"\xF0\x9F\x98\x80", true, L"\U0001F600"},
      {"\xF0\x9F\x98", false, L""},
      // Continuation byte missing in the middle of a sequence.
      {"a\xE2\x41\xAC", false, L"a"},
      {"\xF8\x88\x80\x80\x80", false, L""},
      {"\xFF", false, L""},
      // Lenient on value: encoded surrogates, overlong forms, values above U+10FFFF.
      {"\xED\xA0\x80", true, std::wstring(1, static_cast<wchar_t>(0xD800))},
      {"\xC0\xAF", true, L"/"},
      {"\xE0\x80\x80", true, std::wstring(1, L'\0')},
      {"\xF5\x80\x80\x80", true, std::wstring(1, static_cast<wchar_t>(0x140000))},
      {"\xF7\xBF\xBF\xBF", true, std::wstring(1, static_cast<wchar_t>(0x1FFFFF))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    std::wstring out = L"stale";
    EXPECT_EQ(uni::utf8_to_wstring_ex(out, c.in), c.result);
    EXPECT_EQ(out, c.out);
    EXPECT_EQ(uni::utf8_to_wstring(c.in), c.result ? c.out : std::wstring());
  }
}

// Every cut of a multi-byte text, in a buffer of exactly that size, fails
// cleanly or decodes the whole characters before the cut.
TEST(Utf8ToWide, EveryCutLength) {
  const std::string full = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";
  const size_t ends[] = {1, 3, 6, 10, 11};
  for (size_t n = 0; n <= full.size(); ++n) {
    const std::string cut(full.data(), n);
    std::wstring out;
    const bool ok = uni::utf8_to_wstring_ex(out, cut);
    bool at_end = false;
    for (size_t e : ends) at_end = at_end || e == n;
    EXPECT_EQ(ok, at_end) << n;
    std::wstring whole;
    uni::utf8_to_wstring_ex(whole, full);
    EXPECT_EQ(out, whole.substr(0, out.size())) << n;
  }
}

TEST(WideToUtf8, Table) {
  struct Case {
    std::wstring in;
    bool result;
    std::string out;
  };
  const Case cases[] = {
      {L"", false, ""},
      {L"abc", true, "abc"},
      {L"\u00E9", true, "\xC3\xA9"},
      {L"\u07FF\u0800", true, "\xDF\xBF\xE0\xA0\x80"},
      {L"\U0001F600", true, "\xF0\x9F\x98\x80"},
      {L"\U0010FFFF", true, "\xF4\x8F\xBF\xBF"},
      {std::wstring(1, static_cast<wchar_t>(0xDC00)), true, "\xED\xB0\x80"},
      {std::wstring(L"ab") + static_cast<wchar_t>(0x110000) + L"c", false, "ab"},
      {std::wstring(L"a") + static_cast<wchar_t>(-1), false, "a"},
  };
  for (const Case& c : cases) {
    std::string out = "stale";
    EXPECT_EQ(uni::wstring_to_utf8_ex(out, c.in), c.result);
    EXPECT_EQ(out, c.out);
    EXPECT_EQ(uni::wstring_to_utf8(c.in), c.out);
  }
}

TEST(Utf16UnitsToUtf8, Table) {
  struct Case {
    byte_array bytes;
    i32 count;
    bool result;
    std::string out;
  };
  const Case cases[] = {
      {le_units({0x41, 0x42}), 4, true, "AB"},
      {le_units({0x41, 0x42}), 3, true, "A"},
      {le_units({0xD83D, 0xDE00}), 4, true, "\xF0\x9F\x98\x80"},
      // The low half lies outside the count.
      {le_units({0xD83D, 0xDE00}), 2, false, ""},
      {le_units({0xD83D, 0x41}), 4, false, ""},
      // A broken pair behind units already converted: in the middle, at the
      // end of the count, behind a good pair.
      {le_units({0x41, 0xD83D, 0x42}), 6, false, ""},
      {le_units({0xE9, 0x41, 0xDBFF}), 6, false, ""},
      {le_units({0xD83D, 0xDE00, 0x41, 0xDBFF, 0xDBFF}), 10, false, ""},
      {le_units({0xDC00}), 2, true, "\xED\xB0\x80"},
      {le_units({0xE9, 0xFFFF}), 4, true, "\xC3\xA9\xEF\xBF\xBF"},
      // A count beyond the bytes held converts only what is held.
      {le_units({0x41}), 100, true, "A"},
      {byte_array{}, 4, false, ""},
  };
  // The text converted into replaces what out held; a failure leaves it as it was.
  for (const Case& c : cases) {
    std::string out = "kept";
    EXPECT_EQ(utf16_units_to_utf8(out, c.bytes, c.count), c.result) << c.count;
    EXPECT_EQ(out, c.result ? c.out : "kept") << c.count;
  }
  // Counts of 0 and 1 (and below) fail and leave out as it was.
  const byte_array ab = le_units({0x41, 0x42});
  for (i32 count : {0, 1, -2}) {
    std::string out = "kept";
    EXPECT_FALSE(utf16_units_to_utf8(out, ab, count));
    EXPECT_EQ(out, "kept");
  }
}

TEST(Utf16leToUtf8, Table) {
  struct Case {
    byte_array bytes;
    i32 max_bytes;
    bool count_terminator;
    std::string out;
    i32 consumed;
  };
  const Case cases[] = {
      {le_units({0x41, 0x00, 0x42}), 6, false, "A", 2},
      {le_units({0x41, 0x00, 0x42}), 6, true, "A", 4},
      // The terminator would lie past max_bytes.
      {le_units({0x41, 0x42, 0x00}), 4, true, "AB", 4},
      {le_units({0x41, 0x42, 0x00}), 5, true, "AB", 4},
      {le_units({0x41, 0x42, 0x00}), 6, true, "AB", 6},
      // An empty string counts no terminator.
      {le_units({0x00, 0x41}), 4, true, "", 0},
      {le_units({0x41, 0x00}), 0, true, "", 0},
      {le_units({0x41, 0x00}), -4, true, "", 0},
      // max_bytes -1: the terminator is never added.
      {le_units({0x41, 0x00}), -1, true, "A", 2},
      {le_units({0xD83D, 0xDE00, 0x00}), 100, true, "\xF0\x9F\x98\x80", 6},
      // A broken pair falls back to the raw units.
      {le_units({0xD83D, 0x41, 0x00}), 100, false, "\xED\xA0\xBD" "A", 4},
      {le_units({0x41, 0xD83D, 0x00}), 100, false, "A\xED\xA0\xBD", 4},
      {le_units({0xDC00, 0x00}), 100, false, "\xED\xB0\x80", 2},
      // The string runs to the end of the bytes held: no terminator seen,
      // none counted, however large max_bytes is.
      {le_units({0x41, 0x42}), 100, true, "AB", 4},
      {le_units({0x41, 0x42}), 1000000, false, "AB", 4},
      // An odd trailing byte is not a unit.
      {byte_array{0x41, 0x00, 0x42}, 100, true, "A", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out);
    std::string out = "stale";
    EXPECT_EQ(utf16le_to_utf8(c.bytes, out, c.max_bytes, c.count_terminator), c.consumed) << c.max_bytes;
    EXPECT_EQ(out, c.out);
  }
}

TEST(Utf16leToWide, RawUnitsOnBrokenPair) {
  const byte_array b = le_units({0xD83D, 0x41});
  std::wstring out;
  EXPECT_EQ(utf16le_to_wide(b, out, 4), 4);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(static_cast<u32>(out[0]), 0xD83Du);
  EXPECT_EQ(out[1], L'A');
  const byte_array pair = le_units({0xD83D, 0xDE00});
  EXPECT_EQ(utf16le_to_wide(pair, out, 4), 4);
  EXPECT_EQ(out, L"\U0001F600");
  EXPECT_EQ(utf16le_to_wide({}, out, 10), 0);
  EXPECT_EQ(out, L"");
}

TEST(Utf16leToWide, DefaultLimitIs500Units) {
  byte_array b;
  for (int i = 0; i < 600; ++i) {
    b.push_back('x');
    b.push_back(0);
  }
  b.push_back(0);
  b.push_back(0);
  std::wstring out;
  EXPECT_EQ(utf16le_to_wide(b, out, -1), 1000);
  EXPECT_EQ(out, std::wstring(500, L'x'));
  std::string narrow;
  EXPECT_EQ(utf16le_to_utf8(b, narrow, -1, true), 1000);
  EXPECT_EQ(narrow, std::string(500, 'x'));
  // An explicit limit reads past 500 units.
  EXPECT_EQ(utf16le_to_utf8(b, narrow, 2000, true), 1202);
  EXPECT_EQ(narrow, std::string(600, 'x'));
}

// A payload string cut at every length, each cut in a vector of exactly that
// size: no read past it, and the result is the whole units before the cut.
TEST(Utf16leToUtf8, EveryCutLength) {
  const byte_array full = le_units({0x48, 0xE9, 0xD83D, 0xDE00, 0x5A, 0x00, 0x51});
  for (size_t n = 0; n <= full.size(); ++n) {
    const byte_array cut(full.begin(), full.begin() + static_cast<long>(n));
    for (i32 max_bytes : {-1, 0, 3, 8, 12, 14, 1000}) {
      std::string out;
      const i32 consumed = utf16le_to_utf8(cut, out, max_bytes, true);
      EXPECT_GE(consumed, 0);
      EXPECT_LE(static_cast<size_t>(consumed), n) << n << " " << max_bytes;
      std::wstring wide;
      const i32 wconsumed = utf16le_to_wide(cut, wide, max_bytes);
      EXPECT_LE(static_cast<size_t>(wconsumed), n);
      EXPECT_LE(wconsumed, consumed);
    }
    std::string out;
    const i32 consumed = utf16le_to_utf8(cut, out, 1000, true);
    const i32 units_held = static_cast<i32>(n / 2);
    const i32 expect = units_held >= 6 ? 12 : units_held * 2;
    EXPECT_EQ(consumed, expect) << n;
    std::string units_out;
    if (n >= 2) {
      EXPECT_EQ(utf16_units_to_utf8(units_out, cut, static_cast<i32>(full.size())), n / 2 != 3) << n;
    }
  }
}

}  // namespace
