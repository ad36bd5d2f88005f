// Writes a large synthetic log for the memory and speed benchmark: a
// logfile-header first buffer of 64 KiB, then buffers full of a mix of record
// kinds and payload sizes, most of them decoded by the program's templates
// (64 KiB buffers unless a buffer size is given; 72 gives buffers that are a
// header alone), streamed to disk one buffer at a time.
//
//   make_big_log <output.etl> <size in MiB> [buffer size]
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "support/log_builder.hpp"

namespace {

using namespace logbuild;

constexpr u32 first_buffer_size = 0x10000;
const char* const dotnet = "e13c0d23-ccbc-4e12-931b-d9cc2eee27e4";
const char* const powershell = "a0c1853b-5c40-4b15-8766-3cf1c58f985a";
const char* const amsi = "8e805eb3-6a8f-4a1e-90fa-a831d94e54a1";

// The records of the mix, by number: events decoded by the program's
// templates (the .NET runtime's GC start and allocation tick, a PowerShell
// event with three texts), an event without a template, a trace message, a
// classic record and the two kernel headers.
byte_array mixed_record(u64 n, u64 time) {
  switch (n % 8) {
    case 0: {
      writer p;
      p.put_u32(static_cast<u32>(n)).put_u32(2).put_u32(1).put_u32(0).put_u16(8).put_u64(n);
      return build_record(record_event{.time = time, .provider = guid_of(dotnet), .event_id = 1,
                                       .payload = p.take()});
    }
    case 1:
    case 5: {
      writer p;
      p.put_u32(109120).put_u32(0).put_u16(8).put_u64(109120).put_u64(0x7ffb485e1c08ull);
      p.put_utf16(n % 16 == 1 ? u"System.String" : u"System.Text.StringBuilder");
      p.put_u32(0).put_u64(0x1b0f3818b30ull + n).put_u64(32);
      return build_record(record_event{.time = time, .provider = guid_of(dotnet), .event_id = 10,
                                       .payload = p.take()});
    }
    case 2: {
      writer p;
      p.put_utf16(u"Severity = Informational\r\nHost Name = ConsoleHost\r\nPipeline ID = 19\r\n");
      p.put_utf16(u"").put_utf16(u"Script execution is Started.\r\n");
      return build_record(record_event{.type_code = 0xC013, .time = time,
                                       .provider = guid_of(powershell), .event_id = 7937,
                                       .payload = p.take()});
    }
    case 3:
      return build_record(record_event{.time = time, .provider = guid_of(amsi),
                                       .event_id = static_cast<u16>(n % 17),
                                       .payload = byte_array(48, static_cast<u8>(n))});
    case 4:
      return build_record(record_9000{.variant = 24, .event_id = 43, .property = 0x002A,
                                      .time = time, .payload = byte_array(24, 0x41)});
    case 6:
      return build_record(record_event{.type_code = 0xC014, .flags = 0x0a, .time = time,
                                       .provider = guid_of("9b79ee91-b5fd-41c0-a243-4248e266e9d0"),
                                       .payload = byte_array(32, 0x42)});
    default:
      return build_record(record_generic{.type_code = n % 16 == 7 ? u16{0xC002} : u16{0xC011},
                                         .hook_id = 0x0A12, .time = time,
                                         .payload = byte_array(8, 0x43)});
  }
}

byte_array data_buffer(u64 index, u32 buffer_size) {
  buffer_header_fields h;
  h.buffer_size = buffer_size;
  h.time = ft_2020 + (index + 1) * 10000000ull;
  h.sequence = index + 1;
  buffer_builder b(h);
  for (u64 n = 0;; ++n) {
    const byte_array r = mixed_record(n, ft_2020 + index * 10000000ull + n);
    if (b.filled_length() + r.size() + 8 > buffer_size) break;
    b.add(r);
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
