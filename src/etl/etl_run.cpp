#include "etl/etl_run.hpp"

#include <algorithm>
#include <sstream>
#include <string_view>

#include "common/byte_reader.hpp"
#include "common/zarn_string.hpp"
#include "etl/etl_headers.hpp"
#include "etl/etl_reports.hpp"
#include "etl/header_section.hpp"
#include "etl/logfile_header.hpp"
#include "etl/trace_processor.hpp"
#include "output/csv_field.hpp"
#include "output/fixed_texts.hpp"
#include "platform/cmd_params.hpp"
#include "platform/console.hpp"
#include "platform/fileio.hpp"

using zarn::u32_at;
using zarn::u64_at;

namespace {

// The buffer loop reads the file in blocks of this many bytes.
constexpr u64 read_block_size = u64{1} << 18;

struct run_state {
  run_state(std::ostream& o, uni::fileio& f, etl_run& r)
      : out(o), file(f), run(r), mode(r.settings.mode()) {}

  std::ostream& out;
  uni::fileio& file;
  etl_run& run;
  const run_mode mode;
  etl_file_kind_t kind = etl_file_kind_t::not_etl;
  byte_array first;       // the first buffer, the "RlFs" header, or 72 zero bytes
  u64 buffers_start = 0;  // where the buffer loop starts
  u32 counter = 0;
  u64 buffers = 0;             // buffers walked
  u64 compressed_buffers = 0;  // of those, compressed: their records are not read
};

// Where the logfile-header record ends inside the first buffer: the records
// after it are the file's first events. 72 when no sound record header is
// there.
u64 first_event_position(std::span<const u8> first_buffer) {
  const std::span<const u8> rec = first_buffer.subspan(buffer_header_size);
  if (!is_generic_trace_header(rec)) return buffer_header_size;
  return buffer_header_size + rounded_record_size(zarn::u16_at(rec, generic_header::size));
}

// Decides the file's kind from its head, reads what the kind has in front
// of its buffers and prepares the trace processor. False when the file is
// none of the kinds or that part cannot be read.
bool open_by_kind(run_state& s, const byte_array& head) {
  trace_processor& tp = s.run.processor;
  s.kind = etl_file_kind(head, s.file.size());
  switch (s.kind) {
    case etl_file_kind_t::logfile_header: {
      const u64 length = u32_at(head, 0);
      if (length > max_buffer_size || !s.file.read(s.first, length, 0)) return false;
      logfile_header_info info;
      if (!parse_logfile_header(info, s.first) || !tp.take_file_header(info, s.first.size())) {
        return false;
      }
      s.buffers_start = length;
      return true;
    }
    case etl_file_kind_t::rlfs: {
      const u64 length = u64_at(head, rlfs_header::length_offset);  // capped by the kind test
      s.first = head;
      if (length > head.size() && !s.file.read(s.first, length, 0)) return false;
      if (!tp.init_from_first_buffer(s.first)) return false;
      s.buffers_start = u32_at(s.first, rlfs_header::buffers_start_offset);
      // the buffers cannot start inside the header's fixed part
      if (s.buffers_start < buffer_header_size) {
        s.buffers_start = std::max<u64>(length, buffer_header_size);
      }
      return true;
    }
    case etl_file_kind_t::zeroed:
      // Nothing describes such a file: it keeps the reset state (record
      // times are FILETIMEs, no clock to convert, an all-zero header copy).
      s.first.assign(buffer_header_size, 0);
      s.buffers_start = buffer_header_size;
      return true;
    case etl_file_kind_t::not_etl:
      break;
  }
  return false;
}

// One line of the "file:" block: its label and a name from outside the
// program (the log's own, or the one recorded in it by whoever wrote the
// log). Line breaks and NUL bytes are marked, so that the name cannot start a
// line of its own between the tables. A line that holds a character of the
// separator, a double quote or a marked break is written as one field, between
// double quotes (inner ones doubled): a CSV reader of the table output would
// otherwise split a name of 15 commas into a line of the header's 16 fields,
// a forged row, or take a quote for the start of a field that runs on into the
// next table.
void write_name_line(std::ostream& out, const char* label, const std::string& name,
                     const std::string& separator_text) {
  std::string line = label;
  line += name;
  bool one_field = line.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos;
  mark_breaks_and_nuls(line);
  one_field = one_field || line.find('"') != std::string::npos;
  for (const char c : separator_text) {
    if (c != ' ' && line.find(c) != std::string::npos) one_field = true;
  }
  if (one_field) {
    std::string quoted;
    append_csv_quoted(quoted, line);
    line.swap(quoted);
  }
  line += '\n';
  out << line;
}

// The session names for the writers, and unless -pullguid the "file:" block
// with the header section (an empty line in its place with -guids, -stats).
void write_header_section(run_state& s) {
  const trace_processor& tp = s.run.processor;
  cmd_params& options = s.run.options;
  if (s.kind == etl_file_kind_t::zeroed) {
    options.session_name = fixed_text::not_available;
    options.source_path = fixed_text::not_available;
  } else {
    const std::string not_available(fixed_text::not_available);
    options.session_name = tp.session_name.empty() ? not_available : tp.session_name;
    options.source_path = tp.log_file_name.empty() ? not_available : tp.log_file_name;
  }
  if (s.mode == run_mode::pullguid) return;
  // log2timeline output is CSV and nothing else; each line names its file
  if (s.mode == run_mode::events && options.csvl2t != 0) return;
  s.out << "---------------------\n";
  write_name_line(s.out, "file: ", options.current_file, options.separator_text);
  if (s.mode != run_mode::events) {
    s.out << '\n';
    return;
  }
  std::ostringstream section;
  if (s.kind == etl_file_kind_t::logfile_header) {
    print_header_info(tp.logfile_header, section, options);
  } else {
    (void)print_header_info_only(tp.first_buffer_header, section, options);
  }
  write_name_line(s.out, "orig source path: ", options.source_path, options.separator_text);
  s.out << section.str();
}

// A compressed buffer is not read. Where no event row can show it (the
// counting and copying modes, and timeline lines, which need a time), it is
// reported here, so that a result is never taken for the whole file without
// a word.
void report_compressed_buffers(const run_state& s) {
  for (const auto& [offset, rec] : s.run.processor.pending) {
    if (rec.compressed == 0) continue;
    print_message("compressed buffer at file offset %llu not read: %s\n",
                  static_cast<unsigned long long>(offset), s.run.options.current_file.c_str());
  }
}

// The events of the buffer just walked: written, or dropped in the modes
// that only count or copy them.
void finish_buffer(run_state& s) {
  trace_processor& tp = s.run.processor;
  // a timeline line needs a time, which a compressed buffer's record lacks
  if (s.mode != run_mode::events || s.run.options.csvl2t != 0) report_compressed_buffers(s);
  if (s.mode != run_mode::events) {
    tp.drop_pending_records();
    return;
  }
  tp.flush_pending_records(
      [&s](event_record& r) { s.run.write_row(s.out, r, s.run.options); });
}

// The reduced log's share of the buffer just walked. The first buffer of a
// logfile-header file is the reduced log's head.
void write_reduced_share(run_state& s, std::span<const u8> buffer, u64 offset, u64 first_record) {
  reduced_log& reduced = s.run.reduced;
  if (!reduced.is_open()) return;
  const trace_processor& tp = s.run.processor;
  const guid& provider = s.run.settings.pullguid_guid;
  if (s.kind == etl_file_kind_t::logfile_header && offset == 0) {
    reduced.write_head(build_reduced_first_buffer(buffer, first_record, tp, provider),
                       s.buffers_start, s.kind);
  } else {
    reduced.write_buffer(build_reduced_buffer(buffer, offset, tp, provider, s.kind));
  }
}

void walk_one(run_state& s, std::span<const u8> buffer, u64 offset, u64 first_record) {
  if (s.run.options.status_display) {
    status_printf("processing buffer %2d", static_cast<int>(++s.counter));
  }
  if (!s.run.processor.walk_buffer_records(buffer, offset, first_record)) return;
  ++s.buffers;
  const auto walked = s.run.processor.buffers.find(offset);
  if (walked != s.run.processor.buffers.end() && walked->second.is_compressed()) {
    ++s.compressed_buffers;
  }
  if (s.mode == run_mode::pullguid) write_reduced_share(s, buffer, offset, first_record);
  finish_buffer(s);
}

bool usable_buffer_size(u64 size) { return size >= min_buffer_bytes && size <= max_buffer_size; }

// The file's own buffer size: the one its logfile header states, else the
// first buffer's (all buffers of such a file have one size); 0 for files
// without logfile header.
u64 file_buffer_size(const run_state& s) {
  if (s.kind != etl_file_kind_t::logfile_header) return 0;
  const logfile_header_info& info = s.run.processor.logfile_header;
  if (usable_buffer_size(info.buffer_size())) return info.buffer_size();
  return usable_buffer_size(info.first_buffer_size()) ? info.first_buffer_size() : 0;
}

void buffer_loop(run_state& s) {
  const u64 file_size = s.file.size();
  const u64 size_field = s.kind == etl_file_kind_t::logfile_header ? buffer_header::buffer_size
                                                                    : rlfs_buffer_header::buffer_size;
  // Headers and buffers are views into blocks read ahead: one read serves
  // many buffers, and memory stays at one block (or one longer buffer).
  uni::read_window window(s.file, read_block_size);
  std::span<const u8> header;
  std::span<const u8> buffer;
  u64 offset = s.buffers_start;
  while (offset < file_size && file_size - offset >= buffer_header_size) {
    if (!window.view(header, buffer_header_size, offset)) break;
    u64 size = u32_at(header, size_field);
    if (!usable_buffer_size(size)) {
      // A zero (or damaged) size must not swallow the rest of the file as
      // one buffer. Every buffer of a logfile-header file has the file's
      // buffer size, so the buffer is read as that long; in the other kinds
      // the next header is looked for 72 bytes on.
      size = file_buffer_size(s);
      if (size == 0) {
        offset += buffer_header_size;
        continue;
      }
    }
    const u64 left = file_size - offset;
    // a last buffer cut off by the end of the file: its whole records are read
    if (size > left) size = left;
    const bool whole = window.view(buffer, size, offset);
    // a read that comes back short ends the file there; what did arrive is
    // still a (cut-off) buffer
    if (buffer.size() >= min_buffer_bytes) walk_one(s, buffer, offset, buffer_header_size);
    if (!whole) break;
    offset += size;
  }
}

// After the last buffer: the tables of -stats and -guids, the events still
// pending, and the reduced log closed.
void finish_file(run_state& s) {
  trace_processor& tp = s.run.processor;
  switch (s.mode) {
    case run_mode::pullguid:
      tp.drop_pending_records();
      break;
    case run_mode::stats:
      tp.drop_pending_records();
      print_statistics(s.out, tp);
      break;
    case run_mode::guids:
      tp.drop_pending_records();
      print_provider_list(s.out, tp);
      break;
    case run_mode::events:
      finish_buffer(s);
      break;
  }
  s.run.reduced.close();
  // one line per log, in every mode: a log whose buffers are all compressed
  // gives no event at all, and its results must not pass for the whole log
  if (s.compressed_buffers != 0) {
    print_message("%llu of %llu buffers compressed, not read: %s\n",
                  static_cast<unsigned long long>(s.compressed_buffers),
                  static_cast<unsigned long long>(s.buffers), s.run.options.current_file.c_str());
    s.run.buffers_not_read += s.compressed_buffers;
  }
}

}  // namespace

run_mode etl_run_settings::mode() const {
  if (pullguid != 0) return run_mode::pullguid;
  if (stats != 0) return run_mode::stats;
  if (guids != 0) return run_mode::guids;
  return run_mode::events;
}

bool run_etl_file(std::ostream& out, uni::fileio& file, etl_run& run) {
  if (!file.is_open()) return false;
  run_state s(out, file, run);
  if (s.mode == run_mode::events && !run.write_row) return false;
  byte_array head;
  if (!read_log_head(file, head)) return false;

  trace_processor& tp = run.processor;
  tp.statistics = s.mode == run_mode::stats ? 1 : 0;
  tp.collect_records = s.mode == run_mode::pullguid ? 1 : 0;
  tp.write_rows = s.mode == run_mode::events ? 1 : 0;
  if (!open_by_kind(s, head)) return false;
  // only now: a file that is no log must not cost the reduced log's path
  if (s.mode == run_mode::pullguid) run.reduced.open(run.options.out_path);

  write_header_section(s);
  if (s.kind == etl_file_kind_t::logfile_header) {
    // The first buffer holds the logfile-header record and then the file's
    // first events; those are read like every other buffer's.
    walk_one(s, s.first, 0, first_event_position(s.first));
  } else if (run.reduced.is_open()) {
    run.reduced.write_head(s.first, s.buffers_start, s.kind);
  }
  buffer_loop(s);
  finish_file(s);
  return true;
}

bool read_log_head(uni::fileio& file, byte_array& head) {
  const u64 length = std::min<u64>(file.size(), etl_min_file_size);
  return file.is_open() && length >= rlfs_header::min_size && file.read(head, length, 0);
}

etl_file_kind_t log_file_kind(const std::string& path) {
  uni::fileio file;
  byte_array head;
  if (!file.open(path, 0, 0, 0) || !read_log_head(file, head)) return etl_file_kind_t::not_etl;
  return etl_file_kind(head, file.size());
}

bool process_etl_file(std::ostream& out, const std::string& name, etl_run& run) {
  uni::fileio file;
  bool result = false;
  if (file.open(name, 0, 0, 0)) {
    run.options.header_pending = 1;
    result = run_etl_file(out, file, run);
    clear_status_if_shown(&run.options);
  }
  file.close();
  run.processor.reset(false);
  return result;
}
