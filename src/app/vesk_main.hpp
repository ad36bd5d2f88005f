#pragma once
// The program's entry, callable from tests with an argument list.
int vesk_main(int argc, const char* const* argv);
