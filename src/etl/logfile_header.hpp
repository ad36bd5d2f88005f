#pragma once
// The logfile header: the record that follows the 72-byte buffer header in
// the first buffer of a logfile-header .etl file. It fixes the file's clock
// (how raw record times become FILETIMEs), its session and log-file names
// and its time zone.
#include <array>
#include <span>
#include <string>

#include "common/zarn_time.hpp"
#include "common/zarn_types.hpp"

// Positions from the start of the first buffer, little-endian.
namespace logfile_header {
// system trace header of the logfile-header record, at 72
inline constexpr u64 record_start = 72;
inline constexpr u64 record_size = 76;      // u16 record size, from 72
inline constexpr u64 thread_id = 80;        // u32
inline constexpr u64 process_id = 84;       // u32
inline constexpr u64 record_time = 88;      // u64 timestamp of the record (session clock)
inline constexpr u64 processor_time = 96;   // u64
// fixed fields, the same for both pointer sizes
inline constexpr u64 buffer_size = 104;     // u32
inline constexpr u64 version = 108;         // u32
inline constexpr u64 provider_version = 112;  // u32 operating-system build number
inline constexpr u64 num_processors = 116;  // u32
inline constexpr u64 end_time = 120;        // u64
inline constexpr u64 timer_resolution = 128;  // u32
inline constexpr u64 max_file_size = 132;   // u32
inline constexpr u64 log_file_mode = 136;   // u32
inline constexpr u64 buffers_written = 140; // u32
inline constexpr u64 start_buffers = 144;   // u32
inline constexpr u64 pointer_size = 148;    // u32, 4 or 8
inline constexpr u64 events_lost = 152;     // u32
inline constexpr u64 cpu_speed = 156;       // u32 MHz
inline constexpr u64 fixed_end = 160;       // the copy kept in logfile_header_info

// The part after 160, as laid out with 8-byte pointers; with 4-byte pointers
// every field from the bias on sits 8 bytes earlier.
inline constexpr u64 logger_name_ptr = 160;   // u64 (u32 with 4-byte pointers)
inline constexpr u64 log_file_name_ptr = 168; // u64 (u32 at 164 with 4-byte pointers)
inline constexpr u64 bias = 176;              // i32 minutes
inline constexpr u64 standard_name = 180;     // 32 UTF-16 units
inline constexpr u64 standard_date = 244;     // SYSTEMTIME, 16 bytes
inline constexpr u64 standard_bias = 260;     // i32
inline constexpr u64 daylight_name = 264;     // 32 UTF-16 units
inline constexpr u64 daylight_date = 328;     // SYSTEMTIME, 16 bytes
inline constexpr u64 daylight_bias = 344;     // i32
inline constexpr u64 tz_padding = 348;        // u32
inline constexpr u64 boot_time = 352;         // u64
inline constexpr u64 perf_freq = 360;         // u64 ticks per second (QPC)
inline constexpr u64 start_time = 368;        // u64
inline constexpr u64 clock_type = 376;        // u32: 1 QPC, 2 system time, 3 CPU cycles
inline constexpr u64 buffers_lost = 380;      // u32
inline constexpr u64 logger_name_64 = 384;    // UTF-16 logger name, 8-byte pointers
inline constexpr u64 logger_name_32 = 376;    // UTF-16 logger name, 4-byte pointers
inline constexpr u64 narrow_shift = 8;        // how much earlier the 4-byte layout is
inline constexpr u64 tz_name_bytes = 64;
inline constexpr u64 systemtime_bytes = 16;

// The first buffer must hold more than 385 bytes: every fixed field of both
// layouts lies below 384.
inline constexpr u64 min_bytes = 386;

static_assert(systemtime_bytes == zarn::systemtime_size);
static_assert(standard_name + tz_name_bytes == standard_date);
static_assert(standard_date + systemtime_bytes + 4 == daylight_name);
static_assert(daylight_name + tz_name_bytes == daylight_date);
static_assert(daylight_date + systemtime_bytes + 4 + 4 == boot_time);
static_assert(buffers_lost + 4 == logger_name_64);
static_assert(logger_name_64 - narrow_shift == logger_name_32);
static_assert(logger_name_64 <= min_bytes);

inline constexpr u32 clock_qpc = 1;
inline constexpr u32 clock_cpu_cycles = 3;
}  // namespace logfile_header

struct logfile_header_info {
  std::array<u8, logfile_header::fixed_end> head{};  // the first 160 bytes
  u64 logger_name_ptr = 0;
  u64 log_file_name_ptr = 0;
  i32 bias = 0;
  std::string standard_name;  // UTF-8
  zarn::_windows_systemtime standard_date;
  i32 standard_bias = 0;
  std::string daylight_name;  // UTF-8
  zarn::_windows_systemtime daylight_date;
  i32 daylight_bias = 0;
  u32 tz_padding = 0;
  u64 boot_time = 0;
  u64 perf_freq = 0;
  u64 start_time = 0;
  u32 clock_type = 0;
  u32 buffers_lost = 0;
  std::string logger_name;    // UTF-8
  std::string log_file_name;  // UTF-8
  u8 clock_not_filetime = 0;  // record times are tick counts
  u8 clock_qpc = 0;
  u8 clock_cpu_cycles = 0;
  double tick_factor = 0.0;   // FILETIME ticks per raw tick
  u64 time_base = 0;          // FILETIME added after scaling

  // Zeroes every field, the copy of the first 160 bytes included, so nothing
  // of an earlier file survives.
  void clear();
  // The pointer size at 148 is 8.
  bool is_64bit() const;

  // Fields of the copied first 160 bytes.
  u32 first_buffer_size() const;  // u32 at 0
  u16 record_size() const;
  u32 thread_id() const;
  u32 process_id() const;
  u64 record_time() const;
  u64 processor_time() const;
  u32 buffer_size() const;
  u32 version() const;
  u32 provider_version() const;
  u32 num_processors() const;
  u64 end_time() const;
  u32 timer_resolution() const;
  u32 max_file_size() const;
  u32 log_file_mode() const;
  u32 buffers_written() const;
  u32 start_buffers() const;
  u32 pointer_size() const;
  u32 events_lost() const;
  u32 cpu_speed() const;
};

// Where the logger name starts for this pointer size.
constexpr u64 logger_name_offset(bool is_64bit) {
  return is_64bit ? logfile_header::logger_name_64 : logfile_header::logger_name_32;
}

// A tick count times a tick factor, truncated toward zero. False when the
// product does not fit in 64 bits (a damaged count or frequency).
[[nodiscard]] bool scaled_ticks(u64 ticks, double factor, u64& out);

// Parses the first buffer, `first_buffer` being exactly the bytes held. The
// info is cleared first; false (info left clear) when 385 bytes or fewer are
// held. The names are read only up to the end of the logfile-header record
// and never past the bytes held. A clock frequency or speed of 0 leaves the
// tick factor 0; a time base that would not fit in 64 bits stays 0.
[[nodiscard]] bool parse_logfile_header(logfile_header_info& info, std::span<const u8> first_buffer);
