#pragma once
// Byte-built .etl logs for tests and demos.
//
// `writer` appends little-endian values one field at a time, so a layout
// reads as a list of fields with a comment each and never depends on the
// host. On top of it: the logfile-header first buffer (both pointer sizes),
// the "RlFs" header, 72-byte buffer headers in both layouts, one builder per
// record kind, extended-data items, a buffer assembler that places records
// at 8-byte steps, and named ways to damage what was built.
//
// Every builder returns the record or header exactly as long as its size
// field says (records are not padded; the buffer assembler aligns them).
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/guid.hpp"
#include "common/zarn_types.hpp"

namespace logbuild {

// Some FILETIMEs and tick counts to build with.
inline constexpr u64 ft_2020 = 132223104000000000ull;  // 2020-01-01 00:00:00 UTC
inline constexpr u64 ft_2021 = 132539328000000000ull;  // 2021-01-01 00:00:00 UTC

// The provider GUID from its dashed text; a malformed text is a test bug and
// gives the zero GUID.
guid guid_of(std::string_view text);

class writer {
 public:
  writer& put_u8(u8 v);
  writer& put_u16(u16 v);
  writer& put_u32(u32 v);
  writer& put_u64(u64 v);
  writer& put_i32(i32 v);
  writer& put_guid(const guid& g);  // the 16 bytes as stored
  // UTF-16LE units of `text`, then a 0 unit when `terminator` is set.
  writer& put_utf16(std::u16string_view text, bool terminator = true);
  writer& put_bytes(std::span<const u8> bytes);
  writer& put_zeros(u64 n);
  writer& pad_to(u64 size);   // zeros up to `size` bytes in all
  writer& align_to(u64 step); // zeros up to the next multiple of `step`

  // Overwrites an already written field.
  void set_u16_at(u64 off, u16 v);
  void set_u32_at(u64 off, u32 v);
  void set_u64_at(u64 off, u64 v);

  u64 size() const { return bytes_.size(); }
  const byte_array& bytes() const { return bytes_; }
  byte_array take() { return std::move(bytes_); }

 private:
  byte_array bytes_;
};

// Little-endian patches on finished bytes (tests damage logs with these).
void set_u16(byte_array& bytes, u64 off, u16 v);
void set_u32(byte_array& bytes, u64 off, u32 v);
void set_u64(byte_array& bytes, u64 off, u64 v);

// ---- buffer headers ----

// The fields of a 72-byte buffer header. In the logfile-header layout the
// buffer size is the u32 at 0; in the "RlFs" layout (also used by zeroed
// files) it is the u32 at 4 and the record type is the u16 at 2.
struct buffer_header_fields {
  u32 buffer_size = 0x1000;
  u32 saved_offset = 0;
  u32 current_offset = 0;
  u64 time = ft_2020;
  u64 sequence = 1;
  u8 processor = 0;
  u16 logger_id = 0x10;
  u32 filled_length = 72;
  u32 pointer_word = 0xFFFFF800;  // high half of a 64-bit kernel pointer
  u16 record_type = 0;            // "RlFs" layout only
};
byte_array build_buffer_header(const buffer_header_fields& f);
byte_array build_rlfs_buffer_header(const buffer_header_fields& f);

// ---- the logfile-header first buffer ----

struct logfile_header_fields {
  u32 pointer_size = 8;           // 8: 64-bit layout; else the 4-byte layout
  u32 first_buffer_size = 0x1000; // u32 at 0 and the buffer size at 104
  u32 thread_id = 0x1934;         // system trace header of the record
  u32 process_id = 0x1ddc;
  u64 record_time = 0x0000027f2e70e03dull;  // u64 at 88: ticks of the session clock
  u64 processor_time = 0x0000000200000002ull;
  u32 version = 0x05010a00;
  u32 provider_version = 19045;   // operating-system build number
  u32 num_processors = 8;
  u64 end_time = ft_2021;
  u32 timer_resolution = 156250;
  u32 max_file_size = 100;
  u32 log_file_mode = 0x1;
  u32 buffers_written = 6;
  u32 start_buffers = 1;
  u32 events_lost = 0;
  u32 cpu_speed_mhz = 1992;
  u64 logger_name_ptr = 0;
  u64 log_file_name_ptr = 0;
  i32 timezone_bias = -60;
  std::u16string standard_name = u"@tzres.dll,-302";
  u16 standard_date[8] = {0, 10, 0, 5, 3, 0, 0, 0};
  i32 standard_bias = 0;
  std::u16string daylight_name = u"@tzres.dll,-301";
  u16 daylight_date[8] = {0, 3, 0, 5, 2, 0, 0, 0};
  i32 daylight_bias = -60;
  u32 padding_after_time_zone = 0;
  u64 boot_time = ft_2020 - 36000000000ull;
  u64 perf_freq = 10000000;
  u64 start_time = ft_2020;
  u32 clock_type = 1;             // 1 QPC, 2 system time, 3 CPU cycles
  u32 buffers_lost = 0;
  std::u16string logger_name = u"Test Session";
  std::u16string log_file_name = u"c:\\logs\\test.etl";
  // u16 record size at 76; 0 = computed to end right after the names
  u16 record_size = 0;
};
// 72-byte buffer header, the 32-byte system trace header at 72, the fields
// from 104 on, the two names, zeros to the buffer size.
byte_array build_logfile_first_buffer(const logfile_header_fields& f);

// ---- the "RlFs" header ----

struct rlfs_header_fields {
  u64 time = ft_2020;           // u64 at 16
  u64 start_time = ft_2020;     // u64 at 24
  u32 buffers_start = 0x200;    // u32 at 40
  u64 header_length = 0x200;    // u64 at 48; the header is written this long
};
byte_array build_rlfs_header(const rlfs_header_fields& f);

// ---- trace records ----

// 0x9000 trace message. variant 28: u32 at 8, GUID at 12, time at 28;
// variant 24: GUID at 8, time at 24.
struct record_9000 {
  u16 variant = 28;
  u16 event_id = 1;
  u16 property = 0;
  guid provider = guid_of("2818ef08-6a54-396f-2244-5a6ea4a98cf0");
  u64 time = ft_2020 + 1;
  u32 thread_id = 100;
  u32 process_id = 200;
  byte_array payload = {1, 2, 3, 4};
};

// One extended-data item; its size is 8 + data, rounded up to 8.
struct ext_item_fields {
  u16 type = 3;
  byte_array data = {0x2A, 0, 0, 0};
};

// 0xC012/0xC013 event header (80 bytes) and 0xC00A/0xC014 classic header
// (its first 48 bytes). The extended-data flag is set when items are given.
struct record_event {
  u16 type_code = 0xC012;
  u16 flags = 0;
  u16 property = 0;
  u32 thread_id = 100;
  u32 process_id = 200;
  u64 time = ft_2020 + 2;
  guid provider = guid_of("8e805eb3-6a8f-4a1e-90fa-a831d94e54a1");
  u16 event_id = 7;
  u8 version = 0;
  u8 channel = 16;
  u8 level = 4;
  u8 opcode = 0;
  u16 task = 0;
  u64 keywords = 0x8000000000000000ull;  // 0xC012/0xC013 only
  u64 processor_time = 0;                // 0xC012/0xC013 only
  guid activity{};                       // 0xC012/0xC013 only
  std::vector<ext_item_fields> items{};
  byte_array payload = {1, 2, 3, 4};
};

// 0xC011/0xC010: generic header and u64 time at 8 (16 bytes).
// 0xC002/0xC001: generic header, u32 thread id, u32 process id, u64 time at
// 16, u64 processor time at 24 (32 bytes). Generic: the 8-byte header alone.
struct record_generic {
  u16 type_code = 0xC002;
  u16 version = 2;
  u16 hook_id = 0x0050;
  u32 thread_id = 100;
  u32 process_id = 200;
  u64 time = ft_2020 + 3;
  u64 processor_time = 0x20;
  byte_array payload = {1, 2, 3, 4};
};

byte_array build_record(const record_9000& r);
byte_array build_ext_items(const std::vector<ext_item_fields>& items);

// The data of an event schema item (type 11): u16 size of the data, the
// event's tag bytes, the event name, then per field its name and its type
// bytes (in-type, out-type, tags, count or layout as the field needs).
struct schema_field_bytes {
  std::string name;
  byte_array type;
};
byte_array build_schema(const byte_array& tags, const std::string& event,
                        const std::vector<schema_field_bytes>& fields);
// 80-byte header for 0xC012/0xC013, 48-byte header for 0xC00A/0xC014.
byte_array build_record(const record_event& r);
// The header length follows the type code: 16 for 0xC011/0xC010, 32 for
// 0xC002/0xC001, 8 for any other code.
byte_array build_record(const record_generic& r);

// ---- buffers ----

// Lays records out after a 72-byte header at 8-byte steps, zero-filled
// between them, and fills in the buffer size and the filled length.
class buffer_builder {
 public:
  explicit buffer_builder(buffer_header_fields header = {}, bool rlfs_layout = false);
  buffer_builder& add(const byte_array& record);
  // Bytes no record test accepts, placed like a record.
  buffer_builder& add_garbage(u64 n, u8 fill = 0xEE);
  // Where each added piece starts, from the buffer's first byte.
  u64 offset_of(std::size_t index) const { return offsets_.at(index); }
  u64 filled_length() const { return body_.size(); }
  // The buffer, header first; its size is header.buffer_size, or the filled
  // length rounded to 8 when that is 0 or too small.
  byte_array finish() const;

 private:
  buffer_header_fields header_;
  bool rlfs_layout_;
  writer body_;
  std::vector<u64> offsets_;
};

// ---- the template block the build places in the program ----

// A count or string length: below 0x80 one byte, else two bytes, high part
// first with the top bit set.
void put_count(writer& w, u32 value);
// A name table: the count, then each name as its length and its bytes.
byte_array build_name_table(const std::vector<std::string>& names);

struct template_chunk_fields {
  std::vector<u16> selectors{};
  guid provider = guid_of("e13c0d23-ccbc-4e12-931b-d9cc2eee27e4");
  u16 name_index = 0;        // into the provider-name table
  bool range = false;
  u16 first_id = 0;
  u16 last_id = 0;
  std::vector<u16> ids{};
  std::vector<u16> types{};
  std::vector<u16> name_indexes{};  // into the field-name table, aligned with types
  i32 length = -1;                // the u16 L written; -1: the chunk's true length
};
// One chunk: u16 L, the selectors, GUID, name index, range, ids, type words
// and name indexes.
byte_array build_template_chunk(const template_chunk_fields& f);

// ---- damage, by name ----

// The bytes as a view, for the readers that take spans.
inline std::span<const u8> bytes_of(const byte_array& b) { return {b.data(), b.size()}; }

// The first n bytes, in a vector of exactly n bytes.
byte_array cut_short(const byte_array& bytes, u64 n);
// Writes a wrong record size: the u16 at 0 (at 4 for generic headers) of
// the record at `offset`.
void set_record_size(byte_array& buffer, u64 offset, u16 size, bool generic_header = false);
// Clears the buffer size of the buffer starting at `offset`.
void zero_buffer_size(byte_array& file, u64 offset, bool rlfs_layout = false);

// The pieces one after another.
byte_array join(std::initializer_list<byte_array> pieces);

}  // namespace logbuild
