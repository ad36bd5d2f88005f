// Replays inputs through one fuzz entry point, for builds without libFuzzer.
//
//   fuzz_<target> [--cuts N] [--flips N] path...
//
// Each path is a file or a folder of files. Every file is run whole; with
// --cuts, also cut to N lengths spread over the file plus every length up to
// 512; with --flips, also as N copies with one byte changed each (a fixed
// seed, so a failure repeats). Each input is copied into a vector of exactly
// its size so AddressSanitizer's redzone sits right behind it. Exit 77 (a
// skip for CTest) when no input file was found.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void run_one(const std::vector<uint8_t>& input) {
  std::vector<uint8_t> exact(input.begin(), input.end());
  LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
}

void run_file(const std::filesystem::path& path, size_t cuts, size_t flips) {
  std::ifstream f(path, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)),
                                   std::istreambuf_iterator<char>());
  run_one(bytes);
  if (cuts > 0 && !bytes.empty()) {
    for (size_t n = 0; n < bytes.size() && n <= 512; ++n) {
      run_one(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(n)));
    }
    for (size_t i = 1; i <= cuts; ++i) {
      const size_t n = bytes.size() * i / (cuts + 1);
      run_one(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(n)));
    }
  }
  std::mt19937_64 rng(0x76657368);
  for (size_t i = 0; i < flips && !bytes.empty(); ++i) {
    std::vector<uint8_t> copy = bytes;
    copy[rng() % copy.size()] ^= static_cast<uint8_t>(1u + rng() % 255u);
    run_one(copy);
  }
}

}  // namespace

int main(int argc, char** argv) {
  size_t cuts = 0;
  size_t flips = 0;
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--cuts" || arg == "--flips") && i + 1 < argc) {
      (arg == "--cuts" ? cuts : flips) = std::strtoul(argv[++i], nullptr, 10);
      continue;
    }
    std::error_code ec;
    if (std::filesystem::is_directory(arg, ec)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(arg, ec)) {
        if (entry.is_regular_file() && entry.path().extension() != ".md") files.push_back(entry.path());
      }
    } else if (std::filesystem::is_regular_file(arg, ec)) {
      files.emplace_back(arg);
    }
  }
  if (files.empty()) {
    std::fputs("no input files found; skipped\n", stderr);
    return 77;
  }
  for (const auto& file : files) run_file(file, cuts, flips);
  std::printf("replayed %zu files\n", files.size());
  return 0;
}
