#include "etl/etl_reports.hpp"

#include <algorithm>
#include <cstdio>

#include "common/byte_reader.hpp"
#include "etl/logfile_header.hpp"
#include "platform/console.hpp"
#include "platform/fileio.hpp"

namespace {

void provider_line(std::ostream& out, const trace_processor& tp, const guid& g) {
  out << guid_to_string(g) << " : " << tp.templates.provider_name(g.bytes) << '\n';
}

std::string right_aligned(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

void put_u32(byte_array& bytes, u64 off, u64 v) { zarn::store_le(bytes, off, 4, v); }

u64 round_up(u64 n, u64 step) { return (n + step - 1) / step * step; }

// The header (or the first `kept` bytes) and the provider's records of the
// buffer; `count` tells how many records were copied.
byte_array collect_records(std::span<const u8> buffer, u64 buffer_offset, u64 kept,
                           const trace_processor& tp, const guid& provider, u64& count) {
  count = 0;
  byte_array out(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(kept));
  const auto [first, last] = tp.provider_records.equal_range(provider);
  for (auto it = first; it != last; ++it) {
    const u64 offset = it->second;
    const auto size_it = tp.record_sizes.find(offset);
    if (size_it == tp.record_sizes.end() || offset < buffer_offset) continue;
    const u64 rel = offset - buffer_offset;
    if (rel < kept || rel >= buffer.size()) continue;
    // the rounded size may run past the bytes held: copy what is held and
    // pad with zeros
    const u64 held = std::min<u64>(size_it->second, buffer.size() - rel);
    const auto from = buffer.begin() + static_cast<std::ptrdiff_t>(rel);
    out.insert(out.end(), from, from + static_cast<std::ptrdiff_t>(held));
    out.resize(out.size() + (size_it->second - held), 0);
    ++count;
  }
  return out;
}

// Lengths of the reduced buffer: "used" is what the records fill, the
// length is the whole buffer.
void patch_lengths(byte_array& out, u64 used, u64 length, etl_file_kind_t kind) {
  if (kind == etl_file_kind_t::logfile_header) {
    put_u32(out, buffer_header::buffer_size, static_cast<u32>(length));
    put_u32(out, buffer_header::saved_offset, static_cast<u32>(used));
    put_u32(out, buffer_header::current_offset, static_cast<u32>(used));
  } else {
    put_u32(out, rlfs_buffer_header::buffer_size, static_cast<u32>(length));
  }
  put_u32(out, buffer_header::filled_length, static_cast<u32>(used));
}

}  // namespace

void print_provider_list(std::ostream& out, const trace_processor& tp) {
  for (const guid& g : tp.providers_seen) provider_line(out, tp, g);
}

void print_statistics(std::ostream& out, const trace_processor& tp) {
  for (const guid& g : tp.providers_seen) {
    provider_line(out, tp, g);
    const auto counts = tp.event_counts.find(g);
    if (counts == tp.event_counts.end()) continue;
    out << right_aligned("event id", 8) << " | " << right_aligned("occurances", 10) << '\n';
    for (const auto& [id, n] : counts->second) {
      out << right_aligned(std::to_string(id), 8) << " | " << right_aligned(std::to_string(n), 10)
          << '\n';
    }
    out << '\n';
  }
}

byte_array build_reduced_buffer(std::span<const u8> buffer, u64 buffer_offset,
                                const trace_processor& tp, const guid& provider,
                                etl_file_kind_t kind) {
  if (buffer.size() < buffer_header_size) return {};
  u64 count = 0;
  byte_array out = collect_records(buffer, buffer_offset, buffer_header_size, tp, provider, count);
  if (count == 0) return {};
  const u64 used = out.size();
  const u64 length = round_up(std::max<u64>(buffer.size(), used), reduced_buffer_step);
  out.resize(length, 0xFF);
  patch_lengths(out, used, length, kind);
  return out;
}

byte_array build_reduced_first_buffer(std::span<const u8> first_buffer, u64 kept,
                                      const trace_processor& tp, const guid& provider) {
  if (first_buffer.size() < buffer_header_size) return {};
  kept = std::clamp<u64>(kept, buffer_header_size, first_buffer.size());
  u64 count = 0;
  byte_array out = collect_records(first_buffer, 0, kept, tp, provider, count);
  const u64 used = out.size();
  // the first buffer's length is the one the logfile header states
  const u64 length = std::max<u64>(first_buffer.size(), round_up(used, 8));
  out.resize(length, 0xFF);
  patch_lengths(out, used, length, etl_file_kind_t::logfile_header);
  return out;
}

void reduced_log::open(const std::string& path) {
  taken_ = 1;
  path_ = path;
  next_ = 0;
  buffers_ = 0;
  counts_buffers_ = 0;
  if (!file_.open(path, 1, 1, 1)) fail("opening");
}

void reduced_log::write_head(const byte_array& head, u64 buffers_start, etl_file_kind_t kind) {
  write_at(head, 0);
  next_ = buffers_start;
  counts_buffers_ = kind == etl_file_kind_t::logfile_header ? 1 : 0;
  buffers_ = counts_buffers_;
}

void reduced_log::write_buffer(const byte_array& bytes) {
  if (bytes.empty()) return;
  write_at(bytes, next_);
  next_ += bytes.size();
  ++buffers_;
}

void reduced_log::close() {
  if (!file_.is_open()) return;
  if (counts_buffers_ != 0) {
    byte_array count(4);
    zarn::store_le(count, 0, 4, buffers_);
    write_at(count, logfile_header::buffers_written);
  }
  if (file_.is_open() && !file_.close()) fail("writing");
}

void reduced_log::clear() {
  (void)file_.close();
  path_.clear();
  next_ = 0;
  buffers_ = 0;
  counts_buffers_ = 0;
  taken_ = 0;
  failed_ = 0;
}

void reduced_log::write_at(const byte_array& bytes, u64 offset) {
  if (!file_.is_open() || bytes.empty()) return;
  if (!file_.write_at(bytes.data(), bytes.size(), offset)) {
    fail("writing");
    (void)file_.close();
  }
}

void reduced_log::fail(const char* what) {
  failed_ = 1;
  print_message("prob %s reduced file: %s\n", what, path_.c_str());
}
