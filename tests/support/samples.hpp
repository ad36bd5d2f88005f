#pragma once
// The real sample logs in the shared folder beside the checkout (never
// copied into the repository). Tests that read them skip when it is absent.
#include <string>

#include "common/zarn_types.hpp"

bool samples_present();
std::string sample_path(const std::string& name);
// The whole file; false when it cannot be read.
bool read_sample(const std::string& name, byte_array& out);
