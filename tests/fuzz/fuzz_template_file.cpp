// Fuzz entry: the -templates text reader over any bytes (written to a file
// of this process, as the reader takes a path), under a small store bound so
// that the bound's refusal is reached too; then what it read is compiled and
// every event id a record names is looked up, without and with each class
// version its selectors name.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "decode/template_db.hpp"
#include "decode/template_map.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/vesk-fuzz-templates-" + std::to_string(::getpid()) + ".txt";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  const bool written = size == 0 || std::fwrite(data, 1, size, f) == size;
  std::fclose(f);
  if (!written) return 0;
  template_db db;
  const bool parsed = db.parse_file(path, u64{1} << 20);
  std::remove(path.c_str());
  if (!parsed) return 0;
  template_map map;
  (void)compile_templates(db, map, 0);
  for (const template_rec& rec : db.records) {
    for (const u16 id : rec.ids) (void)map.find(&rec.provider, id);
    for (const u64 selector : rec.selectors) {
      map.selector = static_cast<u32>(selector);
      const u16 version = static_cast<u16>(selector - class_version_base);
      (void)map.find(&rec.provider, rec.first_id, version);
      (void)map.find(&rec.provider, rec.last_id, version);
    }
  }
  return 0;
}
