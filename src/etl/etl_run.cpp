#include "etl/etl_run.hpp"

#include <sstream>

#include "app/vesk_user_opts.hpp"
#include "common/byte_reader.hpp"
#include "etl/etl_headers.hpp"
#include "etl/header_section.hpp"
#include "etl/etl_reports.hpp"
#include "etl/logfile_header.hpp"
#include "platform/console.hpp"
#include "platform/fileio.hpp"

using zarn::u32_at;
using zarn::u64_at;

namespace {

const char* const not_available = "<not available>";

struct run_state {
  std::ostream& out;
  uni::fileio& file;
  vesk_user_opts& opts;
  const event_row_writer& write_row;
  etl_file_kind_t kind = etl_file_kind_t::not_etl;
  u32 counter = 0;
};

// Where the logfile-header record ends inside the first buffer: the records
// after it are the file's first events. 72 when no sound record header is
// there.
u64 first_event_position(std::span<const u8> first_buffer) {
  const std::span<const u8> rec = first_buffer.subspan(buffer_header_size);
  if (!is_generic_trace_header(rec)) return buffer_header_size;
  return buffer_header_size + rounded_record_size(zarn::u16_at(rec, generic_header::size));
}

// A compressed buffer is not read. Where no event row can show it, it is
// reported here, so that a count or a reduced log is never taken for the
// whole file without a word.
void report_compressed_buffers(const run_state& s) {
  for (const auto& [offset, rec] : s.opts.processor.pending) {
    if (rec.compressed == 0) continue;
    print_message("compressed buffer at file offset %llu not read: %s\n",
                  static_cast<unsigned long long>(offset), s.opts.current_file.c_str());
  }
}

// The events of the buffer just walked: written, or dropped in the modes
// that only count or copy them.
void finish_buffer(run_state& s) {
  trace_processor& tp = s.opts.processor;
  if (s.opts.pullguid || s.opts.guids || s.opts.stats) {
    report_compressed_buffers(s);
    tp.drop_pending_records();
    return;
  }
  tp.flush_pending_records([&s](const event_record& r) { s.write_row(s.out, r, s.opts); });
}

void walk_one(run_state& s, std::span<const u8> buffer, u64 offset) {
  if (s.opts.status_display) status_printf("processing buffer %2d", static_cast<int>(++s.counter));
  trace_processor& tp = s.opts.processor;
  if (!tp.walk_buffer_records(buffer, offset)) return;
  if (s.opts.reduced_file != nullptr) {
    write_reduced_bytes(s.opts, build_reduced_buffer(buffer, offset, tp, s.opts.pullguid_guid, s.kind));
  }
  finish_buffer(s);
}

bool usable_buffer_size(u64 size) { return size >= min_buffer_bytes && size <= max_buffer_size; }

// The file's own buffer size: the one its logfile header states, else the
// first buffer's (all buffers of such a file have one size); 0 for files
// without logfile header.
u64 file_buffer_size(const run_state& s) {
  if (s.kind != etl_file_kind_t::logfile_header) return 0;
  const logfile_header_info& info = s.opts.processor.logfile_header;
  if (usable_buffer_size(info.buffer_size())) return info.buffer_size();
  return usable_buffer_size(info.first_buffer_size()) ? info.first_buffer_size() : 0;
}

void buffer_loop(run_state& s, u64 offset) {
  const u64 file_size = s.file.size();
  const u64 size_field = s.kind == etl_file_kind_t::logfile_header ? buffer_header::buffer_size
                                                                    : rlfs_buffer_header::buffer_size;
  byte_array header;
  byte_array buffer;
  while (offset < file_size && file_size - offset >= buffer_header_size) {
    if (!s.file.read(header, buffer_header_size, offset)) break;
    u64 size = u32_at(header, size_field);
    if (!usable_buffer_size(size)) {
      // A zero (or damaged) size must not swallow the rest of the file as
      // one buffer. Every buffer of a logfile-header file has the file's
      // buffer size, so the buffer is read as that long (its filled length
      // still bounds the walk); in the other kinds the next header is looked
      // for 72 bytes on.
      size = file_buffer_size(s);
      if (size == 0) {
        offset += buffer_header_size;
        continue;
      }
    }
    const u64 left = file_size - offset;
    // a last buffer cut off by the end of the file: its whole records are read
    if (size > left) size = left;
    const bool whole = s.file.read(buffer, size, offset);
    // a read that comes back short ends the file there; what did arrive is
    // still a (cut-off) buffer
    if (buffer.size() >= min_buffer_bytes) walk_one(s, buffer, offset);
    if (!whole) break;
    offset += size;
  }
}

}  // namespace

bool run_etl_file(std::ostream& out, uni::fileio& file, vesk_user_opts& opts,
                  const event_row_writer& write_row) {
  if (!file.is_open()) return false;
  if (!opts.pullguid && !opts.guids && !opts.stats && !write_row) return false;
  const u64 file_size = file.size();
  byte_array head;
  if (file_size < etl_min_file_size || !file.read(head, etl_min_file_size, 0)) return false;

  trace_processor& tp = opts.processor;
  tp.statistics = opts.stats;
  tp.collect_records = opts.pullguid;
  run_state s{out, file, opts, write_row};
  s.kind = etl_file_kind(head, file_size);

  byte_array first;       // the first buffer, or the "RlFs" header
  u64 buffers_start = 0;
  switch (s.kind) {
    case etl_file_kind_t::logfile_header: {
      const u64 length = u32_at(head, 0);
      if (length > max_buffer_size || !file.read(first, length, 0)) return false;
      logfile_header_info info;
      if (!parse_logfile_header(info, first) || !tp.take_file_header(info, first.size())) {
        return false;
      }
      buffers_start = length;
      break;
    }
    case etl_file_kind_t::rlfs: {
      const u64 length = u64_at(head, rlfs_header::length_offset);  // capped by the kind test
      first = head;
      if (length > head.size() && !file.read(first, length, 0)) return false;
      if (!tp.init_from_first_buffer(first)) return false;
      buffers_start = u32_at(first, rlfs_header::buffers_start_offset);
      // the buffers cannot start inside the header's fixed part
      if (buffers_start < buffer_header_size) buffers_start = std::max<u64>(length, buffer_header_size);
      break;
    }
    case etl_file_kind_t::zeroed:
      // Nothing describes such a file: it keeps the reset state (record
      // times are FILETIMEs, no clock to convert, an all-zero header copy).
      first.assign(buffer_header_size, 0);
      buffers_start = buffer_header_size;
      break;
    case etl_file_kind_t::not_etl:
      return false;
  }

  uni::fileio reduced;
  if (opts.pullguid) open_reduced_file(reduced, opts);

  if (s.kind == etl_file_kind_t::zeroed) {
    opts.session_name = not_available;
    opts.source_path = not_available;
  } else {
    opts.session_name = tp.session_name.empty() ? not_available : tp.session_name;
    opts.source_path = tp.log_file_name.empty() ? not_available : tp.log_file_name;
  }
  if (!opts.pullguid) {
    out << "---------------------\n" << "file: " << opts.current_file << '\n';
    if (!opts.guids && !opts.stats) {
      std::ostringstream section;
      if (s.kind == etl_file_kind_t::logfile_header) {
        print_header_info(tp.logfile_header, section, opts);
      } else {
        (void)print_header_info_only(tp.first_buffer_header, section, opts);
      }
      out << "orig source path: " << opts.source_path << '\n' << section.str();
    } else {
      out << '\n';
    }
  }

  if (s.kind == etl_file_kind_t::logfile_header) {
    // The first buffer holds the logfile-header record and then the file's
    // first events; those are read like every other buffer's.
    const u64 first_event = first_event_position(first);
    if (opts.status_display) status_printf("processing buffer %2d", static_cast<int>(++s.counter));
    const bool walked = tp.walk_buffer_records(first, 0, first_event);
    if (opts.reduced_file != nullptr) {
      const u64 kept = walked ? first_event : first.size();
      write_reduced_bytes(opts, walked ? build_reduced_first_buffer(first, kept, tp, opts.pullguid_guid)
                                       : first);
    }
    finish_buffer(s);
  } else if (opts.reduced_file != nullptr) {
    write_reduced_bytes(opts, first);
  }
  if (opts.reduced_file != nullptr) opts.reduced_bytes = buffers_start;

  buffer_loop(s, buffers_start);

  if (opts.pullguid) {
    tp.drop_pending_records();
  } else if (opts.stats) {
    tp.drop_pending_records();
    print_statistics(out, tp);
  } else if (opts.guids) {
    tp.drop_pending_records();
    print_provider_list(out, tp);
  } else {
    finish_buffer(s);
  }
  close_reduced_file(opts);
  return true;
}

bool process_etl_file(std::ostream& out, const std::string& name, vesk_user_opts& opts,
                      const event_row_writer& write_row) {
  uni::fileio file;
  bool result = false;
  if (file.open(name, 0, 0, 0)) {
    opts.header_pending = 1;
    result = run_etl_file(out, file, opts, write_row);
    clear_status_if_shown(&opts);
  }
  file.close();
  opts.processor.reset(false);
  opts.processor.statistics = opts.stats;
  return result;
}
