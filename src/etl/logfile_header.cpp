#include "etl/logfile_header.hpp"

#include <algorithm>
#include <cassert>

#include "common/byte_reader.hpp"
#include "common/zarn_string.hpp"
#include "etl/etl_headers.hpp"

using zarn::u16_at;
using zarn::u32_at;
using zarn::u64_at;

namespace lh = logfile_header;

namespace {

// The UTF-16 text at `pos`, ending at its first 0 unit or at `end`, and never
// past the bytes held. Returns the number of units taken (the terminator not
// counted); a position at or beyond the end gives the empty text.
u64 read_utf16_text(std::span<const u8> bytes, u64 pos, u64 end, std::string& out) {
  out.clear();
  end = std::min<u64>(end, bytes.size());
  if (pos >= end) return 0;
  // end - pos is at most 0xFFFF + 72 - 376 here: the record size is a u16
  const i32 max_bytes = static_cast<i32>(end - pos);
  const i32 consumed = utf16le_to_utf8(bytes.subspan(pos, end - pos), out, max_bytes, false);
  return static_cast<u64>(consumed) / 2;
}

zarn::_windows_systemtime systemtime_at(std::span<const u8> bytes, u64 pos) {
  zarn::_windows_systemtime st;
  // inside the fixed part, which the caller has checked is held
  const bool held = zarn::read_systemtime(bytes.subspan(pos), st);
  assert(held);
  (void)held;
  return st;
}

i32 as_i32(u32 v) { return static_cast<i32>(v); }

}  // namespace

bool scaled_ticks(u64 ticks, double factor, u64& out) {
  const double product = static_cast<double>(ticks) * factor;
  // converting a double that does not fit in 64 bits is undefined
  if (!(product >= 0.0 && product < 18446744073709551616.0)) return false;
  out = static_cast<u64>(product);
  return true;
}

void logfile_header_info::clear() { *this = logfile_header_info{}; }

bool logfile_header_info::is_64bit() const { return pointer_size() == 8; }

u32 logfile_header_info::first_buffer_size() const { return u32_at(head, 0); }
u16 logfile_header_info::record_size() const { return u16_at(head, lh::record_size); }
u32 logfile_header_info::thread_id() const { return u32_at(head, lh::thread_id); }
u32 logfile_header_info::process_id() const { return u32_at(head, lh::process_id); }
u64 logfile_header_info::record_time() const { return u64_at(head, lh::record_time); }
u64 logfile_header_info::processor_time() const { return u64_at(head, lh::processor_time); }
u32 logfile_header_info::buffer_size() const { return u32_at(head, lh::buffer_size); }
u32 logfile_header_info::version() const { return u32_at(head, lh::version); }
u32 logfile_header_info::provider_version() const { return u32_at(head, lh::provider_version); }
u32 logfile_header_info::num_processors() const { return u32_at(head, lh::num_processors); }
u64 logfile_header_info::end_time() const { return u64_at(head, lh::end_time); }
u32 logfile_header_info::timer_resolution() const { return u32_at(head, lh::timer_resolution); }
u32 logfile_header_info::max_file_size() const { return u32_at(head, lh::max_file_size); }
u32 logfile_header_info::log_file_mode() const { return u32_at(head, lh::log_file_mode); }
u32 logfile_header_info::buffers_written() const { return u32_at(head, lh::buffers_written); }
u32 logfile_header_info::start_buffers() const { return u32_at(head, lh::start_buffers); }
u32 logfile_header_info::pointer_size() const { return u32_at(head, lh::pointer_size); }
u32 logfile_header_info::events_lost() const { return u32_at(head, lh::events_lost); }
u32 logfile_header_info::cpu_speed() const { return u32_at(head, lh::cpu_speed); }

bool parse_logfile_header(logfile_header_info& info, std::span<const u8> first_buffer) {
  info.clear();
  const std::span<const u8> b = first_buffer;
  // every fixed field of both layouts lies inside the first 386 bytes
  if (b.size() < lh::min_bytes) return false;
  std::copy_n(b.begin(), lh::fixed_end, info.head.begin());

  const bool wide = u32_at(b, lh::pointer_size) == 8;
  // positions are named for 8-byte pointers; 4-byte pointers move the rest
  // 8 bytes earlier
  const u64 shift = wide ? 0 : lh::narrow_shift;
  auto at = [shift](u64 pos64) { return pos64 - shift; };
  static_assert(lh::buffers_lost + 4 - lh::narrow_shift <= lh::min_bytes);

  if (wide) {
    info.logger_name_ptr = u64_at(b, lh::logger_name_ptr);
    info.log_file_name_ptr = u64_at(b, lh::log_file_name_ptr);
  } else {
    info.logger_name_ptr = u32_at(b, lh::logger_name_ptr);
    info.log_file_name_ptr = u32_at(b, lh::logger_name_ptr + 4);
  }
  info.bias = as_i32(u32_at(b, at(lh::bias)));
  read_utf16_text(b, at(lh::standard_name), at(lh::standard_name) + lh::tz_name_bytes,
                  info.standard_name);
  info.standard_date = systemtime_at(b, at(lh::standard_date));
  info.standard_bias = as_i32(u32_at(b, at(lh::standard_bias)));
  read_utf16_text(b, at(lh::daylight_name), at(lh::daylight_name) + lh::tz_name_bytes,
                  info.daylight_name);
  info.daylight_date = systemtime_at(b, at(lh::daylight_date));
  info.daylight_bias = as_i32(u32_at(b, at(lh::daylight_bias)));
  info.tz_padding = u32_at(b, at(lh::tz_padding));
  info.boot_time = u64_at(b, at(lh::boot_time));
  info.perf_freq = u64_at(b, at(lh::perf_freq));
  info.start_time = u64_at(b, at(lh::start_time));
  info.clock_type = u32_at(b, at(lh::clock_type));
  info.buffers_lost = u32_at(b, at(lh::buffers_lost));

  // The names run to the end of the logfile-header record (its u16 size
  // counts from 72); read_utf16_text also stops at the bytes held, since a
  // damaged size may claim more than the buffer holds.
  const u64 record_end = lh::record_start + u16_at(b, lh::record_size);
  const u64 logger_pos = logger_name_offset(wide);
  const u64 logger_units = read_utf16_text(b, logger_pos, record_end, info.logger_name);
  // the log-file name follows the logger name's terminator
  read_utf16_text(b, logger_pos + 2 * logger_units + 2, record_end, info.log_file_name);

  if (info.clock_type == lh::clock_qpc) {
    info.clock_not_filetime = 1;
    info.clock_qpc = 1;
    // a zero frequency gives no factor rather than a division by zero
    if (info.perf_freq != 0) info.tick_factor = 1e7 / static_cast<double>(info.perf_freq);
  } else if (info.clock_type == lh::clock_cpu_cycles) {
    info.clock_not_filetime = 1;
    info.clock_cpu_cycles = 1;
    const u32 mhz = info.cpu_speed();
    if (mhz != 0) info.tick_factor = 10.0 / static_cast<double>(mhz);
  }

  // The time base ties the session clock to FILETIMEs through whichever of
  // the start time and the record's own time is a FILETIME. Unsigned
  // arithmetic wraps, and conversion adds the base back the same way.
  const u64 s = info.start_time;
  const u64 r = info.record_time();
  const bool s_valid = zarn::is_valid_filetime(s);
  const bool r_valid = zarn::is_valid_filetime(r);
  u64 scaled = 0;
  if (s_valid && !r_valid) {
    if (scaled_ticks(r, info.tick_factor, scaled)) info.time_base = s - scaled;
  } else if (r_valid && !s_valid) {
    if (scaled_ticks(s, info.tick_factor, scaled)) info.time_base = r - scaled;
  }
  return true;
}
