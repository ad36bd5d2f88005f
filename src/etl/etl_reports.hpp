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
#include "platform/fileio.hpp"

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

// The -pullguid output: a reduced .etl file, written at explicit offsets.
// A problem is reported once on standard error and remembered; after it
// nothing more is written.
class reduced_log {
 public:
  // Creates or empties the file. Whether it opens or not, the log counts as
  // taken: it holds (at most) the records of the run that opened it.
  void open(const std::string& path);
  bool is_open() const { return file_.is_open(); }
  // The log's head at offset 0; the first reduced buffer goes at
  // `buffers_start`. The head of a logfile-header log is its first buffer,
  // whose logfile header counts the log's buffers.
  void write_head(const byte_array& head, u64 buffers_start, etl_file_kind_t kind);
  // A reduced buffer behind the one before; empty bytes write nothing.
  void write_buffer(const byte_array& bytes);
  // Sets a logfile header's buffer count to the buffers the log holds: the
  // input's count would claim buffers that a reader then looks for in vain.
  // A failed close is reported like a failed write.
  void close();
  // Forgets the file (closed without a word) and every state.
  void clear();
  bool taken() const { return taken_ != 0; }
  bool failed() const { return failed_ != 0; }

 private:
  void write_at(const byte_array& bytes, u64 offset);
  // "opening" or "writing"
  void fail(const char* what);

  uni::fileio file_;
  std::string path_;
  u64 next_ = 0;  // where the next reduced buffer goes
  u32 buffers_ = 0;         // buffers written, the head's first buffer included
  u8 counts_buffers_ = 0;   // the head holds a logfile header's buffer count
  u8 taken_ = 0;
  u8 failed_ = 0;
};
