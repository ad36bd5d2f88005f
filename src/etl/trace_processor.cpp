#include "etl/trace_processor.hpp"

#include <algorithm>
#include <cassert>
#include <limits>
#include <utility>

#include "common/byte_reader.hpp"
#include "decode/apply_template.hpp"
#include "decode/decode_payload.hpp"
#include "decode/extended_item.hpp"
#include "decode/field_map.hpp"
#include "decode/kernel_providers.hpp"
#include "decode/template_db.hpp"
#include "platform/console.hpp"

using zarn::u16_at;
using zarn::u32_at;
using zarn::u64_at;
using zarn::u8_at;

namespace {

// The smallest record header (the generic one): a position with fewer bytes
// left cannot start a record.
constexpr u64 min_record_header = header_length_of(record_kind::generic);

// Each fill_ function copies one header layout into the record; the record
// test that recognised it has checked that the whole header is held. The
// header is taken as a span of its fixed length, so that no field read
// needs a bounds test of its own.
template <std::size_t length>
std::span<const u8, length> header_of(std::span<const u8> rec) {
  assert(rec.size() >= length);
  return rec.first<length>();
}

void fill_trace_message(event_record& r, std::span<const u8> record, u64 shift) {
  const std::span<const u8> rec = shift == 0
      ? std::span<const u8>(header_of<header_length_of(record_kind::trace_9000_24)>(record))
      : std::span<const u8>(header_of<header_length_of(record_kind::trace_9000_28)>(record));
  r.size = u16_at(rec, rec9000::size);
  r.header_type = u16_at(rec, rec9000::type_code);
  r.descriptor.id = u16_at(rec, rec9000::event_id);
  r.event_property = u16_at(rec, rec9000::property);
  r.provider = guid(rec.subspan(rec9000::provider_24 + shift, 16).data());
  r.raw_time = u64_at(rec, rec9000::time_24 + shift);
  r.thread_id = u32_at(rec, rec9000::thread_24 + shift);
  r.process_id = u32_at(rec, rec9000::process_24 + shift);
}

// The first 48 bytes, which the classic header shares.
void fill_event_header_start(event_record& r, std::span<const u8, event_header::keywords> rec) {
  namespace eh = event_header;
  r.size = u16_at(rec, eh::size);
  r.header_type = u16_at(rec, eh::type_code);
  r.thread_id = u32_at(rec, eh::thread_id);
  r.process_id = u32_at(rec, eh::process_id);
  r.raw_time = u64_at(rec, eh::time);
  r.provider = guid(rec.subspan<eh::provider, 16>().data());
}

// Returns where the payload starts: after the header, and after the
// extended-data items when the header says they follow.
u64 fill_event_header(event_record& r, std::span<const u8> record) {
  namespace eh = event_header;
  constexpr u64 length = header_length_of(record_kind::event_header);
  const std::span<const u8, length> rec = header_of<length>(record);
  fill_event_header_start(r, rec.first<eh::keywords>());
  r.flags = u16_at(rec, eh::flags);
  r.event_property = u16_at(rec, eh::property);
  r.descriptor.id = u16_at(rec, eh::event_id);
  r.descriptor.version = u8_at(rec, eh::event_id + 2);
  r.descriptor.channel = u8_at(rec, eh::event_id + 3);
  r.descriptor.level = u8_at(rec, eh::event_id + 4);
  r.descriptor.opcode = u8_at(rec, eh::event_id + 5);
  r.descriptor.task = u16_at(rec, eh::task);
  r.descriptor.keywords = u64_at(rec, eh::keywords);
  r.processor_time = u64_at(rec, eh::processor_time);
  r.activity = guid(rec.subspan<eh::activity, 16>().data());
  // the items' length field is not trusted: the items are walked within the
  // record
  if ((r.flags & eh::ext_flag) != 0) return skip_extended_items(record, length);
  return length;
}

void fill_classic_header(event_record& r, std::span<const u8> record) {
  const auto rec = header_of<header_length_of(record_kind::trace_c00a)>(record);
  fill_event_header_start(r, rec.first<event_header::keywords>());
  // the event id of a classic record is its class type
  r.descriptor.id = u8_at(rec, classic::class_type);
  r.descriptor.level = u8_at(rec, classic::class_level);
  r.descriptor.version = u8_at(rec, classic::class_version);
  r.processor_time = u64_at(rec, classic::processor_time);
}

// The generic header and, for the two kernel kinds, the fields behind it.
// False when the hook id names no known kernel provider.
bool fill_generic_header(event_record& r, std::span<const u8> rec, record_kind kind,
                         const template_map& templates) {
  const auto generic = header_of<header_length_of(record_kind::generic)>(rec);
  r.flags = u16_at(generic, generic_header::version);
  r.header_type = u16_at(generic, generic_header::type_code);
  r.size = u16_at(generic, generic_header::size);
  r.hook_event_id = u16_at(generic, generic_header::hook_id);
  if (kind == record_kind::trace_c011) {
    const auto perfinfo = header_of<header_length_of(record_kind::trace_c011)>(rec);
    r.raw_time = u64_at(perfinfo, perfinfo_header::time);
  } else if (kind == record_kind::trace_c002) {
    const auto system = header_of<header_length_of(record_kind::trace_c002)>(rec);
    r.thread_id = u32_at(system, system_header::thread_id);
    r.process_id = u32_at(system, system_header::process_id);
    r.raw_time = u64_at(system, system_header::time);
    r.processor_time = u64_at(system, system_header::processor_time);
  }
  return etw_guid_for_id(templates, r.provider, r.hook_event_id);
}

// The class version a kernel record's header carries: the classic header's
// u16 at 6, the u16 at 0 of the headers behind the generic one. Trace
// messages and event headers carry no class version.
u16 class_version_of(record_kind kind, std::span<const u8> rec) {
  switch (kind) {
    case record_kind::trace_c00a: {
      const auto classic_header = header_of<header_length_of(record_kind::trace_c00a)>(rec);
      return u16_at(classic_header, classic::class_version);
    }
    case record_kind::trace_c011:
    case record_kind::trace_c002:
    case record_kind::generic: {
      const auto generic = header_of<header_length_of(record_kind::generic)>(rec);
      return u16_at(generic, generic_header::version);
    }
    case record_kind::trace_9000_28:
    case record_kind::trace_9000_24:
    case record_kind::event_header:
      break;
  }
  return no_class_version;
}

// Unused space at the end of a buffer: all 0x00 or all 0xFF.
bool is_slack(std::span<const u8> bytes) {
  if (bytes.empty()) return true;
  const u8 fill = bytes[0];
  if (fill != 0x00 && fill != 0xFF) return false;
  return std::all_of(bytes.begin(), bytes.end(), [fill](u8 b) { return b == fill; });
}

}  // namespace

u64 skip_extended_items(std::span<const u8> record, u64 first_item) {
  if (first_item >= record.size()) return record.size();
  // the item test checks each item's size against the bytes left in the
  // record, so a damaged size cannot carry the payload start outside it
  return first_item + walk_ext_items(record.subspan(first_item), [](u64, std::span<const u8>) {});
}

trace_processor::trace_processor() { reset(true); }

void trace_processor::reset(bool full) {
  file_name.clear();
  logfile_header.clear();
  first_buffer_header.fill(0);
  has_logfile_header = 1;
  session_name.clear();
  log_file_name.clear();
  if (full) templates.clear();
  templates.selector = 0;
  pending.clear();
  buffers.clear();
  clock_qpc = 0;
  clock_cpu_cycles = 0;
  tick_factor = 0.0;
  time_base = 0;
  variant_9000 = 0;
  no_guessing = 0;
  providers_seen.clear();
  event_counts.clear();
  record_sizes.clear();
  provider_records.clear();
  statistics = 0;
  collect_records = 0;
  write_rows = 1;
  provider_notes.clear();
}

bool trace_processor::load_templates(byte_array block, const std::string& templates_file) {
  templates.clear();
  bool file_read = true;
  if (!templates_file.empty()) {
    template_db db;
    file_read = db.parse_file(templates_file);
    if (file_read) {
      (void)compile_templates(db, templates, 0);
    } else if (db.refused_line == 0) {
      // a refused file has named its line already
      print_message("prob reading templates file: %s (missing, unreadable or empty)\n",
                    templates_file.c_str());
    }
  }
  if (!block.empty()) (void)templates.add_block(std::move(block));
  templates.add_kernel_provider_names();
  return file_read;
}

bool trace_processor::take_file_header(const logfile_header_info& info, u64 bytes_held) {
  if (!is_logfile_first_buffer(info.head, bytes_held)) return false;
  has_logfile_header = 1;
  logfile_header = info;
  session_name = info.logger_name;
  log_file_name = info.log_file_name;
  clock_qpc = info.clock_qpc;
  clock_cpu_cycles = info.clock_cpu_cycles;
  tick_factor = info.tick_factor;
  time_base = info.time_base;
  templates.selector = info.provider_version();
  return true;
}

bool trace_processor::init_from_first_buffer(std::span<const u8> header) {
  if (!is_rlfs_header(header, header.size()) && !etw_header_is_zero(header)) return false;
  // both tests need the first 72 bytes
  if (!zarn::is_valid_filetime(u64_at(header, rlfs_header::start_time_offset))) clock_qpc = 1;
  std::copy_n(header.begin(), buffer_header_size, first_buffer_header.begin());
  has_logfile_header = 0;
  templates.selector = 0;
  return true;
}

u64 trace_processor::ticks_to_time(u64 raw) const {
  if (clock_qpc == 0 && clock_cpu_cycles == 0) return raw;
  // no factor (an unknown clock rate) gives no time rather than the base alone
  if (!(tick_factor > 0.0)) return 0;
  u64 scaled = 0;
  if (!scaled_ticks(raw, tick_factor, scaled)) return 0;
  return scaled + time_base;
}

bool trace_processor::is_64bit_trace(const buffer_context* context) const {
  if (has_logfile_header != 0) return logfile_header.is_64bit();
  // a kernel pointer's high half on a 64-bit system has its top 12 bits set
  auto high_pointer = [](const buffer_context& c) {
    return (c.pointer_word() & 0xFFF00000u) == 0xFFF00000u;
  };
  if (context != nullptr) return high_pointer(*context);
  if (!buffers.empty()) return high_pointer(buffers.begin()->second);
  return true;
}

bool trace_processor::register_buffer(std::span<const u8> buffer, u64 file_offset, bool converted) {
  if (buffer.size() < buffer_header_size || buffers.count(file_offset) != 0) return false;
  buffer_context& c = buffers[file_offset];
  const bool filled = converted ? etw_header_to_72(c, buffer) : copy_buffer_header(c, buffer);
  if (!filled) {
    buffers.erase(file_offset);
    return false;
  }
  c.file_offset = file_offset;
  c.converted = converted ? 1 : 0;
  c.converted_time = ticks_to_time(c.buffer_time());
  return true;
}

record_window trace_processor::window_for(const buffer_context& context) const {
  record_window w;
  w.range_known = clock_qpc != 0 || clock_cpu_cycles != 0;
  // The first buffer of a logfile-header file carries no buffer time: its
  // records have no upper bound rather than all being refused.
  w.end = context.buffer_time() != 0 ? context.buffer_time() : std::numeric_limits<u64>::max();
  if (context.converted != 0) {
    w.start = u64_at(first_buffer_header, rlfs_header::start_time_offset);
  } else {
    w.start = logfile_header.start_time;
    // a tick-count session whose start is given as a FILETIME: its own
    // record's tick time is the start
    if (w.range_known && w.start > filetime_floor) w.start = logfile_header.record_time();
  }
  return w;
}

namespace {

// The named test of a row's kind; `variant` is the 0x9000 layout to accept.
bool passes_test(const record_kind_row& row, std::span<const u8> record, const record_window& w,
                 u16 variant) {
  switch (row.kind) {
    case record_kind::trace_9000_28:
      return is_trace_header_9000_28(record, w.range_known, w.start, w.end, variant);
    case record_kind::trace_9000_24:
      return is_trace_header_9000_24(record, w.range_known, w.start, w.end, variant);
    case record_kind::event_header:
      return is_event_header(record, w.range_known, w.start, w.end);
    case record_kind::trace_c00a:
      return is_trace_header_c00a(record, w.range_known, w.start, w.end);
    case record_kind::trace_c011:
      return is_trace_header_c011(record, w.range_known, w.start, w.end);
    case record_kind::trace_c002:
      return is_trace_header_c002(record, w.range_known, w.start, w.end);
    case record_kind::generic:
      return is_generic_trace_header(record);
  }
  return false;
}

// The record tests that check their own size field come first in the table,
// the kinds behind the generic header after them.
constexpr std::size_t size_first_rows = [] {
  std::size_t n = 0;
  while (n < record_kinds.size() && !record_kinds[n].generic) ++n;
  for (std::size_t i = n; i < record_kinds.size(); ++i) {
    if (!record_kinds[i].generic) return std::size_t{0};
  }
  return n;
}();
static_assert(size_first_rows > 0, "the size-first rows must precede the generic-header rows");

}  // namespace

u16 trace_processor::message_variant(std::span<const u8> record) const {
  // A trace message states its own layout: its option flags (u16 at 6) say
  // whether a GUID follows and whether a sequence number comes before it.
  // Only without the GUID flag is the file's fixed variant used.
  u16 options = 0;
  if (!zarn::read_u16_at(record, rec9000::property, options) ||
      (options & rec9000::option_guid) == 0) {
    return variant_9000;
  }
  return (options & rec9000::option_sequence) != 0 ? 28 : 24;
}

const record_kind_row* trace_processor::recognise_record(std::span<const u8> record,
                                                        const record_window& w) const {
  // every test reads the size and the type code (u16 at 2) first
  if (record.size() < generic_header::size + 2) return nullptr;
  const u16 type = u16_at(record, generic_header::type_code);
  // Only the rows of the record's own type code can pass; they are tried in
  // the table's order (the 28-byte 0x9000 layout before the 24-byte one).
  for (std::size_t i = 0; i < size_first_rows; ++i) {
    const record_kind_row& row = record_kinds[i];
    if (row.type_code != type) continue;
    const bool message =
        row.kind == record_kind::trace_9000_28 || row.kind == record_kind::trace_9000_24;
    if (passes_test(row, record, w, message ? message_variant(record) : 0)) return &row;
  }
  if (!is_generic_trace_header(record)) return nullptr;
  // The generic size fits; the typed tests add the time field.
  const std::span<const u8> own = record.first(u16_at(record, generic_header::size));
  for (std::size_t i = size_first_rows; i < record_kinds.size(); ++i) {
    const record_kind_row& row = record_kinds[i];
    if (row.kind == record_kind::generic || row.type_code != type) continue;
    if (passes_test(row, own, w, 0)) return &row;
  }
  return find_record_kind(type, record_kind::generic);
}

bool trace_processor::walk_buffer_records(std::span<const u8> buffer, u64 file_offset,
                                          u64 first_record) {
  if (!register_buffer(buffer, file_offset, has_logfile_header == 0)) return false;
  buffer_context& ctx = buffers.find(file_offset)->second;
  record_sizes.clear();
  provider_records.clear();
  if (ctx.is_compressed()) {
    // Its records can be read only after decompression, which this reader
    // does not do: the whole buffer is reported instead.
    event_record* r = add_corrupted_record(file_offset, buffer.size(), ctx);
    if (r != nullptr) r->compressed = 1;
    return true;
  }
  const record_window w = window_for(ctx);

  // Records are tested against the whole buffer as the file run read it (a
  // cut-off last buffer holds fewer bytes than its header claims). Bytes past
  // the filled length are what the buffer held before it was reused: whole
  // records found there are read too. Only inside the filled length are
  // unrecognised bytes damage to step over; past it they end the walk.
  const u64 size = buffer.size();
  const u64 filled = std::min<u64>(ctx.filled_length(), size);
  u64 pos = first_record;
  while (pos < size && size - pos >= min_record_header) {
    const std::span<const u8> rest = buffer.subspan(pos);
    const record_kind_row* row = recognise_record(rest, w);
    if (row == nullptr) {
      if (filled < min_record_header || pos > filled - min_record_header) break;
      const u64 skipped = resync(buffer, filled, pos, file_offset, ctx, w);
      if (skipped == 0) break;
      pos += skipped;
      continue;
    }
    if (variant_9000 == 0 && row->kind == record_kind::trace_9000_28) variant_9000 = 28;
    if (variant_9000 == 0 && row->kind == record_kind::trace_9000_24) variant_9000 = 24;
    // the record test has checked that the size is held
    const u16 record_size = u16_at(rest, row->size_offset);
    decode_record(*row, rest.first(record_size), file_offset + pos, ctx);
    // a record's rounded size may pass the end of the buffer (a size of 45
    // with 45 bytes left rounds to 48)
    const u64 step = rounded_record_size(record_size);
    if (step >= size - pos) break;
    pos += step;
  }
  if (ctx.variant_9000 == 0) ctx.variant_9000 = variant_9000;
  return true;
}

u64 trace_processor::resync(std::span<const u8> buffer, u64 filled, u64 position,
                            u64 buffer_offset, const buffer_context& context,
                            const record_window& w) {
  const u64 size = buffer.size();
  if (position >= size) return 0;
  u64 p = position + 8;
  bool found = false;
  while (p < size && size - p >= min_record_header) {
    if (recognise_record(buffer.subspan(p), w) != nullptr) {
      found = true;
      break;
    }
    p += 8;
  }
  if (!found) {
    // no record follows: the damage runs to the end of the filled part, and
    // unused space there (all 0x00 or all 0xFF) is no damage at all
    p = std::max(filled, position);
    if (p == position || is_slack(buffer.subspan(position, p - position))) return 0;
  }
  const u64 skipped = p - position;
  add_corrupted_record(buffer_offset + position, skipped, context);
  return skipped;
}

event_record* trace_processor::add_corrupted_record(u64 file_offset, u64 length,
                                                    const buffer_context& context) {
  event_record* added = pending.add(file_offset);
  if (added == nullptr) return nullptr;
  event_record& r = *added;
  r.kind = event_kind::corrupted;
  r.record_ok = 0;
  r.file_offset = file_offset;
  r.processor_number = context.processor_number();
  r.logger_id = context.logger_id();
  r.payload_offset = file_offset;
  r.payload_size = static_cast<u32>(std::min<u64>(length, 0xFFFFFFFFu));
  return &r;
}

void trace_processor::decode_record(const record_kind_row& row, std::span<const u8> rec,
                                    u64 file_offset, const buffer_context& context) {
  // Records that are not written are only counted or copied: they need no
  // place in the pending map. They share one scratch record, which is not
  // cleared: what counting and copying read of it (the kind, the provider,
  // the event ids and the size) every header's fill writes anew.
  event_record* target = &scratch_record;
  if (write_rows != 0) {
    target = pending.add(file_offset);
    if (target == nullptr) return;  // a record is pending there already
  }
  event_record& r = *target;
  r.record_ok = 1;
  r.kind = row.stored;
  r.file_offset = file_offset;
  r.processor_number = context.processor_number();
  r.logger_id = context.logger_id();

  u64 payload_start = row.header_length;
  bool provider_found = true;
  switch (row.kind) {
    case record_kind::trace_9000_28:
      fill_trace_message(r, rec, rec9000::shift_28);
      break;
    case record_kind::trace_9000_24:
      fill_trace_message(r, rec, 0);
      break;
    case record_kind::event_header:
      payload_start = fill_event_header(r, rec);
      break;
    case record_kind::trace_c00a:
      fill_classic_header(r, rec);
      break;
    case record_kind::trace_c011:
    case record_kind::trace_c002:
    case record_kind::generic:
      provider_found = fill_generic_header(r, rec, row.kind, templates);
      break;
  }
  // a header without a time field leaves both times 0
  if (row.time_offset != 0) r.filetime = ticks_to_time(r.raw_time);
  // the header lies within the record: its test required the size to reach it
  assert(payload_start <= rec.size());
  r.payload_offset = file_offset + payload_start;
  r.payload_size = static_cast<u32>(rec.size() - payload_start);
  if (write_rows != 0) {
    const std::span<const u8> items =
        row.kind == record_kind::event_header
            ? rec.subspan(row.header_length, payload_start - row.header_length)
            : std::span<const u8>{};
    decode_record_payload(r, items, rec.subspan(payload_start), provider_found, context,
                          class_version_of(row.kind, rec));
  }

  if (provider_found) note_provider(r);
  // records come in file order: the hint makes each insertion constant time
  if (collect_records != 0) {
    record_sizes.insert_or_assign(record_sizes.end(), file_offset, rounded_record_size(r.size));
  }
}

void trace_processor::decode_record_payload(event_record& r, std::span<const u8> items,
                                            std::span<const u8> payload, bool provider_found,
                                            const buffer_context& context, u16 class_version) {
  const bool pointer64 = pointer_is_64bit(r, context);
  const u64 schema_used =
      decode_extended_items(r.fields, items, payload, pointer64, r.payload_offset - items.size());
  payload = payload.subspan(schema_used);
  // after extended-data items, a payload of a single byte is only padding
  const bool has_items = (r.kind == event_kind::event_c012 || r.kind == event_kind::event_c013) &&
                         (r.flags & event_header::ext_flag) != 0;
  if (has_items && payload.size() < 2) return;
  (void)decode_payload(r.fields, r.payload_offset + schema_used,
                       provider_found ? &r.provider : nullptr, r.event_key(), payload, &templates,
                       pointer64, true, r.guessed, payload_scratch, class_version);
}

u64 trace_processor::decode_extended_items(field_map& map, std::span<const u8> items,
                                           std::span<const u8> payload, bool pointer64,
                                           u64 items_offset) {
  event_template schema;
  (void)walk_ext_items(items, [&](u64 pos, std::span<const u8> item) {
    field_rec f;
    bool linked = false;
    (void)decode_extended_item(schema, f, linked, item);
    if (f.size != 0 && !is_ext_item_schema(item)) map.emplace(items_offset + pos, std::move(f));
  });
  if (schema.types.empty()) return 0;
  const i32 used = apply_template(schema, map, payload, items_offset + items.size(), pointer64,
                                  payload_scratch);
  // a text slot at the payload's end may claim more than the payload holds
  return std::min<u64>(static_cast<u64>(std::max(used, 0)), payload.size());
}

bool trace_processor::pointer_is_64bit(const event_record& r, const buffer_context& context) const {
  // An event header may say which pointer size its writer had; a 32-bit
  // process logs 4-byte pointers into a 64-bit trace.
  if (r.kind == event_kind::event_c012 || r.kind == event_kind::event_c013) {
    if ((r.flags & event_header::flag_32bit) != 0) return false;
    if ((r.flags & event_header::flag_64bit) != 0) return true;
  }
  return is_64bit_trace(&context);
}

void trace_processor::note_provider(event_record& r) {
  r.provider_known = 1;
  // What is known of a provider is looked up once per file: every later
  // record of it takes a hash lookup instead of ordered-map searches.
  auto [it, first_seen] = provider_notes.try_emplace(r.provider);
  provider_note& note = it->second;
  if (first_seen) {
    note.name = templates.provider_name(r.provider.bytes);
    note.counts = statistics != 0 ? &event_counts[r.provider] : nullptr;
    providers_seen.insert(r.provider);
  }
  if (write_rows != 0 && (r.provider_name.empty() || r.provider_name == "unk")) {
    r.provider_name = note.name;
  }
  if (collect_records != 0) provider_records.emplace(r.provider, r.file_offset);
  if (note.counts != nullptr) ++(*note.counts)[r.event_key()];
}

void trace_processor::flush_pending_records(
    const std::function<void(event_record&)>& write_row) {
  for (auto& [offset, rec] : pending) write_row(rec);
  drop_pending_records();
}

void trace_processor::drop_pending_records() {
  pending.clear();
  // no record needs its buffer's context any more; the first buffer's stays
  if (buffers.size() > 1) buffers.erase(std::next(buffers.begin()), buffers.end());
}
