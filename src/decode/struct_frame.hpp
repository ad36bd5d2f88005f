#pragma once
// The frame the structure decoders share: a structure's members decoded one
// after another from its first byte, each only when it lies wholly within
// the bytes held, as a field under the structure's key + the member's
// offset (a field already held at that key stays).
#include <span>
#include <string>

#include "common/zarn_types.hpp"
#include "decode/field_map.hpp"
#include "decode/type_words.hpp"


// One member of a fixed layout; a size of 0 stands for the pointer size.
struct struct_member {
  u8 size;
  u8 in_type;
  const char* name;
};
inline constexpr u8 pointer_sized = 0;

class struct_frame {
 public:
  struct_frame(field_map& map, std::span<const u8> bytes, u64 key, bool pointer64)
      : map_(map), bytes_(bytes), key_(key), pointer_size_(pointer64 ? 8 : 4) {}

  u64 pointer_size() const { return pointer_size_; }
  u64 position() const { return position_; }
  u64 left() const { return bytes_.size() - position_; }
  std::span<const u8> rest() const { return bytes_.subspan(position_); }
  u64 key() const { return key_ + position_; }
  field_map& map() const { return map_; }

  // The next member as a field (element flag 1; numbers for 1, 2, 4 and 8
  // bytes, raw bytes otherwise); a size of pointer_sized is the pointer
  // size. False, with nothing made and the position unchanged, when it does
  // not fit.
  bool member(u64 size, u8 in_type, const std::string& name);
  bool member(const struct_member& m);
  // The members in order; false at the first that does not fit.
  bool members(std::span<const struct_member> list);
  // The little-endian number of `size` bytes (1, 2 or 4) at the position,
  // read only when it fits; false otherwise.
  bool peek(u64 size, u64& value) const;
  // Moves on by what a nested decoder consumed; never past the bytes.
  void advance(u64 n) { position_ += n < left() ? n : left(); }
  // Stores a field made here under the structure's key + the position.
  void store(field_rec& f) const;

 private:
  field_map& map_;
  std::span<const u8> bytes_;
  u64 key_;
  u64 pointer_size_;
  u64 position_ = 0;
};
