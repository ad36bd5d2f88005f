#pragma once
// The tagged value of one table cell: header cells name and size the columns,
// row cells carry a value that the row writer renders by its type tag.
#include <string>

#include "common/zarn_types.hpp"

struct zarn_variant_lite {
  // Set by the two constructors that take a reference value.
  static constexpr u32 has_reference = 0x80;

  u16 type = 0;
  u16 max_width = 20;
  u32 flags = 0;
  u64 reference = 0;  // in header cells: the column width
  u64 second = 0;
  byte_array bytes;
  std::string text;
  u64 number = 0;
  std::wstring wtext;

  zarn_variant_lite() = default;
  zarn_variant_lite(const std::string& text, u32 ref_low, u32 ref_high);
  zarn_variant_lite(const std::string& text, u32 ref_low, u32 ref_high, u16 tag, u32 flags);

  // Member by member: a cell reused row after row keeps its text's storage.
  // Built with assertions, it checks that the cell then equals a new one.
  void clear();
  bool operator==(const zarn_variant_lite&) const = default;
};
