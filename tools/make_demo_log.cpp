// Writes the small demo log that `make demo` reads: a logfile-header first
// buffer and three buffers of records of several kinds from several
// providers, some of them decoded by the program's templates, all built byte
// by byte with the tests' log builder.
#include <cstdio>
#include <fstream>

#include "support/log_builder.hpp"

namespace {

using namespace logbuild;

constexpr u32 buffer_size = 0x1000;
constexpr u64 second = 10000000;  // FILETIME ticks

byte_array first_buffer() {
  logfile_header_fields f;
  f.first_buffer_size = buffer_size;
  f.clock_type = 2;  // system time: record times are FILETIMEs
  f.start_time = ft_2020;
  f.logger_name = u"vesk demo session";
  f.log_file_name = u"C:\\Windows\\Logs\\demo.etl";
  f.buffers_written = 4;
  return build_logfile_first_buffer(f);
}

byte_array event(u64 time, u16 id, const char* provider, byte_array payload) {
  record_event r;
  r.time = time;
  r.event_id = id;
  r.provider = guid_of(provider);
  r.payload = std::move(payload);
  return build_record(r);
}

byte_array first_data_buffer() {
  buffer_header_fields h;
  h.buffer_size = buffer_size;
  h.time = ft_2020 + 10 * second;
  buffer_builder b(h);
  record_generic system;  // a kernel "event trace" record (hook group 0x0000)
  system.type_code = 0xC002;
  system.hook_id = 0x0050;
  system.time = ft_2020 + 1 * second;
  b.add(build_record(system));
  b.add(event(ft_2020 + 2 * second, 7, "8e805eb3-6a8f-4a1e-90fa-a831d94e54a1",
              {'d', 0, 'e', 0, 'm', 0, 'o', 0, 0, 0}));
  b.add(event(ft_2020 + 3 * second, 8, "8e805eb3-6a8f-4a1e-90fa-a831d94e54a1", {1, 0, 0, 0}));
  record_9000 message;  // a trace message
  message.time = ft_2020 + 4 * second;
  message.event_id = 12;
  b.add(build_record(message));
  return b.finish();
}

// Events of providers whose templates the program carries: the .NET runtime's
// GC start (id 1) and allocation tick (id 10), and a PowerShell command
// lifecycle event (id 7937).
byte_array third_data_buffer() {
  buffer_header_fields h;
  h.buffer_size = buffer_size;
  h.time = ft_2020 + 30 * second;
  h.sequence = 3;
  buffer_builder b(h);
  const char* const dotnet = "e13c0d23-ccbc-4e12-931b-d9cc2eee27e4";
  writer gc_start;
  gc_start.put_u32(1).put_u32(2).put_u32(1).put_u32(0);  // Count, Depth, Reason, Type
  gc_start.put_u16(8).put_u64(0);                        // ClrInstanceID, ClientSequenceNumber
  b.add(event(ft_2020 + 21 * second, 1, dotnet, gc_start.take()));
  writer tick;
  tick.put_u32(109120).put_u32(0).put_u16(8).put_u64(109120);  // amounts, kind, instance
  tick.put_u64(0x7ffb485e1c08ull).put_utf16(u"System.String");  // TypeID, TypeName
  tick.put_u32(0).put_u64(0x1b0f3818b30ull).put_u64(32);        // HeapIndex, Address, ObjectSize
  b.add(event(ft_2020 + 22 * second, 10, dotnet, tick.take()));
  writer lifecycle;
  lifecycle.put_utf16(u"Host Name = ConsoleHost\r\n").put_utf16(u"");  // ContextInfo, UserData
  lifecycle.put_utf16(u"Script execution is Started.\r\n");          // Payload
  b.add(event(ft_2020 + 23 * second, 7937, "a0c1853b-5c40-4b15-8766-3cf1c58f985a", lifecycle.take()));
  return b.finish();
}

byte_array second_data_buffer() {
  buffer_header_fields h;
  h.buffer_size = buffer_size;
  h.time = ft_2020 + 20 * second;
  h.sequence = 2;
  buffer_builder b(h);
  record_event classic;  // a classic 64-bit trace record
  classic.type_code = 0xC014;
  classic.time = ft_2020 + 11 * second;
  classic.provider = guid_of("9b79ee91-b5fd-41c0-a243-4248e266e9d0");
  classic.flags = 0x0a;  // the class type byte at 4
  b.add(build_record(classic));
  b.add(event(ft_2020 + 12 * second, 1, "a0c1853b-5c40-4b15-8766-3cf1c58f985a", {0x2a, 0, 0, 0}));
  // A self-describing event: its provider's name and its schema ride in
  // extended-data items ahead of the payload.
  record_event described;
  described.time = ft_2020 + 13 * second;
  described.event_id = 0;
  described.provider = guid_of("4f50731a-89cf-4782-b3e0-dce8c90476ba");
  const std::string name = "Vesk.Demo";
  writer traits;
  traits.put_u16(static_cast<u16>(2 + name.size() + 1));   // total size of the traits
  traits.put_bytes(byte_array(name.begin(), name.end())).put_u8(0);  // provider name
  described.items = {{.type = 12, .data = traits.take()},
                     {.type = 11,
                      .data = build_schema({0}, "FileOpened",
                                           {{"Path", {0x01}},      // UTF-16 text
                                            {"Size", {0x0a}},      // u64
                                            {"Mode", {0x17}}})}};  // counted 8-bit text
  writer opened;
  opened.put_utf16(u"C:\\Users\\demo\\notes.txt").put_u64(4096);
  opened.put_u16(2).put_bytes(byte_array{'r', 'w'});
  described.payload = opened.take();
  b.add(build_record(described));
  return b.finish();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_demo_log <output.etl>\n", stderr);
    return 2;
  }
  const byte_array log =
      join({first_buffer(), first_data_buffer(), second_data_buffer(), third_data_buffer()});
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(log.data()), static_cast<std::streamsize>(log.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
