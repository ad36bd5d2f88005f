#include "decode/guess.hpp"

#include <gtest/gtest.h>

#include "common/zarn_number.hpp"
#include "decode/decode_payload.hpp"
#include "decode/decode_scratch.hpp"
#include "decode/template_db.hpp"
#include "decode/template_map.hpp"
#include "support/log_builder.hpp"

using namespace logbuild;

namespace {

constexpr u64 base = 0x2000;  // file offset of the first guessed byte
constexpr u64 day = 864000000000ull;

// Guessing under a clock of 2020-01-01; the real clock is back afterwards.
struct fixed_clock {
  explicit fixed_clock(u64 now = ft_2020) { set_guess_clock(now); }
  ~fixed_clock() { set_guess_clock(0); }
};

// One "offset name in-type size 0xnumber[ value][ bytes]" line per field.
std::vector<std::string> rows(const field_map& map) {
  std::vector<std::string> out;
  for (const auto& [key, f] : map) {
    std::string r = std::to_string(key.offset - base) + " " + f.name + " " + std::to_string(f.in_type) +
                    " " + std::to_string(f.size) + " 0x" + hex_digits(f.number, 1);
    if (!f.value.empty()) r += " " + f.value;
    if (!f.bytes.empty()) r += " ";
    for (u8 b : f.bytes) r += hex_digits(b, 2);
    if (f.element_flag != 1 || f.high_byte != 0) r += " (not guessed)";
    out.push_back(r);
  }
  return out;
}

// Cut at every length into a buffer of exactly that size: no field reaches past the cut.
void expect_cuts_stay_inside(const byte_array& bytes) {
  decode_scratch scratch;
  for (u64 n = 0; n <= bytes.size(); ++n) {
    const byte_array cut = cut_short(bytes, n);
    field_map map, numbers;
    guess_fields(map, base, cut, false, scratch);
    guess_numbers(numbers, base, cut);
    map.merge(numbers);
    for (const auto& [key, f] : map) EXPECT_LE(key.offset - base + f.size, n) << n;
  }
}

byte_array u64_bytes(u64 v) { return writer().put_u64(v).take(); }
byte_array utf16(std::u16string_view s, bool z) { return writer().put_utf16(s, z).take(); }

TEST(GuessFields, FieldSequences) {
  const fixed_clock clock;
  const byte_array st = {0xe4, 0x07, 1, 0, 3, 0, 1, 0, 12, 0, 30, 0, 15, 0, 0xfa, 0};
  const byte_array sid18 = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
  const byte_array sid_ab = {1, 1, 0, 0, 0, 0, 0, 5, 'A', 0, 'B', 0};  // S-1-5-4325441
  const byte_array sid28 = writer().put_bytes(byte_array{1, 5, 0, 0, 0, 0, 0, 5}).put_u32(21)
                               .put_u32(1).put_u32(2).put_u32(3).put_u32(1001).take();
  const struct {
    const char* name;
    byte_array bytes;
    std::vector<std::string> fields;
  } cases[] = {
      {"LowHalfAtMostFFFF", {0xFF, 0xFF, 0, 0, 0, 0xC1, 0xFF, 0xFF},
       {"0 guess_uint32 8 4 0xffff", "4 guess_uint32 8 4 0xffffc100"}},
      {"KernelValue", {0, 0, 1, 0, 0, 0xC1, 0xFF, 0xFF}, {"0 guess_uint64 21 8 0xffffc10000010000"}},
      {"FiletimeOfNow", join({u64_bytes(ft_2020), {7, 0, 0, 0}}),
       {"0 guess_filetime 17 8 0x1d5c03669050000", "8 guess_uint32 8 4 0x7"}},
      {"FiletimeTwentyYearsBack", u64_bytes(ft_2020 - 7305 * day),
       {"0 guess_uint32 8 4 0x256d4000", "4 guess_uint32 8 4 0x1bf53eb"}},
      {"SixBytes", {1, 0, 0, 0, 2, 0}, {"0 guess_uint32 8 4 0x1", "4 guess_uint16 6 2 0x2"}},
      {"SevenBytes", {1, 0, 0, 0, 2, 3, 4},
       {"0 guess_uint32 8 4 0x1", "4 guess_byte 4 1 0x2", "5 guess_byte 4 1 0x3",
        "6 guess_byte 4 1 0x4"}},
      {"Systemtime", join({st, {9, 0, 0, 0}}),
       {"0 guess_systime 18 16 0x10003000107e4 0x00fa000f001e000c00010003000107e4 "
        "[2020-01-01 12:30:15.250] e4070100030001000c001e000f00fa00",
        "16 guess_uint32 8 4 0x9"}},
      {"Utf16TextAndTerminator", join({utf16(u"Hello", true), {5, 0, 0, 0}}),
       {"0 guess_utf16 1 10 0x0 Hello", "12 guess_uint32 8 4 0x5"}},
      {"LineBreaksMarked", utf16(u"a\r\nb", true), {"0 guess_utf16 1 8 0x0 a[CRLF]b"}},
      {"LowerThenUpperDropped", {'a', 'B', 'c', 'd', 0, 0, 0, 0},
       {"0 guess_uint32 8 4 0x64634261", "4 guess_uint32 8 4 0x0"}},
      {"LowerThenDigitDropped", {'a', '1', 'c', 'd', 0, 0, 0, 0},
       {"0 guess_uint32 8 4 0x64633161", "4 guess_uint32 8 4 0x0"}},
      {"FourLowerKept", {'a', 'b', 'c', 'd', 0, 1, 2, 3},
       {"0 guess_ascii 2 4 0x0 abcd", "5 guess_byte 4 1 0x1", "6 guess_byte 4 1 0x2",
        "7 guess_byte 4 1 0x3"}},
      {"SixCharactersKept", {'a', 'B', 'c', 'd', 'e', 'f', 0, 0},
       {"0 guess_ascii 2 6 0x0 aBcdef", "7 guess_byte 4 1 0x0"}},
      // after a removal the first candidate left is not looked at
      {"SecondStrayTextKept", {'a', 'B', 'c', 'd', 0, 0, 'x', 'Y', 'z', 'w', 0, 0},
       {"0 guess_uint32 8 4 0x64634261", "4 guess_uint16 6 2 0x0", "6 guess_ascii 2 4 0x0 xYzw",
        "11 guess_byte 4 1 0x0"}},
      // the 8-bit run takes the "B"; the rest is stored where the run ended
      {"AsciiRunIntoUtf16Text", {'x', 'y', 'z', 'A', 'B', 0, 'C', 0, 'D', 0, 0, 0},
       {"0 guess_ascii 2 5 0x0 xyzAB", "6 guess_utf16 1 4 0x0 CD"}},
      // ...and a text of one character left keeps it: it starts after the "B"
      {"AsciiRunIntoShortUtf16Text", {'x', 'y', 'z', 'A', 'B', 0, 'C', 0, 0, 0, 9, 0, 0, 0},
       {"0 guess_ascii 2 5 0x0 xyzAB", "6 guess_utf16 1 2 0x0 C", "10 guess_uint32 8 4 0x9"}},
      {"WellKnownSid", join({{3, 0, 0, 0}, sid18, {3, 0, 0, 0}}),
       {"0 guess_uint32 8 4 0x3", "4 guess_sid 19 12 0x0 S-1-5-18", "16 guess_uint32 8 4 0x3"}},
      {"DomainSid", sid28, {"0 guess_sid 19 28 0x0 S-1-5-21-1-2-3-1001"}},
      // sub-authorities that read as text: skipped wholly inside the SID,
      // else stored where it ends, cut at the last byte
      {"TextInsideSid", join({sid_ab, {5, 0, 0, 0}}),
       {"0 guess_sid 19 12 0x0 S-1-5-4325441", "12 guess_uint32 8 4 0x5"}},
      {"TextOutOfSid", join({sid_ab, utf16(u"CD", false)}),
       {"0 guess_sid 19 12 0x0 S-1-5-4325441", "12 guess_utf16 1 4 0x0 ABCD"}},
  };
  decode_scratch scratch;  // one for every case, as for the events of a run
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    field_map map = {{0, field_rec{}}};  // emptied: keep is false
    guess_fields(map, base, c.bytes, false, scratch);
    EXPECT_EQ(rows(map), c.fields);
    expect_cuts_stay_inside(c.bytes);
  }
}

// From 3650 days before the clock to 730 days after it, both ends left out.
TEST(GuessFields, ClockPlacesTheTimeWindow) {
  const std::pair<u64, const char*> cases[] = {{ft_2020 + 3650 * day, "guess_uint32"},
                                               {ft_2020 + 3650 * day - 1, "guess_filetime"},
                                               {ft_2020 - 730 * day, "guess_uint32"},
                                               {ft_2020 - 730 * day + 1, "guess_filetime"}};
  for (const auto& [now, name] : cases) {
    const fixed_clock clock(now);
    field_map map;
    guess_numbers(map, base, u64_bytes(ft_2020));
    EXPECT_EQ(map.begin()->second.name, name) << now;
  }
}

TEST(GuessFields, HeldFieldsStayAndShortBytesMakeNothing) {
  field_map map = {{base, field_rec{}}};
  decode_scratch scratch;
  guess_fields(map, base, byte_array{1, 0, 0, 0, 2, 0, 0, 0}, true, scratch);
  EXPECT_EQ(rows(map), (std::vector<std::string>{"0  0 0 0x0 (not guessed)", "4 guess_uint32 8 4 0x2"}));
  guess_fields(map, base, byte_array{1, 2, 3}, false, scratch);
  EXPECT_TRUE(map.empty());
}

TEST(DecodePayload, GuessesWhatNoTemplateCovers) {
  const guid provider = guid_of("e13c0d23-ccbc-4e12-931b-d9cc2eee27e4");
  template_db db;
  const std::pair<u16, u16> words[] = {{1, 8}, {2, 145}};  // event id, type: a u32; a 6-byte slot
  for (const auto& [id, type] : words) {
    template_rec& rec = db.records.emplace_back();
    rec.provider = provider;
    rec.ids = {id};
    rec.types = {type};
    rec.names = {"A"};
  }
  template_map templates;
  ASSERT_TRUE(compile_templates(db, templates, 0));
  const byte_array eight = {1, 0, 0, 0, 2, 0, 0, 0};
  const struct {
    const guid* provider;
    u16 id;
    byte_array payload;
    bool result;
    u8 guessed;
    std::vector<std::string> fields;
  } cases[] = {
      {nullptr, 1, cut_short(eight, 4), true, 1, {"0 guess_uint32 8 4 0x1"}},
      {nullptr, 1, cut_short(eight, 3), false, 7, {}},
      {&provider, 1, eight, true, 1, {"0 A 8 4 0x1 (not guessed)", "4 guess_uint32 8 4 0x2"}},
      {&provider, 1, cut_short(eight, 7), true, 0, {"0 A 8 4 0x1 (not guessed)"}},
      // the slot overruns the payload: nothing is left to guess
      {&provider, 2, {'a', 0, 'b', 0}, true, 0, {"0 A 145 6 0x0 ab (not guessed)"}},
  };
  decode_scratch scratch;
  for (const auto& c : cases) {
    field_map map;
    u8 guessed = 7;
    EXPECT_EQ(decode_payload(map, base, c.provider, c.id, c.payload, &templates, true, false,
                             guessed, scratch), c.result);
    EXPECT_EQ(guessed, c.guessed);
    EXPECT_EQ(rows(map), c.fields);
  }
}

}  // namespace
