#pragma once
// The three modes that replace the event output: the provider list
// (-guids), the event counts per provider and event id (-stats), and the
// reduced .etl file that holds only one provider's records (-pullguid).
#include <ostream>
#include <span>
#include <string>

#include "common/guid.hpp"
#include "common/zarn_types.hpp"
#include "etl/etl_headers.hpp"
#include "etl/trace_processor.hpp"

class vesk_user_opts;
namespace uni {
class fileio;
}

// One line per provider seen, in GUID order: the GUID, " : ", the provider's
// name when known.
void print_provider_list(std::ostream& out, const trace_processor& tp);
// Per provider seen: its list line, then, when it was counted, the table of
// event ids (ascending) and counts and an empty line.
void print_statistics(std::ostream& out, const trace_processor& tp);

// Reduced buffers are this long, rounded up.
inline constexpr u64 reduced_buffer_step = 4096;

// The reduced copy of one walked buffer: its 72-byte header with patched
// lengths, then `provider`'s records of the buffer in file-offset order
// (each padded with zeros to its rounded size; a record cut by the end of
// the bytes held is never read past them), then 0xFF up to the buffer's
// size rounded up to 4096. Empty when the buffer holds none of the records.
byte_array build_reduced_buffer(std::span<const u8> buffer, u64 buffer_offset,
                                const trace_processor& tp, const guid& provider,
                                etl_file_kind_t kind);
// The reduced first buffer of a logfile-header file: its first `kept` bytes
// (the buffer header and the logfile-header record), then `provider`'s
// records of the buffer, then 0xFF to the buffer's own length, which stays.
byte_array build_reduced_first_buffer(std::span<const u8> first_buffer, u64 kept,
                                      const trace_processor& tp, const guid& provider);

// Opens the -out path as the reduced file and lets the options refer to it.
// On failure the problem is reported and the options' reduced_failed is set.
bool open_reduced_file(uni::fileio& file, vesk_user_opts& opts);
// Writes bytes at the reduced-bytes counter and moves it on. A failed write
// is reported once, marks reduced_failed and stops all further writes.
bool write_reduced_bytes(vesk_user_opts& opts, const byte_array& bytes);
// Closes the reduced file (a failed close is reported like a failed write);
// the options no longer refer to it.
void close_reduced_file(vesk_user_opts& opts);
