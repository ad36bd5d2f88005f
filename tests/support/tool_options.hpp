#pragma once
// The options as the tool sets them from its command line ("-log x.etl" and
// the extra arguments; its own time format "hh:mm:ss.xxxxxxxxx" included),
// with the session name a file run would set.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/vesk_user_opts.hpp"

struct tool_options {
  vesk_user_opts options;
  explicit tool_options(std::vector<std::string> extra) {
    std::vector<std::string> args = {"vesk", "-log", "x.etl"};
    args.insert(args.end(), extra.begin(), extra.end());
    EXPECT_TRUE(options.read_options(args));
    options.session_name = "Test Session";
  }
};
