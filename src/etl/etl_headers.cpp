#include "etl/etl_headers.hpp"

#include <algorithm>

#include "common/byte_reader.hpp"
#include "common/zarn_time.hpp"

using zarn::fits;
using zarn::u16_at;
using zarn::u32_at;
using zarn::u64_at;
using zarn::u8_at;

namespace {

bool holds(std::span<const u8> bytes, u64 n) { return bytes.size() >= n; }

// Where each kind's rows lie in record_kinds. The table keeps the rows of a
// kind together, so a lookup tries the one or two rows of its kind.
struct kind_rows {
  u8 first = 0;
  u8 count = 0;
};
constexpr u8 kind_count = static_cast<u8>(record_kind::generic) + 1;
constexpr std::array<kind_rows, kind_count> rows_by_kind = [] {
  std::array<kind_rows, kind_count> out{};
  for (u8 i = 0; i < record_kinds.size(); ++i) {
    kind_rows& k = out[static_cast<u8>(record_kinds[i].kind)];
    if (k.count == 0) k.first = i;
    ++k.count;
  }
  return out;
}();
static_assert([] {
  for (u8 k = 0; k < kind_count; ++k) {
    for (u8 i = 0; i < rows_by_kind[k].count; ++i) {
      if (static_cast<u8>(record_kinds[rows_by_kind[k].first + i].kind) != k) return false;
    }
  }
  return true;
}(), "the rows of a kind must follow each other");

// Size, minimum size and time, in that order, for one row whose type code
// the caller has matched. The 0x9000 variant and the extended-data test are
// added by the callers.
bool passes_row(std::span<const u8> record, const record_kind_row& row, bool range_known,
                u64 start, u64 end) {
  if (row.generic && !is_generic_trace_header(record)) return false;
  const u16 size = u16_at(record, row.size_offset);  // held: the caller checked 6 bytes
  // a damaged size may claim more than the buffer holds
  if (size > record.size()) return false;
  // a record shorter than its own header would put its time field, and its
  // payload start, outside the record
  if (size < row.header_length) return false;
  const u64 t = u64_at(record, row.time_offset);  // inside: the table's time fields lie in its headers
  if (row.time_nonzero && t == 0) return false;
  return record_time_passes(t, range_known, start, end, row.filetime_escape);
}

// The row of `kind` for the record's type code, tested.
bool passes_kind(std::span<const u8> record, record_kind kind, bool range_known, u64 start, u64 end) {
  // size at 0 (or 4) and type code at 2 must be held before anything is read
  if (!holds(record, 6)) return false;
  const record_kind_row* row = find_record_kind(u16_at(record, 2), kind);
  return row != nullptr && passes_row(record, *row, range_known, start, end);
}

}  // namespace

// ---- file kinds ----

bool is_logfile_first_buffer(std::span<const u8> head, u64 file_size) {
  if (file_size < etl_min_file_size || !holds(head, 4)) return false;
  const u32 first_buffer_size = u32_at(head, 0);
  return first_buffer_size != 0 && first_buffer_size <= file_size;
}

bool is_rlfs_header(std::span<const u8> head, u64 file_size) {
  if (file_size < rlfs_header::min_size || !holds(head, rlfs_header::min_size)) return false;
  const u64 length = u64_at(head, rlfs_header::length_offset);
  // the header is read whole: it cannot be longer than the file, nor absurdly long
  if (length > file_size || length > rlfs_header::max_length) return false;
  return u32_at(head, rlfs_header::magic_offset) == rlfs_header::magic &&
         zarn::is_valid_filetime(u64_at(head, rlfs_header::time_offset));
}

bool etw_header_is_zero(std::span<const u8> head) {
  // Every byte must be zero: a sum of words can wrap to zero on garbage.
  if (!holds(head, buffer_header_size)) return false;
  auto first = head.first(buffer_header_size);
  return std::all_of(first.begin(), first.end(), [](u8 b) { return b == 0; });
}

etl_file_kind_t etl_file_kind(std::span<const u8> head, u64 file_size) {
  // "RlFs" first: its magic read as a first-buffer size is about 1.9 GB, which
  // a large file would accept. Such a file needs only its own header: a
  // real-time backup file of one small buffer is a few hundred bytes.
  if (holds(head, 4) && u32_at(head, 0) == rlfs_header::magic) {
    return is_rlfs_header(head, file_size) ? etl_file_kind_t::rlfs : etl_file_kind_t::not_etl;
  }
  if (file_size < etl_min_file_size) return etl_file_kind_t::not_etl;
  if (is_logfile_first_buffer(head, file_size)) return etl_file_kind_t::logfile_header;
  if (etw_header_is_zero(head)) return etl_file_kind_t::zeroed;
  return etl_file_kind_t::not_etl;
}

// ---- buffer headers ----

bool check_buffer_header(std::span<const u8> header, bool& bad_time, u64 bytes_left,
                         buffer_header_mode mode) {
  if (!holds(header, buffer_header_size) || bytes_left < buffer_header_size) return false;
  const u32 size = u32_at(header, rlfs_buffer_header::buffer_size);
  if (size > bytes_left) return false;
  if (size == 0 && mode == buffer_header_mode::strict) return false;
  bad_time = !zarn::is_valid_filetime(u64_at(header, rlfs_buffer_header::time));
  return true;
}

u32 buffer_context::buffer_size() const { return u32_at(header, buffer_header::buffer_size); }
u32 buffer_context::saved_offset() const { return u32_at(header, buffer_header::saved_offset); }
u32 buffer_context::current_offset() const { return u32_at(header, buffer_header::current_offset); }
u64 buffer_context::buffer_time() const { return u64_at(header, buffer_header::time); }
u8 buffer_context::processor_number() const { return u8_at(header, buffer_header::processor); }
u16 buffer_context::logger_id() const { return u16_at(header, buffer_header::logger_id); }
u32 buffer_context::filled_length() const { return u32_at(header, buffer_header::filled_length); }
u32 buffer_context::pointer_word() const { return u32_at(header, buffer_header::pointer_word); }
bool buffer_context::is_compressed() const {
  return (u16_at(header, buffer_header::flags) & buffer_header::flag_compressed) != 0;
}

bool copy_buffer_header(buffer_context& context, std::span<const u8> header) {
  if (!holds(header, buffer_header_size)) return false;
  std::copy_n(header.begin(), buffer_header_size, context.header.begin());
  return true;
}

bool etw_header_to_72(buffer_context& context, std::span<const u8> header) {
  if (!holds(header, buffer_header_size)) return false;
  for (const header_map_entry& e : etw_header_to_72_map) {
    const u64 value = e.src_width == 0 ? 0 : zarn::le_at(header, e.src, e.src_width);
    zarn::store_le(context.header, e.dest, e.width, value);
  }
  context.record_type = u16_at(header, rlfs_buffer_header::record_type);
  return true;
}

// ---- trace-record headers ----

const record_kind_row* find_record_kind(u16 type_code, record_kind kind) {
  if (static_cast<u8>(kind) >= kind_count) return nullptr;
  const kind_rows& rows = rows_by_kind[static_cast<u8>(kind)];
  for (u8 i = rows.first; i < rows.first + rows.count; ++i) {
    const record_kind_row& row = record_kinds[i];
    if (row.type_code == type_code || kind == record_kind::generic) return &row;
  }
  return nullptr;
}

bool is_trace_header_version(std::span<const u8> record) {
  if (!holds(record, 2)) return false;
  const u16 version = u16_at(record, generic_header::version);
  return version >= 2 && version <= 5;
}

bool is_generic_trace_header(std::span<const u8> record) {
  constexpr u16 length = header_length_of(record_kind::generic);
  if (!holds(record, length) || !is_trace_header_version(record)) return false;
  const u16 size = u16_at(record, generic_header::size);
  // a size under 8 cannot hold this header; its payload length would be negative
  return size >= length && size <= record.size();
}

bool record_time_passes(u64 t, bool range_known, u64 start, u64 end, bool filetime_escape) {
  if (!range_known) return zarn::is_valid_filetime(t);
  if (t > end) return false;
  if (zarn::is_valid_filetime(start)) return true;
  if (t >= start) return true;
  return filetime_escape && zarn::is_valid_filetime(t);
}

bool is_trace_header_9000_28(std::span<const u8> record, bool range_known, u64 start, u64 end,
                             u16 variant) {
  if (variant != 0 && variant != 28) return false;
  return passes_kind(record, record_kind::trace_9000_28, range_known, start, end);
}

bool is_trace_header_9000_24(std::span<const u8> record, bool range_known, u64 start, u64 end,
                             u16 variant) {
  if (variant != 0 && variant != 24) return false;
  return passes_kind(record, record_kind::trace_9000_24, range_known, start, end);
}

bool is_event_header(std::span<const u8> record, bool range_known, u64 start, u64 end) {
  if (!passes_kind(record, record_kind::event_header, range_known, start, end)) return false;
  if ((u16_at(record, event_header::flags) & event_header::ext_flag) == 0) return true;
  const u16 size = u16_at(record, event_header::size);  // checked: <= record.size()
  // the u16 at 80 must lie inside the record before it is read
  if (size < event_header::ext_length + 2) return false;
  // the items' length, which a damaged record may claim beyond its own size
  const u16 items = u16_at(record, event_header::ext_length);
  return fits(size, event_header::ext_length, items);
}

bool is_trace_header_c00a(std::span<const u8> record, bool range_known, u64 start, u64 end) {
  return passes_kind(record, record_kind::trace_c00a, range_known, start, end);
}

bool is_trace_header_c011(std::span<const u8> record, bool range_known, u64 start, u64 end) {
  return passes_kind(record, record_kind::trace_c011, range_known, start, end);
}

bool is_trace_header_c002(std::span<const u8> record, bool range_known, u64 start, u64 end) {
  return passes_kind(record, record_kind::trace_c002, range_known, start, end);
}
