#pragma once
// One record of a -filter, -filter_skip or -filter_sig list.
#include <string>
#include <vector>

#include "common/zarn_types.hpp"

struct filter_pattern {
  u32 filter_path_len = 0;   // byte length of the -filter_path text (0 when none)
  std::wstring filter_path;  // the -filter_path text, lower-cased
  std::wstring item;         // the pattern item, lower-cased
  std::wstring name_part;    // the item before its first ':' without its '*' characters
  byte_array signature;      // signature bytes (-filter_sig records)
  u64 signature_offset = 0;  // file offset of the signature
  u8 is_path = 0;            // the name part begins with '/': tested against the folder
  u8 match_all = 0;          // the item is a lone "*"
  u8 leading_star = 0;       // the name part began with '*'
  u8 trailing_star = 0;      // the name part ended with '*'
};

using filter_list = std::vector<filter_pattern>;
