#pragma once
// The reader state of a run: what is known about the current file (its
// logfile header, clock and registered buffers), the walk over the trace
// records of each buffer, the events the current buffer produced (held under
// their file offsets until the buffer is done), the -guids/-stats/-pullguid
// collections, and the template map, which is kept across files.
#include <array>
#include <functional>
#include <map>
#include <set>
#include <span>
#include <string>
#include <unordered_map>

#include "common/byte_reader.hpp"
#include "common/guid.hpp"
#include "common/zarn_types.hpp"
#include "decode/decode_scratch.hpp"
#include "decode/template_map.hpp"
#include "etl/etl_headers.hpp"
#include "decode/event_record.hpp"
#include "etl/logfile_header.hpp"

// The time window the record tests use inside one buffer.
struct record_window {
  bool range_known = false;  // record times are tick counts of the session clock
  u64 start = 0;
  u64 end = 0;
};

// A FILETIME above this is taken for a FILETIME rather than a tick count.
inline constexpr u64 filetime_floor = 0x01C0000000000000ull;

class trace_processor {
 public:
  trace_processor();

  // Forgets the current file. With `full` the template map is cleared too;
  // without it the templates stay for the next file.
  void reset(bool full);
  // Fills the template map (cleared first): the user's template file when
  // one is named (its templates win), the templates and provider names of
  // the appended block when it parses (the map keeps the block and compiles
  // a provider's templates when a log first needs them), then the built-in
  // kernel provider names and hook groups for what is still unnamed. False,
  // with the reason on standard error, when the named file could not be
  // read, held nothing or was refused for its size; the rest is loaded all
  // the same.
  bool load_templates(byte_array block = {}, const std::string& templates_file = {});
  // Takes a parsed logfile header; `bytes_held` is how much of the first
  // buffer was read. False (nothing changed) when the header's first-buffer
  // size is zero or larger than the bytes held.
  [[nodiscard]] bool take_file_header(const logfile_header_info& info, u64 bytes_held);
  // Sets up a file without logfile header from its "RlFs" header or its 72
  // zero bytes: the first buffer header is kept, record times with a start
  // that is not a FILETIME count as ticks, and the template selector is 0.
  // False (nothing changed) when the bytes are neither.
  [[nodiscard]] bool init_from_first_buffer(std::span<const u8> header);
  // A raw record time as a FILETIME. Without clock range flags the value is
  // already one; otherwise it is scaled by the tick factor and the base is
  // added. 0 when it cannot be converted (no factor, or a product that does
  // not fit in 64 bits).
  u64 ticks_to_time(u64 raw) const;
  // Pointer-sized payload fields are 8 bytes.
  bool is_64bit_trace(const buffer_context* context) const;
  // Registers the buffer at `file_offset`. False when that offset is
  // registered already or fewer than 72 bytes are held.
  [[nodiscard]] bool register_buffer(std::span<const u8> buffer, u64 file_offset, bool converted);
  // Registers the buffer and decodes every record in it, starting at
  // `first_record`, into pending event records; a compressed buffer becomes
  // one corrupted record that covers it. Whole records past the
  // filled length are read too; bytes that no record test accepts inside the
  // filled length are reported as one corrupted record per run of them.
  // False when the buffer could not be registered.
  bool walk_buffer_records(std::span<const u8> buffer, u64 file_offset,
                           u64 first_record = buffer_header_size);
  // The record header at the start of `record` (which runs to the end of the
  // buffer), tried in the walk's order; null when no test accepts it.
  const record_kind_row* recognise_record(std::span<const u8> record,
                                          const record_window& window) const;
  // The 0x9000 layout (28 or 24, or 0 for either) the tests accept for this
  // trace message: the one its option flags state, else the file's.
  u16 message_variant(std::span<const u8> record) const;
  // From `position` inside `buffer`, whose first `filled` bytes are in use,
  // skips 8 bytes at a time to the next recognised record anywhere in the
  // buffer. The bytes skipped become one pending corrupted record; when no
  // record follows they end at the filled length and are not reported if
  // they are unused space (all 0x00 or all 0xFF). Returns the bytes skipped,
  // 0 when nothing was reported.
  u64 resync(std::span<const u8> buffer, u64 filled, u64 position, u64 buffer_offset,
             const buffer_context& context, const record_window& window);
  // Puts a pending corrupted record of `length` bytes at `file_offset`;
  // null when a record is pending there already.
  event_record* add_corrupted_record(u64 file_offset, u64 length, const buffer_context& context);
  // Decodes one recognised record; `record` holds exactly the record's
  // bytes (its size as the header states it). A record whose offset is
  // pending already is left alone.
  void decode_record(const record_kind_row& row, std::span<const u8> record, u64 file_offset,
                     const buffer_context& context);
  // The record's extended-data items (`items`, empty when it has none) and
  // its payload into its fields: a schema item's template decodes the start
  // of the payload, the provider's template (for the class version its
  // header carries) what follows.
  void decode_record_payload(event_record& r, std::span<const u8> items,
                             std::span<const u8> payload, bool provider_found,
                             const buffer_context& context, u16 class_version);
  // The items, found at file offset `items_offset`, into `map` under their
  // file offsets; a schema item's template is applied to the start of
  // `payload`. Returns the payload bytes that template decoded.
  u64 decode_extended_items(field_map& map, std::span<const u8> items,
                            std::span<const u8> payload, bool pointer64, u64 items_offset);
  // Pointer-sized payload fields of this record are 8 bytes: its event
  // header's flags say so where they carry a pointer size, else the file's
  // rule (is_64bit_trace).
  bool pointer_is_64bit(const event_record& r, const buffer_context& context) const;
  // A record whose provider is known: its name, and the -guids, -stats and
  // -pullguid collections.
  void note_provider(event_record& r);
  // Hands each pending record to `write_row` in file-offset order, then
  // empties the pending map and releases the buffer contexts.
  void flush_pending_records(const std::function<void(event_record&)>& write_row);
  // Empties the pending map and releases the buffer contexts.
  void drop_pending_records();

  // The time window of the record tests in this buffer.
  record_window window_for(const buffer_context& context) const;

  std::string file_name;
  logfile_header_info logfile_header;
  std::array<u8, buffer_header_size> first_buffer_header{};
  u8 has_logfile_header = 1;
  std::string session_name;
  std::string log_file_name;
  template_map templates;
  pending_records pending;
  // The buffers whose records are pending, and the file's first buffer (its
  // header tells the pointer size of a file without logfile header). Others
  // are released with their records, so memory stays bounded by one buffer
  // however many the file holds.
  std::map<u64, buffer_context> buffers;
  u8 clock_qpc = 0;         // first clock range flag
  u8 clock_cpu_cycles = 0;  // second clock range flag
  double tick_factor = 0.0;
  u64 time_base = 0;
  u16 variant_9000 = 0;     // 0, or 28 or 24 once fixed for the file
  u8 no_guessing = 0;

  // -guids, -stats and -pullguid collections.
  std::set<guid> providers_seen;
  std::map<guid, std::map<u64, u64>> event_counts;  // counted only while statistics is set
  // Only while collect_records is set, and only for the buffer last walked.
  std::map<u64, u64> record_sizes;          // record offset -> rounded size
  // Each record of a -pullguid run is put here: its provider is ordered
  // bytewise (as guid_less orders it) as two big-endian 8-byte halves,
  // without calls.
  struct provider_less {
    static u64 big_endian_half(const u8* p) {
      return u64{p[0]} << 56 | u64{p[1]} << 48 | u64{p[2]} << 40 | u64{p[3]} << 32 |
             u64{p[4]} << 24 | u64{p[5]} << 16 | u64{p[6]} << 8 | u64{p[7]};
    }
    bool operator()(const guid& a, const guid& b) const {
      const u64 a_high = big_endian_half(a.bytes);
      const u64 b_high = big_endian_half(b.bytes);
      if (a_high != b_high) return a_high < b_high;
      return big_endian_half(a.bytes + 8) < big_endian_half(b.bytes + 8);
    }
  };
  std::multimap<guid, u64, provider_less> provider_records;  // provider -> record offsets
  u32 statistics = 0;
  u8 collect_records = 0;
  // The records become rows: their payloads are decoded and their provider
  // names looked up. The modes that only count or copy records need neither.
  u8 write_rows = 1;

  // What the file's records have shown of each provider: its name and its
  // counts.
  struct provider_note {
    std::string name;
    std::map<u64, u64>* counts = nullptr;  // into event_counts while statistics is set
  };
  // Every record looks its provider up here: the GUID is hashed and compared
  // as its two 8-byte halves, without calls.
  struct provider_hash {
    std::size_t operator()(const guid& g) const {
      return static_cast<std::size_t>(zarn::load_u64(g.bytes) ^
                                      (zarn::load_u64(g.bytes + 8) * 0x9E3779B97F4A7C15ull));
    }
  };
  struct provider_equal {
    bool operator()(const guid& a, const guid& b) const {
      return zarn::load_u64(a.bytes) == zarn::load_u64(b.bytes) &&
             zarn::load_u64(a.bytes + 8) == zarn::load_u64(b.bytes + 8);
    }
  };
  std::unordered_map<guid, provider_note, provider_hash, provider_equal> provider_notes;
  // The record being noted when records are not written.
  event_record scratch_record;
  // The storage that decoding the payloads reuses from event to event.
  decode_scratch payload_scratch;
};

// Where the payload starts after the extended-data items that follow an
// event header at `first_item`. Each item must pass the item test against
// the bytes left in the record, and the walk follows the link fields; an
// item that does not pass ends the items there.
u64 skip_extended_items(std::span<const u8> record, u64 first_item);
