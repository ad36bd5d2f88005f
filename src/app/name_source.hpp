#pragma once
// The names of the input logs of -pipe and -enumdir, one at a time: the
// lines of standard input, or the files found by walking a folder to a depth,
// narrowed by the file filter.
#include <string>
#include <utility>
#include <vector>

#include "common/zarn_types.hpp"
#include "platform/file_info.hpp"
#include "platform/filter_pattern.hpp"
#include "platform/stdin_stream.hpp"

class cmd_params;

namespace zarnportdir {

class stdin_stream_ex : public uni::stdin_stream {
 public:
  // The options give the file filter its date window; null uses none.
  explicit stdin_stream_ex(const cmd_params* options);

  // Depth limit 1, no filters, not walking (the stacks stay as they are).
  void reset();
  // Names are read from standard input.
  bool init_pipe(u8 flag);
  // Names are the files found under `folder` (its "*" components expanded)
  // down to `depth_limit` levels of subfolders (0: the folder alone) that
  // pass the filters: `include` when it is not empty, and none of `skip`.
  // False for an empty name and for a folder that cannot be listed (a
  // folder with "*" components is tried when the walk starts).
  bool init_enumdir(const std::string& folder, u32 depth_limit, const filter_list& include,
                    const filter_list& skip);
  // The next name: the next file of the walk, or the next line of standard
  // input (trimmed of its line end with `trim`). False when none is left.
  bool next_name(std::string& out, u8 trim);

 private:
  bool next_file(std::string& out);
  bool passes_filter(const std::string& path, bool folder) const;

  std::vector<std::pair<std::string, u32>> pending_;  // folders to list, with their depth
  std::vector<std::string> found_;                     // files found, not yet handed out
  u32 depth_limit_ = 1;
  filter_list include_;
  filter_list skip_;
  u8 walk_ = 0;
  const cmd_params* options_ = nullptr;
};

}  // namespace zarnportdir

// The name passes the options' -filter list (and the date window, which
// fills `info`) and matches none of -filter_skip.
bool name_passes_filters(const cmd_params& options, const std::string& name,
                         const filter_list& include, const filter_list& skip, file_info& info);
