// Fuzz entry: the whole run over one .etl file held in memory, once for each
// way the run ends (statistics, provider list, event rows, reduced log).
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "etl/etl_run.hpp"
#include "platform/fileio.hpp"
#include "support/file_run.hpp"

namespace {

// An anonymous in-memory file holding the bytes, or -1.
int memory_file(const uint8_t* data, size_t size, const char* name) {
  const int fd = memfd_create(name, 0);
  if (fd < 0) return -1;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return fd;
}

void run_in_mode(const std::string& path, const std::string& reduced_path, int mode) {
  file_run f;
  f.settings.stats = mode == 0;
  f.settings.guids = mode == 1;
  if (mode == 3) {
    f.settings.pullguid = 1;
    f.settings.pullguid_guid = guid();
    f.options.out_path = reduced_path;
  }
  uni::fileio file;
  if (!file.open(path, 0, 0, 0)) return;
  std::ostringstream out;
  u64 rows = 0;
  f.run.write_row = [&rows](std::ostream&, const event_record&, cmd_params&) { ++rows; };
  (void)run_etl_file(out, file, f.run);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int in = memory_file(data, size, "fuzz-in");
  const int reduced = memory_file(nullptr, 0, "fuzz-reduced");
  if (in >= 0 && reduced >= 0) {
    const std::string path = "/proc/self/fd/" + std::to_string(in);
    const std::string reduced_path = "/proc/self/fd/" + std::to_string(reduced);
    for (int mode = 0; mode < 4; ++mode) run_in_mode(path, reduced_path, mode);
  }
  if (in >= 0) close(in);
  if (reduced >= 0) close(reduced);
  return 0;
}
