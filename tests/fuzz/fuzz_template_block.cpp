// Fuzz entry: the template block reader and the compilation of what it
// read, then a lookup of every event id a record names.
#include <cstddef>
#include <cstdint>
#include <span>

#include "decode/template_db.hpp"
#include "decode/template_map.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  template_db db;
  if (!db.parse_block(std::span<const u8>(data, size))) return 0;
  template_map map;
  (void)compile_templates(db, map, 0);
  for (const template_rec& rec : db.records) {
    for (const u16 id : rec.ids) (void)map.find(&rec.provider, id);
    (void)map.find(&rec.provider, rec.first_id);
  }
  return 0;
}
