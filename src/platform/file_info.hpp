#pragma once
// What the file system says about one input file; tested by the file filter.
#include <string>

#include "common/zarn_types.hpp"

struct file_info {
  std::string path;
  u64 inode = 0;
  u64 size = 0;
  i64 modified = 0;
  i64 second_time = 0;  // not filled from the file system; a caller may set it
  i64 changed = 0;
  i64 accessed = 0;
  u32 mode = 0;
  u32 time_kind = 0;  // encoding of the times: 8 Unix seconds, 16 when the modification time is negative
  u8 is_dir = 0;

  void clear() { *this = file_info(); }
};
