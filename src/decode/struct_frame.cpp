#include "decode/struct_frame.hpp"

#include <utility>

#include "common/byte_reader.hpp"

bool struct_frame::member(u64 size, u8 in_type, const std::string& name) {
  if (size == pointer_sized) size = pointer_size_;
  if (!zarn::fits(bytes_.size(), position_, size)) return false;
  field_rec f;
  f.set_raw(bytes_.subspan(position_, size), in_type, name, 1, true);
  store(f);
  position_ += size;
  return true;
}

bool struct_frame::member(const struct_member& m) { return member(m.size, m.in_type, m.name); }

bool struct_frame::members(std::span<const struct_member> list) {
  for (const struct_member& m : list) {
    if (!member(m)) return false;
  }
  return true;
}

bool struct_frame::peek(u64 size, u64& value) const {
  if (size != 1 && size != 2 && size != 4) return false;
  return zarn::read_le_at(bytes_, position_, size, value);
}

void struct_frame::store(field_rec& f) const { map_.emplace(key_ + position_, std::move(f)); }
