// Fuzz entry: the template block reader and the compilation of what it
// read, then a lookup of every event id a record names, in the map compiled
// whole and in the map that takes the block lazily: the two must agree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "decode/template_db.hpp"
#include "decode/template_map.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  template_db db;
  if (!db.parse_block(std::span<const u8>(data, size))) return 0;
  template_map map;
  (void)compile_templates(db, map, 0);
  template_map lazy;
  if (!lazy.add_block(byte_array(data, data + size))) std::abort();
  const auto same = [&](const guid& provider, u16 id) {
    const event_template* a = map.find(&provider, id);
    const event_template* b = lazy.find(&provider, id);
    if ((a == nullptr) != (b == nullptr) || (a != nullptr && a->signature != b->signature)) {
      std::abort();
    }
  };
  for (const template_rec& rec : db.records) {
    for (const u16 id : rec.ids) same(rec.provider, id);
    same(rec.provider, rec.first_id);
    same(rec.provider, rec.last_id);
    if (map.provider_name(rec.provider.bytes) != lazy.provider_name(rec.provider.bytes)) std::abort();
  }
  return 0;
}
