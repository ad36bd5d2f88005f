// Fuzz entry: template application. The input is a template and a payload:
// u8 n, then n u16 type words (little-endian), then the payload. Each input
// is applied with 8-byte and with 4-byte pointers.
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/byte_reader.hpp"
#include "decode/apply_template.hpp"
#include "decode/decode_scratch.hpp"
#include "decode/template_map.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zarn::byte_reader r(std::span<const u8>(data, size));
  u8 count = 0;
  if (!r.read_u8(count)) return 0;
  event_template t;
  for (u8 i = 0; i < count; ++i) {
    u16 word = 0;
    if (!r.read_u16(word)) return 0;
    t.types.push_back(word);
  }
  t.finalize();
  decode_scratch scratch;
  for (const bool pointer64 : {true, false}) {
    field_map map;
    (void)apply_template(t, map, r.rest(), 0x1000, pointer64, scratch);
  }
  return 0;
}
