#include "etl/etl_reports.hpp"

#include <algorithm>
#include <cstdio>

#include "app/vesk_user_opts.hpp"
#include "common/byte_reader.hpp"
#include "platform/console.hpp"
#include "platform/fileio.hpp"

namespace {

void provider_line(std::ostream& out, const trace_processor& tp, const guid& g) {
  out << guid_to_string(g) << " : " << tp.templates.provider_name(g.bytes) << '\n';
}

std::string right_aligned(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

void put_u32(byte_array& bytes, u64 off, u32 v) {
  for (u64 i = 0; i < 4; ++i) bytes[off + i] = static_cast<u8>(v >> (8 * i));
}

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

bool open_reduced_file(uni::fileio& file, vesk_user_opts& opts) {
  if (!file.open(opts.out_path, 1, 1, 1)) {
    print_message("prob opening reduced file: %s for writing\n", opts.out_path.c_str());
    opts.reduced_failed = 1;
    return false;
  }
  opts.reduced_file = &file;
  opts.reduced_bytes = 0;
  return true;
}

bool write_reduced_bytes(vesk_user_opts& opts, const byte_array& bytes) {
  if (opts.reduced_file == nullptr) return false;
  if (bytes.empty()) return true;
  if (!opts.reduced_file->write_at(bytes.data(), bytes.size(), opts.reduced_bytes)) {
    print_message("prob writing reduced file: %s\n", opts.out_path.c_str());
    opts.reduced_failed = 1;
    opts.reduced_file->close();
    opts.reduced_file = nullptr;
    return false;
  }
  opts.reduced_bytes += bytes.size();
  return true;
}

void close_reduced_file(vesk_user_opts& opts) {
  if (opts.reduced_file == nullptr) return;
  if (!opts.reduced_file->close()) {
    print_message("prob writing reduced file: %s\n", opts.out_path.c_str());
    opts.reduced_failed = 1;
  }
  opts.reduced_file = nullptr;
}
