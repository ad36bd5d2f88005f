#include "support/samples.hpp"

#include <filesystem>
#include <fstream>
#include <iterator>

bool samples_present() { return std::filesystem::is_directory(VESK_SAMPLES_DIR); }

std::string sample_path(const std::string& name) {
  return std::string(VESK_SAMPLES_DIR) + "/" + name;
}

bool read_sample(const std::string& name, byte_array& out) {
  std::ifstream in(sample_path(name), std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}
