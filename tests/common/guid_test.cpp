#include "common/guid.hpp"

#include <gtest/gtest.h>

namespace {

guid from_text(const std::string& text) {
  byte_array bytes;
  EXPECT_TRUE(parse_guid_text(text, bytes)) << text;
  return bytes.size() == 16 ? guid(bytes.data()) : guid();
}

TEST(Guid, TextRoundTripAndByteOrder) {
  guid g = from_text("01234567-89ab-cdef-0123-456789abcdef");
  const u8 expected[16] = {0x67, 0x45, 0x23, 0x01, 0xab, 0x89, 0xef, 0xcd,
                           0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
  EXPECT_EQ(guid(expected), g);
  EXPECT_EQ(guid_to_string(g), "01234567-89ab-cdef-0123-456789abcdef");
  EXPECT_EQ(g.data1(), 0x01234567u);
  EXPECT_EQ(g.data2(), 0x89abu);
  EXPECT_EQ(g.data3(), 0xcdefu);
}

TEST(Guid, UpperCaseAndBracesAreAccepted) {
  EXPECT_EQ(guid_to_string(from_text("01234567-89AB-CDEF-0123-456789ABCDEF")),
            "01234567-89ab-cdef-0123-456789abcdef");
  EXPECT_EQ(guid_to_string(from_text("{9b79ee91-b5fd-41c0-a243-4248e266e9d0}")),
            "9b79ee91-b5fd-41c0-a243-4248e266e9d0");
}

// Text that is not a GUID must never turn silently into the zero GUID.
TEST(Guid, NonGuidTextIsRefusedAndOutputUntouched) {
  const char* bad[] = {
      "",
      "00000001-0002-0003-0004",                     // 22 characters, groups missing
      "01234567-89ab-cdef-0123-456789abcde",         // one digit short
      "01234567-89ab-cdef-0123-456789abcdef0",       // one digit too many
      "01234567_89ab_cdef_0123_456789abcdef",        // wrong separators
      "0123456g-89ab-cdef-0123-456789abcdef",        // not hex
      "{01234567-89ab-cdef-0123-456789abcdef",       // unbalanced brace
      "{{01234567-89ab-cdef-0123-456789abcdef}}",    // two pairs
      " 1234567-89ab-cdef-0123-456789abcdef",        // blank inside a group
      "garbage garbage garbage garbage garb",
  };
  for (const char* text : bad) {
    byte_array out = {0xaa};
    EXPECT_FALSE(parse_guid_text(text, out)) << text;
    EXPECT_EQ(out, byte_array{0xaa}) << text;
  }
}

TEST(Guid, ZeroValueText) {
  EXPECT_EQ(guid_to_string(guid()), "00000000-0000-0000-0000-000000000000");
  EXPECT_TRUE(guid().is_zero());
  EXPECT_TRUE(guid(nullptr).is_zero());
}

// Byte 0 decides: Data1 = 256 is stored 00 01 00 00 and sorts before Data1 = 1.
TEST(Guid, OrderIsBytewiseOverTheStoredLayout) {
  guid a = from_text("00000100-0000-0000-0000-000000000000");
  guid b = from_text("00000001-0000-0000-0000-000000000000");
  EXPECT_TRUE(guid_less(a, b));
  EXPECT_FALSE(guid_less(b, a));
  EXPECT_FALSE(guid_less(a, a));
  guid c = a;
  c.bytes[15] = 1;
  EXPECT_TRUE(guid_less(a, c));
  c.clear();
  EXPECT_TRUE(c.is_zero());
}

}  // namespace
