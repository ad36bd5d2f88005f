// Writes a large synthetic log for the memory and speed benchmark: a
// logfile-header first buffer of 64 KiB, then buffers full of small event
// records from a few providers (64 KiB each unless a buffer size is given;
// 72 gives buffers that are a header alone), streamed to disk one buffer at
// a time.
//
//   make_big_log <output.etl> <size in MiB> [buffer size]
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "support/log_builder.hpp"

namespace {

using namespace logbuild;

constexpr u32 first_buffer_size = 0x10000;
const char* const providers[] = {
    "8e805eb3-6a8f-4a1e-90fa-a831d94e54a1",
    "a0c1853b-5c40-4b15-8766-3cf1c58f985a",
    "e13c0d23-ccbc-4e12-931b-d9cc2eee27e4",
};

byte_array data_buffer(u64 index, u32 buffer_size) {
  buffer_header_fields h;
  h.buffer_size = buffer_size;
  h.time = ft_2020 + (index + 1) * 10000000ull;
  h.sequence = index + 1;
  buffer_builder b(h);
  u64 n = 0;
  while (b.filled_length() + 0x70 <= buffer_size) {
    record_event r;
    r.time = ft_2020 + index * 10000000ull + n;
    r.provider = guid_of(providers[n % 3]);
    r.event_id = static_cast<u16>(n % 17);
    r.payload = byte_array(16, static_cast<u8>(n));
    b.add(build_record(r));
    ++n;
  }
  return b.finish();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fputs("usage: make_big_log <output.etl> <size in MiB> [buffer size]\n", stderr);
    return 2;
  }
  const u64 mib = std::strtoull(argv[2], nullptr, 10);
  const u64 size_arg = argc == 4 ? std::strtoull(argv[3], nullptr, 10) : first_buffer_size;
  if (size_arg < 72 || size_arg > first_buffer_size) {
    std::fputs("make_big_log: the buffer size is 72 to 65536 bytes\n", stderr);
    return 2;
  }
  const u32 buffer_size = static_cast<u32>(size_arg);
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  logfile_header_fields f;
  f.first_buffer_size = first_buffer_size;
  f.clock_type = 2;
  const byte_array head = build_logfile_first_buffer(f);
  out.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
  const u64 buffers = (mib << 20) / buffer_size;
  for (u64 i = 0; i < buffers && out; ++i) {
    const byte_array buffer = data_buffer(i, buffer_size);
    out.write(reinterpret_cast<const char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
  }
  out.close();
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
