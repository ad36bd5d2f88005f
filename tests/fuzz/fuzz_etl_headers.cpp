// Fuzz entry: every header test on arbitrary bytes. The bytes are taken as
// the head of a file (its kind), as a logfile-header first buffer, and as a
// buffer whose every 8-byte position is tried as a record and an item.
#include <cstddef>
#include <cstdint>
#include <span>

#include "decode/extended_item.hpp"
#include "etl/etl_headers.hpp"
#include "etl/logfile_header.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const u8> bytes(data, size);
  (void)etl_file_kind(bytes, size);
  logfile_header_info info;
  (void)parse_logfile_header(info, bytes);

  bool bad_time = false;
  (void)check_buffer_header(bytes, bad_time, size, buffer_header_mode::lenient);
  buffer_context ctx;
  (void)copy_buffer_header(ctx, bytes);
  (void)etw_header_to_72(ctx, bytes);

  for (size_t pos = 0; pos < size; pos += 8) {
    const std::span<const u8> rec = bytes.subspan(pos);
    (void)is_trace_header_9000_28(rec, false, 0, 0, 0);
    (void)is_trace_header_9000_24(rec, true, 1000, ~u64{0}, 0);
    (void)is_event_header(rec, false, 0, 0);
    (void)is_trace_header_c00a(rec, false, 0, 0);
    (void)is_trace_header_c011(rec, false, 0, 0);
    (void)is_trace_header_c002(rec, false, 0, 0);
    (void)is_generic_trace_header(rec);
    (void)is_ext_item_header(rec);
  }
  return 0;
}
