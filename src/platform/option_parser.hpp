#pragma once
#include <string>
#include <vector>

class cmd_params;

// Fills the common options from the argument list, erasing what it reads.
// False means the run stops (an empty list, an imbalanced alias list, an
// option this build does not offer, an output file that cannot be opened, a
// date bound without a date, a separator that a time, date, GUID or number
// can hold).
bool parse_common_options(cmd_params& opts, std::vector<std::string>& args);
