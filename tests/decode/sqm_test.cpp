#include "decode/sqm.hpp"

#include <gtest/gtest.h>

#include "common/zarn_number.hpp"
#include "support/log_builder.hpp"

using namespace logbuild;

namespace {

constexpr u64 base = 0x2000;

// "<offset> <name>=<value>/<size>/<in-type>": the value is the text, the
// bytes in hex, or the number in hex.
std::vector<std::string> fields_of(const field_map& map) {
  std::vector<std::string> out;
  for (const auto& [key, f] : map) {
    std::string value = f.value;
    if (value.empty() && !f.bytes.empty()) {
      for (const u8 b : f.bytes) value += hex_digits(b, 2);
    } else if (value.empty()) {
      value = "0x" + hex_digits(f.number, 1);
    }
    out.push_back(std::to_string(key.offset - base) + " " + f.name + "=" + value + "/" +
                  std::to_string(f.size) + "/" + std::to_string(f.in_type));
    EXPECT_EQ(f.element_flag, 1);
  }
  return out;
}

// The record's head: session GUID, id 0x51, type, value 0x77.
byte_array head(u32 type) {
  writer w;
  w.put_bytes(byte_array(16, 0xAB));  //  0 session GUID
  w.put_u32(0x51);                    // 16 datapoint id
  w.put_u32(type);                    // 20 datapoint type
  w.put_u32(0x77);                    // 24 value
  return w.take();
}
const std::string guid_field = "0 SqmSessionGuid=abababab-abab-abab-abab-abababababab/16/15";

TEST(Sqm, RecordsAndTails) {
  struct row {
    const char* name;
    byte_array bytes;
    std::vector<std::string> fields;  // after the GUID
  };
  const byte_array ab = writer().put_utf16(u"ab").take();
  const row rows[] = {
      {"IdOnly", cut_short(head(5), 20), {"16 SqmID=0x51/4/8"}},
      {"DwordType5", head(5), {"16 SqmID=0x51/4/8", "20 SqmType=0x5/4/8",
                                "24 SqmDWORDDatapointValue=0x77/4/8"}},
      {"OtherTypePassesTheValueOver", head(7), {"16 SqmID=0x51/4/8", "20 SqmType=0x7/4/8"}},
      // first tag 2, length 0: the text to its NUL, which it covers
      {"FirstTagText", join({head(7), writer().put_u32(2).put_u32(0).take(), ab}),
       {"16 SqmID=0x51/4/8", "20 SqmType=0x7/4/8", "36 utf16=ab/6/1"}},
      // first tag 1 and 3: one raw 8-byte value, then tagged entries
      {"FirstTagRawThenText",
       join({head(7), writer().put_u32(1).put_u64(0x1122334455667788).put_u32(2).take(), ab,
             byte_array(6, 0)}),
       {"16 SqmID=0x51/4/8", "20 SqmType=0x7/4/8", "32 =8877665544332211/8/4",
        "44 utf16=ab/6/1"}},
      {"FirstTagRaw10", join({head(7), writer().put_u32(3).put_u64(1).take()}),
       {"16 SqmID=0x51/4/8", "20 SqmType=0x7/4/8", "32 =0100000000000000/8/10"}},
      // after a first tag 1, 2 or 3 a tag 0 is passed over
      {"ValueTailPassesZeroOver",
       join({head(7), writer().put_u32(3).put_u64(1).put_u32(0).put_u32(1).put_u64(2).take()}),
       {"16 SqmID=0x51/4/8", "20 SqmType=0x7/4/8", "32 =0100000000000000/8/10",
        "48 =0200000000000000/8/4"}},
      // after a first tag 0 the lengths count 8 bytes of header: 20 is a
      // 12-byte run; a tag 0 then ends the tail
      {"RunsTail",
       join({head(7), writer().put_u32(0).put_u32(1).put_u32(20).take(), byte_array(12, 0xCD),
             writer().put_u32(0).put_u32(1).put_u32(9).put_u32(0).take()}),
       {"16 SqmID=0x51/4/8", "20 SqmType=0x7/4/8", "40 =cdcdcdcdcdcdcdcdcdcdcdcd/12/4"}},
      // a text longer than the bytes left is passed over after its length
      {"RunsTailLongTextPassedOver",
       join({head(7), writer().put_u32(0).put_u32(2).put_u32(200).put_u32(2).put_u32(14).take(),
             ab, byte_array(6, 0)}),
       {"16 SqmID=0x51/4/8", "20 SqmType=0x7/4/8", "48 utf16=ab/6/1"}},
      // a run longer than the bytes left ends the tail
      {"RunsTailLongRunEnds",
       join({head(7), writer().put_u32(0).put_u32(1).put_u32(200).take(), byte_array(16, 1)}),
       {"16 SqmID=0x51/4/8", "20 SqmType=0x7/4/8"}},
      // fewer than 12 bytes after an entry end the tail, whatever they hold
      {"ShortRestEndsTail",
       join({head(7), writer().put_u32(1).put_u64(5).put_u32(1).put_u32(0).take()}),
       {"16 SqmID=0x51/4/8", "20 SqmType=0x7/4/8", "32 =0500000000000000/8/4"}},
      // a first text whose length runs past the record ends it
      {"FirstTextPastTheRecord", join({head(7), writer().put_u32(2).put_u32(100).take(), ab}),
       {"16 SqmID=0x51/4/8", "20 SqmType=0x7/4/8"}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    field_map map;
    EXPECT_TRUE(decode_sqm(map, r.bytes, base));
    std::vector<std::string> expected = {guid_field};
    expected.insert(expected.end(), r.fields.begin(), r.fields.end());
    EXPECT_EQ(fields_of(map), expected);
    // every cut, in a buffer of exactly that size: no field past it
    for (u64 n = 0; n < r.bytes.size(); ++n) {
      field_map m;
      EXPECT_EQ(decode_sqm(m, cut_short(r.bytes, n), base), n >= 20) << n;
      for (const auto& [key, f] : m) EXPECT_LE(key.offset - base + f.size, n) << n;
    }
  }
}

}  // namespace
