#include "support/temp_dir.hpp"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

temp_dir::temp_dir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vesk-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
}

temp_dir::~temp_dir() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::string temp_dir::write(const std::string& name, const byte_array& bytes) const {
  const std::string p = path(name);
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return p;
}

std::string temp_dir::write(const std::string& name, const std::string& text) const {
  return write(name, byte_array(text.begin(), text.end()));
}

byte_array read_all(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return byte_array(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string read_text(const std::string& path) {
  const byte_array bytes = read_all(path);
  return std::string(bytes.begin(), bytes.end());
}
