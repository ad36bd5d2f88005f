#include "decode/apply_template.hpp"

#include <gtest/gtest.h>

#include "decode/decode_payload.hpp"
#include "decode/decode_scratch.hpp"
#include "decode/template_db.hpp"
#include "decode/template_map.hpp"
#include "support/log_builder.hpp"

using namespace logbuild;

namespace {

constexpr u64 base = 0x1000;  // file offset of the payload's first byte

event_template make_template(std::vector<u16> types, std::vector<std::string> names = {}) {
  event_template t;
  t.types = std::move(types);
  t.names = std::move(names);
  t.finalize();
  return t;
}

struct expected_field {
  u64 offset;  // within the payload
  const char* name;
  u8 in_type;
  u64 number;
  std::string value;
  u32 size;
  std::vector<u8> bytes = {};
};

// One payload holding every kind of plain in-type, pointers 8 bytes.
struct every_kind {
  event_template t;
  byte_array payload;
  std::vector<expected_field> fields;
};

every_kind every_kind_payload() {
  const byte_array guid_bytes = {0x23, 0x0d, 0x3c, 0xe1, 0xbc, 0xcc, 0x12, 0x4e,
                                 0x93, 0x1b, 0xd9, 0xcc, 0x2e, 0xee, 0x27, 0xe4};
  const byte_array systemtime = {0xe4, 0x07, 1, 0, 3, 0, 1, 0, 12, 0, 30, 0, 15, 0, 0xfa, 0};
  const byte_array sid = {1, 4, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0};
  byte_array raw(16);
  for (u8 i = 0; i < 16; ++i) raw[i] = static_cast<u8>(0xA0 + i);
  writer w;
  w.put_utf16(u"Ab");                 // 0: type 1, 6 bytes with its terminator
  w.put_u16(0);                       // 6: type 1, empty
  w.put_bytes(byte_array{'x', 'y', 'z', 0});  // 8: type 2
  w.put_u8(0x81);                     // 12: type 3
  w.put_u16(0xBEEF);                  // 13: type 5
  w.put_u32(0x11223344);              // 15: type 7
  w.put_u64(0x0102030405060708ull);   // 19: type 9
  w.put_u32(1);                       // 27: type 13, a 4-byte boolean
  w.put_bytes(guid_bytes);            // 31: type 15
  w.put_u64(0xFFFFF80012345678ull);   // 47: type 16, pointer
  w.put_u64(ft_2020);                 // 55: type 17
  w.put_bytes(systemtime);            // 63: type 18, 2020-01-01 12:30:15.250
  w.put_bytes(sid);                   // 79: type 19, S-1-5-21-1-2-3
  w.put_u16(4).put_utf16(u"Hi", false);  // 103: type 22, count then text
  w.put_utf16(u"ab");                 // 109: type 145, a 6-byte slot
  w.put_bytes(raw);                   // 115: type 146
  w.put_u32(1577836800);              // 131: type 168, 2020-01-01 in Unix seconds
  w.put_utf16(u"wxyz", false);        // 135: type 161, an 8-byte slot, full
  w.put_u32(0xCAFEF00D);              // 143: type 20
  w.put_u64(0x8000000000000001ull);   // 147: type 21
  w.put_bytes(byte_array{1, 2, 3, 4, 5});  // 155: type 142, to the end
  every_kind k;
  k.payload = w.take();
  k.t = make_template({1, 1, 2, 3, 5, 7, 9, 13, 15, 16, 17, 18, 19, 22, 145, 146, 168, 161, 20,
                       21, 142},
                      {"Text", "Empty", "Ansi", "I8", "I16", "I32", "I64", "Flag", "", "Ptr",
                       "Ft", "St", "Sid", "Counted", "Slot6", "Raw", "Unix", "Slot8", "Hex32",
                       "Hex64", "Rest"});
  k.fields = {
      {0, "Text", 1, 0, "Ab", 6},
      {6, "Empty", 1, 0, "-", 0},
      {8, "Ansi", 2, 0, "xyz", 4},
      {12, "I8", 3, 0x81, "", 1},
      {13, "I16", 5, 0xBEEF, "", 2},
      {15, "I32", 7, 0x11223344, "", 4},
      {19, "I64", 9, 0x0102030405060708ull, "", 8},
      {27, "Flag", 13, 1, "", 4},
      {31, "guid", 15, 0, "", 16, guid_bytes},
      {47, "Ptr", 16, 0xFFFFF80012345678ull, "", 8},
      {55, "Ft", 17, ft_2020, "0x01d5c03669050000 [2020-01-01 00:00:00.000]", 8},
      {63, "St", 18, 0, "0x00fa000f001e000c00010003000107e4 [2020-01-01 12:30:15.250]", 16,
       systemtime},
      {79, "Sid", 19, 0, "S-1-5-21-1-2-3", 24},
      {105, "Counted", 22, 0, "Hi", 4},
      {109, "Slot6", 145, 0, "ab", 6},
      {115, "Raw", 146, 0, "", 16, raw},
      {131, "Unix", 168, 1577836800, "0x5e0be100 [2020-01-01 00:00:00.000]", 4},
      {135, "Slot8", 161, 0, "wxyz", 8},
      {143, "Hex32", 20, 0xCAFEF00D, "", 4},
      {147, "Hex64", 21, 0x8000000000000001ull, "", 8},
      {155, "Rest", 142, 0, "{blob}", 0},
  };
  return k;
}

TEST(ApplyTemplate, EveryPlainInType) {
  decode_scratch scratch;
  const every_kind k = every_kind_payload();
  field_map map;
  EXPECT_EQ(apply_template(k.t, map, k.payload, base, true, scratch), 160);
  ASSERT_EQ(map.size(), k.fields.size());
  for (const expected_field& e : k.fields) {
    SCOPED_TRACE(e.name);
    ASSERT_EQ(map.count(base + e.offset), 1u);
    const field_rec& f = map.at(base + e.offset);
    EXPECT_EQ(f.name, e.name);
    EXPECT_EQ(f.in_type, e.in_type);
    EXPECT_EQ(f.number, e.number);
    EXPECT_EQ(f.value, e.value);
    EXPECT_EQ(f.size, e.size);
    EXPECT_EQ(f.bytes, byte_array(e.bytes.begin(), e.bytes.end()));
    EXPECT_EQ(f.placeholder_flag, e.value == "-" ? 1 : 0);
  }
  // a 4-byte pointer moves every later field 4 bytes earlier
  field_map narrow;
  EXPECT_EQ(apply_template(k.t, narrow, k.payload, base, false, scratch), 160);
  EXPECT_EQ(narrow.at(base + 47).number, 0x12345678u);
  EXPECT_EQ(narrow.count(base + 51), 1u);
}

// Cut at every length, in a buffer of exactly that size: every field that
// the cut holds whole (up to where the next field starts) comes out as from
// the whole payload.
TEST(ApplyTemplate, CutAtEveryLength) {
  decode_scratch scratch;
  const every_kind k = every_kind_payload();
  field_map whole;
  (void)apply_template(k.t, whole, k.payload, base, true, scratch);
  for (u64 n = 0; n <= k.payload.size(); ++n) {
    SCOPED_TRACE(n);
    const byte_array cut = cut_short(k.payload, n);
    field_map map;
    (void)apply_template(k.t, map, cut, base, true, scratch);
    for (auto it = whole.begin(); it != whole.end(); ++it) {
      const auto& [key, f] = *it;
      const auto next = std::next(it);
      if ((next == whole.end() ? base + k.payload.size() : next->first) > base + n) break;
      ASSERT_EQ(map.count(key), 1u) << key.offset - base;
      EXPECT_EQ(map.at(key).value, f.value);
      EXPECT_EQ(map.at(key).number, f.number);
      EXPECT_EQ(map.at(key).bytes, f.bytes);
    }
  }
}

// Where the walk ends, and what it leaves for guessing.
TEST(ApplyTemplate, WalkEnds) {
  decode_scratch scratch;
  struct walk_case {
    const char* name;
    std::vector<u16> types;
    byte_array payload;
    i32 used;
    std::vector<u64> keys;  // offsets of the fields made
  };
  const byte_array twelve(12, 0x41);
  const walk_case cases[] = {
      // the blob's marker sorts before the field guessing puts at its offset
      {"BlobOfUnknownLength", {8, 14, 8}, twelve, 4, {0, 4}},
      // ...and after a 1-byte field just before it: both are kept
      {"BlobAfterOneByte", {3, 14}, twelve, 1, {0, 1}},
      {"BlobAfterEmptyAnsi", {2, 14}, byte_array{0, 'a', 'b', 'c', 'd'}, 1, {0, 1}},
      {"Utf16WithOneByteLeft", {8, 1}, cut_short(twelve, 5), 4, {0}},
      {"CountWithOneByteLeft", {8, 22}, cut_short(twelve, 5), 4, {0}},
      // bytes that do not fit end the walk unused: guessing shows them
      {"CountPastThePayload", {22}, byte_array{10, 0, 'a', 0}, 0, {}},
      {"GuidPastThePayload", {8, 15}, cut_short(twelve, 10), 4, {0}},
      {"NumberPastThePayload", {8, 10}, cut_short(twelve, 8), 4, {0}},
      {"UnknownWord", {8, 99, 8}, twelve, 4, {0}},
      // an extension word of a class the walk does not know uses no bytes
      {"ExtensionWord", {8, 0x1008, 8}, twelve, 8, {0, 4}},
      {"WordOfOnlyBits8To11", {8, 0x0300, 8}, twelve, 4, {0}},
      {"ZeroWord", {8, 0, 8}, twelve, 4, {0}},
      {"NotASid", {19, 8}, twelve, 0, {}},
      {"AnsiWithoutTerminator", {2}, byte_array{'a', 'b', 'c'}, 3, {0}},
      {"SlotPastThePayload", {145}, byte_array{'a', 0, 'b', 0}, 6, {0}},
      {"CommentOnEmptyPayload", {0x8000, 8}, {}, 0, {0}},
      {"EmptySlot", {145, 8}, byte_array(10, 0), 10, {0, 6}},
  };
  for (const walk_case& c : cases) {
    SCOPED_TRACE(c.name);
    field_map map;
    EXPECT_EQ(apply_template(make_template(c.types), map, c.payload, base, true, scratch), c.used);
    std::vector<u64> keys;
    for (const auto& [key, f] : map) keys.push_back(key.offset - base);
    EXPECT_EQ(keys, c.keys);
    // an empty text slot shows as "-", not as its zero bytes
    if (std::string(c.name) == "EmptySlot") {
      EXPECT_EQ(map.at(base).value, "-");
    }
  }
}

TEST(DecodePayload, TemplateLookupAndTrust) {
  decode_scratch scratch;
  const guid provider = guid_of("e13c0d23-ccbc-4e12-931b-d9cc2eee27e4");
  template_db db;
  template_rec& rec = db.records.emplace_back();
  rec.provider = provider;
  rec.ids = {1};
  rec.types = {8, 8};
  rec.names = {"A", "B"};
  template_map map;
  ASSERT_TRUE(compile_templates(db, map, 0));
  const byte_array payload = {1, 0, 0, 0, 2, 0, 0, 0};
  field_map fields;
  u8 guessed = 7;
  EXPECT_TRUE(
      decode_payload(fields, base, &provider, 1, payload, &map, true, true, guessed, scratch));
  EXPECT_EQ(guessed, 0);
  EXPECT_EQ(fields.at(base + 4).number, 2u);
  // no provider, no map, no template for the id, a template whose names do
  // not pair with its type words: the bytes are guessed instead
  const template_map* maps[] = {&map, nullptr, &map, &map};
  const guid* providers[] = {nullptr, &provider, &provider, &provider};
  const u16 ids[] = {1, 1, 2, 1};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    if (i == 3) map.templates[0].names.pop_back();
    field_map g;
    guessed = 7;
    EXPECT_TRUE(decode_payload(g, base, providers[i], ids[i], payload, maps[i], true, false,
                               guessed, scratch));
    EXPECT_EQ(guessed, 1);
    ASSERT_EQ(g.size(), 2u);
    EXPECT_EQ(g.at(base).name, "guess_uint32");
  }
  // an empty payload: nothing, and the map and the flag stay as they were
  guessed = 7;
  EXPECT_FALSE(decode_payload(fields, base, &provider, 1, {}, &map, true, true, guessed, scratch));
  EXPECT_EQ(guessed, 7);
  EXPECT_EQ(fields.size(), 2u);
}

}  // namespace
