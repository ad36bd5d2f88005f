#pragma once
// The program's entry, callable from tests with an argument list.
#include <string>

int vesk_main(int argc, const char* const* argv);

// The usage text on standard error.
void print_usage(const std::string& program_path);
