#pragma once
// A scratch folder for one test, removed with everything in it at the end.
#include <filesystem>
#include <string>

#include "common/zarn_types.hpp"

class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;

  std::string path(const std::string& name) const { return (root_ / name).string(); }
  // Writes the bytes to a new file in the folder and returns its path.
  std::string write(const std::string& name, const byte_array& bytes) const;
  std::string write(const std::string& name, const std::string& text) const;

 private:
  std::filesystem::path root_;
};

// Everything in a file, or an empty array when it cannot be read.
byte_array read_all(const std::string& path);
std::string read_text(const std::string& path);
