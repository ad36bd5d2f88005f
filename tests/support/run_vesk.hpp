#pragma once
// Runs the built vesk program with arguments and standard input, capturing
// its standard output, standard error and exit status.
#include <string>
#include <vector>

#include "common/zarn_types.hpp"

struct vesk_result {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs a program; each argument is passed as one word (quoted for the shell).
vesk_result run_program(const std::string& program, const std::vector<std::string>& args,
                        const std::string& stdin_text = "", const std::string& env = "");
// The built vesk program.
vesk_result run_vesk(const std::vector<std::string>& args, const std::string& stdin_text = "",
                     const std::string& env = "");

// The template block the build placed in the vesk program, found through
// the program's locator; empty when there is none.
byte_array program_template_block(const std::string& program = VESK_BINARY);
