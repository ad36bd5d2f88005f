// Fuzz entry: the whole run over one .etl file held in memory, once for each
// way the run ends (statistics, provider list, event rows, reduced log).
// The program's template block is loaded once per process into one trace
// processor that every run shares, as a run over many files shares it, so
// events are decoded by their templates as the program decodes them.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "etl/etl_reports.hpp"
#include "etl/etl_run.hpp"
#include "etl/trace_processor.hpp"
#include "platform/cmd_params.hpp"
#include "platform/fileio.hpp"

namespace {

// The trace processor with the block's templates (compiled per provider
// as the records look them up). A block that cannot be read or holds no
// chunk stops the process: the entry would otherwise fuzz only the
// template-less road and look green.
trace_processor& block_processor() {
  static trace_processor* const tp = [] {
    std::ifstream in(VESK_TEMPLATE_BLOCK, std::ios::binary);
    const byte_array block((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto* loaded = new trace_processor;
    (void)loaded->load_templates(block);
    if (loaded->templates.block_chunks.empty()) {
      std::fprintf(stderr, "no templates in the template block %s\n", VESK_TEMPLATE_BLOCK);
      std::abort();
    }
    return loaded;
  }();
  return *tp;
}

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
  cmd_params options{0, 1};
  options.status_display = 0;
  etl_run_settings settings;
  settings.stats = mode == 0;
  settings.guids = mode == 1;
  if (mode == 3) {
    settings.pullguid = 1;
    settings.pullguid_guid = guid();
    options.out_path = reduced_path;
  }
  reduced_log reduced;
  u64 rows = 0;
  etl_run run{options, settings, block_processor(), reduced,
              [&rows](std::ostream&, const event_record&, cmd_params&) { ++rows; }};
  uni::fileio file;
  if (file.open(path, 0, 0, 0)) {
    std::ostringstream out;
    (void)run_etl_file(out, file, run);
  }
  // the next run starts afresh, with the templates kept
  run.processor.reset(false);
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
