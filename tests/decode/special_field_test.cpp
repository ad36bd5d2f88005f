#include "decode/special_field.hpp"

#include <gtest/gtest.h>

#include <set>

#include "decode/apply_template.hpp"
#include "decode/decode_scratch.hpp"
#include "decode/template_map.hpp"
#include "support/log_builder.hpp"

using namespace logbuild;
using namespace std::string_literals;

namespace {

constexpr u64 base = 0x1000;  // file offset of the field's first byte
constexpr u64 top_bit = 1ull << 63;
constexpr i32 ends = special_field_ends_walk;

event_template make_template(std::vector<u16> types, std::vector<std::string> names) {
  event_template t;
  t.types = std::move(types);
  t.names = std::move(names);
  t.finalize();
  return t;
}

byte_array u16s(std::u16string_view s, bool nul = true) {
  return writer().put_utf16(s, nul).take();
}
byte_array chars(const std::string& s) { return byte_array(s.begin(), s.end()); }
byte_array counting(u8 n) {
  byte_array b(n);
  for (u8 i = 0; i < n; ++i) b[i] = static_cast<u8>(i + 1);
  return b;
}

struct want {
  i64 at;  // key offset from the field's first byte; -1 a marker, -2 the event name there
  std::string name;
  u16 word;  // high byte << 8 | in-type
  u64 number;
  std::string value;
  u32 size;
  byte_array bytes = {};
  u8 element = 0;
};
want text(i64 at, std::string name, u16 word, std::string v, u32 size) {
  return {at, name, word, 0, v, size};
}
want blob(u16 word, u32 size, std::string name = "Data") {
  return {0, name + "_" + std::to_string(size) + "_bytes", word, 0, "{blob}", size};
}
want raw(std::string name, u16 word, byte_array b) {
  return {0, name, word, 0, "", static_cast<u32>(b.size()), b};
}
want item(i64 at, std::string name, u16 word, u64 n, u32 size) {
  return {at, name, word, n, "", size, {}, 1};
}
want dash(u16 word) { return text(-1, "Data", word, "-", 0); }

struct word_case {
  const char* what;
  std::vector<u16> types;  // word 0 is decoded
  byte_array rest;
  std::vector<u64> earlier;  // numbers of the fields stored before, the last one nearest
  std::vector<want> fields;
  i32 used;
  std::vector<std::string> names = {"Data"};
  bool pointer64 = true;
};

field_map earlier_fields(const std::vector<u64>& numbers) {
  field_map map;
  for (std::size_t i = 0; i < numbers.size(); ++i) map[base - 64 + i * 8].number = numbers[i];
  return map;
}

TEST(SpecialField, EveryWordClass) {
  const byte_array c10 = counting(10), hello = chars("he\0lo world"s);
  const word_case cases[] = {
      {"Guess", {0x8001}, counting(4), {}, {text(-2, "Data", 0x8001, "{guess}", 0)}, 0},
      {"AppHash", {0x8002}, counting(22), {}, {raw("AppHash", 0x8002, counting(21))}, 21},
      {"AppHashShort", {0x8002}, counting(20), {}, {}, 0},
      {"SqmTooShort", {0x8003}, counting(4), {}, {}, 0},
      // a record the SQM decoder reads takes the rest of the payload
      {"SqmTakesTheRest", {0x8003}, join({counting(16), writer().put_u32(9).put_u32(7).take()}),
       {},
       {{0, "SqmSessionGuid", 15, 0, "04030201-0605-0807-090a-0b0c0d0e0f10", 16, {}, 1},
        item(16, "SqmID", 8, 9, 4), item(20, "SqmType", 8, 7, 4)},
       24},
      {"Blob", {0x8004}, c10, {}, {blob(0x8004, 10)}, 10},
      {"UnnamedBlob", {0x8004}, c10, {}, {blob(0x8004, 10, "skip")}, 10, {""}},
      {"Slot32", {0x8005}, join({u16s(u"Hi"), byte_array(30)}), {},
       {text(0, "Data", 0x8005, "Hi", 32)}, 32},
      {"EmptySlot32", {0x8005}, byte_array(32), {}, {text(-1, "Data", 0x8005, "-", 32)}, 32},
      // the structure decoders, one per word class
      {"PciLocation", {0x8006}, counting(21), {},
       {item(0, "DeviceObj", 16, 0x0807060504030201, 8), item(8, "PCIBus", 8, 0x0c0b0a09, 4),
        item(12, "PCIDevice", 6, 0x0e0d, 2), item(14, "PCIFunction", 6, 0x100f, 2),
        item(16, "PCIVendor", 6, 0x1211, 2), item(18, "PCIDeviceID", 6, 0x1413, 2)},
       20},
      {"StringDescriptor", {0x8017}, byte_array{4, 3, 'A', 0, 9}, {},
       {item(0, "USB_STRING_DESCRIPTOR [Length]", 4, 4, 1), item(1, "DescriptorType", 4, 3, 1),
        {2, "String", 1, 0, "A", 2, {}, 1}},
       4},
      // the packet count is the number of an earlier field
      {"IsoPackets", {0x810a}, counting(13), {1},
       {item(0, "Offset", 8, 0x04030201, 4), item(4, "Length", 8, 0x08070605, 4),
        item(8, "Status", 8, 0x0c0b0a09, 4)},
       12},
      {"IsoPacketsNoDistanceBack", {0x800a}, counting(13), {1}, {}, 0},
      {"Utf16List", {0x9381}, join({u16s(u"ab"), u16s(u""), u16s(u"c\r"), u16s(u"d")}), {},
       {text(0, "Data[0]", 0x9381, "ab", 6), text(6, "Data[1]", 0x9381, "-", 2),
        text(8, "Data[2]", 0x9381, "c[CR]", 6)}, 14},
      {"Utf16ListLoneByte", {0x9581}, byte_array{'a', 0, 'b', 0, 'x'}, {},
       {text(0, "Data[0]", 0x9581, "ab", 4)}, 4},
      {"LengthU8AtN", {0x9284}, byte_array{9, 9, 5, 0, 0, 0, 7}, {},
       {raw("Data", 0x9284, {9, 9, 5, 0, 0})}, 5},
      {"LengthU16AtN", {0x9086}, byte_array{6, 0, 0, 0, 1, 2, 3}, {},
       {raw("Data", 0x9086, {6, 0, 0, 0, 1, 2})}, 6},
      {"LengthU32AtN", {0x9188}, byte_array{9, 3, 0, 0, 0, 1}, {},
       {raw("Data", 0x9188, {9, 3, 0})}, 3},
      {"LengthPastTheBytes", {0x9086}, byte_array{9, 0, 0, 0, 1}, {}, {}, 0},
      {"LengthOfZero", {0x9086}, byte_array{0, 0, 0, 0, 1}, {}, {}, 0},
      {"LengthFieldPastTheBytes", {0x9F84}, counting(16), {}, {}, 0},
      {"BackUtf16Chars", {0xA101}, join({u16s(u"Hi"), u16s(u"z", false)}), {2},
       {text(0, "Data", 0xA101, "Hi", 4)}, 4},
      {"BackUtf16Bytes", {0xA101}, join({u16s(u"Hi"), byte_array(6)}), {6},
       {text(0, "Data", 0xA101, "Hi", 6)}, 6},
      {"BackNarrowText", {0xA102}, hello, {5}, {text(0, "Data", 0xA102, "he\0lo"s, 5)}, 5},
      {"BackSecondField", {0xA202}, hello, {3, 99}, {text(0, "Data", 0xA202, "he\0"s, 3)}, 3},
      {"BackCountPastTheBytes", {0xA102}, hello, {12}, {dash(0xA102)}, 0},
      {"BackCountTopBit", {0xA102}, hello, {top_bit}, {dash(0xA102)}, 0},
      {"BackCountZero", {0xA102}, hello, {0}, {dash(0xA102)}, 0},
      {"NoFieldBack", {0xA102}, hello, {}, {dash(0xA102)}, 0},
      {"NoDistanceBack", {0xA002}, hello, {5}, {}, 0},
      {"BackUtf16List", {0xA181}, join({u16s(u"a"), u16s(u"bc"), u16s(u"z")}), {2},
       {text(0, "Data", 0xA181, "a", 4), text(4, "Data", 0xA181, "bc", 6)}, 10},
      {"BackUtf16ListShort", {0xA181}, join({u16s(u"a"), u16s(u"b", false)}), {3},
       {text(0, "Data", 0xA181, "a", 4)}, 6},
      {"BackAnsiList", {0xA182}, chars("ab\0\0xyz"s), {2},
       {text(0, "Data", 0xA182, "ab", 3), text(3, "Data", 0xA182, "-", 1)}, 4},
      {"BackAnsiListShort", {0xA182}, chars("ab\0c"s), {3}, {text(0, "Data", 0xA182, "ab", 3)}, 4},
      {"BackBytesAscii", {0xA184}, chars("hello\0xx"s), {6},
       {{0, "Data", 0xA184, 0, "hello", 6, chars("hello\0"s)}}, 6},
      {"BackBytesUtf16", {0xA184}, u16s(u"Hello"), {10},
       {{0, "Data", 0xA184, 0, "Hello", 10, u16s(u"Hello", false)}}, 10},
      {"BackBytesBinary", {0xA184}, counting(6), {5}, {raw("Data", 0xA184, counting(5))}, 5},
      {"BackU32s", {0xA188}, c10, {2},
       {item(0, "Data[0]", 8, 0x04030201, 4), item(4, "Data[1]", 8, 0x08070605, 4)}, 8},
      {"BackU32sPastTheBytes", {0xA188}, c10, {3}, {}, ends},
      {"BackPointers", {0xA190}, c10, {2},
       {item(0, "Data[0]", 16, 0x04030201, 4), item(4, "Data[1]", 16, 0x08070605, 4)}, 8, {"Data"},
       false},
      {"BlobByNextWord", {0xB184, 12, 8}, counting(16), {}, {blob(0xB184, 12)}, 12},
      {"BytesByNextWord", {0xB284, 3}, counting(4), {}, {raw("Data", 0xB284, counting(3))}, 3},
      {"NextWordPastTheBytes", {0xB284, 9}, counting(4), {}, {}, 0},
      {"NoNextWord", {0xB184}, counting(4), {}, {}, 0},
      {"OtherWordOfNextWordClass", {0xB384, 2}, counting(4), {}, {}, 0},
      {"BlobOfNBytes", {0xC384}, c10, {}, {blob(0xC384, 3)}, 3},
      {"BlobOfNU16s", {0xC286}, c10, {}, {blob(0xC286, 4)}, 4},
      {"BlobOfNU32s", {0xC288}, c10, {}, {blob(0xC288, 8)}, 8},
      {"BlobOfNU64s", {0xC195}, c10, {}, {blob(0xC195, 8)}, 8},
      {"BlobOfNPastTheBytes", {0xC295}, c10, {}, {}, 0},
      {"NChars", {0xD402}, chars("a\nb\0c"s), {}, {text(0, "Data", 0xD402, "a[LF]b\0"s, 4)}, 4},
      {"AnsiList", {0xD382}, chars("ab\0\0c"s), {},
       {text(0, "Data[0]", 0xD382, "ab", 3), text(3, "Data[1]", 0xD382, "-", 1),
        text(4, "Data[2]", 0xD382, "c", 1)}, 5},
      {"NBytes", {0xD384}, counting(5), {}, {raw("Data", 0xD384, counting(3))}, 3},
      {"NBytesCapped", {0xD584}, counting(3), {}, {raw("Data", 0xD584, counting(3))}, 3},
      {"U16s", {0xD286}, byte_array{1, 0, 2, 0}, {},
       {item(0, "", 0xD206, 1, 2), item(2, "", 0xD206, 2, 2)}, 4},
      {"U32sCut", {0xD388}, c10, {},
       {item(0, "", 0xD308, 0x04030201, 4), item(4, "", 0xD308, 0x08070605, 4)}, 10},
      {"Pointers", {0xD190}, counting(9), {}, {item(0, "", 0xD110, 0x0807060504030201, 8)}, 8},
      {"U64s", {0xD195}, counting(9), {}, {item(0, "", 0xD115, 0x0807060504030201, 8)}, 8},
      {"BlobByBackValue", {0xE184}, c10, {6}, {blob(0xE184, 6)}, 6},
      {"BlobNoDistanceBack", {0xE084}, c10, {6}, {}, 0},
      {"BlobBackValueTopBit", {0xE184}, c10, {top_bit}, {}, 0},
      {"BlobBackValuePastTheBytes", {0xE184}, c10, {11}, {}, 0},
      {"UnknownClass", {0x1008}, counting(4), {}, {}, 0},
      {"NoWords", {}, counting(4), {}, {}, 0, {}},
  };
  std::set<u16> classes;
  for (const word_case& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.types.empty()) classes.insert(c.types[0] & 0xF0FF);
    const event_template t = make_template(c.types, c.names);
    field_map map = earlier_fields(c.earlier);
    EXPECT_EQ(decode_special_field(t, map, c.rest, 0, base, c.pointer64), c.used);
    for (const auto& [key, f] : earlier_fields(c.earlier)) map.erase(key);
    ASSERT_EQ(map.size(), c.fields.size());
    for (const want& e : c.fields) {
      const field_key key = e.at == -1   ? field_key{base, key_rank::marker}
                            : e.at == -2 ? field_key{base, key_rank::event_name}
                                         : field_key{base + e.at};
      ASSERT_EQ(map.count(key), 1u) << e.at;
      const field_rec& f = map.at(key);
      EXPECT_EQ(f.name, e.name);
      EXPECT_EQ(f.in_type, e.word & 0xFF);
      EXPECT_EQ(f.high_byte, e.word >> 8);
      EXPECT_EQ(f.number, e.number);
      EXPECT_EQ(f.value, e.value);
      EXPECT_EQ(f.size, e.size);
      EXPECT_EQ(f.bytes, e.bytes);
      EXPECT_EQ(f.element_flag, e.element);
      EXPECT_EQ(f.placeholder_flag, e.value == "-" ? 1 : 0);
    }
    // cut at every length, in a buffer of exactly that size: nothing past it
    // is read, used or covered by a field
    for (u64 n = 0; n < c.rest.size(); ++n) {
      field_map m = earlier_fields(c.earlier);
      const i32 used = decode_special_field(t, m, cut_short(c.rest, n), 0, base, c.pointer64);
      EXPECT_TRUE(used == ends || (used >= 0 && static_cast<u64>(used) <= n)) << n;
      for (const auto& [key, f] : m) EXPECT_TRUE(key.offset < base || key.offset - base + f.size <= n) << n;
    }
  }
  for (const special_word_row& row : special_words) {
    EXPECT_EQ(classes.count(row.word_class) + classes.count(row.last_class), 2u) << row.word_class;
  }
}

// How the walk goes on after an extension word, or ends at it.
TEST(SpecialField, WalkGoesOnOrEnds) {
  struct walk_case {
    const char* what;
    std::vector<u16> types;
    byte_array payload;
    i32 used;
    std::vector<u64> keys;  // offsets of the fields made; a marker sorts first at its offset
  };
  const byte_array sixteen = counting(16);
  const byte_array count3 = join({writer().put_u32(3).take(), counting(8)});
  const byte_array count1 = join({writer().put_u32(1).take(), counting(8)});
  const byte_array top = join({writer().put_u64(top_bit).take(), counting(4)});
  const walk_case cases[] = {
      // 12 is the blob's length, not a u64 field
      {"LengthWordIsNoField", {0xB184, 12, 8}, sixteen, 16, {0, 12}},
      {"GuessDecodesTheSameBytes", {8, 0x8001, 8}, counting(8), 8, {0, 4, 4}},
      // a record too short for the SQM decoder uses nothing
      {"ShortSqmGoesOn", {8, 0x8003, 8}, sixteen, 8, {0, 4}},
      {"EndpointDescriptorThenNumber", {8, 0x8010, 8}, sixteen, 15, {0, 4, 5, 6, 7, 8, 10, 11}},
      {"ElementsThatDoNotFitEnd", {8, 0xA188, 8}, count3, 4, {0}},
      {"ElementsByEarlierField", {8, 0xA188, 8}, count1, 12, {0, 4, 8}},
      {"TopBitLeavesPlaceholder", {9, 0xA102, 8}, top, 12, {0, 8, 8}},
      // a placeholder after a 1-byte field keeps both
      {"PlaceholderAfterOneByte", {3, 0xA102, 8}, byte_array{0, 1, 2, 3, 4}, 5, {0, 1, 1}},
      {"UnknownClassGoesOn", {8, 0x1008, 8}, sixteen, 8, {0, 4}},
      {"FixedElementsThenNumber", {8, 0xD388, 8}, sixteen, 16, {0, 4, 8, 12}},
  };
  decode_scratch scratch;
  for (const walk_case& c : cases) {
    SCOPED_TRACE(c.what);
    const event_template t = make_template(c.types, {});
    field_map map;
    EXPECT_EQ(apply_template(t, map, c.payload, base, true, scratch), c.used);
    std::vector<u64> keys;
    for (const auto& [key, f] : map) keys.push_back(key.offset - base);
    EXPECT_EQ(keys, c.keys);
    for (u64 n = 0; n < c.payload.size(); ++n) {
      field_map m;
      EXPECT_LE(apply_template(t, m, cut_short(c.payload, n), base, true, scratch),
                static_cast<i32>(n));
    }
  }
}

}  // namespace
