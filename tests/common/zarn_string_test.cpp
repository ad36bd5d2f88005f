#include "common/zarn_string.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace {

// ---- trimming and line ends ----

TEST(TrimWhitespace, Table) {
  struct Case {
    std::string in;
    std::string out;
    bool result;
  };
  const Case cases[] = {
      {"\t a b \r\n", "a b", true},
      {"  ", "", false},
      {"", "", false},
      {"x", "x", true},
      {"\r\n\t x\ty \n", "x\ty", true},
      {"a\r\nb", "a\r\nb", true},
      {" \xC3\xA9 ", "\xC3\xA9", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    std::string s = c.in;
    EXPECT_EQ(trim_whitespace(s), c.result);
    EXPECT_EQ(s, c.out);
  }
}

TEST(TrimWhitespaceW, FourPasses) {
  struct Case {
    std::wstring in;
    std::wstring out;
    bool result;
  };
  const Case cases[] = {
      {L"", L"", false},
      {L"   ", L"", false},
      {L" \t\t ", L"", false},
      {L" a ", L"a", true},
      {L"\ta\t", L"a", true},
      // Blanks inside tabs are not reached by the tab pass.
      {L"\t a \t", L" a ", true},
      // Trailing LF goes, the CR before it stays.
      {L"abc\r\n", L"abc\r", true},
      {L"abc\n\n", L"abc", true},
      {L"abc\r\r", L"abc", true},
      // A text made only of CRs or only of LFs keeps them.
      {L"\r\r", L"\r\r", true},
      {L"\n", L"\n", true},
      // Leading line ends stay.
      {L"\r\nx", L"\r\nx", true},
  };
  for (const Case& c : cases) {
    std::wstring s = c.in;
    EXPECT_EQ(trim_whitespace_w(s), c.result) << c.in.size();
    EXPECT_EQ(s, c.out) << c.in.size();
  }
}

TEST(StripTrailingSlashesW, Table) {
  struct Case {
    std::wstring in;
    std::wstring out;
    bool result;
  };
  const Case cases[] = {
      {L"C:\\dir\\", L"C:\\dir", true}, {L"a/b//\\/", L"a/b", true}, {L"/", L"", false},
      {L"", L"", false},                {L"name", L"name", true},
  };
  for (const Case& c : cases) {
    std::wstring s = c.in;
    EXPECT_EQ(strip_trailing_slashes_w(s), c.result);
    EXPECT_EQ(s, c.out);
  }
}

TEST(StripTrailingCrlf, Table) {
  struct Case {
    std::string in;
    std::string out;
    u32 removed;
  };
  const Case cases[] = {
      {"x\r\n\r\n", "x", 4}, {"x", "x", 0}, {"", "", 0}, {"\n\r\n", "", 3}, {"a\nb\n\r", "a\nb", 2},
  };
  for (const Case& c : cases) {
    std::string s = c.in;
    EXPECT_EQ(strip_trailing_crlf(s), c.removed);
    EXPECT_EQ(s, c.out);
  }
}

// ---- case folding ----

TEST(CaseFolding, AsciiOnlyBytesAbove127Stay) {
  std::string s = "AbC-z\xC3\x89\xFF";
  EXPECT_EQ(to_lower(s), "abc-z\xC3\x89\xFF");
  EXPECT_EQ(to_upper(s), "ABC-Z\xC3\x89\xFF");
  std::string empty;
  EXPECT_EQ(to_lower(empty), "");
  std::wstring w = L"MiXeD";
  EXPECT_EQ(to_lower_w(w), L"mixed");
}

TEST(LocaleNameValid, NeverThrows) {
  EXPECT_TRUE(locale_name_valid("C"));
  EXPECT_FALSE(locale_name_valid("xx_NOPE.nothing-here"));
  EXPECT_FALSE(locale_name_valid(nullptr));
}

// ---- characters and substrings ----

TEST(RemoveChar, CountsRemoved) {
  std::string s = "a,b,,c";
  EXPECT_EQ(remove_char(s, ','), 3u);
  EXPECT_EQ(s, "abc");
  EXPECT_EQ(remove_char(s, ','), 0u);
  EXPECT_EQ(s, "abc");
}

TEST(ReplaceChar, EachOccurrenceAtMostOnce) {
  struct Case {
    std::string in;
    char from;
    char to;
    bool both;
    std::string out;
  };
  const Case cases[] = {
      {"a\\b\\c", '\\', '/', false, "a/b/c"},
      {"aAbA", 'a', 'x', false, "xAbA"},
      {"aAbA", 'a', 'x', true, "xxbx"},
      // The same character: nothing to do, and the call ends.
      {"aaa", 'a', 'a', true, "aaa"},
      // Both cases replaced by the other case: each changed once.
      {"aAaA", 'a', 'A', true, "AAAA"},
      {"aAaA", 'A', 'a', true, "aaaa"},
      {"", 'a', 'b', true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    std::string s = c.in;
    replace_char(s, c.from, c.to, c.both);
    EXPECT_EQ(s, c.out);
  }
}

TEST(ReplaceCharW, BothCases) {
  std::wstring s = L"xXyX";
  replace_char_w(s, L'x', L'X', true);
  EXPECT_EQ(s, L"XXyX");
  s = L"xXyX";
  replace_char_w(s, L'x', L'-', true);
  EXPECT_EQ(s, L"--y-");
  s = L"xx";
  replace_char_w(s, L'x', L'x', false);
  EXPECT_EQ(s, L"xx");
}

TEST(EscapeChar, InsertsBeforeEachOccurrence) {
  std::string s = "say \"hi\"";
  escape_char(s, '"', '\\');
  EXPECT_EQ(s, "say \\\"hi\\\"");
  std::string none = "plain";
  escape_char(none, '"', '\\');
  EXPECT_EQ(none, "plain");
}

TEST(ReplaceFirst, CaseRulesAndNeedleSideEffect) {
  std::string s = "open My Logs my logs";
  std::string needle = "MY LOGS";
  EXPECT_TRUE(replace_first(s, needle, "x", true));
  EXPECT_EQ(s, "open x my logs");
  EXPECT_EQ(needle, "my logs");

  std::string t = "Alpha alpha";
  std::string n2 = "alpha";
  EXPECT_TRUE(replace_first(t, n2, "B", false));
  EXPECT_EQ(t, "Alpha B");

  std::string u = "abc";
  std::string n3 = "ABC";
  EXPECT_FALSE(replace_first(u, n3, "z", false));
  EXPECT_EQ(u, "abc");
  EXPECT_EQ(n3, "ABC");

  std::string empty_needle;
  EXPECT_FALSE(replace_first(u, empty_needle, "z", false));
  EXPECT_EQ(u, "abc");
}

TEST(EraseFirst, CaseRules) {
  std::string s = "C:\\Windows\\System32";
  std::string needle = "WINDOWS\\";
  EXPECT_TRUE(erase_first(s, needle, true));
  EXPECT_EQ(s, "C:\\System32");
  EXPECT_EQ(needle, "windows\\");
  std::string n2 = "SYSTEM";
  EXPECT_FALSE(erase_first(s, n2, false));
  EXPECT_EQ(s, "C:\\System32");
}

// ---- line breaks and indentation ----

TEST(MarkLineEndings, EveryMarker) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"a\r\nb", "a[CRLF]b"},
      {"a\n\rb", "a[LFCR]b"},
      {"a\nb", "a[LF]b"},
      {"a\rb\r", "a[CR]b[CR]"},
      // A lone CR is marked also when the text holds line feeds.
      {"a\nb\rc", "a[LF]b[CR]c"},
      // The CR taken by [LFCR] does not turn the next LF into [CRLF].
      {"a\n\r\nb", "a[LFCR][LF]b"},
      {"\r\r\n", "[CR][CRLF]"},
      {"\r\n\r", "[CRLF][CR]"},
      {"\n\r\r", "[LFCR][CR]"},
      {"\n", "[LF]"},
      {"\r", "[CR]"},
      {"\n\n", "[LF][LF]"},
  };
  for (const Case& c : cases) {
    std::string s = c.in;
    EXPECT_EQ(mark_line_endings(s), c.out);
    EXPECT_EQ(s, c.out);
    EXPECT_EQ(s.find_first_of("\r\n"), std::string::npos);
  }
}

TEST(MarkBreaksAndNuls, BreaksAndNulsBoth) {
  using namespace std::string_literals;
  for (const auto& [in, out] : {std::pair{""s, ""s}, {"a\0\0b"s, "a[NUL][NUL]b"s},
                                {"x\r\n\0y\n"s, "x[CRLF][NUL]y[LF]"s}, {"\0\r"s, "[NUL][CR]"s}}) {
    std::string s = in;
    EXPECT_EQ(mark_breaks_and_nuls(s), out);
  }
}

TEST(WriteIndent, WritesNBlanks) {
  for (u32 n : {0u, 1u, 3u, 10u}) {
    std::ostringstream os;
    os.fill('*');
    write_indent(os, n);
    EXPECT_EQ(os.str(), std::string(n, ' '));
    if (n != 0) {
      EXPECT_EQ(os.fill(), ' ');
    }
    os << 'x';
    EXPECT_EQ(os.str(), std::string(n, ' ') + "x");
  }
}

// ---- splitting, joining and argument lists ----

using strings = std::vector<std::string>;

TEST(SplitString, Table) {
  struct Case {
    std::string text;
    char sep;
    bool trim;
    bool keep_empty;
    bool result;
    strings out;
  };
  const Case cases[] = {
      {"a,,b", ',', false, false, true, {"a", "b"}},
      {"a,,b", ',', false, true, true, {"a", "", "b"}},
      {",a,", ',', false, true, true, {"", "a", ""}},
      {",a,", ',', false, false, true, {"a"}},
      {" a | b ", '|', true, false, true, {"a", "b"}},
      {" a | b ", '|', false, false, true, {" a ", " b "}},
      {"   ", ',', true, false, true, {}},
      {"", ',', false, true, false, {}},
      {"one", ',', false, false, true, {"one"}},
      {std::string("a,b\0,c", 6), ',', false, false, true, {"a", "b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    strings out = {"stale"};
    EXPECT_EQ(split_string(c.text, c.sep, out, c.trim, c.keep_empty, false), c.result);
    EXPECT_EQ(out, c.out);
  }
}

TEST(SplitString, AppendKeepsEarlierEntries) {
  strings out = {"first"};
  EXPECT_TRUE(split_string("a;b", ';', out, false, false, true));
  EXPECT_EQ(out, (strings{"first", "a", "b"}));
  EXPECT_FALSE(split_string("", ';', out, false, false, true));
  EXPECT_EQ(out.size(), 3u);
}

TEST(SplitByFirstDelimiter, Table) {
  struct Case {
    std::string text;
    char result;
    strings out;
  };
  const Case cases[] = {
      {"x;y", ';', {"x", "y"}},
      {"x", 0, {"x"}},
      {" x ", 0, {" x "}},
      {"a,b|c", '|', {"a,b", "c"}},
      {"", 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    strings out = {"stale"};
    EXPECT_EQ(split_by_first_delimiter(out, c.text, true, false, "|,;"), c.result);
    EXPECT_EQ(out, c.out);
  }
}

TEST(SplitStringW, Table) {
  using wstrings = std::vector<std::wstring>;
  struct Case {
    std::wstring text;
    bool trim;
    bool keep_empty;
    bool result;
    wstrings out;
  };
  const Case cases[] = {
      {L"a,,b", false, true, true, {L"a", L"", L"b"}},
      {L"a,,b", false, false, true, {L"a", L"b"}},
      {L"a,", false, true, true, {L"a", L""}},
      // A last piece that trimming empties is left out even with keep_empty.
      {L"a, ", true, true, true, {L"a"}},
      {L" , a", true, true, true, {L"", L"a"}},
      {L" x , y ", true, false, true, {L"x", L"y"}},
      {L"", false, true, false, {}},
  };
  for (const Case& c : cases) {
    wstrings out = {L"stale"};
    EXPECT_EQ(split_string_w(c.text, L',', out, c.trim, c.keep_empty), c.result);
    EXPECT_EQ(out, c.out);
  }
}

TEST(SplitLines, Table) {
  struct Case {
    std::string data;
    bool result;
    strings lines;
  };
  const Case cases[] = {
      {"a\r\nb\n", true, {"a", "b"}},
      {"a\n\nbc", true, {"a", "", "bc"}},
      {"only line ", true, {"only line"}},
      {"", false, {}},
      // A one-byte last line without a final line feed is kept.
      {"first\nx", true, {"first", "x"}},
      {"\r\r a \n", true, {"a"}},
      {"a\nbc", true, {"a", "bc"}},
      {"x", true, {"x"}},
      {"\n", true, {""}},
      {std::string("a\0b\n", 4), true, {std::string("a\0b", 3)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data);
    const byte_array data(c.data.begin(), c.data.end());
    strings lines = {"stale"};
    EXPECT_EQ(split_lines(data, lines), c.result);
    EXPECT_EQ(lines, c.lines);
  }
}

TEST(ArgsToVector, AppendsWithNullAsEmpty) {
  const char* argv[] = {"prog", nullptr, "-log"};
  strings out = {"kept"};
  EXPECT_TRUE(args_to_vector(out, 3, argv));
  EXPECT_EQ(out, (strings{"kept", "prog", "", "-log"}));
  strings none;
  EXPECT_FALSE(args_to_vector(none, 0, argv));
  EXPECT_FALSE(args_to_vector(none, -1, argv));
  EXPECT_FALSE(args_to_vector(none, 2, nullptr));
  EXPECT_TRUE(none.empty());
}

TEST(EraseAt, Table) {
  struct Case {
    int index;
    bool result;
    strings after;
  };
  const Case cases[] = {
      {0, true, {"b", "c"}}, {1, true, {"a", "c"}},       {2, true, {"a", "b"}},
      {3, false, {"a", "b", "c"}}, {-1, false, {"a", "b", "c"}},
  };
  for (const Case& c : cases) {
    strings v = {"a", "b", "c"};
    EXPECT_EQ(erase_at(c.index, v), c.result) << c.index;
    EXPECT_EQ(v, c.after) << c.index;
  }
}

TEST(JoinQuoted, QuotesItemsWithBlanks) {
  std::string out = "stale";
  EXPECT_TRUE(join_quoted(out, {"prog", "-log", "c:\\my logs\\x.etl"}, '"'));
  EXPECT_EQ(out, "prog -log \"c:\\my logs\\x.etl\"");
  EXPECT_TRUE(join_quoted(out, {"a", "b c", "d\"e f"}, '\''));
  EXPECT_EQ(out, "a 'b c' 'd\"e f'");
  EXPECT_TRUE(join_quoted(out, {}, '"'));
  EXPECT_EQ(out, "");
}

}  // namespace
