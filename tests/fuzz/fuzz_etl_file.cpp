// Fuzz entry: the whole run over one .etl file held in memory, once for each
// way the run ends (statistics, provider list, event rows, reduced log).
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "app/vesk_user_opts.hpp"
#include "etl/etl_run.hpp"
#include "platform/fileio.hpp"

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

void run_mode(const std::string& path, const std::string& reduced_path, int mode) {
  vesk_user_opts opts;
  opts.status_display = 0;
  opts.processor.load_templates();
  opts.stats = mode == 0;
  opts.guids = mode == 1;
  if (mode == 3) {
    opts.pullguid = 1;
    opts.pullguid_guid = guid();
    opts.out_path = reduced_path;
  }
  uni::fileio file;
  if (!file.open(path, 0, 0, 0)) return;
  std::ostringstream out;
  u64 rows = 0;
  const event_row_writer count = [&rows](std::ostream&, const event_record&, vesk_user_opts&) { ++rows; };
  (void)run_etl_file(out, file, opts, count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int in = memory_file(data, size, "fuzz-in");
  const int reduced = memory_file(nullptr, 0, "fuzz-reduced");
  if (in >= 0 && reduced >= 0) {
    const std::string path = "/proc/self/fd/" + std::to_string(in);
    const std::string reduced_path = "/proc/self/fd/" + std::to_string(reduced);
    for (int mode = 0; mode < 4; ++mode) run_mode(path, reduced_path, mode);
  }
  if (in >= 0) close(in);
  if (reduced >= 0) close(reduced);
  return 0;
}
