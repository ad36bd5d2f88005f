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
  // Names are the files found under `folder` down to `depth_limit` levels
  // of subfolders (0: the folder alone) that pass the filters: `include`
  // when it is not empty, and none of `skip`. A folder whose components hold
  // stars stands for the folders they match, walked one after the other as
  // the walk takes subfolders. No symbolic link is followed, file or folder:
  // each one met is named on standard error. False for an empty name, a
  // folder that cannot be listed and stars that match no folder.
  bool init_enumdir(const std::string& folder, u32 depth_limit, const filter_list& include,
                    const filter_list& skip);
  // The next name: the next file of the walk, or the next line of standard
  // input (trimmed of its line end with `trim`). False when none is left.
  // A folder of the walk that cannot be listed is named ("prob listing
  // folder: <path>") and counted.
  bool next_name(std::string& out, u8 trim);
  // How many folders of the walk could not be listed.
  u32 folders_not_listed() const { return not_listed_; }

 private:
  bool next_file(std::string& out);
  bool passes_filter(const std::string& path, bool folder) const;

  std::vector<std::pair<std::string, u32>> pending_;  // folders to list, with their depth
  std::vector<std::string> found_;                     // files found, not yet handed out
  u32 depth_limit_ = 1;
  filter_list include_;
  filter_list skip_;
  u8 walk_ = 0;
  u32 not_listed_ = 0;
  const cmd_params* options_ = nullptr;
};

}  // namespace zarnportdir

// The name passes the options' -filter list (and the date window, which
// fills `info`) and matches none of -filter_skip.
bool name_passes_filters(const cmd_params& options, const std::string& name,
                         const filter_list& include, const filter_list& skip, file_info& info);

// The name as a message shows it: a NUL byte, which no file name on this
// system holds, as "[NUL]".
std::string name_shown(const std::string& name);
