#include "common/zarn_bytes.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The first n bytes of `full` in a buffer of exactly n bytes, so that the
// sanitizer's redzone sits right behind the last one.
byte_array cut(const byte_array& full, size_t n) {
  return byte_array(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
}

void put_u32(byte_array& b, u32 v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<u8>(v >> (8 * i)));
}

// ---- small operations ----

TEST(ZarnBytes, PointerStepsStayInsideTheBytes) {
  const byte_array b = {1, 2, 3};
  EXPECT_EQ(ptr_add(b, 1).size(), 2u);
  EXPECT_EQ(ptr_add(b, 1)[0], 2);
  EXPECT_TRUE(ptr_add(b, 3).empty());
  EXPECT_TRUE(ptr_add(b, UINT64_MAX).empty());
  EXPECT_EQ(byte_ptr_at(b, 2), b.data() + 2);
  EXPECT_EQ(byte_ptr_at(b, 3), nullptr);
  EXPECT_EQ(byte_ptr_at(b, UINT64_MAX), nullptr);
  EXPECT_FALSE(is_one(nullptr));
}

// ---- SIDs ----

byte_array sid_bytes(u8 revision, const u8 (&authority)[6], const std::vector<u32>& subs) {
  byte_array b;
  b.push_back(revision);                         // revision
  b.push_back(static_cast<u8>(subs.size()));     // sub-authority count
  b.insert(b.end(), authority, authority + 6);   // 48-bit authority, big-endian
  for (u32 s : subs) put_u32(b, s);              // sub-authorities, little-endian
  return b;
}

constexpr u8 nt_authority[6] = {0, 0, 0, 0, 0, 5};

TEST(ZarnBytes, SidText) {
  struct row {
    const char* name;
    byte_array bytes;
    std::string text;
  };
  const u8 big_authority[6] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
  const u8 authority_256[6] = {0, 0, 0, 0, 1, 0};
  const std::vector<row> rows = {
      {"LocalSystem", {0x01, 0x01, 0, 0, 0, 0, 0, 0x05, 0x12, 0, 0, 0}, "S-1-5-18"},
      {"FiveSubs", sid_bytes(1, nt_authority, {21, 1, 2, 0xFFFFFFFFu, 1001}), "S-1-5-21-1-2-4294967295-1001"},
      {"NoSubsWithSlack", {0x01, 0x00, 0, 0, 0, 0, 0, 0x05, 0xAA, 0xBB, 0xCC, 0xDD}, "S-1-5"},
      {"Authority256", sid_bytes(1, authority_256, {7}), "S-1-256-7"},
      {"Authority48Bit", sid_bytes(1, big_authority, {7}), "S-1-1108152157446-7"},
      {"ElevenBytes", cut({0x01, 0x00, 0, 0, 0, 0, 0, 0x05, 0, 0, 0, 0}, 11), ""},
      {"CountPastTheBytes", {0x01, 0x02, 0, 0, 0, 0, 0, 0x05, 0x12, 0, 0, 0, 0, 0, 0}, ""},
      {"CountFF", {0x01, 0xFF, 0, 0, 0, 0, 0, 0x05, 0x12, 0, 0, 0}, ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(sid_to_string(r.bytes), r.text);
  }
}

TEST(ZarnBytes, SidLength) {
  EXPECT_EQ(sid_length(sid_bytes(1, nt_authority, {21, 1, 2, 3, 1001})), 28u);
  EXPECT_EQ(sid_length(byte_array{0x01, 0xFF}), 8u + 4u * 255u);
  // The count byte is not held: no length is invented from outside the bytes.
  EXPECT_EQ(sid_length(byte_array{0x01}), 0u);
  EXPECT_EQ(sid_length(byte_array{}), 0u);
}

TEST(ZarnBytes, SidCutAtEveryLength) {
  const byte_array full = sid_bytes(1, nt_authority, {21, 1, 2, 3, 1001});
  ASSERT_EQ(full.size(), 28u);
  ASSERT_EQ(sid_to_string(full), "S-1-5-21-1-2-3-1001");
  for (size_t n = 0; n < full.size(); ++n) {
    const byte_array part = cut(full, n);
    EXPECT_EQ(sid_to_string(part), "") << n;
    EXPECT_EQ(sid_length(part), n >= 2 ? 28u : 0u) << n;
  }
}

// ---- varints ----

TEST(ZarnBytes, VarintValues) {
  struct row {
    const char* name;
    byte_array bytes;
    bool ok;
    u64 value;
  };
  const std::vector<row> rows = {
      {"Three00", {0xAC, 0x02}, true, 300},
      {"OneByte", {0x7F}, true, 127},
      {"Zero", {0x00}, true, 0},
      {"StopsAtClearTopBit", {0x05, 0xFF, 0xFF}, true, 5},
      {"EightBytes", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, true, (1ull << 56) - 1},
      {"NineBytesAll", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, true, UINT64_MAX},
      {"NinthByteWhole", {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x81, 0x55}, true, 0x81ull << 56},
      {"CutAfterContinuation", {0x80}, false, 0},
      {"CutAfterTwo", {0xAC, 0x82}, false, 0},
      {"CutBeforeNinth", {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80}, false, 0},
      {"Empty", {}, false, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    u64 v = 0xDEAD;
    EXPECT_EQ(decode_varint(v, r.bytes), r.ok);
    EXPECT_EQ(v, r.value);
  }
}

TEST(ZarnBytes, VarintCutAtEveryLength) {
  const byte_array full = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01};
  for (size_t n = 0; n <= full.size(); ++n) {
    const byte_array part = cut(full, n);
    u64 v = 7;
    EXPECT_EQ(decode_varint(v, part), n == full.size()) << n;
    if (n < full.size()) {
      EXPECT_EQ(v, 0u) << n;
    }
  }
}

// ---- counted strings ----

TEST(ZarnBytes, CountedString) {
  struct row {
    const char* name;
    byte_array bytes;
    u32 used;
    std::string text;
  };
  byte_array long_form = {0x81, 0x02};  // 15-bit length 0x102
  long_form.insert(long_form.end(), 0x102, 'q');
  const std::vector<row> rows = {
      {"Short", {0x03, 'a', 'b', 'c', 'z'}, 4, "abc"},
      {"EmptyString", {0x00, 'a'}, 1, ""},
      {"EmptyStringAtEnd", {0x00}, 1, ""},
      {"LongForm", long_form, 0x104, std::string(0x102, 'q')},
      {"LongLengthPastTheBytes", {0x83, 0x61, 0x62, 0x63}, 2, ""},
      {"ShortLengthPastTheBytes", {0x04, 'a', 'b', 'c'}, 1, ""},
      {"LengthWithNothingAfter", {0x05}, 1, ""},
      {"LongPrefixCut", {0x83}, 0, ""},
      {"Empty", {}, 0, ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    std::string out = "stale";
    EXPECT_EQ(read_counted_string(out, r.bytes), r.used);
    EXPECT_EQ(out, r.text);
  }
}

TEST(ZarnBytes, CountedStringCutAtEveryLength) {
  const byte_array full = {0x80, 0x03, 'x', 'y', 'z'};
  for (size_t n = 0; n < full.size(); ++n) {
    std::string out = "stale";
    EXPECT_EQ(read_counted_string(out, cut(full, n)), n < 2 ? 0u : 2u) << n;
    EXPECT_EQ(out, "") << n;
  }
}

TEST(ZarnBytes, CountedStringList) {
  struct row {
    const char* name;
    byte_array bytes;
    u32 used;
    std::vector<std::string> items;
  };
  const std::vector<row> rows = {
      {"TwoItems", {0x02, 0x02, 'a', 'b', 0x01, 'c', 0xEE}, 6, {"ab", "c"}},
      {"EmptyList", {0x00}, 1, {}},
      {"EmptyListWithSlack", {0x00, 0x01}, 1, {}},
      {"CountPastTheBytes", {0x03, 0x00, 0x00}, 1, {}},
      {"LongCountPastTheBytes", {0x80, 0x05, 0x00, 0x00}, 2, {}},
      {"LongCountCut", {0x80}, 0, {}},
      // The second string claims more than is left: it reads as empty and
      // consumes only its length byte.
      {"ItemPastTheBytes", {0x02, 0x01, 'a', 0x09, 'b'}, 4, {"a", ""}},
      // The bytes run out before the third string: it stays empty.
      {"BytesRunOut", {0x03, 0x01, 'a', 0x01, 'b'}, 5, {"a", "b", ""}},
      {"Empty", {}, 0, {}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<std::string> out = {"stale"};
    EXPECT_EQ(read_counted_string_list(out, r.bytes), r.used);
    EXPECT_EQ(out, r.items);
  }
}

TEST(ZarnBytes, CountedStringListCutAtEveryLength) {
  const byte_array full = {0x02, 0x02, 'a', 'b', 0x03, 'c', 'd', 'e'};
  for (size_t n = 0; n <= full.size(); ++n) {
    std::vector<std::string> out;
    const u32 used = read_counted_string_list(out, cut(full, n));
    EXPECT_LE(used, n) << n;
    if (n == full.size()) {
      EXPECT_EQ(used, 8u);
      EXPECT_EQ(out, (std::vector<std::string>{"ab", "cde"}));
    }
  }
}

// ---- string extraction ----

struct runs {
  std::vector<std::string> strings;
  std::vector<u64> offsets;
  bool ok = false;
};

runs ascii(const byte_array& b, i32 min_len, bool allow_ctrl, bool no_punct_start) {
  runs r;
  r.strings = {"stale"};
  r.offsets = {99};
  r.ok = extract_ascii_strings(b, min_len, r.strings, r.offsets, allow_ctrl, no_punct_start);
  return r;
}

runs unicode(const byte_array& b, i32 min_len, bool allow_ctrl, bool no_punct_start) {
  runs r;
  r.strings = {"stale"};
  r.offsets = {99};
  r.ok = extract_unicode_strings(b, min_len, r.strings, r.offsets, allow_ctrl, no_punct_start);
  return r;
}

byte_array text_bytes(const std::string& s) { return byte_array(s.begin(), s.end()); }

byte_array utf16(const std::string& s) {
  byte_array b;
  for (char c : s) {
    b.push_back(static_cast<u8>(c));
    b.push_back(0);
  }
  return b;
}

TEST(ZarnBytes, AsciiRuns) {
  struct row {
    const char* name;
    byte_array bytes;
    i32 min_len;
    bool allow_ctrl;
    bool no_punct_start;
    std::vector<std::string> strings;
    std::vector<u64> offsets;
  };
  const byte_array sample = {' ', ' ', '#', 'a', 'b', 'c', '1', 0x00, 'x', 'y', 'z'};
  byte_array crlf_tail = text_bytes("word");
  crlf_tail.insert(crlf_tail.end(), {0x00, '\r', '\n', '\r', '\n'});
  const std::vector<row> rows = {
      {"PunctuationSkipped", sample, 4, false, true, {"abc1"}, {3}},
      {"PunctuationKept", sample, 4, false, false, {"#abc1"}, {2}},
      {"ShortTailKeptAtMin3", sample, 3, false, false, {"#abc1", "xyz"}, {2, 8}},
      {"OnlyLineEnds", crlf_tail, 2, true, false, {"word"}, {0}},
      {"ControlsEndRunsWithoutAllow", text_bytes("ab\r\ncd"), 2, false, false, {"ab", "cd"}, {0, 4}},
      {"ControlsJoinRunsWithAllow", text_bytes("ab\r\ncd"), 2, true, false, {"ab\r\ncd"}, {0}},
      {"TabStartsARun", text_bytes("\tab"), 3, true, false, {"\tab"}, {0}},
      {"HighBytesEndRuns", {'a', 'b', 0x80, 'c', 'd', 0xFF}, 2, false, false, {"ab", "cd"}, {0, 3}},
      {"SlashBracketBraceMayStart", text_bytes("/ab [cd {ef"), 3, false, true, {"/ab [cd {ef"}, {0}},
      {"InnerBlanksKept", text_bytes("  a b"), 3, false, false, {"a b"}, {2}},
      {"MinLenZeroKeepsNoEmptyRun", {0x00, 0x00, 'a'}, 0, false, false, {"a"}, {2}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    const runs got = ascii(r.bytes, r.min_len, r.allow_ctrl, r.no_punct_start);
    EXPECT_TRUE(got.ok);
    EXPECT_EQ(got.strings, r.strings);
    EXPECT_EQ(got.offsets, r.offsets);
  }
  const runs none = ascii({}, 1, false, false);
  EXPECT_FALSE(none.ok);
  EXPECT_TRUE(none.strings.empty());
  EXPECT_TRUE(none.offsets.empty());
}

TEST(ZarnBytes, UnicodeRuns) {
  struct row {
    const char* name;
    byte_array bytes;
    i32 min_len;
    bool no_punct_start;
    std::vector<std::string> strings;
    std::vector<u64> offsets;
  };
  byte_array odd = {0x01};  // one byte that is no character, then text at offset 1
  {
    const byte_array t = utf16("Hello");
    odd.insert(odd.end(), t.begin(), t.end());
  }
  byte_array two = utf16("abc");
  two.insert(two.end(), {0x34, 0x12});
  {
    const byte_array t = utf16("de");
    two.insert(two.end(), t.begin(), t.end());
  }
  byte_array dangling = utf16("abc");
  dangling.push_back('d');  // half a unit at the end is not read
  const std::vector<row> rows = {
      {"OddOffset", odd, 2, false, {"Hello"}, {1}},
      {"TwoRuns", two, 2, false, {"abc", "de"}, {0, 8}},
      {"ShortRunDropped", two, 3, false, {"abc"}, {0}},
      {"LeadingBlankSkipped", utf16("  ab"), 2, false, {"ab"}, {4}},
      {"LeadingPunctSkipped", utf16("#ab"), 2, true, {"ab"}, {2}},
      {"LeadingPunctKept", utf16("#ab"), 2, false, {"#ab"}, {0}},
      {"BlanksOnlyRunIsNotStarted", utf16("   "), 1, false, {}, {}},
      {"HalfUnitAtEnd", dangling, 2, false, {"abc"}, {0}},
      {"MinLenZeroKeepsNoEmptyRun", {0x01, 0x02, 0x03}, 0, false, {}, {}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    const runs got = unicode(r.bytes, r.min_len, false, r.no_punct_start);
    EXPECT_TRUE(got.ok);
    EXPECT_EQ(got.strings, r.strings);
    EXPECT_EQ(got.offsets, r.offsets);
  }
  EXPECT_FALSE(unicode({}, 1, false, false).ok);
  const runs single = unicode({'a'}, 1, false, false);
  EXPECT_TRUE(single.ok);
  EXPECT_TRUE(single.strings.empty());
}

TEST(ZarnBytes, ExtractionCutAtEveryLength) {
  byte_array full = {0x00};
  {
    const byte_array t = utf16("path\\x");
    full.insert(full.end(), t.begin(), t.end());
  }
  full.insert(full.end(), {0xFF, 'a', 'b', 'c', 'd', '\r', '\n'});
  for (size_t n = 0; n <= full.size(); ++n) {
    const byte_array part = cut(full, n);
    const runs a = ascii(part, 1, true, false);
    const runs u = unicode(part, 1, true, false);
    EXPECT_EQ(a.ok, n > 0) << n;
    EXPECT_EQ(u.ok, n > 0) << n;
    ASSERT_EQ(a.strings.size(), a.offsets.size());
    ASSERT_EQ(u.strings.size(), u.offsets.size());
    for (size_t i = 0; i < a.strings.size(); ++i) EXPECT_LE(a.offsets[i] + a.strings[i].size(), n);
    for (size_t i = 0; i < u.strings.size(); ++i) EXPECT_LE(u.offsets[i] + 2 * u.strings[i].size(), n);
  }
}

// ---- search ----

TEST(ZarnBytes, FindFirst) {
  struct row {
    const char* name;
    byte_array data;
    byte_array pattern;
    bool found;
    u64 offset;
  };
  const std::vector<row> rows = {
      {"OverlappingTakesFirst", {'a', 'a', 'a'}, {'a', 'a'}, true, 0},
      {"AtTheEnd", {1, 2, 3, 4}, {3, 4}, true, 2},
      {"WholeBuffer", {1, 2}, {1, 2}, true, 0},
      {"PartialAtTheEnd", {1, 2, 3}, {3, 4}, false, 0},
      {"PatternLonger", {1}, {1, 2}, false, 0},
      {"EmptyPattern", {1}, {}, false, 0},
      {"EmptyData", {}, {1}, false, 0},
      {"SidMarker", {9, 9, 1, 1, 0, 0, 0, 0, 0, 5, 9}, {1, 1, 0, 0, 0, 0, 0, 5}, true, 2},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    u64 off = 77;
    EXPECT_EQ(find_first(r.data, r.pattern, off), r.found);
    EXPECT_EQ(off, r.offset);
  }
}

TEST(ZarnBytes, FindFirstCutAtEveryLength) {
  const byte_array full = {0, 1, 2, 3, 4, 5, 6, 7};
  const byte_array pattern = {5, 6, 7};
  for (size_t n = 0; n <= full.size(); ++n) {
    u64 off = 0;
    EXPECT_EQ(find_first(cut(full, n), pattern, off), n == full.size()) << n;
    EXPECT_EQ(off, n == full.size() ? 5u : 0u);
  }
}

}  // namespace
