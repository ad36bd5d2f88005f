#pragma once
// Recognition of what sits at the start of an .etl file, of the 72-byte
// buffer headers and of the trace-record headers inside a buffer, with the
// layouts of those headers.
//
// Every test here is pure: it reads little-endian bytes through the bounded
// reader and writes nothing but its out-parameters. Each takes a span of
// exactly the bytes the caller holds (for a record: from the record's first
// byte to the end of the buffer's filled part), so no field is ever read
// beyond them: bytes that are too few to hold a field make the test false.
#include <array>
#include <cstddef>
#include <span>

#include "common/zarn_time.hpp"
#include "common/zarn_types.hpp"
#include "decode/event_record.hpp"

// ---- file kinds ----

// The head of the file that is read before the kind is decided. A logfile-
// header or zeroed file is at least this long; an "RlFs" file needs only its
// own header (rlfs_header::min_size).
inline constexpr u64 etl_min_file_size = 386;

// "RlFs" header: u32 magic at 0, u64 FILETIME at 16, u64 start time at 24,
// u32 offset of the first buffer at 40, u64 header length at 48.
namespace rlfs_header {
inline constexpr u32 magic = 0x73466C52;        // the bytes "RlFs"
inline constexpr u64 magic_offset = 0;          // u32
inline constexpr u64 time_offset = 16;          // u64 FILETIME written
inline constexpr u64 start_time_offset = 24;    // u64 start time (FILETIME or ticks)
inline constexpr u64 buffers_start_offset = 40; // u32 offset of the first buffer
inline constexpr u64 length_offset = 48;        // u64 length of the whole header
inline constexpr u64 min_size = 72;             // the header's fixed part
// The header is read whole into memory; a length beyond this is damage, not
// a header (it would also be cut to 32 bits when read).
inline constexpr u64 max_length = u64{1} << 20;
static_assert(length_offset + 8 <= min_size);
}  // namespace rlfs_header

enum class etl_file_kind_t : u8 {
  not_etl,         // none of the kinds below: the file is not parsed
  logfile_header,  // the first buffer holds the logfile header
  rlfs,            // an "RlFs" header precedes the buffers
  zeroed,          // the first 72 bytes are all zero
};

// u32 at 0 (the first buffer's size) non-zero and not beyond the file.
// False when the file is under etl_min_file_size bytes or fewer than 4 bytes
// are held.
[[nodiscard]] bool is_logfile_first_buffer(std::span<const u8> head, u64 file_size);

// u32 0x73466C52 at 0, u64 header length at 48 not beyond the file and not
// above rlfs_header::max_length, u64 at 16 a valid FILETIME. False when the
// file is under 72 bytes or fewer than 72 bytes are held.
[[nodiscard]] bool is_rlfs_header(std::span<const u8> head, u64 file_size);

// True when the first 72 bytes are held and every one of them is zero.
[[nodiscard]] bool etw_header_is_zero(std::span<const u8> head);

// The file's kind from its head (etl_min_file_size bytes, or the whole of a
// shorter file). A file that starts with "RlFs" is an "RlFs" file or nothing:
// a large file with that magic is never taken for a logfile-header file. The
// other kinds need etl_min_file_size bytes.
[[nodiscard]] etl_file_kind_t etl_file_kind(std::span<const u8> head, u64 file_size);

// ---- buffer headers ----

inline constexpr u64 buffer_header_size = 72;

// The 72-byte buffer header as a logfile-header file stores it; the buffer
// context keeps every buffer's header in this layout.
namespace buffer_header {
inline constexpr u64 buffer_size = 0;      // u32 bytes in the buffer, header included
inline constexpr u64 saved_offset = 4;     // u32 bytes saved
inline constexpr u64 current_offset = 8;   // u32 bytes written so far
inline constexpr u64 reference = 12;       // u32
inline constexpr u64 time = 16;            // u64 buffer time (FILETIME or ticks)
inline constexpr u64 sequence = 24;        // u64
inline constexpr u64 clock = 32;           // u64
inline constexpr u64 processor = 40;       // u8 processor number
inline constexpr u64 alignment = 41;       // u8
inline constexpr u64 logger_id = 42;       // u16
inline constexpr u64 state = 44;           // u32
inline constexpr u64 filled_length = 48;   // u32 bytes in use, header included
inline constexpr u64 flags = 52;           // u16 buffer flags
inline constexpr u64 buffer_type = 54;     // u16
inline constexpr u64 word_56 = 56;         // u64
inline constexpr u64 pointer_word = 60;    // u32 high half of a kernel pointer on 64-bit systems
inline constexpr u64 word_64 = 64;         // u64
static_assert(word_64 + 8 == buffer_header_size);
// A relogger may compress a buffer: its bytes after the header are then no
// records, and reading them as records gives made-up providers and ids.
inline constexpr u16 flag_compressed = 0x0040;
}  // namespace buffer_header

// The buffer header of "RlFs" and zeroed files, where it differs.
namespace rlfs_buffer_header {
inline constexpr u64 word_0 = 0;           // u16
inline constexpr u64 record_type = 2;      // u16
inline constexpr u64 buffer_size = 4;      // u32 bytes in the buffer, header included
inline constexpr u64 word_8 = 8;           // u32
inline constexpr u64 time = 16;            // u64 buffer time
inline constexpr u64 word_24 = 24;         // u64, of which the low u32 is kept
inline constexpr u64 filled_length = 48;   // u32 bytes in use
}  // namespace rlfs_buffer_header

enum class buffer_header_mode : u8 {
  strict = 0,   // a zero buffer size fails
  lenient = 1,  // a zero buffer size passes
};

// False when fewer than 72 header bytes are held or fewer than 72 bytes are
// left in the file, when the buffer size (u32 at 4) is larger than the bytes
// left, or when it is zero in strict mode. Otherwise true, and bad_time tells
// whether the u64 at 16 is not a valid FILETIME (the time never decides the
// result). On false bad_time is untouched.
[[nodiscard]] bool check_buffer_header(std::span<const u8> header, bool& bad_time, u64 bytes_left,
                                       buffer_header_mode mode);

// What the record walk keeps per registered buffer: its header in the
// logfile-header layout, then the fields the walk adds.
struct buffer_context {
  std::array<u8, buffer_header_size> header{};  // logfile-header layout
  u16 record_type = 0;    // u16 at 2 of an "RlFs"-layout header; 0 otherwise
  u64 file_offset = 0;    // where the buffer starts in the file
  u8 converted = 0;       // 1 when the header was mapped from the "RlFs" layout
  u64 converted_time = 0; // the buffer time as a FILETIME
  u16 variant_9000 = 0;   // 0, or 28 or 24 once fixed

  u32 buffer_size() const;
  u32 saved_offset() const;
  u32 current_offset() const;
  u64 buffer_time() const;
  u8 processor_number() const;
  u16 logger_id() const;
  u32 filled_length() const;
  u32 pointer_word() const;
  // The buffer flags mark its records as compressed.
  bool is_compressed() const;
};

// Copies the 72 header bytes as they are. False (context untouched) when
// fewer than 72 bytes are held.
[[nodiscard]] bool copy_buffer_header(buffer_context& context, std::span<const u8> header);

// Maps an "RlFs"-layout header into the logfile-header layout (the table
// etw_header_to_72_map). False (context untouched) when fewer than 72 bytes
// are held.
[[nodiscard]] bool etw_header_to_72(buffer_context& context, std::span<const u8> header);

// One entry of that mapping: `width` bytes at `dest` of the context are the
// `src_width`-byte little-endian value at `src` of the "RlFs" header,
// widened; a src_width of 0 writes zero.
struct header_map_entry {
  u8 dest;
  u8 width;
  u8 src;
  u8 src_width;
};
inline constexpr std::array<header_map_entry, 16> etw_header_to_72_map = {{
    {0, 4, 4, 4},     // buffer size
    {4, 4, 48, 4},    // saved offset from the filled length
    {8, 4, 0, 2},     // current offset from the leading u16
    {12, 4, 8, 4},    //
    {16, 8, 16, 8},   // buffer time
    {24, 4, 24, 4},   // low half of the u64 at 24
    {28, 4, 0, 0},    // high half cleared
    {32, 8, 32, 8},   //
    {40, 1, 40, 1},   // processor number
    {41, 1, 41, 1},   //
    {42, 2, 42, 2},   // logger id
    {44, 4, 44, 4},   //
    {48, 4, 48, 4},   // filled length
    {52, 4, 52, 4},   //
    {56, 8, 56, 8},   //
    {64, 8, 64, 8},   //
}};

// ---- trace-record headers ----

// The header families the record tests tell apart.
enum class record_kind : u8 {
  trace_9000_28,  // 0x9000 trace message, time at 28
  trace_9000_24,  // 0x9000 trace message, time at 24
  event_header,   // 0xC012 / 0xC013 event header
  trace_c00a,     // 0xC00A / 0xC014 classic trace header
  trace_c011,     // 0xC011 / 0xC010 perfinfo header behind the generic one
  trace_c002,     // 0xC002 / 0xC001 system header behind the generic one
  generic,        // any other type code behind the generic header
};

// One recognised record header. The type code is the u16 at 2.
struct record_kind_row {
  u16 type_code;         // 0 on the generic row: any code
  record_kind kind;
  u16 header_length;     // the header its decoder reads; the payload follows it,
                         // and the record's size must reach it
  u16 time_offset;       // u64 record time; 0: the header has none
  u8 size_offset;        // u16 record size: 0, or 4 for the generic-header kinds
  bool generic;          // must first pass is_generic_trace_header
  bool time_nonzero;     // a zero time is refused
  bool filetime_escape;  // inside a known tick range a valid FILETIME also passes
  event_kind stored;     // the kind the event record keeps
};

inline constexpr std::array<record_kind_row, 11> record_kinds = {{
    {0x9000, record_kind::trace_9000_28, 44, 28, 0, false, false, true, event_kind::trace_9000_28},
    {0x9000, record_kind::trace_9000_24, 40, 24, 0, false, false, true, event_kind::trace_9000_24},
    {0xC012, record_kind::event_header, 80, 16, 0, false, false, true, event_kind::event_c012},
    {0xC013, record_kind::event_header, 80, 16, 0, false, false, true, event_kind::event_c013},
    {0xC00A, record_kind::trace_c00a, 48, 16, 0, false, false, true, event_kind::classic_c00a},
    {0xC014, record_kind::trace_c00a, 48, 16, 0, false, false, true, event_kind::classic_c00a},
    {0xC011, record_kind::trace_c011, 16, 8, 4, true, true, false, event_kind::perfinfo_c011},
    {0xC010, record_kind::trace_c011, 16, 8, 4, true, true, false, event_kind::perfinfo_c011},
    {0xC002, record_kind::trace_c002, 32, 16, 4, true, true, false, event_kind::system_c002},
    {0xC001, record_kind::trace_c002, 32, 16, 4, true, true, false, event_kind::system_c002},
    {0x0000, record_kind::generic, 8, 0, 4, true, false, false, event_kind::generic},
}};

// Every time field lies inside its header, so a record that holds its header
// holds its time.
static_assert([] {
  for (const record_kind_row& row : record_kinds) {
    if (row.time_offset + 8u > row.header_length && row.time_offset != 0) return false;
  }
  return true;
}());

// The row for this type code and kind (the generic row for any code), or
// nullptr.
const record_kind_row* find_record_kind(u16 type_code, record_kind kind);

// The header length of a kind (the same on every row of that kind).
constexpr u16 header_length_of(record_kind kind) {
  for (const record_kind_row& row : record_kinds) {
    if (row.kind == kind) return row.header_length;
  }
  return 0;
}

// The generic record header: u16 version at 0, u16 type code at 2, u16
// record size at 4, u16 hook id at 6.
namespace generic_header {
inline constexpr u64 version = 0;   // u16, 2 to 5
inline constexpr u64 type_code = 2; // u16
inline constexpr u64 size = 4;      // u16 record size, header included
inline constexpr u64 hook_id = 6;   // u16
static_assert(hook_id + 2 == header_length_of(record_kind::generic));
}  // namespace generic_header

// The event header of 0xC012/0xC013 records (the first 48 bytes are also the
// 0xC00A/0xC014 header).
namespace event_header {
inline constexpr u64 size = 0;            // u16 record size
inline constexpr u64 type_code = 2;       // u16
inline constexpr u64 flags = 4;           // u16, bit 0: extended data follows the header
inline constexpr u64 property = 6;        // u16
inline constexpr u64 thread_id = 8;       // u32
inline constexpr u64 process_id = 12;     // u32
inline constexpr u64 time = 16;           // u64
inline constexpr u64 provider = 24;       // guid
inline constexpr u64 event_id = 40;       // u16, start of the event descriptor
inline constexpr u64 task = 46;           // u16, the end of the 0xC00A/0xC014 header's share
inline constexpr u64 keywords = 48;       // u64
inline constexpr u64 processor_time = 56; // u64
inline constexpr u64 activity = 64;       // guid
inline constexpr u64 ext_length = 80;     // u16 items' total length, when flagged
inline constexpr u16 ext_flag = 0x0001;
inline constexpr u16 flag_32bit = 0x0020;  // the writer's pointers are 4 bytes
inline constexpr u16 flag_64bit = 0x0040;  // the writer's pointers are 8 bytes
static_assert(activity + 16 == header_length_of(record_kind::event_header));
static_assert(keywords == header_length_of(record_kind::trace_c00a));
static_assert(ext_length == header_length_of(record_kind::event_header));
}  // namespace event_header

// The other header layouts, from the record's first byte; each header's
// length is its row's in the record-kind table.
namespace rec9000 {
inline constexpr u64 size = 0;        // u16
inline constexpr u64 type_code = 2;   // u16 0x9000
inline constexpr u64 event_id = 4;    // u16 message number
inline constexpr u64 property = 6;    // u16 option flags
inline constexpr u16 option_sequence = 0x0001;  // a u32 sequence number comes first
inline constexpr u16 option_guid = 0x0002;      // the message GUID is present
// variant 28: u32 sequence at 8, then these 4 bytes later than in variant 24
inline constexpr u64 provider_24 = 8;   // guid
inline constexpr u64 time_24 = 24;      // u64
inline constexpr u64 thread_24 = 32;    // u32
inline constexpr u64 process_24 = 36;   // u32
inline constexpr u64 shift_28 = 4;
static_assert(process_24 + 4 == header_length_of(record_kind::trace_9000_24));
static_assert(process_24 + 4 + shift_28 == header_length_of(record_kind::trace_9000_28));
}  // namespace rec9000

// The classic 48-byte header: the class (type, level, version) sits where
// the event header keeps its flags and property, and bytes 40-47 hold
// processor time instead of an event descriptor.
namespace classic {
inline constexpr u64 class_type = 4;      // u8 event type
inline constexpr u64 class_level = 5;     // u8
inline constexpr u64 class_version = 6;   // u16, of which the low byte is kept
inline constexpr u64 processor_time = 40; // u64
static_assert(processor_time + 8 == header_length_of(record_kind::trace_c00a));
}  // namespace classic

namespace system_header {
inline constexpr u64 thread_id = 8;        // u32
inline constexpr u64 process_id = 12;      // u32
inline constexpr u64 time = 16;            // u64
inline constexpr u64 processor_time = 24;  // u64
static_assert(processor_time + 8 == header_length_of(record_kind::trace_c002));
}  // namespace system_header

namespace perfinfo_header {
inline constexpr u64 time = 8;  // u64
static_assert(time + 8 == header_length_of(record_kind::trace_c011));
}  // namespace perfinfo_header

// Records sit at 8-byte steps: a record occupies its size rounded up to 8.
constexpr u64 rounded_record_size(u16 size) { return (u64{size} + 7) & ~u64{7}; }

// The u16 at 0 is 2, 3, 4 or 5. False when fewer than 2 bytes are held.
[[nodiscard]] bool is_trace_header_version(std::span<const u8> record);

// Version 2 to 5 at 0 and a record size (u16 at 4) that covers the 8-byte
// header and is not larger than the bytes held.
[[nodiscard]] bool is_generic_trace_header(std::span<const u8> record);

// The record time test. Without a known range t must be a valid FILETIME.
// With one, t must not exceed `end`; then a valid-FILETIME `start` passes
// everything, a tick-count start passes t >= start, and with filetime_escape
// a t that is itself a valid FILETIME passes too.
[[nodiscard]] bool record_time_passes(u64 t, bool range_known, u64 start, u64 end,
                                      bool filetime_escape);

// The record tests. `record` runs from the record's first byte to the end of
// the buffer's filled part; the record's size must fit in it, reach the
// kind's minimum and its time must pass record_time_passes. False when any
// field the test needs lies outside `record`.
[[nodiscard]] bool is_trace_header_9000_28(std::span<const u8> record, bool range_known, u64 start,
                                           u64 end, u16 variant);
[[nodiscard]] bool is_trace_header_9000_24(std::span<const u8> record, bool range_known, u64 start,
                                           u64 end, u16 variant);
// With the extended-data flag the record must be at least 82 bytes and the
// items' total length (u16 at 80) must fit in it after the 80-byte header.
[[nodiscard]] bool is_event_header(std::span<const u8> record, bool range_known, u64 start, u64 end);
[[nodiscard]] bool is_trace_header_c00a(std::span<const u8> record, bool range_known, u64 start,
                                        u64 end);
[[nodiscard]] bool is_trace_header_c011(std::span<const u8> record, bool range_known, u64 start,
                                        u64 end);
[[nodiscard]] bool is_trace_header_c002(std::span<const u8> record, bool range_known, u64 start,
                                        u64 end);
