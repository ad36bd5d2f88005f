#include "app/vesk_main.hpp"

#include <cstdio>

int vesk_main(int, const char* const*) {
  std::fputs("Usage:\n", stderr);
  return 0;
}
