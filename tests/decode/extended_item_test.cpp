#include "decode/extended_item.hpp"

#include <gtest/gtest.h>

#include "decode/template_map.hpp"
#include "etl/trace_processor.hpp"
#include "support/log_builder.hpp"

using namespace logbuild;

namespace {

const byte_array guid_bytes = {0x23, 0x0d, 0x3c, 0xe1, 0xbc, 0xcc, 0x12, 0x4e,
                               0x93, 0x1b, 0xd9, 0xcc, 0x2e, 0xee, 0x27, 0xe4};
const char* const guid_text = "e13c0d23-ccbc-4e12-931b-d9cc2eee27e4";

// Provider traits: u16 total size, then the name and the traits.
byte_array traits(const byte_array& rest) {
  return join({{static_cast<u8>(rest.size() + 2), 0}, rest});
}

TEST(ExtendedItem, EachTypeYieldsItsField) {
  struct row {
    const char* name;
    u16 type;
    byte_array data;
    const char* field;  // "" when the item yields no field
    u64 number;
    std::string value;
    u32 size;
  };
  const byte_array sid = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};  // S-1-5-32-544
  const row rows[] = {
      {"ActivityGuid", 1, guid_bytes, "guid", 0, guid_text, 16},
      {"ActivityGuidCut", 1, byte_array(guid_bytes.begin(), guid_bytes.end() - 1), "", 0, "", 0},
      {"Sid", 2, sid, "sid", 0, "S-1-5-32-544", 16},
      // two sub-authorities stated, one held: the SID does not fit the item
      {"SidLongerThanItsItem", 2, byte_array(sid.begin(), sid.end() - 4), "", 0, "", 0},
      {"SessionId", 3, {0x2A, 0, 0, 0}, "value", 0x2A, "", 4},
      {"SessionIdCut", 3, {0x2A, 0, 0}, "", 0, "", 0},
      {"EventKey", 10, {1, 2, 3, 4, 5, 6, 7, 8}, "value", 0x0807060504030201ull, "", 8},
      {"EventKeyCut", 10, {1, 2, 3, 4, 5, 6, 7}, "", 0, "", 0},
      {"ProcessStartKey", 13, {9, 0, 0, 0, 0, 0, 0, 1}, "value", 0x0100000000000009ull, "", 8},
      {"TraitsNarrowName", 12, traits({'P', 'r', 'o', 'v', 0, 19, 0, 1}), "utf8", 0, "Prov", 4},
      // the name's NUL is missing: the name ends with the item's data
      {"TraitsNameWithoutNul", 12, traits({'P', 'r'}), "utf8", 0, "Pr", 2},
      {"TraitsUtf16Name", 12, traits({'P', 0, 'q', 0, 0, 0}), "utf16", 0, "Pq", 6},
      {"TraitsGroupGuid", 12, traits(join({{0, 19, 0, 1}, guid_bytes})), "guid", 0, guid_text, 16},
      {"TraitsGroupGuidCut", 12, traits(join({{0, 19, 0, 1}, byte_array(15, 1)})), "", 0, "", 0},
      {"TraitsFiveByteTrait", 12, traits({0, 5, 0, 2, 7, 7}), "", 0, "", 0},
      {"TraitsEmpty", 12, {}, "", 0, "", 0},
      // a stack trace yields nothing, but the walk steps over it
      {"StackTrace", 6, byte_array(24, 0xEE), "", 0, "", 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    const byte_array item = build_ext_items({{.type = r.type, .data = r.data}});
    event_template schema;
    field_rec f;
    bool linked = true;
    EXPECT_EQ(decode_extended_item(schema, f, linked, bytes_of(item)), item.size());
    EXPECT_FALSE(linked);
    EXPECT_EQ(f.name, r.field);
    EXPECT_EQ(f.number, r.number);
    EXPECT_EQ(f.value, r.value);
    EXPECT_EQ(f.size, r.size);
    EXPECT_EQ(f.in_type, f.size != 0 ? r.type : 0);
    EXPECT_TRUE(schema.types.empty());
    // every cut of the item, in a buffer of exactly that size, is no item
    for (u64 n = 0; n < item.size(); ++n) {
      const byte_array cut = cut_short(item, n);
      EXPECT_EQ(decode_extended_item(schema, f, linked, bytes_of(cut)), 0u) << n;
      EXPECT_EQ(f.size, 0u);
      EXPECT_FALSE(linked);
    }
  }
  // the link field is taken from the item; the activity GUID keeps its bytes
  const byte_array two = build_ext_items({{.type = 1, .data = guid_bytes}, {}});
  event_template schema;
  field_rec f;
  bool linked = false;
  EXPECT_EQ(decode_extended_item(schema, f, linked, bytes_of(two)), 24u);
  EXPECT_TRUE(linked);
  EXPECT_EQ(f.bytes, guid_bytes);
  // a data size above the item is refused
  byte_array bad = build_ext_items({{.type = 3}});
  set_u16(bad, 6, 9);
  EXPECT_EQ(decode_extended_item(schema, f, linked, bytes_of(bad)), 0u);
}

struct schema_row {
  const char* name;
  byte_array tags;
  std::vector<schema_field_bytes> fields;
  std::vector<u16> types;  // the template's words after the leading 0x8001
  std::vector<std::string> names;
};

const std::vector<schema_row>& schema_rows() {
  static const std::vector<schema_row> rows = {
      {"SingleByteTypes", {0}, {{"a", {0x08}}, {"b", {0x01}}}, {8, 1}, {"a", "b"}},
      // tag bytes end with the first byte whose bit 7 is clear, even when it
      // is not 0
      {"FinalTagByteNotZero", {0x81, 0x05}, {{"a", {0x08}}}, {8}, {"a"}},
      // in-type with bit 7: an out-type follows; out-type with bit 7: tags
      {"OutTypeAndFieldTags", {0}, {{"a", {0x84, 0x83, 0x80, 0x01}}, {"b", {0x07}}}, {4, 7},
       {"a", "b"}},
      // a constant-count array states its count after the type bytes
      {"ConstantCountArray", {0}, {{"a", {0x28, 0x03, 0x00}}, {"b", {0x04}}}, {8, 8, 8, 4},
       {"a[0]", "a[1]", "a[2]", "b"}},
      {"VariableCountArrays", {0}, {{"a", {0x44}}, {"b", {0x48}}, {"c", {0x41}}},
       {6, 0xa184, 6, 0xa188, 6, 0xa181},
       {"a_count", "a", "b_count", "b", "c_count", "c"}},
      {"CountedTextsAndBlobs", {0}, {{"t", {0x17}}, {"b", {0x0e}}, {"w", {0x16}}},
       {6, 0xa102, 6, 0xa184, 22}, {"t_length", "t", "b_length", "b", "w"}},
      // a custom layout's description is skipped; its bytes follow a length
      {"CustomLayout", {0}, {{"c", {0x64, 0x02, 0x00, 0xAA, 0xBB}}, {"d", {0x08}}},
       {6, 0xa184, 8}, {"c_length", "c", "d"}},
      // a structure (type 24) holds the next out-type's count of fields
      {"Structure", {0}, {{"s", {0x98, 0x02}}, {"x", {0x08}}, {"y", {0x04}}, {"z", {0x06}}},
       {8, 4, 6}, {"x", "y", "z"}},
      {"StructureArray", {0},
       {{"s", {0xb8, 0x02, 0x02, 0x00}}, {"x", {0x08}}, {"y", {0x04}}, {"z", {0x06}}},
       {8, 4, 8, 4, 6}, {"x[0]", "y[0]", "x[1]", "y[1]", "z"}},
      // the inner array unrolls inside each outer element, named by its own index
      {"NestedStructureArrays", {0},
       {{"s", {0xb8, 0x01, 0x02, 0x00}}, {"t", {0xb8, 0x01, 0x03, 0x00}}, {"x", {0x04}},
        {"z", {0x08}}},
       {4, 4, 4, 4, 4, 4, 8}, {"x[0]", "x[1]", "x[2]", "x[0]", "x[1]", "x[2]", "z"}},
      // arrays of empty structures add nothing, however many and deep: the
      // repetition ends with the first element, and the next field follows
      {"TwoLevelsOfEmptyStructureArrays", {0},
       {{"s", {0xb8, 0x01, 0xff, 0xff}}, {"t", {0xb8, 0x01, 0xff, 0xff}}, {"u", {0x98, 0x00}},
        {"z", {0x08}}},
       {8}, {"z"}},
      {"ThreeLevelsOfEmptyStructureArrays", {0},
       {{"s", {0xb8, 0x01, 0xff, 0xff}}, {"t", {0xb8, 0x01, 0xff, 0xff}},
        {"u", {0xb8, 0x01, 0xff, 0xff}}, {"v", {0x98, 0x00}}, {"z", {0x08}}},
       {8}, {"z"}},
      {"EmptyStructureArrayInsideARealOne", {0},
       {{"s", {0xb8, 0x02, 0x02, 0x00}}, {"e", {0xb8, 0x00, 0xff, 0xff}}, {"x", {0x04}}},
       {4, 4}, {"x[0]", "x[1]"}},
      // what the words cannot express ends the template: the rest is guessed
      {"VariableStructureArrayStops", {0}, {{"s", {0xd8, 0x01}}, {"x", {0x08}}, {"z", {0x06}}},
       {}, {}},
      {"SixteenBitArrayStops", {0}, {{"a", {0x08}}, {"b", {0x46}}, {"c", {0x08}}}, {8}, {"a"}},
      {"NullTypeStops", {0}, {{"a", {0x00}}, {"b", {0x08}}}, {}, {}},
      // a line break in a name cannot split the row
      {"NameWithLineBreak", {0}, {{"a\nb", {0x08}}}, {8}, {"a[LF]b"}},
  };
  return rows;
}

TEST(SchemaItem, TypeWordsFromTheSchema) {
  for (const schema_row& r : schema_rows()) {
    SCOPED_TRACE(r.name);
    const byte_array data = build_schema(r.tags, "Ev", r.fields);
    const byte_array item = build_ext_items({{.type = 11, .data = data}});
    event_template t;
    bool linked = true;
    EXPECT_EQ(build_template_from_schema(t, linked, bytes_of(item), false), 8 + data.size());
    EXPECT_FALSE(linked);
    std::vector<u16> types = {0x8001};
    types.insert(types.end(), r.types.begin(), r.types.end());
    std::vector<std::string> names = {"Ev"};
    names.insert(names.end(), r.names.begin(), r.names.end());
    EXPECT_EQ(t.types, types);
    EXPECT_EQ(t.names, names);
    EXPECT_FALSE(t.signature.empty());
    // the schema's data cut at every length: the words are a prefix of the
    // whole schema's, and nothing is read past the item
    for (u64 n = 0; n < data.size(); ++n) {
      const byte_array cut = build_ext_items({{.type = 11, .data = cut_short(data, n)}});
      event_template c;
      EXPECT_LE(build_template_from_schema(c, linked, bytes_of(cut), false), 8 + n) << n;
      ASSERT_LE(c.types.size(), types.size()) << n;
      EXPECT_TRUE(std::equal(c.types.begin(), c.types.end(), types.begin())) << n;
    }
  }
}

// Schemas whose counts would cost without bound stop at one of the limits:
// 4096 type words, a budget of steps (every field visit and element
// repetition) and 1 MiB of name text; what the words hold is a prefix.
TEST(SchemaItem, CostStaysBounded) {
  std::vector<schema_field_bytes> empty_members = {{"s", {0xb8, 127, 0xff, 0xff}}};
  for (int m = 0; m < 126; ++m) empty_members.push_back({"e", {0x98, 0x00}});
  empty_members.push_back({"x", {0x04}});
  struct row {
    const char* name;
    std::vector<schema_field_bytes> fields;
    std::size_t min_words;  // with the leading 0x8001
    std::size_t max_words;
  };
  const row rows[] = {
      {"NestedArraysStopAtTheWordLimit",
       {{"s", {0xb8, 0x01, 0xff, 0xff}}, {"t", {0xb8, 0x01, 0xff, 0xff}}, {"x", {0x04}}},
       4096, 4096},
      // each element adds one word but visits 126 empty structures first
      {"EmptyMembersSpendTheSteps", empty_members, 2, 1024},
      // every element's word repeats the 60000-byte name
      {"LongNameStopsAtTheNameBytes", {{std::string(60000, 'n'), {0x24, 0x00, 0x10}}}, 2, 64},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    const byte_array item =
        build_ext_items({{.type = 11, .data = build_schema({0}, "Ev", r.fields)}});
    event_template t;
    bool linked = false;
    (void)build_template_from_schema(t, linked, bytes_of(item), false);
    EXPECT_GE(t.types.size(), r.min_words);
    EXPECT_LE(t.types.size(), r.max_words);
    std::size_t name_bytes = 0;
    for (const std::string& n : t.names) name_bytes += n.size();
    EXPECT_LE(name_bytes, std::size_t{1} << 20);
    EXPECT_EQ(t.types[1], 4);
  }
}

TEST(SchemaItem, BoundsAndSchemaThroughTheItemDecoder) {
  // a constant count of 65535 bytes stops at the word limit
  const byte_array huge = build_schema({0}, "Ev", {{"a", {0x24, 0xff, 0xff}}});
  const byte_array item = build_ext_items({{.type = 11, .data = huge}});
  event_template t;
  bool linked = false;
  (void)build_template_from_schema(t, linked, bytes_of(item), false);
  EXPECT_EQ(t.types.size(), 4096u);
  // keep adds to what the template held; without it a later item replaces it
  (void)build_template_from_schema(t, linked, bytes_of(item), true);
  EXPECT_EQ(t.types.size(), 4096u + 1u);
  // not a schema item
  const byte_array other = build_ext_items({{.type = 3}});
  EXPECT_EQ(build_template_from_schema(t, linked, bytes_of(other), false), 0u);
  EXPECT_TRUE(t.types.empty());
  // the item decoder hands a schema item to the template and yields no field
  const byte_array schema_item =
      build_ext_items({{.type = 11, .data = build_schema({0}, "Ev", {{"a", {0x08}}})}});
  field_rec f;
  EXPECT_EQ(decode_extended_item(t, f, linked, bytes_of(schema_item)), schema_item.size());
  EXPECT_EQ(f.size, 0u);
  EXPECT_EQ(t.types, (std::vector<u16>{0x8001, 8}));
}

// The item walk of a record: the last schema item it reaches names the
// payload's fields, and the walk ends where the links or the items end.
TEST(SchemaItem, LastSchemaItemOfTheWalkDecodesThePayload) {
  const ext_item_fields a = {.type = 11, .data = build_schema({0}, "A", {{"a", {0x04}}})};
  const ext_item_fields b = {.type = 11, .data = build_schema({0}, "B", {{"b", {0x04}}})};
  const ext_item_fields session = {.type = 3, .data = {0x2A, 0, 0, 0}};
  struct row {
    const char* name;
    std::vector<ext_item_fields> items;
    u64 unlink_at;  // offset of a link field to clear, 0 for none
    u64 damage_at;  // offset of a type field to damage, 0 for none
    const char* field;
  };
  const row rows[] = {
      {"LaterSchemaReplaces", {a, b}, 0, 0, "b"},
      {"ItemBetweenTheSchemas", {a, session, b}, 0, 0, "b"},
      {"LinksEndBeforeTheLaterSchema", {a, b}, 4, 0, "a"},
      {"DamagedItemEndsTheWalk", {a, session, b}, 0, build_ext_items({a}).size() + 2, "a"},
      {"SchemaAfterTheLast", {session, b}, 0, 0, "b"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    byte_array items = build_ext_items(r.items);
    if (r.unlink_at != 0) set_u16(items, r.unlink_at, 0);
    if (r.damage_at != 0) set_u16(items, r.damage_at, 99);
    const byte_array payload = {0x11, 0x22, 0x33, 0x44};
    trace_processor tp;
    field_map map;
    EXPECT_EQ(tp.decode_extended_items(map, bytes_of(items), bytes_of(payload), true, 0x1000),
              1u);
    const auto it = map.find(0x1000 + items.size());
    ASSERT_NE(it, map.end());
    EXPECT_EQ(it->second.name, r.field);
    EXPECT_EQ(it->second.number, 0x11u);
  }
}

// ---- the item headers ----

TEST(ExtItem, HeaderBoundaries) {
  struct row {
    const char* name;
    u16 size;       // u16 at 0
    u16 type;       // u16 at 2
    u16 data_size;  // u16 at 6
    u64 held;
    bool pass;
  };
  const row rows[] = {
      {"Type3Data4", 16, 3, 4, 16, true},
      {"DataFillsItem", 16, 3, 8, 16, true},
      {"DataOneBeyondItem", 16, 3, 9, 16, false},
      {"DataSizeEqualsItemSize", 16, 3, 16, 16, false},
      {"SizeBeyondHeld", 24, 3, 4, 16, false},
      {"SizeBelowHeader", 7, 3, 0, 16, false},
      {"SizeZero", 0, 3, 0, 16, false},
      {"HeaderOnly", 8, 3, 0, 8, true},
      {"SevenHeld", 8, 3, 0, 7, false},
      // a stack-trace item yields no field but is stepped over like any other
      {"StackTraceType6", 16, 6, 4, 16, true},
      {"UnknownType0", 16, 0, 4, 16, false},
      {"UnknownType19", 16, 19, 4, 16, false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    writer w;
    w.put_u16(r.size).put_u16(r.type).put_u16(0).put_u16(r.data_size).pad_to(24);
    const byte_array item = cut_short(w.bytes(), r.held);
    EXPECT_EQ(is_ext_item_header(bytes_of(item)), r.pass);
  }
}

TEST(ExtItem, EveryKnownType) {
  for (const ext_item_type_row& t : ext_item_types) {
    SCOPED_TRACE(t.name);
    const byte_array item = build_ext_items({{.type = t.type}});
    EXPECT_TRUE(is_ext_item_header(bytes_of(item)));
    EXPECT_EQ(is_ext_item_schema(bytes_of(item)), t.type == 11);
  }
}

TEST(ExtItem, LinkAndCuts) {
  // two items: a linked type-3 item (16 bytes) then a type-11 item
  const byte_array items = build_ext_items({{.type = 3}, {.type = 11, .data = byte_array(5, 0x41)}});
  ASSERT_EQ(items.size(), 32u);
  const std::span<const u8> all(items);
  EXPECT_TRUE(ext_item_is_linked(all));
  EXPECT_FALSE(ext_item_is_linked(all.subspan(16)));
  EXPECT_TRUE(is_ext_item_schema(all.subspan(16)));
  for (u64 n = 0; n <= 16; ++n) {
    const byte_array cut = cut_short(items, n);
    EXPECT_EQ(is_ext_item_header(bytes_of(cut)), n == 16) << n;
    EXPECT_EQ(ext_item_is_linked(bytes_of(cut)), n >= 6) << n;
    EXPECT_FALSE(is_ext_item_schema(bytes_of(cut))) << n;
  }
}

}  // namespace
