#pragma once
// One event's decoded fields: an ordered map from the file offset of a
// field's first byte to the field, so iteration is payload order.
#include <map>
#include <string>

#include "common/zarn_types.hpp"

struct field_rec {
  u8 in_type = 0;           // low byte of the type word, or the in-type given by its maker
  u8 high_byte = 0;         // bits 8-15 of the template type word; 0 without one
  u8 element_flag = 0;      // 1 on guessed, element-array and payload-decoder fields
  u8 placeholder_flag = 0;  // 1 when the value text is the "-" placeholder
  std::string name;         // may be empty
  std::string value;        // UTF-8 value text of text-like fields
  u64 number = 0;           // value of numeric fields
  byte_array bytes;         // raw bytes of byte fields
  u32 size = 0;             // payload bytes covered; 0 for marker fields

  void clear() { *this = field_rec{}; }
};

// Insertion never replaces: the first field decoded at an offset stays
// (std::map::emplace and insert keep the entry already held).
using field_map = std::map<u64, field_rec>;
