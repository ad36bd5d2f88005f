#pragma once
// Decides whether an input file is processed: name patterns, file signatures
// and the -cmd_start_time / -cmd_stop_time window.
#include <string>

#include "platform/file_info.hpp"
#include "platform/filter_pattern.hpp"

class cmd_params;

// Replaces `out` with the records of one -filter / -filter_skip value; true
// when there is at least one.
bool parse_filter_patterns(filter_list& out, const std::string& value);

// True when the file passes the window (tested when `info` is given and a
// bound is set, whatever the list holds) and one record of the list (an
// empty list passes every name). *out_unopened is set when a signature record could
// not read the file.
bool file_passes_filter(const cmd_params& opts, u8* out_unopened, const std::wstring& wpath,
                        const filter_list& list, file_info* info);
bool file_passes_filter(const cmd_params& opts, u8* out_unopened, const std::string& path,
                        const filter_list& list, file_info* info);
// The same with options that set no window.
bool file_passes_filter(u8* out_unopened, const std::wstring& wpath, const filter_list& list);
