#include "decode/template_db.hpp"

#include <cstdio>

#include "common/byte_reader.hpp"
#include "common/zarn_bytes.hpp"
#include "platform/fileio.hpp"

// Linked with zeros; the build step writes the block's place behind the
// marker in the executable file.
__attribute__((used)) const volatile template_block_locator template_db_locator = {
    {'V', 'E', 'S', 'K', '_', 'T', 'E', 'M', 'P', 'L', 'A', 'T', 'E', '_', 'D', 'B'}, 0, 0};

namespace {

// A block shorter than this holds no table and chunk worth reading.
constexpr u64 min_block_bytes = 36;
// The chunks end when this many bytes or fewer are left.
constexpr u64 block_tail_bytes = 16;

// Up to `count` u16 values into `out`, each only while `used` is below L
// (the chunk's own end); false when a value would lie past the end of the
// bytes.
template <typename Insert>
bool read_u16_list(zarn::byte_reader& r, u8 count, u64 length, u64& used, Insert insert) {
  for (u8 i = 0; i < count && used < length; ++i) {
    u16 v = 0;
    if (!r.read_u16(v)) return false;
    insert(v);
    used += 2;
  }
  return true;
}

}  // namespace

bool read_template_block(byte_array& out, u32 offset, u32 length) {
  return read_template_block(out, offset, length, get_exe_path());
}

bool read_template_block(byte_array& out, u32 offset, u32 length, const std::string& path) {
  out.clear();
  if (offset < min_block_offset || length == 0) return false;
  uni::fileio file;
  if (!file.open(path, 0, 0, 0)) return false;
  // a block cut short by the end of the file is damage, not a block
  if (file.size() < offset || !file.read(out, length, offset) || out.size() != length) {
    out.clear();
    return false;
  }
  return true;
}

void template_rec::clear() {
  selectors.clear();
  signature.clear();
  key.clear();
  provider.clear();
  provider_index = 0;
  first_id = 0;
  last_id = 0;
  ids.clear();
  types.clear();
  names.clear();
  name_indexes.clear();
  line.clear();
  percent_flag = 0;
}

u32 template_rec::unpack(std::span<const u8> data) {
  clear();
  if (data.size() < template_chunk::min_bytes) return 0;
  zarn::byte_reader r(data);
  u16 length = 0;
  if (!r.read_u16(length) || length > r.remaining()) return 0;

  // `used` counts the bytes read after L; the lists stop where L ends
  u64 used = 0;
  u8 count = 0;
  bool held = r.read_u8(count);
  used += 1;
  held = held && read_u16_list(r, count, length, used, [this](u16 v) { selectors.insert(v); });

  std::span<const u8> guid_bytes;
  u16 name_index = 0;
  u8 range_flag = 0;
  held = held && r.read_bytes(16, guid_bytes) && r.read_u16(name_index) && r.read_u8(range_flag);
  used += 19;
  if (held && range_flag != 0) {
    held = r.read_u16(first_id) && r.read_u16(last_id);
    used += 4;
  }
  if (held) {
    provider = guid(guid_bytes.data());
    provider_index = name_index;
  }

  held = held && r.read_u8(count);
  used += 1;
  held = held && read_u16_list(r, count, length, used, [this](u16 v) { ids.insert(v); });
  held = held && r.read_u8(count);
  used += 1;
  held = held && read_u16_list(r, count, length, used, [this](u16 v) { types.push_back(v); });
  held = held && read_u16_list(r, count, length, used, [this](u16 v) { name_indexes.push_back(v); });
  // a field that would lie past the end of the block: no chunk at all
  if (!held) {
    clear();
    return 0;
  }
  if (used != length) std::fputs("Problem unpacking chunk data\n", stderr);
  return static_cast<u32>(used + 2);
}

void template_db::clear() {
  // No capacity is reserved ahead: a block's tables and records grow to what
  // it holds.
  records.clear();
  key_index.clear();
  provider_names.assign(1, "unk");
  provider_index.clear();
  field_names.assign(1, "");
  field_name_index.clear();
}

bool template_db::parse_block(std::span<const u8> block) {
  clear();
  if (block.size() < min_block_bytes) return false;
  const u32 field_table = read_counted_string_list(field_names, block);
  if (field_table == 0) return false;
  const u32 provider_table = read_counted_string_list(provider_names, block.subspan(field_table));
  if (provider_table == 0) return false;

  u64 pos = u64{field_table} + provider_table;
  template_rec rec;
  while (pos < block.size() && block.size() - pos > block_tail_bytes) {
    const u32 size = rec.unpack(block.subspan(pos));
    if (size == 0) break;
    rec.names.assign(rec.name_indexes.size(), "");
    for (std::size_t i = 0; i < rec.name_indexes.size(); ++i) {
      if (rec.name_indexes[i] < field_names.size()) rec.names[i] = field_names[rec.name_indexes[i]];
    }
    // the first chunk that names a provider decides its name
    if (rec.provider_index != 0) provider_index.emplace(rec.provider, rec.provider_index);
    records.push_back(rec);
    pos += size;
  }
  return true;
}
