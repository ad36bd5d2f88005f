// Fuzz entry: an event's extended-data items and the payload after them. The
// input is what follows an event header: the items, walked as the record
// walk walks them, then the payload, which a schema item's template decodes.
// Each input is decoded with 8-byte and with 4-byte pointers.
#include <cstddef>
#include <cstdint>
#include <span>

#include "decode/field_map.hpp"
#include "etl/trace_processor.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const u8> bytes(data, size);
  const u64 items_end = skip_extended_items(bytes, 0);
  trace_processor tp;
  for (const bool pointer64 : {true, false}) {
    field_map map;
    (void)tp.decode_extended_items(map, bytes.first(items_end), bytes.subspan(items_end),
                                   pointer64, 0x1000);
  }
  return 0;
}
