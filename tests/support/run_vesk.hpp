#pragma once
// Runs the built vesk program with arguments and standard input, capturing
// its standard output, standard error and exit status.
#include <string>
#include <vector>

struct vesk_result {
  int status = -1;
  std::string out;
  std::string err;
};

// Each argument is passed as one word (quoted for the shell).
vesk_result run_vesk(const std::vector<std::string>& args, const std::string& stdin_text = "",
                     const std::string& env = "");
